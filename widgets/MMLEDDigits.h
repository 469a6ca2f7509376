// Value logic of the seven-segment digits and of a panel of them: the
// cascade from the units digit upwards, the minus sign and the blanking of
// leading zeros. No Qt; GUI thread.
#pragma once

#include <functional>
#include <vector>

enum TMMLEDType { ltDigit = 0, ltPeriod = 1, ltColon = 2, ltMinus = 3 };

class TMMLEDDigitCore {
public:
    int Value() const { return mValue; }
    // With CascadeValues and a Connect digit, v div 10 goes to that digit
    // first; then v mod 10 is kept when it lies within MinValue .. MaxValue.
    void SetValue(int v);
    int MinValue() const { return mMinValue; }
    void SetMinValue(int v) { mMinValue = v; }
    int MaxValue() const { return mMaxValue; }
    void SetMaxValue(int v) { mMaxValue = v; }
    TMMLEDType DisplayType() const { return mDisplayType; }
    void SetDisplayType(TMMLEDType t);
    bool ZeroBlank() const { return mZeroBlank; }
    void SetZeroBlank(bool b);
    bool Enabled() const { return mEnabled; }
    void SetEnabled(bool b);
    bool CascadeValues() const { return mCascadeValues; }
    void SetCascadeValues(bool b) { mCascadeValues = b; }
    TMMLEDDigitCore* Connect() const { return mConnect; }
    // The next more significant digit; a digit is never connected to itself
    // nor to a chain that leads back to it.
    void SetConnect(TMMLEDDigitCore* d);

    // Index into the digit strip (ltDigit) or the special strip.
    int GlyphIndex() const;
    bool UsesSpecialStrip() const { return mDisplayType != ltDigit; }

    // Called when what the digit shows may have changed.
    std::function<void()> OnInvalidate;

private:
    void invalidate()
    {
        if (OnInvalidate) OnInvalidate();
    }
    int mValue = 0;
    int mMinValue = 0;
    int mMaxValue = 9;
    TMMLEDType mDisplayType = ltDigit;
    bool mZeroBlank = false;
    bool mEnabled = true;
    bool mCascadeValues = false;
    TMMLEDDigitCore* mConnect = nullptr;
};

// Which digits of a panel blank their zeros (index 0 = units digit).
std::vector<bool> LEDPanelZeroBlanks(long long value, int numDigits, bool zeroBlank);

// The values a panel of numDigits can show: up to 10^n - 1, down to
// -(10^(n-1) - 1) (the minus sign takes the most significant digit).
long long LEDPanelMaxShown(int numDigits);
long long LEDPanelMinShown(int numDigits);

// A panel over NumDigits digit cores (not owned; index 0 = units digit).
class TMMLEDPanelCore {
public:
    // Connects the digits into a cascade and shows the current value.
    void SetDigits(std::vector<TMMLEDDigitCore*> digits);
    int NumDigits() const { return int(mDigits.size()); }
    int Value() const { return mValue; }
    // Clamps to MinValue .. MaxValue and to what the digits can show; true
    // when the value changed (the owner fires OnChange).
    bool SetValue(int v);
    int MinValue() const { return mMinValue; }
    int MaxValue() const { return mMaxValue; }
    // The limits; the value is clamped into them again (true when changed).
    bool SetMinValue(int v);
    bool SetMaxValue(int v);
    bool ZeroBlank() const { return mZeroBlank; }
    void SetZeroBlank(bool b);
    int Clamp(long long v) const;
    // Shows the current value on the digits again.
    void Refresh();

private:
    std::vector<TMMLEDDigitCore*> mDigits;
    int mValue = 0;
    int mMinValue = 0;
    int mMaxValue = 100;
    bool mZeroBlank = false;
};
