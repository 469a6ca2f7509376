#include "app/qt/uInfo.h"

#include <portaudio.h>

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtGlobal>

TFrmInfo::TFrmInfo(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName("FrmInfo");
    setWindowTitle("Info");
    mText = QString("<h3>Tarvolin %1</h3>"
                    "<p>Audio level meter for studio and broadcast monitoring.<br>"
                    "Build: %2 %3, %4</p>"
                    "<p>Built with Qt %5 (running %6), licensed under the GNU Lesser General "
                    "Public License version 3 (LGPL-3.0); see https://www.qt.io/licensing.</p>"
                    "<p>%7, licensed under the PortAudio licence (MIT style); "
                    "see http://www.portaudio.com/license.html.</p>")
                .arg(TARVOLIN_VERSION, __DATE__, __TIME__,
#ifdef NDEBUG
                     "release",
#else
                     "debug",
#endif
                     QT_VERSION_STR, qVersion(), Pa_GetVersionText());
    auto* v = new QVBoxLayout(this);
    auto* label = new QLabel(mText, this);
    label->setObjectName("lab_info");
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    v->addWidget(label);
    auto* ok = new QPushButton("OK", this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    v->addWidget(ok, 0, Qt::AlignRight);
    resize(420, 240);
}

QString TFrmInfo::Text() const { return mText; }
