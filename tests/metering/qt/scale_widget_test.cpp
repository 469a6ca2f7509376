// The level scale widget with the real label font, rendered offscreen.
#include "base/qt/MMBevelPaint.h"
#include "metering/qt/MMLevelScale.h"
#include "tests/support/qt/Golden.h"

#include <QApplication>
#include <QFontInfo>
#include <QImage>

#include <gtest/gtest.h>

namespace {

// The strip's scale for Digital PPM / Peak dBFS: 31 x 903, 26 positions.
void StripScale(TMMLevelScale& w)
{
    w.setKind(lkVertical);
    w.resize(31, 903);
    w.setScaleTicks(26);
    w.setSensitivy(-72);
    w.setPoint1(91);
    w.setPoint2(92);
    w.setScale1Color(clSilver);
    w.setScale2Color(clSilver);
}

bool RowsHold(const QImage& img, int top, int bottom, const QColor& c)
{
    for (int y = top; y < bottom; ++y)
        for (int x = 0; x < img.width(); ++x)
            if (QColor(img.pixel(x, y)) == c) return true;
    return false;
}

}  // namespace

TEST(LevelScaleWidget, DefaultFontAndMeasure)
{
    TMMLevelScale w;
    const QFont f = w.Font();
    EXPECT_EQ(f.family(), "Small Fonts");
    EXPECT_EQ(QFontInfo(f).family(), "Liberation Sans");
    const TQtTextMeasure m(f);
    EXPECT_EQ(m.TextHeight("W"), 11);
    EXPECT_EQ(m.TextWidth("-72"), QFontMetrics(f).horizontalAdvance("-72"));
    EXPECT_LE(m.TextWidth("-72"), 31);  // readable in the strip's column
}

TEST(LevelScaleWidget, KindSwapsTheWidgetSize)
{
    TMMLevelScale w;
    EXPECT_EQ(w.Width(), 200);
    EXPECT_EQ(w.Height(), 7);
    w.setKind(lkVertical);
    EXPECT_EQ(w.size(), QSize(7, 200));
    w.setHeight(300);
    w.setKind(lkHorizontal);
    EXPECT_EQ(w.size(), QSize(300, 7));
}

TEST(LevelScaleWidget, StripScaleLabelsWhereTheLayoutPutsThem)
{
    TMMLevelScale w;
    StripScale(w);
    const QImage img = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(img.size(), QSize(31, 903));

    // Each text of the layout shows in its cell, in its zone colour, and the
    // rows between cells stay background.
    TQtTextMeasure m(w.Font());
    TScaleCanvas layout(31, 903, &m);
    w.Core().Paint(layout);
    int texts = 0, lastBottom = 0;
    for (const TScaleOp& op : layout.Ops()) {
        if (op.Kind != TScaleOpKind::Text) continue;
        const int th = m.TextHeight(op.Text);
        EXPECT_TRUE(RowsHold(img, op.Y1, op.Y1 + th, ToQColor(op.Color))) << op.Text;
        EXPECT_FALSE(RowsHold(img, lastBottom, op.Y1, ToQColor(clSilver))) << op.Text;
        lastBottom = op.Y1 + th;
        EXPECT_EQ(op.Color, texts < 3 ? clRed : clSilver) << texts;
        ++texts;
    }
    EXPECT_EQ(texts, 25);
    EXPECT_TRUE(RowsHold(img, 0, 11, QColor(Qt::red)));
    EXPECT_TRUE(MatchesGolden(img, "scale_widget"));
}

TEST(LevelScaleWidget, TickRowAndTinySizesPaint)
{
    TMMLevelScale w;
    StripScale(w);
    w.Scale().setVisible(true);
    w.Scale().setTickCount(26);
    w.setScalePos(spAboveOrLeft);
    const QImage img = w.grab().toImage();
    // The first tick lies half a text height below the top, drawn in the top
    // zone colour from x = 0.
    EXPECT_EQ(QColor(img.pixel(0, 5)), QColor(Qt::red));

    for (QSize s : {QSize(0, 0), QSize(1, 1), QSize(31, 5), QSize(3, 903)}) {
        w.resize(s);
        EXPECT_EQ(w.grab().size(), s);
    }
}
