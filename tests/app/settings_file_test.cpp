// The settings file: its format, and that nothing is lost to corrupt files, killed writers,
// concurrent instances, full disks or a stuck lock.
#include "app/SettingsFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const auto CU = TSettingsRoot::CurrentUser;

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void spit(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/tv_settings_file_XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dirPath = dir;
        path = dirPath + "/cfg/Tarvolin/settings.reg";
    }
    void TearDown() override { std::system(("rm -rf '" + dirPath + "'").c_str()); }

    TSettingsFile make()
    {
        return TSettingsFile(path, [this](const std::string& w) { warnings.push_back(w); });
    }
    static void put(TSettingsFile& s, const std::string& name, const TSettingValue& v)
    {
        WriteSetting(s, CU, kTarvolinKey, name, v);
    }
    static TSettingValue get(TSettingsFile& s, const std::string& name, const TSettingValue& def)
    {
        return ReadSetting(s, CU, kTarvolinKey, name, def);
    }
    // The file parses, and the key holds exactly what a fresh reader sees.
    TRegDocument parsed()
    {
        TRegDocument doc;
        TRegScanInfo info;
        EXPECT_TRUE(ParseRegText(slurp(path), doc, info)) << info.error;
        return doc;
    }

    std::string dirPath, path;
    std::vector<std::string> warnings;
};

TEST_F(SettingsFile, IsARegistryExportInTheConfigFolder)
{
    TSettingsFile s = make();
    put(s, "Window Left", 8);
    put(s, "skin", "C:\\skins\\\"x\".skn");
    put(s, "r", 2.5);
    put(s, "Label", "a\nb");
    EXPECT_EQ(slurp(path), "Windows Registry Editor Version 5.00\n\n"
                           "[HKEY_CURRENT_USER\\Verholt-Products\\Tarvolin]\n"
                           "\"Window Left\"=dword:00000008\n"
                           "\"skin\"=\"C:\\\\skins\\\\\\\"x\\\".skn\"\n"
                           "\"r\"=hex:00,00,00,00,00,00,04,40\n"
                           "\"Label\"=hex(1):61,00,0a,00,62,00,00,00\n");
    EXPECT_TRUE(warnings.empty());

    setenv("XDG_CONFIG_HOME", "/x/cfg", 1);
    EXPECT_EQ(DefaultSettingsFile(), "/x/cfg/Tarvolin/settings.reg");
    setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(DefaultSettingsFile(), "/home/u/.config/Tarvolin/settings.reg");
    unsetenv("XDG_CONFIG_HOME");
}

TEST_F(SettingsFile, KeepsFirstSpellingAndStaysSmallOverManyWrites)
{
    TSettingsFile s = make();
    put(s, "Window top", 1);
    put(s, "Other", 5);
    for (int i = 0; i < 200; ++i) put(s, i % 2 ? "Window Top" : "WINDOW TOP", i);
    EXPECT_EQ(get(s, "window top", 7).AsInteger(), 199);
    EXPECT_LT(slurp(path).size(), 600u) << "stale lines are dropped";
    EXPECT_GT(s.Rewrites(), 1);
    const TRegDocument doc = parsed();
    const TRegKey* key = doc.FindKey("HKEY_CURRENT_USER\\Verholt-Products\\Tarvolin");
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(key->Values().size(), 2u);
    EXPECT_EQ(key->Values()[0].name, "Window top");
}

