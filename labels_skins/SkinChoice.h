// The skin choice: the fourteen entries and their files, relative to the
// program's folder, and the default skin at start.
#pragma once

#include <string>

constexpr int kSkinEntries = 14;

// "skins/iTunes.SKN" ... "skins/mxskin67.skn" for entries 0 ... 13; empty
// outside that range.
std::string SkinEntryFile(int index);

// The skin set at start before the stored one is read.
constexpr const char* kDefaultSkinFile = "skins/iTunes.skn";

// The stored "skin" value's name.
constexpr const char* kSkinSettingName = "skin";

// Folder + entry file; the folder ends with a separator.
std::string SkinEntryPath(const std::string& programFolder, int index);

// The skin file set at start. The stored "skin" is a full path into the
// folder the program ran from when it was chosen (a build folder, say); when
// no file is there any more, the file of the same name in the skins folder
// beside the program, if that exists. Otherwise the stored path, whose fault
// is then reported.
std::string StartSkinPath(const std::string& stored, const std::string& programFolder);
