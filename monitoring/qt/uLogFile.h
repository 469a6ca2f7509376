// `TfLogFile` / `fLogFile`: "Logfile", the list of silence alarm lines. The
// list receives lines whether the window is shown or not; the buttons switch
// the main window's logging (through OnStopLog / OnStartLog), clear the list
// and save it. The list keeps every line for the whole run, so `logMemo` is a
// view over the lines themselves (about 200 bytes a line; a text document's
// blocks cost about 950). GUI thread only.
#pragma once

#include <QDialog>
#include <QStringList>

#include <functional>
#include <string>

class QFileDialog;
class QLabel;
class QListView;
class TLogLinesModel;
class QPushButton;

class TfLogFile : public QDialog {
    Q_OBJECT
public:
    explicit TfLogFile(QWidget* parent = nullptr);

    // A new last entry of `logMemo`.
    void Append(const std::string& line);
    const QStringList& Lines() const { return mLines; }

    // The folder the save dialog starts in when it exists (not created).
    void setExportFolder(const QString& folder) { mExportFolder = folder; }
    const QString& ExportFolder() const { return mExportFolder; }

    // "Save Logfile as": the dialog, then SaveTo on confirmation.
    void SaveAs();
    // Writes every entry followed by CR LF, UTF-8, replacing the file. On
    // failure reports an error naming the file and returns false.
    bool SaveTo(const QString& path);

    std::function<void()> OnStopLog;   // "Stop Logfile"
    std::function<void()> OnStartLog;  // "Start Logfile"
    // Replaces the standard error report (tests).
    std::function<void(const QString& text)> OnError;

    QLabel* Label1;
    QListView* logMemo;  // Ctrl+C copies the selected lines
    QPushButton* btn_stoplog;
    QPushButton* btn_startlog;
    QPushButton* btn_clear;
    QPushButton* btn_Save;
    QPushButton* btn_close;
    // The save dialog, made when first needed (a file dialog holds a file
    // system model and its threads).
    QFileDialog* SaveDialog1();

private:
    QFileDialog* mSaveDialog1 = nullptr;
    void Clear();

    QStringList mLines;
    TLogLinesModel* mModel;
    QString mExportFolder;
};
