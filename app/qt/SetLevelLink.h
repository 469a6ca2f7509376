// The level settings' view of the main window: the strips' bar cores,
// pictures, scales and labels and the caption strip `Panel1`. The window's own
// switches that it does not publish (stay on top, TimerOff) come in as
// callbacks. GUI thread only.
#pragma once

#include "app/qt/MainStrip.h"
#include "metering/uSet_Level_core.h"

#include <array>
#include <functional>

class QLabel;
class QWidget;

class TMainMeterLink : public TMMMeterWindow {
public:
    using TStrips = std::array<TStrip, tv::kStrips>;
    TMainMeterLink(const TStrips& strips, QLabel* caption) : mStrips(strips), mCaption(caption) {}

    std::function<void(bool)> OnStayOnTop;     // stay-on-top style of the window
    std::function<void(bool)> OnSilenceCheck;  // arm (true) or disarm TimerOff

    TMMCustomLevel* Level(int n) override;
    void SetLevelTop(int n, int top) override;
    void SetScaleTop(int n, int top) override;
    void SetStripHeight(int n, int height) override;
    void SetPictureVisible(int n, bool visible) override;
    void SetScaleVisible(int n, bool visible) override;
    void SetScaleSensitivy(int n, int db) override;
    void DrawPicture(int n, TMMScalePicture picture) override;
    int LabelTop() const override;
    TColor LabelColor(int n) const override;
    void SetLabelColor(int n, TColor c) override;
    void SetCaption(const std::string& text) override;
    void SetStayOnTop(bool on) override;
    void SetSilenceCheck(bool on) override;

private:
    const TStrip* Strip(int n) const;

    const TStrips& mStrips;
    QLabel* mCaption;
};

// Stay-on-top for a top-level window: changes the flag and shows the window
// again if it was visible (Qt hides a window whose flags change).
void SetWindowStayOnTop(QWidget* window, bool on);
