#include "labels_skins/qt/uSkin.h"

#include "labels_skins/SkinChoice.h"
#include "labels_skins/qt/SkinData.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>

TfSkin::TfSkin(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName("fSkin");
    setWindowTitle("Bars preference");
    setFixedSize(229, 334);

    auto* status = new QStatusBar(this);
    status->setObjectName("StatusBar1");
    status->setSizeGripEnabled(false);
    status->setGeometry(15, 5, 200, 19);
    mPanel = new QLabel("Program Skins ", status);
    mPanel->setAlignment(Qt::AlignCenter);
    status->addWidget(mPanel, 1);

    mGroup = new QGroupBox(" Program Skins ", this);
    mGroup->setObjectName("rg_skin");
    mGroup->setGeometry(15, 32, 200, 257);
    auto* grid = new QGridLayout(mGroup);
    mButtons = new QButtonGroup(this);
    // Two columns, filled top to bottom like a radio group's columns.
    const int rows = (kSkinEntries + 1) / 2;
    for (int i = 0; i < kSkinEntries; ++i) {
        auto* b = new QRadioButton(QString("Skin%1").arg(i + 1), mGroup);
        b->setObjectName(QString("Skin%1").arg(i + 1));
        mButtons->addButton(b, i);
        grid->addWidget(b, i % rows, i / rows);
    }
    connect(mButtons, &QButtonGroup::idClicked, this, [this](int i) { ChooseEntry(i); });

    mOkay = new QPushButton("Okay", this);
    mOkay->setObjectName("Button1");
    mOkay->setGeometry(136, 296, 75, 25);
    connect(mOkay, &QPushButton::clicked, this, &QDialog::accept);
}

QString TfSkin::ProgramFolder() const
{
    return mFolder.isEmpty() ? QCoreApplication::applicationDirPath() + "/" : mFolder;
}

int TfSkin::ItemIndex() const { return mIndex; }

void TfSkin::ChooseEntry(int index)
{
    if (index < 0 || index >= kSkinEntries || index == mIndex) return;
    mIndex = index;
    if (QAbstractButton* b = mButtons->button(index)) b->setChecked(true);
    if (!mEngine) return;
    mEngine->setSkinFile(QString::fromStdString(SkinEntryPath(ProgramFolder().toStdString(), index)));
    if (WriteText) WriteText(kSkinSettingName, mEngine->SkinFile().toStdString());
    showSkinState();
}

void TfSkin::showSkinState()
{
    if (!mEngine || mEngine->Loaded()) {
        mPanel->setText("Program Skins ");
        mPanel->setToolTip(QString());
        return;
    }
    const QString text = QFileInfo(mEngine->SkinFile()).fileName() + ": " + mEngine->LastFault();
    mPanel->setText(mPanel->fontMetrics().elidedText(text, Qt::ElideRight, mPanel->parentWidget()->width() - 8));
    mPanel->setToolTip(mEngine->LastError());
}

void TfSkin::showEvent(QShowEvent* e)
{
    // The entry of the current skin is shown selected; files are compared
    // as the file system does (the default "iTunes.skn" may be a link to
    // entry 0's file).
    if (mEngine && mIndex < 0) {
        const QFileInfo current(mEngine->SkinFile());
        for (int i = 0; i < kSkinEntries; ++i) {
            const QFileInfo entry(QString::fromStdString(SkinEntryPath(ProgramFolder().toStdString(), i)));
            const bool same = current.exists() && entry.exists()
                                  ? current.canonicalFilePath() == entry.canonicalFilePath()
                                  : current.absoluteFilePath() == entry.absoluteFilePath();
            if (same) {
                mIndex = i;
                mButtons->button(i)->setChecked(true);
                break;
            }
        }
    }
    showSkinState();
    if (const QScreen* s = QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());
    QDialog::showEvent(e);
}
