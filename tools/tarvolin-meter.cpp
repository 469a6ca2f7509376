// tarvolin-meter: meters one channel of a PCM RIFF/WAVE file exactly as one
// level bar of the program would, without a display, and prints a summary
// or, with --blocks, one CSV line per block.
#include "metering/MMLevel.h"
#include "metering/MMLoudness.h"
#include "metering/MMPresets.h"
#include "monitoring/MMWave.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "Usage: tarvolin-meter [options] FILE.wav\n"
    "Meters one channel of an 8- or 16-bit PCM RIFF/WAVE file as one level bar would.\n"
    "\n"
    "  --channel left|right|both  channel of a stereo file (default left)\n"
    "  --standard 0..8            meter ballistics (default 1): 0 Nordic N9, 1 DIN 45406,\n"
    "                             2 BBC, 3 EBU, 4 K-20, 5 K-14, 6 K-12, 7 Digital PPM, 8 Peak dBFS\n"
    "  --reference 0..3           reference level: 0 dBFS, -18, -20, -24 dBFS (default 0)\n"
    "  --integration 0..5         none, 5, 10, 15, 20, 300 ms (default 0)\n"
    "  --decay N                  decay 1..16 (default 12)\n"
    "  --decay-mode M             none|stepup|exponential|uniform (default stepup)\n"
    "  --spots N                  segments of the bar, 1..100000 (default 735)\n"
    "  --sensitivity DB           dB at the bottom of the bar, overrides the standard's\n"
    "  --peaks N                  peak segments 0..5 (default 1)\n"
    "  --peak-delay N             peak hold 0..50 (default 49)\n"
    "  --peak-speed N             peak fall 0..50 (default 1)\n"
    "  --leave-max-peak           hold peaks 10000 ticks\n"
    "  --samples N                frames per block (default 50)\n"
    "  --gain N                   gain -8..32 (default 0)\n"
    "  --linear                   linear instead of dB scale\n"
    "  --ballistics preset|standard  as preset (default), or the standard's instrument:\n"
    "                             IEC Type I, Type II, K-System RMS or true peak, per sample\n"
    "  --loudness                 loudness of all channels instead: integrated (LUFS), range (LU),\n"
    "                             maximum true peak (dBTP), sample peak (dBFS)\n"
    "  --json                     with --loudness: one JSON object\n"
    "  --blocks                   print block,peak,current_level,bar_spots,peak_spot per block\n"
    "                             (values after the block and the 25 ms peak ticks its end reaches)\n"
    "  --help                     this text\n";


struct Options {
    std::string file;
    TMMChannel channel = chLeft;
    int standard = 1, reference = 0, integration = 0;
    int decay = 12;
    TMMDecayMode decayMode = dmStepUp;
    int spots = 735;
    bool haveSensitivity = false;
    int sensitivity = 0;
    int peaks = 1, peakDelay = 49, peakSpeed = 1;
    bool leaveMaxPeak = false;
    int samples = 50, gain = 0;
    bool linear = false, blocks = false, help = false;
    TMMBallisticsMode ballistics = bmAsPreset;
    bool loudness = false, json = false;
};

struct UsageError {
    std::string text;
};

