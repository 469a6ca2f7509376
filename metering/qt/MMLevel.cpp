#include "metering/qt/MMLevel.h"

#include "audio/MMConnectorLoop.h"
#include "base/qt/MMBevelPaint.h"

#include <QCoreApplication>
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

// The bars ride on the connectors' loop, the one clock of the GUI thread
// (audio/qt/MMConnectorLoop): at each of its wake-ups, after the trigger
// cycles, the bars that changed are composed together, so their repaints land
// in one pass of the window's backing store, and the 25 ms peak ticks that
// have become due run. A loop that drives no frames (tests, tools) is stood in
// for by a timer of the bars' own.
class TMMLevelClock : public TMMFrameClient {
public:
    static TMMLevelClock& Get()
    {
        static TMMLevelClock c;
        return c;
    }

    void Queue(TMMLevel* bar)
    {
        if (bar->mQueued) return;
        bar->mQueued = true;
        mQueue.push_back(bar);
        Want(bar->mFrameMs);
    }

    void Add(TMMLevel* bar) { mBars.push_back(bar); }

    void Remove(TMMLevel* bar)
    {
        std::replace(mQueue.begin(), mQueue.end(), bar, static_cast<TMMLevel*>(nullptr));
        std::replace(mRunning.begin(), mRunning.end(), bar, static_cast<TMMLevel*>(nullptr));
        mBars.erase(std::remove(mBars.begin(), mBars.end(), bar), mBars.end());
    }

    // A bar holds a peak that the ticks must move.
    void WantTicks(int frameMs) { Want(frameMs); }

    void Frame(int64_t nowUs) override
    {
        runTicks(nowUs);
        mRunning.swap(mQueue);  // both keep their capacity: no allocation per frame
        for (size_t i = 0; i < mRunning.size(); ++i) {
            TMMLevel* bar = mRunning[i];
            if (!bar) continue;
            bar->mQueued = false;
            bar->refreshFrame();
        }
        mRunning.clear();
        if (!mQueue.empty() || mTicking) Want(mFrameMs);
    }

private:
    TMMLevelClock() { AddFrameClient(this); }
    ~TMMLevelClock() override { RemoveFrameClient(this); }

    void Want(int frameMs)
    {
        mFrameMs = std::min(mFrameMs, frameMs);
        if (ConnectorLoop().RequestFrame()) return;
        if (!mTimer) {
            if (!QCoreApplication::instance()) return;
            mTimer = new QTimer(QCoreApplication::instance());
            mTimer->setSingleShot(true);
            mTimer->setTimerType(Qt::PreciseTimer);
            QObject::connect(mTimer, &QTimer::timeout, mTimer, [] { RunFrameClients(ConnectorLoop().NowMicros()); });
        }
        if (!mTimer->isActive()) mTimer->start(mFrameMs);
    }

    // Every 25 ms of the clock since the ticks began is one tick of every bar
    // that holds a peak; ticks stop while none does.
    void runTicks(int64_t nowUs)
    {
        constexpr int64_t period = int64_t{TMMTimerList::PeriodMs} * 1000;
        if (!mTicking) {
            mTicking = anyPeak();
            mTickStart = nowUs;
            return;
        }
        while (nowUs - mTickStart >= period) {
            mTickStart += period;
            for (size_t i = 0; i < mBars.size(); ++i) mBars[i]->peakTick();
        }
        mTicking = anyPeak();
    }

    bool anyPeak() const
    {
        for (const TMMLevel* bar : mBars)
            if (bar->mCore->TickWanted() && bar->mCore->PeakSpot() > 0) return true;
        return false;
    }

    std::vector<TMMLevel*> mQueue, mRunning, mBars;
    QPointer<QTimer> mTimer;
    int mFrameMs = 100;
    bool mTicking = false;
    int64_t mTickStart = 0;
};

TMMLevel::TMMLevel(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(mCore->Width(), mCore->Height());

    const QScreen* s = screen();
    const double hz = s ? s->refreshRate() : 60.0;
    mFrameMs = std::clamp(static_cast<int>(std::lround(1000.0 / (hz > 1.0 ? hz : 60.0))), 4, 100);

    bindCore();
    TMMLevelClock::Get().Add(this);
}

TMMLevel::~TMMLevel()
{
    TMMLevelClock::Get().Remove(this);
    unbindCore();
}

void TMMLevel::bindCore()
{
    mCore->OnInvalidate = [this] { scheduleRepaint(); };
    mCore->OnBoundsChange = [this](int w, int h) { resize(w, h); };
    mCore->OnTickWanted = [this](bool wanted) {
        if (wanted && mCore->PeakSpot() > 0) TMMLevelClock::Get().WantTicks(mFrameMs);
    };
}

