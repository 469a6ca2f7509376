// A strip's scale picture (`ima_nordic`n), and below its scale widget
// (`MMLevelScale`n). The picture holds a drawn image and shows it.
// The image is redrawn only when the standard is applied or an alarm fills
// it; resizing shows the old drawing until then. The drawn picture and its
// alarm fill are kept, so re-applying the same standard at the same size (the
// blink end, about once a second during an alarm) only swaps them back.
// Strips of the same standard and size share one drawn picture (and one
// alarm picture). GUI thread only.
#pragma once

#include "metering/qt/MMLevelScale.h"

#include <QImage>
#include <QWidget>

class TStripPicture : public QWidget {
    Q_OBJECT
public:
    explicit TStripPicture(QWidget* parent = nullptr);

    // Draws standard 0 ... 6 over a new image of the widget's size; false
    // (image unchanged) for the standards that use the scale widget.
    bool DrawStandard(int standard);
    void DrawAlarm();
    const QImage& Picture() const { return mImage; }
    bool ShowsAlarm() const { return !mImage.isNull() && mImage.cacheKey() == mAlarm.cacheKey(); }
    int Redraws() const { return mRedraws; }  // new pictures taken (drawn or shared)

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QImage mImage;   // shown
    QImage mNormal;  // the standard's picture
    QImage mAlarm;   // mNormal with the alarm fill, made on the first alarm
    int mStandard = -1;
    int mRedraws = 0;
};

// The scale widget of a strip. The standards that show it instead of a
// picture get the same alarm fill over it (all but the top 5 rows red), kept
// until the standard is applied to it again.
class TStripScale : public TMMLevelScale {
    Q_OBJECT
public:
    explicit TStripScale(QWidget* parent = nullptr) : TMMLevelScale(parent) {}

    // The standard's sensitivity; takes the alarm fill away.
    void DrawStandard(int sensitivy);
    void DrawAlarm();
    bool ShowsAlarm() const { return mAlarm; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    bool mAlarm = false;
};
