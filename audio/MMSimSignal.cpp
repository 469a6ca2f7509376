#include "audio/MMSimSignal.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

constexpr double kPi = 3.14159265358979323846;
// Noise sequences of the two channels when no seed is given.
constexpr uint32_t kLeftNoise = 0x12345678u, kRightNoise = 0x9E3779B9u;

std::vector<std::string> splitColons(const std::string& s)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t p = s.find(':', start);
        parts.push_back(s.substr(start, p == std::string::npos ? std::string::npos : p - start));
        if (p == std::string::npos) return parts;
        start = p + 1;
    }
}

bool toDouble(const std::string& s, double& v)
{
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    v = std::strtod(s.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(v);
}

bool toInt(const std::string& s, int& v)
{
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || n < 0 || n > 3600000) return false;
    v = static_cast<int>(n);
    return true;
}

// Syntax only; an empty result means the channel description is valid.
std::string parseChannelBody(const std::string& text, TMMSimChannelSignal& ch);

std::string parseChannel(const std::string& text, TMMSimChannelSignal& ch)
{
    if (text.size() > 1 && text[0] == '-') {
        const std::string err = parseChannelBody(text.substr(1), ch);
        ch.inverted = true;
        return err;
    }
    return parseChannelBody(text, ch);
}

std::string parseChannelBody(const std::string& text, TMMSimChannelSignal& ch)
{
    ch = TMMSimChannelSignal();
    if (text == "silence") return "";
    if (text.rfind("file:", 0) == 0) {
        ch.kind = TMMSimChannelSignal::File;
        ch.path = text.substr(5);
        return ch.path.empty() ? "file: needs a path" : "";
    }
    const auto parts = splitColons(text);
    const std::string& kind = parts[0];
    auto level = [&](const std::string& s) -> std::string {
        if (!toDouble(s, ch.dbfs)) return "'" + s + "' is not a level in dBFS";
        if (ch.dbfs > 0 || ch.dbfs < -200) return "level " + s + " dBFS is outside -200 ... 0";
        return "";
    };
    auto frequency = [&](const std::string& s) -> std::string {
        if (!toDouble(s, ch.freq) || ch.freq <= 0 || ch.freq > 50000)
            return "'" + s + "' is not a frequency from 0 to 50000 Hz";
        return "";
    };
    if (kind == "sine" || kind == "gated") {
        const bool gated = kind == "gated";
        if (gated ? parts.size() != 5u : parts.size() != 3u && parts.size() != 4u)
            return gated ? "expected gated:FREQ_HZ:DBFS:ON_MS:OFF_MS" : "expected sine:FREQ_HZ:DBFS[:PHASE_DEG]";
        ch.kind = gated ? TMMSimChannelSignal::Gated : TMMSimChannelSignal::Sine;
        std::string err = frequency(parts[1]);
        if (err.empty()) err = level(parts[2]);
        if (err.empty() && !gated && parts.size() == 4u &&
            (!toDouble(parts[3], ch.phaseDeg) || ch.phaseDeg < -360 || ch.phaseDeg > 360))
            err = "'" + parts[3] + "' is not a phase from -360 to 360 degrees";
        if (!err.empty() || !gated) return err;
        if (!toInt(parts[3], ch.onMs) || !toInt(parts[4], ch.offMs))
            return "gated: ON_MS and OFF_MS must be whole milliseconds from 0 to 3600000";
        if (ch.onMs + ch.offMs == 0) return "gated: ON_MS + OFF_MS must be above 0";
        return "";
    }
    auto seed = [&](const std::string& s) -> std::string {
        char* end = nullptr;
        errno = 0;
        const unsigned long long v = std::strtoull(s.c_str(), &end, 10);
        if (s.empty() || s[0] == '-' || errno != 0 || *end != '\0' || v == 0 || v > 0xFFFFFFFFull)
            return "'" + s + "' is not a noise seed from 1 to 4294967295";
        ch.seed = static_cast<uint32_t>(v);
        return "";
    };
    if (kind == "noise") {
        if (parts.size() != 2 && parts.size() != 3) return "expected noise:DBFS[:SEED]";
        ch.kind = TMMSimChannelSignal::Noise;
        std::string err = level(parts[1]);
        if (err.empty() && parts.size() == 3) return seed(parts[2]);
        return err;
    }
    if (kind == "speech" || kind == "music") {
        ch.kind = kind == "speech" ? TMMSimChannelSignal::Speech : TMMSimChannelSignal::Music;
        const std::string usage = "expected " + kind + ":DBFS[:SEED][:corr=C][:drift=SECONDS][:gap=LEN,PERIOD[,START]]";
        if (parts.size() < 2) return usage;
        std::string err = level(parts[1]);
        if (!err.empty()) return err;
        size_t i = 2;
        if (i < parts.size() && !parts[i].empty() && parts[i][0] >= '0' && parts[i][0] <= '9') {
            err = seed(parts[i++]);
            if (!err.empty()) return err;
        }
        bool corr = false, drift = false, gap = false;
        for (; i < parts.size(); ++i) {
            const std::string& opt = parts[i];
            const size_t eq = opt.find('=');
            const std::string name = opt.substr(0, eq);
            const std::string value = eq == std::string::npos ? "" : opt.substr(eq + 1);
            if (name == "corr" && !corr && eq != std::string::npos) {
                corr = true;
                if (!toDouble(value, ch.corr) || ch.corr < -1 || ch.corr > 1)
                    return "corr: '" + value + "' is not a correlation from -1 to 1";
            } else if (name == "drift" && !drift && eq != std::string::npos) {
                drift = true;
                if (!toDouble(value, ch.driftS) || ch.driftS < 0.1 || ch.driftS > 3600)
                    return "drift: '" + value + "' is not a period from 0.1 to 3600 seconds";
            } else if (name == "gap" && !gap && eq != std::string::npos) {
                gap = true;
                std::vector<double> v;
                size_t start = 0;
                for (;;) {
                    const size_t c = value.find(',', start);
                    double d = 0;
                    if (!toDouble(value.substr(start, c == std::string::npos ? std::string::npos : c - start), d))
                        return "gap: expected LEN,PERIOD[,START] in seconds, got '" + value + "'";
                    v.push_back(d);
                    if (c == std::string::npos) break;
                    start = c + 1;
                }
                if (v.size() != 2 && v.size() != 3)
                    return "gap: expected LEN,PERIOD[,START] in seconds, got '" + value + "'";
                ch.gapS = v[0];
                ch.gapPeriodS = v[1];
                ch.gapStartS = v.size() == 3 ? v[2] : v[1] - v[0];
                if (ch.gapPeriodS <= 0 || ch.gapPeriodS > 3600 || ch.gapS <= 0 || ch.gapS > ch.gapPeriodS ||
                    ch.gapStartS < 0 || ch.gapStartS >= ch.gapPeriodS)
                    return "gap: need 0 < LEN <= PERIOD <= 3600 and 0 <= START < PERIOD, got '" + value + "'";
            } else {
                return "'" + opt + "': unknown or repeated option; " + usage;
            }
        }
        if (corr && drift) return "corr and drift exclude each other";
        return "";
    }
    return "unknown signal '" + text + "' (expected sine, noise, silence, gated, file, speech or music)";
}

