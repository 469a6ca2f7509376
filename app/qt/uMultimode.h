// `Tfmulti` / `fmulti`: the modal input setup dialog. Chooses the input mode,
// the wave-in device of every recorder, the sample rate and the alarm's
// wave-out device. GUI thread only.
#pragma once

#include "base/TvConstants.h"
#include "app/InputModes.h"
#include "app/StoreAccess.h"

#include <QDialog>

#include <array>
#include <string>
#include <vector>

class QButtonGroup;
class QComboBox;
class QLineEdit;
class QGroupBox;
class QPushButton;

// What the dialog does to the rest of the program.
class TMultiHost {
public:
    virtual ~TMultiHost() = default;
    // Main window: its widths for the mode; the active channel count.
    virtual void SetMainWidths(const TModeWindowWidth& w) = 0;
    virtual void SetActiveChannelCount(int channels) = 0;
    // Recorder k (1 ... 12); may throw while the recorder is open.
    virtual void SetRecorderSampleRate(int k, int rate) = 0;
    virtual void SetRecorderDevice(int k, int deviceId) = 0;
    // Recorder k keeps its remembered device `name`, which is not connected.
    virtual void SetRecorderNotConnected(int k, const std::string& name) = 0;
    // Device lists, counts read once when the devices were first asked.
    virtual int InputDeviceCount() = 0;
    virtual std::string InputDeviceName(int id) = 0;  // id -1 is the mapper; "" when unknown
    virtual int OutputDeviceCount() = 0;
    virtual std::string OutputDeviceName(int id) = 0;
};

class Tfmulti : public QDialog {
    Q_OBJECT
public:
    Tfmulti(TMultiHost& host, TSettingsAccess& store, QWidget* parent = nullptr);

    // Choices made from code run the click handler only when they change
    // the choice (`force` runs it in any case).
    void setMode(int index, bool force = false);
    int mode() const { return mMode; }
    void setSampleRateIndex(int index, bool force = false);
    int sampleRateIndex() const { return mRate; }

    // Fills the lists from the device counts and the stored choices.
    void fillLists();
    QComboBox* inputList(int k) const { return mInputs[k - 1]; }
    QComboBox* outputList() const { return mOut; }
    QPushButton* okButton() const { return mOk; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    void modeClicked(int index);
    void sampleRateClicked(int index);
    void okClicked();

    TMultiHost& mHost;
    TSettingsAccess& mStore;
    QButtonGroup* mModeGroup = nullptr;
    QButtonGroup* mRateGroup = nullptr;
    std::array<QComboBox*, tv::kPairs> mInputs{};
    std::array<std::string, tv::kPairs> mMissing;  // shown as "NAME (not connected)", last item
    std::string mMissingOut;                         // the same for the alarm output
    std::vector<std::string> mInputNames, mOutputNames;
    QComboBox* mOut = nullptr;
    QLineEdit* mNetInterface = nullptr;
    QLineEdit* mSdpFiles = nullptr;
    QPushButton* mOk = nullptr;
    int mMode = 2;
    int mRate = 0;
};
