// The correlation window offscreen, over fake recorders and a store in memory.
// TARVOLIN_CORRELATION_SHOT=FILE also saves a picture of the expanded window.
#include "correlation/qt/uCorre.h"

#include "audio/MMNotify.h"
#include "base/qt/MMBevelPaint.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <vector>

namespace {

struct FakeHost : TCorrelationHost {
    std::vector<std::string> log;
    std::array<TMMDSPComponent, 6> connectors;
    std::map<std::string, int> stored;
    int failStart = 0;
    void CloseRecorder(int k) override { log.push_back("close" + std::to_string(k)); }
    void StartRecorder(int k) override
    {
        if (k == failStart) throw std::runtime_error("WaveInStart: no device");
        log.push_back("start" + std::to_string(k));
    }
    TMMDSPComponent& Connector(int k) override { return connectors[static_cast<size_t>(k - 1)]; }
    int ReadInt(const std::string& name, int def) override
    {
        const auto it = stored.find(name);
        return it == stored.end() ? def : it->second;
    }
};

// 198 stereo frames: left a sine, right the same shifted by `phase` and
// scaled by `gain`.
std::vector<int16_t> Frames(double phase, double gain = 1)
{
    std::vector<int16_t> f;
    for (int i = 0; i < 198; ++i) {
        const double x = i * 2 * M_PI / 39.7;
        f.push_back(static_cast<int16_t>(std::lround(16000 * std::sin(x))));
        f.push_back(static_cast<int16_t>(std::lround(16000 * gain * std::sin(x + phase))));
    }
    return f;
}

void Feed(TfCorre& w, const std::vector<int16_t>& frames, int steps)
{
    w.os_l()->Scope().AcceptSamples(frames.data());
    w.os_r()->Scope().AcceptSamples(frames.data());
    for (int i = 0; i < steps; ++i) w.mConnectCoreTrigger();
}

QColor StripPixel(TfCorre& w, int x, int y)
{
    return w.Image4()->grab().toImage().pixelColor(x, y);
}

TEST(CorreWindow, LayoutSetButtonAndRestoredPlaceAndSpeed)
{
    FakeHost h;
    h.stored = {{"wtop", 40}, {"wleft", 30}, {"speed", 0}};
    TfCorre w(h);
    EXPECT_EQ(w.windowTitle(), "Correlation");
    EXPECT_EQ(w.OuterHeight(), 138);
    EXPECT_EQ(w.Image4()->geometry(), QRect(169, 48, 300, 16));
    EXPECT_EQ(w.Image3()->geometry(), QRect(160, 25, 328, 24));
    EXPECT_EQ(w.os_l()->geometry(), QRect(1, -199, 200, 200));
    EXPECT_EQ(w.os_r()->geometry(), QRect(200, -199, 200, 200));
    EXPECT_EQ(w.os_l()->Scope().Columns(), 198);
    EXPECT_EQ(w.os_r()->Scope().Channel(), chRight);
    EXPECT_TRUE(w.os_r()->Scope().Locked());
    EXPECT_EQ(w.Lab_Min()->text(), "0");
    EXPECT_EQ(w.lab_cor_p()->text(), "100 %");
    EXPECT_EQ(w.lab_cor_p2()->text(), "0 %");
    EXPECT_EQ(w.rg_channel()->Button(0)->text(), "Channel 1 && 2");  // shows one '&'
    EXPECT_EQ(w.rg_channel()->ItemIndex(), 0);
    EXPECT_EQ(w.t_corre()->interval(), 200);
    EXPECT_TRUE(w.t_corre()->isActive());
    EXPECT_TRUE(w.Timer1()->isActive());
    EXPECT_EQ(w.TappedPair(), 1);
    EXPECT_FALSE(w.Correlation().SpeedApplied());

    w.show();
    EXPECT_EQ(w.pos(), QPoint(30, 40));
    EXPECT_EQ(w.SpeedIndex(), 0);
    EXPECT_EQ(w.Correlation().N(), 30);

    QTest::mouseClick(w.Button1(), Qt::LeftButton);
    EXPECT_EQ(w.OuterHeight(), 275);
    EXPECT_TRUE(w.rg_correlation()->isVisible());
    // The user picks " SLOW".
    w.rg_correlation()->Button(2)->click();
    EXPECT_EQ(w.Correlation().N(), 290);
    EXPECT_EQ(w.Correlation().Fill(), 0);
    QTest::mouseClick(w.Button1(), Qt::LeftButton);
    EXPECT_EQ(w.OuterHeight(), 133);

    // Stored values that are missing or out of range.
    FakeHost h2;
    h2.stored = {{"speed", 9}, {"wleft", -100000}};
    TfCorre w2(h2);
    w2.show();
    EXPECT_EQ(w2.SpeedIndex(), 2);
    EXPECT_EQ(w2.pos(), QPoint(0, 0));  // on no screen
    FakeHost h3;
    TfCorre w3(h3);
    w3.show();
    EXPECT_TRUE(w3.Correlation().SpeedApplied());  // applied though unchanged
    EXPECT_EQ(w3.Correlation().N(), 150);
}

TEST(CorreWindow, EdgeCasesOnLabelsAndStrip)
{
    FakeHost h;
    TfCorre w(h);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    // Identical channels.
    Feed(w, Frames(0), 151);
    EXPECT_EQ(w.Lab_Max()->text(), "   1.00");
    EXPECT_EQ(w.Strip().MarkerColumn(), 296);
    EXPECT_EQ(StripPixel(w, 297, 0), QColor(Qt::green));
    EXPECT_EQ(StripPixel(w, 297, 7), QColor(Qt::yellow));

    // A click on the panel resets the extremes, not their texts.
    QTest::mouseClick(w.Image1(), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(w.Correlation().Maximum(), 0.0);
    EXPECT_EQ(w.Lab_Max()->text(), "   1.00");

    // Left = -right.
    Feed(w, Frames(0, -1), 151);
    EXPECT_EQ(w.Lab_Min()->text(), "  -1.00");
    EXPECT_EQ(w.Strip().MarkerColumn(), 4);
    EXPECT_EQ(StripPixel(w, 4, 10), QColor(Qt::red));

    // One side silent.
    Feed(w, Frames(0, 0), 151);
    EXPECT_EQ(w.Correlation().Mean(), 0.0);
    EXPECT_EQ(w.Strip().MarkerColumn(), 150);
    EXPECT_EQ(StripPixel(w, 150, 0), QColor(Qt::yellow));

    // Hidden, the scopes take nothing: the steps average the last values.
    w.hide();
    Feed(w, Frames(0), 151);
    EXPECT_EQ(w.Correlation().Mean(), 0.0);
    EXPECT_EQ(w.Correlation().Steps(), 4u * 151u);
}

TEST(CorreWindow, PercentagesTickEvery200Ms)
{
    FakeHost h;
    TfCorre w(h);
    w.show();
    Feed(w, Frames(0), 151);
    for (int i = 0; i < 8; ++i) w.t_correTimer();
    Feed(w, Frames(M_PI), 151);
    w.t_correTimer();
    w.t_correTimer();
    EXPECT_EQ(w.lab_cor_p()->text(), "80%");
    EXPECT_EQ(w.lab_cor_p2()->text(), "20%");
    // A click on a percentage starts the count again.
    QTest::mouseClick(w.lab_cor_p2(), Qt::LeftButton);
    EXPECT_EQ(w.Correlation().AllTicks(), 0);
    EXPECT_EQ(w.lab_cor_p()->text(), "100 %");
    // The timer runs by itself.
    const int64_t before = w.Correlation().AllTicks();
    QTest::qWait(450);
    EXPECT_GE(w.Correlation().AllTicks() - before, 1);
}

TEST(CorreWindow, StoredPairTappedAfterOneSecond)
{
    FakeHost h;
    h.stored = {{"Channel", 3}};
    QElapsedTimer clock;
    clock.start();
    TfCorre w(h);
    w.show();
    QTRY_COMPARE_WITH_TIMEOUT(w.TappedPair(), 4, 2000);
    EXPECT_GE(clock.elapsed(), 950);
    EXPECT_FALSE(w.Timer1()->isActive());
    EXPECT_EQ(h.log, (std::vector<std::string>{"close1", "close2", "close3", "close4", "close5", "close6", "start1",
                                               "start2", "start3", "start4", "start5", "start6"}));
    for (int k = 1; k <= 6; ++k) EXPECT_EQ(h.Connector(k).Output() == &w.ConnectCore(), k == 4) << k;

    // A stored pair equal to the current one changes nothing.
    FakeHost h0;
    TfCorre w0(h0);
    w0.Timer1Timer();
    EXPECT_TRUE(h0.log.empty());
}

TEST(CorreWindow, FirstStartBesideTheMainWindowStoredPlaceWinsReopenKeepsThePlace)
{
    QMainWindow main;
    main.menuBar()->addMenu("Settings");
    main.setGeometry(20, 30, 180, 300);
    main.show();
    FakeHost h;
    TfCorre w(h, &main);
    w.show();
    EXPECT_FALSE(w.frameGeometry().intersects(main.frameGeometry())) << w.frameGeometry().x();
    EXPECT_GE(w.x(), main.frameGeometry().right());

    // Closed and opened again: where the user left it, not the start place.
    w.move(300, 400);
    w.close();
    w.show();
    EXPECT_EQ(w.pos(), QPoint(300, 400));

    FakeHost stored;
    stored.stored = {{"wleft", 40}, {"wtop", 50}};
    TfCorre w2(stored, &main);
    w2.show();
    EXPECT_EQ(w2.pos(), QPoint(40, 50));  // over the main window, as stored
}

TEST(CorreWindow, AnotherPairStartsExtremesAndPercentagesAfresh)
{
    FakeHost h;
    TfCorre w(h);
    w.show();
    Feed(w, Frames(0), 151);
    Feed(w, Frames(M_PI), 151);
    for (int i = 0; i < 5; ++i) w.t_correTimer();
    ASSERT_EQ(w.Lab_Max()->text(), "   1.00");
    ASSERT_EQ(w.Lab_Min()->text(), "  -1.00");
    ASSERT_EQ(w.lab_cor_p()->text(), "0%");

    QTest::mouseClick(w.rg_channel()->Button(2), Qt::LeftButton);
    EXPECT_EQ(w.TappedPair(), 3);
    EXPECT_EQ(w.Lab_Max()->text(), "0");
    EXPECT_EQ(w.Lab_Min()->text(), "0");
    EXPECT_EQ(w.lab_cor_p()->text(), "100 %");
    EXPECT_EQ(w.lab_cor_p2()->text(), "0 %");
    EXPECT_EQ(w.Correlation().AllTicks(), 0);
    EXPECT_EQ(w.Correlation().Fill(), 0);  // the old pair's coefficients are not averaged in
    EXPECT_EQ(w.Correlation().N(), 150);   // at the same speed
    // The new pair's values only.
    Feed(w, Frames(0), 151);
    EXPECT_EQ(w.Lab_Max()->text(), "   1.00");
    EXPECT_EQ(w.Lab_Min()->text(), "0");
    w.t_correTimer();
    EXPECT_EQ(w.lab_cor_p()->text(), "100%");
}

TEST(CorreWindow, AFailingRecorderReachesTheErrorDisplay)
{
    std::vector<std::string> shown;
    SetApplicationErrorHandler([&](const std::string& text) { shown.push_back(text); });
    FakeHost h;
    h.failStart = 3;
    TfCorre w(h);
    w.show();
    QTest::mouseClick(w.rg_channel()->Button(1), Qt::LeftButton);
    SetApplicationErrorHandler(nullptr);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "WaveInStart: no device");
    EXPECT_EQ(h.log.back(), "start2");  // recorders 3 ... 6 stay closed
    EXPECT_EQ(w.TappedPair(), 2);
}

TEST(CorreWindow, Picture)
{
    const char* path = std::getenv("TARVOLIN_CORRELATION_SHOT");
    FakeHost h;
    TfCorre w(h);
    w.show();
    w.Button1Click();
    Feed(w, Frames(2.1), 300);    // about -0.5
    Feed(w, Frames(0.75), 180);  // about +0.73, the smoothed end trailing
    for (int i = 0; i < 10; ++i) w.t_correTimer();
    QTest::qWait(50);
    const QImage shot = w.grab().toImage();
    EXPECT_EQ(shot.height(), 275 - TfCorre::kFrameHeight);
    if (path) {
        EXPECT_TRUE(shot.save(path, "PNG"));
    }
}

}  // namespace
