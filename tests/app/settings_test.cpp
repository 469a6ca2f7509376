// Setting value rules, run against the memory store and the file store alike.
#include "app/Settings.h"
#include "app/SettingsFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

const auto CU = TSettingsRoot::CurrentUser;

// A default of the same kind as v but another content.
TSettingValue otherOfKind(const TSettingValue& v)
{
    switch (v.Kind()) {
    case TSettingKind::Int16: return TSettingValue::OfInt16(42);
    case TSettingKind::UInt8: return TSettingValue::OfUInt8(42);
    case TSettingKind::Boolean: return TSettingValue(!v.AsBoolean());
    case TSettingKind::Single: return TSettingValue::OfSingle(42);
    case TSettingKind::Double: return TSettingValue(42.0);
    case TSettingKind::Currency: return TSettingValue::OfCurrency(42);
    case TSettingKind::DateTime: return TSettingValue::OfDateTime(42);
    case TSettingKind::Text: return TSettingValue("default");
    default: return TSettingValue(42);
    }
}

class SettingsRules : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        if (GetParam()) {
            char dir[] = "/tmp/tv_settings_test_XXXXXX";
            ASSERT_NE(mkdtemp(dir), nullptr);
            mDir = dir;
            store = std::make_unique<TSettingsFile>(mDir + "/settings.reg", [this](const std::string& w) { warnings += w; });
        } else {
            store = std::make_unique<TMemorySettingsStore>();
        }
    }
    void TearDown() override
    {
        if (!mDir.empty()) std::system(("rm -rf '" + mDir + "'").c_str());
    }
    void write(const std::string& name, const TSettingValue& v) { WriteSetting(*store, CU, kTarvolinKey, name, v); }
    TSettingValue read(const std::string& name, const TSettingValue& def)
    {
        return ReadSetting(*store, CU, kTarvolinKey, name, def);
    }

    std::unique_ptr<TSettingsStore> store;
    std::string warnings;
    std::string mDir;
};

TEST_P(SettingsRules, NeverWrittenGivesTheDefaultWithItsKind)
{
    for (const TSettingValue& def :
         {TSettingValue(8), TSettingValue(true), TSettingValue("skins/a.skn"), TSettingValue(2.5),
          TSettingValue::OfCurrency(-12345), TSettingValue::OfDateTime(45000.25), TSettingValue::OfInt16(-7),
          TSettingValue::OfUInt8(200), TSettingValue::OfSingle(1.5f)}) {
        const TSettingValue r = read("Window Left", def);
        EXPECT_EQ(r, def);
        EXPECT_EQ(r.Kind(), def.Kind());
    }
    EXPECT_TRUE(warnings.empty()) << warnings;
}

TEST_P(SettingsRules, NamesMatchWithoutRegardToCase)
{
    write("Window Top", 120);
    EXPECT_EQ(read("Window top", 7).AsInteger(), 120);
    write("Din", 80);
    write("DIN", 81);  // the same value, not a second one
    EXPECT_EQ(read("din", 0).AsInteger(), 81);
    write("Edit 3", "Vox");
    EXPECT_EQ(read("EDIT 3", "").AsText(), "Vox");

    TRegData d;
    ASSERT_TRUE(store->ReadValue(CU, "verholt-products\\TARVOLIN", "window TOP", d));  // key paths too
}

TEST_P(SettingsRules, EveryStoredKindRoundTrips)
{
    const TSettingValue values[] = {
        TSettingValue(-2147483647 - 1), TSettingValue(65280), TSettingValue::OfInt16(-32768), TSettingValue::OfUInt8(255),
        TSettingValue(true), TSettingValue(false), TSettingValue(-0.0), TSettingValue(1e-310),
        TSettingValue::OfSingle(-3.25f), TSettingValue::OfCurrency(INT64_MIN), TSettingValue::OfDateTime(36526.5),
        TSettingValue(""), TSettingValue("C:\\skins\\\"iTunes\".skn"), TSettingValue("Zürich ♪ 𝄞"),
        TSettingValue("two\nlines\r\tand a tab"), TSettingValue("a\tb\x01"),
    };
    int i = 0;
    for (const TSettingValue& v : values) {
        const std::string name = "v" + std::to_string(i++);
        write(name, v);
        EXPECT_EQ(read(name, otherOfKind(v)), v) << name << " " << v.AsText();
    }
    EXPECT_TRUE(std::isnan(([&] {
        write("nan", TSettingValue(std::nan("")));
        return read("nan", 1.0).AsDouble();
    })()));
    // The platform keeps text up to a NUL.
    write("nul", TSettingValue(std::string("ab\0cd", 5)));
    EXPECT_EQ(read("nul", "").AsText(), "ab");
}

