#include "correlation/qt/MMOscopeWidget.h"

#include "base/qt/MMBevelPaint.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRegion>

#include <algorithm>

namespace {

// Draws the scope's primitives into the off-screen image.
class ImageSurface : public TMMOscopeSurface {
public:
    explicit ImageSurface(QImage& img) : mImg(img), mP(&img) {}
    void Fill(TColor c) override { mP.fillRect(mImg.rect(), ToQColor(c)); }
    void Line(int x0, int y0, int x1, int y1, TColor c) override
    {
        mP.setPen(ToQColor(c));
        mP.drawLine(x0, y0, x1, y1);
    }
    void Pixel(int x, int y, TColor c) override
    {
        mP.setPen(ToQColor(c));
        mP.drawPoint(x, y);
    }

private:
    QImage& mImg;
    QPainter mP;
};

// Events after which the scope's visible region may differ.
bool changesVisibleRegion(QEvent::Type t)
{
    switch (t) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::ParentChange:
    case QEvent::ZOrderChange:
    case QEvent::ChildAdded:
    case QEvent::ChildRemoved:
    case QEvent::LayoutRequest:
        return true;
    default:
        return false;
    }
}

}  // namespace

TMMOscopeWidget::TMMOscopeWidget(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    mScope.SetView(this);
    resize(194, 90);
    mScope.SetClientSize(width(), height());
    if (parent) parent->installEventFilter(this);
}

TMMOscopeWidget::~TMMOscopeWidget() { mScope.SetView(nullptr); }

bool TMMOscopeWidget::IsShown() const { return isVisible(); }

bool TMMOscopeWidget::CanDraw() const
{
    // The part of the scope's rectangle its ancestors let through (the
    // parent's own region leaves out opaque children such as this one).
    if (mCanDraw < 0) mCanDraw = isVisible() && parentWidget() && !visibleRegion().isEmpty() ? 1 : 0;
    return mCanDraw == 1;
}

bool TMMOscopeWidget::event(QEvent* e)
{
    if (changesVisibleRegion(e->type())) mCanDraw = -1;
    if (e->type() == QEvent::ParentAboutToChange && parentWidget()) parentWidget()->removeEventFilter(this);
    if (e->type() == QEvent::ParentChange && parentWidget()) parentWidget()->installEventFilter(this);
    return QWidget::event(e);
}

bool TMMOscopeWidget::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == parentWidget() && changesVisibleRegion(e->type())) mCanDraw = -1;
    return QWidget::eventFilter(watched, e);
}

void TMMOscopeWidget::resizeEvent(QResizeEvent*) { mScope.SetClientSize(width(), height()); }

void TMMOscopeWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    PaintBevel(p, rect(), mScope.Bevel());
    const int n = mScope.Columns(), h = mScope.PlotHeight();
    if (mSurface.width() != n || mSurface.height() != h) {
        mSurface = QImage(n, h, QImage::Format_RGB32);
        mSurface.fill(ToQColor(mScope.Color));
    }
    {
        ImageSurface s(mSurface);
        mScope.Redraw(&s);
    }
    p.drawImage(mScope.PlotLeft(), mScope.PlotTop(), mSurface);
    if (mScope.ReadoutActive()) {
        const QPoint pt = mPointer;
        const QString text = ReadoutText(pt.x() - mScope.PlotLeft(), pt.y() - mScope.PlotTop());
        QFont f("MS Sans Serif");
        f.setPointSize(8);
        p.setFont(f);
        QRect box = p.fontMetrics().boundingRect(text).adjusted(-3, -2, 3, 2);
        box.moveTopLeft(pt + QPoint(10, 10));
        if (box.right() > width()) box.moveRight(pt.x() - 4);
        if (box.bottom() > height()) box.moveBottom(pt.y() - 4);
        p.fillRect(box, QColor(255, 255, 225));
        p.setPen(Qt::black);
        p.drawRect(box.adjusted(0, 0, -1, -1));
        p.drawText(box, Qt::AlignCenter, text);
    }
}

QString TMMOscopeWidget::ReadoutText(int column, int row) const
{
    return QString::asprintf("%4.1f ms", mScope.ColumnToMs(column)) +
           QString::asprintf(" %4.2f V", static_cast<double>(mScope.PointToAmplitude(column, row)));
}

QPoint TMMOscopeWidget::ClampToPlot(const QPoint& p) const
{
    const int x0 = mScope.PlotLeft(), y0 = mScope.PlotTop();
    return QPoint(std::clamp(p.x(), x0, x0 + mScope.Columns() - 1), std::clamp(p.y(), y0, y0 + mScope.PlotHeight() - 1));
}

void TMMOscopeWidget::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton && mScope.ShowInfo()) {
        mScope.BeginReadout();
        mPointer = ClampToPlot(e->position().toPoint());
        update();
    }
    QWidget::mousePressEvent(e);
}

void TMMOscopeWidget::mouseMoveEvent(QMouseEvent* e)
{
    if (mScope.ReadoutActive()) {
        mPointer = ClampToPlot(e->position().toPoint());
        update();
    }
    QWidget::mouseMoveEvent(e);
}

void TMMOscopeWidget::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton && mScope.ReadoutActive()) {
        mScope.EndReadout();
        update();
    }
    QWidget::mouseReleaseEvent(e);
}
