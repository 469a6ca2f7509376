#include "app/qt/MainSilence.h"

#include "app/qt/StripPicture.h"
#include "app/qt/uMain.h"
#include "metering/qt/MMLevel.h"
#include "metering/uSet_Level_core.h"
#include "monitoring/qt/MMErrorReport.h"
#include "monitoring/qt/MMSilenceLocale.h"
#include "widgets/qt/MMLEDLbl.h"

#include <QMessageBox>

TMainSilence::TMainSilence(TfMain& main, TSetLevelCore& settings, QTimer* timerOff, QTimer* timerOn, QTimer* reset)
    : mMain(main), mSettings(settings), mTimerOff(timerOff), mTimerOn(timerOn), mReset(reset)
{
    TMMSilenceDetector::Timers t;
    t.TimerOff = &mTimerOff;
    t.TimerOn = &mTimerOn;
    t.Reset = &mReset;
    for (int n = 1; n <= tv::kStrips; ++n) {
        mStrips[n - 1].setTimer(main.SilenceTimer(n));
        t.Strip[n - 1] = &mStrips[n - 1];
    }
    mDetector = std::make_unique<TMMSilenceDetector>(*this, *this, t);
    mDetector->setPlayer(&mSound);

    TMMSilenceDetector* d = mDetector.get();
    QObject::connect(timerOff, &QTimer::timeout, &mConnections, [d] { d->TimerOffTick(); });
    QObject::connect(timerOn, &QTimer::timeout, &mConnections, [d] { d->TimerOnTick(); });
    for (int n = 1; n <= tv::kStrips; ++n)
        if (QTimer* s = main.SilenceTimer(n))
            QObject::connect(s, &QTimer::timeout, &mConnections, [d, n] { d->StripTick(n); });
    // t_reset's own handler ticks "Play Sound File" again and disarms it.
}

int TMainSilence::ModeIndex() { return mMain.InputMode(); }
int TMainSilence::ActiveChannelCount() { return mMain.ActiveChannelCount(); }
bool TMainSilence::LoggingOn() { return mMain.LoggingOn(); }

int TMainSilence::SilenceLevel(int n)
{
    const TMMLevel* l = mMain.Level(n);
    return l ? l->Core().SilenceHeld() : 0;
}

void TMainSilence::RestartSilenceLevels()
{
    for (int n = 1; n <= tv::kStrips; ++n)
        if (TMMLevel* l = mMain.Level(n)) l->Core().RestartSilenceHold();
}

std::string TMainSilence::LabelText(int n)
{
    const TMMLEDLABEL* l = mMain.Label(n);
    return l ? l->Caption().toStdString() : std::string();
}

void TMainSilence::SetLabelInactiveColor(int n, TColor c)
{
    if (TMMLEDLABEL* l = mMain.Label(n)) l->setInactiveColor(c);
}

void TMainSilence::SetLabelVisible(int n, bool visible)
{
    if (TMMLEDLABEL* l = mMain.Label(n)) l->setVisible(visible);
}

void TMainSilence::SetLabelEnabled(int n, bool enabled)
{
    if (TMMLEDLABEL* l = mMain.Label(n)) l->setEnabled(enabled);
}

void TMainSilence::DrawAlarm(int n)
{
    if (TStripPicture* p = mMain.Picture(n)) p->DrawAlarm();
    // Digital PPM and Peak dBFS show the scale widget instead of the picture.
    if (TStripScale* s = mMain.Scale(n); s && !s->isHidden()) s->DrawAlarm();
}

void TMainSilence::ReapplyStandard() { mMain.RedrawScales(); }

void TMainSilence::ReportError(const std::string& text)
{
    // A failing alarm sound fails again at every alarm tick of every strip
    // in alarm: while a report of the same failure is still open, it stands
    // for them all.
    const QString t = QString::fromStdString(text);
    for (const QMessageBox* box : mMain.findChildren<QMessageBox*>(QString(), Qt::FindDirectChildrenOnly))
        if (box->isVisible() && box->text() == t) return;
    ShowErrorReport(&mMain, t);
}

int64_t TMainSilence::NowMs() { return SilenceNowMs(); }
std::string TMainSilence::DateTimeText(int64_t ms) { return SilenceDateTimeText(ms); }
char TMainSilence::DecimalSeparator() { return SilenceDecimalSeparator(); }

bool TMainSilence::Detect() const { return mSettings.Detect(); }
int TMainSilence::ThresholdAmplitude() const { return mSettings.ThresholdAmplitude(); }
int TMainSilence::AlarmSeconds() const { return mSettings.AlarmSeconds(); }
bool TMainSilence::PlaySound() const { return mSettings.PlaySound(); }
void TMainSilence::setPlaySound(bool on) { mSettings.setPlaySound(on); }
