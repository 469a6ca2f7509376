// The scale pictures rendered with the real font: pixels and golden images.
#include "app/qt/ScaleImagesPaint.h"
#include "base/qt/MMBevelPaint.h"
#include "tests/support/qt/Golden.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

const QColor Cream = ToQColor(ScaleCream);

QColor At(const QImage& img, int x, int y) { return QColor(img.pixel(x, y)); }

// The text drawn alone at (x, y) on black, as the picture draws it.
QImage TextAlone(int w, int h, int x, int y, const std::string& text)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::black);
    TScaleCanvas c(w, h);
    c.BrushColor = clBlack;
    c.FontColor = ScaleCream;
    c.TextOut(x, y, text);
    PaintScaleImage(img, c);
    return img;
}

// True when the text cell of `text` at (x, y) in img looks exactly as the
// text drawn alone there.
bool CellShowsText(const QImage& img, int x, int y, const std::string& text)
{
    const QFontMetrics fm(ScaleImageFont());
    const QRect cell = QRect(x, y, fm.horizontalAdvance(QString::fromStdString(text)),
                             fm.height()).intersected(img.rect());
    return img.copy(cell) == TextAlone(img.width(), img.height(), x, y, text).copy(cell);
}

}  // namespace

TEST(ScaleImagesQt, FontIsTheMetricCompatibleSans)
{
    const QFont f = ScaleImageFont();
    EXPECT_EQ(QFontInfo(f).family(), "Liberation Sans");
    const QFontMetrics fm(f);
    EXPECT_EQ(fm.height(), 12);
    EXPECT_EQ(fm.horizontalAdvance("0"), 6);
    // The widest figure fits the 37-pixel column from x = 8.
    EXPECT_LE(8 + fm.horizontalAdvance(" -76 "), 37);
}

TEST(ScaleImagesQt, K20TicksAndCoveredFigures)
{
    const QImage img = MakeScaleImage(37, 903, 4);
    for (int i = 1; i <= 17; ++i) {
        const int y = 4 + 50 * i;
        const bool dashed = i == 13 || i == 15 || i == 17;
        // The line shows left of its figure; a dash cell (wider than the
        // column) covers both line and figure.
        EXPECT_EQ(At(img, 0, y), dashed ? QColor(Qt::black) : Cream) << "tick " << i;
        EXPECT_EQ(At(img, 36, y), dashed ? QColor(Qt::black) : Cream) << "tick " << i;
        if (dashed) {
            EXPECT_TRUE(CellShowsText(img, 0, y - 7, "    ----       ")) << "tick " << i;
        }
    }
    // No tick below 854; the top rows of tick 18's figure cell (y = 897) show.
    for (int y = 860; y < 897; ++y)
        for (int x = 0; x < 37; ++x) ASSERT_EQ(At(img, x, y), QColor(Qt::black)) << x << "," << y;
    EXPECT_TRUE(CellShowsText(img, 10, 47, " 16 "));
    EXPECT_TRUE(CellShowsText(img, 8, 597, " -28 "));
}

TEST(ScaleImagesQt, N9AndDINPixels)
{
    const QImage n9 = MakeScaleImage(37, 903, 0);
    EXPECT_EQ(At(n9, 10, 20), QColor(Qt::red));
    EXPECT_EQ(At(n9, 26, 103), QColor(Qt::red));
    EXPECT_EQ(At(n9, 27, 50), QColor(Qt::black));
    EXPECT_EQ(At(n9, 9, 50), QColor(Qt::black));
    EXPECT_EQ(At(n9, 26, 104), Cream);  // the line at y(2) crosses the block's last row
    EXPECT_EQ(At(n9, 30, 10), Cream);   // the top line; "+12" covers it further left
    EXPECT_EQ(At(n9, 20, 10), QColor(Qt::black));
    EXPECT_TRUE(CellShowsText(n9, 8, 198, "Test"));
    EXPECT_TRUE(CellShowsText(n9, 9, 0, "+12"));

    const QImage din = MakeScaleImage(37, 903, 1);
    EXPECT_TRUE(CellShowsText(din, 24, 145, " 0"));
    EXPECT_TRUE(CellShowsText(din, 16, 883, " -50"));
    EXPECT_EQ(At(din, 3, 180 + 8 * 26 + 5), QColor(Qt::red));
    EXPECT_EQ(At(din, 21, 180 + 8 * 26 + 5), QColor(Qt::red));
    EXPECT_EQ(At(din, 22, 180 + 8 * 26 + 5), QColor(Qt::black));  // end point left out
}

TEST(ScaleImagesQt, RedrawFillsAndAlarmCoversAllButTheTop)
{
    QImage img(37, 903, QImage::Format_RGB32);
    img.fill(Qt::white);
    ASSERT_TRUE(DrawScaleImage(img, 3));
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) ASSERT_NE(At(img, x, y), QColor(Qt::white));

    const QImage before = img.copy();
    DrawAlarmImage(img);
    EXPECT_EQ(img.copy(0, 0, 37, 5), before.copy(0, 0, 37, 5));
    for (int y = 5; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) ASSERT_EQ(At(img, x, y), QColor(Qt::red));

    QImage untouched = before.copy();
    EXPECT_FALSE(DrawScaleImage(untouched, 7));
    EXPECT_EQ(untouched, before);
}

TEST(ScaleImagesQt, TinyAndEmptyPicturesDraw)
{
    for (int standard = 0; standard <= 6; ++standard) {
        for (int h : {0, 1, 10, 17}) {
            const QImage img = MakeScaleImage(37, h, standard);
            EXPECT_EQ(img.height(), h);
        }
        EXPECT_TRUE(MakeScaleImage(0, 0, standard).isNull());
        EXPECT_EQ(MakeScaleImage(5, 30, standard).width(), 5);
    }
    QImage null;
    DrawAlarmImage(null);
    EXPECT_TRUE(null.isNull());
}

TEST(ScaleImagesQt, GoldenPictures)
{
    const char* names[] = {"scale_n9",  "scale_din", "scale_bbc", "scale_ebu",
                           "scale_k20", "scale_k14", "scale_k12"};
    for (int standard = 0; standard <= 6; ++standard)
        EXPECT_TRUE(MatchesGolden(MakeScaleImage(37, 903, standard), names[standard]));
}
