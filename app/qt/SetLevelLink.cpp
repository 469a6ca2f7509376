#include "app/qt/SetLevelLink.h"

#include "app/qt/StripPicture.h"
#include "metering/qt/MMLevel.h"
#include "metering/qt/MMLevelScale.h"
#include "widgets/qt/MMLEDLbl.h"

#include <QLabel>

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
    if (s && s->Scale) s->Scale->setSensitivy(db);
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

void TMainMeterLink::SetSilenceCheck(bool on)
{
    if (OnSilenceCheck) OnSilenceCheck(on);
}

void SetWindowStayOnTop(QWidget* window, bool on)
{
    if (!window || window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on) return;
    const bool visible = window->isVisible();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (visible) window->show();
}