bool startsWithKeyword(const std::string& s, size_t pos)
{
    if (pos < s.size() && s[pos] == '-') ++pos;
    for (const char* k : {"sine:", "noise:", "silence", "gated:", "file:", "speech:", "music:"})
        if (s.compare(pos, std::strlen(k), k) == 0) return true;
    return false;
}

inline uint32_t xorshift(uint32_t& x)
{
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
}
inline double uniform(uint32_t& x) { return static_cast<double>(xorshift(x)) / 4294967295.0 * 2.0 - 1.0; }  // -1 ... 1
inline double unit(uint32_t& x) { return static_cast<double>(xorshift(x)) / 4294967296.0; }                // 0 ... <1

// A further sequence derived from a seed (never 0, which xorshift keeps).
uint32_t derive(uint32_t v, uint32_t salt)
{
    v ^= salt;
    v *= 0x85EBCA6Bu;
    v ^= v >> 13;
    v *= 0xC2B2AE35u;
    v ^= v >> 16;
    return v ? v : 0x6D2B79F5u;
}

// Shaped noise at env 1 has this RMS, in units of the peak; peaks above the
// level (3.3 sigma for speech, 2.7 for music, which is mastered loud) are clipped.
constexpr double kSpeechRms = 0.3, kMusicRms = 0.37;
constexpr double kSpeechFloor = 0.003;  // -50 dB: the room between words

