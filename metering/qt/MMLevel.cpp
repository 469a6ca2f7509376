#include "metering/qt/MMLevel.h"

#include "base/qt/MMBevelPaint.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace {

// The 8-bit palette as opaque RGB32 pixels.
const std::array<QRgb, 256>& pixelTable()
{
    static const std::array<QRgb, 256> table = [] {
        std::array<QRgb, 256> t{};
        const auto& pal = TMMDIBCanvas::Palette();
        for (size_t i = 0; i < t.size(); ++i) t[i] = qRgb(ColorRed(pal[i]), ColorGreen(pal[i]), ColorBlue(pal[i]));
        return t;
    }();
    return table;
}

}  // namespace

// One refresh clock for all bars (GUI thread): bars that changed queue here
// and are composed together once per display refresh, so their repaints land
// in one pass of the window's backing store.
class TMMLevelRefresh {
public:
    static void Queue(TMMLevel* bar)
    {
        if (bar->mQueued) return;
        bar->mQueued = true;
        sQueue.push_back(bar);
        arm(bar->mFrameMs);
    }

    static void Remove(TMMLevel* bar)
    {
        std::replace(sQueue.begin(), sQueue.end(), bar, static_cast<TMMLevel*>(nullptr));
        std::replace(sRunning.begin(), sRunning.end(), bar, static_cast<TMMLevel*>(nullptr));
    }

private:
    static void arm(int frameMs)
    {
        sFrameMs = std::min(sFrameMs, frameMs);
        if (!sTimer) {
            if (!QCoreApplication::instance()) return;
            sTimer = new QTimer(QCoreApplication::instance());
            sTimer->setSingleShot(true);
            sTimer->setTimerType(Qt::PreciseTimer);
            QObject::connect(sTimer, &QTimer::timeout, sTimer, [] { tick(); });
        }
        if (sTimer->isActive()) return;
        const qint64 since = sSince.isValid() ? sSince.elapsed() : sFrameMs;
        sTimer->start(static_cast<int>(std::max<qint64>(sFrameMs - since, 0)));
    }

    static void tick()
    {
        sSince.restart();
        sRunning.swap(sQueue);  // both keep their capacity: no allocation per frame
        for (size_t i = 0; i < sRunning.size(); ++i) {
            TMMLevel* bar = sRunning[i];
            if (!bar) continue;
            bar->mQueued = false;
            bar->refreshFrame();
        }
        sRunning.clear();
        if (!sQueue.empty()) arm(sFrameMs);
    }

    static inline std::vector<TMMLevel*> sQueue, sRunning;
    static inline QPointer<QTimer> sTimer;
    static inline QElapsedTimer sSince;
    static inline int sFrameMs = 100;
};

// The peak ticks of all bars ride on one posted call per 25 ms tick: the
// timer thread marks the bar and posts only when no call is on its way; the
// GUI thread then ticks every marked bar.
class TMMLevelTicks {
public:
    // GUI thread.
    static void Add(TMMLevel* bar)
    {
        if (!sTarget.load()) {
            auto* target = new QObject(QCoreApplication::instance());
            QObject::connect(target, &QObject::destroyed, [] { sTarget.store(nullptr); });
            sTarget.store(target);
        }
        sBars.push_back(bar);
    }
    static void Remove(TMMLevel* bar) { sBars.erase(std::remove(sBars.begin(), sBars.end(), bar), sBars.end()); }

    // Timer thread, from the bar's subscription.
    static void Tick(void* owner)
    {
        auto* bar = static_cast<TMMLevel*>(owner);
        if (bar->mTickPosted.exchange(true)) return;  // the last tick is still waiting
        if (sPosted.exchange(true)) return;
        if (QObject* target = sTarget.load())
            QMetaObject::invokeMethod(target, &TMMLevelTicks::run, Qt::QueuedConnection);
    }

private:
    static void run()
    {
        sPosted.store(false);
        for (size_t i = 0; i < sBars.size(); ++i)
            if (sBars[i]->mTickPosted.load()) sBars[i]->peakTick();
    }

    static inline std::vector<TMMLevel*> sBars;
    static inline std::atomic<bool> sPosted{false};
    static inline std::atomic<QObject*> sTarget{nullptr};
};

TMMLevel::TMMLevel(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(mCore.Width(), mCore.Height());

    const QScreen* s = screen();
    const double hz = s ? s->refreshRate() : 60.0;
    mFrameMs = std::clamp(static_cast<int>(std::lround(1000.0 / (hz > 1.0 ? hz : 60.0))), 4, 100);

    mCore.OnInvalidate = [this] { scheduleRepaint(); };
    mCore.OnBoundsChange = [this](int w, int h) { resize(w, h); };
    mCore.OnTickWanted = [this](bool wanted) {
        if (wanted)
            TMMTimerList::Instance().Resume(mTick);
        else
            TMMTimerList::Instance().Pause(mTick);
    };

    // The list calls back on its timer thread; only post from there. A tick
    // still waiting on the GUI thread makes the next one a skipped late tick.
    TMMLevelTicks::Add(this);
    mTick = TMMTimerList::Instance().Subscribe(TMMTimerList::PeriodMs, &TMMLevelTicks::Tick, this);
    if (!mCore.TickWanted()) TMMTimerList::Instance().Pause(mTick);
}

