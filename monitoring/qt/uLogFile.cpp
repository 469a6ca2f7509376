#include "monitoring/qt/uLogFile.h"

#include "monitoring/qt/MMErrorReport.h"

#include <QAbstractListModel>
#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>

#include <algorithm>

// The window's lines as a list model; rows are only ever added at the end or
// all removed.
class TLogLinesModel : public QAbstractListModel {
public:
    TLogLinesModel(const QStringList& lines, QObject* parent) : QAbstractListModel(parent), mLines(lines) {}
    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(mLines.size());
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= mLines.size()) return {};
        return mLines.at(index.row());
    }
    void Appending() { beginInsertRows(QModelIndex(), static_cast<int>(mLines.size()), static_cast<int>(mLines.size())); }
    void Appended() { endInsertRows(); }
    void Clearing() { beginResetModel(); }
    void Cleared() { endResetModel(); }

private:
    const QStringList& mLines;
};

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

    mModel = new TLogLinesModel(mLines, this);
    logMemo = new QListView(this);
    logMemo->setObjectName("logMemo");
    logMemo->setModel(mModel);
    logMemo->setEditTriggers(QAbstractItemView::NoEditTriggers);
    logMemo->setSelectionMode(QAbstractItemView::ExtendedSelection);
    logMemo->setUniformItemSizes(true);
    logMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    logMemo->setGeometry(32, 56, 385, 313);
    auto* copy = new QAction(logMemo);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    logMemo->addAction(copy);
    connect(copy, &QAction::triggered, this, [this] {
        QModelIndexList rows = logMemo->selectionModel()->selectedRows();
        std::sort(rows.begin(), rows.end());
        QStringList text;
        for (const QModelIndex& i : rows) text << mLines.at(i.row());
        if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text.join('\n'));
    });

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
    // Follows the new line when the view showed the last one.
    const QScrollBar* bar = logMemo->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    mModel->Appending();
    mLines.append(QString::fromStdString(line));
    mModel->Appended();
    if (atEnd) logMemo->scrollToBottom();
}

void TfLogFile::Clear()
{
    if (mLines.isEmpty()) return;
    mModel->Clearing();
    mLines.clear();
    mModel->Cleared();
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
