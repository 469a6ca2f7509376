// The loudness window over the main window's recorders (simulated devices on
// the manual clock, offscreen): the reading of the reference tone, each
// pair and the sum measured on their own, no feeding while closed or
// paused, reset, and the window's place and choices in the settings.
#include "app/StoreAccess.h"
#include "app/qt/MainAudio.h"
#include "app/qt/MainLoudness.h"
#include "audio/MMNotify.h"
#include "audio/MMSimWaveIn.h"
#include "audio/MMWavIn.h"
#include "audio/qt/MMConnectorLoop.h"
#include "base/TvConstants.h"
#include "metering/qt/uLoudness.h"

#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPoint>
#include <QPushButton>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace {

constexpr int kRate = 48000;

struct Rig {
    TMMSimulatedWaveIn device{TMMSimulatedWaveIn::Clock::Manual};
    std::unique_ptr<TMMConnectorQtLoop> loop = std::make_unique<TMMConnectorQtLoop>();
    std::unique_ptr<TMainAudio> audio;
    TMemoryStore store;
    int active = 2;
    std::unique_ptr<TfLoudness> window;
    std::unique_ptr<TMainLoudness> link;

    Rig()
    {
        // EBU Tech 3341 case 1: a stereo 1 kHz sine at -23 dBFS reads -23.0 LUFS.
        device.SetSignal(0, "sine:1000:-23/sine:1000:-23");
        device.SetSignal(1, "sine:1000:-33/sine:1000:-33");
        SetMainCaptureDevice(&device);
        audio = std::make_unique<TMainAudio>();
        for (int k = 1; k <= 2; ++k) {
            audio->SetDevice(k, k - 1);
            audio->SetSampleRate(k, kRate);
            audio->Start(k);
        }
        window = std::make_unique<TfLoudness>();
        link = std::make_unique<TMainLoudness>(*window, *audio, store, [this] { return active; });
    }
    ~Rig()
    {
        link.reset();
        window.reset();
        audio.reset();
        SetMainCaptureDevice(nullptr);
    }
    // `seconds` of audio on both devices, handed to the GUI thread one
    // window tick at a time.
    void Play(double seconds)
    {
        constexpr int kStep = kRate * TfLoudness::TickMs / 1000;
        for (int i = 0; i < static_cast<int>(seconds * 1000 / TfLoudness::TickMs + 0.5); ++i) {
            device.PumpFrames(0, kStep);
            device.PumpFrames(1, kStep);
            WindowPoster().ProcessMessages();
            if (window->Ticking()) window->Tick();  // its timer's tick
        }
    }
};

TEST(LoudnessWindow, MeasuresEachSourceOnItsOwnOnlyWhileShown)
{
    Rig rig;
    TfLoudness& w = *rig.window;
    rig.Play(1);
    EXPECT_EQ(w.Meter().SampleRate(), 48000);
    EXPECT_FALSE(std::isfinite(w.Meter().Integrated())) << "fed while closed";
    EXPECT_EQ(w.labIntegrated()->text(), "--- LUFS");

    EXPECT_FALSE(w.Ticking());
    w.show();
    EXPECT_TRUE(w.Measuring());
    EXPECT_TRUE(w.Ticking());
    rig.Play(10);
    EXPECT_NEAR(w.Meter().Integrated(), -23.0, 0.1);
    EXPECT_NEAR(w.Meter().ShortTerm(), -23.0, 0.1);
    EXPECT_EQ(w.labIntegrated()->text(), "-23.0 LUFS");
    EXPECT_NEAR(w.Meter().TruePeak(), -23.0, 0.2);
    EXPECT_NEAR(w.Meter().Range(), 0.0, 0.1);
    EXPECT_EQ(w.Meter().History().size(), 40u);

    // Only the source shown is measured; each goes on where it stopped.
    // Pair 2 reads 10 dB lower; the sum of the two pairs adds their powers:
    // -23 LUFS and -33 LUFS read -22.59 LUFS. The plot starts anew with
    // each source.
    w.cbSource()->setCurrentIndex(2);
    EXPECT_EQ(w.Source(), 2);
    EXPECT_TRUE(w.Meter().History().empty());
    rig.Play(5);
    EXPECT_NEAR(w.Meter().Integrated(), -33.0, 0.1);
    w.cbSource()->setCurrentIndex(TfLoudness::SumSource);
    rig.Play(5);
    EXPECT_NEAR(w.Meter().Integrated(), 10 * std::log10(std::pow(10, -2.3) + std::pow(10, -3.3)), 0.1);
    w.setSource(1);
    EXPECT_NEAR(w.Meter().Integrated(), -23.0, 0.1);

    // Paused, or closed: nothing is fed and the readout timer stops.
    w.btnPause()->click();
    EXPECT_FALSE(w.Measuring());
    EXPECT_FALSE(w.Ticking());
    EXPECT_EQ(w.btnPause()->text(), "Continue");
    w.Reset();
    rig.Play(2);
    EXPECT_FALSE(std::isfinite(w.Meter().Integrated()));
    w.btnPause()->click();
    rig.Play(2);
    EXPECT_TRUE(std::isfinite(w.Meter().Integrated()));
    w.close();
    EXPECT_FALSE(w.Measuring());
    EXPECT_FALSE(w.Ticking());
    w.btnReset()->click();
    rig.Play(2);
    EXPECT_FALSE(std::isfinite(w.Meter().Integrated())) << "fed while closed";
    EXPECT_TRUE(w.Meter().History().empty());
}

