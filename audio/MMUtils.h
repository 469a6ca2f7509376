// PCM stream format, wave headers, shared enumerations and the integer
// conversions between bytes, sample frames and milliseconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

// The format record, laid out like the platform's WAVEFORMATEX (18 bytes).
#pragma pack(push, 1)
struct WaveFormat {
    uint16_t wFormatTag = 0;
    uint16_t nChannels = 0;
    uint32_t nSamplesPerSec = 0;
    uint32_t nAvgBytesPerSec = 0;
    uint16_t nBlockAlign = 0;
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;  // bytes of extra data following the record
};
#pragma pack(pop)
static_assert(sizeof(WaveFormat) == 18, "WaveFormat must be 18 bytes");

constexpr uint16_t WAVE_FORMAT_PCM = 1;

// Owned heap copy of a format (with its extra data for non-PCM tags).
struct WaveFormatDeleter {
    void operator()(WaveFormat* p) const noexcept;
};
using WaveFormatPtr = std::unique_ptr<WaveFormat, WaveFormatDeleter>;

// The wave header: the platform's WAVEHDR fields followed by private words.
// Header and data area are one block; lpData points just past the header.
struct WaveHdr {
    char* lpData = nullptr;
    uint32_t dwBufferLength = 0;
    uint32_t dwBytesRecorded = 0;
    uintptr_t dwUser = 0;
    uint32_t dwFlags = 0;
    uint32_t dwLoops = 0;
    WaveHdr* lpNext = nullptr;
    uintptr_t reserved = 0;
    // private words of the chain
    uint32_t dwSavedBytes = 0;       // playback: bytes recorded kept across the device
    WaveHdr* lpCompanion = nullptr;  // companion header (read by the connector's Synchronize)
    uintptr_t dwPrivate[2] = {0, 0};
};
using PWaveHdr = WaveHdr*;

constexpr uint32_t WHDR_DONE = 1;
constexpr uint32_t WHDR_PREPARED = 2;

enum TMMBits { b8Bit = 0, b16Bit = 1 };
enum TMMMode { mMono = 0, mStereo = 1, mMultiChannel = 2 };
enum TMMChannel { chBoth = 0, chLeft = 1, chRight = 2 };
enum TMMTimeFormats { tfMillisecond = 0, tfByte = 1, tfSample = 2 };
enum TMMCBMode { cmWindow = 0, cmCallback = 1, cmThread = 2 };

using TMMDeviceId = int;
constexpr TMMDeviceId MapperId = -1;
constexpr TMMDeviceId InvalidId = -2;

// Stored form of a device id: "MapperId", "InvalidId" or a plain integer.
std::string DeviceIdToString(TMMDeviceId id);
// Reads the stored form back (words without regard to case); anything
// unreadable gives InvalidId.
TMMDeviceId DeviceIdFromString(const std::string& text);

// Root of the components' exception classes.
class EMMError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Format operations; all tolerate a null format.
void BuildPcmFormat(WaveFormat& fmt, int bits, int channels, int rate);
bool IsValidPcmFormat(const WaveFormat* fmt);
int WaveFormatSize(const WaveFormat* fmt);
WaveFormatPtr CopyWaveFormat(const WaveFormat* fmt);
uint8_t SilenceValue(const WaveFormat* fmt);

// Nearest quotient of a*b/c, a half going up, with a 64-bit product.
// A zero divisor gives 0.
int32_t MulDivNearest(int32_t a, int32_t b, int32_t c);
// x raised to the next whole number of frames of fmt (unchanged without one).
int32_t AlignToFrames(const WaveFormat* fmt, int32_t x);

// Conversions between bytes, sample frames and milliseconds. A null format
// (or one with a zero rate) gives 0.
int32_t BytesToSamples(const WaveFormat* fmt, int32_t bytes);
int32_t BytesToMs(const WaveFormat* fmt, int32_t bytes);
int32_t SamplesToBytes(const WaveFormat* fmt, int32_t samples);
int32_t SamplesToMs(const WaveFormat* fmt, int32_t samples);
int32_t MsToSamples(const WaveFormat* fmt, int32_t ms);
int32_t MsToBytes(const WaveFormat* fmt, int32_t ms);

// Working buffer size: the nominal size cut to whole frames, at least one frame.
int32_t RealBufferSize(int32_t nominal, const WaveFormat* fmt);
