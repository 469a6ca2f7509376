#include "labels_skins/SkinFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace {

std::string Trim(const std::string& s)
{
    std::size_t a = 0, b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r')) --b;
    return s.substr(a, b - a);
}

std::string Lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "#rgb" or "#rrggbb".
bool ParseColor(const std::string& s, TSkinColor& c)
{
    if (s.empty() || s[0] != '#') return false;
    int d[6];
    if (s.size() == 4) {
        for (int i = 0; i < 3; ++i) {
            d[i] = HexDigit(s[1 + i]);
            if (d[i] < 0) return false;
        }
        c = {static_cast<std::uint8_t>(d[0] * 17), static_cast<std::uint8_t>(d[1] * 17),
             static_cast<std::uint8_t>(d[2] * 17)};
        return true;
    }
    if (s.size() != 7) return false;
    for (int i = 0; i < 6; ++i) {
        d[i] = HexDigit(s[1 + i]);
        if (d[i] < 0) return false;
    }
    c = {static_cast<std::uint8_t>(d[0] * 16 + d[1]), static_cast<std::uint8_t>(d[2] * 16 + d[3]),
         static_cast<std::uint8_t>(d[4] * 16 + d[5])};
    return true;
}

bool ParseInt(const std::string& s, int lo, int hi, int& v)
{
    if (s.empty() || s.size() > 4) return false;
    int n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    if (n < lo || n > hi) return false;
    v = n;
    return true;
}

bool ParseBool(const std::string& s, bool& v)
{
    const std::string l = Lower(s);
    if (l == "yes" || l == "true" || l == "1" || l == "on") return v = true, true;
    if (l == "no" || l == "false" || l == "0" || l == "off") return v = false, true;
    return false;
}

bool AllOf(const std::string& s, const char* extra)
{
    for (char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isalnum(u)) continue;
        if (!std::strchr(extra, c)) return false;
    }
    return true;
}

// A style declaration must stay one declaration: no braces, semicolons,
// quotes, comments or references to outside files.
bool SafeValue(const std::string& v)
{
    if (v.empty() || v.size() > 200) return false;
    if (!AllOf(v, "#.,%()_ -:")) return false;
    const std::string l = Lower(v);
    return l.find("url") == std::string::npos && l.find("/*") == std::string::npos;
}

const std::set<std::string>& States()
{
    static const std::set<std::string> s{"hover", "pressed", "checked", "disabled", "focus", "selected"};
    return s;
}

struct TSection {
    enum { None, Skin, Palette, Font, Shape, Gradient, Style } kind = None;
    TSkinKind styleKind = TSkinKind::Window;
    std::string state;  // pseudo-state of a style section, or empty
};

bool KindByName(const std::string& name, TSkinKind& k)
{
    for (const auto& [n, kind] : SkinKindNames())
        if (n == name) return k = kind, true;
    return false;
}

}  // namespace

std::string TSkinColor::Hex() const
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", r, g, b);
    return buf;
}

const std::vector<std::pair<std::string, TSkinKind>>& SkinKindNames()
{
    static const std::vector<std::pair<std::string, TSkinKind>> names{
        {"window", TSkinKind::Window},     {"menu-bar", TSkinKind::MenuBar},
        {"menu", TSkinKind::Menu},         {"tool-bar", TSkinKind::ToolBar},
        {"combo", TSkinKind::Combo},       {"check", TSkinKind::Check},
        {"radio", TSkinKind::Radio},       {"progress", TSkinKind::Progress},
        {"scroll", TSkinKind::Scroll},     {"edit", TSkinKind::Edit},
        {"button", TSkinKind::Button},     {"tool-button", TSkinKind::ToolButton},
        {"spin", TSkinKind::Spin},         {"panel", TSkinKind::Panel},
        {"group", TSkinKind::Group},       {"status", TSkinKind::Status},
        {"tab", TSkinKind::Tab},           {"track", TSkinKind::Track}};
    return names;
}

