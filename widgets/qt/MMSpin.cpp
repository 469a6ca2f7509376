#include "widgets/qt/MMSpin.h"

#include "base/qt/MMBevelPaint.h"

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {

// At most this many repeats are run by one timer tick (a clock jump or a
// long stall of the GUI thread must not click thousands of times).
constexpr int kMaxRepeatsPerTick = 20;

int64_t steadyMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid()) clock.start();
    return clock.elapsed();
}

// A filled arrow s rows deep with its point at (cx, cy) facing `dir`.
void drawArrow(QPainter& p, int cx, int cy, int s, TMMSpinPart part, TMMSpinOrientation o,
               const QColor& c)
{
    for (int i = 0; i < s; ++i) {
        if (o == orVertical) {
            const int y = part == spUp ? cy - s / 2 + i : cy + s / 2 - i;
            p.fillRect(QRect(cx - i, y, 2 * i + 1, 1), c);
        } else {
            const int x = part == spUp ? cx + s / 2 - i : cx - s / 2 + i;
            p.fillRect(QRect(x, cy - i, 1, 2 * i + 1), c);
        }
    }
}

}  // namespace

// ---- TMMSpinButton ----

TMMSpinButton::TMMSpinButton(QWidget* parent) : QWidget(parent)
{
    resize(21, 28);
    setFocusPolicy(Qt::StrongFocus);
    mRepeatTimer.setSingleShot(true);
    mRepeatTimer.setTimerType(Qt::PreciseTimer);
    connect(&mRepeatTimer, &QTimer::timeout, this, &TMMSpinButton::ProcessRepeat);
}

int64_t TMMSpinButton::now() const { return mClock ? mClock() : steadyMs(); }

void TMMSpinButton::setClock(std::function<int64_t()> clock) { mClock = std::move(clock); }

void TMMSpinButton::setOrientation(TMMSpinOrientation o)
{
    if (o != orVertical && o != orHorizontal) return;
    mOrientation = o;
    update();
}

void TMMSpinButton::setMinValue(int v)
{
    mMinValue = v;
    setValue(mValue);
}

void TMMSpinButton::setMaxValue(int v)
{
    mMaxValue = v;
    setValue(mValue);
}

void TMMSpinButton::setValue(int v)
{
    const int c = ClampSpinValue(v, mMinValue, mMaxValue);
    if (c == mValue) return;
    mValue = c;
    update();
    if (!mLoading && OnChange) OnChange(this);
}

void TMMSpinButton::setFocusColor(TColor c)
{
    mFocusColor = c;
    update();
}

void TMMSpinButton::setUpGlyph(const QPixmap& p)
{
    mUpGlyph = p;
    update();
}

void TMMSpinButton::setUpNumGlyphs(int n)
{
    if (n < 1 || n > 4) return;
    mUpNumGlyphs = n;
    update();
}

void TMMSpinButton::setDownGlyph(const QPixmap& p)
{
    mDownGlyph = p;
    update();
}

void TMMSpinButton::setDownNumGlyphs(int n)
{
    if (n < 1 || n > 4) return;
    mDownNumGlyphs = n;
    update();
}

void TMMSpinButton::setButtonFace(TColor c)
{
    mButtonFace = c;
    update();
}

void TMMSpinButton::setMiddleButton(bool on)
{
    mMiddleButton = on;
    update();
}

void TMMSpinButton::setBevel(const TMMBevel& bevel)
{
    mBevel = bevel;
    update();
}

void TMMSpinButton::Click(TMMSpinPart part)
{
    if (part == spUp) {
        setValue(ClampSpinValue((long long)mValue + mIncrement, mMinValue, mMaxValue));
        if (OnUpClick) OnUpClick(this);
    } else if (part == spDown) {
        setValue(ClampSpinValue((long long)mValue - mIncrement, mMinValue, mMaxValue));
        if (OnDownClick) OnDownClick(this);
    }
}

QRect TMMSpinButton::PartRect(TMMSpinPart part) const
{
    const int B = mBevel.TotalWidth();
    const QRect in = rect().adjusted(B, B, -B, -B);
    const bool vertical = mOrientation == orVertical;
    const int len = vertical ? in.height() : in.width();
    const int parts = mMiddleButton ? 3 : 2;
    const int a = len / parts;               // size of the first part
    const int b = mMiddleButton ? a : 0;     // size of the middle part
    const int c = len - a - b;               // the last part takes the rest
    // Vertical: up, middle, down from the top. Horizontal: down, middle, up
    // from the left.
    int from = 0, size = 0;
    const TMMSpinPart first = vertical ? spUp : spDown;
    if (part == first) {
        from = 0, size = a;
    } else if (part == spMiddle) {
        if (!mMiddleButton) return QRect();
        from = a, size = b;
    } else if (part == spUp || part == spDown) {
        from = a + b, size = c;
    } else {
        return QRect();
    }
    return vertical ? QRect(in.left(), in.top() + from, in.width(), size)
                    : QRect(in.left() + from, in.top(), size, in.height());
}

