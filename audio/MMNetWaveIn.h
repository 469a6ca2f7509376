// Network audio streams (RTP L16/L24, as AES67 senders send them) as input
// devices: each stream is a device "NAME [AES67]" followed, beyond two
// channels, by its pairs "NAME [AES67] (1-2)" ... like a multichannel
// interface. Streams come from SDP files and from SAP announcements heard on
// 239.255.255.255 and 224.2.127.254, port 9875, on the chosen interface.
//
// Every stream used has a socket joined to its group; one receiver thread
// drains them all in batches (recvmmsg), counts and checks each packet as it
// arrived (TRtpHealthCounter, with the kernel's arrival time; malformed ones
// go no further), puts each batch in sequence order and turns it into 16-bit
// frames (TRtpAudioReader) that the shared capture hands to the recorders'
// taps. A stream that sends nothing for a second is absent: its recorders
// are lost and reopen once packets come again. A stream is received from its
// first open until it is no longer listed or the back end closes, so its
// counters go on while its recorders are lost. SDP texts are read with
// GStreamer's parser.
#pragma once

#include "audio/MMNetRtp.h"
#include "audio/MMNetSdp.h"
#include "audio/MMPairSplit.h"
#include "audio/MMStreamTable.h"
#include "audio/MMWaveInDevice.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>


class TMMNetWaveIn : public TMMWaveInDevice {
public:
    static constexpr int MaxStreams = 64;
    static constexpr int IdsPerStream = 33;  // the stream and up to 32 pairs
    static constexpr int MaxOpen = 64;
    // The handles this back end gives out, apart from any other's.
    static constexpr uintptr_t FirstHandle = uintptr_t{1} << 40;
    static constexpr MMRESULT kNoPackets = 0x4E01;

    struct TOptions {
        std::string interfaceName;  // to join on ("" = the system's choice)
        bool discover = true;       // listen for SAP announcements
        std::vector<std::string> sdpFiles;
    };

    // Whether GStreamer (its SDP parser) starts (`why` says why not).
    static bool Available(std::string* why = nullptr);

    // Throws ENetStreamError for an unreadable or unusable SDP file.
    explicit TMMNetWaveIn(const TOptions& options);
    ~TMMNetWaveIn() override;

    std::string BackendName() const override { return "network"; }
    int GetNumDevs() override { return MaxStreams * IdsPerStream; }
    MMRESULT GetDevCaps(int id, WaveInCaps& caps) override;
    MMRESULT GetErrorText(MMRESULT err, std::string& text) override;
    bool DevicePresent(HWAVEIN h) override;
    MMRESULT Open(HWAVEIN* h, int id, const WaveFormat& fmt, TWaveInNotify cb, void* instance,
                  uint32_t flags) override;
    MMRESULT Close(HWAVEIN h) override;
    MMRESULT AddBuffer(HWAVEIN h, PWaveHdr hdr) override;
    MMRESULT Start(HWAVEIN h) override;
    MMRESULT Stop(HWAVEIN h) override;
    MMRESULT Reset(HWAVEIN h) override;
    MMRESULT GetID(HWAVEIN h, int& id) override;
    int64_t LostBytes(HWAVEIN h) override;
    std::vector<TMMDeviceInfo> InputDevices() override;

    // Adds (or refreshes) a stream, announced over SAP or else configured (an
    // SDP file: listed for good); its index, or -1 when the table is full.
    int AddStream(const TNetStreamDesc& desc, bool announced);
    // Waits up to `ms` for SAP announcements (for listing devices at start).
    void AwaitAnnouncements(int ms);
    // Changes whenever a stream appears or goes (any thread).
    uint64_t ListGeneration() const { return mGeneration.load(); }
    std::vector<TNetStreamStatus> Streams();
    // SAP packets refused (not SAP, or an SDP the meter cannot receive).
    uint64_t RefusedAnnouncements() const { return mRefused.load(); }

    struct Net;
    struct Stream;

protected:
    int64_t StreamFrames(uintptr_t h) override;

private:
    Net* NetOf(int id, int* pair);
    Stream* Find(HWAVEIN h);
    MMRESULT Run(Net& n);
    void Halt(Net& n);
    void Listen();
    void Receive();
    void WakeReceiver();

    TOptions mOptions;
    std::mutex mLock;  // the list of streams (not the audio path)
    std::vector<std::unique_ptr<Net>> mNets;  // never shrinks: ids stay
    std::atomic<uint64_t> mGeneration{0};
    std::atomic<uint64_t> mRefused{0};
    std::atomic<bool> mStop{false};
    std::atomic<int64_t> mHeardSince{-1};
    int mWake = -1;  // eventfd that ends the listener
    std::thread mListener;
    int mReceiverWake = -1;  // eventfd: the received streams changed, or the end
    std::thread mReceiver;
    uint64_t mActiveChange = 0;  // under mLock: bumped when a stream starts or stops being received
    uint64_t mReceiverSeen = 0;  // under mLock: the change the receiver works with
    std::condition_variable mActiveTaken;
    TMMStreamTable<Stream, MaxOpen> mStreams;
};
