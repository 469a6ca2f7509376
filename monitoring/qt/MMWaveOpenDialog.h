// The wave-file open dialog with preview: a (non-native) file dialog with an
// extra panel holding a play/stop button, "Preview" and auto-play check
// boxes, a waveform picture with a moving locator, and an information line.
// The selected file plays through the dialog's own reader, ADPCM stage and
// wave-out (32768 bytes x 10 buffers).
#pragma once

#include "audio/MMWaveOut.h"
#include "monitoring/MMAudioPlayer.h"

#include <QColor>
#include <QFileDialog>
#include <QImage>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;

// The waveform picture and its locator.
class TMMWaveView : public QWidget {
    Q_OBJECT
public:
    explicit TMMWaveView(QWidget* parent = nullptr);
    // Peaks of 16-bit or 8-bit PCM (at most two channels); empty clears.
    void SetWave(const std::vector<uint8_t>& pcm, const WaveFormat& fmt);
    void ClearWave();
    bool HasWave() const { return !mMin.empty(); }
    // 0 ... 1 of the length; negative hides the locator.
    void SetLocator(double fraction);
    double Locator() const { return mLocator; }
    QColor mBack = Qt::black, mFore = QColor(0x00, 0xFF, 0x00), mLocatorColor = QColor(0xFF, 0x00, 0x00);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    std::vector<float> mMin, mMax;  // per column, -1 ... 1
    double mLocator = -1;
};

class TMMWaveOpenDialog : public QFileDialog {
    Q_OBJECT
public:
    // device: the output back end for the preview (null: WaveOutDevice()).
    explicit TMMWaveOpenDialog(QWidget* parent = nullptr, TMMWaveOutDevice* device = nullptr);
    ~TMMWaveOpenDialog() override;

    // Published properties.
    QString Title() const { return windowTitle(); }
    void setTitle(const QString& t) { setWindowTitle(t); }
    // "Description|pattern|Description|pattern ..."
    QString Filter() const { return mFilter; }
    void setFilter(const QString& f);
    // 1-based; out of range selects the first filter.
    int FilterIndex() const { return mFilterIndex; }
    void setFilterIndex(int i);
    bool Preview() const;
    void setPreview(bool b);
    bool AutoPlay() const;
    void setAutoPlay(bool b);
    TMMDeviceId DeviceID() const { return mDeviceID; }
    void setDeviceID(TMMDeviceId id) { mDeviceID = id; }
    QColor Color() const { return mView->mBack; }
    void setColor(const QColor& c);
    QColor ForeColor() const { return mView->mFore; }
    void setForeColor(const QColor& c);
    QColor LocatorColor() const { return mView->mLocatorColor; }
    void setLocatorColor(const QColor& c) { mView->mLocatorColor = c; }
    // The confirmed file after Execute.
    QString FileName() const { return mFileName; }

    // Runs the dialog; true when a file was confirmed.
    bool Execute();

    // Shows a message; replaceable for tests (default: a message box).
    std::function<void(const QString&)> ShowMessage;

    // The panel, for the owner's layout checks and tests.
    QPushButton* PlayButton() const { return mPlay; }
    QCheckBox* PreviewBox() const { return mPreview; }
    QCheckBox* AutoPlayBox() const { return mAutoPlay; }
    QLabel* InfoLabel() const { return mInfo; }
    TMMWaveView* WaveView() const { return mView; }
    TMMWaveOut& PreviewOutput() { return *mOut; }

    // The selection changed to `path` (also called by the dialog itself).
    void SelectionChanged(const QString& path);
    void PlayOrStop();

public slots:
    void accept() override;
    void done(int r) override;

private:
    void Unload();
    void ShowDetails();
    void UpdateLocator();
    bool DeviceAccepts() const;

    TMMWaveOutDevice& mDevice;
    QString mFilter;
    int mFilterIndex = 1;
    TMMDeviceId mDeviceID = MapperId;
    QString mFileName;
    QString mLoaded;
    TMMWaveInfo mInfoData;
    std::unique_ptr<TMMAudioFile> mFile;
    std::unique_ptr<TMMWaveOut> mOut;

    QPushButton* mPlay = nullptr;
    QCheckBox* mPreview = nullptr;
    QCheckBox* mAutoPlay = nullptr;
    QLabel* mInfo = nullptr;
    TMMWaveView* mView = nullptr;
    QTimer* mLocatorTimer = nullptr;
    QTimer* mDetailsTimer = nullptr;
};

// Name and details of a wave format for the information line.
QString WaveFormatName(const WaveFormat& f);
QString WaveFormatDetails(const WaveFormat& f);
