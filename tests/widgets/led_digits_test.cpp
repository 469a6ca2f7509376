#include "widgets/MMLEDDigits.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// A panel over plain digit cores, read back as text: ' ' blank, '-' minus.
struct Panel {
    std::vector<std::unique_ptr<TMMLEDDigitCore>> digits;
    TMMLEDPanelCore core;

    explicit Panel(int n, bool zeroBlank)
    {
        std::vector<TMMLEDDigitCore*> raw;
        for (int i = 0; i < n; ++i) {
            digits.push_back(std::make_unique<TMMLEDDigitCore>());
            raw.push_back(digits.back().get());
        }
        core.SetMinValue(-1000000);
        core.SetMaxValue(1000000);
        core.SetZeroBlank(zeroBlank);
        core.SetDigits(raw);
    }
    std::string Shown() const
    {
        std::string s;
        for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
            const int g = (*it)->GlyphIndex();
            if ((*it)->DisplayType() == ltMinus) s += g == ltMinus ? '-' : '?';
            else s += g == 0 ? ' ' : char('0' + g - 1);
        }
        return s;
    }
};

}  // namespace

TEST(LedDigits, PanelBlanksLeadingZeros)
{
    Panel p(3, true);
    const struct {
        int v;
        const char* shown;
    } cases[] = {{7, "  7"}, {57, " 57"}, {100, "100"}, {0, "  0"}, {-4, "- 4"},
                 {10, " 10"}, {-40, "-40"}, {999, "999"}, {-99, "-99"}};
    for (const auto& c : cases) {
        p.core.SetValue(c.v);
        EXPECT_EQ(p.Shown(), c.shown) << c.v;
    }
    // Back down from a wide value: the higher digits must not keep old digits.
    p.core.SetValue(123);
    p.core.SetValue(5);
    EXPECT_EQ(p.Shown(), "  5");
}

TEST(LedDigits, PanelWithoutZeroBlankShowsAllDigits)
{
    Panel p(3, false);
    p.core.SetValue(7);
    EXPECT_EQ(p.Shown(), "007");
    p.core.SetValue(-4);
    EXPECT_EQ(p.Shown(), "-04");
    p.core.SetValue(4);
    EXPECT_EQ(p.Shown(), "004");  // the minus goes away again
}

TEST(LedDigits, PanelClampsToLimitsAndToWhatItsDigitsShow)
{
    Panel p(3, true);
    p.core.SetMinValue(1);
    p.core.SetMaxValue(100);
    EXPECT_TRUE(p.core.SetValue(150));
    EXPECT_EQ(p.core.Value(), 100);
    EXPECT_FALSE(p.core.SetValue(100));  // unchanged: no change reported
    EXPECT_TRUE(p.core.SetValue(0));
    EXPECT_EQ(p.core.Value(), 1);
    // Narrowing a limit pulls the value in.
    p.core.SetValue(80);
    EXPECT_TRUE(p.core.SetMaxValue(50));
    EXPECT_EQ(p.core.Value(), 50);

    // Two digits cannot show 100 (it would read 00), nor -10.
    Panel two(2, false);
    two.core.SetMinValue(-100);
    two.core.SetMaxValue(100);
    two.core.SetValue(100);
    EXPECT_EQ(two.core.Value(), 99);
    EXPECT_EQ(two.Shown(), "99");
    two.core.SetValue(-50);
    EXPECT_EQ(two.core.Value(), -9);
    EXPECT_EQ(two.Shown(), "-9");

    Panel one(1, true);
    one.core.SetValue(-4);
    EXPECT_EQ(one.core.Value(), 0);
    EXPECT_EQ(one.Shown(), "0");
}

TEST(LedDigits, BlankingRuleForWidePanels)
{
    // Digit k keeps zeros while 10^k < |v| and k < n - 1.
    EXPECT_EQ(LEDPanelZeroBlanks(1005, 5, true), (std::vector<bool>{false, false, false, false, true}));
    EXPECT_EQ(LEDPanelZeroBlanks(105, 5, true), (std::vector<bool>{false, false, false, true, true}));
    EXPECT_EQ(LEDPanelZeroBlanks(-105, 5, true), (std::vector<bool>{false, false, false, true, true}));
    EXPECT_EQ(LEDPanelZeroBlanks(1005, 5, false), std::vector<bool>(5, false));
    EXPECT_EQ(LEDPanelZeroBlanks(0, 1, true), std::vector<bool>{false});
    EXPECT_TRUE(LEDPanelZeroBlanks(5, 0, true).empty());
    EXPECT_EQ(LEDPanelMaxShown(5), 99999);
    EXPECT_EQ(LEDPanelMinShown(5), -9999);
}

TEST(LedDigits, DigitCascadeAndLimits)
{
    TMMLEDDigitCore units, tens, hundreds;
    units.SetCascadeValues(true);
    tens.SetCascadeValues(true);
    units.SetConnect(&tens);
    tens.SetConnect(&hundreds);
    units.SetValue(472);
    EXPECT_EQ(units.Value(), 2);
    EXPECT_EQ(tens.Value(), 7);
    EXPECT_EQ(hundreds.Value(), 4);

    // Without CascadeValues nothing is passed on.
    units.SetCascadeValues(false);
    units.SetValue(38);
    EXPECT_EQ(units.Value(), 8);
    EXPECT_EQ(tens.Value(), 7);

    // A value outside MinValue .. MaxValue is ignored.
    TMMLEDDigitCore d;
    d.SetMaxValue(5);
    d.SetValue(3);
    d.SetValue(7);
    EXPECT_EQ(d.Value(), 3);
    d.SetValue(-4);
    EXPECT_EQ(d.Value(), 3);

    // Never connected to itself or into a loop.
    d.SetConnect(&d);
    EXPECT_EQ(d.Connect(), nullptr);
    hundreds.SetConnect(&units);
    EXPECT_EQ(hundreds.Connect(), nullptr);
}

TEST(LedDigits, GlyphIndexByTypeBlankAndEnabled)
{
    TMMLEDDigitCore d;
    int invalidated = 0;
    d.OnInvalidate = [&] { ++invalidated; };
    d.SetValue(0);
    EXPECT_EQ(d.GlyphIndex(), 1);
    d.SetZeroBlank(true);
    EXPECT_EQ(d.GlyphIndex(), 0);
    d.SetValue(9);
    EXPECT_EQ(d.GlyphIndex(), 10);
    d.SetDisplayType(ltColon);
    EXPECT_EQ(d.GlyphIndex(), 2);
    EXPECT_TRUE(d.UsesSpecialStrip());
    d.SetEnabled(false);
    EXPECT_EQ(d.GlyphIndex(), 0);
    d.SetDisplayType(TMMLEDType(7));  // not a type: ignored
    EXPECT_EQ(d.DisplayType(), ltColon);
    EXPECT_GE(invalidated, 5);
}