TEST_P(SettingsRules, DataOfAnotherKindOrSizeReadsAsTheDefault)
{
    write("Level Decay1", "twelve");
    EXPECT_EQ(read("Level Decay1", 12), TSettingValue(12));
    EXPECT_EQ(read("Level Decay1", true), TSettingValue(true));
    write("skin", 5);
    EXPECT_EQ(read("skin", "a.skn").AsText(), "a.skn");
    EXPECT_EQ(read("skin", 2.0), TSettingValue(2.0));  // 4 bytes where 8 are expected
    write("real", 2.0);
    EXPECT_EQ(read("real", 3), TSettingValue(3));
    // 8-byte data is taken as it is: the bits of 2.0 as a count of ten-thousandths.
    EXPECT_EQ(read("real", TSettingValue::OfCurrency(1)), TSettingValue::OfCurrency(0x4000000000000000LL));
    // Values that do not fit the default's size.
    write("big", 70000);
    EXPECT_EQ(read("big", TSettingValue::OfInt16(4)), TSettingValue::OfInt16(4));
    write("neg", -1);
    EXPECT_EQ(read("neg", TSettingValue::OfUInt8(9)), TSettingValue::OfUInt8(9));
    write("huge", 1e300);
    EXPECT_EQ(read("huge", TSettingValue::OfSingle(1.f)), TSettingValue::OfSingle(1.f));
}

TEST_P(SettingsRules, BooleansReadFromAnyNonZeroInteger)
{
    write("cb detect", 7);
    EXPECT_EQ(read("cb detect", false), TSettingValue(true));
    write("cb detect", -1);
    EXPECT_EQ(read("cb detect", false), TSettingValue(true));
    write("cb detect", 0);
    EXPECT_EQ(read("cb detect", true), TSettingValue(false));
    write("Leave Peaks", true);
    EXPECT_EQ(read("Leave Peaks", 0), TSettingValue(1));
}

TEST_P(SettingsRules, UnsupportedKindsAndPlacesStoreNothing)
{
    write("x", 5);
    for (const TSettingValue& v : {TSettingValue(), TSettingValue::OfInt8(1), TSettingValue::OfUInt16(2),
                                   TSettingValue::OfUInt32(3), TSettingValue::OfInt64(4), TSettingValue::OfUInt64(5)}) {
        write("x", v);
        write("y", v);
        EXPECT_EQ(read("x", 0).AsInteger(), 5);
        EXPECT_EQ(read("y", 0).AsInteger(), 0);
        EXPECT_EQ(read("x", v), v) << "unsupported kinds are not read either";
    }
    WriteSetting(*store, TSettingsRoot::LocalMachine, kTarvolinKey, "z", 1);
    WriteSetting(*store, CU, "", "z", 1);
    EXPECT_EQ(ReadSetting(*store, TSettingsRoot::LocalMachine, kTarvolinKey, "x", 9).AsInteger(), 9);
    EXPECT_EQ(read("z", 9).AsInteger(), 9);
    EXPECT_TRUE(warnings.empty()) << warnings;
}

INSTANTIATE_TEST_SUITE_P(Stores, SettingsRules, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "File" : "Memory"; });

TEST(SettingValue, CallerConversions)
{
    EXPECT_EQ(TSettingValue(2.5).AsInteger(), 2);  // halves to even
    EXPECT_EQ(TSettingValue(3.5).AsInteger(), 4);
    EXPECT_EQ(TSettingValue(1e12).AsInteger(), INT32_MAX);
    EXPECT_EQ(TSettingValue::OfCurrency(25000).AsInteger(), 2);
    EXPECT_EQ(TSettingValue::OfCurrency(-35000).AsInteger(), -4);
    EXPECT_EQ(TSettingValue("-17").AsInteger(), -17);
    EXPECT_EQ(TSettingValue("17 dB").AsInteger(), 0);
    EXPECT_TRUE(TSettingValue("TRUE").AsBoolean());
    EXPECT_EQ(TSettingValue(true).AsText(), "True");
    EXPECT_EQ(TSettingValue::OfUInt64(UINT64_MAX).AsText(), "18446744073709551615");
}

}  // namespace
