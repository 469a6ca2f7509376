// The program's command line: options, values and refusals.
#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(CommandLine, SimOutputCaptureTakesAFileAndIsListedInTheUsage)
{
    CommandLine cl = ParseCommandLine({"--audio", "simulated", "--sim-output-capture", "/tmp/out.wav", "--log-out",
                                       "log.txt", "--run-for", "2.5"});
    EXPECT_EQ(cl.simOutputCapture, "/tmp/out.wav");
    EXPECT_EQ(cl.logOut, "log.txt");
    EXPECT_EQ(cl.audio, "simulated");
    ASSERT_TRUE(cl.runForSeconds.has_value());
    EXPECT_DOUBLE_EQ(*cl.runForSeconds, 2.5);
    EXPECT_TRUE(ParseCommandLine({}).simOutputCapture.empty());

    // A name beginning with a dash is a file name here, not an option.
    EXPECT_EQ(ParseCommandLine({"--sim-output-capture", "-x.wav"}).simOutputCapture, "-x.wav");
    try {
        ParseCommandLine({"--sim-output-capture"});
        FAIL() << "a missing value is refused";
    } catch (const ECommandLineError& e) {
        EXPECT_STREQ(e.what(), "--sim-output-capture: missing value");
    }
    EXPECT_NE(CommandLineUsage().find("--sim-output-capture FILE"), std::string::npos);
}

TEST(CommandLine, RefusesBadValuesAndUnknownOptions)
{
    EXPECT_THROW(ParseCommandLine({"--audio", "alsa"}), ECommandLineError);
    EXPECT_THROW(ParseCommandLine({"--sim-input", "13=silence"}), ECommandLineError);
    EXPECT_THROW(ParseCommandLine({"--run-for", "0"}), ECommandLineError);
    EXPECT_THROW(ParseCommandLine({"--after", "-1"}), ECommandLineError);
    EXPECT_THROW(ParseCommandLine({"--set", "=1"}), ECommandLineError);
    EXPECT_THROW(ParseCommandLine({"--sim-output"}), ECommandLineError);
    EXPECT_EQ(ParseCommandLine({"--display-rate", "25"}).displayRate, 25);
    EXPECT_EQ(ParseCommandLine({}).displayRate, 0);  // the stored choice
    for (const char* bad : {"24", "0", "120", "60fps", ""}) EXPECT_THROW(ParseCommandLine({"--display-rate", bad}), ECommandLineError) << bad;
    std::vector<std::string> rest;
    ParseCommandLine({"-platform", "offscreen"}, &rest);
    EXPECT_EQ(rest, (std::vector<std::string>{"-platform", "offscreen"}));
}

TEST(CommandLine, ScreenshotWindowNamesOneKnownWindowAndNeedsAFile)
{
    EXPECT_EQ(ParseCommandLine({"--screenshot", "a.png"}).screenshotWindow, "main");
    for (const std::string& name : ScreenshotWindowNames()) {
        EXPECT_EQ(ParseCommandLine({"--screenshot-window", name, "--screenshot", "a.png"}).screenshotWindow, name);
        EXPECT_NE(CommandLineUsage().find(name), std::string::npos) << name;
    }
    // Names match exactly: no case folding, no prefixes, no empty name.
    for (const char* bad : {"Main", "corr", "", "main ", "loudness-meter"}) {
        try {
            ParseCommandLine({"--screenshot", "a.png", "--screenshot-window", bad});
            FAIL() << "'" << bad << "' is refused";
        } catch (const ECommandLineError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("--screenshot-window: unknown window '") + bad +
                                                 "' (one of main, input, level, labels, log, correlation, "
                                                 "skins, info, actions, loudness)");
        }
    }
    // Without a file there is nothing to save the window to.
    EXPECT_THROW(ParseCommandLine({"--screenshot-window", "level"}), ECommandLineError);
    EXPECT_THROW(ParseCommandLine({"--screenshot-window"}), ECommandLineError);
    // Modes without the program's windows refuse it rather than ignore it.
    EXPECT_THROW(ParseCommandLine({"--headless", "--screenshot", "a.png", "--screenshot-window", "log"}),
                 ECommandLineError);
    EXPECT_THROW(ParseCommandLine({"--screenshot-window", "main", "--screenshot", "a.png", "--demo-chain"}),
                 ECommandLineError);
}

}  // namespace

TEST(CommandLine, CheckSkinTakesAFileAndAnswersWithTheExitCode)
{
    EXPECT_EQ(ParseCommandLine({"--check-skin", "a.skn"}).checkSkin, "a.skn");
    EXPECT_THROW(ParseCommandLine({"--check-skin"}), ECommandLineError);
    EXPECT_THROW(ParseCommandLine({"--check-skin", ""}), ECommandLineError);
    EXPECT_NE(CommandLineUsage().find("--check-skin FILE"), std::string::npos);

    const std::string skins = std::string(TARVOLIN_SOURCE_DIR) + "/skins/";
    std::ostringstream out, err;
    EXPECT_EQ(CheckSkinFile(skins + "mxskin24.skn", out, err), 0);
    EXPECT_NE(out.str().find("can be used"), std::string::npos);
    EXPECT_TRUE(err.str().empty());
    out.str("");
    EXPECT_EQ(CheckSkinFile(skins + "no-such.skn", out, err), 1);
    EXPECT_EQ(err.str(), "tarvolin: skin " + skins + "no-such.skn: cannot open the file\n");
    EXPECT_TRUE(out.str().empty());
}
