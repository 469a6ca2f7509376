// RTP packets of one network stream: the header check, the samples turned
// into the 16-bit frames the meter measures, the stream's health counters
// (in arrival order) and its audio (in sequence order, gaps filled with
// silence by the timestamps). Qt-free and socket-free; the receiver's
// streaming threads call it, tests and the fuzzer drive it directly. No
// allocation after construction.
#pragma once

#include "audio/MMNetSdp.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One RTP packet's fixed header and payload (RFC 3550), in place.
struct TRtpPacketView {
    int payloadType = 0;
    bool marker = false;
    uint16_t seq = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
    const uint8_t* payload = nullptr;
    size_t payloadBytes = 0;
};

enum class TRtpFault { None, Truncated, Version, Padding, PayloadType, PayloadSize };
const char* RtpFaultText(TRtpFault f);

// The header, CSRC list, extension and padding of `data`; None when the
// packet is well-formed RTP version 2.
TRtpFault ParseRtpPacket(const uint8_t* data, size_t size, TRtpPacketView& out);
// Whether a well-formed packet belongs to `desc`: its payload type, and a
// payload of whole frames no longer than 4 ms (the longest packet time).
TRtpFault CheckRtpPayload(const TRtpPacketView& p, const TNetStreamDesc& desc);

// Big-endian L16 or L24 samples to 16 bits: the sample's top 16 bits (L24
// drops its low byte, as a 16-bit device would). `samples` values.
void RtpSamplesToPcm16(const uint8_t* in, size_t samples, int bits, int16_t* out);

// The counters of one stream as the status reports them.
struct TNetStreamHealth {
    uint64_t received = 0;    // well-formed packets of the stream
    uint64_t lost = 0;        // sequence numbers never received
    uint64_t late = 0;        // arrived after a later one (reordered)
    uint64_t duplicates = 0;  // a sequence number received again
    uint64_t malformed = 0;   // refused by the header or payload check
    double jitterMs = 0;      // interarrival jitter (RFC 3550 A.8)
};

// A stream's state for --stats, /status and /metrics.
struct TNetStreamStatus {
    std::string name;  // device name
    std::string address;  // group:port
    std::string format;   // "L24/48000/8"
    bool announced = false;  // heard over SAP (else from a file)
    bool receiving = false;  // packets within the last second
    TNetStreamHealth health;
    uint64_t silentFrames = 0;  // written as silence for lost packets
};

// Counts packets as they arrive, before any reordering. Its arrival clock is
// the caller's (microseconds). One thread calls Packet; Health may be read
// from any thread.
class TRtpHealthCounter {
public:
    explicit TRtpHealthCounter(const TNetStreamDesc& desc) : mDesc(desc) {}
    // False when the packet is malformed (and counted as such).
    bool Packet(const uint8_t* data, size_t size, int64_t arrivalUs);
    TNetStreamHealth Health() const;

private:
    TNetStreamDesc mDesc;
    bool mStarted = false;
    uint32_t mSsrc = 0;
    int64_t mHighest = 0;      // extended sequence number
    int64_t mBase = 0;         // the first one
    int64_t mPriorExpected = 0;  // expected of earlier senders
    uint64_t mWindow = 0;      // bit k: mHighest - k was received
    double mJitter = 0;        // in timestamp units
    int64_t mLastTransit = 0;
    bool mHaveTransit = false;
    int64_t mArrivalBase = 0;
    bool mHaveArrivalBase = false;
    std::atomic<uint64_t> mReceived{0}, mUnique{0}, mLate{0}, mDuplicates{0}, mMalformed{0};
    std::atomic<int64_t> mExpected{0};
    std::atomic<uint64_t> mJitterUs{0};
};

// Turns packets in sequence order (as the jitter buffer hands them on) into
// 16-bit frames of the stream's channels, written to `sink`. A packet whose
// timestamp lies ahead of the last one's end is preceded by silence for the
// missing frames (at most one second; a larger jump, or a new SSRC, starts
// the timeline afresh), so the position never slips; one that overlaps is
// cut, an old one dropped. Malformed packets are dropped.
class TRtpAudioReader {
public:
    using Sink = void (*)(void* user, const int16_t* frames, size_t count);
    TRtpAudioReader(const TNetStreamDesc& desc, Sink sink, void* user);
    void Packet(const uint8_t* data, size_t size);
    // Starts afresh with the next packet (the receiver was restarted).
    void Restart() { mStarted = false; }
    uint64_t SilentFrames() const { return mSilent.load(std::memory_order_relaxed); }
    uint64_t Frames() const { return mFrames.load(std::memory_order_relaxed); }

private:
    void Emit(const uint8_t* payload, size_t frames);
    void Silence(uint64_t frames);
    TNetStreamDesc mDesc;
    Sink mSink;
    void* mUser;
    std::vector<int16_t> mBlock;  // one packet's frames at most
    bool mStarted = false;
    uint32_t mSsrc = 0;
    uint32_t mNext = 0;  // timestamp of the frame expected next
    std::atomic<uint64_t> mSilent{0}, mFrames{0};
};