void TMMLevel::unbindCore()
{
    mCore->OnInvalidate = nullptr;
    mCore->OnBoundsChange = nullptr;
    mCore->OnTickWanted = nullptr;
}

void TMMLevel::setCore(TMMCustomLevel* core)
{
    if (!core) core = &mOwnCore;
    if (core == mCore) return;
    const bool visible = mCore->Visible();
    unbindCore();
    mCore = core;
    bindCore();
    mCore->setVisible(visible);
    mCore->setEnabled(isEnabled());
    syncBounds();
    mImage = QImage();  // the next frame converts the whole bar
    scheduleRepaint();
}

void TMMLevel::peakTick()
{
    if (!mCore->TickWanted() || mCore->PeakSpot() <= 0) return;
    mCore->PeakTick();
    // A falling peak shows at the next refresh even when no block follows.
    if (mCore->DrawNeeded()) scheduleRepaint();
}

void TMMLevel::setVisible(bool visible)
{
    QWidget::setVisible(visible);
    mCore->setVisible(visible);
}

void TMMLevel::scheduleRepaint()
{
    mDirty = true;
    TMMLevelClock::Get().Queue(this);
}

void TMMLevel::refreshFrame()
{
    if (!mDirty || !isVisible()) return;
    if (!mCore->DrawNeeded() && !mImage.isNull()) {  // moved and came back within the frame
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
    const int inset = mCore->Bevel().TotalWidth();
    const TMMDIBCanvas& c = mCore->WorkCanvas();
    const int w = c.Width(), h = c.Height();
    // Anything but a move of the bar or peak (a property, the size, the
    // frame) converts and repaints the whole bar.
    const bool full = mCore->PropertiesChanged() || mImage.width() != w || mImage.height() != h ||
                      inset != mInset || c.BitCount() != mShownBits;
    const TMMRect area = full ? TMMRect{0, 0, w, h} : mCore->ChangedArea();
    try {
        if (full)
            mCore->DrawLevel();
        else
            mCore->DrawLevel(area);
    } catch (const EMMError& e) {  // from an OnDrawBar handler: the area shows the background colour
        qWarning("TMMLevel: %s", e.what());
        mImage = QImage();
        return rect();
    }
    if (w <= 0 || h <= 0) {
        mImage = QImage();
        return rect();
    }
    if (full) {
        if (mImage.width() != w || mImage.height() != h) mImage = QImage(w, h, QImage::Format_RGB32);
        mInset = inset;
        mShownBits = c.BitCount();
    }
    // The image is the one copy of what is shown: a row's pixels are
    // converted and compared with it, and only the span that differs is
    // written and repainted.
    const int bpp = c.BitCount() / 8;
    const auto& table = pixelTable();
    auto pixel = [&](const uint8_t* row, int x) -> QRgb {
        if (bpp == 1) return table[row[x]];
        const uint8_t* p = row + 3 * x;
        return qRgb(p[2], p[1], p[0]);
    };
    int top = h, bottom = -1, left = w, right = -1;
    for (int y = std::max(area.Top, 0); y < std::min(area.Bottom, h); ++y) {
        const uint8_t* src = c.Bits() + static_cast<size_t>(y) * c.Stride();
        auto* dst = reinterpret_cast<QRgb*>(mImage.scanLine(y));
        int x0 = 0, x1 = w - 1;
        if (!full) {
            while (x0 < w && pixel(src, x0) == dst[x0]) ++x0;
            if (x0 == w) continue;
            while (pixel(src, x1) == dst[x1]) --x1;
        }
        for (int x = x0; x <= x1; ++x) dst[x] = pixel(src, x);
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
    const int inset = mCore->Bevel().TotalWidth();
    const QRect area = rect().adjusted(inset, inset, -inset, -inset);
    if (!area.contains(event->rect())) PaintBevel(p, rect(), mCore->Bevel());
    const QRect image = mImage.isNull() || inset != mInset ? QRect() : QRect(QPoint(inset, inset), mImage.size());
    if (!image.contains(area)) p.fillRect(area, ToQColor(mCore->Color()));
    if (image.isEmpty()) return;
    for (const QRect& r : event->region()) {
        const QRect t = r & image;
        if (!t.isEmpty()) p.drawImage(t, mImage, t.translated(-inset, -inset));
    }
}

void TMMLevel::resizeEvent(QResizeEvent*) { syncBounds(); }

void TMMLevel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange) mCore->setEnabled(isEnabled());
    QWidget::changeEvent(event);
}
