// One fuzz input as an alarm sound file: the first byte picks the file name's
// extension, the rest is written to a temporary file that the alarm player
// opens as it opens a user's file (the ranked readers: libsndfile for MP3,
// FLAC and Ogg, the RIFF/WAVE walk, ADPCM decoding). The PCM it yields is
// pulled buffer by buffer, after a seek too, with the volume and panning
// scaling on. Nothing is played: the player's output is a device with no
// outputs. Shared by the fuzzer and the corpus replay test.
#pragma once

#include "monitoring/MMAudioPlayer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// An output back end without devices: the player is built but never plays.
class TFuzzNoOutput : public TMMWaveOutDevice {
public:
    std::string BackendName() const override { return "none"; }
    int GetNumDevs() override { return 0; }
    MMRESULT GetErrorText(MMRESULT, std::string& text) override
    {
        text = "no output";
        return MMSYSERR_NOERROR;
    }
    MMRESULT Open(uintptr_t*, int, const WaveFormat&, TWaveInNotify, void*, uint32_t) override
    {
        return MMSYSERR_NODRIVER;
    }
    MMRESULT Close(uintptr_t) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Reset(uintptr_t) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT GetDevCaps(int, WaveCaps&) override { return MMSYSERR_BADDEVICEID; }
    MMRESULT Write(HWAVEOUT, PWaveHdr) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Pause(HWAVEOUT) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Restart(HWAVEOUT) override { return MMSYSERR_INVALHANDLE; }
};

// A private folder for the file, in memory when /dev/shm is there; removed at exit.
inline const std::string& FuzzAlarmFolder()
{
    static const std::string folder = [] {
        struct stat st {};
        std::string base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0
                               ? "/dev/shm"
                               : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
        std::string name = base + "/tarvolin-alarm-fuzz-XXXXXX";
        if (!mkdtemp(name.data())) std::abort();
        return name;
    }();
    return folder;
}

// The name extensions the first byte picks from (byte % 7).
inline const char* const kFuzzAlarmExtensions[] = {".wav", ".mp3", ".flac", ".ogg", ".oga", ".MP3", ""};

inline void FuzzAlarmCleanUp()
{
    for (const char* ext : kFuzzAlarmExtensions) unlink((FuzzAlarmFolder() + "/alarm" + ext).c_str());
    rmdir(FuzzAlarmFolder().c_str());
}

inline std::string FuzzAlarmWrite(const std::uint8_t* data, std::size_t size)
{
    // Registered once the folder exists, so it runs before the folder's name is destroyed.
    static const bool cleanUp = !FuzzAlarmFolder().empty() && std::atexit(FuzzAlarmCleanUp) == 0;
    (void)cleanUp;
    constexpr std::size_t kinds = sizeof kFuzzAlarmExtensions / sizeof *kFuzzAlarmExtensions;
    const std::string path = FuzzAlarmFolder() + "/alarm" + kFuzzAlarmExtensions[data[0] % kinds];
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    for (std::size_t off = 1; off < size;) {
        const ssize_t n = write(fd, data + off, size - off);
        if (n <= 0) std::abort();
        off += static_cast<std::size_t>(n);
    }
    close(fd);
    return path;
}

// Pulls buffers from the file stage as the pitch stage does; returns the bytes delivered.
inline std::uint64_t FuzzAlarmPull(TMMAudioFile& file, std::vector<std::uint8_t>& buffer, int maxPulls)
{
    const WaveFormat* f = file.GetFormat();
    const std::size_t align = f && f->nBlockAlign ? f->nBlockAlign : 1;
    std::uint64_t total = 0;
    for (int i = 0; i < maxPulls; ++i) {
        WaveHdr hdr;
        hdr.lpData = reinterpret_cast<char*>(buffer.data());
        hdr.dwBufferLength = static_cast<std::uint32_t>(buffer.size());
        bool more = true;
        file.BufferLoad(&hdr, more);
        if (hdr.dwBytesRecorded > hdr.dwBufferLength) std::abort();
        // Whole frames, or the one short run of silence at the end.
        if (hdr.dwBytesRecorded % align != 0 && hdr.dwBytesRecorded != 4) std::abort();
        total += hdr.dwBytesRecorded;
        if (!more) break;
    }
    return total;
}

inline void FuzzAlarmFileOnce(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return;
    static TFuzzNoOutput device;
    static TMMAudioPlayer player(device);
    static std::vector<std::uint8_t> buffer(4096 + 12);  // not a multiple of every frame size

    const std::string path = FuzzAlarmWrite(data, size);
    player.setFileName("");  // the same name again would be kept as it is
    try {
        player.setFileName(path);
    } catch (const EMMError&) {
        if (player.File().Reader()) std::abort();  // a refused file leaves no reader behind
        return;
    }
    TMMAudioFile& file = player.File();
    TMMAudioReader* reader = file.Reader();
    if (!reader) std::abort();
    if (reader->FormatRecord().size() < 18) std::abort();
    if (reader->Position() > reader->DataLength()) std::abort();
    if (!file.Convertible()) return;
    const WaveFormat* f = file.GetFormat();
    if (!f || f->wFormatTag != WAVE_FORMAT_PCM || f->nBlockAlign == 0) std::abort();

    player.setVolume(data[size - 1] * 160);
    player.setPanning((static_cast<int>(size) % 5 - 2) * 16384);
    const std::uint64_t length = file.LengthFrames();
    const std::uint64_t first = FuzzAlarmPull(file, buffer, 6);
    if (length > (std::uint64_t(1) << 40)) std::abort();  // counts in bytes and ms must not wrap
    if (first > length * f->nBlockAlign + 4) std::abort();
    if (file.PositionFrames() > length) std::abort();

    // A seek into the middle (a block boundary of ADPCM, or not) and on.
    const std::uint64_t middle = length / 2 + (size & 1);
    file.SeekFrames(middle);
    if (file.PositionFrames() > length) std::abort();
    const std::uint64_t rest = FuzzAlarmPull(file, buffer, 3);
    if (rest > (length - std::min(middle, length)) * f->nBlockAlign + 4) std::abort();
    (void)player.LengthMs();
    player.setPosition(player.LengthMs() + 1000);
    if (file.PositionFrames() > length) std::abort();
}
