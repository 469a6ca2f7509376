// Capture of a JACK client's output ports through the process's own JACK
// client. PortAudio's JACK host API keeps one client for the life of the
// process: when the server dies, closing a stream on it waits for a process
// cycle that never comes (about ten minutes) and no stream opens on it again.
// Here a server that is killed and started again is only a lost device: the
// shutdown callback loses every capture, the dead client is closed before
// anything else talks to JACK (libjack frees every client of a dead server
// at the next open), and the next Open finds the server and the source
// client by name again.
//
// One client serves every capture, the port queries of the device watch and
// the rate probe (GUI thread). Its process callback converts each capture's
// float samples to 16 bits the way PortAudio does (scaled by 32767,
// truncated, clipped, no dither) and hands them to the shared capture in
// blocks; it never allocates, locks or logs.
#pragma once

#include "audio/MMPairSplit.h"
#include "audio/MMWaveInDevice.h"

#include <atomic>
#include <string>
#include <vector>

class TMMJackCapture {
public:
    TMMJackCapture() = default;
    ~TMMJackCapture() { Close(); }
    TMMJackCapture(const TMMJackCapture&) = delete;
    TMMJackCapture& operator=(const TMMJackCapture&) = delete;

    // Whether this build can capture through JACK.
    static bool Available();
    // The rate the server runs at, 0 without a server (GUI thread).
    static uint32_t ServerRate();
    // -1 without a server, else whether client `name` has audio output ports
    // (GUI thread; one query of the server).
    static int HasOutputs(const std::string& name);
    // Closes the process's client (at exit; GUI thread).
    static void CloseClient();

    // Connects `channels` ports of ours to the first `channels` output ports
    // of client `source` and runs. Every block goes to `capture`; when the
    // server goes away, `dead` is set and the capture lost. Returns
    // MMSYSERR_NOERROR; MMSYSERR_NODRIVER without a server or when the source
    // has fewer ports; WAVERR_BADFORMAT when the server runs at another rate.
    MMRESULT Open(const std::string& source, int channels, uint32_t rate, TMMSharedCapture* capture,
                  std::atomic<bool>* dead);
    bool IsOpen() const { return mSlot >= 0; }
    // Stops the deliveries and gives the ports back; also after the server died.
    void Close();

    // For the process callback.
    void Deliver(uint32_t frames);
    void Lose();

private:
    int mSlot = -1;
    uint64_t mGeneration = 0;  // of the client the ports belong to
    std::vector<void*> mPorts;  // jack_port_t, ours
    std::vector<int16_t> mBlock;  // interleaved frames
    int mChannels = 0;
    TMMSharedCapture* mCapture = nullptr;
    std::atomic<bool>* mDead = nullptr;
};
