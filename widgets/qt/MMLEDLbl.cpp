#include "widgets/qt/MMLEDLbl.h"

#include "base/qt/MMBevelPaint.h"

#include <QPainter>
#include <QResizeEvent>

TMMLEDLABEL::TMMLEDLABEL(QWidget* parent) : QWidget(parent)
{
    FBevel.BorderSpace = 2;
    FTimer.setInterval(FScrollSpeed);
    connect(&FTimer, &QTimer::timeout, this, &TMMLEDLABEL::ScrollTick);
    loadFont();
}

void TMMLEDLABEL::setCaption(const QString& caption)
{
    if (caption == FCaption) return;
    FCaption = caption;
    FText = caption.toStdU32String();
    adjustBounds();
    update();
}

void TMMLEDLABEL::setNumChars(int n)
{
    if (n < 0 || n == FNumChars) return;
    FNumChars = n;
    if (!FAutoSize && FGeometry.w > 0) {
        const int B = FBevel.TotalWidth();
        const int w = 2 * B + (FGeometry.w + FLEDSpace - 1) * n - FLEDSpace + 1;
        if (FAlign != alTop && FAlign != alBottom) {
            FAdjusting = true;
            resize(std::max(2 * B, w), height());
            FAdjusting = false;
        }
    }
    adjustBounds();
    update();
}

void TMMLEDLABEL::setAutoSize(bool on)
{
    if (on == FAutoSize) return;
    FAutoSize = on;
    adjustBounds();
}

void TMMLEDLABEL::setAlignment(TMMAlignment a)
{
    if (a == FAlignment) return;
    FAlignment = a;
    update();
}

void TMMLEDLABEL::setFontSize(TMMLEDFontSize size)
{
    if (size == FFontSize || size < fs11x13 || size > fs11x13_bold) return;
    FFontSize = size;
    loadFont();
}

void TMMLEDLABEL::setLEDColor(TColor c)
{
    if (c == FColors.Lit) return;
    FColors.Lit = c;
    loadFont();
}

void TMMLEDLABEL::setInactiveColor(TColor c)
{
    if (c == FColors.Unlit) return;
    FColors.Unlit = c;
    loadFont();
}

void TMMLEDLABEL::setColor(TColor c)
{
    if (c == FColors.Background) return;
    FColors.Background = c;
    loadFont();
}

void TMMLEDLABEL::setDrawInactive(bool on)
{
    if (on == FColors.DrawInactive) return;
    FColors.DrawInactive = on;
    loadFont();
}

void TMMLEDLABEL::setLEDSpace(int space)
{
    if (space <= 0 || space == FLEDSpace) return;
    FLEDSpace = space;
    adjustBounds();
    update();
}

void TMMLEDLABEL::setScrollSpeed(int ms)
{
    if (ms <= 0 || ms == FScrollSpeed) return;
    FScrollSpeed = ms;
    FTimer.setInterval(ms);
}

void TMMLEDLABEL::setAutoScroll(bool on)
{
    FAutoScroll = on;
    if (on) {
        if (!FScroll.Start(captionLength())) return;
        FAlignment = taLeftJustify;
        if (OnBegin) OnBegin(this);
        FTimer.start(FScrollSpeed);
        update();
    } else {
        FTimer.stop();
        FScroll.Stop();
    }
}

void TMMLEDLABEL::setStartStep(int step) { FScroll.SetStartStep(step, captionLength()); }

void TMMLEDLABEL::setCurrentStep(int step)
{
    if (FScroll.SetCurrentStep(step, captionLength())) update();
}

void TMMLEDLABEL::setDoubleBuffer(bool on)
{
    if (on == FDoubleBuffer) return;
    FDoubleBuffer = on;
    updateBuffer();
    update();
}

void TMMLEDLABEL::setBevel(const TMMBevel& bevel)
{
    if (bevel == FBevel) return;
    FBevel = bevel;
    adjustBounds();
    update();
}

void TMMLEDLABEL::setAlign(TMMAlign align)
{
    if (align == FAlign) return;
    FAlign = align;
    adjustBounds();
}

void TMMLEDLABEL::setLoading(bool on)
{
    if (on == FLoading) return;
    FLoading = on;
    if (!on) {
        adjustBounds();
        updateBuffer();
        update();
    }
}