// Nearest integer, halves away from zero, without a library call.
inline int16_t toSample(double v)
{
    return static_cast<int16_t>(static_cast<int32_t>(v + (v >= 0 ? 0.5 : -0.5)));
}

uint32_t le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

double TMMSimChannelSignal::Amplitude() const
{
    if (kind == Silence || kind == File) return 0;
    return 32767.0 * std::pow(10.0, dbfs / 20.0);
}

std::vector<int16_t> ReadWaveChannel(const std::string& path, int channel)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ESimSignalError("file:" + path + ": cannot be opened");
    const std::string bad = "file:" + path + ": not a 16-bit PCM WAV file";
    unsigned char riff[12];
    if (!in.read(reinterpret_cast<char*>(riff), 12) || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        throw ESimSignalError(bad);
    int channels = 0, bits = 0, tag = 0;
    for (;;) {
        unsigned char head[8];
        if (!in.read(reinterpret_cast<char*>(head), 8)) throw ESimSignalError(bad);
        const uint32_t size = le32(head + 4);
        if (std::memcmp(head, "fmt ", 4) == 0) {
            if (size < 16 || size > 1024) throw ESimSignalError(bad);
            unsigned char fmt[1024];
            if (!in.read(reinterpret_cast<char*>(fmt), size + (size & 1))) throw ESimSignalError(bad);
            tag = le16(fmt);
            channels = le16(fmt + 2);
            bits = le16(fmt + 14);
        } else if (std::memcmp(head, "data", 4) == 0) {
            if ((tag != 1 && tag != 0xFFFE) || bits != 16 || channels < 1 || channels > 8)
                throw ESimSignalError(bad);
            const uint32_t frameBytes = 2u * static_cast<uint32_t>(channels);
            const uint32_t frames = size / frameBytes;
            if (frames == 0) throw ESimSignalError("file:" + path + ": holds no samples");
            if (frames > 100u * 1000u * 1000u) throw ESimSignalError("file:" + path + ": too long");
            std::vector<unsigned char> raw(static_cast<size_t>(frames) * frameBytes);
            in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
            const size_t got = static_cast<size_t>(in.gcount()) / frameBytes;
            if (got == 0) throw ESimSignalError("file:" + path + ": holds no samples");
            std::vector<int16_t> out(got);
            const int c = channel % channels;
            for (size_t i = 0; i < got; ++i)
                out[i] = static_cast<int16_t>(le16(&raw[i * frameBytes + 2u * static_cast<size_t>(c)]));
            return out;
        } else {
            in.seekg(size + (size & 1), std::ios::cur);
            if (!in) throw ESimSignalError(bad);
        }
    }
}

TMMSimSignal ParseSimSignal(const std::string& text)
{
    TMMSimSignal sig;
    sig.text = text;
    bool split = false;
    std::string firstError;
    // The split is the first "/" followed by a signal keyword with valid
    // descriptions on both sides (file paths contain "/" too).
    for (size_t p = text.find('/'); p != std::string::npos; p = text.find('/', p + 1)) {
        if (!startsWithKeyword(text, p + 1)) continue;
        TMMSimChannelSignal l, r;
        const std::string el = parseChannel(text.substr(0, p), l);
        const std::string er = parseChannel(text.substr(p + 1), r);
        if (el.empty() && er.empty()) {
            sig.left = l;
            sig.right = r;
            split = true;
            break;
        }
        if (firstError.empty()) firstError = !el.empty() ? el : er;
    }
    if (!split) {
        TMMSimChannelSignal both;
        const std::string e = parseChannel(text, both);
        if (!e.empty()) {
            if (text.find('/') != std::string::npos && !firstError.empty() && both.kind != TMMSimChannelSignal::File)
                throw ESimSignalError("signal '" + text + "': " + firstError);
            throw ESimSignalError("signal '" + text + "': " + e);
        }
        sig.left = both;
        sig.right = both;
        if (both.kind == TMMSimChannelSignal::File) sig.right.path = both.path;
        // One description is one signal on both channels.
        if ((both.kind == TMMSimChannelSignal::Noise || both.kind == TMMSimChannelSignal::Speech ||
             both.kind == TMMSimChannelSignal::Music) && both.seed == 0)
            sig.right.seed = kLeftNoise;
    }
    if (sig.left.kind == TMMSimChannelSignal::File)
        sig.left.samples = std::make_shared<const std::vector<int16_t>>(ReadWaveChannel(sig.left.path, 0));
    if (sig.right.kind == TMMSimChannelSignal::File)
        sig.right.samples = std::make_shared<const std::vector<int16_t>>(ReadWaveChannel(sig.right.path, 1));
    return sig;
}

