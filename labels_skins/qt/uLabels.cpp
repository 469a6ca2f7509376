#include "labels_skins/qt/uLabels.h"

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TfLabels::TfLabels(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName("fLabels");
    setWindowTitle("Label for the Levels");
    setFixedSize(452, 299);

    auto* heading = new QLabel("You have 3 letters to label your channels", this);
    heading->setObjectName("Label9");
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    heading->move(80, 10);
    heading->adjustSize();

    const int rows[3] = {40, 111, 192};
    const int cols[8] = {14, 67, 121, 175, 228, 282, 336, 390};
    for (int n = 1; n <= LabelCount; ++n) {
        const int r = (n - 1) / 8, c = (n - 1) % 8;
        auto* e = new QLineEdit(QString::number(n), this);
        e->setObjectName(QString("Edit%1").arg(n));
        e->setGeometry(cols[c], rows[r], 41, 21);
        e->setMaxLength(LabelLetters);  // what a strip shows
        mEdits[n - 1] = e;
        auto* caption = new QLabel(QString(n == 9 ? "CH %1" : "Ch %1").arg(n), this);
        caption->adjustSize();
        caption->move(cols[c], rows[r] + 25);
    }

    auto* ok = new QPushButton("Okay", this);
    ok->setObjectName("Button1");
    ok->setGeometry(360, 256, 75, 25);
    connect(ok, &QPushButton::clicked, this, [this] { okay(); });
}

TLabelTexts TfLabels::texts() const
{
    TLabelTexts t;
    for (int n = 1; n <= LabelCount; ++n) t[n - 1] = mEdits[n - 1]->text().toStdString();
    return t;
}

void TfLabels::applyAndStore()
{
    const TLabelTexts t = texts();
    if (SetStripLabel)
        for (int n = 1; n <= LabelCount; ++n) SetStripLabel(n, t[n - 1]);
    if (WriteText) WriteLabelTexts(WriteText, t);
}

void TfLabels::showEvent(QShowEvent* e)
{
    if (ReadText) {
        const TLabelTexts t = ReadLabelTexts(ReadText, texts());
        for (int n = 1; n <= LabelCount; ++n) mEdits[n - 1]->setText(QString::fromStdString(t[n - 1]));
    }
    applyAndStore();
    QDialog::showEvent(e);
}

void TfLabels::okay()
{
    applyAndStore();
    accept();
}
