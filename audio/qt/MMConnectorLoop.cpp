#include "audio/qt/MMConnectorLoop.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QThread>
#include <QTimerEvent>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

class TMMConnectorEvent : public QEvent {
public:
    TMMConnectorEvent(int message, uint32_t id) : QEvent(static_cast<QEvent::Type>(message)), mId(id) {}
    uint32_t mId;
};

bool IsConnectorMessage(int t) { return t >= cmActivate && t <= cmHiTimerTick; }

// Nothing on screen: the peak tick's period.
constexpr int64_t kHiddenPeriodUs = 25000;
// How often the loop looks whether a window is shown.
constexpr int64_t kShownCheckUs = 500000;

}  // namespace

TMMConnectorQtLoop::TMMConnectorQtLoop(QObject* parent) : QObject(parent) { SetConnectorLoop(this); }

TMMConnectorQtLoop::~TMMConnectorQtLoop()
{
    mTimer.stop();
    if (&ConnectorLoop() == this) SetConnectorLoop(nullptr);
}

int64_t TMMConnectorQtLoop::NowMicros()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void TMMConnectorQtLoop::Post(int message, uint32_t id)
{
    QCoreApplication::postEvent(this, new TMMConnectorEvent(message, id));
}

int64_t TMMConnectorQtLoop::FramePeriodUs()
{
    if (mFixedPeriodUs > 0) return mFixedPeriodUs;
    const int64_t now = NowMicros();
    if (mShownChecked < 0 || now - mShownChecked >= kShownCheckUs) {
        mShownChecked = now;
        mShownPeriodUs = kHiddenPeriodUs;
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
            for (const QWindow* w : QGuiApplication::topLevelWindows()) {
                if (!w->isExposed()) continue;
                const QScreen* s = w->screen();
                const double hz = s ? s->refreshRate() : 60.0;
                const int64_t frame = std::clamp<int64_t>(std::llround(1e6 / (hz > 1.0 ? hz : 60.0)), 4000, 100000);
                mShownPeriodUs = std::min(mShownPeriodUs, frame);
            }
        }
    }
    return mShownPeriodUs;
}

// The one timer: due one frame after the last wake-up (absolute deadlines,
// so the rate does not drift), or at once when that moment has passed.
void TMMConnectorQtLoop::Arm()
{
    if (mTimer.isActive()) return;
    const int64_t now = NowMicros();
    const int64_t period = FramePeriodUs();
    if (mNextWake < 0 || now - mNextWake > period)
        mNextWake = now + period;
    else
        mNextWake += period;
    const int64_t waitUs = std::max<int64_t>(mNextWake - now, 0);
    mTimer.start(static_cast<int>((waitUs + 999) / 1000), Qt::PreciseTimer, this);
}

void TMMConnectorQtLoop::ScheduleLoopStep()
{
    mStepWanted = true;
    Arm();
}

bool TMMConnectorQtLoop::RequestFrame()
{
    mFrameWanted = true;
    Arm();
    return true;
}

void TMMConnectorQtLoop::ProcessMessages()
{
    // Bounded nesting: a handler reached from here may come back.
    if (mDepth > 2) return;
    ++mDepth;
    QCoreApplication::sendPostedEvents();
    --mDepth;
}

void TMMConnectorQtLoop::HandleOneMessage()
{
    if (mDepth > 2) return;
    ++mDepth;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    --mDepth;
}

bool TMMConnectorQtLoop::Terminating() { return QCoreApplication::closingDown() || !QCoreApplication::instance(); }

bool TMMConnectorQtLoop::OnLoopThread() { return QThread::currentThread() == thread(); }

void TMMConnectorQtLoop::ShowException(const std::exception& e)
{
    const QString text = QString::fromUtf8(e.what());
    if (OnError)
        OnError(text);
    else
        qCritical("%s", e.what());
}

void TMMConnectorQtLoop::ShowMessage(const std::string& text, const std::string& caption)
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        auto* box = new QMessageBox(QMessageBox::Warning, QString::fromStdString(caption),
                                    QString::fromStdString(text));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    } else {
        qWarning("%s: %s", caption.c_str(), text.c_str());
    }
}

void TMMConnectorQtLoop::RunStep()
{
    mInStep = true;
    ++mSteps;
    DispatchConnectorMessage(cmLoopStep, 0);
    mInStep = false;
}

bool TMMConnectorQtLoop::event(QEvent* e)
{
    if (IsConnectorMessage(e->type())) {
        if (e->type() == static_cast<QEvent::Type>(cmLoopStep)) {
            if (mInStep) {  // never nested: run it at the next wake-up
                ScheduleLoopStep();
                return true;
            }
            // The first step after an activation runs at once; it schedules
            // the next wake-up itself.
            RunStep();
            if (mFrameWanted && !mTimer.isActive()) Arm();
        } else {
            DispatchConnectorMessage(e->type(), static_cast<TMMConnectorEvent*>(e)->mId);
        }
        return true;
    }
    return QObject::event(e);
}

void TMMConnectorQtLoop::timerEvent(QTimerEvent* e)
{
    if (e->timerId() != mTimer.timerId()) return QObject::timerEvent(e);
    mTimer.stop();
    if (mInStep) {  // a nested event loop inside a step: the next wake-up
        Arm();
        return;
    }
    ++mWakeUps;
    const bool step = mStepWanted;
    mStepWanted = false;
    mFrameWanted = false;
    if (step) RunStep();
    RunFrameClients(NowMicros());
    // A step that scheduled no other, and clients that want no further
    // frame, leave the timer stopped (an idle program is not woken).
    if (mStepWanted || mFrameWanted) Arm();
}
