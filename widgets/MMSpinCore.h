// Spin button logic: value clamping, auto-repeat timing against an
// injectable clock, the middle-button drag and the arrow keys. No Qt; GUI
// thread. Times are milliseconds of any monotonic clock.
#pragma once

#include <cstdint>

enum TMMSpinOrientation { orVertical = 0, orHorizontal = 1 };
enum TMMSpinPart { spNone = 0, spUp, spMiddle, spDown };
enum TMMArrowKey { akLeft = 0, akUp, akRight, akDown };

// v limited to min .. max (max wins when the limits cross).
int ClampSpinValue(long long v, int minValue, int maxValue);

// The button an arrow key clicks: up/down keys in the vertical orientation,
// right/left keys in the horizontal one; spNone for the others.
TMMSpinPart SpinKeyPart(TMMArrowKey key, TMMSpinOrientation orientation);

// The value while dragging the middle button: start value plus the distance
// moved (start - current, mouse y or x) as a percentage of the range, cut
// toward zero, then clamped.
int SpinDragValue(int startValue, int minValue, int maxValue, int startPos, int currentPos);

// Auto-repeat of a held button: the first repeat 400 ms after the press,
// then one every 50 ms; the click itself comes at the release over the
// button.
class TMMAutoRepeat {
public:
    static constexpr int64_t FirstDelay = 400;
    static constexpr int64_t Interval = 50;

    void Press(int64_t now);
    // Repeats that fell due up to `now` since the last call (0 when not held).
    int Poll(int64_t now);
    // Ends the hold; true when the release counts as a click (over the button).
    bool Release(bool overButton);
    // Ends the hold without a click (focus lost, widget hidden).
    void Cancel() { mHeld = false; }
    bool Held() const { return mHeld; }
    // Time of the next repeat (meaningful while held).
    int64_t NextDue() const { return mNextDue; }

private:
    bool mHeld = false;
    int64_t mNextDue = 0;
};