TMMSpinPart TMMSpinButton::PartAt(const QPoint& pos) const
{
    for (TMMSpinPart part : {spUp, spMiddle, spDown})
        if (PartRect(part).contains(pos)) return part;
    return spNone;
}

int TMMSpinButton::axisPos(const QPoint& pos) const
{
    return mOrientation == orVertical ? pos.y() : pos.x();
}

void TMMSpinButton::mousePressEvent(QMouseEvent* e)
{
    const QPoint pos = e->position().toPoint();
    const TMMSpinPart part = PartAt(pos);
    if (mFocusControl) mFocusControl->setFocus(Qt::MouseFocusReason);
    const bool drag = mMiddleButton && ((e->button() == Qt::LeftButton && part == spMiddle) ||
                                        e->button() == Qt::MiddleButton);
    if (drag) {
        endHold();
        mDragging = true;
        mDragStartValue = mValue;
        mDragStartPos = axisPos(pos);
        update();
        return;
    }
    if (e->button() != Qt::LeftButton || (part != spUp && part != spDown)) return;
    mPressed = part;
    mOver = true;
    mRepeat.Press(now());
    scheduleRepeat();
    update();
}

void TMMSpinButton::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint pos = e->position().toPoint();
    if (mDragging) {
        setValue(SpinDragValue(mDragStartValue, mMinValue, mMaxValue, mDragStartPos, axisPos(pos)));
        return;
    }
    if (mPressed == spNone) return;
    const bool over = PartAt(pos) == mPressed;
    if (over != mOver) {
        mOver = over;
        update();
    }
}

void TMMSpinButton::mouseReleaseEvent(QMouseEvent* e)
{
    const QPoint pos = e->position().toPoint();
    if (mDragging) {
        mDragging = false;
        update();
        return;
    }
    if (mPressed == spNone || e->button() != Qt::LeftButton) return;
    const TMMSpinPart part = mPressed;
    const bool click = mRepeat.Release(PartAt(pos) == part);
    mPressed = spNone;
    mRepeatTimer.stop();
    update();
    if (click) Click(part);
}

void TMMSpinButton::ProcessRepeat()
{
    if (mPressed == spNone) return;
    const int due = std::min(mRepeat.Poll(now()), kMaxRepeatsPerTick);
    if (mOver)
        for (int i = 0; i < due && mPressed != spNone; ++i) Click(mPressed);
    scheduleRepeat();
}

void TMMSpinButton::scheduleRepeat()
{
    if (!mRepeat.Held() || mPressed == spNone) {
        mRepeatTimer.stop();
        return;
    }
    const int64_t wait = std::clamp<int64_t>(mRepeat.NextDue() - now(), 0, TMMAutoRepeat::FirstDelay);
    mRepeatTimer.start(int(wait));
}

void TMMSpinButton::endHold()
{
    mRepeat.Cancel();
    mRepeatTimer.stop();
    mPressed = spNone;
    mDragging = false;
}

void TMMSpinButton::keyPressEvent(QKeyEvent* e)
{
    TMMArrowKey key;
    switch (e->key()) {
    case Qt::Key_Left: key = akLeft; break;
    case Qt::Key_Up: key = akUp; break;
    case Qt::Key_Right: key = akRight; break;
    case Qt::Key_Down: key = akDown; break;
    default: QWidget::keyPressEvent(e); return;
    }
    const TMMSpinPart part = SpinKeyPart(key, mOrientation);
    if (part == spNone) {
        QWidget::keyPressEvent(e);
        return;
    }
    Click(part);
}

void TMMSpinButton::focusInEvent(QFocusEvent* e)
{
    QWidget::focusInEvent(e);
    update();
}

void TMMSpinButton::focusOutEvent(QFocusEvent* e)
{
    QWidget::focusOutEvent(e);
    update();
}

void TMMSpinButton::hideEvent(QHideEvent* e)
{
    endHold();
    QWidget::hideEvent(e);
}

