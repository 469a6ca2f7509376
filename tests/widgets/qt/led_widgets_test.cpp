// LED widgets rendered offscreen: sizes, glyph choice, digits and their
// cache, spin behaviour under mouse, keys and a controlled clock, and golden
// images (TARVOLIN_UPDATE_GOLDEN=1 rewrites them).
#include "tests/support/qt/Golden.h"
#include "widgets/qt/MMLEDLbl.h"
#include "widgets/qt/MMLEDS.h"
#include "widgets/qt/MMSpin.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

QImage render(QWidget& w) { return w.grab().toImage().convertToFormat(QImage::Format_RGB32); }

TMMBevel channelLabelBevel()
{
    TMMBevel b;
    b.BevelOuter = bvLowered;
    b.BevelOuterWidth = 1;
    b.BorderSpace = 2;
    return b;
}

bool containsColor(const QImage& img, TColor c)
{
    const QRgb want = ToArgb(c);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) == want) return true;
    return false;
}

}  // namespace

// ---- label ----

TEST(LedLabel, SizeFollowsCaptionFontAndBevel)
{
    TMMLEDLABEL l;
    EXPECT_EQ(l.FontSize(), fs16x20);
    EXPECT_EQ(l.Bevel().BorderSpace, 2);
    l.setBevel(channelLabelBevel());
    l.setCaption("ABC");
    EXPECT_EQ(l.NumChars(), 3);
    EXPECT_EQ(l.size(), QSize(54, 26));

    // Aligned to the parent's bottom: only the height is set.
    l.setAlign(alBottom);
    l.resize(57, 40);
    l.setCaption("12");
    EXPECT_EQ(l.size(), QSize(57, 26));
    EXPECT_EQ(l.NumChars(), 2);

    // Without AutoSize the width decides the cells; NumChars sets the width.
    TMMLEDLABEL m;
    m.setBevel(channelLabelBevel());
    m.setFontSize(fs11x13);
    m.setAutoSize(false);
    m.setNumChars(4);
    EXPECT_EQ(m.width(), 6 + 11 * 4);
    EXPECT_EQ(m.height(), 6 + 13);
    m.show();  // a hidden widget gets its resize event only when shown
    m.resize(6 + 11 * 2 + 5, 19);
    EXPECT_EQ(m.NumChars(), 2);
    EXPECT_EQ(m.width(), 6 + 22);

    // Rejected values leave the label as it was.
    m.setLEDSpace(0);
    m.setLEDSpace(-3);
    m.setScrollSpeed(0);
    EXPECT_EQ(m.LEDSpace(), 1);
    EXPECT_EQ(m.ScrollSpeed(), 100);
}

TEST(LedLabel, UmlautsAndUnknownCharactersPickTheirGlyphs)
{
    TMMLEDLABEL l;
    l.setCaption(QString::fromUtf8("\u00C4\u00F6"));
    EXPECT_EQ(l.VisibleCodes(), (std::vector<int>{135, 140}));
    l.setCaption(QString(QChar(200)));
    EXPECT_EQ(l.VisibleCodes(), std::vector<int>{32});

    // Drawn: the umlaut caption looks like the font codes drawn directly,
    // code 200 like a space.
    TMMLEDLABEL a, b;
    a.setCaption(QString::fromUtf8("\u00C4\u00F6"));
    b.setCaption(QString(QChar(135)) + QChar(140));
    EXPECT_EQ(render(a), render(b));
    EXPECT_NE(render(a), [] {
        TMMLEDLABEL c;
        c.setCaption("AO");
        return render(c);
    }());
    a.setCaption(QString(QChar(200)));
    b.setCaption(" ");
    EXPECT_EQ(render(a), render(b));
}

