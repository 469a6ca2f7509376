// Simulated output back end: "Simulated output 1" and "Simulated output 2".
// A device thread consumes the written headers at the real-time pace of the
// format and keeps what was played (up to a capacity fixed before playing),
// so tests can compare the played samples with their source. Faults can be
// injected per device, and a device can vanish while it plays.
#pragma once

#include "audio/MMDeviceTicker.h"

#include "audio/MMSimBackend.h"
#include "audio/MMStreamTable.h"
#include "audio/MMWaveOutDevice.h"

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct TMMSimOutputFaults {
    bool refuseFormat = false;  // the format query answers WAVERR_BADFORMAT
    MMRESULT openError = 0;
    bool noOpenConfirm = false;
    MMRESULT writeError = 0;
};

class TMMSimulatedWaveOut : public TMMWaveOutDevice, public TMMSimBackend<2, TMMSimOutputFaults> {
public:
    using Faults = TMMSimOutputFaults;
    static constexpr int DeviceCount = 2;
    static constexpr int MaxStreams = 8;


    // captureBytes: how much each device keeps of what it plays.
    explicit TMMSimulatedWaveOut(size_t captureBytes = 16u << 20);
    ~TMMSimulatedWaveOut() override;

    // The device disappears: its open streams return every header and refuse
    // writes from then on; opening it fails until Restore.
    void Vanish(int device);
    void Restore(int device);
    int OpenStreams(int device) const;

    // What the device played since the last ClearPlayed (GUI side, while
    // nothing plays on it), and the format it was played in.
    std::vector<uint8_t> Played(int device) const;
    WaveFormat PlayedFormat(int device) const;
    void ClearPlayed(int device);

    std::string BackendName() const override { return "simulated"; }
    int GetNumDevs() override { return DeviceCount; }
    MMRESULT GetDevCaps(int id, WaveOutCaps& caps) override;
    MMRESULT GetErrorText(MMRESULT err, std::string& text) override { return SimErrorText(err, text); }
    MMRESULT Open(HWAVEOUT* h, int id, const WaveFormat& fmt, TWaveOutNotify cb, void* instance,
                  uint32_t flags) override;
    MMRESULT Close(HWAVEOUT h) override;
    MMRESULT Write(HWAVEOUT h, PWaveHdr hdr) override;
    MMRESULT Pause(HWAVEOUT h) override;
    MMRESULT Restart(HWAVEOUT h) override;
    MMRESULT Reset(HWAVEOUT h) override;

protected:
    int64_t StreamFrames(uintptr_t h) override;

private:
    enum State : int { sFree, sOpen, sDead };
    struct Stream {
        TMMPlaybackQueue queue;
        std::atomic<int> state{sFree};
        bool IsOpen() const { return state.load() != sFree; }
        std::atomic<bool> paused{false};
        std::atomic<int> busy{0};
        int device = 0;
        WaveFormat fmt;
        std::atomic<uint64_t> frames{0};
        uint64_t consumed = 0;
        std::chrono::steady_clock::time_point t0;
    };
    struct Capture {
        // Capacity fixed at construction, left uninitialised: only what is
        // played becomes resident.
        std::unique_ptr<uint8_t[]> data;
        size_t capacity = 0;
        std::atomic<size_t> used{0};
        WaveFormat fmt;
    };

    Stream* Find(HWAVEOUT h);
    void Hold(Stream& s);
    void Release(Stream& s) { s.busy.store(0); }
    void Consume(Stream& s, size_t frames);
    void Run();

    TMMStreamTable<Stream, MaxStreams> mStreams;
    std::array<Capture, DeviceCount> mCapture;
    std::atomic<bool> mQuit{false};
    TMMDeviceTicker mTicker;
    std::thread mThread;
};

// Writes what simulated output `device` played as a 16-bit PCM WAVE file
// (8-bit data is widened). False with `error` set when it cannot be written.
bool WriteSimOutputCapture(const TMMSimulatedWaveOut& out, int device, const std::string& path,
                           std::string& error);
