#include "widgets/qt/MMLEDLbl.h"

#include "base/qt/MMBevelPaint.h"

#include <QPainter>
#include <QResizeEvent>

#include <map>
#include <memory>
#include <tuple>

TMMLEDLABEL::TMMLEDLABEL(QWidget* parent) : QWidget(parent)
{
    mBevel.BorderSpace = 2;
    mTimer.setInterval(mScrollSpeed);
    connect(&mTimer, &QTimer::timeout, this, &TMMLEDLABEL::ScrollTick);
    loadFont();
}

void TMMLEDLABEL::setCaption(const QString& caption)
{
    if (caption == mCaption) return;
    mCaption = caption;
    mText = caption.toStdU32String();
    adjustBounds();
    update();
}

void TMMLEDLABEL::setNumChars(int n)
{
    if (n < 0 || n == mNumChars) return;
    mNumChars = n;
    if (!mAutoSize && mGeometry.w > 0) {
        const int B = mBevel.TotalWidth();
        const int w = 2 * B + (mGeometry.w + mLEDSpace - 1) * n - mLEDSpace + 1;
        if (mAlign != alTop && mAlign != alBottom) {
            mAdjusting = true;
            resize(std::max(2 * B, w), height());
            mAdjusting = false;
        }
    }
    adjustBounds();
    update();
}

void TMMLEDLABEL::setAutoSize(bool on)
{
    if (on == mAutoSize) return;
    mAutoSize = on;
    adjustBounds();
}

void TMMLEDLABEL::setAlignment(TMMAlignment a)
{
    if (a == mAlignment) return;
    mAlignment = a;
    update();
}

void TMMLEDLABEL::setFontSize(TMMLEDFontSize size)
{
    if (size == mFontSize || size < fs11x13 || size > fs11x13_bold) return;
    mFontSize = size;
    loadFont();
}

void TMMLEDLABEL::setLEDColor(TColor c)
{
    if (c == mColors.Lit) return;
    mColors.Lit = c;
    loadFont();
}

void TMMLEDLABEL::setInactiveColor(TColor c)
{
    if (c == mColors.Unlit) return;
    mColors.Unlit = c;
    loadFont();
}

void TMMLEDLABEL::setColor(TColor c)
{
    if (c == mColors.Background) return;
    mColors.Background = c;
    loadFont();
}

void TMMLEDLABEL::setDrawInactive(bool on)
{
    if (on == mColors.DrawInactive) return;
    mColors.DrawInactive = on;
    loadFont();
}

void TMMLEDLABEL::setLEDSpace(int space)
{
    if (space <= 0 || space == mLEDSpace) return;
    mLEDSpace = space;
    adjustBounds();
    update();
}

void TMMLEDLABEL::setScrollSpeed(int ms)
{
    if (ms <= 0 || ms == mScrollSpeed) return;
    mScrollSpeed = ms;
    mTimer.setInterval(ms);
}

void TMMLEDLABEL::setAutoScroll(bool on)
{
    mAutoScroll = on;
    if (on) {
        if (!mScroll.Start(captionLength())) return;
        mAlignment = taLeftJustify;
        if (OnBegin) OnBegin(this);
        mTimer.start(mScrollSpeed);
        update();
    } else {
        mTimer.stop();
        mScroll.Stop();
    }
}

void TMMLEDLABEL::setStartStep(int step) { mScroll.SetStartStep(step, captionLength()); }

void TMMLEDLABEL::setCurrentStep(int step)
{
    if (mScroll.SetCurrentStep(step, captionLength())) update();
}

void TMMLEDLABEL::setDoubleBuffer(bool on)
{
    if (on == mDoubleBuffer) return;
    mDoubleBuffer = on;
    updateBuffer();
    update();
}

void TMMLEDLABEL::setBevel(const TMMBevel& bevel)
{
    if (bevel == mBevel) return;
    mBevel = bevel;
    adjustBounds();
    update();
}

void TMMLEDLABEL::setAlign(TMMAlign align)
{
    if (align == mAlign) return;
    mAlign = align;
    adjustBounds();
}

void TMMLEDLABEL::setLoading(bool on)
{
    if (on == mLoading) return;
    mLoading = on;
    if (!on) {
        adjustBounds();
        updateBuffer();
        update();
    }
}

std::vector<int> TMMLEDLABEL::VisibleCodes() const
{
    const std::u32string shown = LEDTextWindow(mText, mNumChars, mAlignment, CurrentStep());
    std::vector<int> codes;
    codes.reserve(shown.size());
    for (char32_t c : shown) codes.push_back(LEDCharCode(c));
    return codes;
}

QSize TMMLEDLABEL::sizeHint() const
{
    TMMLEDLabelSizeIn in;
    in.Bevel = mBevel.TotalWidth();
    in.GlyphW = mGeometry.w;
    in.GlyphH = mGeometry.h;
    in.LEDSpace = mLEDSpace;
    in.AutoSize = true;
    in.CaptionLength = mAutoSize ? captionLength() : mNumChars;
    const TMMLEDLabelSizeOut out = LEDLabelSize(in);
    return QSize(out.Width, out.Height);
}

