#include "audio/MMSimSignal.h"

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
    if (kind == "noise") {
        if (parts.size() != 2 && parts.size() != 3) return "expected noise:DBFS[:SEED]";
        ch.kind = TMMSimChannelSignal::Noise;
        std::string err = level(parts[1]);
        if (err.empty() && parts.size() == 3) {
            char* end = nullptr;
            errno = 0;
            const unsigned long long v = std::strtoull(parts[2].c_str(), &end, 10);
            if (parts[2].empty() || parts[2][0] == '-' || errno != 0 || *end != '\0' || v == 0 || v > 0xFFFFFFFFull)
                return "'" + parts[2] + "' is not a noise seed from 1 to 4294967295";
            ch.seed = static_cast<uint32_t>(v);
        }
        return err;
    }
    return "unknown signal '" + text + "' (expected sine, noise, silence, gated or file)";
}

bool startsWithKeyword(const std::string& s, size_t pos)
{
    if (pos < s.size() && s[pos] == '-') ++pos;
    for (const char* k : {"sine:", "noise:", "silence", "gated:", "file:"})
        if (s.compare(pos, std::strlen(k), k) == 0) return true;
    return false;
}

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
        if (both.kind == TMMSimChannelSignal::Noise && both.seed == 0) sig.right.seed = kLeftNoise;
    }
    if (sig.left.kind == TMMSimChannelSignal::File)
        sig.left.samples = std::make_shared<const std::vector<int16_t>>(ReadWaveChannel(sig.left.path, 0));
    if (sig.right.kind == TMMSimChannelSignal::File)
        sig.right.samples = std::make_shared<const std::vector<int16_t>>(ReadWaveChannel(sig.right.path, 1));
    return sig;
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
