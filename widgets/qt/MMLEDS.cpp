#include "widgets/qt/MMLEDS.h"

#include "base/qt/MMBevelPaint.h"

#include <QEvent>
#include <QPainter>

// ---- TMMLEDDigit ----

TMMLEDDigit::TMMLEDDigit(QWidget* parent) : QWidget(parent)
{
    FKey.Size = ls13x21;
    FKey.Colors = TMMLEDColors{clLime, clBlack, clGreen, true};
    resize(11, 21);
    FCore.OnInvalidate = [this] { coreChanged(); };
    takeStrip();
}

TMMLEDDigit::~TMMLEDDigit()
{
    FCore.OnInvalidate = nullptr;
    TMMDigitCache::Instance().Release(FStrip);
}

void TMMLEDDigit::setDigitSize(TMMLEDSize size)
{
    if (size == FKey.Size || int(size) < 0 || int(size) >= LEDSizeCount) return;
    FKey.Size = size;
    takeStrip();
}

void TMMLEDDigit::setLEDColor(TColor c)
{
    if (c == FKey.Colors.Lit) return;
    FKey.Colors.Lit = c;
    takeStrip();
}

void TMMLEDDigit::setInactiveColor(TColor c)
{
    if (c == FKey.Colors.Unlit) return;
    FKey.Colors.Unlit = c;
    takeStrip();
}

void TMMLEDDigit::setColor(TColor c)
{
    if (c == FKey.Colors.Background) return;
    FKey.Colors.Background = c;
    takeStrip();
}

void TMMLEDDigit::setDrawInactive(bool on)
{
    if (on == FKey.Colors.DrawInactive) return;
    FKey.Colors.DrawInactive = on;
    takeStrip();
}

void TMMLEDDigit::setConnect(TMMLEDDigit* digit)
{
    if (digit == this || digit == FConnect) return;
    if (FConnect) QObject::disconnect(FConnect, nullptr, this, nullptr);
    FCore.SetConnect(digit ? &digit->Core() : nullptr);
    if (FCore.Connect() == nullptr) digit = nullptr;  // refused: it would loop
    FConnect = digit;
    if (digit)
        connect(digit, &QObject::destroyed, this, [this] {
            FCore.SetConnect(nullptr);
            FConnect = nullptr;
        });
}

void TMMLEDDigit::takeStrip()
{
    FKey.Special = FCore.UsesSpecialStrip();
    TMMDigitCache& cache = TMMDigitCache::Instance();
    const TMMDigitStrip* next = cache.Acquire(FKey);
    cache.Release(FStrip);
    FStrip = next;
    if (FStrip) resize(FStrip->GlyphWidth, FStrip->Height);
    update();
}

void TMMLEDDigit::coreChanged()
{
    if (FCore.UsesSpecialStrip() != FKey.Special)
        takeStrip();
    else
        update();
}

void TMMLEDDigit::changeEvent(QEvent* e)
{
    QWidget::changeEvent(e);
    if (e->type() == QEvent::EnabledChange) FCore.SetEnabled(isEnabled());
}

void TMMLEDDigit::paintEvent(QPaintEvent*)
{
    if (!FStrip) return;
    const int index = FCore.GlyphIndex();
    if (index < 0 || index >= FStrip->GlyphCount) return;
    QPainter p(this);
    const QImage strip = LEDPixelImage(FStrip->Pixels, FStrip->Width, FStrip->Height);
    p.drawImage(QPoint(0, 0), strip,
                QRect(index * FStrip->GlyphWidth, 0, FStrip->GlyphWidth, FStrip->Height));
}

// ---- TMMLEDPanel ----

TMMLEDPanel::TMMLEDPanel(QWidget* parent) : QWidget(parent) { rebuildDigits(2); }

TMMLEDDigit* TMMLEDPanel::Digit(int k) const
{
    return (k >= 0 && k < NumDigits()) ? FDigits[size_t(k)] : nullptr;
}

void TMMLEDPanel::setNumDigits(int n)
{
    if (n < 1 || n > 10 || n == NumDigits()) return;
    rebuildDigits(n);
}

void TMMLEDPanel::setValue(int v) { changed(FCore.SetValue(v)); }
void TMMLEDPanel::setMinValue(int v) { changed(FCore.SetMinValue(v)); }
void TMMLEDPanel::setMaxValue(int v) { changed(FCore.SetMaxValue(v)); }

void TMMLEDPanel::changed(bool valueChanged)
{
    if (valueChanged && !FLoading && OnChange) OnChange(this);
}

void TMMLEDPanel::setDigitSize(TMMLEDSize size)
{
    if (size == FDigitSize || int(size) < 0 || int(size) >= LEDSizeCount) return;
    FDigitSize = size;
    for (TMMLEDDigit* d : FDigits) d->setDigitSize(size);
    layoutDigits();
}

void TMMLEDPanel::setLEDSpace(int space)
{
    if (space < 0 || space == FLEDSpace) return;
    FLEDSpace = space;
    layoutDigits();
}

void TMMLEDPanel::setLEDColor(TColor c)
{
    FColors.Lit = c;
    for (TMMLEDDigit* d : FDigits) d->setLEDColor(c);
}

void TMMLEDPanel::setInactiveColor(TColor c)
{
    FColors.Unlit = c;
    for (TMMLEDDigit* d : FDigits) d->setInactiveColor(c);
}

void TMMLEDPanel::setColor(TColor c)
{
    FColors.Background = c;
    for (TMMLEDDigit* d : FDigits) d->setColor(c);
    update();
}

void TMMLEDPanel::setDrawInactive(bool on)
{
    FColors.DrawInactive = on;
    for (TMMLEDDigit* d : FDigits) d->setDrawInactive(on);
}

void TMMLEDPanel::setBevel(const TMMBevel& bevel)
{
    if (bevel == FBevel) return;
    FBevel = bevel;
    layoutDigits();
}

void TMMLEDPanel::applyLook(TMMLEDDigit* d)
{
    d->setDigitSize(FDigitSize);
    d->setLEDColor(FColors.Lit);
    d->setInactiveColor(FColors.Unlit);
    d->setColor(FColors.Background);
    d->setDrawInactive(FColors.DrawInactive);
}

void TMMLEDPanel::rebuildDigits(int n)
{
    for (TMMLEDDigit* d : FDigits) delete d;
    FDigits.clear();
    std::vector<TMMLEDDigitCore*> cores;
    for (int k = 0; k < n; ++k) {
        auto* d = new TMMLEDDigit(this);
        applyLook(d);
        d->show();
        FDigits.push_back(d);
        cores.push_back(&d->Core());
    }
    for (int k = 0; k + 1 < n; ++k) FDigits[size_t(k)]->setConnect(FDigits[size_t(k) + 1]);
    const int before = FCore.Value();
    FCore.SetDigits(cores);
    layoutDigits();
    changed(FCore.Value() != before);
}

void TMMLEDPanel::layoutDigits()
{
    const TMMGlyphSize g = LEDDigitGlyphSize(FDigitSize);
    const int B = FBevel.TotalWidth(), n = NumDigits();
    for (int k = 0; k < n; ++k) FDigits[size_t(k)]->move(B + (n - 1 - k) * (g.Width + FLEDSpace), B);
    resize(std::max(2 * B, 2 * B + (g.Width + FLEDSpace) * n - FLEDSpace), 2 * B + g.Height);
    update();
}

void TMMLEDPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), ToQColor(FColors.Background));
    PaintBevel(p, rect(), FBevel);
}
