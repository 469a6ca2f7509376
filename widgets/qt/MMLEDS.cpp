#include "widgets/qt/MMLEDS.h"

#include "base/qt/MMBevelPaint.h"

#include <QEvent>
#include <QPainter>

// ---- TMMLEDDigit ----

TMMLEDDigit::TMMLEDDigit(QWidget* parent) : QWidget(parent)
{
    mKey.Size = ls13x21;
    mKey.Colors = TMMLEDColors{clLime, clBlack, clGreen, true};
    resize(11, 21);
    mCore.OnInvalidate = [this] { coreChanged(); };
    takeStrip();
}

TMMLEDDigit::~TMMLEDDigit()
{
    mCore.OnInvalidate = nullptr;
    TMMDigitCache::Instance().Release(mStrip);
}

void TMMLEDDigit::setDigitSize(TMMLEDSize size)
{
    if (size == mKey.Size || int(size) < 0 || int(size) >= LEDSizeCount) return;
    mKey.Size = size;
    takeStrip();
}

void TMMLEDDigit::setLEDColor(TColor c)
{
    if (c == mKey.Colors.Lit) return;
    mKey.Colors.Lit = c;
    takeStrip();
}

void TMMLEDDigit::setInactiveColor(TColor c)
{
    if (c == mKey.Colors.Unlit) return;
    mKey.Colors.Unlit = c;
    takeStrip();
}

void TMMLEDDigit::setColor(TColor c)
{
    if (c == mKey.Colors.Background) return;
    mKey.Colors.Background = c;
    takeStrip();
}

void TMMLEDDigit::setDrawInactive(bool on)
{
    if (on == mKey.Colors.DrawInactive) return;
    mKey.Colors.DrawInactive = on;
    takeStrip();
}

void TMMLEDDigit::setConnect(TMMLEDDigit* digit)
{
    if (digit == this || digit == mConnect) return;
    if (mConnect) QObject::disconnect(mConnect, nullptr, this, nullptr);
    mCore.SetConnect(digit ? &digit->Core() : nullptr);
    if (mCore.Connect() == nullptr) digit = nullptr;  // refused: it would loop
    mConnect = digit;
    if (digit)
        connect(digit, &QObject::destroyed, this, [this] {
            mCore.SetConnect(nullptr);
            mConnect = nullptr;
        });
}

void TMMLEDDigit::takeStrip()
{
    mKey.Special = mCore.UsesSpecialStrip();
    TMMDigitCache& cache = TMMDigitCache::Instance();
    const TMMDigitStrip* next = cache.Acquire(mKey);
    cache.Release(mStrip);
    mStrip = next;
    if (mStrip) resize(mStrip->GlyphWidth, mStrip->Height);
    update();
}

void TMMLEDDigit::coreChanged()
{
    if (mCore.UsesSpecialStrip() != mKey.Special)
        takeStrip();
    else
        update();
}

void TMMLEDDigit::changeEvent(QEvent* e)
{
    QWidget::changeEvent(e);
    if (e->type() == QEvent::EnabledChange) mCore.SetEnabled(isEnabled());
}

void TMMLEDDigit::paintEvent(QPaintEvent*)
{
    if (!mStrip) return;
    const int index = mCore.GlyphIndex();
    if (index < 0 || index >= mStrip->GlyphCount) return;
    QPainter p(this);
    const QImage strip = LEDPixelImage(mStrip->Pixels, mStrip->Width, mStrip->Height);
    p.drawImage(QPoint(0, 0), strip,
                QRect(index * mStrip->GlyphWidth, 0, mStrip->GlyphWidth, mStrip->Height));
}

// ---- TMMLEDPanel ----

TMMLEDPanel::TMMLEDPanel(QWidget* parent) : QWidget(parent) { rebuildDigits(2); }

TMMLEDDigit* TMMLEDPanel::Digit(int k) const
{
    return (k >= 0 && k < NumDigits()) ? mDigits[size_t(k)] : nullptr;
}

void TMMLEDPanel::setNumDigits(int n)
{
    if (n < 1 || n > 10 || n == NumDigits()) return;
    rebuildDigits(n);
}

void TMMLEDPanel::setValue(int v) { changed(mCore.SetValue(v)); }
void TMMLEDPanel::setMinValue(int v) { changed(mCore.SetMinValue(v)); }
void TMMLEDPanel::setMaxValue(int v) { changed(mCore.SetMaxValue(v)); }

void TMMLEDPanel::changed(bool valueChanged)
{
    if (valueChanged && !mLoading && OnChange) OnChange(this);
}

void TMMLEDPanel::setDigitSize(TMMLEDSize size)
{
    if (size == mDigitSize || int(size) < 0 || int(size) >= LEDSizeCount) return;
    mDigitSize = size;
    for (TMMLEDDigit* d : mDigits) d->setDigitSize(size);
    layoutDigits();
}

void TMMLEDPanel::setLEDSpace(int space)
{
    if (space < 0 || space == mLEDSpace) return;
    mLEDSpace = space;
    layoutDigits();
}

void TMMLEDPanel::setLEDColor(TColor c)
{
    mColors.Lit = c;
    for (TMMLEDDigit* d : mDigits) d->setLEDColor(c);
}

void TMMLEDPanel::setInactiveColor(TColor c)
{
    mColors.Unlit = c;
    for (TMMLEDDigit* d : mDigits) d->setInactiveColor(c);
}

void TMMLEDPanel::setColor(TColor c)
{
    mColors.Background = c;
    for (TMMLEDDigit* d : mDigits) d->setColor(c);
    update();
}

void TMMLEDPanel::setDrawInactive(bool on)
{
    mColors.DrawInactive = on;
    for (TMMLEDDigit* d : mDigits) d->setDrawInactive(on);
}

void TMMLEDPanel::setBevel(const TMMBevel& bevel)
{
    if (bevel == mBevel) return;
    mBevel = bevel;
    layoutDigits();
}

void TMMLEDPanel::applyLook(TMMLEDDigit* d)
{
    d->setDigitSize(mDigitSize);
    d->setLEDColor(mColors.Lit);
    d->setInactiveColor(mColors.Unlit);
    d->setColor(mColors.Background);
    d->setDrawInactive(mColors.DrawInactive);
}

void TMMLEDPanel::rebuildDigits(int n)
{
    for (TMMLEDDigit* d : mDigits) delete d;
    mDigits.clear();
    std::vector<TMMLEDDigitCore*> cores;
    for (int k = 0; k < n; ++k) {
        auto* d = new TMMLEDDigit(this);
        applyLook(d);
        d->show();
        mDigits.push_back(d);
        cores.push_back(&d->Core());
    }
    for (int k = 0; k + 1 < n; ++k) mDigits[size_t(k)]->setConnect(mDigits[size_t(k) + 1]);
    const int before = mCore.Value();
    mCore.SetDigits(cores);
    layoutDigits();
    changed(mCore.Value() != before);
}

void TMMLEDPanel::layoutDigits()
{
    const TMMGlyphSize g = LEDDigitGlyphSize(mDigitSize);
    const int B = mBevel.TotalWidth(), n = NumDigits();
    for (int k = 0; k < n; ++k) mDigits[size_t(k)]->move(B + (n - 1 - k) * (g.Width + mLEDSpace), B);
    resize(std::max(2 * B, 2 * B + (g.Width + mLEDSpace) * n - mLEDSpace), 2 * B + g.Height);
    update();
}

void TMMLEDPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), ToQColor(mColors.Background));
    PaintBevel(p, rect(), mBevel);
}
