#include "app/qt/DemoChain.h"

#include "app/CommandLine.h"
#include "audio/MMConnector.h"
#include "audio/MMWavIn.h"
#include "audio/qt/MMConnectorLoop.h"
#include "correlation/qt/MMOscopeWidget.h"
#include "metering/MMLevel.h"
#include "base/qt/MMBevelPaint.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace {

// A horizontal level bar drawn from the meter's working bitmap.
class DemoBar : public QWidget {
public:
    explicit DemoBar(QWidget* parent) : QWidget(parent)
    {
        setMinimumSize(300, 17);
        mLevel.OnInvalidate = [this] { update(); };
    }
    TMMCustomLevel& Level() { return mLevel; }

protected:
    void resizeEvent(QResizeEvent*) override { mLevel.SetBounds(width(), height()); }
    void paintEvent(QPaintEvent*) override
    {
        mLevel.DrawLevel();
        const TMMDIBCanvas& c = mLevel.WorkCanvas();
        QImage img(c.Width(), c.Height(), QImage::Format_RGB32);
        for (int y = 0; y < c.Height(); ++y)
            for (int x = 0; x < c.Width(); ++x) img.setPixel(x, y, ToQColor(c.Pixel(x, y)).rgb());
        QPainter p(this);
        p.fillRect(rect(), Qt::black);
        const int inset = mLevel.Bevel().TotalWidth();
        PaintBevel(p, rect(), mLevel.Bevel());
        p.drawImage(inset, inset, img);
    }

private:
    TMMCustomLevel mLevel;
};

class TfDemoChain : public QWidget {
public:
    TfDemoChain()
    {
        setWindowTitle("Tarvolin - live chain");
        auto* grid = new QGridLayout(this);
        for (int i = 0; i < 2; ++i) {
            mBar[i] = new DemoBar(this);
            grid->addWidget(new QLabel(i == 0 ? "L" : "R", this), i, 0);
            grid->addWidget(mBar[i], i, 1, 1, 2);
            mSink[i] = std::make_unique<TMMLevelSinkFor<TMMCustomLevel>>(mBar[i]->Level());
            mScope[i] = new TMMOscopeWidget(this);
            mScope[i]->setFixedSize(200, 140);
            TMMBevel b;
            b.BevelOuter = bvLowered;
            mScope[i]->setBevel(b);
            mScope[i]->Scope().setKind(okConLines);
            mScope[i]->Scope().setChannel(i == 0 ? chLeft : chRight);
            mScope[i]->Scope().setDrawMidLine(true);
            grid->addWidget(mScope[i], 2, 1 + i);
        }
        mStatus = new QLabel(this);
        grid->addWidget(mStatus, 3, 0, 1, 3);

        mConn.setLevel1(mSink[0].get());
        mConn.setLevel2(mSink[1].get());
        mConn.setOscope1(&mScope[0]->Scope());
        mConn.setOscope2(&mScope[1]->Scope());
        mRec.setDeviceID(0);
        mRec.setChannels(2);
        mRec.setBitLength(b16Bit);
        mRec.setSampleRate(48000);
        mRec.setBufferSize(2048);
        mRec.setCallBackMode(cmWindow);
        mRec.setOutput(&mConn);

        // Held peaks fall in 25 ms steps on the GUI thread.
        connect(&mPeakTimer, &QTimer::timeout, [this] {
            mBar[0]->Level().PeakTick();
            mBar[1]->Level().PeakTick();
        });
        mPeakTimer.start(25);
        connect(&mStatsTimer, &QTimer::timeout, [this] { ShowStats(); });
        mStatsTimer.start(500);
        mClock.start();
    }

    void StartRecording()
    {
        try {
            mRec.Open();
            mRec.Start();
        } catch (const std::exception& e) {
            mStatus->setText(QString("Recorder: ") + e.what());
        }
    }

    ~TfDemoChain() override { mRec.Close(); }

private:
    void ShowStats()
    {
        const double secs = mClock.nsecsElapsed() / 1e9;
        mClock.restart();
        const long cycles = mConn.LevelCycles();
        mStatus->setText(QString::asprintf("%s   blocks/s per bar: %.1f   loop steps/s: %.0f",
                                           mRec.ProductName().c_str(), (cycles - mLastCycles) / secs,
                                           (mLoop.Steps() - mLastSteps) / secs));
        mLastCycles = cycles;
        mLastSteps = mLoop.Steps();
    }

    TMMConnectorQtLoop mLoop;  // before the connector
    TMMConnector mConn;
    TMMWaveIn mRec;
    DemoBar* mBar[2];
    std::unique_ptr<TMMLevelSinkFor<TMMCustomLevel>> mSink[2];
    TMMOscopeWidget* mScope[2];
    QLabel* mStatus;
    QTimer mPeakTimer, mStatsTimer;
    QElapsedTimer mClock;
    long mLastCycles = 0, mLastSteps = 0;
};

}  // namespace

int RunDemoChain(QApplication& app, const CommandLine& cl)
{
    TfDemoChain w;
    w.show();
    w.StartRecording();
    if (!cl.screenshot.empty()) {
        QTimer::singleShot(cl.screenshotAfterMs, &w, [&w, &cl] { w.grab().save(QString::fromStdString(cl.screenshot)); });
    }
    if (cl.runForSeconds) QTimer::singleShot(static_cast<int>(*cl.runForSeconds * 1000), &app, &QApplication::quit);
    return app.exec();
}
