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

    TMMSpinOrientation Orientation() const { return FOrientation; }
    void setOrientation(TMMSpinOrientation o);
    int Increment() const { return FIncrement; }
    void setIncrement(int v) { FIncrement = v; }
    int MinValue() const { return FMinValue; }
    void setMinValue(int v);
    int MaxValue() const { return FMaxValue; }
    void setMaxValue(int v);
    int Value() const { return FValue; }
    // Clamped; on a change the button repaints and OnChange fires.
    void setValue(int v);
    QWidget* FocusControl() const { return FFocusControl; }
    void setFocusControl(QWidget* w) { FFocusControl = w; }
    TColor FocusColor() const { return FFocusColor; }
    void setFocusColor(TColor c);
    // Button glyphs: NumGlyphs images side by side (normal, disabled,
    // pressed); a null pixmap draws the built-in arrow.
    QPixmap UpGlyph() const { return FUpGlyph; }
    void setUpGlyph(const QPixmap& p);
    int UpNumGlyphs() const { return FUpNumGlyphs; }
    void setUpNumGlyphs(int n);  // 1 .. 4
    QPixmap DownGlyph() const { return FDownGlyph; }
    void setDownGlyph(const QPixmap& p);
    int DownNumGlyphs() const { return FDownNumGlyphs; }
    void setDownNumGlyphs(int n);  // 1 .. 4
    TColor ButtonFace() const { return FButtonFace; }
    void setButtonFace(TColor c);
    bool MiddleButton() const { return FMiddleButton; }
    void setMiddleButton(bool on);
    TMMBevel Bevel() const { return FBevel; }
    void setBevel(const TMMBevel& bevel);
    bool Loading() const { return FLoading; }
    void setLoading(bool on) { FLoading = on; }

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
    TMMSpinPart PressedPart() const { return FPressed; }
    bool Dragging() const { return FDragging; }
    // Milliseconds until the repeat timer fires next (-1 when stopped).
    int RepeatTimerRemaining() const { return FRepeatTimer.isActive() ? FRepeatTimer.remainingTime() : -1; }

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

    TMMSpinOrientation FOrientation = orVertical;
    int FIncrement = 1;
    int FMinValue = 0;
    int FMaxValue = 100;
    int FValue = 0;
    QPointer<QWidget> FFocusControl;
    TColor FFocusColor = clBlack;
    QPixmap FUpGlyph, FDownGlyph;
    int FUpNumGlyphs = 1, FDownNumGlyphs = 1;
    TColor FButtonFace = clSilver;
    bool FMiddleButton = false;
    TMMBevel FBevel;
    bool FLoading = false;

    std::function<int64_t()> FClock;
    TMMAutoRepeat FRepeat;
    QTimer FRepeatTimer;
    TMMSpinPart FPressed = spNone;
    bool FOver = false;
    bool FDragging = false;
    int FDragStartValue = 0;
    int FDragStartPos = 0;
};

class TMMLEDSpin : public QWidget {
    Q_OBJECT
public:
    explicit TMMLEDSpin(QWidget* parent = nullptr);

    TMMLEDPanel* Panel() const { return FPanel; }
    TMMSpinButton* Button() const { return FButton; }

    int Value() const { return FPanel->Value(); }
    // Ignored while disabled; clamped; on a change the panel and the button
    // follow and OnChange fires (not while loading).
    void setValue(int v);
    int Space() const { return FSpace; }
    void setSpace(int space);  // ignored when negative
    int NumDigits() const { return FPanel->NumDigits(); }
    void setNumDigits(int n);
    TMMLEDSize DigitSize() const { return FPanel->DigitSize(); }
    void setDigitSize(TMMLEDSize size);
    int LEDSpace() const { return FPanel->LEDSpace(); }
    void setLEDSpace(int space);
    TColor LEDColor() const { return FPanel->LEDColor(); }
    void setLEDColor(TColor c) { FPanel->setLEDColor(c); }
    TColor InactiveColor() const { return FPanel->InactiveColor(); }
    void setInactiveColor(TColor c) { FPanel->setInactiveColor(c); }
    TColor Color() const { return FPanel->Color(); }
    void setColor(TColor c) { FPanel->setColor(c); }
    bool DrawInactive() const { return FPanel->DrawInactive(); }
    void setDrawInactive(bool on) { FPanel->setDrawInactive(on); }
    bool ZeroBlank() const { return FPanel->ZeroBlank(); }
    void setZeroBlank(bool on) { FPanel->setZeroBlank(on); }
    bool Enabled() const { return isEnabled(); }
    int Increment() const { return FButton->Increment(); }
    void setIncrement(int v) { FButton->setIncrement(v); }
    int MinValue() const { return FPanel->MinValue(); }
    void setMinValue(int v);
    int MaxValue() const { return FPanel->MaxValue(); }
    void setMaxValue(int v);
    QPixmap UpGlyph() const { return FButton->UpGlyph(); }
    void setUpGlyph(const QPixmap& p) { FButton->setUpGlyph(p); }
    int UpNumGlyphs() const { return FButton->UpNumGlyphs(); }
    void setUpNumGlyphs(int n) { FButton->setUpNumGlyphs(n); }
    QPixmap DownGlyph() const { return FButton->DownGlyph(); }
    void setDownGlyph(const QPixmap& p) { FButton->setDownGlyph(p); }
    int DownNumGlyphs() const { return FButton->DownNumGlyphs(); }
    void setDownNumGlyphs(int n) { FButton->setDownNumGlyphs(n); }
    TColor ButtonFace() const { return FButton->ButtonFace(); }
    void setButtonFace(TColor c) { FButton->setButtonFace(c); }
    bool MiddleButton() const { return FButton->MiddleButton(); }
    void setMiddleButton(bool on) { FButton->setMiddleButton(on); }
    TMMBevel SpinBevel() const { return FButton->Bevel(); }
    void setSpinBevel(const TMMBevel& bevel);
    bool Loading() const { return FLoading; }
    void setLoading(bool on);

    TMMLEDNotifyEvent OnChange;
    TMMLEDNotifyEvent OnUpClick;
    TMMLEDNotifyEvent OnDownClick;

private:
    void relayout();
    void syncButton();

    TMMLEDPanel* FPanel;
    TMMSpinButton* FButton;
    int FSpace = 2;
    bool FLoading = false;
    bool FSyncing = false;
};