const std::vector<std::string>& SkinPaletteRoles()
{
    static const std::vector<std::string> roles{
        "window", "window-text", "base", "alternate-base", "text", "button", "button-text",
        "bright-text", "highlight", "highlighted-text", "light", "midlight", "mid", "dark",
        "shadow", "link", "tooltip-base", "tooltip-text", "placeholder-text", "disabled-text"};
    return roles;
}

TSkinParseResult ReadSkinFile(const std::string& path)
{
    TSkinParseResult r;
    std::ifstream in(path, std::ios::binary);
    std::error_code ec;
    if (path.empty() || !in || std::filesystem::is_directory(path, ec)) {
        r.error = "cannot open the file";
        return r;
    }
    std::string text(kSkinMaxBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (in.bad()) {
        r.error = "cannot read the file";
        return r;
    }
    return ParseSkinText(text);
}

std::string SkinFaultMessage(const std::string& path, const TSkinParseResult& r)
{
    return "skin " + path + ": " + r.error;
}

TSkinParseResult ParseSkinText(const std::string& text)
{
    TSkinParseResult r;
    auto fail = [&r](int line, const std::string& what) {
        r.ok = false;
        r.error = line > 0 ? "line " + std::to_string(line) + ": " + what : what;
        r.model = {};
        return r;
    };
    if (text.size() > kSkinMaxBytes) return fail(0, "file too large");
    if (text.find('\0') != std::string::npos) return fail(0, "not a text file");

    TSection sec;
    bool sawSkin = false;
    std::set<std::string> seen;  // "section/key", to reject duplicates
    std::string sectionName;
    std::istringstream in(text);
    std::string raw;
    int lineNo = 0;
    while (std::getline(in, raw)) {
        ++lineNo;
        if (lineNo == 1 && raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;

        if (line.front() == '[') {
            if (line.back() != ']') return fail(lineNo, "unclosed section");
            sectionName = Lower(Trim(line.substr(1, line.size() - 2)));
            if (!seen.insert("[" + sectionName).second) return fail(lineNo, "section repeated");
            sec = {};
            if (sectionName == "skin") sec.kind = TSection::Skin, sawSkin = true;
            else if (sectionName == "palette") sec.kind = TSection::Palette;
            else if (sectionName == "font") sec.kind = TSection::Font;
            else if (sectionName == "shape") sec.kind = TSection::Shape;
            else if (sectionName == "gradient") sec.kind = TSection::Gradient;
            else if (sectionName.compare(0, 6, "style:") == 0) {
                sec.kind = TSection::Style;
                std::string rest = sectionName.substr(6);
                const std::size_t colon = rest.find(':');
                if (colon != std::string::npos) {
                    sec.state = rest.substr(colon + 1);
                    rest = rest.substr(0, colon);
                    if (!States().count(sec.state)) return fail(lineNo, "unknown state '" + sec.state + "'");
                }
                if (!KindByName(rest, sec.styleKind)) return fail(lineNo, "unknown control kind '" + rest + "'");
            } else
                return fail(lineNo, "unknown section '" + sectionName + "'");
            continue;
        }

        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) return fail(lineNo, "expected key = value");
        const std::string key = Lower(Trim(line.substr(0, eq)));
        const std::string value = Trim(line.substr(eq + 1));
        if (key.empty()) return fail(lineNo, "empty key");
        if (sec.kind == TSection::None) return fail(lineNo, "key outside a section");
        if (!seen.insert(sectionName + "/" + key).second) return fail(lineNo, "key '" + key + "' repeated");

        TSkinModel& m = r.model;
        switch (sec.kind) {
        case TSection::Skin:
            if (key == "name") {
                if (value.empty() || value.size() > 60 || !AllOf(value, " -_.()&+"))
                    return fail(lineNo, "bad name");
                m.name = value;
            } else if (key == "format") {
                if (value != "1") return fail(lineNo, "unknown format version");
            } else
                return fail(lineNo, "unknown key '" + key + "'");
            break;
        case TSection::Palette: {
            const auto& roles = SkinPaletteRoles();
            if (std::find(roles.begin(), roles.end(), key) == roles.end())
                return fail(lineNo, "unknown palette role '" + key + "'");
            TSkinColor c;
            if (!ParseColor(value, c)) return fail(lineNo, "bad colour '" + value + "'");
            m.palette[key] = c;
            break;
        }
        case TSection::Font:
            if (key == "family") {
                if (value.empty() || value.size() > 60 || !AllOf(value, " -_")) return fail(lineNo, "bad family");
                m.fontFamily = value;
            } else if (key == "size") {
                if (!ParseInt(value, 6, 48, m.fontPixelSize)) return fail(lineNo, "size must be 6 to 48 pixels");
            } else if (key == "bold") {
                if (!ParseBool(value, m.fontBold)) return fail(lineNo, "bold must be yes or no");
            } else
                return fail(lineNo, "unknown key '" + key + "'");
            break;
        case TSection::Shape:
            if (key == "radius") {
                if (!ParseInt(value, 0, 20, m.radius)) return fail(lineNo, "radius must be 0 to 20");
            } else if (key == "border") {
                if (!ParseInt(value, 0, 6, m.border)) return fail(lineNo, "border must be 0 to 6");
            } else if (key == "border-color") {
                TSkinColor c;
                if (!ParseColor(value, c)) return fail(lineNo, "bad colour '" + value + "'");
                m.borderColor = c;
            } else
                return fail(lineNo, "unknown key '" + key + "'");
            break;
        case TSection::Gradient: {
            TSkinKind k;
            if (!KindByName(key, k)) return fail(lineNo, "unknown control kind '" + key + "'");
            const std::size_t sp = value.find_first_of(" \t");
            if (sp == std::string::npos) return fail(lineNo, "a gradient takes two colours");
            TSkinGradient g;
            if (!ParseColor(Trim(value.substr(0, sp)), g.top) || !ParseColor(Trim(value.substr(sp)), g.bottom))
                return fail(lineNo, "bad gradient '" + value + "'");
            m.gradients[k] = g;
            break;
        }
        case TSection::Style: {
            if (key.size() > 40 || !AllOf(key, "-") || !std::isalpha(static_cast<unsigned char>(key[0])))
                return fail(lineNo, "bad property '" + key + "'");
            if (!SafeValue(value)) return fail(lineNo, "bad value '" + value + "'");
            // Rules of a state are kept under "kind:state" in the rule list.
            auto& list = m.rules[sec.styleKind];
            list.emplace_back(sec.state.empty() ? key : sec.state + ":" + key, value);
            break;
        }
        case TSection::None:
            break;
        }
    }
    if (!sawSkin) return fail(lineNo, "no [skin] section");
    if (r.model.name.empty()) return fail(lineNo, "the skin has no name");
    r.ok = true;
    return r;
}

namespace {

TSkinColor Mix(TSkinColor a, TSkinColor b, int percentB)
{
    auto m = [percentB](int x, int y) { return static_cast<std::uint8_t>((x * (100 - percentB) + y * percentB) / 100); };
    return {m(a.r, b.r), m(a.g, b.g), m(a.b, b.b)};
}

struct TColors {
    const TSkinModel& m;
    std::string H(const std::string& role) const { return SkinRoleColor(m, role).Hex(); }
};

}  // namespace

TSkinColor SkinRoleColor(const TSkinModel& m, const std::string& role)
{
    struct {
        const TSkinModel& m;
    TSkinColor Get(const std::string& role) const
    {
        auto it = m.palette.find(role);
        if (it != m.palette.end()) return it->second;
        if (role == "window") return {0xf0, 0xf0, 0xf0};
        if (role == "window-text") return {0, 0, 0};
        if (role == "base") return {0xff, 0xff, 0xff};
        if (role == "text") return Get("window-text");
        if (role == "button") return Get("window");
        if (role == "button-text") return Get("window-text");
        if (role == "highlight") return {0x30, 0x70, 0xc0};
        if (role == "highlighted-text") return {0xff, 0xff, 0xff};
        if (role == "mid") return Mix(Get("window"), Get("window-text"), 40);
        if (role == "dark") return Mix(Get("window"), Get("window-text"), 60);
        if (role == "alternate-base") return Mix(Get("base"), Get("window"), 50);
        if (role == "disabled-text") return Mix(Get("window"), Get("window-text"), 45);
        return Get("window-text");
    }
    } c{m};
    return c.Get(role);
}

namespace {

std::string Background(const TSkinModel& m, TSkinKind k, const std::string& flat)
{
    auto it = m.gradients.find(k);
    if (it == m.gradients.end()) return "background: " + flat + ";";
    return "background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 " + it->second.top.Hex() +
           ", stop:1 " + it->second.bottom.Hex() + ");";
}

}  // namespace

std::string SkinStyleSheet(const TSkinModel& m, const std::string& markProperty)
{
    const TColors c{m};
    const std::string mark = "[" + markProperty + "=\"true\"]";
    const std::string bc = m.borderColor ? m.borderColor->Hex() : c.H("mid");
    const std::string border = "border: " + std::to_string(m.border) + "px solid " + bc + ";";
    const std::string radius = "border-radius: " + std::to_string(m.radius) + "px;";
    const std::string small = "border-radius: " + std::to_string(std::min(m.radius, 3)) + "px;";
    std::ostringstream s;

    // Selectors of each kind; the first one takes the kind's own rules.
    const std::map<TSkinKind, std::vector<std::string>> sel{
        {TSkinKind::Window, {"QDialog", "QMainWindow"}},
        {TSkinKind::MenuBar, {"QMenuBar"}},
        {TSkinKind::Menu, {"QMenu"}},
        {TSkinKind::ToolBar, {"QToolBar"}},
        {TSkinKind::Combo, {"QComboBox"}},
        {TSkinKind::Check, {"QCheckBox"}},
        {TSkinKind::Radio, {"QRadioButton"}},
        {TSkinKind::Progress, {"QProgressBar"}},
        {TSkinKind::Scroll, {"QScrollBar"}},
        {TSkinKind::Edit, {"QLineEdit", "QTextEdit", "QPlainTextEdit", "QListView"}},
        {TSkinKind::Button, {"QPushButton"}},
        {TSkinKind::ToolButton, {"QToolButton"}},
        {TSkinKind::Spin, {"QAbstractSpinBox"}},
        {TSkinKind::Panel, {".QFrame"}},
        {TSkinKind::Group, {"QGroupBox"}},
        {TSkinKind::Status, {"QStatusBar"}},
        {TSkinKind::Tab, {"QTabBar::tab"}},
        {TSkinKind::Track, {"QSlider"}}};
    auto S = [&](TSkinKind k, const std::string& sub = std::string()) {
        std::string out;
        for (const std::string& base : sel.at(k)) {
            if (!out.empty()) out += ", ";
            const std::size_t cc = base.find("::");
            if (cc == std::string::npos)
                out += base + mark + sub;
            else
                out += base.substr(0, cc) + mark + base.substr(cc) + sub;
        }
        return out;
    };

    if (!m.fontFamily.empty() || m.fontPixelSize > 0 || m.fontBold) {
        bool first = true;
        for (const char* k : {"QMenuBar", "QMenu", "QToolBar", "QComboBox", "QCheckBox", "QRadioButton",
                              "QProgressBar", "QLineEdit", "QTextEdit", "QPlainTextEdit", "QListView", "QPushButton",
                              "QToolButton", "QAbstractSpinBox", "QGroupBox", "QStatusBar", "QTabBar"}) {
            s << (first ? "" : ", ") << k << mark;
            first = false;
        }
        s << " {";
        if (!m.fontFamily.empty()) s << " font-family: \"" << m.fontFamily << "\";";
        if (m.fontPixelSize > 0) s << " font-size: " << m.fontPixelSize << "px;";
        if (m.fontBold) s << " font-weight: bold;";
        s << " }\n";
    }
    s << S(TSkinKind::Window) << " { " << Background(m, TSkinKind::Window, c.H("window")) << " }\n";
    s << S(TSkinKind::MenuBar) << " { " << Background(m, TSkinKind::MenuBar, c.H("window"))
      << " color: " << c.H("window-text") << "; border-bottom: 1px solid " << bc << "; }\n";
    s << S(TSkinKind::MenuBar, "::item") << " { background: transparent; padding: 3px 8px; }\n";
    s << S(TSkinKind::MenuBar, "::item:selected") << " { background: " << c.H("highlight")
      << "; color: " << c.H("highlighted-text") << "; " << small << " }\n";
    s << S(TSkinKind::Menu) << " { background: " << c.H("base") << "; color: " << c.H("text") << "; " << border
      << " }\n";
    s << S(TSkinKind::Menu, "::item") << " { padding: 4px 22px 4px 18px; }\n";
    s << S(TSkinKind::Menu, "::item:selected") << " { background: " << c.H("highlight")
      << "; color: " << c.H("highlighted-text") << "; }\n";
    s << S(TSkinKind::Menu, "::separator") << " { height: 1px; background: " << bc << "; margin: 3px 6px; }\n";
    s << S(TSkinKind::ToolBar) << " { " << Background(m, TSkinKind::ToolBar, c.H("window"))
      << " border: none; spacing: 3px; }\n";
    s << S(TSkinKind::Status) << " { " << Background(m, TSkinKind::Status, c.H("window")) << " color: "
      << c.H("window-text") << "; border-top: 1px solid " << bc << "; }\n";

    for (TSkinKind k : {TSkinKind::Button, TSkinKind::ToolButton}) {
        s << S(k) << " { " << Background(m, k, c.H("button")) << " color: " << c.H("button-text") << "; "
          << border << " " << radius << " padding: 2px 8px; min-height: 17px; }\n";
        s << S(k, ":hover") << " { border-color: " << c.H("highlight") << "; }\n";
        s << S(k, ":pressed") << ", " << S(k, ":checked") << " { background: " << c.H("highlight")
          << "; color: " << c.H("highlighted-text") << "; }\n";
        s << S(k, ":disabled") << " { color: " << c.H("disabled-text") << "; }\n";
    }
    s << S(TSkinKind::Combo) << " { " << Background(m, TSkinKind::Combo, c.H("button")) << " color: "
      << c.H("button-text") << "; " << border << " " << radius << " padding: 1px 18px 1px 5px; }\n";
    s << S(TSkinKind::Combo, ":disabled") << " { color: " << c.H("disabled-text") << "; }\n";
    s << S(TSkinKind::Combo, "::drop-down") << " { border: none; width: 16px; }\n";
    s << S(TSkinKind::Combo, " QAbstractItemView") << " { background: " << c.H("base") << "; color: "
      << c.H("text") << "; selection-background-color: " << c.H("highlight")
      << "; selection-color: " << c.H("highlighted-text") << "; }\n";
    for (TSkinKind k : {TSkinKind::Edit, TSkinKind::Spin}) {
        s << S(k) << " { background: " << c.H("base") << "; color: " << c.H("text") << "; " << border << " "
          << small << " selection-background-color: " << c.H("highlight")
          << "; selection-color: " << c.H("highlighted-text") << "; }\n";
        s << S(k, ":focus") << " { border-color: " << c.H("highlight") << "; }\n";
        s << S(k, ":disabled") << " { color: " << c.H("disabled-text") << "; }\n";
    }
    for (TSkinKind k : {TSkinKind::Check, TSkinKind::Radio}) {
        const bool radio = k == TSkinKind::Radio;
        s << S(k) << " { color: " << c.H("window-text") << "; spacing: 5px; background: transparent; }\n";
        s << S(k, ":disabled") << " { color: " << c.H("disabled-text") << "; }\n";
        s << S(k, "::indicator") << " { width: 12px; height: 12px; background: " << c.H("base")
          << "; border: 1px solid " << bc << "; border-radius: " << (radio ? "7px" : "2px") << "; }\n";
        s << S(k, "::indicator:hover") << " { border-color: " << c.H("highlight") << "; }\n";
        if (radio)
            s << S(k, "::indicator:checked") << " { background: qradialgradient(cx:0.5, cy:0.5, radius:0.5, "
              << "fx:0.5, fy:0.5, stop:0 " << c.H("highlight") << ", stop:0.55 " << c.H("highlight")
              << ", stop:0.65 " << c.H("base") << ", stop:1 " << c.H("base") << "); }\n";
        else
            s << S(k, "::indicator:checked") << " { background: " << c.H("highlight") << "; border: 3px solid "
              << c.H("base") << "; outline: none; }\n";
    }
    s << S(TSkinKind::Progress) << " { background: " << c.H("base") << "; color: " << c.H("text") << "; "
      << border << " " << small << " text-align: center; }\n";
    // The percentage is drawn across the chunk too: a tint of the highlight
    // keeps it legible on both parts.
    s << S(TSkinKind::Progress, "::chunk") << " { "
      << Background(m, TSkinKind::Progress, Mix(SkinRoleColor(m, "base"), SkinRoleColor(m, "highlight"), 45).Hex())
      << " }\n";
    s << S(TSkinKind::Scroll) << " { background: " << c.H("alternate-base") << "; border: none; }\n";
    s << S(TSkinKind::Scroll, ":vertical") << " { width: 13px; }\n";
    s << S(TSkinKind::Scroll, ":horizontal") << " { height: 13px; }\n";
    s << S(TSkinKind::Scroll, "::handle") << " { " << Background(m, TSkinKind::Scroll, c.H("button"))
      << " border: 1px solid " << bc << "; " << small << " min-height: 18px; min-width: 18px; }\n";
    s << S(TSkinKind::Scroll, "::add-line") << ", " << S(TSkinKind::Scroll, "::sub-line")
      << " { width: 0px; height: 0px; border: none; }\n";
    s << S(TSkinKind::Scroll, "::add-page") << ", " << S(TSkinKind::Scroll, "::sub-page")
      << " { background: none; }\n";
    s << S(TSkinKind::Group) << " { color: " << c.H("window-text") << "; " << border << " " << radius
      << " margin-top: 8px; padding-top: 6px; }\n";
    s << S(TSkinKind::Group, "::title") << " { subcontrol-origin: margin; subcontrol-position: top left; left: 8px;"
      << " padding: 0 3px; color: " << c.H("window-text") << "; }\n";
    if (m.gradients.count(TSkinKind::Panel))
        s << S(TSkinKind::Panel) << " { " << Background(m, TSkinKind::Panel, c.H("window")) << " }\n";
    s << "QTabWidget" << mark << "::pane { " << border << " }\n";
    s << S(TSkinKind::Tab) << " { " << Background(m, TSkinKind::Tab, c.H("button")) << " color: "
      << c.H("button-text") << "; " << border << " border-bottom: none; border-top-left-radius: "
      << std::min(m.radius, 6) << "px; border-top-right-radius: " << std::min(m.radius, 6)
      << "px; padding: 3px 10px; }\n";
    s << S(TSkinKind::Tab, ":selected") << " { background: " << c.H("highlight") << "; color: "
      << c.H("highlighted-text") << "; }\n";
    s << S(TSkinKind::Track, "::groove") << " { background: " << c.H("mid") << "; border-radius: 2px; }\n";
    s << S(TSkinKind::Track, "::groove:horizontal") << " { height: 4px; }\n";
    s << S(TSkinKind::Track, "::groove:vertical") << " { width: 4px; }\n";
    s << S(TSkinKind::Track, "::handle") << " { " << Background(m, TSkinKind::Track, c.H("button"))
      << " border: 1px solid " << bc << "; border-radius: 6px; width: 12px; height: 12px; }\n";
    s << S(TSkinKind::Track, "::handle:horizontal") << " { margin: -5px 0; }\n";
    s << S(TSkinKind::Track, "::handle:vertical") << " { margin: 0 -5px; }\n";

    // The file's own rules come last and so win.
    for (const auto& [kind, list] : m.rules) {
        std::map<std::string, std::string> byState;
        for (const auto& [key, value] : list) {
            const std::size_t colon = key.find(':');
            const std::string state = colon == std::string::npos ? "" : key.substr(0, colon);
            const std::string prop = colon == std::string::npos ? key : key.substr(colon + 1);
            byState[state] += " " + prop + ": " + value + ";";
        }
        for (const auto& [state, decl] : byState)
            s << S(kind, state.empty() ? "" : ":" + state) << " {" << decl << " }\n";
    }
    return s.str();
}
