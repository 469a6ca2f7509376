// The program's windows at device pixel ratio 2 (QT_SCALE_FACTOR=2, offscreen):
// pictures at twice the size and bitmap widgets (bars, scale pictures, LED
// labels, digits) doubled crisply or drawn anew, never smoothed. (Qt lays the
// windows out in logical pixels; tests/scripts/hidpi.sh checks the main window's
// strips land at twice their place.)
// TARVOLIN_SHOT_DIR, when set, keeps a picture of every window at both ratios.
#include "app/StoreAccess.h"
#include "app/qt/MainAudio.h"
#include "app/qt/MeterEngine.h"
#include "app/qt/ProgramWindows.h"
#include "app/qt/StripPicture.h"
#include "audio/MMSimWaveIn.h"
#include "audio/qt/MMConnectorLoop.h"
#include "metering/qt/MMLevel.h"
#include "widgets/qt/MMLEDLbl.h"
#include "widgets/qt/MMLEDS.h"
#include "widgets/qt/MMSpin.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTest>
#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

struct Program : TProgramWindows {
    explicit Program(TMeterEngine& e) : TProgramWindows(e) { fMain.setSaveOnClose(false); }
};

// The widget painted into an image of the given ratio.
QImage Render(QWidget* w, qreal ratio)
{
    QImage image(w->size() * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::magenta);
    w->render(&image);
    return image;
}

std::set<QRgb> Colours(const QImage& image)
{
    std::set<QRgb> c;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) c.insert(image.pixel(x, y));
    return c;
}

void Keep(const QImage& image, const QString& name)
{
    const QString dir = qEnvironmentVariable("TARVOLIN_SHOT_DIR");
    if (!dir.isEmpty()) image.save(QDir(dir).filePath(name + ".png"));
}

}  // namespace

TEST(HiDpi, WindowsDoubleAndBitmapWidgetsStayCrisp)
{
    ASSERT_EQ(qApp->devicePixelRatio(), 2.0);
    TMemoryStore store;
    store.WriteBool("is Sound", true);
    store.WriteInt("rg Mode", 4);
    TMeterEngine engine(store);
    Program p(engine);
    bool restored = false;
    p.fMain.OnRestored = [&] { restored = true; };
    p.fMain.show();
    QTRY_VERIFY_WITH_TIMEOUT(restored, 5000);

    const std::vector<std::pair<QWidget*, QString>> windows = {
        {&p.fMain, "fMain"},   {&p.fSetLevel, "fSetLevel"}, {&p.fLabels, "fLabels"}, {&p.fmulti, "fmulti"},
        {&p.fSkin, "fSkin"},   {&p.FrmInfo, "FrmInfo"},     {&p.fLogFile, "fLogFile"}, {&p.fCorre, "fCorre"},
    };
    for (const auto& [w, name] : windows) {
        SCOPED_TRACE(name.toStdString());
        if (w != &p.fMain) w->show();
        QApplication::processEvents();
        EXPECT_EQ(w->devicePixelRatioF(), 2.0);
        const QPixmap grab = w->grab();
        EXPECT_EQ(grab.size(), w->size() * 2);
        Keep(grab.toImage(), name + "-2x");
        Keep(Render(w, 1), name + "-1x");

        // Bitmap widgets at ratio 2 use only the colours they use at ratio 1:
        // pixels doubled (or drawn anew), no smoothing in between.
        std::vector<QWidget*> bitmaps;
        for (auto* c : w->findChildren<TMMLEDLABEL*>()) bitmaps.push_back(c);
        for (auto* c : w->findChildren<TMMLEDDigit*>()) bitmaps.push_back(c);
        for (auto* c : w->findChildren<TMMLEDPanel*>()) bitmaps.push_back(c);
        for (auto* c : w->findChildren<TMMLevel*>()) bitmaps.push_back(c);
        for (auto* c : w->findChildren<TStripPicture*>()) bitmaps.push_back(c);
        for (QWidget* c : bitmaps) {
            if (!c->isVisible() || c->width() <= 0 || c->height() <= 0) continue;
            const auto one = Colours(Render(c, 1));
            const auto two = Colours(Render(c, 2));
            int extra = 0;
            for (QRgb v : two) extra += one.count(v) ? 0 : 1;
            EXPECT_EQ(extra, 0) << c->metaObject()->className() << " " << c->objectName().toStdString() << ": "
                                << extra << " colours only at ratio 2";
        }
        if (w != &p.fMain) w->hide();
    }
}

int main(int argc, char** argv)
{
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    TMMSimulatedWaveIn sim(TMMSimulatedWaveIn::Clock::Manual);
    SetMainCaptureDevice(&sim);
    TMMConnectorQtLoop loop;
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    SetMainCaptureDevice(nullptr);
    return rc;
}
