#include "labels_skins/SkinChoice.h"

#include <filesystem>
#include <system_error>

namespace {

const char* const kFiles[kSkinEntries] = {
    "skins/iTunes.SKN",    "skins/mxskin20.skn", "skins/mxskin15.skn", "skins/mxskin60.skn",
    "skins/mxskin24.skn",  "skins/mxskin28.skn", "skins/mxskin29.SKN", "skins/mxskin30.skn",
    "skins/mxskin35.skn",  "skins/mxskin40.skn", "skins/mxskin47.skn", "skins/mxskin56.skn",
    "skins/mxskin59.skn",  "skins/mxskin67.skn"};

}  // namespace

std::string SkinEntryFile(int index)
{
    if (index < 0 || index >= kSkinEntries) return {};
    return kFiles[index];
}

std::string SkinEntryPath(const std::string& programFolder, int index)
{
    const std::string file = SkinEntryFile(index);
    return file.empty() ? std::string() : programFolder + file;
}

std::string StartSkinPath(const std::string& stored, const std::string& programFolder)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (stored.empty() || fs::is_regular_file(stored, ec)) return stored;
    const fs::path name = fs::path(stored).filename();
    if (name.empty()) return stored;
    const std::string beside = programFolder + "skins/" + name.string();
    return fs::is_regular_file(beside, ec) ? beside : stored;
}
