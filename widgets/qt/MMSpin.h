// TMMSpinButton (up/down buttons with auto-repeat, an optional middle drag
// button and arrow keys) and TMMLEDSpin (an LED panel beside a spin button).
// GUI thread only.
#pragma once

#include "base/MMTypes.h"
#include "widgets/MMSpinCore.h"
#include "widgets/qt/MMLEDCommon.h"
#include "widgets/qt/MMLEDS.h"

#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>

class QPainter;

class TMMSpinButton : public QWidget {
    Q_OBJECT
public:
    explicit TMMSpinButton(QWidget* parent = nullptr);

    TMMSpinOrientation Orientation() const { return mOrientation; }
    void setOrientation(TMMSpinOrientation o);
    int Increment() const { return mIncrement; }
    void setIncrement(int v) { mIncrement = v; }
    int MinValue() const { return mMinValue; }
    void setMinValue(int v);
    int MaxValue() const { return mMaxValue; }
    void setMaxValue(int v);
    int Value() const { return mValue; }
    // Clamped; on a change the button repaints and OnChange fires.
    void setValue(int v);
    QWidget* FocusControl() const { return mFocusControl; }
    void setFocusControl(QWidget* w) { mFocusControl = w; }
    TColor FocusColor() const { return mFocusColor; }
    void setFocusColor(TColor c);
    // Button glyphs: NumGlyphs images side by side (normal, disabled,
    // pressed); a null pixmap draws the built-in arrow.
    QPixmap UpGlyph() const { return mUpGlyph; }
    void setUpGlyph(const QPixmap& p);
    int UpNumGlyphs() const { return mUpNumGlyphs; }
    void setUpNumGlyphs(int n);  // 1 .. 4
    QPixmap DownGlyph() const { return mDownGlyph; }
    void setDownGlyph(const QPixmap& p);
    int DownNumGlyphs() const { return mDownNumGlyphs; }
    void setDownNumGlyphs(int n);  // 1 .. 4
    TColor ButtonFace() const { return mButtonFace; }
    void setButtonFace(TColor c);
    bool MiddleButton() const { return mMiddleButton; }
    void setMiddleButton(bool on);
    TMMBevel Bevel() const { return mBevel; }
    void setBevel(const TMMBevel& bevel);
    bool Loading() const { return mLoading; }
    void setLoading(bool on) { mLoading = on; }

    // Milliseconds of a monotonic clock; replaceable for tests.
    void setClock(std::function<int64_t()> clock);

    TMMLEDNotifyEvent OnUpClick;
    TMMLEDNotifyEvent OnDownClick;
    TMMLEDNotifyEvent OnChange;

    // One click of the up or down button: Value by +/-Increment, then the
    // click event.
    void Click(TMMSpinPart part);
    // Runs the auto-repeats that are due (the repeat timer's tick).
    void ProcessRepeat();
    QRect PartRect(TMMSpinPart part) const;
    TMMSpinPart PartAt(const QPoint& pos) const;
    TMMSpinPart PressedPart() const { return mPressed; }
    bool Dragging() const { return mDragging; }
    // Milliseconds until the repeat timer fires next (-1 when stopped).
    int RepeatTimerRemaining() const { return mRepeatTimer.isActive() ? mRepeatTimer.remainingTime() : -1; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    int64_t now() const;
    void endHold();
    void scheduleRepeat();
    void paintPart(QPainter& p, TMMSpinPart part);
    int axisPos(const QPoint& pos) const;

    TMMSpinOrientation mOrientation = orVertical;
    int mIncrement = 1;
    int mMinValue = 0;
    int mMaxValue = 100;
    int mValue = 0;
    QPointer<QWidget> mFocusControl;
    TColor mFocusColor = clBlack;
    QPixmap mUpGlyph, mDownGlyph;
    int mUpNumGlyphs = 1, mDownNumGlyphs = 1;
    TColor mButtonFace = clSilver;
    bool mMiddleButton = false;
    TMMBevel mBevel;
    bool mLoading = false;

    std::function<int64_t()> mClock;
    TMMAutoRepeat mRepeat;
    QTimer mRepeatTimer;
    TMMSpinPart mPressed = spNone;
    bool mOver = false;
    bool mDragging = false;
    int mDragStartValue = 0;
    int mDragStartPos = 0;
};

class TMMLEDSpin : public QWidget {
    Q_OBJECT
public:
    explicit TMMLEDSpin(QWidget* parent = nullptr);

