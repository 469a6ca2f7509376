#include "widgets/MMSpinCore.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

TEST(SpinCore, HeldButtonRepeatsAt400ThenEvery50)
{
    TMMAutoRepeat r;
    std::vector<int64_t> steps;
    const int64_t t0 = 10000;
    r.Press(t0);
    for (int64_t t = t0; t < t0 + 1000; ++t)
        for (int n = r.Poll(t); n > 0; --n) steps.push_back(t - t0);
    if (r.Release(true)) steps.push_back(1000);

    std::vector<int64_t> expected;
    for (int64_t t = 400; t < 1000; t += 50) expected.push_back(t);
    expected.push_back(1000);  // the release over the button
    EXPECT_EQ(steps, expected);
}

TEST(SpinCore, ShortClickStepsOnceAtRelease)
{
    TMMAutoRepeat r;
    r.Press(0);
    EXPECT_EQ(r.Poll(399), 0);
    EXPECT_TRUE(r.Release(true));
    EXPECT_FALSE(r.Held());
    EXPECT_EQ(r.Poll(5000), 0);  // nothing after the release

    r.Press(0);
    EXPECT_FALSE(r.Release(false));  // released away from the button
    EXPECT_FALSE(r.Release(true));   // a second release is no click
}

TEST(SpinCore, LatePollCatchesUpAndBackwardClockIsHarmless)
{
    TMMAutoRepeat r;
    r.Press(0);
    EXPECT_EQ(r.Poll(400), 1);
    EXPECT_EQ(r.NextDue(), 450);
    EXPECT_EQ(r.Poll(600), 4);  // 450, 500, 550, 600
    EXPECT_EQ(r.NextDue(), 650);
    EXPECT_EQ(r.Poll(100), 0);  // clock went back
    r.Cancel();
    EXPECT_EQ(r.Poll(10000), 0);
}

TEST(SpinCore, ClampAndKeys)
{
    EXPECT_EQ(ClampSpinValue(150, 1, 100), 100);
    EXPECT_EQ(ClampSpinValue(0, 1, 100), 1);
    EXPECT_EQ(ClampSpinValue(LLONG_MAX, INT_MIN, INT_MAX), INT_MAX);
    EXPECT_EQ(ClampSpinValue(5, 10, 0), 0);  // crossed limits: the maximum wins

    EXPECT_EQ(SpinKeyPart(akUp, orVertical), spUp);
    EXPECT_EQ(SpinKeyPart(akDown, orVertical), spDown);
    EXPECT_EQ(SpinKeyPart(akLeft, orVertical), spNone);
    EXPECT_EQ(SpinKeyPart(akRight, orVertical), spNone);
    EXPECT_EQ(SpinKeyPart(akRight, orHorizontal), spUp);
    EXPECT_EQ(SpinKeyPart(akLeft, orHorizontal), spDown);
    EXPECT_EQ(SpinKeyPart(akUp, orHorizontal), spNone);
}

TEST(SpinCore, MiddleDragIsAPercentageOfTheRange)
{
    // Range 0 .. 100: one pixel is one step; moving up (smaller y) increases.
    EXPECT_EQ(SpinDragValue(50, 0, 100, 40, 30), 60);
    EXPECT_EQ(SpinDragValue(50, 0, 100, 40, 50), 40);
    EXPECT_EQ(SpinDragValue(50, 0, 100, 40, -1000), 100);  // clamped
    // Range 0 .. 10: 10 % per pixel, cut toward zero both ways.
    EXPECT_EQ(SpinDragValue(5, 0, 10, 0, -19), 6);
    EXPECT_EQ(SpinDragValue(5, 0, 10, 0, 19), 4);
    // Extreme range and distance: no overflow.
    EXPECT_EQ(SpinDragValue(0, INT_MIN, INT_MAX, INT_MAX, INT_MIN), INT_MAX);
    EXPECT_EQ(SpinDragValue(0, INT_MIN, INT_MAX, INT_MIN, INT_MAX), INT_MIN);
}