int toInt(const std::string& opt, const std::string& v, int lo, int hi)
{
    errno = 0;
    char* end = nullptr;
    const long n = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0' || errno == ERANGE || n < lo || n > hi)
        throw UsageError{opt + " needs a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                         ", not '" + v + "'"};
    return static_cast<int>(n);
}

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError{a + " needs a value"};
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--channel") {
            const std::string v = value();
            if (v == "left") o.channel = chLeft;
            else if (v == "right") o.channel = chRight;
            else if (v == "both") o.channel = chBoth;
            else throw UsageError{"--channel needs left, right or both, not '" + v + "'"};
        } else if (a == "--standard") {
            o.standard = toInt(a, value(), 0, 8);
        } else if (a == "--reference") {
            o.reference = toInt(a, value(), 0, 3);
        } else if (a == "--integration") {
            o.integration = toInt(a, value(), 0, 5);
        } else if (a == "--decay") {
            o.decay = toInt(a, value(), 1, 16);
        } else if (a == "--decay-mode") {
            const std::string v = value();
            if (v == "none") o.decayMode = dmNone;
            else if (v == "stepup") o.decayMode = dmStepUp;
            else if (v == "exponential") o.decayMode = dmExponential;
            else if (v == "uniform") o.decayMode = dmUniform;
            else throw UsageError{"--decay-mode needs none, stepup, exponential or uniform, not '" + v + "'"};
        } else if (a == "--spots") {
            o.spots = toInt(a, value(), 1, 100000);
        } else if (a == "--sensitivity") {
            o.sensitivity = toInt(a, value(), -90, -9);
            o.haveSensitivity = true;
        } else if (a == "--peaks") {
            o.peaks = toInt(a, value(), 0, 5);
        } else if (a == "--peak-delay") {
            o.peakDelay = toInt(a, value(), 0, 50);
        } else if (a == "--peak-speed") {
            o.peakSpeed = toInt(a, value(), 0, 50);
        } else if (a == "--leave-max-peak") {
            o.leaveMaxPeak = true;
        } else if (a == "--samples") {
            o.samples = toInt(a, value(), 1, 1 << 20);
        } else if (a == "--gain") {
            o.gain = toInt(a, value(), -8, 32);
        } else if (a == "--linear") {
            o.linear = true;
        } else if (a == "--ballistics") {
            const std::string v = value();
            if (v == "preset") o.ballistics = bmAsPreset;
            else if (v == "standard") o.ballistics = bmStandard;
            else throw UsageError{"--ballistics needs preset or standard, not '" + v + "'"};
        } else if (a == "--loudness") {
            o.loudness = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--blocks") {
            o.blocks = true;
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            throw UsageError{"unknown option " + a};
        } else if (o.file.empty()) {
            o.file = a;
        } else {
            throw UsageError{"only one file, got '" + o.file + "' and '" + a + "'"};
        }
    }
    if (!o.help && o.file.empty()) throw UsageError{"no file given"};
    if (o.json && !o.loudness) throw UsageError{"--json needs --loudness"};
    return o;
}

void configure(TMMCustomLevel& lv, const Options& o)
{
    const TMMPreset& s = PresetOf(o.standard);
    // A vertical bar whose drawing area is one pixel per segment.
    lv.setKind(lkVertical);
    lv.SetBounds(1, o.spots);
    lv.setSpotSpace(0);
    lv.setSpotWidth(1);
    lv.setPoint1(s.BottomDefault);
    lv.setPoint2(s.TopDefault);
    lv.setMeterStandard(s.MeterStandard);
    lv.setSensitivy(o.haveSensitivity ? o.sensitivity : s.Sensitivy);
    const TMMRefFlags ref = ReferenceFlagsOf(o.reference);
    lv.setRefMinus18(ref.Minus18);
    lv.setRefMinus20(ref.Minus20);
    lv.setRefMinus24(ref.Minus24);
    lv.setIntegralOn(o.integration > 0);
    if (o.integration > 0) lv.setIntegralLength(IntegralLengthOf(o.integration));
    lv.setDecayMode(o.decayMode);
    lv.setDecay(o.decay);
    lv.setNumPeaks(o.peaks);
    lv.setPeakDelay(o.peakDelay);
    lv.setPeakSpeed(o.peakSpeed);
    lv.setLeaveMaxPeak(o.leaveMaxPeak);
    lv.setSamples(o.samples);
    lv.setGain(o.gain);
    lv.setLogAmp(!o.linear);
    lv.setChannel(o.channel);
    lv.setBallistics(o.ballistics);
}

std::string jsonNumber(double v)
{
    if (!std::isfinite(v)) return "null";
    char b[32];
    std::snprintf(b, sizeof b, "%.2f", v);
    return b;
}

std::string jsonString(const std::string& s)
{
    std::string r = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            r += '\\';
            r += static_cast<char>(c);
        } else if (c < 0x20) {
            char b[8];
            std::snprintf(b, sizeof b, "\\u%04x", c);
            r += b;
        } else {
            r += static_cast<char>(c);
        }
    }
    return r + "\"";
}