std::vector<int> TMMLEDLABEL::VisibleCodes() const
{
    const std::u32string shown = LEDTextWindow(FText, FNumChars, FAlignment, CurrentStep());
    std::vector<int> codes;
    codes.reserve(shown.size());
    for (char32_t c : shown) codes.push_back(LEDCharCode(c));
    return codes;
}

QSize TMMLEDLABEL::sizeHint() const
{
    TMMLEDLabelSizeIn in;
    in.Bevel = FBevel.TotalWidth();
    in.GlyphW = FGeometry.w;
    in.GlyphH = FGeometry.h;
    in.LEDSpace = FLEDSpace;
    in.AutoSize = true;
    in.CaptionLength = FAutoSize ? captionLength() : FNumChars;
    const TMMLEDLabelSizeOut out = LEDLabelSize(in);
    return QSize(out.Width, out.Height);
}

void TMMLEDLABEL::ScrollTick()
{
    const TMMLEDScroller::TTick tick = FScroll.Tick(captionLength(), FAutoScroll);
    update();
    if (tick == TMMLEDScroller::tkEnd) {
        if (!FScroll.Running()) FTimer.stop();
        if (OnEnd) OnEnd(this);
    } else if (OnStep) {
        OnStep(this);
    }
}

void TMMLEDLABEL::loadFont()
{
    const TMMLEDResource font = LoadLEDResource(LEDFontResourceName(FFontSize));
    if (font) {
        FGeometry = TMMLEDFontGeometry::FromBitmap(font->Width, font->Height);
        FFontPixels = RecolorGlyphs(*font, FColors);
        FFont = LEDPixelImage(FFontPixels, font->Width, font->Height);
    } else {
        FGeometry = TMMLEDFontGeometry();
        FFontPixels.clear();
        FFont = QImage();
    }
    adjustBounds();
    update();
}

void TMMLEDLABEL::adjustBounds()
{
    if (FLoading || FAdjusting) return;
    TMMLEDLabelSizeIn in;
    in.Bevel = FBevel.TotalWidth();
    in.GlyphW = FGeometry.w;
    in.GlyphH = FGeometry.h;
    in.LEDSpace = FLEDSpace;
    in.AutoSize = FAutoSize;
    in.CaptionLength = captionLength();
    in.Width = width();
    in.Align = FAlign;
    const TMMLEDLabelSizeOut out = LEDLabelSize(in);
    FNumChars = out.NumChars;
    FAdjusting = true;
    resize(out.SetsWidth ? out.Width : width(), out.Height);
    FAdjusting = false;
    updateBuffer();
    update();
}

void TMMLEDLABEL::updateBuffer()
{
    const int B = FBevel.TotalWidth();
    const QSize inner(std::max(0, width() - 2 * B), std::max(0, height() - 2 * B));
    if (!FDoubleBuffer || FLoading || inner.isEmpty()) {
        FBuffer = QImage();
        return;
    }
    if (FBuffer.size() != inner) FBuffer = QImage(inner, QImage::Format_RGB32);
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
    if (FFont.isNull() || FGeometry.w <= 0 || FGeometry.h <= 0) return;
    const int pitch = FGeometry.w + FLEDSpace - 1;
    const std::vector<int> codes = VisibleCodes();
    for (size_t i = 0; i < codes.size(); ++i) {
        const QRect src(FGeometry.GlyphX(codes[i]), FGeometry.GlyphY(codes[i]), FGeometry.w,
                        FGeometry.h);
        p.drawImage(QPoint(x0 + int(i) * pitch, y0), FFont, src);
    }
}

void TMMLEDLABEL::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), ToQColor(FColors.Background));
    const QRect inner = PaintBevel(p, rect(), FBevel);
    const int B = FBevel.TotalWidth();
    if (FDoubleBuffer && !FBuffer.isNull()) {
        FBuffer.fill(ToQColor(FColors.Background));
        {
            QPainter bp(&FBuffer);
            drawCells(bp, 0, 0);
        }
        const QRect target(B, B, FBuffer.width(), FBuffer.height());
        if (OnDrawBitmap)
            OnDrawBitmap(this, p, FBuffer, target);
        else
            p.drawImage(target.topLeft(), FBuffer);
        return;
    }
    p.setClipRect(inner);
    drawCells(p, B, B);
}
