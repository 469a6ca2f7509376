// tarvolin-meter end to end: block CSV against hand-worked arithmetic,
// the summary, and refusals. Runs the tool built beside the tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string toolPath()
{
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "";
    std::string self(buf, static_cast<size_t>(n));
    self = self.substr(0, self.rfind('/'));  // .../tests
    return self.substr(0, self.rfind('/')) + "/tarvolin-meter";
}

std::string run(const std::string& args, int* status)
{
    std::string out;
    FILE* p = popen((toolPath() + " " + args + " 2>&1").c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int rc = pclose(p);
    *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

void put16(std::string& s, int v) { s += char(v & 0xFF); s += char((v >> 8) & 0xFF); }
void put32(std::string& s, uint32_t v) { put16(s, int(v & 0xFFFF)); put16(s, int(v >> 16)); }

// 48 kHz mono 16-bit: block 0 at full scale, blocks 1 .. 29 at 3277 (-20 dB),
// blocks 30 .. 59 silent, then 10 frames that make no whole block.
std::string writeFile()
{
    std::string data;
    for (int b = 0; b < 60; ++b)
        for (int i = 0; i < 50; ++i) put16(data, i == 3 ? (b == 0 ? 32767 : b < 30 ? -3277 : 0) : 0);
    for (int i = 0; i < 10; ++i) put16(data, 30000);
    std::string f = "RIFF";
    put32(f, uint32_t(4 + 24 + 8 + data.size()));
    f += "WAVEfmt ";
    put32(f, 16);
    put16(f, 1);
    put16(f, 1);
    put32(f, 48000);
    put32(f, 96000);
    put16(f, 2);
    put16(f, 16);
    f += "data";
    put32(f, uint32_t(data.size()));
    f += data;
    char path[] = "/tmp/tv_meter_testXXXXXX";
    const int fd = mkstemp(path);
    EXPECT_EQ(write(fd, f.data(), f.size()), ssize_t(f.size()));
    close(fd);
    return path;
}

}  // namespace

TEST(MeterTool, BlocksFollowTheLevelArithmetic)
{
    if (access(toolPath().c_str(), X_OK) != 0) GTEST_SKIP() << "tarvolin-meter not built";
    const std::string file = writeFile();
    int rc = -1;
    // Peak dBFS curve (none), -72 dB over 72 segments: one segment per dB.
    const std::string out = run("--blocks --standard 8 --spots 72 --decay-mode none --peak-delay 0 --peak-speed 0 " + file, &rc);
    EXPECT_EQ(rc, 0);
    std::istringstream in(out);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    ASSERT_EQ(lines.size(), 61u) << out;
    EXPECT_EQ(lines[0], "block,peak,current_level,bar_spots,peak_spot");
    EXPECT_EQ(lines[1 + 0], "0,32767,32767,72,72");
    EXPECT_EQ(lines[1 + 1], "1,3277,3277,52,72");  // Round((-19.9992 + 72) * 72 / 72)
    EXPECT_EQ(lines[1 + 22], "22,3277,3277,52,72");
    // The first 25 ms boundary (1200 frames) is the end of block 23: the
    // peak's hold of one tick ends and, with speed 0, it disappears.
    EXPECT_EQ(lines[1 + 23], "23,3277,3277,52,0");
    EXPECT_EQ(lines[1 + 24], "24,3277,3277,52,52");  // caught again
    EXPECT_EQ(lines[1 + 30], "30,0,0,0,52");
    EXPECT_EQ(lines[1 + 46], "46,0,0,0,52");
    EXPECT_EQ(lines[1 + 47], "47,0,0,0,0");  // second boundary
    EXPECT_EQ(lines[1 + 59], "59,0,0,0,0");

    const std::string sum = run("--standard 8 --spots 72 " + file, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(sum.find("blocks: 60 of 50 frames (0.062 s)"), std::string::npos) << sum;
    EXPECT_NE(sum.find("highest peak: 32767 (-0.00 dBFS)"), std::string::npos) << sum;
    EXPECT_NE(sum.find("overs: 1 block(s) at full scale"), std::string::npos) << sum;
    EXPECT_NE(sum.find("highest bar: 72 of 72"), std::string::npos) << sum;
    unlink(file.c_str());
}

TEST(MeterTool, RefusesWhatItCannotRead)
{
    if (access(toolPath().c_str(), X_OK) != 0) GTEST_SKIP() << "tarvolin-meter not built";
    int rc = 0;
    std::string out = run("/nonexistent.wav", &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_NE(out.find("Cannot open"), std::string::npos);

    char path[] = "/tmp/tv_meter_textXXXXXX";
    const int fd = mkstemp(path);
    const std::string text = "just some text\n";
    EXPECT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size()));
    close(fd);
    out = run(path, &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_NE(out.find("Not a RIFF/WAVE file"), std::string::npos) << out;
    unlink(path);

    // Files without audio data: one line with the reason, exit 1. The
    // format chunk: PCM, mono, 8 kHz, 16 bits.
    auto fmtChunk = [](uint32_t claimed) {
        std::string c = "fmt ";
        put32(c, claimed);
        put16(c, 1);
        put16(c, 1);
        put32(c, 8000);
        put32(c, 16000);
        put16(c, 2);
        put16(c, 16);
        return c;
    };
    std::string data = "data";
    put32(data, 8);
    data += std::string(8, '\0');
    const std::pair<std::string, std::string> noAudio[] = {
        {fmtChunk(16), "no data chunk"},
        {fmtChunk(16) + fmtChunk(16) + data, "a second format chunk"},
        {fmtChunk(4000) + data, "runs past the end of the file"},
    };
    for (const auto& [body, reason] : noAudio) {
        std::string f = "RIFF";
        put32(f, uint32_t(4 + body.size()));
        f += "WAVE" + body;
        char wav[] = "/tmp/tv_meter_nodataXXXXXX";
        const int w = mkstemp(wav);
        EXPECT_EQ(write(w, f.data(), f.size()), ssize_t(f.size()));
        close(w);
        for (const char* mode : {"", "--loudness ", "--blocks "}) {
            out = run(std::string(mode) + wav, &rc);
            EXPECT_EQ(rc, 1) << mode << reason;
            EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << mode << out;  // the reason alone
            EXPECT_NE(out.find("no audio data: "), std::string::npos) << out;
            EXPECT_NE(out.find(reason), std::string::npos) << out;
        }
        unlink(wav);
    }

    out = run("--channel middle x.wav", &rc);
    EXPECT_EQ(rc, 2);
    out = run("--spots 0 x.wav", &rc);
    EXPECT_EQ(rc, 2);
    out = run("", &rc);
    EXPECT_EQ(rc, 2);
    EXPECT_NE(out.find("no file given"), std::string::npos);
}
