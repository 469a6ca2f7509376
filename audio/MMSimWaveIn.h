// Simulated capture back end: twelve stereo input devices "Simulated input 1"
// ... "Simulated input 12" producing 16-bit PCM from signal descriptions
// (MMSimSignal.h), then the 24-channel "Simulated interface 24" (id 12; a
// 997 Hz sine on every channel, channel c at InterfaceChannelDbfs(c)) and its
// twelve pairs "Simulated interface 24 (1-2)" ... (ids 13 ... 24), which share
// one stream of the channels in use (MMPairSplit.h). With the real-time clock a device thread fills the queued
// headers at the asked rate; with the manual clock nothing runs by itself and
// Pump() delivers buffers on demand, so tests need no wall clock. Faults can
// be injected per device.
#pragma once

#include "audio/MMDeviceTicker.h"
#include "audio/MMPairSplit.h"
#include "audio/MMSimSignal.h"
#include "audio/MMSimBackend.h"
#include "audio/MMStreamTable.h"
#include "audio/MMWaveInDevice.h"
#include "base/TvConstants.h"

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

struct TMMSimInputFaults {
    bool refuseFormat = false;  // the format query answers WAVERR_BADFORMAT
    MMRESULT openError = 0;     // Open fails with this code
    bool noOpenConfirm = false;
    bool noCloseConfirm = false;
    MMRESULT addBufferError = 0;
    MMRESULT startError = 0;
    MMRESULT stopError = 0;
};

class TMMSimulatedWaveIn : public TMMWaveInDevice, public TMMSimBackend<tv::kPairs, TMMSimInputFaults> {
public:
    using Faults = TMMSimInputFaults;
    static constexpr int DeviceCount = tv::kPairs;  // the stereo inputs, one per recorder
    static constexpr int InterfaceId = DeviceCount;
    static constexpr int InterfaceChannels = tv::kStrips;
    static constexpr int InputCount = InterfaceId + 1 + InterfaceChannels / 2;
    // Peak level of interface channel c (0 ... 23) in dBFS: -3, -4.5 ... -37.5.
    static double InterfaceChannelDbfs(int c) { return -3.0 - 1.5 * c; }
    static constexpr int MaxStreams = 32;
    enum class Clock { Manual, RealTime };

    // Injected faults of one device; set them on the thread that opens.

    explicit TMMSimulatedWaveIn(Clock clock = Clock::Manual);
    ~TMMSimulatedWaveIn() override;

    // device: 0 ... 11 (-1 = device 0). Throws ESimSignalError on a bad
    // description; takes effect at once, also while recording.
    void SetSignal(int device, const std::string& text);
    std::string Signal(int device) const;

    // The device disappears: every open stream on it returns all its buffers
    // (with what they hold) and refuses AddBuffer and Start from then on.
    // Any id of the interface or its pairs addresses the whole interface.
    void Vanish(int device);
    void Restore(int device);
    // The vanished `device` comes back listed under id `index` (0 ... 11),
    // as a sound card may come back under another card number: its name and
    // signal move there, and the device listed there before takes the old id.
    void ReturnAt(int device, int index);

    // Manual clock: for every started stream on the device, produce frames
    // until `buffers` headers went back (or the queue ran dry). Returns the
    // headers returned. -1 addresses device 0.
    int Pump(int device, int buffers);
    // Manual clock: produce `frames` frames on every started stream.
    void PumpFrames(int device, size_t frames);
    // Open streams on the device.
    int OpenStreams(int device) const;

    std::string BackendName() const override { return "simulated"; }
    int GetNumDevs() override { return InputCount; }
    MMRESULT GetDevCaps(int id, WaveInCaps& caps) override;
    MMRESULT GetErrorText(MMRESULT err, std::string& text) override { return SimErrorText(err, text); }
    MMRESULT Open(HWAVEIN* h, int id, const WaveFormat& fmt, TWaveInNotify cb, void* instance,
                  uint32_t flags) override;
    MMRESULT Close(HWAVEIN h) override;
    MMRESULT AddBuffer(HWAVEIN h, PWaveHdr hdr) override;
    MMRESULT Start(HWAVEIN h) override;
    MMRESULT Stop(HWAVEIN h) override;
    MMRESULT Reset(HWAVEIN h) override;
    MMRESULT GetID(HWAVEIN h, int& id) override;

protected:
    int64_t StreamFrames(uintptr_t h) override;

private:
    enum State : int { sFree, sOpen, sStarted, sDead };
    struct Stream {
        TMMPairTap tap;  // the queue; and the channels, on the interface
        TMMCaptureQueue& queue = tap.queue;
        bool shared = false;  // on the interface
        int id = 0;           // the id it was opened with
        std::atomic<int> state{sFree};
        bool IsOpen() const { return state.load() != sFree; }
        std::atomic<int> busy{0};  // the device thread is filling
        int device = 0;
        WaveFormat fmt;
        const TMMSimSignal* signal = nullptr;
        TMMSimGenerator left, right;
        std::atomic<uint64_t> frames{0};  // position since open or reset
        uint64_t produced = 0;            // real-time: frames made since start
        std::chrono::steady_clock::time_point t0;
        std::atomic<int> tickUs{0};  // real-time: half a buffer, set at start
    };

    // The interface's shared stream, filled by the device thread (real time)
    // or PumpFrames (manual).
    struct Interface {
        TMMSharedCapture capture;
        std::array<TMMSimSignal, InterfaceChannels> signal;
        std::array<TMMSimGenerator, InterfaceChannels> gen;
        std::atomic<bool> running{false};
        std::atomic<int> busy{0};
        std::atomic<bool> gone{false};
        // Of the attached taps; 0 without. Opening another tap stores it again
        // while the device thread reads it.
        std::atomic<uint32_t> rate{0};
        uint64_t produced = 0;
        std::chrono::steady_clock::time_point t0;
    };

    Stream* Find(HWAVEIN h);
    const Faults& FaultsOf(int device) const;
    static bool OnInterface(int id) { return id >= InterfaceId && id < InputCount; }
    MMRESULT OpenShared(HWAVEIN* h, int id, const WaveFormat& fmt, TWaveInNotify cb, void* instance, uint32_t flags);
    void StartInterface();
    void StopInterfaceIfIdle();
    void ProduceInterface(size_t frames);
    // Takes the stream away from the device thread (waits while it fills).
    void Hold(Stream& s, int newState);
    void Produce(Stream& s, size_t frames);
    void Run();

    const Clock mClock;
    TMMStreamTable<Stream, MaxStreams> mStreams;
    std::array<std::atomic<const TMMSimSignal*>, DeviceCount> mSignal;
    std::array<int, DeviceCount> mNumber{};  // id d is listed as "Simulated input mNumber[d] + 1"
    Interface mIface;
    std::vector<std::unique_ptr<TMMSimSignal>> mSignals;  // kept until destruction
    mutable std::mutex mSignalsLock;                      // GUI-side only
    std::atomic<bool> mQuit{false};
    TMMDeviceTicker mTicker;
    std::thread mThread;
};
