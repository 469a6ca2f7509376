#include "widgets/MMLEDDigits.h"

#include <climits>
#include <cstdlib>

void TMMLEDDigitCore::SetValue(int v)
{
    if (FCascadeValues && FConnect) FConnect->SetValue(v / 10);
    v %= 10;
    if (v < FMinValue || v > FMaxValue) return;
    FValue = v;
    invalidate();
}

void TMMLEDDigitCore::SetDisplayType(TMMLEDType t)
{
    if (t < ltDigit || t > ltMinus || t == FDisplayType) return;
    FDisplayType = t;
    invalidate();
}

void TMMLEDDigitCore::SetZeroBlank(bool b)
{
    if (b == FZeroBlank) return;
    FZeroBlank = b;
    invalidate();
}

void TMMLEDDigitCore::SetEnabled(bool b)
{
    if (b == FEnabled) return;
    FEnabled = b;
    invalidate();
}

void TMMLEDDigitCore::SetConnect(TMMLEDDigitCore* d)
{
    for (TMMLEDDigitCore* p = d; p; p = p->FConnect)
        if (p == this) return;  // would make the cascade a loop
    FConnect = d;
}

int TMMLEDDigitCore::GlyphIndex() const
{
    if (!FEnabled) return 0;
    if (FDisplayType != ltDigit) return int(FDisplayType);
    if (FZeroBlank && FValue == 0) return 0;
    return FValue + 1;
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
    FDigits = std::move(digits);
    for (size_t k = 0; k < FDigits.size(); ++k) {
        FDigits[k]->SetCascadeValues(true);
        FDigits[k]->SetConnect(k + 1 < FDigits.size() ? FDigits[k + 1] : nullptr);
    }
    FValue = Clamp(FValue);
    Refresh();
}

int TMMLEDPanelCore::Clamp(long long v) const
{
    if (v > FMaxValue) v = FMaxValue;
    if (v < FMinValue) v = FMinValue;
    // A value the digits cannot show would lose its leading digits.
    if (!FDigits.empty()) {
        const long long hi = LEDPanelMaxShown(NumDigits()), lo = LEDPanelMinShown(NumDigits());
        if (v > hi) v = hi;
        if (v < lo) v = lo;
    }
    return int(v);
}

bool TMMLEDPanelCore::SetValue(int v)
{
    const int c = Clamp(v);
    if (c == FValue) return false;
    FValue = c;
    Refresh();
    return true;
}

bool TMMLEDPanelCore::SetMinValue(int v)
{
    FMinValue = v;
    return SetValue(FValue);
}

bool TMMLEDPanelCore::SetMaxValue(int v)
{
    FMaxValue = v;
    return SetValue(FValue);
}

void TMMLEDPanelCore::SetZeroBlank(bool b)
{
    FZeroBlank = b;
    Refresh();
}

void TMMLEDPanelCore::Refresh()
{
    if (FDigits.empty()) return;
    const std::vector<bool> blanks = LEDPanelZeroBlanks(FValue, NumDigits(), FZeroBlank);
    for (size_t k = 0; k < FDigits.size(); ++k) FDigits[k]->SetZeroBlank(blanks[k]);
    FDigits.back()->SetDisplayType(FValue < 0 ? ltMinus : ltDigit);
    FDigits.front()->SetValue(std::abs(FValue));
}