TEST(LedLabel, RecolouringForTheAlarmBlink)
{
    TMMLEDLABEL l;
    l.setInactiveColor(clBlack);
    l.setCaption("L1");
    QImage img = render(l);
    EXPECT_TRUE(containsColor(img, clLime));
    EXPECT_FALSE(containsColor(img, clGreen));  // unlit dots in black
    l.setLEDColor(clRed);
    img = render(l);
    EXPECT_TRUE(containsColor(img, clRed));
    EXPECT_FALSE(containsColor(img, clLime));
    l.setDrawInactive(false);
    l.setInactiveColor(clYellow);
    EXPECT_FALSE(containsColor(render(l), clYellow));

    // The strip's double click reaches its owner.
    int clicks = 0;
    l.OnDblClick = [&](QObject* s) { clicks += s == &l; };
    l.show();
    QTest::mouseDClick(&l, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
}

TEST(LedLabel, ScrollingRunsStepsAndEnds)
{
    TMMLEDLABEL l;
    l.setCaption("ABCD");
    l.setAutoSize(false);
    l.setNumChars(2);
    l.setAlignment(taRightJustify);
    int begins = 0, steps = 0, ends = 0;
    l.OnBegin = [&](QObject* s) { begins += s == &l; };
    l.OnStep = [&](QObject*) { ++steps; };
    l.OnEnd = [&](QObject*) { ++ends; };
    l.setStartStep(1);
    l.setCurrentStep(4);
    l.setAutoScroll(true);
    EXPECT_EQ(begins, 1);
    EXPECT_TRUE(l.Scrolling());
    EXPECT_EQ(l.Alignment(), taLeftJustify);
    EXPECT_EQ(l.CurrentStep(), 1);  // started from StartStep
    l.setAutoScroll(true);          // already running: no second begin
    EXPECT_EQ(begins, 1);

    l.ScrollTick();
    EXPECT_EQ(l.CurrentStep(), 2);
    EXPECT_EQ(l.VisibleCodes(), (std::vector<int>{'C', 'D'}));
    l.ScrollTick();
    l.ScrollTick();  // reaches the end: back to StartStep
    EXPECT_EQ(steps, 2);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(l.CurrentStep(), 1);
    l.setAutoScroll(false);
    EXPECT_FALSE(l.Scrolling());

    l.setCurrentStep(9);  // beyond the caption: ignored
    EXPECT_EQ(l.CurrentStep(), 1);
}

TEST(LedLabel, DoubleBufferComposesOffscreen)
{
    TMMLEDLABEL direct, buffered;
    for (TMMLEDLABEL* l : {&direct, &buffered}) {
        l->setBevel(channelLabelBevel());
        l->setCaption("Git");
    }
    EXPECT_FALSE(buffered.HasOffscreenBitmap());
    buffered.setDoubleBuffer(true);
    EXPECT_TRUE(buffered.HasOffscreenBitmap());
    EXPECT_EQ(render(direct), render(buffered));

    QRect seen;
    QSize bitmap;
    buffered.OnDrawBitmap = [&](QObject*, QPainter&, const QImage& img, const QRect& r) {
        seen = r;
        bitmap = img.size();
    };
    render(buffered);
    EXPECT_EQ(seen, QRect(3, 3, buffered.width() - 6, buffered.height() - 6));
    EXPECT_EQ(bitmap, seen.size());
    buffered.setDoubleBuffer(false);
    EXPECT_FALSE(buffered.HasOffscreenBitmap());
}

TEST(LedLabel, MissingFontDrawsNoCells)
{
    SetLEDResourceLoader([](const std::string&) { return TMMLEDResource(); });
    TMMLEDLABEL l;
    l.setCaption("ABC");
    SetLEDResourceLoader(nullptr);
    EXPECT_EQ(l.GlyphWidth(), 0);
    const QImage img = render(l);
    EXPECT_FALSE(containsColor(img, clLime));
    EXPECT_FALSE(containsColor(img, clGreen));
}

// ---- digits and panel ----

TEST(LedPanel, LayoutBlankingAndMinus)
{
    TMMLEDPanel p;
    EXPECT_EQ(p.NumDigits(), 2);
    p.setNumDigits(3);
    p.setMinValue(-99);
    p.setZeroBlank(true);
    EXPECT_EQ(p.size(), QSize(3 * 14 - 1, 21));
    EXPECT_EQ(p.Digit(2)->pos(), QPoint(0, 0));  // most significant at the left
    EXPECT_EQ(p.Digit(0)->pos(), QPoint(28, 0));
    EXPECT_EQ(p.Digit(0)->size(), QSize(13, 21));

    int changes = 0;
    p.OnChange = [&](QObject*) { ++changes; };
    p.setValue(-4);
    EXPECT_EQ(p.Digit(2)->DisplayType(), ltMinus);
    ASSERT_TRUE(p.Digit(2)->Strip());
    EXPECT_EQ(p.Digit(2)->Strip()->GlyphCount, 4);  // took the special strip
    EXPECT_EQ(p.Digit(1)->Core().GlyphIndex(), 0);
    EXPECT_EQ(p.Digit(0)->Core().GlyphIndex(), 4 + 1);
    p.setValue(-4);
    EXPECT_EQ(changes, 1);
    p.setValue(57);
    EXPECT_EQ(p.Digit(2)->DisplayType(), ltDigit);
    EXPECT_EQ(p.Digit(2)->Strip()->GlyphCount, 11);

    // A disabled panel shows every digit off.
    p.setEnabled(false);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(p.Digit(k)->Core().GlyphIndex(), 0);
}

TEST(LedPanel, DigitsShareCachedStripsAndGiveThemBack)
{
    TMMDigitCache& cache = TMMDigitCache::Instance();
    TMMDigitKey key;
    key.Size = ls19x33;
    key.Colors = {clAqua, clNavy, clTeal, true};
    {
        TMMLEDPanel a, b;
        for (TMMLEDPanel* p : {&a, &b}) {
            p->setColor(clNavy);
            p->setLEDColor(clAqua);
            p->setInactiveColor(clTeal);
            p->setDigitSize(ls19x33);
        }
        EXPECT_EQ(cache.RefCount(key), 4);
        EXPECT_EQ(a.Digit(0)->Strip(), b.Digit(1)->Strip());
        a.setLEDColor(clWhite);  // a's digits take another strip
        EXPECT_EQ(cache.RefCount(key), 2);
    }
    EXPECT_EQ(cache.RefCount(key), 0);

    // A digit connected to a destroyed digit forgets it.
    TMMLEDDigit units;
    {
        TMMLEDDigit tens;
        units.setCascadeValues(true);
        units.setConnect(&tens);
        units.setConnect(&units);  // never itself
        EXPECT_EQ(units.Connect(), &tens);
    }
    EXPECT_EQ(units.Connect(), nullptr);
    units.setValue(42);
    EXPECT_EQ(units.Value(), 2);
}

// ---- spin ----

class LedSpinTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        spin = std::make_unique<TMMLEDSpin>();
        spin->setNumDigits(3);
        spin->setMinValue(1);
        spin->setMaxValue(100);
        spin->Button()->setClock([this] { return clock; });
        spin->OnChange = [this](QObject*) { ++changes; };
        spin->OnUpClick = [this](QObject*) { ++upClicks; };
        spin->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(spin.get()));
    }
    QPoint upPoint() const { return spin->Button()->PartRect(spUp).center(); }

    std::unique_ptr<TMMLEDSpin> spin;
    int64_t clock = 1000;
    int changes = 0;
    int upClicks = 0;
};

