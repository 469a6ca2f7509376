// The wave-file open dialog: the preview panel follows the selection (info
// line, waveform, play button), playback runs on the simulated output and
// ends by itself, and confirming a file the parse refuses keeps the dialog open.
#include "audio/MMSimWaveOut.h"
#include "audio/qt/MMQtPoster.h"
#include "monitoring/qt/MMWaveOpenDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace {

void put16(std::vector<uint8_t>& v, uint32_t x)
{
    v.push_back(x & 0xFF);
    v.push_back((x >> 8) & 0xFF);
}
void put32(std::vector<uint8_t>& v, uint32_t x)
{
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}

std::string writeWave(const std::string& name, size_t frames)
{
    std::vector<uint8_t> v = {'R', 'I', 'F', 'F'};
    put32(v, static_cast<uint32_t>(36 + frames * 4));
    v.insert(v.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(v, 16);
    put16(v, 1);
    put16(v, 2);
    put32(v, 44100);
    put32(v, 176400);
    put16(v, 4);
    put16(v, 16);
    v.insert(v.end(), {'d', 'a', 't', 'a'});
    put32(v, static_cast<uint32_t>(frames * 4));
    for (size_t i = 0; i < frames * 2; ++i) put16(v, static_cast<uint16_t>(int16_t(9000 * std::sin(i / 20.0))));
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(v.data()), static_cast<long>(v.size()));
    return path;
}

template <typename F> bool waitFor(F done, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QTest::qWait(5);
    return done();
}

TEST(WaveOpenDialog, PreviewFollowsTheSelection)
{
    TMMQtPoster poster;
    poster.Install();
    TMMSimulatedWaveOut sim(1 << 20);
    TMMWaveOpenDialog dlg(nullptr, &sim);
    dlg.setTitle("Open Wave File");
    dlg.setFilter("Wave Files(*.wav)|*.wav");
    dlg.setFilterIndex(2);
    dlg.setPreview(true);
    EXPECT_EQ(dlg.Title(), "Open Wave File");
    EXPECT_EQ(dlg.nameFilters(), QStringList{"Wave Files(*.wav)"});
    EXPECT_EQ(dlg.DeviceID(), -1);
    EXPECT_FALSE(dlg.AutoPlay());
    EXPECT_EQ(dlg.Color(), QColor(Qt::black));
    EXPECT_EQ(dlg.ForeColor(), QColor(0, 255, 0));
    EXPECT_EQ(dlg.InfoLabel()->text(), "Unknown");
    EXPECT_FALSE(dlg.PlayButton()->isEnabled());

    const std::string path = writeWave("dialog.wav", 8820);  // 200 ms
    dlg.SelectionChanged(QString::fromStdString(path));
    ASSERT_TRUE(waitFor([&] { return dlg.InfoLabel()->text() != "Unknown"; }));
    EXPECT_EQ(dlg.InfoLabel()->text(), "PCM; 44100 Hz, 16 Bit, Stereo; 35 KB");
    EXPECT_TRUE(dlg.WaveView()->HasWave());
    EXPECT_TRUE(dlg.PlayButton()->isEnabled());

    dlg.PlayButton()->click();
    EXPECT_EQ(dlg.PlayButton()->text(), "Stop");
    EXPECT_EQ(dlg.PreviewOutput().BufferSize(), 32768);
    EXPECT_EQ(dlg.PreviewOutput().NumBuffers(), 10);
    ASSERT_TRUE(waitFor([&] { return dlg.PlayButton()->text() == "Play"; }));
    EXPECT_EQ(sim.Played(0).size(), 8820u * 4);
    EXPECT_FALSE(dlg.PreviewOutput().DeviceOpen());

    // Without the preview tick no waveform; a broken file shows "Unknown".
    dlg.setPreview(false);
    ASSERT_TRUE(waitFor([&] { return !dlg.WaveView()->HasWave(); }));
    const std::string bad = ::testing::TempDir() + "dialog_bad.wav";
    std::ofstream(bad) << "not a wave";
    dlg.SelectionChanged(QString::fromStdString(bad));
    ASSERT_TRUE(waitFor([&] { return dlg.InfoLabel()->text() == "Unknown"; }));
    EXPECT_FALSE(dlg.PlayButton()->isEnabled());

    // Auto play starts at once.
    sim.ClearPlayed(0);
    dlg.setAutoPlay(true);
    dlg.SelectionChanged(QString::fromStdString(path));
    EXPECT_TRUE(dlg.PreviewOutput().Playing());
    ASSERT_TRUE(waitFor([&] { return !dlg.PreviewOutput().DeviceOpen(); }));
}

TEST(WaveOpenDialog, ConfirmingAnInvalidFileKeepsTheDialogOpen)
{
    TMMSimulatedWaveOut sim(1 << 16);
    TMMWaveOpenDialog dlg(nullptr, &sim);
    QStringList shown;
    dlg.ShowMessage = [&](const QString& t) { shown << t; };
    const std::string bad = ::testing::TempDir() + "confirm_bad.wav";
    std::ofstream(bad) << "RIFF....WAVEjunk";
    dlg.show();
    dlg.selectFile(QString::fromStdString(bad));
    dlg.accept();
    EXPECT_EQ(shown, QStringList{"Invalid WaveFile..."});
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), 0);

    const std::string good = writeWave("confirm_good.wav", 100);
    dlg.selectFile(QString::fromStdString(good));
    dlg.accept();
    EXPECT_EQ(shown.size(), 1);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.FileName().toStdString(), good);
}

}  // namespace
