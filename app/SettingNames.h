// Every value the program keeps in the settings store, as data: name as read and as written,
// kind, default, and who writes it. Qt-free. Numbered names are the fixed text followed
// directly by the decimal number ("Level Decay7", "Edit 12", "multi_3").
#pragma once

#include "base/DisplayRate.h"
#include "base/SettingKey.h"
#include "base/TvConstants.h"

#include <cstdint>
#include <string>
#include <vector>

enum class TSettingGroup { MainWindow, Strip, LevelSettings, Limits, InputSetup, Correlation, Monitoring, Loudness };

enum class TSettingWriter {
    Exit,          // closing the main window
    SkinChoice,    // choosing a skin
    LabelsDialog,  // opening the labels dialog and its "Okay"
    LimitsSave,    // the level settings dialog's "Save", for the standard selected then
    InputSetupOk,  // the input setup's "OK"
    ActionsDialog, // the "Actions" dialog's "OK" (monitoring service)
    LoudnessWindow, // closing the program: the loudness window's place and choices
    DisplayRateMenu, // choosing a rate in Settings > "Display rate"
};

struct TSettingEntry {
    std::string readName;     // spelling used when reading
    std::string writeName;    // spelling used when writing (differs for "Window Top", "Din", "Din2")
    TSettingType type = TSettingType::Integer;
    TSettingGroup group = TSettingGroup::MainWindow;
    TSettingWriter writer = TSettingWriter::Exit;
    int index = 0;            // strip 1..24, recorder 1..12, standard 0..8; 0 otherwise
    bool read = true;         // false: written only ("Level Delay", "Level Speed", "Stay Top")
    bool hasDefault = true;   // false: the default is the control's current value
    int32_t intDefault = 0;   // Integer and Boolean (1/0); for written-only values the value written
    std::string textDefault;  // Text; for "skin" relative to the program folder
};

// Written by the input setup's "OK" (the rest of its values are numbered, below).
inline constexpr TIntSetting kSampleRateSetting{"Samplerate", 0};  // 0 44100 Hz, 1 48000 Hz
inline constexpr TBoolSetting kIsSoundSetting{"is Sound", false};  // the input setup was confirmed once
// Network streams: the interface to receive on and listen for SAP
// announcements on ("": none chosen, no listening) and SDP files of streams
// not announced, separated by ';'.
inline constexpr TTextSetting kNetInterfaceSetting{"Network Interface", ""};
inline constexpr TTextSetting kSdpFilesSetting{"SDP Files", ""};

// Frames per second the bars and scopes are painted at (base/DisplayRate.h);
// any other value reads as the default.
inline constexpr TIntSetting kDisplayRateSetting{"Display Rate", tv::kDefaultDisplayRate};

constexpr int kExitSaveCount = 289;  // 11 per strip and 25 others

// Every stored value, numbered families expanded, in the order of the tables.
const std::vector<TSettingEntry>& AllSettingEntries();
// The values written when the main window closes, in table order (kExitSaveCount of them).
std::vector<TSettingEntry> ExitSaveEntries();
// The entry whose read or written name matches without regard to case; null when none.
const TSettingEntry* FindSettingEntry(const std::string& name);

// The default of a stored value (for written-only values the value written);
// 0 or empty for an unknown name.
int32_t SettingDefaultInt(const std::string& name);
std::string SettingDefaultText(const std::string& name);

// Overload limit names of standard 0..8 (Nordic N9 ... Peak dBFS); top and bottom, as read
// and as written. Empty for an index out of range.
struct TLimitNames {
    const char* topRead;
    const char* topWrite;
    int32_t topDefault;
    const char* bottomRead;
    const char* bottomWrite;
    int32_t bottomDefault;
};
TLimitNames LimitNames(int standard);
