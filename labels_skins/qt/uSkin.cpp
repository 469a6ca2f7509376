#include "labels_skins/qt/uSkin.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

TfSkin::TfSkin(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName("fSkin");
    setWindowTitle("Bars preference");
    setFixedSize(229, 334);

    auto* status = new QLabel("Program Skins ", this);
    status->setAlignment(Qt::AlignCenter);
    status->setGeometry(15, 5, 200, 19);

    auto* rg = new QGroupBox(" Program Skins ", this);
    rg->setObjectName("rg_skin");
    rg->setGeometry(15, 32, 200, 257);
    auto* grid = new QGridLayout(rg);
    for (int i = 0; i < 14; ++i)
        grid->addWidget(new QRadioButton(QString("Skin%1").arg(i + 1), rg), i / 2, i % 2);

    auto* ok = new QPushButton("Okay", this);
    ok->setGeometry(136, 296, 75, 25);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
