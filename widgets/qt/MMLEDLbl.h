// TMMLEDLABEL: a dot-matrix text display with a bevel frame. The channel
// strips use it as their label and blink it as the silence alarm by changing
// Caption, LEDColor, InactiveColor, visibility or Enabled from outside.
// GUI thread only.
#pragma once

#include "base/MMTypes.h"
#include "widgets/MMLEDGlyphs.h"
#include "widgets/MMLEDText.h"
#include "widgets/qt/MMLEDCommon.h"

#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <vector>

class QPainter;

class TMMLEDLABEL : public QWidget {
    Q_OBJECT
public:
    explicit TMMLEDLABEL(QWidget* parent = nullptr);

    QString Caption() const { return FCaption; }
    void setCaption(const QString& caption);
    int NumChars() const { return FNumChars; }
    // Without AutoSize the width follows; with it the caption decides.
    void setNumChars(int n);
    bool AutoSize() const { return FAutoSize; }
    void setAutoSize(bool on);
    TMMAlignment Alignment() const { return FAlignment; }
    void setAlignment(TMMAlignment a);
    TMMLEDFontSize FontSize() const { return FFontSize; }
    void setFontSize(TMMLEDFontSize size);
    TColor LEDColor() const { return FColors.Lit; }
    void setLEDColor(TColor c);
    TColor InactiveColor() const { return FColors.Unlit; }
    void setInactiveColor(TColor c);
    TColor Color() const { return FColors.Background; }
    void setColor(TColor c);
    bool DrawInactive() const { return FColors.DrawInactive; }
    void setDrawInactive(bool on);
    int LEDSpace() const { return FLEDSpace; }
    void setLEDSpace(int space);  // ignored unless > 0
    int ScrollSpeed() const { return FScrollSpeed; }
    void setScrollSpeed(int ms);  // ignored unless > 0
    bool AutoScroll() const { return FAutoScroll; }
    void setAutoScroll(bool on);
    int StartStep() const { return FScroll.StartStep(); }
    void setStartStep(int step);  // ignored outside 0 .. caption length
    int CurrentStep() const { return FScroll.CurrentStep(); }
    void setCurrentStep(int step);  // ignored outside 0 .. caption length
    bool DoubleBuffer() const { return FDoubleBuffer; }
    void setDoubleBuffer(bool on);
    TMMBevel Bevel() const { return FBevel; }
    void setBevel(const TMMBevel& bevel);
    // Alignment in the parent: alTop and alBottom leave the width to the parent.
    TMMAlign Align() const { return FAlign; }
    void setAlign(TMMAlign align);
    // While loading, sizes are not recomputed; clearing it recomputes them.
    bool Loading() const { return FLoading; }
    void setLoading(bool on);

    TMMLEDNotifyEvent OnBegin;  // scrolling started
    TMMLEDNotifyEvent OnStep;   // scrolling advanced
    TMMLEDNotifyEvent OnEnd;    // scrolling reached the caption's end
    TMMLEDNotifyEvent OnDblClick;
    // Replaces the copy of the off-screen bitmap (DoubleBuffer) to the screen;
    // `painter` paints on the control, `rect` is the inner rectangle.
    std::function<void(QObject* Sender, QPainter& painter, const QImage& bitmap, const QRect& rect)>
        OnDrawBitmap;

    // Glyph cell of the loaded font (0 x 0 without a font).
    int GlyphWidth() const { return FGeometry.w; }
    int GlyphHeight() const { return FGeometry.h; }
    // Font glyph codes of the NumChars visible cells.
    std::vector<int> VisibleCodes() const;
    bool HasOffscreenBitmap() const { return !FBuffer.isNull(); }
    bool Scrolling() const { return FTimer.isActive(); }

    QSize sizeHint() const override;

public slots:
    // One scroll step (the timer's tick).
    void ScrollTick();

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    void loadFont();
    void adjustBounds();
    void updateBuffer();
    void drawCells(QPainter& p, int x0, int y0);
    int captionLength() const { return int(FText.size()); }

    QString FCaption;
    std::u32string FText;
    int FNumChars = 11;
    bool FAutoSize = true;
    TMMAlignment FAlignment = taLeftJustify;
    TMMLEDFontSize FFontSize = fs16x20;
    TMMLEDColors FColors{clLime, clBlack, clGreen, true};
    int FLEDSpace = 1;
    int FScrollSpeed = 100;
    bool FAutoScroll = false;
    bool FDoubleBuffer = false;
    TMMBevel FBevel;
    TMMAlign FAlign = alNone;
    bool FLoading = false;
    bool FAdjusting = false;

    TMMLEDScroller FScroll;
    QTimer FTimer;
    TMMLEDFontGeometry FGeometry;
    std::vector<uint32_t> FFontPixels;  // recoloured font
    QImage FFont;                       // over FFontPixels
    QImage FBuffer;                     // off-screen bitmap while DoubleBuffer
};