TEST_F(SettingsFile, ReadsAWindowsExportAndKeepsItsOtherValues)
{
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Other]\r\n\"keep\"=hex(b):01,02\r\n\r\n"
                             "[HKEY_CURRENT_USER\\Verholt-Products\\Tarvolin]\r\n"
                             "\"Window Left\"=dword:0000002a\r\n"
                             "\"arlam file\"=\"C:\\\\Sounds\\\\bell.wav\"\r\n"
                             "\"Edit 1\"=hex(1):56,00,6f,00,\\\r\n  78,00,00,00\r\n";
    std::string wide = "\xFF\xFE";
    for (unsigned char c : text) wide += std::string{static_cast<char>(c), '\0'};
    ASSERT_EQ(mkdir((dirPath + "/cfg").c_str(), 0755) | mkdir((dirPath + "/cfg/Tarvolin").c_str(), 0755), 0);
    spit(path, wide);

    TSettingsFile s = make();
    EXPECT_EQ(get(s, "window left", 8).AsInteger(), 42);
    EXPECT_EQ(get(s, "arlam file", "").AsText(), "C:\\Sounds\\bell.wav");
    EXPECT_EQ(get(s, "Edit 1", "").AsText(), "Vox");
    put(s, "Window Top", 3);  // rewritten as UTF-8, nothing dropped
    EXPECT_EQ(slurp(path).substr(0, 5), "Windo");
    EXPECT_EQ(get(s, "Edit 1", "").AsText(), "Vox");
    TRegData other;
    EXPECT_TRUE(s.ReadValue(CU, "Software\\Other", "keep", other));
    EXPECT_EQ(other, (TRegData{0xb, "\x01\x02"}));
    EXPECT_TRUE(warnings.empty());
}

TEST_F(SettingsFile, CorruptFileIsKeptAsideAndDefaultsAreUsed)
{
    TSettingsFile s = make();
    put(s, "Window Left", 100);
    static const char raw[] = "Windows Registry Editor Version 5.00\n[k]\n\"a\"=dword:zz\0tail";
    const std::string garbage(raw, sizeof raw - 1);
    spit(path, garbage);

    EXPECT_EQ(get(s, "Window Left", 8).AsInteger(), 8);
    EXPECT_EQ(get(s, "Window Left", 8).AsInteger(), 8);
    ASSERT_EQ(warnings.size(), 1u) << "one warning, not one per read";
    EXPECT_NE(warnings[0].find("line 3"), std::string::npos) << warnings[0];

    put(s, "Window Top", 9);
    ASSERT_FALSE(s.LastBackup().empty());
    EXPECT_EQ(slurp(s.LastBackup()), garbage);
    EXPECT_EQ(get(s, "Window Top", 7).AsInteger(), 9);
    EXPECT_EQ(get(s, "Window Left", 8).AsInteger(), 8);

    // A second corrupt file within the same second does not replace the first backup.
    const std::string first = s.LastBackup();
    spit(path, "not a registry file\n");
    put(s, "x", 1);
    EXPECT_NE(s.LastBackup(), first);
    EXPECT_EQ(slurp(first), garbage);
    EXPECT_EQ(slurp(s.LastBackup()), "not a registry file\n");
}

TEST_F(SettingsFile, KilledWriterLeavesTheOldOrTheNewFile)
{
    {
        TSettingsFile s = make();
        put(s, "Big", std::string(3000, 'a'));
    }
    std::mt19937 rng(7);
    for (int round = 0; round < 25; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            TSettingsFile s(path, [](const std::string&) {});
            for (int gen = 0;; ++gen) {
                put(s, "Big", std::string(2000 + 37 * (gen % 50), static_cast<char>('a' + gen % 26)));
                put(s, "Count" + std::to_string(gen % 40), gen);
            }
        }
        usleep(200 + rng() % 8000);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);

        TSettingsFile s = make();
        const std::string big = get(s, "Big", "").AsText();
        ASSERT_GE(big.size(), 2000u) << "round " << round;
        EXPECT_EQ(big.find_first_not_of(big[0]), std::string::npos) << "a mixture in round " << round;
        parsed();
        ASSERT_TRUE(warnings.empty()) << warnings[0];
    }
    TSettingsFile s = make();
    s.SetLockTimeoutMs(500);
    put(s, "after", 1);  // the lock died with the writer
    EXPECT_EQ(get(s, "after", 0).AsInteger(), 1);
}