void TMMLEDLABEL::ScrollTick()
{
    const TMMLEDScroller::TTick tick = mScroll.Tick(captionLength(), mAutoScroll);
    update();
    if (tick == TMMLEDScroller::tkEnd) {
        if (!mScroll.Running()) mTimer.stop();
        if (OnEnd) OnEnd(this);
    } else if (OnStep) {
        OnStep(this);
    }
}

namespace {

// Labels of one font size and the same colours share one recoloured font
// (24 strip labels would otherwise hold 24 copies of it). GUI thread only.
std::shared_ptr<const TMMLEDFontImage> SharedLEDFont(const std::string& name, const TMMGlyphBitmap& font,
                                                     const TMMLEDColors& c)
{
    using TKey = std::tuple<std::string, TColor, TColor, TColor, bool>;
    static std::map<TKey, std::weak_ptr<const TMMLEDFontImage>> cache;
    std::weak_ptr<const TMMLEDFontImage>& slot = cache[TKey{name, c.Lit, c.Background, c.Unlit, c.DrawInactive}];
    if (auto shared = slot.lock()) return shared;
    for (auto it = cache.begin(); it != cache.end();)
        it = it->second.expired() && &it->second != &slot ? cache.erase(it) : std::next(it);
    auto made = std::make_shared<TMMLEDFontImage>();
    made->Pixels = RecolorGlyphs(font, c);
    made->Image = LEDPixelImage(made->Pixels, font.Width, font.Height);
    slot = made;
    return made;
}

}  // namespace

void TMMLEDLABEL::loadFont()
{
    const std::string name = LEDFontResourceName(mFontSize);
    const TMMLEDResource font = LoadLEDResource(name);
    if (font) {
        mGeometry = TMMLEDFontGeometry::FromBitmap(font->Width, font->Height);
        mFontData = SharedLEDFont(name, *font, mColors);
        mFont = mFontData->Image;
    } else {
        mGeometry = TMMLEDFontGeometry();
        mFont = QImage();
        mFontData.reset();
    }
    adjustBounds();
    update();
}

void TMMLEDLABEL::adjustBounds()
{
    if (mLoading || mAdjusting) return;
    TMMLEDLabelSizeIn in;
    in.Bevel = mBevel.TotalWidth();
    in.GlyphW = mGeometry.w;
    in.GlyphH = mGeometry.h;
    in.LEDSpace = mLEDSpace;
    in.AutoSize = mAutoSize;
    in.CaptionLength = captionLength();
    in.Width = width();
    in.Align = mAlign;
    const TMMLEDLabelSizeOut out = LEDLabelSize(in);
    mNumChars = out.NumChars;
    mAdjusting = true;
    resize(out.SetsWidth ? out.Width : width(), out.Height);
    mAdjusting = false;
    updateBuffer();
    update();
}

void TMMLEDLABEL::updateBuffer()
{
    const int B = mBevel.TotalWidth();
    const QSize inner(std::max(0, width() - 2 * B), std::max(0, height() - 2 * B));
    if (!mDoubleBuffer || mLoading || inner.isEmpty()) {
        mBuffer = QImage();
        return;
    }
    if (mBuffer.size() != inner) mBuffer = QImage(inner, QImage::Format_RGB32);
}

void TMMLEDLABEL::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    adjustBounds();
}

void TMMLEDLABEL::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (OnDblClick)
        OnDblClick(this);
    else
        QWidget::mouseDoubleClickEvent(e);
}

void TMMLEDLABEL::drawCells(QPainter& p, int x0, int y0)
{
    if (mFont.isNull() || mGeometry.w <= 0 || mGeometry.h <= 0) return;
    const int pitch = mGeometry.w + mLEDSpace - 1;
    const std::vector<int> codes = VisibleCodes();
    for (size_t i = 0; i < codes.size(); ++i) {
        const QRect src(mGeometry.GlyphX(codes[i]), mGeometry.GlyphY(codes[i]), mGeometry.w,
                        mGeometry.h);
        p.drawImage(QPoint(x0 + int(i) * pitch, y0), mFont, src);
    }
}

void TMMLEDLABEL::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), ToQColor(mColors.Background));
    const QRect inner = PaintBevel(p, rect(), mBevel);
    const int B = mBevel.TotalWidth();
    if (mDoubleBuffer && !mBuffer.isNull()) {
        mBuffer.fill(ToQColor(mColors.Background));
        {
            QPainter bp(&mBuffer);
            drawCells(bp, 0, 0);
        }
        const QRect target(B, B, mBuffer.width(), mBuffer.height());
        if (OnDrawBitmap)
            OnDrawBitmap(this, p, mBuffer, target);
        else
            p.drawImage(target.topLeft(), mBuffer);
        return;
    }
    p.setClipRect(inner);
    drawCells(p, B, B);
}