    TMMLEDPanel* Panel() const { return mPanel; }
    TMMSpinButton* Button() const { return mButton; }

    int Value() const { return mPanel->Value(); }
    // Ignored while disabled; clamped; on a change the panel and the button
    // follow and OnChange fires (not while loading).
    void setValue(int v);
    int Space() const { return mSpace; }
    void setSpace(int space);  // ignored when negative
    int NumDigits() const { return mPanel->NumDigits(); }
    void setNumDigits(int n);
    TMMLEDSize DigitSize() const { return mPanel->DigitSize(); }
    void setDigitSize(TMMLEDSize size);
    int LEDSpace() const { return mPanel->LEDSpace(); }
    void setLEDSpace(int space);
    TColor LEDColor() const { return mPanel->LEDColor(); }
    void setLEDColor(TColor c) { mPanel->setLEDColor(c); }
    TColor InactiveColor() const { return mPanel->InactiveColor(); }
    void setInactiveColor(TColor c) { mPanel->setInactiveColor(c); }
    TColor Color() const { return mPanel->Color(); }
    void setColor(TColor c) { mPanel->setColor(c); }
    bool DrawInactive() const { return mPanel->DrawInactive(); }
    void setDrawInactive(bool on) { mPanel->setDrawInactive(on); }
    bool ZeroBlank() const { return mPanel->ZeroBlank(); }
    void setZeroBlank(bool on) { mPanel->setZeroBlank(on); }
    bool Enabled() const { return isEnabled(); }
    int Increment() const { return mButton->Increment(); }
    void setIncrement(int v) { mButton->setIncrement(v); }
    int MinValue() const { return mPanel->MinValue(); }
    void setMinValue(int v);
    int MaxValue() const { return mPanel->MaxValue(); }
    void setMaxValue(int v);
    QPixmap UpGlyph() const { return mButton->UpGlyph(); }
    void setUpGlyph(const QPixmap& p) { mButton->setUpGlyph(p); }
    int UpNumGlyphs() const { return mButton->UpNumGlyphs(); }
    void setUpNumGlyphs(int n) { mButton->setUpNumGlyphs(n); }
    QPixmap DownGlyph() const { return mButton->DownGlyph(); }
    void setDownGlyph(const QPixmap& p) { mButton->setDownGlyph(p); }
    int DownNumGlyphs() const { return mButton->DownNumGlyphs(); }
    void setDownNumGlyphs(int n) { mButton->setDownNumGlyphs(n); }
    TColor ButtonFace() const { return mButton->ButtonFace(); }
    void setButtonFace(TColor c) { mButton->setButtonFace(c); }
    bool MiddleButton() const { return mButton->MiddleButton(); }
    void setMiddleButton(bool on) { mButton->setMiddleButton(on); }
    TMMBevel SpinBevel() const { return mButton->Bevel(); }
    void setSpinBevel(const TMMBevel& bevel);
    bool Loading() const { return mLoading; }
    void setLoading(bool on);

    TMMLEDNotifyEvent OnChange;
    TMMLEDNotifyEvent OnUpClick;
    TMMLEDNotifyEvent OnDownClick;

private:
    void relayout();
    void syncButton();

    TMMLEDPanel* mPanel;
    TMMSpinButton* mButton;
    int mSpace = 2;
    bool mLoading = false;
    bool mSyncing = false;
};