TEST_F(SettingsFile, TwoInstancesWritingAtOnceKeepEachOthersValues)
{
    {
        TSettingsFile s = make();
        put(s, "start", 1);
    }
    pid_t kids[2];
    for (int k = 0; k < 2; ++k) {
        kids[k] = fork();
        ASSERT_GE(kids[k], 0);
        if (kids[k] == 0) {
            TSettingsFile s(path, [](const std::string&) {});
            for (int i = 0; i < 150; ++i) {
                put(s, std::string(1, static_cast<char>('A' + k)) + std::to_string(i), i * 10 + k);
                // A value under a key of its own makes most writes whole-file rewrites.
                WriteSetting(s, CU, "Verholt-Products\\Instance" + std::to_string(k), "n", i);
            }
            _exit(0);
        }
    }
    for (pid_t kid : kids) {
        int status = 0;
        waitpid(kid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    TSettingsFile s = make();
    int missing = 0;
    for (int k = 0; k < 2; ++k)
        for (int i = 0; i < 150; ++i)
            missing += get(s, std::string(1, static_cast<char>('A' + k)) + std::to_string(i), -1).AsInteger() != i * 10 + k;
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(get(s, "start", 0).AsInteger(), 1);
}

TEST_F(SettingsFile, FailedWriteLeavesTheOldFileAndWarnsOnce)
{
    TSettingsFile s = make();
    for (int i = 0; i < 50; ++i) put(s, "v" + std::to_string(i), i);
    const std::string before = slurp(path);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A full disk: the file may not grow.
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{before.size(), before.size()};
        setrlimit(RLIMIT_FSIZE, &lim);
        int warned = 0;
        TSettingsFile c(path, [&warned](const std::string&) { ++warned; });
        put(c, "v50", 1000);                                           // an append
        WriteSetting(c, CU, "Verholt-Products\\Other", "x", 1);        // a whole rewrite
        put(c, "long", std::string(5000, 'x'));                        // a rewrite past a page
        _exit(warned == 1 && slurp(path) == before && get(c, "v1", 0).AsInteger() == 1 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(slurp(path), before);
    struct stat st;
    EXPECT_NE(stat((path + ".tmp").c_str(), &st), 0) << "no temporary file left";

    // A place that cannot hold a file at all: every write fails, one warning, defaults read.
    spit(dirPath + "/plain", "x");
    TSettingsFile bad(dirPath + "/plain/settings.reg", [this](const std::string& w) { warnings.push_back(w); });
    for (int i = 0; i < 288; ++i) put(bad, "n" + std::to_string(i), i);
    EXPECT_EQ(get(bad, "n1", -5).AsInteger(), -5);
    EXPECT_EQ(warnings.size(), 1u);
}

TEST_F(SettingsFile, StuckLockGivesUpInsteadOfHanging)
{
    TSettingsFile s = make();
    put(s, "Window Left", 20);
    const int held = open((path + ".lock").c_str(), O_RDWR);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);

    s.SetLockTimeoutMs(100);
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 288; ++i) put(s, "Window Left", 30 + i);
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(waited, 2.0) << "one timeout, then one try per write";
    EXPECT_EQ(warnings.size(), 1u);
    EXPECT_EQ(get(s, "Window Left", 8).AsInteger(), 20) << "reads go on without the lock";

    close(held);
    put(s, "Window Left", 40);
    EXPECT_EQ(get(s, "Window Left", 8).AsInteger(), 40);
}

TEST_F(SettingsFile, LinkedFileStaysLinked)
{
    const std::string real = dirPath + "/dotfiles.reg";
    TSettingsFile r(real);
    put(r, "a", 1);
    ASSERT_EQ(mkdir((dirPath + "/cfg").c_str(), 0755) | mkdir((dirPath + "/cfg/Tarvolin").c_str(), 0755), 0);
    ASSERT_EQ(symlink(real.c_str(), path.c_str()), 0);
    TSettingsFile s = make();
    WriteSetting(s, CU, "Verholt-Products\\Other", "b", 2);  // a whole rewrite
    struct stat st;
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(get(r, "a", 0).AsInteger(), 1);
}

}  // namespace
