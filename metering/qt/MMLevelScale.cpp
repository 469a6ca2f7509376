#include "metering/qt/MMLevelScale.h"

#include "base/qt/MMBevelPaint.h"

#include <QPainter>
#include <QResizeEvent>

#include <utility>

int TQtTextMeasure::TextWidth(const std::string& text) const
{
    return mMetrics.horizontalAdvance(QString::fromStdString(text));
}

int TQtTextMeasure::TextHeight(const std::string&) const
{
    return mMetrics.height();
}

void InstallScaleFontSubstitutes()
{
    static const bool done = [] {
        for (const char* design : {"Small Fonts", "MS Sans Serif", "Tahoma"})
            QFont::insertSubstitution(design, "Liberation Sans");
        return true;
    }();
    (void)done;
}

QFont DefaultScaleLabelFont()
{
    InstallScaleFontSubstitutes();
    QFont f("Small Fonts");
    f.setPixelSize(10);
    f.setStyleStrategy(QFont::NoAntialias);
    return f;
}

void PaintScaleOps(QPainter& p, const std::vector<TScaleOp>& ops, const QFont& font)
{
    p.save();
    p.setFont(font);
    const QFontMetrics fm(font);
    for (const TScaleOp& op : ops) {
        switch (op.Kind) {
        case TScaleOpKind::Line:
            for (const TScaleRect& s : LineSpans(op))
                p.fillRect(QRect(s.Left, s.Top, s.Right - s.Left, s.Bottom - s.Top),
                           ToQColor(op.Color));
            break;
        case TScaleOpKind::FillRect:
            if (op.X2 > op.X1 && op.Y2 > op.Y1)
                p.fillRect(QRect(op.X1, op.Y1, op.X2 - op.X1, op.Y2 - op.Y1), ToQColor(op.Color));
            break;
        case TScaleOpKind::Text: {
            const QString text = QString::fromStdString(op.Text);
            if (op.Opaque)
                p.fillRect(QRect(op.X1, op.Y1, fm.horizontalAdvance(text), fm.height()),
                           ToQColor(op.Back));
            p.setPen(ToQColor(op.Color));
            p.drawText(QPoint(op.X1, op.Y1 + fm.ascent()), text);
            break;
        }
        }
    }
    p.restore();
}

TMMLevelScale::TMMLevelScale(QWidget* parent) : QWidget(parent)
{
    QWidget::setFont(DefaultScaleLabelFont());
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(mCore.Width(), mCore.Height());
    mCore.OnChange = [this](TMMCustomLevelScale*) { update(); };
}

void TMMLevelScale::SyncBounds()
{
    // A resize of a hidden widget is delivered only when it is shown.
    if (mCore.Width() == width() && mCore.Height() == height()) return;
    auto notify = std::move(mCore.OnChange);
    mCore.setBounds(width(), height());
    mCore.OnChange = std::move(notify);
}

void TMMLevelScale::setKind(TMMLevelKind k)
{
    SyncBounds();
    mCore.setKind(k);
    if (mCore.Width() != width() || mCore.Height() != height())
        resize(mCore.Width(), mCore.Height());
}

void TMMLevelScale::setFont(const QFont& f)
{
    QWidget::setFont(f);
    update();
}

void TMMLevelScale::resizeEvent(QResizeEvent* e)
{
    mCore.setBounds(e->size().width(), e->size().height());
    QWidget::resizeEvent(e);
}

void TMMLevelScale::paintEvent(QPaintEvent*)
{
    SyncBounds();
    const QFont f = font();
    TQtTextMeasure measure(f);
    TScaleCanvas canvas(width(), height(), &measure);
    mCore.Paint(canvas);
    QPainter p(this);
    PaintScaleOps(p, canvas.Ops(), f);
}
