#include "app/qt/StripPicture.h"

#include "app/qt/ScaleImagesPaint.h"

#include <QPainter>

TStripPicture::TStripPicture(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

bool TStripPicture::DrawStandard(int standard)
{
    QImage image(qMax(1, width()), qMax(1, height()), QImage::Format_RGB32);
    if (!DrawScaleImage(image, standard)) return false;
    mImage = std::move(image);
    ++mRedraws;
    update();
    return true;
}

void TStripPicture::DrawAlarm()
{
    if (mImage.isNull()) return;
    DrawAlarmImage(mImage);
    update();
}

void TStripPicture::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (!mImage.isNull()) p.drawImage(0, 0, mImage);
}
