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

#include <memory>
#include <vector>

class QPainter;

// A recoloured LED font and the image over its pixels.
struct TMMLEDFontImage {
    std::vector<uint32_t> Pixels;
    QImage Image;
};

class TMMLEDLABEL : public QWidget {
    Q_OBJECT
public:
    explicit TMMLEDLABEL(QWidget* parent = nullptr);

    QString Caption() const { return mCaption; }
    void setCaption(const QString& caption);
    int NumChars() const { return mNumChars; }
    // Without AutoSize the width follows; with it the caption decides.
    void setNumChars(int n);
    bool AutoSize() const { return mAutoSize; }
    void setAutoSize(bool on);
    TMMAlignment Alignment() const { return mAlignment; }
    void setAlignment(TMMAlignment a);
    TMMLEDFontSize FontSize() const { return mFontSize; }
    void setFontSize(TMMLEDFontSize size);
    TColor LEDColor() const { return mColors.Lit; }
    void setLEDColor(TColor c);
    TColor InactiveColor() const { return mColors.Unlit; }
    void setInactiveColor(TColor c);
    TColor Color() const { return mColors.Background; }
    void setColor(TColor c);
    bool DrawInactive() const { return mColors.DrawInactive; }
    void setDrawInactive(bool on);
    int LEDSpace() const { return mLEDSpace; }
    void setLEDSpace(int space);  // ignored unless > 0
    int ScrollSpeed() const { return mScrollSpeed; }
    void setScrollSpeed(int ms);  // ignored unless > 0
    bool AutoScroll() const { return mAutoScroll; }
    void setAutoScroll(bool on);
    int StartStep() const { return mScroll.StartStep(); }
    void setStartStep(int step);  // ignored outside 0 .. caption length
    int CurrentStep() const { return mScroll.CurrentStep(); }
    void setCurrentStep(int step);  // ignored outside 0 .. caption length
    bool DoubleBuffer() const { return mDoubleBuffer; }
    void setDoubleBuffer(bool on);
    TMMBevel Bevel() const { return mBevel; }
    void setBevel(const TMMBevel& bevel);
    // Alignment in the parent: alTop and alBottom leave the width to the parent.
    TMMAlign Align() const { return mAlign; }
    void setAlign(TMMAlign align);
    // While loading, sizes are not recomputed; clearing it recomputes them.
    bool Loading() const { return mLoading; }
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
    int GlyphWidth() const { return mGeometry.w; }
    int GlyphHeight() const { return mGeometry.h; }
    // Font glyph codes of the NumChars visible cells.
    std::vector<int> VisibleCodes() const;
    bool HasOffscreenBitmap() const { return !mBuffer.isNull(); }
    bool Scrolling() const { return mTimer.isActive(); }

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
    int captionLength() const { return int(mText.size()); }

    QString mCaption;
    std::u32string mText;
    int mNumChars = 11;
    bool mAutoSize = true;
    TMMAlignment mAlignment = taLeftJustify;
    TMMLEDFontSize mFontSize = fs16x20;
    TMMLEDColors mColors{clLime, clBlack, clGreen, true};
    int mLEDSpace = 1;
    int mScrollSpeed = 100;
    bool mAutoScroll = false;
    bool mDoubleBuffer = false;
    TMMBevel mBevel;
    TMMAlign mAlign = alNone;
    bool mLoading = false;
    bool mAdjusting = false;

    TMMLEDScroller mScroll;
    QTimer mTimer;
    TMMLEDFontGeometry mGeometry;
    std::shared_ptr<const TMMLEDFontImage> mFontData;  // recoloured font, shared
    QImage mFont;                                      // over mFontData's pixels
    QImage mBuffer;                     // off-screen bitmap while DoubleBuffer
};