// Loudness of all channels of the file (EBU R128 / BS.1770, every channel weight 1).
int runLoudness(const Options& o, TMMWaveFileReader& reader)
{
    const WaveFormat& f = reader.Info().Format;
    std::unique_ptr<TMMLoudness> meter;
    try {
        meter = std::make_unique<TMMLoudness>(f.nChannels, static_cast<int>(f.nSamplesPerSec));
    } catch (const EMMLoudnessError& e) {
        std::fprintf(stderr, "tarvolin-meter: %s: %s\n", o.file.c_str(), e.what());
        return 1;
    }
    const size_t frameBytes = static_cast<size_t>(f.nChannels) * (f.wBitsPerSample / 8);
    std::vector<uint8_t> buf(frameBytes * 4096);
    std::vector<float> frames(static_cast<size_t>(f.nChannels) * 4096);
    for (;;) {
        size_t got;
        try {
            got = reader.Read(buf.data(), buf.size());
        } catch (const EMMWaveError& e) {
            std::fprintf(stderr, "tarvolin-meter: %s: %s\n", o.file.c_str(), e.what());
            return 1;
        }
        const size_t n = got / frameBytes;
        const size_t samples = n * f.nChannels;
        if (f.wBitsPerSample == 16) {
            for (size_t i = 0; i < samples; ++i) {
                int16_t v;
                std::memcpy(&v, &buf[2 * i], 2);
                frames[i] = static_cast<float>(v) / 32768.0f;
            }
        } else {
            for (size_t i = 0; i < samples; ++i) frames[i] = static_cast<float>(buf[i] - 128) / 128.0f;
        }
        meter->AddFrames(frames.data(), n);
        if (got < buf.size()) break;
    }
    const double secs = static_cast<double>(meter->Frames()) / f.nSamplesPerSec;
    if (o.json) {
        std::printf("{\"file\":%s,\"channels\":%u,\"rate\":%u,\"seconds\":%s,\"integrated_lufs\":%s,"
                    "\"range_lu\":%s,\"true_peak_dbtp\":%s,\"sample_peak_dbfs\":%s}\n",
                    jsonString(o.file).c_str(), f.nChannels, f.nSamplesPerSec, jsonNumber(secs).c_str(),
                    jsonNumber(meter->Integrated()).c_str(), jsonNumber(meter->Range()).c_str(),
                    jsonNumber(meter->TruePeak()).c_str(), jsonNumber(meter->SamplePeak()).c_str());
    } else {
        auto txt = [](double v, const char* unit) {
            return std::isfinite(v) ? jsonNumber(v) + " " + unit : std::string("-inf ") + unit;
        };
        std::printf("file: %s\n", o.file.c_str());
        std::printf("format: %u-bit PCM, %u channel(s), %u Hz, %.3f s\n", f.wBitsPerSample, f.nChannels,
                    f.nSamplesPerSec, secs);
        std::printf("integrated loudness: %s\n", txt(meter->Integrated(), "LUFS").c_str());
        std::printf("loudness range: %s\n", txt(meter->Range(), "LU").c_str());
        std::printf("maximum true peak: %s\n", txt(meter->TruePeak(), "dBTP").c_str());
        std::printf("sample peak: %s\n", txt(meter->SamplePeak(), "dBFS").c_str());
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

double dbOf(long v) { return v > 0 ? 20.0 * std::log10(v / 32768.0) : -INFINITY; }

int run(const Options& o)
{
    TMMWaveFileReader reader;
    try {
        reader.Open(o.file);
    } catch (const EMMWaveError& e) {
        std::fprintf(stderr, "tarvolin-meter: %s: %s\n", o.file.c_str(), e.what());
        return 1;
    }
    const TMMWaveInfo& info = reader.Info();
    if (info.DataLength == 0) {
        // The program's alarm player loads such a file and plays nothing; a
        // measurement of nothing is a fault.
        std::fprintf(stderr, "tarvolin-meter: %s: no audio data: %s\n", o.file.c_str(), info.NoDataReason.c_str());
        return 1;
    }
    if (o.loudness) return runLoudness(o, reader);
    TMMCustomLevel lv;
    try {
        lv.SetWaveFormat(&info.Format);
    } catch (const EMMLevelError& e) {
        std::fprintf(stderr,
                     "tarvolin-meter: %s: %s (needs 8- or 16-bit PCM, 1, 2 or 4 channels, 4000 to 100000 Hz; "
                     "this file: tag %u, %u bits, %u channels, %u Hz)\n",
                     o.file.c_str(), e.what(), info.Format.wFormatTag, info.Format.wBitsPerSample,
                     info.Format.nChannels, info.Format.nSamplesPerSec);
        return 1;
    }
    configure(lv, o);

    long pcmOvers = 0, gainOvers = 0;
    lv.OnPcmOverflow = [&](TMMCustomLevel*) { ++pcmOvers; };
    lv.OnGainOverflow = [&](TMMCustomLevel*) { ++gainOvers; };

    const uint64_t rate = info.Format.nSamplesPerSec;
    const size_t blockBytes = static_cast<size_t>(lv.BlockBytes());
    std::vector<uint8_t> buf(blockBytes * 64);
    uint64_t block = 0, ticks = 0;
    long maxPeak = 0, maxLevel = 0;
    int maxBar = 0;
    uint64_t above1 = 0, above2 = 0;  // blocks with the bar beyond zone 1 / zone 2
    if (o.blocks) std::printf("block,peak,current_level,bar_spots,peak_spot\n");

    for (;;) {
        size_t got;
        try {
            got = reader.Read(buf.data(), buf.size());
        } catch (const EMMWaveError& e) {
            std::fprintf(stderr, "tarvolin-meter: %s: %s\n", o.file.c_str(), e.what());
            return 1;
        }
        if (got < blockBytes) break;  // the end, or a last partial block (not metered)
        for (size_t off = 0; off + blockBytes <= got; off += blockBytes, ++block) {
            lv.ProcessBlock(buf.data() + off);
            // 25 ms boundaries of audio time reached by this block's end.
            const uint64_t due = (block + 1) * static_cast<uint64_t>(lv.Samples()) * 40 / rate;
            for (; ticks < due; ++ticks) lv.PeakTick();
            maxPeak = std::max<long>(maxPeak, lv.LastBlockPeak());
            maxLevel = std::max<long>(maxLevel, lv.CurrentLevel());
            maxBar = std::max(maxBar, lv.BarSpots());
            if (lv.BarSpots() > lv.Zone1Spots()) ++above1;
            if (lv.BarSpots() > lv.Zone2Spots()) ++above2;
            if (o.blocks)
                std::printf("%llu,%d,%d,%d,%d\n", static_cast<unsigned long long>(block), lv.LastBlockPeak(),
                            lv.CurrentLevel(), lv.BarSpots(), lv.PeakSpot());
        }
        if (got % blockBytes) break;
    }
    if (o.blocks) return std::fflush(stdout) == 0 ? 0 : 1;

    const double blockSec = static_cast<double>(lv.Samples()) / static_cast<double>(rate);
    const TMMPreset& s = PresetOf(o.standard);
    const char* chan = info.Format.nChannels == 1 ? "mono"
                       : o.channel == chLeft      ? "left"
                       : o.channel == chRight     ? "right"
                                                  : "both";
    std::printf("file: %s\n", o.file.c_str());
    std::printf("format: %u-bit PCM, %u channel(s), %u Hz; metered: %s\n", info.Format.wBitsPerSample,
                info.Format.nChannels, info.Format.nSamplesPerSec, chan);
    if (lv.Detector()) std::printf("ballistics: %s\n", InstrumentName(lv.Detector()->Kind()));
    std::printf("meter: %s, sensitivity %d dB, %d segments (zones above %d and %d)\n", s.Caption, lv.Sensitivy(),
                lv.NumSpots(), lv.Zone1Spots(), lv.Zone2Spots());
    std::printf("blocks: %llu of %d frames (%.3f s)\n", static_cast<unsigned long long>(block), lv.Samples(),
                static_cast<double>(block) * blockSec);
    std::printf("highest peak: %ld (%.2f dBFS)\n", maxPeak, dbOf(maxPeak));
    std::printf("highest level: %ld (%.2f dB)\n", maxLevel, dbOf(maxLevel));
    std::printf("highest bar: %d of %d segments\n", maxBar, lv.NumSpots());
    std::printf("overs: %ld block(s) at full scale, %ld bar overflow(s)\n", pcmOvers, gainOvers);
    std::printf("above zone 1 (%d%%): %.3f s\n", lv.Point1(), static_cast<double>(above1) * blockSec);
    std::printf("above zone 2 (%d%%): %.3f s\n", lv.Point2(), static_cast<double>(above2) * blockSec);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    try {
        o = parse(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "tarvolin-meter: %s (see --help)\n", e.text.c_str());
        return 2;
    }
    if (o.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    try {
        return run(o);
    } catch (const EMMError& e) {
        std::fprintf(stderr, "tarvolin-meter: %s: %s\n", o.file.c_str(), e.what());
        return 1;
    }
}
