// Skin file parser, style sheet writer, the entry table, and the shipped
// skins' legibility.
#include "labels_skins/SkinChoice.h"
#include "labels_skins/SkinFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <unistd.h>

namespace {

std::string ReadFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::filesystem::path SkinsDir() { return std::filesystem::path(TARVOLIN_SOURCE_DIR) / "skins"; }

double Luminance(TSkinColor c)
{
    auto lin = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(c.r) + 0.7152 * lin(c.g) + 0.0722 * lin(c.b);
}

double Contrast(TSkinColor a, TSkinColor b)
{
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TSkinModel Parse(const std::string& text)
{
    const TSkinParseResult r = ParseSkinText(text);
    EXPECT_TRUE(r.ok) << r.error;
    return r.model;
}

}  // namespace

TEST(SkinFile, ReadsEverySection)
{
    const TSkinModel m = Parse(
        "# comment\n; also a comment\n[Skin]\nformat = 1\nName = Test Skin\n"
        "[palette]\nwindow = #102030\nText = #abc\n"
        "[font]\nfamily = DejaVu Sans\nsize = 13\nbold = yes\n"
        "[shape]\nradius = 5\nborder = 2\nborder-color = #ff0000\n"
        "[gradient]\nbutton = #ffffff   #000000\n"
        "[style:button:hover]\ncolor = #00ff00\n[style:combo]\nmin-width = 40px\n");
    EXPECT_EQ(m.name, "Test Skin");
    EXPECT_EQ(m.palette.at("window").Hex(), "#102030");
    EXPECT_EQ(m.palette.at("text").Hex(), "#aabbcc");
    EXPECT_EQ(m.fontFamily, "DejaVu Sans");
    EXPECT_EQ(m.fontPixelSize, 13);
    EXPECT_TRUE(m.fontBold);
    EXPECT_EQ(m.radius, 5);
    EXPECT_EQ(m.border, 2);
    EXPECT_EQ(m.borderColor->Hex(), "#ff0000");
    EXPECT_EQ(m.gradients.at(TSkinKind::Button).bottom.Hex(), "#000000");
    ASSERT_EQ(m.rules.at(TSkinKind::Button).size(), 1u);
    EXPECT_EQ(m.rules.at(TSkinKind::Button)[0].first, "hover:color");

    const std::string sheet = SkinStyleSheet(m, "skinned");
    EXPECT_NE(sheet.find("QPushButton[skinned=\"true\"]:hover { color: #00ff00; }"), std::string::npos) << sheet;
    EXPECT_NE(sheet.find("QComboBox[skinned=\"true\"] { min-width: 40px; }"), std::string::npos);
    EXPECT_NE(sheet.find("QTabBar[skinned=\"true\"]::tab"), std::string::npos);
    EXPECT_NE(sheet.find("font-family: \"DejaVu Sans\"; font-size: 13px; font-weight: bold;"), std::string::npos);
}

TEST(SkinFile, ToleratesBomCrlfAndBlankLines)
{
    const TSkinModel m = Parse("\xEF\xBB\xBF\r\n[skin]\r\n  name =  Crlf  \r\n\r\n[shape]\r\nradius=0\r\n");
    EXPECT_EQ(m.name, "Crlf");
    EXPECT_EQ(m.radius, 0);
}

TEST(SkinFile, RejectsMalformedFilesWithTheLine)
{
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"", "no [skin] section"},
        {"[palette]\nwindow=#fff\n", "no [skin] section"},
        {"[skin]\n", "no name"},
        {"name = x\n", "line 1: key outside a section"},
        {"[skin\nname=x\n", "line 1: unclosed section"},
        {"[skin]\nname=x\n[colours]\n", "line 3: unknown section"},
        {"[skin]\nname=x\njunk\n", "line 3: expected key = value"},
        {"[skin]\nname=x\nname=y\n", "line 3: key 'name' repeated"},
        {"[skin]\nname=x\n[skin]\n", "line 3: section repeated"},
        {"[skin]\nname=x\nformat=2\n", "unknown format"},
        {"[skin]\nname=x\n[palette]\nwindow=#12\n", "line 4: bad colour"},
        {"[skin]\nname=x\n[palette]\nwindow=#gg0000\n", "bad colour"},
        {"[skin]\nname=x\n[palette]\nbackground=#000\n", "unknown palette role"},
        {"[skin]\nname=x\n[font]\nsize=99\n", "size must be"},
        {"[skin]\nname=x\n[font]\nsize=-1\n", "size must be"},
        {"[skin]\nname=x\n[font]\nfamily=Evil\"; }\n", "bad family"},
        {"[skin]\nname=x\n[shape]\nradius=99999999999\n", "radius"},
        {"[skin]\nname=x\n[gradient]\nbutton=#fff\n", "two colours"},
        {"[skin]\nname=x\n[gradient]\nknob=#fff #000\n", "unknown control kind"},
        {"[skin]\nname=x\n[style:widget]\n", "unknown control kind"},
        {"[skin]\nname=x\n[style:button:active]\n", "unknown state"},
        {"[skin]\nname=x\n[style:button]\ncolor = red; } QWidget { color: red\n", "bad value"},
        {"[skin]\nname=x\n[style:button]\nimage = url(/etc/passwd)\n", "bad value"},
        {"[skin]\nname=x\n[style:button]\ncolor = red /* x\n", "bad value"},
        {"[skin]\nname=x\n[style:button]\n9lives = 1\n", "bad property"},
        {"[skin]\nname=a\0b\n", "not a text file"},
    };
    for (const Case& c : cases) {
        const std::string text(c.text, std::string(c.text).size() +
                                           (std::string(c.error) == "not a text file" ? 3 : 0));
        const TSkinParseResult r = ParseSkinText(text);
        EXPECT_FALSE(r.ok) << c.text;
        EXPECT_NE(r.error.find(c.error), std::string::npos) << c.text << " -> " << r.error;
        EXPECT_TRUE(r.model.name.empty()) << "a failed parse keeps nothing";
    }
    EXPECT_FALSE(ParseSkinText("[skin]\nname=x\n" + std::string(kSkinMaxBytes, '#')).ok);
}

