#include "audio/MMUtils.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cerrno>
#include <cstring>

void WaveFormatDeleter::operator()(WaveFormat* p) const noexcept { std::free(p); }

static bool equalsNoCase(const std::string& a, const char* b)
{
    const size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string DeviceIdToString(TMMDeviceId id)
{
    if (id == MapperId) return "MapperId";
    if (id == InvalidId) return "InvalidId";
    return std::to_string(id);
}

TMMDeviceId DeviceIdFromString(const std::string& text)
{
    if (equalsNoCase(text, "MapperId")) return MapperId;
    if (equalsNoCase(text, "InvalidId")) return InvalidId;
    if (text.empty()) return InvalidId;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < INT_MIN || v > INT_MAX) return InvalidId;
    return static_cast<TMMDeviceId>(v);
}

void BuildPcmFormat(WaveFormat& fmt, int bits, int channels, int rate)
{
    fmt.wFormatTag = WAVE_FORMAT_PCM;
    fmt.nChannels = static_cast<uint16_t>(channels);
    fmt.nSamplesPerSec = static_cast<uint32_t>(rate);
    fmt.wBitsPerSample = static_cast<uint16_t>(bits);
    fmt.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
    fmt.nAvgBytesPerSec = static_cast<uint32_t>(fmt.nBlockAlign) * static_cast<uint32_t>(rate);
    fmt.cbSize = 0;
}

bool IsValidPcmFormat(const WaveFormat* fmt)
{
    if (!fmt || fmt->wFormatTag != WAVE_FORMAT_PCM) return false;
    if (fmt->wBitsPerSample != 8 && fmt->wBitsPerSample != 16) return false;
    if (fmt->nChannels != 1 && fmt->nChannels != 2 && fmt->nChannels != 4) return false;
    return fmt->nSamplesPerSec >= 4000 && fmt->nSamplesPerSec <= 100000;
}

int WaveFormatSize(const WaveFormat* fmt)
{
    if (!fmt) return 0;
    if (fmt->wFormatTag == WAVE_FORMAT_PCM) return static_cast<int>(sizeof(WaveFormat));
    return static_cast<int>(sizeof(WaveFormat)) + fmt->cbSize;
}

WaveFormatPtr CopyWaveFormat(const WaveFormat* fmt)
{
    const int size = WaveFormatSize(fmt);
    if (size <= 0) return nullptr;
    auto* copy = static_cast<WaveFormat*>(std::calloc(1, static_cast<size_t>(size)));
    if (!copy) return nullptr;
    std::memcpy(copy, fmt, static_cast<size_t>(size));
    if (copy->wFormatTag == WAVE_FORMAT_PCM) copy->cbSize = 0;
    return WaveFormatPtr(copy);
}

uint8_t SilenceValue(const WaveFormat* fmt)
{
    return (fmt && fmt->wBitsPerSample == 8) ? 128 : 0;
}

int32_t MulDivNearest(int32_t a, int32_t b, int32_t c)
{
    if (c == 0) return 0;
    const int64_t product = static_cast<int64_t>(a) * static_cast<int64_t>(b);
    const int64_t q = product / c;
    const int64_t r = product % c;
    return static_cast<int32_t>(q + (2 * r) / c);
}

int32_t AlignToFrames(const WaveFormat* fmt, int32_t x)
{
    if (!fmt || fmt->nBlockAlign == 0) return x;
    const int64_t ba = fmt->nBlockAlign;
    const int64_t aligned = ((static_cast<int64_t>(x) + ba - 1) / ba) * ba;
    return static_cast<int32_t>(std::min<int64_t>(aligned, INT32_MAX - INT32_MAX % ba));
}

static int32_t rate(const WaveFormat* f) { return f ? static_cast<int32_t>(f->nSamplesPerSec) : 0; }
static int32_t avg(const WaveFormat* f) { return f ? static_cast<int32_t>(f->nAvgBytesPerSec) : 0; }

int32_t BytesToSamples(const WaveFormat* f, int32_t bytes) { return MulDivNearest(bytes, rate(f), avg(f)); }
int32_t BytesToMs(const WaveFormat* f, int32_t bytes) { return MulDivNearest(bytes, 1000, avg(f)); }
int32_t SamplesToBytes(const WaveFormat* f, int32_t samples)
{
    return AlignToFrames(f, MulDivNearest(samples, avg(f), rate(f)));
}
int32_t SamplesToMs(const WaveFormat* f, int32_t samples) { return MulDivNearest(samples, 1000, rate(f)); }
int32_t MsToSamples(const WaveFormat* f, int32_t ms) { return f ? MulDivNearest(ms, rate(f), 1000) : 0; }
int32_t MsToBytes(const WaveFormat* f, int32_t ms)
{
    return f ? AlignToFrames(f, MulDivNearest(ms, avg(f), 1000)) : 0;
}

int32_t RealBufferSize(int32_t nominal, const WaveFormat* fmt)
{
    if (!fmt || fmt->nBlockAlign == 0) return nominal;
    const int32_t ba = fmt->nBlockAlign;
    return std::max(nominal - nominal % ba, ba);
}
