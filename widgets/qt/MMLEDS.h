// Seven-segment LED digits and a panel of them. Glyphs come from the shared
// digit cache; a digit's strip is taken again whenever its colours, size,
// type or DrawInactive change. GUI thread only.
#pragma once

#include "base/MMTypes.h"
#include "widgets/MMDigitCache.h"
#include "widgets/MMLEDDigits.h"
#include "widgets/qt/MMLEDCommon.h"

#include <QPointer>
#include <QWidget>

#include <vector>

class TMMLEDDigit : public QWidget {
    Q_OBJECT
public:
    explicit TMMLEDDigit(QWidget* parent = nullptr);
    ~TMMLEDDigit() override;

    int Value() const { return mCore.Value(); }
    void setValue(int v) { mCore.SetValue(v); }
    int MinValue() const { return mCore.MinValue(); }
    void setMinValue(int v) { mCore.SetMinValue(v); }
    int MaxValue() const { return mCore.MaxValue(); }
    void setMaxValue(int v) { mCore.SetMaxValue(v); }
    TMMLEDType DisplayType() const { return mCore.DisplayType(); }
    void setDisplayType(TMMLEDType t) { mCore.SetDisplayType(t); }
    TMMLEDSize DigitSize() const { return mKey.Size; }
    void setDigitSize(TMMLEDSize size);
    TColor LEDColor() const { return mKey.Colors.Lit; }
    void setLEDColor(TColor c);
    TColor InactiveColor() const { return mKey.Colors.Unlit; }
    void setInactiveColor(TColor c);
    TColor Color() const { return mKey.Colors.Background; }
    void setColor(TColor c);
    bool DrawInactive() const { return mKey.Colors.DrawInactive; }
    void setDrawInactive(bool on);
    bool ZeroBlank() const { return mCore.ZeroBlank(); }
    void setZeroBlank(bool on) { mCore.SetZeroBlank(on); }
    bool CascadeValues() const { return mCore.CascadeValues(); }
    void setCascadeValues(bool on) { mCore.SetCascadeValues(on); }
    TMMLEDDigit* Connect() const { return mConnect; }
    // The next more significant digit; never the digit itself.
    void setConnect(TMMLEDDigit* digit);
    bool Enabled() const { return isEnabled(); }

    TMMLEDDigitCore& Core() { return mCore; }
    const TMMDigitStrip* Strip() const { return mStrip; }

protected:
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent* e) override;

private:
    void takeStrip();
    void coreChanged();

    TMMLEDDigitCore mCore;
    TMMDigitKey mKey;
    const TMMDigitStrip* mStrip = nullptr;
    QPointer<TMMLEDDigit> mConnect;
};

class TMMLEDPanel : public QWidget {
    Q_OBJECT
public:
    explicit TMMLEDPanel(QWidget* parent = nullptr);

    int NumDigits() const { return int(mDigits.size()); }
    void setNumDigits(int n);  // 1 .. 10
    int Value() const { return mCore.Value(); }
    // Clamped to MinValue .. MaxValue and to what the digits can show.
    void setValue(int v);
    int MinValue() const { return mCore.MinValue(); }
    void setMinValue(int v);
    int MaxValue() const { return mCore.MaxValue(); }
    void setMaxValue(int v);
    TMMLEDSize DigitSize() const { return mDigitSize; }
    void setDigitSize(TMMLEDSize size);
    int LEDSpace() const { return mLEDSpace; }
    void setLEDSpace(int space);  // ignored when negative
    TColor LEDColor() const { return mColors.Lit; }
    void setLEDColor(TColor c);
    TColor InactiveColor() const { return mColors.Unlit; }
    void setInactiveColor(TColor c);
    TColor Color() const { return mColors.Background; }
    void setColor(TColor c);
    bool DrawInactive() const { return mColors.DrawInactive; }
    void setDrawInactive(bool on);
    bool ZeroBlank() const { return mCore.ZeroBlank(); }
    void setZeroBlank(bool on) { mCore.SetZeroBlank(on); }
    TMMBevel Bevel() const { return mBevel; }
    void setBevel(const TMMBevel& bevel);
    bool Enabled() const { return isEnabled(); }
    bool Loading() const { return mLoading; }
    void setLoading(bool on) { mLoading = on; }

    TMMLEDNotifyEvent OnChange;

    // Digit k (0 = units, NumDigits - 1 = leftmost).
    TMMLEDDigit* Digit(int k) const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void rebuildDigits(int n);
    void applyLook(TMMLEDDigit* d);
    void layoutDigits();
    void changed(bool valueChanged);

    TMMLEDPanelCore mCore;
    std::vector<TMMLEDDigit*> mDigits;  // children, units first
    TMMLEDSize mDigitSize = ls13x21;
    int mLEDSpace = 1;
    TMMLEDColors mColors{clLime, clBlack, clGreen, true};
    TMMBevel mBevel;
    bool mLoading = false;
};
