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

    int Value() const { return FCore.Value(); }
    void setValue(int v) { FCore.SetValue(v); }
    int MinValue() const { return FCore.MinValue(); }
    void setMinValue(int v) { FCore.SetMinValue(v); }
    int MaxValue() const { return FCore.MaxValue(); }
    void setMaxValue(int v) { FCore.SetMaxValue(v); }
    TMMLEDType DisplayType() const { return FCore.DisplayType(); }
    void setDisplayType(TMMLEDType t) { FCore.SetDisplayType(t); }
    TMMLEDSize DigitSize() const { return FKey.Size; }
    void setDigitSize(TMMLEDSize size);
    TColor LEDColor() const { return FKey.Colors.Lit; }
    void setLEDColor(TColor c);
    TColor InactiveColor() const { return FKey.Colors.Unlit; }
    void setInactiveColor(TColor c);
    TColor Color() const { return FKey.Colors.Background; }
    void setColor(TColor c);
    bool DrawInactive() const { return FKey.Colors.DrawInactive; }
    void setDrawInactive(bool on);
    bool ZeroBlank() const { return FCore.ZeroBlank(); }
    void setZeroBlank(bool on) { FCore.SetZeroBlank(on); }
    bool CascadeValues() const { return FCore.CascadeValues(); }
    void setCascadeValues(bool on) { FCore.SetCascadeValues(on); }
    TMMLEDDigit* Connect() const { return FConnect; }
    // The next more significant digit; never the digit itself.
    void setConnect(TMMLEDDigit* digit);
    bool Enabled() const { return isEnabled(); }

    TMMLEDDigitCore& Core() { return FCore; }
    const TMMDigitStrip* Strip() const { return FStrip; }

protected:
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent* e) override;

private:
    void takeStrip();
    void coreChanged();

    TMMLEDDigitCore FCore;
    TMMDigitKey FKey;
    const TMMDigitStrip* FStrip = nullptr;
    QPointer<TMMLEDDigit> FConnect;
};

class TMMLEDPanel : public QWidget {
    Q_OBJECT
public:
    explicit TMMLEDPanel(QWidget* parent = nullptr);

    int NumDigits() const { return int(FDigits.size()); }
    void setNumDigits(int n);  // 1 .. 10
    int Value() const { return FCore.Value(); }
    // Clamped to MinValue .. MaxValue and to what the digits can show.
    void setValue(int v);
    int MinValue() const { return FCore.MinValue(); }
    void setMinValue(int v);
    int MaxValue() const { return FCore.MaxValue(); }
    void setMaxValue(int v);
    TMMLEDSize DigitSize() const { return FDigitSize; }
    void setDigitSize(TMMLEDSize size);
    int LEDSpace() const { return FLEDSpace; }
    void setLEDSpace(int space);  // ignored when negative
    TColor LEDColor() const { return FColors.Lit; }
    void setLEDColor(TColor c);
    TColor InactiveColor() const { return FColors.Unlit; }
    void setInactiveColor(TColor c);
    TColor Color() const { return FColors.Background; }
    void setColor(TColor c);
    bool DrawInactive() const { return FColors.DrawInactive; }
    void setDrawInactive(bool on);
    bool ZeroBlank() const { return FCore.ZeroBlank(); }
    void setZeroBlank(bool on) { FCore.SetZeroBlank(on); }
    TMMBevel Bevel() const { return FBevel; }
    void setBevel(const TMMBevel& bevel);
    bool Enabled() const { return isEnabled(); }
    bool Loading() const { return FLoading; }
    void setLoading(bool on) { FLoading = on; }

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

    TMMLEDPanelCore FCore;
    std::vector<TMMLEDDigit*> FDigits;  // children, units first
    TMMLEDSize FDigitSize = ls13x21;
    int FLEDSpace = 1;
    TMMLEDColors FColors{clLime, clBlack, clGreen, true};
    TMMBevel FBevel;
    bool FLoading = false;
};
