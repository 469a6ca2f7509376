#include "widgets/MMSpinCore.h"

#include <climits>

int ClampSpinValue(long long v, int minValue, int maxValue)
{
    if (v < minValue) v = minValue;
    if (v > maxValue) v = maxValue;
    return int(v);
}

TMMSpinPart SpinKeyPart(TMMArrowKey key, TMMSpinOrientation orientation)
{
    if (orientation == orHorizontal) {
        if (key == akRight) return spUp;
        if (key == akLeft) return spDown;
    } else {
        if (key == akUp) return spUp;
        if (key == akDown) return spDown;
    }
    return spNone;
}

int SpinDragValue(int startValue, int minValue, int maxValue, int startPos, int currentPos)
{
    const double range = double(maxValue) - double(minValue);
    const double moved = double(startPos) - double(currentPos);
    double delta = range * moved / 100.0;
    // Trunc toward zero; keep it within what a 64-bit sum can hold.
    if (delta > 1e15) delta = 1e15;
    if (delta < -1e15) delta = -1e15;
    return ClampSpinValue((long long)startValue + (long long)delta, minValue, maxValue);
}

void TMMAutoRepeat::Press(int64_t now)
{
    mHeld = true;
    mNextDue = now + FirstDelay;
}

int TMMAutoRepeat::Poll(int64_t now)
{
    if (!mHeld || now < mNextDue) return 0;
    const int64_t due = 1 + (now - mNextDue) / Interval;
    mNextDue += due * Interval;
    return due > INT_MAX ? INT_MAX : int(due);
}

bool TMMAutoRepeat::Release(bool overButton)
{
    const bool wasHeld = mHeld;
    mHeld = false;
    return wasHeld && overButton;
}
