#include "correlation/qt/MMOscopeWidget.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>

#include "base/qt/MMBevelPaint.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

WaveFormat pcm(int bits, int channels, int rate)
{
    WaveFormat f;
    BuildPcmFormat(f, bits, channels, rate);
    return f;
}

struct Rig {
    Rig()
    {
        parent.resize(300, 300);
        scope = new TMMOscopeWidget(&parent);
        scope->setGeometry(50, 50, 200, 200);
        TMMBevel b;
        b.BevelOuter = bvLowered;
        scope->setBevel(b);
        scope->Scope().setKind(okConLines);
        const auto f = pcm(16, 2, 48000);
        scope->Scope().ApplyFormat(&f);
        parent.show();
        for (int i = 0; i < 198; ++i) {
            const auto v = static_cast<int16_t>(20000 * std::sin(i * 2 * M_PI / 66));
            sine.push_back(v);
            sine.push_back(v);
        }
    }
    QWidget parent;
    TMMOscopeWidget* scope;
    std::vector<int16_t> sine;
};

TEST(OscopeWidget, DrawsTheWaveAndRecordsWhileAnyPartIsVisible)
{
    Rig r;
    ASSERT_EQ(r.scope->Scope().Columns(), 198);
    r.scope->Scope().AcceptSamples(r.sine.data());
    // Quarter period (column 16/17) near the top: 20000 of 32767 is 0.61.
    EXPECT_NEAR(r.scope->Scope().ColumnValue(16), 0.61, 0.03);
    EXPECT_NEAR(r.scope->Scope().ColumnValue(49), -0.61, 0.03);

    const QImage img = r.scope->grab().toImage();
    const QColor fg = ToQColor(r.scope->Scope().ForegroundColor);
    // The drawn wave reaches the rows of its peaks and nothing lies above them.
    int top = img.height(), bottom = -1;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 1; x < img.width() - 1; ++x)
            if (img.pixelColor(x, y) == fg) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    const int h = 198;
    EXPECT_NEAR(top, 1 + (h - 1) * (1 - 0.61) / 2, 3);
    EXPECT_NEAR(bottom, 1 + (h - 1) * (1 + 0.61) / 2, 3);

    // Moved wholly below the parent: data taken, nothing recorded.
    const std::vector<int16_t> quiet(2 * 198, 0);
    r.scope->move(50, 300);
    r.scope->Scope().AcceptSamples(quiet.data());
    EXPECT_EQ(r.scope->Scope().Samples()[16], 0);
    EXPECT_NEAR(r.scope->Scope().ColumnValue(16), 0.61, 0.03);
    // One pixel row inside is enough.
    r.scope->move(50, 299);
    r.scope->Scope().AcceptSamples(quiet.data());
    EXPECT_EQ(r.scope->Scope().ColumnValue(16), 0.0);

    // What the scope last found out follows the parent: its window hidden or
    // grown shorter stops the recording, shown or grown again resumes it.
    r.scope->Scope().AcceptSamples(r.sine.data());
    r.parent.hide();
    r.scope->Scope().AcceptSamples(quiet.data());
    EXPECT_NEAR(r.scope->Scope().ColumnValue(16), 0.61, 0.03);
    r.parent.show();
    r.scope->Scope().AcceptSamples(quiet.data());
    EXPECT_EQ(r.scope->Scope().ColumnValue(16), 0.0);
    r.scope->Scope().AcceptSamples(r.sine.data());
    r.parent.resize(300, 299);
    r.scope->Scope().AcceptSamples(quiet.data());
    EXPECT_NEAR(r.scope->Scope().ColumnValue(16), 0.61, 0.03);
    r.parent.resize(300, 300);
    r.scope->Scope().AcceptSamples(quiet.data());
    EXPECT_EQ(r.scope->Scope().ColumnValue(16), 0.0);
}

TEST(OscopeWidget, LeftButtonFreezesAndShowsTheReadout)
{
    Rig r;
    r.scope->Scope().AcceptSamples(r.sine.data());
    EXPECT_EQ(r.scope->ReadoutText(0, 0), " 0.0 ms 1.00 V");
    EXPECT_EQ(r.scope->ReadoutText(48, 99), " 1.0 ms 0.00 V");
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(60, 60), QPointF(60, 60), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(r.scope, &press);
    EXPECT_TRUE(r.scope->Scope().ReadoutActive());
    const std::vector<int16_t> quiet(2 * 198, 0);
    r.scope->Scope().AcceptSamples(quiet.data());
    EXPECT_NEAR(r.scope->Scope().ColumnValue(16), 0.61, 0.03);  // frozen
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(60, 60), QPointF(60, 60), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(r.scope, &release);
    r.scope->Scope().AcceptSamples(quiet.data());
    EXPECT_EQ(r.scope->Scope().ColumnValue(16), 0.0);
}

}  // namespace