std::string ProgrammeSimSignalText(int k)
{
    static const char* const kPairs[12] = {
        "music:-8:101/music:-8:101:drift=48",
        "speech:-6:202",
        "music:-10:303/music:-10:303:corr=0.6",
        "speech:-8:404:gap=15,60,6",
        "music:-4:505/music:-4:505:corr=0.8",
        "speech:-9:606",
        "music:-7:707/music:-7:707:corr=0.3",
        "speech:-5:808/speech:-7:809",
        "music:-9:909/music:-9:909:corr=0.9",
        "speech:-7:1010",
        "music:-6:1111/music:-6:1111:corr=0.1",
        "speech:-8:1212/music:-10:1213",
    };
    return k >= 1 && k <= 12 ? kPairs[k - 1] : "silence";
}

std::string DefaultSimSignalText(int k)
{
    auto fmt = [](double v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%g", v);
        return std::string(buf);
    };
    return "sine:997:" + fmt(-3.0 * k) + "/sine:1499:" + fmt(-(3.0 * k + 1.5));
}

void TMMSimGenerator::Reset(const TMMSimChannelSignal* signal, uint32_t rate, int channel)
{
    mSignal = signal;
    mAmp = signal ? signal->Amplitude() : 0;
    const double phase = signal ? signal->phaseDeg * kPi / 180 : 0;
    mRe = std::cos(phase);
    mIm = std::sin(phase);
    mInvert = signal && signal->inverted;
    mNoise = signal && signal->seed ? signal->seed : (channel == 0 ? kLeftNoise : kRightNoise);
    const double w = signal && rate ? 2 * kPi * signal->freq / rate : 0;
    mCosW = std::cos(w);
    mSinW = std::sin(w);
    mGatePos = 0;
    mGateOn = signal ? static_cast<uint64_t>(signal->onMs) * rate / 1000 : 0;
    mGatePeriod = signal ? static_cast<uint64_t>(signal->onMs + signal->offMs) * rate / 1000 : 0;
    if (mGatePeriod == 0) mGatePeriod = 1;
    mFilePos = 0;

    mRate = rate ? rate : 48000;
    mTime = 0;
    const bool programme = signal && (signal->kind == TMMSimChannelSignal::Speech ||
                                      signal->kind == TMMSimChannelSignal::Music);
    if (!programme) return;
    const bool music = signal->kind == TMMSimChannelSignal::Music;
    mTwin = derive(mNoise, 0xA511E9B3u);
    mEnvRng = derive(mNoise, 0x63D83595u);
    mShape = Shaper();
    mShape.music = music;
    mShape.a = 1 - std::exp(-2 * kPi * 3000 / mRate);
    mShape.b = 1 - std::exp(-2 * kPi * 250 / mRate);
    mShapeTwin = mShape;
    // The shaped noise's RMS, measured once on a fixed sequence (the same for
    // both channels, so equal levels stay equal).
    Shaper probe = mShape;
    uint32_t r = 0x2545F491u;
    double sum = 0;
    const uint32_t warm = mRate / 10, count = mRate / 2;
    for (uint32_t i = 0; i < warm + count; ++i) {
        const double v = probe.Step(uniform(r));
        if (i >= warm) sum += v * v;
    }
    mNorm = sum > 0 ? (music ? kMusicRms : kSpeechRms) / std::sqrt(sum / count) : 0;
    mBlendCos = signal->driftS > 0 ? 1 : signal->corr;
    mBlendSin = signal->driftS > 0 ? 0 : std::sqrt(std::max(0.0, 1 - signal->corr * signal->corr));
    mGapLen = static_cast<uint64_t>(signal->gapS * mRate + 0.5);
    mGapPeriod = static_cast<uint64_t>(signal->gapPeriodS * mRate + 0.5);
    if (mGapPeriod == 0) mGapLen = 0, mGapPeriod = 1;
    mGapStart = std::min<uint64_t>(static_cast<uint64_t>(signal->gapStartS * mRate + 0.5), mGapPeriod - 1);
    mGapPos = (mGapPeriod - mGapStart) % mGapPeriod;  // samples since the last gap began
    mFloor = music ? 0 : kSpeechFloor;
    mAccent = 0;
    mAccentDecay = std::exp(-1.0 / (0.15 * mRate));
    mLevelStep = 1.0 / mRate;  // level follows its target with a 1 s time constant
    mBeatPos = 0;
    mPhraseLeft = 0;
    mSegKind = 2;  // starts as if a pause just ended
    NextSegment();
}