TMMLevel::~TMMLevel()
{
    // Waits for a callback under way; a tick already posted skips the bar.
    TMMTimerList::Instance().Unsubscribe(mTick);
    TMMLevelTicks::Remove(this);
    TMMLevelRefresh::Remove(this);
    mCore.OnInvalidate = nullptr;
    mCore.OnBoundsChange = nullptr;
    mCore.OnTickWanted = nullptr;
}

void TMMLevel::peakTick()
{
    mTickPosted.store(false);
    if (!mCore.TickWanted()) return;  // posted before a pause: dropped
    mCore.PeakTick();
    // A falling peak shows at the next refresh even when no block follows.
    if (mCore.DrawNeeded()) scheduleRepaint();
}

void TMMLevel::setVisible(bool visible)
{
    QWidget::setVisible(visible);
    mCore.setVisible(visible);
}

void TMMLevel::scheduleRepaint()
{
    mDirty = true;
    TMMLevelRefresh::Queue(this);
}

void TMMLevel::refreshFrame()
{
    if (!mDirty || !isVisible()) return;
    if (!mCore.DrawNeeded() && !mImage.isNull()) {  // moved and came back within the frame
        mDirty = false;
        return;
    }
    const QRect changed = compose();
    if (!changed.isEmpty()) update(changed);
}

QRect TMMLevel::compose()
{
    mDirty = false;
    syncBounds();
    const int inset = mCore.Bevel().TotalWidth();
    const TMMDIBCanvas& c = mCore.WorkCanvas();
    const int w = c.Width(), h = c.Height();
    const size_t bytes = static_cast<size_t>(c.Stride()) * static_cast<size_t>(std::max(h, 0));
    // Anything but a move of the bar or peak (a property, the size, the
    // frame) converts and repaints the whole bar.
    const bool full = mCore.PropertiesChanged() || mImage.width() != w || mImage.height() != h ||
                      inset != mInset || c.BitCount() != mShownBits || mShown.size() != bytes;
    const TMMRect area = full ? TMMRect{0, 0, w, h} : mCore.ChangedArea();
    try {
        if (full)
            mCore.DrawLevel();
        else
            mCore.DrawLevel(area);
    } catch (const EMMError& e) {  // from an OnDrawBar handler: the area shows the background colour
        qWarning("TMMLevel: %s", e.what());
        mImage = QImage();
        mShown.clear();
        return rect();
    }
    if (w <= 0 || h <= 0) {
        mImage = QImage();
        mShown.clear();
        return rect();
    }
    if (full) {
        if (mImage.width() != w || mImage.height() != h) mImage = QImage(w, h, QImage::Format_RGB32);
        mShown.assign(bytes, 0);
        mInset = inset;
        mShownBits = c.BitCount();
    }
    const int bpp = c.BitCount() / 8;
    const size_t rowBytes = static_cast<size_t>(w) * static_cast<size_t>(bpp);
    const auto& table = pixelTable();
    int top = h, bottom = -1, left = w, right = -1;
    for (int y = std::max(area.Top, 0); y < std::min(area.Bottom, h); ++y) {
        const uint8_t* src = c.Bits() + static_cast<size_t>(y) * c.Stride();
        uint8_t* shown = mShown.data() + static_cast<size_t>(y) * c.Stride();
        if (!full && std::memcmp(src, shown, rowBytes) == 0) continue;
        int x0 = 0, x1 = w - 1;
        if (!full) {
            while (std::memcmp(src + x0 * bpp, shown + x0 * bpp, bpp) == 0) ++x0;
            while (std::memcmp(src + x1 * bpp, shown + x1 * bpp, bpp) == 0) --x1;
        }
        auto* dst = reinterpret_cast<QRgb*>(mImage.scanLine(y));
        if (bpp == 1) {
            for (int x = x0; x <= x1; ++x) dst[x] = table[src[x]];
        } else {
            for (int x = x0; x <= x1; ++x) {
                const uint8_t* p = src + 3 * x;
                dst[x] = qRgb(p[2], p[1], p[0]);
            }
        }
        std::memcpy(shown + x0 * bpp, src + x0 * bpp, static_cast<size_t>(x1 - x0 + 1) * bpp);
        top = std::min(top, y);
        bottom = y;
        left = std::min(left, x0);
        right = std::max(right, x1);
    }
    if (full) return rect();  // the frame may have changed as well
    if (bottom < 0) return {};
    return QRect(QPoint(left + inset, top + inset), QPoint(right + inset, bottom + inset));
}

void TMMLevel::paintEvent(QPaintEvent* event)
{
    ++mPaints;
    if (mDirty) {
        // Painted before the refresh clock came (grab, expose): compose now and
        // have the rest of the changed span follow.
        const QRegion rest = QRegion(compose()) - event->region();
        if (!rest.isEmpty()) update(rest);
    }

    QPainter p(this);
    const int inset = mCore.Bevel().TotalWidth();
    const QRect area = rect().adjusted(inset, inset, -inset, -inset);
    if (!area.contains(event->rect())) PaintBevel(p, rect(), mCore.Bevel());
    const QRect image = mImage.isNull() || inset != mInset ? QRect() : QRect(QPoint(inset, inset), mImage.size());
    if (!image.contains(area)) p.fillRect(area, ToQColor(mCore.Color()));
    if (image.isEmpty()) return;
    for (const QRect& r : event->region()) {
        const QRect t = r & image;
        if (!t.isEmpty()) p.drawImage(t, mImage, t.translated(-inset, -inset));
    }
}

void TMMLevel::resizeEvent(QResizeEvent*) { syncBounds(); }

void TMMLevel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange) mCore.setEnabled(isEnabled());
    QWidget::changeEvent(event);
}
