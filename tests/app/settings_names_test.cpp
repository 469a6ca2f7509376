// The table of stored values and the --settings/--set options.
#include "app/SettingNames.h"
#include "app/SettingsCommandLine.h"
#include "app/SettingsFile.h"
#include "app/StoreAccess.h"
#include "correlation/MMCorrelationSettings.h"
#include "metering/MMLoudnessSettings.h"
#include "monitoring/MMMonitorSettings.h"

#include <gtest/gtest.h>

#include <set>
#include <unistd.h>
#include <sstream>

namespace {

TEST(SettingNames, ExitSaveIsElevenPerStripAndTwentyFourOthers)
{
    const auto exit = ExitSaveEntries();
    ASSERT_EQ(exit.size(), static_cast<size_t>(kExitSaveCount));
    int perStrip = 0;
    for (const TSettingEntry& e : exit) perStrip += e.group == TSettingGroup::Strip;
    EXPECT_EQ(perStrip, 11 * tv::kStrips);

    std::set<std::string> seen;  // no two values share a name, whatever the case
    for (const TSettingEntry& e : AllSettingEntries()) {
        EXPECT_TRUE(seen.insert(FoldName(e.readName)).second) << e.readName;
        EXPECT_TRUE(SameName(e.readName, e.writeName)) << e.readName;
    }
}

TEST(SettingNames, NamesKindsAndDefaults)
{
    const TSettingEntry* top = FindSettingEntry("WINDOW TOP");
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->readName, "Window top");
    EXPECT_EQ(top->writeName, "Window Top");
    EXPECT_EQ(FindSettingEntry("din2")->writeName, "Din2");
    EXPECT_EQ(FindSettingEntry("Level Decay7")->intDefault, 12);
    EXPECT_EQ(FindSettingEntry("Edit 12")->type, TSettingType::Text);
    EXPECT_EQ(FindSettingEntry("Edit 12")->writer, TSettingWriter::LabelsDialog);
    EXPECT_EQ(FindSettingEntry("is Sound")->type, TSettingType::Boolean);
    EXPECT_FALSE(FindSettingEntry("Stay Top")->read);
    EXPECT_EQ(FindSettingEntry("Level Delay24")->intDefault, 49);
    EXPECT_EQ(FindSettingEntry("Level Decay25"), nullptr);
    EXPECT_EQ(FindSettingEntry("multi_13"), nullptr);
    const int sensi[][2] = {{1, -40}, {2, -40}, {3, -50}, {10, -50}, {11, -52}, {24, -52}};
    for (const auto& [n, def] : sensi)
        EXPECT_EQ(FindSettingEntry("Level Sensi" + std::to_string(n))->intDefault, def) << n;
    EXPECT_STREQ(LimitNames(1).topWrite, "Din");
    EXPECT_EQ(LimitNames(4).bottomDefault, 73);
    EXPECT_STREQ(LimitNames(9).topRead, "");
    // The monitoring service's values, written by the "Actions" dialog only.
    EXPECT_EQ(FindSettingEntry("journal days")->intDefault, 90);
    EXPECT_EQ(FindSettingEntry("Recovery Seconds")->intDefault, 0);
    EXPECT_EQ(FindSettingEntry("Action Alarm Command")->type, TSettingType::Text);
    EXPECT_EQ(FindSettingEntry("Action Restored URL")->writer, TSettingWriter::ActionsDialog);
    EXPECT_EQ(FindSettingEntry("Action Time Limit")->intDefault, 30);
}

