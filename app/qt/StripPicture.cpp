#include "app/qt/StripPicture.h"

#include "app/ScaleImages.h"
#include "app/qt/ScaleImagesPaint.h"

#include <QPainter>

#include <vector>

namespace {

// Strips of one standard and size show the same picture: the pictures in use
// are kept here and shared (QImage is implicitly shared), so 24 strips hold
// one image, not 24. A picture no strip holds any more is dropped at the next
// look-up.
struct TSharedPicture {
    int standard;
    bool alarm;
    QImage image;
};

std::vector<TSharedPicture>& SharedPictures()
{
    static std::vector<TSharedPicture> pictures;
    return pictures;
}

QImage FindPicture(int standard, bool alarm, QSize size)
{
    auto& all = SharedPictures();
    QImage found;
    for (auto it = all.begin(); it != all.end();) {
        if (it->image.isDetached()) {
            it = all.erase(it);
            continue;
        }
        if (it->standard == standard && it->alarm == alarm && it->image.size() == size) found = it->image;
        ++it;
    }
    return found;
}

void SharePicture(int standard, bool alarm, const QImage& image)
{
    SharedPictures().push_back({standard, alarm, image});
}

}  // namespace

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
    QImage image = FindPicture(standard, false, size);
    if (image.isNull()) {
        image = QImage(size, QImage::Format_RGB32);
        image.fill(Qt::black);
        if (!DrawScaleImage(image, standard)) return false;
        SharePicture(standard, false, image);
    }
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
        if (mAlarm.isNull()) mAlarm = FindPicture(mStandard, true, mNormal.size());
        if (mAlarm.isNull()) {
            mAlarm = mNormal.copy();
            DrawAlarmImage(mAlarm);
            SharePicture(mStandard, true, mAlarm);
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

void TStripScale::DrawStandard(int sensitivy)
{
    setSensitivy(sensitivy);
    if (!mAlarm) return;
    mAlarm = false;
    update();
}

void TStripScale::DrawAlarm()
{
    if (mAlarm) return;
    mAlarm = true;
    update();
}

void TStripScale::paintEvent(QPaintEvent* e)
{
    TMMLevelScale::paintEvent(e);
    if (!mAlarm) return;
    TScaleCanvas canvas(width(), height());
    DrawAlarmFill(canvas);
    QPainter p(this);
    PaintScaleOps(p, canvas.Ops(), font());
}
