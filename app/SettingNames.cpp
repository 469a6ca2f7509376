#include "app/SettingNames.h"

#include "app/DeviceNames.h"
#include "app/SettingsRegText.h"
#include "correlation/MMCorrelationSettings.h"
#include "metering/MMLoudnessSettings.h"
#include "metering/MMPresets.h"
#include "metering/MainBar.h"
#include "monitoring/MMMonitorSettings.h"

namespace {

constexpr int32_t kLime = 65280, kYellow = 65535, kRed = 255;


TSettingEntry entry(std::string name, TSettingType type, TSettingGroup group, int32_t def)
{
    TSettingEntry e;
    e.readName = name;
    e.writeName = std::move(name);
    e.type = type;
    e.group = group;
    e.intDefault = def;
    return e;
}

TSettingEntry integer(std::string name, TSettingGroup group, int32_t def)
{
    return entry(std::move(name), TSettingType::Integer, group, def);
}

TSettingEntry boolean(std::string name, TSettingGroup group, bool def)
{
    return entry(std::move(name), TSettingType::Boolean, group, def ? 1 : 0);
}

TSettingEntry text(std::string name, TSettingGroup group, std::string def)
{
    TSettingEntry e = entry(std::move(name), TSettingType::Text, group, 0);
    e.textDefault = std::move(def);
    return e;
}

// A key a subsystem declares (base/SettingKey.h).
TSettingEntry declared(const TSettingDecl& d, TSettingGroup group, TSettingWriter writer)
{
    TSettingEntry e = entry(d.Name, d.Type, group, d.IntDefault);
    e.textDefault = d.TextDefault;
    e.writer = writer;
    return e;
}

TSettingEntry writeOnly(TSettingEntry e)
{
    e.read = false;
    e.hasDefault = false;
    return e;
}

std::vector<TSettingEntry> build()
{
    using G = TSettingGroup;
    std::vector<TSettingEntry> v;

    v.push_back(integer("Window Left", G::MainWindow, 8));
    TSettingEntry top = integer("Window top", G::MainWindow, 7);
    top.writeName = "Window Top";
    v.push_back(top);
    v.push_back(integer("Window height", G::MainWindow, 1028));
    v.push_back(integer("Input Mode", G::MainWindow, 1382));  // outer width of the main window
    TSettingEntry skin = text("skin", G::MainWindow, "skins\\iTunes.skn");
    skin.writer = TSettingWriter::SkinChoice;
    v.push_back(skin);

    for (int n = 1; n <= tv::kStrips; ++n) {
        const std::string s = std::to_string(n);
        auto strip = [n](TSettingEntry e) {
            e.index = n;
            return e;
        };
        v.push_back(strip(integer("Level Decay" + s, G::Strip, MainBarDecay)));
        v.push_back(strip(integer("Level NumPeaks" + s, G::Strip, MainBarNumPeaks)));
        v.push_back(strip(integer("Level Sensi" + s, G::Strip, MainBarSensitivy(n))));
        v.push_back(strip(integer("Level Bar1Color" + s, G::Strip, kLime)));
        v.push_back(strip(integer("Level Bar2Color" + s, G::Strip, kYellow)));
        v.push_back(strip(integer("Level Bar3Color" + s, G::Strip, kRed)));
        v.push_back(strip(integer("Level Point1" + s, G::Strip, MainBarPoint1)));
        v.push_back(strip(integer("Level Point2" + s, G::Strip, MainBarPoint2)));
        v.push_back(strip(integer("LedColor" + s, G::Strip, kLime)));
        v.push_back(strip(writeOnly(integer("Level Delay" + s, G::Strip, MainBarPeakDelay))));
        v.push_back(strip(writeOnly(integer("Level Speed" + s, G::Strip, MainBarPeakSpeed))));
        TSettingEntry label = strip(text("Edit " + s, G::Strip, ""));
        label.writer = TSettingWriter::LabelsDialog;
        v.push_back(label);
    }

    v.push_back(integer("rg Mode Din", G::LevelSettings, 1));
    v.push_back(integer("rg Integral ms", G::LevelSettings, 0));
    v.push_back(integer("rg Integral", G::LevelSettings, 0));
    v.push_back(integer("rg Stereo", G::LevelSettings, 0));
    v.push_back(integer("Peaks nr", G::LevelSettings, 3));
    v.push_back(integer("PSpot Space", G::LevelSettings, 0));
    v.push_back(boolean("Leave Peaks", G::LevelSettings, true));
    v.push_back(writeOnly(boolean("Stay Top", G::LevelSettings, true)));
    v.push_back(integer("db_value", G::LevelSettings, 0));
    v.push_back(integer("db_value2", G::LevelSettings, -40));
    v.push_back(integer("sec_value", G::LevelSettings, 5));
    v.push_back(integer("nEdit2", G::LevelSettings, 0));
    v.push_back(boolean("cb detect", G::LevelSettings, false));
    v.push_back(integer("arlam sec", G::LevelSettings, 10));
    v.push_back(text("arlam file", G::LevelSettings, ""));
    v.push_back(integer("Ballistics", G::LevelSettings, 0));  // 0 "As preset", 1 "Standard instrument"

    for (int i = 0; i < 9; ++i) {
        const TLimitNames l = LimitNames(i);
        TSettingEntry t = integer(l.topRead, G::Limits, l.topDefault);
        t.writeName = l.topWrite;
        t.writer = TSettingWriter::LimitsSave;
        t.index = i;
        v.push_back(t);
        TSettingEntry b = integer(l.bottomRead, G::Limits, l.bottomDefault);
        b.writeName = l.bottomWrite;
        b.writer = TSettingWriter::LimitsSave;
        b.index = i;
        v.push_back(b);
    }

    v.push_back(integer("rg Mode", G::InputSetup, 2));
    TSettingEntry rate = declared(kSampleRateSetting.Decl(), G::InputSetup, TSettingWriter::InputSetupOk);
    v.push_back(rate);
    for (int k = 1; k <= tv::kPairs; ++k) {
        TSettingEntry m = integer("multi_" + std::to_string(k), G::InputSetup, 0);
        m.writer = TSettingWriter::InputSetupOk;
        m.index = k;
        v.push_back(m);
        // The chosen device's name and rank among devices of that name.
        TSettingEntry name = text(RecorderNameSetting(k), G::InputSetup, "");
        name.writer = TSettingWriter::InputSetupOk;
        name.index = k;
        v.push_back(name);
        TSettingEntry rank = integer(RecorderRankSetting(k), G::InputSetup, 0);
        rank.writer = TSettingWriter::InputSetupOk;
        rank.index = k;
        v.push_back(rank);
    }
    TSettingEntry out = integer("out", G::InputSetup, 0);
    out.writer = TSettingWriter::InputSetupOk;
    v.push_back(out);
    TSettingEntry outName = text(kOutNameSetting, G::InputSetup, "");
    outName.writer = TSettingWriter::InputSetupOk;
    v.push_back(outName);
    TSettingEntry outRank = integer(kOutRankSetting, G::InputSetup, 0);
    outRank.writer = TSettingWriter::InputSetupOk;
    v.push_back(outRank);
    TSettingEntry isSound = declared(kIsSoundSetting.Decl(), G::InputSetup, TSettingWriter::InputSetupOk);
    v.push_back(isSound);
    v.push_back(declared(kNetInterfaceSetting.Decl(), G::InputSetup, TSettingWriter::InputSetupOk));
    v.push_back(declared(kSdpFilesSetting.Decl(), G::InputSetup, TSettingWriter::InputSetupOk));

    v.push_back(declared(kDisplayRateSetting.Decl(), G::MainWindow, TSettingWriter::DisplayRateMenu));

    for (const TSettingDecl& d : kCorrelationSettingDecls) v.push_back(declared(d, G::Correlation, TSettingWriter::Exit));
    for (const TSettingDecl& d : kMonitorSettingDecls)
        v.push_back(declared(d, G::Monitoring, TSettingWriter::ActionsDialog));
    for (const TSettingDecl& d : kLoudnessSettingDecls)
        v.push_back(declared(d, G::Loudness, TSettingWriter::LoudnessWindow));
    return v;
}

}  // namespace

