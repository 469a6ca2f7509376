#include "monitoring/qt/uLogFile.h"

#include "monitoring/qt/MMErrorReport.h"

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>

TfLogFile::TfLogFile(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName("fLogFile");
    setWindowTitle("Logfile");
    setFont(QFont("Arial"));
    setFixedSize(438, 460);
    move(167, 162);

    Label1 = new QLabel("Logfile for the Tarvolin", this);
    Label1->setObjectName("Label1");
    QFont heading("Arial");
    heading.setBold(true);
    heading.setPixelSize(19);
    Label1->setFont(heading);
    Label1->move(40, 24);
    Label1->adjustSize();

    logMemo = new QPlainTextEdit(this);
    logMemo->setObjectName("logMemo");
    logMemo->setReadOnly(true);
    logMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    logMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    logMemo->setGeometry(32, 56, 385, 313);

    auto button = [this](const char* name, const char* text, int x, int y, int w) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        b->setGeometry(x, y, w, 25);
        return b;
    };
    btn_stoplog = button("btn_stoplog", "Stop Logfile", 40, 384, 129);
    btn_startlog = button("btn_startlog", "Start Logfile", 264, 384, 129);
    btn_clear = button("btn_clear", "Clear", 184, 400, 65);
    // Below "Clear", as wide as their captions need under every skin.
    btn_Save = button("btn_Save", "Save Logfile as", 32, 430, 180);
    btn_close = button("btn_close", "Close without saving", 237, 430, 180);

    connect(btn_stoplog, &QPushButton::clicked, this, [this] {
        if (OnStopLog) OnStopLog();
    });
    connect(btn_startlog, &QPushButton::clicked, this, [this] {
        if (OnStartLog) OnStartLog();
    });
    connect(btn_clear, &QPushButton::clicked, this, [this] { Clear(); });
    connect(btn_Save, &QPushButton::clicked, this, [this] { SaveAs(); });
    connect(btn_close, &QPushButton::clicked, this, [this] { hide(); });
}

void TfLogFile::Append(const std::string& line)
{
    const QString text = QString::fromStdString(line);
    mLines.append(text);
    logMemo->appendPlainText(text);
}

void TfLogFile::Clear()
{
    if (mLines.isEmpty()) return;
    mLines.clear();
    logMemo->clear();
}

QFileDialog* TfLogFile::SaveDialog1()
{
    if (!mSaveDialog1) {
        mSaveDialog1 = new QFileDialog(this);
        mSaveDialog1->setObjectName("SaveDialog1");
        mSaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
        mSaveDialog1->setFileMode(QFileDialog::AnyFile);
        mSaveDialog1->setOption(QFileDialog::DontConfirmOverwrite, false);
    }
    return mSaveDialog1;
}

void TfLogFile::SaveAs()
{
    QFileDialog* const dialog = SaveDialog1();
    dialog->setNameFilter("Tarvolin (*.txt)");
    dialog->setWindowTitle("Save Tarvolin logfile");
    dialog->setDefaultSuffix("txt");
    // The dialog starts in the export folder; the process's current folder
    // stays as it is (relative paths of the run keep their meaning).
    if (!mExportFolder.isEmpty() && QDir(mExportFolder).exists())
        dialog->setDirectory(mExportFolder);
    else
        dialog->setDirectory(QDir::currentPath());
    dialog->selectFile(QString());
    if (dialog->exec() != QDialog::Accepted) return;
    const QStringList chosen = dialog->selectedFiles();
    if (!chosen.isEmpty() && !chosen.first().isEmpty()) SaveTo(chosen.first());
}

bool TfLogFile::SaveTo(const QString& path)
{
    QByteArray data;
    for (const QString& l : mLines) {
        data += l.toUtf8();
        data += "\r\n";
    }
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly);
    ok = ok && file.write(data) == data.size();
    ok = ok && file.commit();
    if (!ok) {
        const QString text = "Cannot write the file " + QDir::toNativeSeparators(path) + ":\n" + file.errorString();
        if (OnError)
            OnError(text);
        else
            ShowErrorReport(this, text);
    }
    return ok;
}
