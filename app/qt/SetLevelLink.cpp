#include "app/qt/SetLevelLink.h"

#include "app/qt/StripPicture.h"
#include "metering/qt/MMLevel.h"
#include "metering/qt/MMLevelScale.h"
#include "metering/qt/uSet_Level.h"
#include "monitoring/qt/MMErrorReport.h"
#include "monitoring/qt/MMWaveOpenDialog.h"
#include "widgets/qt/MMLEDLbl.h"

#include <QLabel>

#include <ostream>

namespace {

void Move(QWidget* w, int top)
{
    if (w) w->move(w->x(), top);
}

void Height(QWidget* w, int h)
{
    if (w) w->resize(w->width(), h);
}

void Show(QWidget* w, bool visible)
{
    if (w) w->setVisible(visible);
}

// Error texts carry "\n\r" after their operation prefix: one line for stderr.
std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

}  // namespace

const TStrip* TMainMeterLink::Strip(int n) const
{
    return n >= 1 && n <= tv::kStrips ? &mStrips[static_cast<size_t>(n - 1)] : nullptr;
}

TMMCustomLevel* TMainMeterLink::Level(int n)
{
    const TStrip* s = Strip(n);
    return s && s->Bar ? &s->Bar->Core() : nullptr;
}

void TMainMeterLink::SetLevelTop(int n, int top)
{
    if (const TStrip* s = Strip(n)) Move(s->Bar, top);
}

void TMainMeterLink::SetScaleTop(int n, int top)
{
    if (const TStrip* s = Strip(n)) Move(s->Scale, top);
}

void TMainMeterLink::SetStripHeight(int n, int height)
{
    if (const TStrip* s = Strip(n)) {
        Height(s->Bar, height);
        Height(s->Picture, height);
        Height(s->Scale, height);
    }
}

void TMainMeterLink::SetPictureVisible(int n, bool visible)
{
    if (const TStrip* s = Strip(n)) Show(s->Picture, visible);
}

void TMainMeterLink::SetScaleVisible(int n, bool visible)
{
    if (const TStrip* s = Strip(n)) Show(s->Scale, visible);
}

void TMainMeterLink::SetScaleSensitivy(int n, int db)
{
    const TStrip* s = Strip(n);
    if (s && s->Scale) s->Scale->DrawStandard(db);
}

void TMainMeterLink::DrawPicture(int n, TMMScalePicture picture)
{
    const TStrip* s = Strip(n);
    if (s && s->Picture) s->Picture->DrawStandard(picture);
}

int TMainMeterLink::LabelTop() const
{
    const TStrip* s = Strip(1);
    return s && s->Label ? s->Label->y() : 0;
}

TColor TMainMeterLink::LabelColor(int n) const
{
    const TStrip* s = Strip(n);
    return s && s->Label ? s->Label->LEDColor() : clLime;
}

void TMainMeterLink::SetLabelColor(int n, TColor c)
{
    const TStrip* s = Strip(n);
    if (s && s->Label) s->Label->setLEDColor(c);
}

void TMainMeterLink::SetCaption(const std::string& text)
{
    if (mCaption) mCaption->setText(QString::fromStdString(text));
}

void TMainMeterLink::SetStayOnTop(bool on)
{
    if (OnStayOnTop) OnStayOnTop(on);
}

// The meter engine arms its detector's check itself.
void TMainMeterLink::SetSilenceCheck(bool) {}

void SetWindowStayOnTop(QWidget* window, bool on)
{
    if (!window || window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on) return;
    const bool visible = window->isVisible();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (visible) window->show();
}

// ---- alarm sound -------------------------------------------------------------

TSetLevelSound::TSetLevelSound(TfSetLevel& dialog)
    : mDialog(dialog)
{
    MMAudioPlayer1.setBufferSize(2048);
    MMAudioPlayer1.setNumBuffers(5);
    MMAudioPlayer1.setDeviceID(MapperId);
    MMAudioPlayer1.setCallBackMode(cmThread);

    mDialog.OnLoadAudioFile = [this] { LoadAudioFile(); };
}

TMMWaveOpenDialog* TSetLevelSound::MMWaveOpenDialog1()
{
    if (!mWaveOpenDialog1) {
        mWaveOpenDialog1 = new TMMWaveOpenDialog(&mDialog);
        mWaveOpenDialog1->setObjectName("MMWaveOpenDialog1");
        mWaveOpenDialog1->setTitle("Open Wave File");
        mWaveOpenDialog1->setFilter("Wave Files(*.wav)|*.wav");
        mWaveOpenDialog1->setFilterIndex(2);
        mWaveOpenDialog1->setPreview(true);
    }
    return mWaveOpenDialog1;
}

TSetLevelSound::~TSetLevelSound()
{
    mDialog.OnLoadAudioFile = nullptr;
    MMAudioPlayer1.OnStop = nullptr;  // the player stops as it goes; nobody waits for it
}

void TSetLevelSound::ShowFile() { mDialog.ChooseAlarmFile(QString::fromStdString(MMAudioPlayer1.FileName())); }

void TSetLevelSound::setFileName(const std::string& path)
{
    const std::string previous = MMAudioPlayer1.FileName();
    try {
        MMAudioPlayer1.setFileName(path);
    } catch (const EMMError&) {
        // A refused file has unloaded the previous one: load it again.
        try {
            MMAudioPlayer1.setFileName(previous);
        } catch (const EMMError&) {
        }
        ShowFile();
        throw;
    }
    ShowFile();
}

void TSetLevelSound::LoadAudioFile()
{
    if (!MMWaveOpenDialog1()->Execute()) return;
    try {
        setFileName(MMWaveOpenDialog1()->FileName().toStdString());
    } catch (const EMMError& e) {
        ShowErrorReport(&mDialog, QString::fromStdString(e.what()));
    }
}

bool TSetLevelSound::RestoreFile(const std::string& path, std::ostream& err)
{
    try {
        MMAudioPlayer1.setFileName(path);
    } catch (const EMMError& e) {
        err << "tarvolin: alarm sound file " << path << ": " << OneLine(e.what()) << "; no alarm sound loaded"
            << std::endl;
        ShowFile();
        return false;
    }
    ShowFile();
    if (!path.empty() && MMAudioPlayer1.FileName().empty()) {
        err << "tarvolin: alarm sound file " << path << " not found; no alarm sound loaded" << std::endl;
        return false;
    }
    return true;
}