TEST_F(LedSpinTest, ClampsAndIgnoresValuesWhileDisabled)
{
    spin->setValue(150);
    EXPECT_EQ(spin->Value(), 100);
    EXPECT_EQ(spin->Button()->Value(), 100);
    spin->setValue(0);
    EXPECT_EQ(spin->Value(), 1);
    EXPECT_EQ(changes, 2);
    spin->setValue(-5);  // clamps to the value it has: no change
    EXPECT_EQ(changes, 2);

    spin->setEnabled(false);
    spin->setValue(50);
    EXPECT_EQ(spin->Value(), 1);
    EXPECT_EQ(changes, 2);
    spin->setEnabled(true);

    // Loading: values are taken without OnChange.
    spin->setLoading(true);
    spin->setValue(30);
    spin->setLoading(false);
    EXPECT_EQ(spin->Value(), 30);
    EXPECT_EQ(changes, 2);
}

TEST_F(LedSpinTest, LayoutPutsThePanelBottomLeft)
{
    const QSize panel = spin->Panel()->size();
    EXPECT_EQ(spin->size(), QSize(panel.width() + 2 + 21, 28));
    EXPECT_EQ(spin->Panel()->pos(), QPoint(0, 28 - panel.height()));
    EXPECT_EQ(spin->Button()->geometry(), QRect(panel.width() + 2, 0, 21, 28));
}

TEST_F(LedSpinTest, HeldUpButtonRepeatsThenStepsAtRelease)
{
    spin->setValue(1);
    changes = 0;
    TMMSpinButton* b = spin->Button();
    QTest::mousePress(b, Qt::LeftButton, {}, upPoint());
    EXPECT_EQ(spin->Value(), 1);  // a press alone does not step
    EXPECT_GT(b->RepeatTimerRemaining(), 300);

    clock += 399;
    b->ProcessRepeat();
    EXPECT_EQ(spin->Value(), 1);
    clock += 1;  // 400 ms after the press
    b->ProcessRepeat();
    EXPECT_EQ(spin->Value(), 2);
    EXPECT_LE(b->RepeatTimerRemaining(), 55);
    for (int i = 0; i < 11; ++i) {  // 450 .. 950 ms
        clock += 50;
        b->ProcessRepeat();
    }
    EXPECT_EQ(spin->Value(), 13);
    clock += 50;  // released at 1000 ms
    QTest::mouseRelease(b, Qt::LeftButton, {}, upPoint());
    EXPECT_EQ(spin->Value(), 14);
    EXPECT_EQ(upClicks, 13);
    EXPECT_EQ(changes, 13);
    EXPECT_EQ(b->RepeatTimerRemaining(), -1);

    // A short click steps once, at the release.
    QTest::mousePress(b, Qt::LeftButton, {}, upPoint());
    clock += 100;
    b->ProcessRepeat();
    EXPECT_EQ(spin->Value(), 14);
    QTest::mouseRelease(b, Qt::LeftButton, {}, upPoint());
    EXPECT_EQ(spin->Value(), 15);

    // Released away from the button: no step.
    QTest::mousePress(b, Qt::LeftButton, {}, upPoint());
    QTest::mouseMove(b, QPoint(-20, -20));
    QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(-20, -20));
    EXPECT_EQ(spin->Value(), 15);
}

