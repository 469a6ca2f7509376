#include "app/qt/StripPicture.h"

#include "app/qt/ScaleImagesPaint.h"

#include <QPainter>

TStripPicture::TStripPicture(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

bool TStripPicture::DrawStandard(int standard)
{
    const QSize size(qMax(1, width()), qMax(1, height()));
    if (standard == mStandard && !mNormal.isNull() && mNormal.size() == size) {
        if (mImage.cacheKey() != mNormal.cacheKey()) {
            mImage = mNormal;
            update();
        }
        return true;
    }
    QImage image(size, QImage::Format_RGB32);
    if (!DrawScaleImage(image, standard)) return false;
    mNormal = std::move(image);
    mAlarm = QImage();
    mImage = mNormal;
    mStandard = standard;
    ++mRedraws;
    update();
    return true;
}

void TStripPicture::DrawAlarm()
{
    if (mImage.isNull()) return;
    if (mImage.cacheKey() == mAlarm.cacheKey()) return;
    if (mImage.cacheKey() == mNormal.cacheKey()) {
        if (mAlarm.isNull()) {
            mAlarm = mNormal.copy();
            DrawAlarmImage(mAlarm);
        }
        mImage = mAlarm;
    } else {
        DrawAlarmImage(mImage);
    }
    update();
}

void TStripPicture::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (!mImage.isNull()) p.drawImage(0, 0, mImage);
}
