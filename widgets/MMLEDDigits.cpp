#include "widgets/MMLEDDigits.h"

#include <climits>
#include <cstdlib>

void TMMLEDDigitCore::SetValue(int v)
{
    if (mCascadeValues && mConnect) mConnect->SetValue(v / 10);
    v %= 10;
    if (v < mMinValue || v > mMaxValue) return;
    mValue = v;
    invalidate();
}

void TMMLEDDigitCore::SetDisplayType(TMMLEDType t)
{
    if (t < ltDigit || t > ltMinus || t == mDisplayType) return;
    mDisplayType = t;
    invalidate();
}

void TMMLEDDigitCore::SetZeroBlank(bool b)
{
    if (b == mZeroBlank) return;
    mZeroBlank = b;
    invalidate();
}

void TMMLEDDigitCore::SetEnabled(bool b)
{
    if (b == mEnabled) return;
    mEnabled = b;
    invalidate();
}

void TMMLEDDigitCore::SetConnect(TMMLEDDigitCore* d)
{
    for (TMMLEDDigitCore* p = d; p; p = p->mConnect)
        if (p == this) return;  // would make the cascade a loop
    mConnect = d;
}

int TMMLEDDigitCore::GlyphIndex() const
{
    if (!mEnabled) return 0;
    if (mDisplayType != ltDigit) return int(mDisplayType);
    if (mZeroBlank && mValue == 0) return 0;
    return mValue + 1;
}

std::vector<bool> LEDPanelZeroBlanks(long long value, int numDigits, bool zeroBlank)
{
    std::vector<bool> blanks(size_t(numDigits > 0 ? numDigits : 0), false);
    if (!zeroBlank) return blanks;
    const long long magnitude = value < 0 ? -value : value;
    long long place = 1;
    bool blanking = false;
    for (int k = 1; k < numDigits; ++k) {
        place = place > LLONG_MAX / 10 ? LLONG_MAX : place * 10;
        if (!(place < magnitude && k < numDigits - 1)) blanking = true;
        blanks[size_t(k)] = blanking;
    }
    return blanks;
}

long long LEDPanelMaxShown(int numDigits)
{
    long long p = 1;
    for (int i = 0; i < numDigits && p <= LLONG_MAX / 10; ++i) p *= 10;
    return p - 1;
}

long long LEDPanelMinShown(int numDigits) { return numDigits <= 1 ? 0 : -LEDPanelMaxShown(numDigits - 1); }

void TMMLEDPanelCore::SetDigits(std::vector<TMMLEDDigitCore*> digits)
{
    mDigits = std::move(digits);
    for (size_t k = 0; k < mDigits.size(); ++k) {
        mDigits[k]->SetCascadeValues(true);
        mDigits[k]->SetConnect(k + 1 < mDigits.size() ? mDigits[k + 1] : nullptr);
    }
    mValue = Clamp(mValue);
    Refresh();
}

int TMMLEDPanelCore::Clamp(long long v) const
{
    if (v > mMaxValue) v = mMaxValue;
    if (v < mMinValue) v = mMinValue;
    // A value the digits cannot show would lose its leading digits.
    if (!mDigits.empty()) {
        const long long hi = LEDPanelMaxShown(NumDigits()), lo = LEDPanelMinShown(NumDigits());
        if (v > hi) v = hi;
        if (v < lo) v = lo;
    }
    return int(v);
}

bool TMMLEDPanelCore::SetValue(int v)
{
    const int c = Clamp(v);
    if (c == mValue) return false;
    mValue = c;
    Refresh();
    return true;
}

bool TMMLEDPanelCore::SetMinValue(int v)
{
    mMinValue = v;
    return SetValue(mValue);
}

bool TMMLEDPanelCore::SetMaxValue(int v)
{
    mMaxValue = v;
    return SetValue(mValue);
}

void TMMLEDPanelCore::SetZeroBlank(bool b)
{
    mZeroBlank = b;
    Refresh();
}

void TMMLEDPanelCore::Refresh()
{
    if (mDigits.empty()) return;
    const std::vector<bool> blanks = LEDPanelZeroBlanks(mValue, NumDigits(), mZeroBlank);
    for (size_t k = 0; k < mDigits.size(); ++k) mDigits[k]->SetZeroBlank(blanks[k]);
    mDigits.back()->SetDisplayType(mValue < 0 ? ltMinus : ltDigit);
    mDigits.front()->SetValue(std::abs(mValue));
}