TEST(SkinFile, EveryRuleIsLimitedToMarkedControls)
{
    TSkinModel m = Parse(ReadFile(SkinsDir() / "mxskin15.skn"));
    const std::string sheet = SkinStyleSheet(m, "skinned");
    std::istringstream in(sheet);
    std::string rule;
    int rules = 0;
    while (std::getline(in, rule)) {
        const std::string selectors = rule.substr(0, rule.find('{'));
        std::istringstream parts(selectors);
        std::string one;
        while (std::getline(parts, one, ',')) {
            EXPECT_NE(one.find("[skinned=\"true\"]"), std::string::npos) << rule;
            ++rules;
        }
    }
    EXPECT_GT(rules, 40);
}

TEST(SkinChoice, EntriesFollowTheTable)
{
    EXPECT_EQ(SkinEntryFile(0), "skins/iTunes.SKN");
    EXPECT_EQ(SkinEntryFile(4), "skins/mxskin24.skn");
    EXPECT_EQ(SkinEntryFile(6), "skins/mxskin29.SKN");
    EXPECT_EQ(SkinEntryFile(13), "skins/mxskin67.skn");
    EXPECT_EQ(SkinEntryFile(-1), "");
    EXPECT_EQ(SkinEntryFile(14), "");
    EXPECT_EQ(SkinEntryPath("/opt/tv/", 4), "/opt/tv/skins/mxskin24.skn");
    EXPECT_EQ(SkinEntryPath("/opt/tv/", 99), "");
}