TEST_F(LedSpinTest, ArrowKeysFollowTheOrientation)
{
    TMMSpinButton* b = spin->Button();
    spin->setValue(50);
    QTest::keyClick(b, Qt::Key_Up);
    EXPECT_EQ(spin->Value(), 51);
    QTest::keyClick(b, Qt::Key_Down);
    QTest::keyClick(b, Qt::Key_Down);
    EXPECT_EQ(spin->Value(), 49);
    QTest::keyClick(b, Qt::Key_Right);  // not a key of the vertical button
    EXPECT_EQ(spin->Value(), 49);

    b->setOrientation(orHorizontal);
    QTest::keyClick(b, Qt::Key_Right);
    EXPECT_EQ(spin->Value(), 50);
    QTest::keyClick(b, Qt::Key_Left);
    EXPECT_EQ(spin->Value(), 49);
    QTest::keyClick(b, Qt::Key_Up);
    EXPECT_EQ(spin->Value(), 49);

    spin->setValue(100);
    b->setOrientation(orVertical);
    QTest::keyClick(b, Qt::Key_Up);  // at the top: stays, still a click
    EXPECT_EQ(spin->Value(), 100);
}

TEST_F(LedSpinTest, MiddleButtonDragSetsAShareOfTheRange)
{
    TMMSpinButton* b = spin->Button();
    spin->setMiddleButton(true);
    spin->setMinValue(0);
    spin->setValue(50);
    const QPoint mid = b->PartRect(spMiddle).center();
    ASSERT_EQ(b->PartAt(mid), spMiddle);
    QTest::mousePress(b, Qt::LeftButton, {}, mid);
    EXPECT_TRUE(b->Dragging());
    QTest::mouseMove(b, mid - QPoint(0, 7));
    EXPECT_EQ(spin->Value(), 57);
    QTest::mouseMove(b, mid + QPoint(0, 3));
    EXPECT_EQ(spin->Value(), 47);
    QTest::mouseRelease(b, Qt::LeftButton, {}, mid + QPoint(0, 3));
    EXPECT_FALSE(b->Dragging());
    QTest::mouseMove(b, mid - QPoint(0, 9));  // after the release: nothing
    EXPECT_EQ(spin->Value(), 47);

    // Without MiddleButton the middle does not exist.
    spin->setMiddleButton(false);
    EXPECT_TRUE(b->PartRect(spMiddle).isEmpty());
}

// ---- golden images ----

TEST(LedGolden, LabelsAndSpin)
{
    TMMLEDLABEL big;
    big.setBevel(channelLabelBevel());
    big.setCaption("ABC");
    EXPECT_TRUE(MatchesGolden(render(big), "led_label"));

    TMMLEDLABEL small;
    small.setBevel(channelLabelBevel());
    small.setFontSize(fs11x13);
    small.setLEDColor(clCream);
    small.setInactiveColor(clBlack);
    small.setCaption(QString::fromUtf8("M\u00E4\u00DF \u00B1 09"));
    EXPECT_TRUE(MatchesGolden(render(small), "led_label_small"));

    TMMLEDLABEL bold;
    bold.setFontSize(fs11x13_bold);
    bold.setLEDColor(clRed);
    bold.setCaption("Alarm!");
    EXPECT_TRUE(MatchesGolden(render(bold), "led_label_bold"));

    TMMLEDSpin spin;
    spin.setNumDigits(3);
    spin.setZeroBlank(true);
    spin.setMinValue(-99);
    spin.setValue(57);
    EXPECT_TRUE(MatchesGolden(render(spin), "led_spin"));
    spin.setValue(-4);
    EXPECT_TRUE(MatchesGolden(render(spin), "led_spin_minus"));
}