double TMMSimGenerator::Shaper::Step(double w)
{
    if (music) {
        // Pink-like: three one-pole sections (-3 dB per octave over the audio band).
        s1 = 0.99765 * s1 + w * 0.0990460;
        s2 = 0.96300 * s2 + w * 0.2965164;
        s3 = 0.57000 * s3 + w * 1.0526913;
        return s1 + s2 + s3 + w * 0.1848;
    }
    // Speech band: two low-pass poles at 3 kHz, minus the part below 250 Hz.
    s1 += a * (w - s1);
    s2 += a * (s1 - s2);
    s3 += b * (s2 - s3);
    return s2 - s3;
}

// Chooses the next envelope segment. Speech: syllables (a rounded bump),
// short gaps between words, pauses between phrases. Music: a piece (beats and
// swelling phrases) followed by a pause of 1-2 s.
void TMMSimGenerator::NextSegment()
{
    const double rate = mRate;
    auto samples = [&](double lo, double hi) {
        return std::max<uint64_t>(1, static_cast<uint64_t>((lo + (hi - lo) * unit(mEnvRng)) * rate));
    };
    mSegPos = 0;
    if (mSignal->kind == TMMSimChannelSignal::Music) {
        if (mSegKind == 0) {
            mSegKind = 2;
            mSegLen = samples(1.0, 2.0);
            return;
        }
        mSegKind = 0;
        mSegLen = samples(35, 80);
        mBeatLen = samples(60.0 / 132, 60.0 / 96);
        mBeatPos = mBeatLen - 1;  // the first beat falls on the first sample
        mPhraseLeft = 0;          // counts beats within the phrase
        mLevel = mLevelTarget = 0.75 + 0.25 * unit(mEnvRng);
        return;
    }
    if (mPhraseLeft == 0 && mSegKind != 2) {
        mSegKind = 2;
        mSegLen = samples(0.3, 0.8);
        return;
    }
    if (mSegKind == 2) {
        mPhraseLeft = samples(3.0, 7.0);
        mLevel = 0.75 + 0.25 * unit(mEnvRng);
    }
    if (mSegKind == 0 && unit(mEnvRng) < 0.15) {
        mSegKind = 1;
        mSegLen = samples(0.03, 0.09);
    } else {
        mSegKind = 0;
        mSegLen = samples(0.09, 0.26);
        mSegAmp = 0.4 + 0.6 * unit(mEnvRng);
    }
    mPhraseLeft -= std::min(mPhraseLeft, mSegLen);
}

