#include "audio/qt/MMConnectorLoop.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QMessageBox>
#include <QThread>
#include <QTimerEvent>

#include <chrono>

namespace {

class TMMConnectorEvent : public QEvent {
public:
    TMMConnectorEvent(int message, uint32_t id) : QEvent(static_cast<QEvent::Type>(message)), mId(id) {}
    uint32_t mId;
};

bool IsConnectorMessage(int t) { return t >= cmActivate && t <= cmHiTimerTick; }

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

void TMMConnectorQtLoop::ScheduleLoopStep()
{
    mStepWanted = true;
    if (!mTimer.isActive()) mTimer.start(1, Qt::PreciseTimer, this);
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

bool TMMConnectorQtLoop::event(QEvent* e)
{
    if (IsConnectorMessage(e->type())) {
        if (e->type() == static_cast<QEvent::Type>(cmLoopStep)) {
            if (mInStep) {  // never nested: run it as the next step
                ScheduleLoopStep();
                return true;
            }
            mInStep = true;
            ++mSteps;
            DispatchConnectorMessage(cmLoopStep, 0);
            mInStep = false;
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
    if (mInStep) return;
    if (!mStepWanted) {
        mTimer.stop();
        return;
    }
    mStepWanted = false;
    mInStep = true;
    ++mSteps;
    DispatchConnectorMessage(cmLoopStep, 0);
    mInStep = false;
    // A step that did not ask for another ends the loop (no busy timer).
    if (!mStepWanted) mTimer.stop();
}
