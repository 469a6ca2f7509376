// Golden-image comparison of the Qt tests. The images live in
// $TARVOLIN_TEST_DATA/golden/NAME.png; TARVOLIN_UPDATE_GOLDEN=1 writes the
// current rendering as the new golden image instead of comparing.
#pragma once

#include <QImage>

#include <gtest/gtest.h>

#include <string>

std::string GoldenPath(const std::string& name);

// Passes when at most 0.2 % of the pixels differ by more than 24 in a channel
// (glyph rendering may differ slightly between FreeType builds).
::testing::AssertionResult MatchesGolden(const QImage& image, const std::string& name);
