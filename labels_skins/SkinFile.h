// Skin files (".skn"): a small INI-style text format, parsed into a model
// that the Qt engine turns into a palette and a style sheet. Strict: any
// fault makes the whole file invalid, so a half-read skin is never shown.
// The format is described in docs/skins.md.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct TSkinColor {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const TSkinColor& o) const { return r == o.r && g == o.g && b == o.b; }
    std::string Hex() const;  // "#rrggbb"
};

struct TSkinGradient {
    TSkinColor top, bottom;
};

// The kinds of control a skin styles, by their names in the file.
enum class TSkinKind {
    Window, MenuBar, Menu, ToolBar, Combo, Check, Radio, Progress, Scroll, Edit,
    Button, ToolButton, Spin, Panel, Group, Status, Tab, Track
};
const std::vector<std::pair<std::string, TSkinKind>>& SkinKindNames();

struct TSkinModel {
    std::string name;
    std::map<std::string, TSkinColor> palette;  // role name -> colour
    std::string fontFamily;                     // empty: the program's font
    int fontPixelSize = 0;                      // 0: the program's size
    bool fontBold = false;
    int radius = 0;                             // corner radius, pixels
    int border = 1;                             // border width, pixels
    std::optional<TSkinColor> borderColor;
    std::map<TSkinKind, TSkinGradient> gradients;
    std::map<TSkinKind, std::vector<std::pair<std::string, std::string>>> rules;
};

struct TSkinParseResult {
    bool ok = false;
    TSkinModel model;
    std::string error;  // "line N: ..." (or a fault of the whole file) when not ok
};

// Largest file the engine reads; a skin is a few hundred bytes.
constexpr std::size_t kSkinMaxBytes = 64 * 1024;

// The palette role names a skin may set.
const std::vector<std::string>& SkinPaletteRoles();

// The colour of a palette role, with the fallbacks the engine uses for
// roles the file leaves out (derived from window and window-text).
TSkinColor SkinRoleColor(const TSkinModel& m, const std::string& role);

TSkinParseResult ParseSkinText(const std::string& text);

// Reads at most kSkinMaxBytes + 1 bytes of the file and parses them; a file
// that cannot be opened or read is an error as well.
TSkinParseResult ReadSkinFile(const std::string& path);
// The one-line report of a faulty skin file: "skin PATH: line N: what".
std::string SkinFaultMessage(const std::string& path, const TSkinParseResult& r);

// The style sheet for a model. Every rule is limited to widgets whose
// `markProperty` is "true", so controls the engine leaves alone never match.
std::string SkinStyleSheet(const TSkinModel& m, const std::string& markProperty);
