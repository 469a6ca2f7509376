// `TfSkin` / `fSkin`: the skin choice dialog "Bars preference". Clicking an
// entry sets the engine's skin file to the program folder followed by the
// entry's file and stores the engine's current path as "skin" (also when
// the file could not be loaded). "Okay" only closes the dialog. A skin file
// that cannot be used is named in the status strip.
#pragma once

#include <QDialog>

#include <functional>
#include <string>

class QButtonGroup;
class QGroupBox;
class QLabel;
class QPushButton;
class TSkinData;

class TfSkin : public QDialog {
    Q_OBJECT
public:
    explicit TfSkin(QWidget* parent = nullptr);

    void setSkinData(TSkinData* engine) { mEngine = engine; }
    // The folder of the executable with a trailing separator (replaceable
    // for tests).
    QString ProgramFolder() const;
    void setProgramFolder(const QString& folder) { mFolder = folder; }

    // Stores a text value (name, value); set by the main window.
    std::function<void(const std::string&, const std::string&)> WriteText;

    // Index of the checked entry, -1 for none.
    int ItemIndex() const;
    // What a click on entry `index` does.
    void ChooseEntry(int index);

    QGroupBox* rg_skin() const { return mGroup; }
    // The status strip's panel: "Program Skins ", or the fault of the skin
    // file set last (file name, line, what), its full path in the tooltip.
    QLabel* StatusPanel() const { return mPanel; }
    QPushButton* Okay() const { return mOkay; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    void showSkinState();

    QLabel* mPanel = nullptr;
    QButtonGroup* mButtons = nullptr;
    QGroupBox* mGroup = nullptr;
    QPushButton* mOkay = nullptr;
    TSkinData* mEngine = nullptr;
    QString mFolder;
    int mIndex = -1;
};
