#include "audio/qt/MMConnectorLoop.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QMessageBox>
#include <QThread>

namespace {

class TMMConnectorEvent : public QEvent {
public:
    TMMConnectorEvent(int message, uint32_t id) : QEvent(static_cast<QEvent::Type>(message)), mId(id) {}
    uint32_t mId;
};

bool IsConnectorMessage(int t) { return t >= cmActivate && t <= cmHiTimerTick; }

}  // namespace

TMMConnectorQtLoop::TMMConnectorQtLoop(QObject* parent) : QObject(parent)
{
    mClock.OnBusy = [this] { return mInStep; };  // a nested event loop inside a step
    mClock.OnWake = [this] {
        const bool step = mStepWanted;
        mStepWanted = false;
        if (step) RunStep();
    };
    SetConnectorLoop(this);
}

TMMConnectorQtLoop::~TMMConnectorQtLoop()
{
    if (&ConnectorLoop() == this) SetConnectorLoop(nullptr);
}

int64_t TMMConnectorQtLoop::NowMicros() { return TMMDisplayClock::NowMicros(); }

void TMMConnectorQtLoop::Post(int message, uint32_t id)
{
    QCoreApplication::postEvent(this, new TMMConnectorEvent(message, id));
}

void TMMConnectorQtLoop::ScheduleLoopStep()
{
    mStepWanted = true;
    mClock.Arm();
}

bool TMMConnectorQtLoop::RequestFrame()
{
    mClock.RequestFrame();
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
            if (mClock.FrameWanted()) mClock.Arm();
        } else {
            DispatchConnectorMessage(e->type(), static_cast<TMMConnectorEvent*>(e)->mId);
        }
        return true;
    }
    return QObject::event(e);
}