int32_t SettingDefaultInt(const std::string& name)
{
    const TSettingEntry* e = FindSettingEntry(name);
    return e ? e->intDefault : 0;
}

std::string SettingDefaultText(const std::string& name)
{
    const TSettingEntry* e = FindSettingEntry(name);
    return e ? e->textDefault : std::string();
}

TLimitNames LimitNames(int standard)
{
    // The level settings declare them with their presets.
    if (standard < 0 || standard > 8) return {"", "", 0, "", "", 0};
    const TMMPreset& p = PresetOf(standard);
    return {p.TopName, p.TopWriteName, p.TopDefault, p.BottomName, p.BottomWriteName, p.BottomDefault};
}
const std::vector<TSettingEntry>& AllSettingEntries()
{
    static const std::vector<TSettingEntry> all = build();
    return all;
}

std::vector<TSettingEntry> ExitSaveEntries()
{
    std::vector<TSettingEntry> r;
    for (const TSettingEntry& e : AllSettingEntries())
        if (e.writer == TSettingWriter::Exit) r.push_back(e);
    return r;
}

const TSettingEntry* FindSettingEntry(const std::string& name)
{
    for (const TSettingEntry& e : AllSettingEntries())
        if (SameName(e.readName, name) || SameName(e.writeName, name)) return &e;
    return nullptr;
}
