#include "metering/qt/MMLevel.h"

#include "metering/qt/MMBevelPaint.h"

#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QVector>

#include <algorithm>
#include <cmath>

namespace {

const QVector<QRgb>& colorTable()
{
    static const QVector<QRgb> table = [] {
        QVector<QRgb> t;
        for (TColor c : TMMDIBCanvas::Palette()) t.push_back(qRgb(ColorRed(c), ColorGreen(c), ColorBlue(c)));
        return t;
    }();
    return table;
}

}  // namespace

TMMLevel::TMMLevel(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(fCore.Width(), fCore.Height());

    const QScreen* s = screen();
    const double hz = s ? s->refreshRate() : 60.0;
    fFrameMs = std::clamp(static_cast<int>(std::lround(1000.0 / (hz > 1.0 ? hz : 60.0))), 4, 100);
    fFrame.setSingleShot(true);
    fFrame.setTimerType(Qt::PreciseTimer);
    connect(&fFrame, &QTimer::timeout, this, [this] { update(); });

    fCore.OnInvalidate = [this] { scheduleRepaint(); };
    fCore.OnBoundsChange = [this](int w, int h) { resize(w, h); };
    fCore.OnTickWanted = [this](bool wanted) {
        if (wanted)
            TMMTimerList::Instance().Resume(fTick);
        else
            TMMTimerList::Instance().Pause(fTick);
    };

    // The list calls back on its timer thread; only post from there. A tick
    // still waiting on the GUI thread makes the next one a skipped late tick.
    fTick = TMMTimerList::Instance().Subscribe(
        TMMTimerList::PeriodMs,
        [](void* owner) {
            auto* self = static_cast<TMMLevel*>(owner);
            if (self->fTickPosted.exchange(true)) return;
            QMetaObject::invokeMethod(self, [self] { self->peakTick(); }, Qt::QueuedConnection);
        },
        this);
    if (!fCore.TickWanted()) TMMTimerList::Instance().Pause(fTick);
}

TMMLevel::~TMMLevel()
{
    // Waits for a callback under way; ticks already posted die with the object.
    TMMTimerList::Instance().Unsubscribe(fTick);
    fCore.OnInvalidate = nullptr;
    fCore.OnBoundsChange = nullptr;
    fCore.OnTickWanted = nullptr;
}

void TMMLevel::peakTick()
{
    fTickPosted.store(false);
    if (fCore.TickWanted()) fCore.PeakTick();  // posted before a pause: dropped
}

void TMMLevel::setVisible(bool visible)
{
    QWidget::setVisible(visible);
    fCore.setVisible(visible);
}

void TMMLevel::scheduleRepaint()
{
    if (fPending) return;
    fPending = true;
    const qint64 since = fSincePaint.isValid() ? fSincePaint.elapsed() : fFrameMs;
    if (since >= fFrameMs)
        update();
    else
        fFrame.start(static_cast<int>(fFrameMs - since));
}

void TMMLevel::paintEvent(QPaintEvent*)
{
    fPending = false;
    fFrame.stop();
    fSincePaint.restart();
    ++fPaints;

    syncBounds();
    QPainter p(this);
    const QRect area = PaintBevel(p, rect(), fCore.Bevel());
    p.fillRect(area, ToQColor(fCore.Color()));
    try {
        fCore.DrawLevel();
    } catch (const EMMError& e) {  // from an OnDrawBar handler
        qWarning("TMMLevel: %s", e.what());
        return;
    }
    const TMMDIBCanvas& c = fCore.WorkCanvas();
    if (c.Width() <= 0 || c.Height() <= 0) return;
    QImage img(c.Bits(), c.Width(), c.Height(), c.Stride(),
               c.BitCount() == 8 ? QImage::Format_Indexed8 : QImage::Format_BGR888);
    if (c.BitCount() == 8) img.setColorTable(colorTable());
    const int inset = fCore.Bevel().TotalWidth();
    p.drawImage(QPoint(inset, inset), img);
}

void TMMLevel::resizeEvent(QResizeEvent*) { syncBounds(); }

void TMMLevel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange) fCore.setEnabled(isEnabled());
    QWidget::changeEvent(event);
}