void TMMSpinButton::paintPart(QPainter& p, TMMSpinPart part)
{
    const QRect r = PartRect(part);
    if (r.width() <= 0 || r.height() <= 0) return;
    const bool down = (part == mPressed && mOver) || (part == spMiddle && mDragging);
    p.fillRect(r, ToQColor(mButtonFace));
    TMMBevel face;
    face.BevelOuter = down ? bvLowered : bvRaised;
    const QRect in = PaintBevel(p, r, face);

    if (part == spMiddle) {  // grip lines across the drag button
        const QColor light = ToQColor(clWhite), dark = ToQColor(clGray);
        const QPoint c = in.center();
        for (int d : {-2, 1}) {
            if (mOrientation == orVertical) {
                p.fillRect(QRect(in.left() + 2, c.y() + d, std::max(0, in.width() - 4), 1), dark);
                p.fillRect(QRect(in.left() + 2, c.y() + d + 1, std::max(0, in.width() - 4), 1), light);
            } else {
                p.fillRect(QRect(c.x() + d, in.top() + 2, 1, std::max(0, in.height() - 4)), dark);
                p.fillRect(QRect(c.x() + d + 1, in.top() + 2, 1, std::max(0, in.height() - 4)), light);
            }
        }
        return;
    }

    const QPixmap& glyph = part == spUp ? mUpGlyph : mDownGlyph;
    const int count = part == spUp ? mUpNumGlyphs : mDownNumGlyphs;
    const QPoint shift = down ? QPoint(1, 1) : QPoint(0, 0);
    if (!glyph.isNull()) {
        int index = 0;
        if (!isEnabled() && count > 1) index = 1;
        else if (down && count > 2) index = 2;
        const int gw = glyph.width() / count;
        const QRect src(index * gw, 0, gw, glyph.height());
        const QPoint at = in.center() - QPoint(gw / 2, glyph.height() / 2) + shift;
        p.drawPixmap(at, glyph, src);
        return;
    }
    const int s = std::max(2, std::min(in.width(), in.height()) / 3);
    const QPoint c = in.center() + shift;
    drawArrow(p, c.x(), c.y(), s, part, mOrientation, ToQColor(isEnabled() ? clBlack : clGray));
}

void TMMSpinButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), ToQColor(mButtonFace));
    const QRect inner = PaintBevel(p, rect(), mBevel);
    paintPart(p, spUp);
    if (mMiddleButton) paintPart(p, spMiddle);
    paintPart(p, spDown);
    if (hasFocus() && inner.width() > 2 && inner.height() > 2) {
        p.setPen(ToQColor(mFocusColor));
        p.setBrush(Qt::NoBrush);
        p.drawRect(inner.adjusted(0, 0, -1, -1));
    }
}

// ---- TMMLEDSpin ----

TMMLEDSpin::TMMLEDSpin(QWidget* parent)
    : QWidget(parent), mPanel(new TMMLEDPanel(this)), mButton(new TMMSpinButton(this))
{
    mButton->setMinValue(mPanel->MinValue());
    mButton->setMaxValue(mPanel->MaxValue());
    mButton->OnChange = [this](QObject*) {
        if (!mSyncing) setValue(mButton->Value());
    };
    mButton->OnUpClick = [this](QObject*) {
        if (OnUpClick) OnUpClick(this);
    };
    mButton->OnDownClick = [this](QObject*) {
        if (OnDownClick) OnDownClick(this);
    };
    relayout();
}

void TMMLEDSpin::setValue(int v)
{
    if (!isEnabled()) return;
    const int before = mPanel->Value();
    mPanel->setValue(v);
    syncButton();
    if (mPanel->Value() != before && !mLoading && OnChange) OnChange(this);
}

void TMMLEDSpin::syncButton()
{
    mSyncing = true;
    mButton->setValue(mPanel->Value());
    mSyncing = false;
}

void TMMLEDSpin::setSpace(int space)
{
    if (space < 0) return;
    mSpace = space;
    relayout();
}

void TMMLEDSpin::setNumDigits(int n)
{
    mPanel->setNumDigits(n);
    syncButton();
    relayout();
}

void TMMLEDSpin::setDigitSize(TMMLEDSize size)
{
    mPanel->setDigitSize(size);
    relayout();
}

void TMMLEDSpin::setLEDSpace(int space)
{
    mPanel->setLEDSpace(space);
    relayout();
}

void TMMLEDSpin::setMinValue(int v)
{
    mPanel->setMinValue(v);
    mSyncing = true;
    mButton->setMinValue(v);
    mSyncing = false;
    syncButton();
}

void TMMLEDSpin::setMaxValue(int v)
{
    mPanel->setMaxValue(v);
    mSyncing = true;
    mButton->setMaxValue(v);
    mSyncing = false;
    syncButton();
}

void TMMLEDSpin::setSpinBevel(const TMMBevel& bevel)
{
    mButton->setBevel(bevel);
    relayout();
}

void TMMLEDSpin::setLoading(bool on)
{
    mLoading = on;
    mPanel->setLoading(on);
    mButton->setLoading(on);
}

void TMMLEDSpin::relayout()
{
    const QSize panel = mPanel->size();
    const int buttonWidth = mButton->width(), buttonHeight = 28;  // the button keeps its width
    const int h = std::max(panel.height(), buttonHeight);
    mPanel->move(0, h - panel.height());
    mButton->setGeometry(panel.width() + mSpace, 0, buttonWidth, h);
    resize(panel.width() + buttonWidth + mSpace, h);
}