void TMMSimGenerator::FillProgramme(int16_t* out, size_t n, size_t stride)
{
    const bool music = mSignal->kind == TMMSimChannelSignal::Music;
    const double drift = mSignal->driftS;
    const bool twin = drift > 0 || mBlendSin != 0;
    const double scale = mNorm * mAmp;
    for (size_t i = 0; i < n; ++i) {
        if (drift > 0 && (mTime & 63) == 0) {
            // Blend angle 0 -> pi -> 0 over the period: correlation cos(angle).
            const double t = static_cast<double>(mTime) / mRate;
            const double angle = kPi * (1 - std::cos(2 * kPi * t / drift)) / 2;
            mBlendCos = std::cos(angle);
            mBlendSin = std::sin(angle);
        }
        ++mTime;
        double env;
        if (music) {
            if (mSegKind == 0) {
                if (++mBeatPos >= mBeatLen) {
                    mBeatPos = 0;
                    const uint64_t beat = mPhraseLeft++;
                    mAccent = beat % 4 == 0 ? 1.0 : 0.5 + 0.4 * unit(mEnvRng);
                    if (beat % 8 == 7) mLevelTarget = 0.75 + 0.25 * unit(mEnvRng);
                }
                mLevel += (mLevelTarget - mLevel) * mLevelStep;
                mAccent *= mAccentDecay;
                const double fadeIn = static_cast<double>(mSegPos) / (0.5 * mRate);             // 0.5 s
                const double fadeOut = static_cast<double>(mSegLen - mSegPos) / (0.8 * mRate);  // 0.8 s
                env = mLevel * (0.8 + 0.2 * mAccent) * std::min(1.0, std::min(fadeIn, fadeOut));
            } else {
                env = 0;
            }
        } else if (mSegKind == 0) {
            // A voiced stretch that swells to the syllable's accent.
            const double x = static_cast<double>(mSegPos) / static_cast<double>(mSegLen);
            env = mLevel * (0.65 + 0.35 * mSegAmp * 4 * x * (1 - x));
        } else {
            env = mSegKind == 1 ? 0.3 * mLevel : mFloor;  // between words the room still rings
        }
        if (++mSegPos >= mSegLen) NextSegment();

        double v = mShape.Step(uniform(mNoise));
        if (twin) v = mBlendCos * v + mBlendSin * mShapeTwin.Step(uniform(mTwin));
        v *= env * scale;
        if (v > mAmp) v = mAmp;
        if (v < -mAmp) v = -mAmp;
        const bool silent = mGapPos < mGapLen;
        if (++mGapPos >= mGapPeriod) mGapPos = 0;
        out[i * stride] = silent ? int16_t(0) : toSample(v);
    }
}

void TMMSimGenerator::Fill(int16_t* out, size_t n, size_t stride)
{
    FillPlain(out, n, stride);
    if (!mInvert) return;
    for (size_t i = 0; i < n; ++i) {
        const int v = out[i * stride];
        out[i * stride] = static_cast<int16_t>(v == -32768 ? 32767 : -v);
    }
}

void TMMSimGenerator::FillPlain(int16_t* out, size_t n, size_t stride)
{
    const auto kind = mSignal ? mSignal->kind : TMMSimChannelSignal::Silence;
    switch (kind) {
    case TMMSimChannelSignal::Silence:
        for (size_t i = 0; i < n; ++i) out[i * stride] = 0;
        return;
    case TMMSimChannelSignal::File: {
        const auto& s = *mSignal->samples;
        for (size_t i = 0; i < n; ++i) {
            out[i * stride] = s[mFilePos];
            if (++mFilePos >= s.size()) mFilePos = 0;
        }
        return;
    }
    case TMMSimChannelSignal::Speech:
    case TMMSimChannelSignal::Music:
        FillProgramme(out, n, stride);
        return;
    case TMMSimChannelSignal::Noise:
        for (size_t i = 0; i < n; ++i) {
            mNoise ^= mNoise << 13;
            mNoise ^= mNoise >> 17;
            mNoise ^= mNoise << 5;
            const double u = static_cast<double>(mNoise) / 4294967295.0 * 2.0 - 1.0;  // -1 ... 1
            out[i * stride] = toSample(u * mAmp);
        }
        return;
    case TMMSimChannelSignal::Sine:
    case TMMSimChannelSignal::Gated: {
        const bool gated = kind == TMMSimChannelSignal::Gated;
        double re = mRe, im = mIm;
        const double c = mCosW, sn = mSinW, amp = mAmp;
        for (size_t i = 0; i < n; ++i) {
            // Phase runs on through the pauses, so each burst continues the tone.
            const double v = im * amp;
            const double r = re * c - im * sn;
            im = re * sn + im * c;
            re = r;
            bool on = true;
            if (gated) {
                on = mGatePos < mGateOn;
                if (++mGatePos >= mGatePeriod) mGatePos = 0;
            }
            out[i * stride] = on ? toSample(v) : int16_t(0);
        }
        mRe = re;
        mIm = im;
        // Keep the phasor on the unit circle.
        const double mag = std::sqrt(mRe * mRe + mIm * mIm);
        if (mag > 0) {
            mRe /= mag;
            mIm /= mag;
        }
        return;
    }
    }
}