// Every shipped skin parses, has its own name and look, and keeps text
// legible on every surface a control draws on.
TEST(ShippedSkins, AllFourteenAreDistinctAndLegible)
{
    std::set<std::string> names, sheets;
    int highContrast = 0, dark = 0, light = 0;
    for (int i = 0; i < kSkinEntries; ++i) {
        const std::filesystem::path file = SkinsDir().parent_path() / SkinEntryFile(i);
        SCOPED_TRACE(file.string());
        ASSERT_TRUE(std::filesystem::exists(file));
        const TSkinParseResult r = ParseSkinText(ReadFile(file));
        ASSERT_TRUE(r.ok) << r.error;
        const TSkinModel& m = r.model;
        names.insert(m.name);
        sheets.insert(SkinStyleSheet(m, "skinned"));
        auto C = [&](const char* role) { return SkinRoleColor(m, role); };
        const std::pair<const char*, const char*> pairs[] = {
            {"window", "window-text"}, {"base", "text"},  {"button", "button-text"},
            {"highlight", "highlighted-text"}, {"alternate-base", "text"}};
        double least = 100;
        for (const auto& [bg, fg] : pairs) {
            const double c = Contrast(C(bg), C(fg));
            EXPECT_GE(c, 4.5) << bg << " / " << fg;
            least = std::min(least, c);
        }
        EXPECT_GE(Contrast(C("window"), C("disabled-text")), 3.0);
        // The progress percentage crosses the tinted chunk and the base.
        auto mix = [](int a, int b) { return static_cast<std::uint8_t>((a * 55 + b * 45) / 100); };
        const TSkinColor chunk{mix(C("base").r, C("highlight").r), mix(C("base").g, C("highlight").g),
                               mix(C("base").b, C("highlight").b)};
        EXPECT_GE(Contrast(chunk, C("text")), 3.0) << "progress chunk";
        for (const auto& [kind, g] : m.gradients) {
            const char* fg = kind == TSkinKind::Progress ? nullptr : kind == TSkinKind::Button ? "button-text" : "window-text";
            if (!fg) continue;
            EXPECT_GE(Contrast(g.top, C(fg)), 4.5) << "gradient top";
            EXPECT_GE(Contrast(g.bottom, C(fg)), 4.5) << "gradient bottom";
        }
        if (least >= 7) ++highContrast;
        (Luminance(C("window")) < 0.2 ? dark : light)++;
    }
    EXPECT_EQ(names.size(), 14u);
    EXPECT_EQ(sheets.size(), 14u);
    EXPECT_GE(highContrast, 2);
    EXPECT_GE(dark, 4);
    EXPECT_GE(light, 4);
    // The default at start is entry 0's file under another case.
    EXPECT_EQ(std::filesystem::canonical(SkinsDir().parent_path() / kDefaultSkinFile),
              std::filesystem::canonical(SkinsDir().parent_path() / SkinEntryFile(0)));
}

TEST(SkinFile, ReadingAFileNamesWhatIsWrong)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("tv_skin_read_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto write = [&](const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    };
    const std::string good = write("good.skn", "[skin]\nname = Fine\n");
    TSkinParseResult r = ReadSkinFile(good);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.model.name, "Fine");

    const std::string bad = write("bad.skn", "[skin]\nname = Mine\n\n[palette]\nwindow = #12345\n");
    r = ReadSkinFile(bad);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(SkinFaultMessage(bad, r), "skin " + bad + ": line 5: bad colour '#12345'");
    EXPECT_EQ(ReadSkinFile((dir / "missing.skn").string()).error, "cannot open the file");
    EXPECT_EQ(ReadSkinFile(dir.string()).error, "cannot open the file");
    EXPECT_EQ(ReadSkinFile("").error, "cannot open the file");
    // A large file is refused without being read whole.
    const std::string big = write("big.skn", "[skin]\nname = Big\n" + std::string(kSkinMaxBytes, '#'));
    EXPECT_EQ(ReadSkinFile(big).error, "file too large");

    // The stored path wins while it exists; once gone, the same file beside the
    // program; with neither, the stored path (its fault is then reported).
    const std::string folder = (dir / "prog").string() + "/";
    std::filesystem::create_directories(folder + "skins");
    std::ofstream(folder + "skins/mxskin24.skn") << "[skin]\nname = X\n";
    EXPECT_EQ(StartSkinPath(good, folder), good);
    EXPECT_EQ(StartSkinPath("/gone/build/skins/mxskin24.skn", folder), folder + "skins/mxskin24.skn");
    EXPECT_EQ(StartSkinPath("/gone/build/skins/other.skn", folder), "/gone/build/skins/other.skn");
    EXPECT_EQ(StartSkinPath("/gone/build/skins/", folder), "/gone/build/skins/");
    EXPECT_EQ(StartSkinPath("", folder), "");
    std::filesystem::remove_all(dir);
}