// Keys a subsystem declares stand in the table as declared (name, kind,
// default), and the code that uses them starts from the same defaults.
TEST(SettingNames, DeclaredKeysMatchTheTableAndTheirUsers)
{
    std::vector<TSettingDecl> decls(std::begin(kCorrelationSettingDecls), std::end(kCorrelationSettingDecls));
    decls.insert(decls.end(), std::begin(kMonitorSettingDecls), std::end(kMonitorSettingDecls));
    decls.insert(decls.end(), std::begin(kLoudnessSettingDecls), std::end(kLoudnessSettingDecls));
    decls.push_back(kSampleRateSetting.Decl());
    decls.push_back(kIsSoundSetting.Decl());
    for (const TSettingDecl& d : decls) {
        const TSettingEntry* e = FindSettingEntry(d.Name);
        ASSERT_NE(e, nullptr) << d.Name;
        EXPECT_EQ(e->readName, d.Name);
        EXPECT_EQ(e->type, d.Type) << d.Name;
        EXPECT_EQ(e->intDefault, d.IntDefault) << d.Name;
        EXPECT_EQ(e->textDefault, d.TextDefault) << d.Name;
    }

    TMemoryStore empty;
    const TMonitorSettings m = ReadMonitorSettings(empty);
    EXPECT_EQ(m.JournalDays, FindSettingEntry("Journal Days")->intDefault);
    EXPECT_EQ(TMMJournal("/nonexistent").KeepDays(), m.JournalDays);
    EXPECT_EQ(m.RecoverySeconds, FindSettingEntry("Recovery Seconds")->intDefault);
    EXPECT_EQ(m.Actions.TimeLimitSeconds, FindSettingEntry("Action Time Limit")->intDefault);
    EXPECT_EQ(TMMLoudnessMeter().Target(), FindSettingEntry("Loudness Target")->intDefault);
}

TEST(SettingsCommandLine, ValuesTakeTheKindOfTheirName)
{
    TSettingValue v;
    std::string error;
    ASSERT_TRUE(SettingFromCommandLine("unknown", "-12", v, error));
    EXPECT_EQ(v, TSettingValue(-12));
    ASSERT_TRUE(SettingFromCommandLine("unknown", "99999999999", v, error));
    EXPECT_EQ(v, TSettingValue("99999999999"));
    ASSERT_TRUE(SettingFromCommandLine("unknown", " 5", v, error));
    EXPECT_EQ(v.Kind(), TSettingKind::Text);
    ASSERT_TRUE(SettingFromCommandLine("edit 3", "12", v, error));  // a label stays text
    EXPECT_EQ(v, TSettingValue("12"));
    ASSERT_TRUE(SettingFromCommandLine("is Sound", "TRUE", v, error));
    EXPECT_EQ(v, TSettingValue(true));
    EXPECT_FALSE(SettingFromCommandLine("Window Left", "left", v, error));
    EXPECT_NE(error.find("Window Left"), std::string::npos);
}

TEST(SettingsCommandLine, WritesBeforeStartIntoTheChosenFile)
{
    char dir[] = "/tmp/tv_settings_cli_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    CommandLine cl = ParseCommandLine({"--settings", std::string(dir) + "/s.reg", "--set", "window top=300", "--set",
                                       "Edit 1=Vox", "--set", "DIN=88"});
    std::ostringstream err;
    ASSERT_TRUE(ApplySettingsOptions(cl, err)) << err.str();
    TSettingsFile check(std::string(dir) + "/s.reg");
    EXPECT_EQ(ReadSetting(check, TSettingsRoot::CurrentUser, kTarvolinKey, "Window top", 7).AsInteger(), 300);
    EXPECT_EQ(ReadSetting(TSettingsRoot::CurrentUser, kTarvolinKey, "edit 1", "").AsText(), "Vox");
    TRegData raw;
    ASSERT_TRUE(check.ReadValue(TSettingsRoot::CurrentUser, kTarvolinKey, "din", raw));

    // A refused value writes nothing at all.
    cl = ParseCommandLine({"--settings", std::string(dir) + "/t.reg", "--set", "a=1", "--set", "Peaks nr=many"});
    EXPECT_FALSE(ApplySettingsOptions(cl, err));
    EXPECT_NE(err.str().find("Peaks nr"), std::string::npos);
    EXPECT_NE(access((std::string(dir) + "/t.reg").c_str(), F_OK), 0);
    SetSettingsStore(nullptr);
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
}

}  // namespace