TEST(LoudnessWindow, TargetMarksAndReadouts)
{
    Rig rig;
    TfLoudness& w = *rig.window;
    w.show();
    rig.Play(4);
    // On target at -23 (green), off target at -16.
    const QColor on = w.labShortTerm()->palette().color(QPalette::WindowText);
    w.cbTarget()->setCurrentIndex(2);
    EXPECT_EQ(w.Target(), -16);
    EXPECT_FALSE(w.Meter().OnTarget(w.Meter().ShortTerm()));
    EXPECT_NE(w.labShortTerm()->palette().color(QPalette::WindowText), on);
    w.setTarget(-20);  // not a choice: -23
    EXPECT_EQ(w.Target(), -23);
    EXPECT_EQ(w.cbTarget()->currentIndex(), 0);

    // The plot follows the target: -23 +9 LU at the top edge, -18 LU at the
    // bottom (the range rule itself is tested with the Qt-free code).
    const TLoudnessHistoryView& h = *w.History();
    EXPECT_EQ(h.BottomLufs(), -41);
    EXPECT_GE(h.TopLufs(), -14);
    w.setTarget(-14);
    EXPECT_EQ(h.BottomLufs(), -32);
    EXPECT_GE(h.TopLufs(), -5);
    EXPECT_FALSE(w.grab().isNull());

    EXPECT_EQ(LoudnessReadout(-23.04, "LUFS"), "-23.0 LUFS");
    EXPECT_EQ(LoudnessReadout(-0.04, "dBTP"), "0.0 dBTP");
    EXPECT_EQ(LoudnessReadout(NAN, "LU"), "--- LU");
}

TEST(LoudnessWindow, PlaceAndChoicesAreKept)
{
    Rig rig;
    TfLoudness& w = *rig.window;
    // Nothing stored: pair 1, -23 LUFS, closed.
    rig.link->Restore();
    EXPECT_EQ(w.Source(), 1);
    EXPECT_EQ(w.Target(), -23);
    EXPECT_FALSE(w.isVisible());

    w.setSource(TfLoudness::SumSource);
    w.setTarget(-14);
    w.move(40, 30);
    rig.link->Show();
    rig.link->Save();
    EXPECT_EQ(rig.store.ReadInt("Loudness Source", 9), 0);
    EXPECT_EQ(rig.store.ReadInt("Loudness Target", 9), -14);
    EXPECT_TRUE(rig.store.ReadBool("Loudness Visible", false));

    TfLoudness again;
    TMainLoudness link(again, *rig.audio, rig.store, [] { return 1; });
    link.Restore();
    EXPECT_EQ(again.Source(), TfLoudness::SumSource);
    EXPECT_EQ(again.Target(), -14);
    EXPECT_TRUE(again.isVisible());
    EXPECT_EQ(again.pos(), QPoint(40, 30));
    again.close();

    // Damaged values read as the defaults; a place off every screen stays unused.
    rig.store.WriteInt("Loudness Source", 99);
    rig.store.WriteText("Loudness Target", "loud");
    rig.store.WriteInt("Loudness Left", -20000);
    again.move(60, 50);
    link.Restore();
    EXPECT_EQ(again.Source(), 1);
    EXPECT_EQ(again.Target(), -23);
    EXPECT_EQ(again.pos(), QPoint(60, 50));
}

// The plot draws the short-term curve at its loudness. With TARVOLIN_DOCS_DIR
// set, five minutes of programme-like music make the README's picture.
TEST(LoudnessWindow, PlotsTheShortTermCurve)
{
    Rig rig;
    rig.device.SetSignal(0, "music:-15");
    TfLoudness& w = *rig.window;
    w.resize(440, 460);
    w.show();
    const char* docs = std::getenv("TARVOLIN_DOCS_DIR");
    rig.Play(docs ? 300 : 20);
    ASSERT_FALSE(w.Meter().History().empty());
    const double last = w.Meter().History().back();
    ASSERT_TRUE(std::isfinite(last));

    TLoudnessHistoryView& h = *w.History();
    const QImage plot = h.grab().toImage();
    const double dpr = plot.devicePixelRatio();
    const int x = static_cast<int>((h.width() - 2) * dpr);
    const int y = static_cast<int>(LoudnessPlotY(last, h.Range(), h.height()) * dpr);
    bool curve = false;
    for (int dy = -2; dy <= 2; ++dy)
        curve = curve || qGray(plot.pixel(x, std::clamp(y + dy, 0, plot.height() - 1))) > 200;
    EXPECT_TRUE(curve) << "no curve at " << last << " LUFS";

    if (docs) {
        EXPECT_TRUE(w.grab().save(QDir(docs).filePath("loudness.png")));
    }
}

}  // namespace
