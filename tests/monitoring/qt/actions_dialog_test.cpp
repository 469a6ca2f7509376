// The "Actions" dialog: shows stored values, refuses faulty entries, and on
// "OK" writes the store and applies the values.
#include "monitoring/qt/uActions.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <map>

namespace {

struct Store : TSettingsAccess {
    std::map<std::string, int> ints;
    std::map<std::string, std::string> texts;
    int ReadInt(const std::string& n, int d) override { return ints.count(n) ? ints[n] : d; }
    bool ReadBool(const std::string& n, bool d) override { return ints.count(n) ? ints[n] != 0 : d; }
    std::string ReadText(const std::string& n, const std::string& d) override { return texts.count(n) ? texts[n] : d; }
    void WriteInt(const std::string& n, int v) override { ints[n] = v; }
    void WriteBool(const std::string& n, bool v) override { ints[n] = v; }
    void WriteText(const std::string& n, const std::string& v) override { texts[n] = v; }
};

TEST(ActionsDialog, ChecksWritesAndApplies)
{
    Store store;
    TfActions d;
    d.setStore(&store);
    int applied = 0;
    TMonitorSettings got;
    d.OnApply = [&](const TMonitorSettings& s) {
        ++applied;
        got = s;
    };
    EXPECT_EQ(d.sp_journal_days->value(), 90);
    EXPECT_EQ(d.sp_recovery->value(), 0);
    EXPECT_EQ(d.sp_time_limit->value(), 30);

    d.ed_alarm_command->setText("page 'ops");
    EXPECT_FALSE(d.Accept());
    EXPECT_EQ(d.lab_error->text(), "Silence alarm command: unterminated single quote");
    d.ed_alarm_command->setText("page ops 'silence on strip'");
    d.ed_restored_url->setText("ftp://host/x");
    EXPECT_FALSE(d.Accept());
    EXPECT_TRUE(d.lab_error->text().startsWith("Sound restored URL"));
    EXPECT_EQ(applied, 0);
    EXPECT_TRUE(store.texts.empty());

    d.ed_restored_url->setText("  http://127.0.0.1:8080/hook ");
    d.sp_recovery->setValue(2);
    d.sp_journal_days->setValue(30);
    EXPECT_TRUE(d.Accept());
    EXPECT_EQ(applied, 1);
    EXPECT_EQ(got.RecoverySeconds, 2);
    EXPECT_EQ(got.Actions.RestoredUrl, "http://127.0.0.1:8080/hook");
    EXPECT_EQ(store.texts["Action Alarm Command"], "page ops 'silence on strip'");
    EXPECT_EQ(store.ints["Journal Days"], 30);
    EXPECT_EQ(ReadMonitorSettings(store).Actions.RestoredUrl, got.Actions.RestoredUrl);

    d.setValues(ReadMonitorSettings(store));
    EXPECT_EQ(d.sp_journal_days->value(), 30);
    EXPECT_TRUE(d.lab_error->text().isEmpty());
}

}  // namespace
