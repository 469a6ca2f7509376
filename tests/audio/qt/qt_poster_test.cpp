// Buffers from the real-time simulated device reach the recorder's chain on
// the GUI thread through the Qt event loop.
#include "audio/MMSimWaveIn.h"
#include "audio/MMWavIn.h"
#include "audio/qt/MMQtPoster.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

TEST(QtPoster, DeliversOnTheGuiThreadAtTheDeviceRate)
{
    TMMQtPoster poster;
    poster.Install();
    TMMSimulatedWaveIn sim(TMMSimulatedWaveIn::Clock::RealTime);
    TMMWaveIn rec(sim);
    rec.setNumBuffers(5);
    rec.setMode(mStereo);
    rec.setBitLength(b16Bit);
    rec.setSampleRate(48000);
    int buffers = 0;
    int partial = 0;
    bool offThread = false;
    QThread* gui = QThread::currentThread();
    rec.OnBufferReady = [&](TMMCustomDSPComponent*, PWaveHdr h) {
        ++buffers;
        offThread = offThread || QThread::currentThread() != gui;
        if (h->dwBytesRecorded != 2048u) ++partial;
    };
    rec.Start();
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(500, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    const double seconds = clock.elapsed() / 1000.0;
    EXPECT_EQ(partial, 0);
    rec.Close();  // may hand on one partly filled buffer
    EXPECT_LE(partial, 1);
    EXPECT_FALSE(offThread);
    // 48000 frames/s in 512-frame buffers: 93.75 per second.
    EXPECT_NEAR(buffers / seconds, 93.75, 15.0);
    EXPECT_EQ(poster.Dropped(), 0u);
}

}  // namespace
