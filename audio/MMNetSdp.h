// Network audio streams as the meter sees them: the description of one RTP
// stream (from an SDP text, announced over SAP or read from a file), the SAP
// packet that carries such a text, and the directory of streams heard
// announced. Qt-free; no sockets here (the receiver owns those).
#pragma once

#include "audio/MMUtils.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

class ENetStreamError : public EMMError {
public:
    using EMMError::EMMError;
};

// One RTP audio stream the meter can receive: linear PCM, big-endian samples
// (L16 or L24), interleaved.
struct TNetStreamDesc {
    std::string sessionName;  // s= (trimmed; "-" or empty becomes "Stream <origin address>")
    std::string origin;       // o= without its version field: "user sess-id IN IP4 address"
    std::string address;      // destination (c= of the media, else of the session), dotted IPv4
    uint16_t port = 0;        // m=audio port
    std::string sourceFilter;  // a=source-filter's source address, empty without one
    int payloadType = 0;      // 0 ... 127
    int bits = 0;             // 16 (L16) or 24 (L24)
    uint32_t rate = 0;        // 44100 or 48000
    int channels = 0;         // 1 ... 64
    uint32_t packetFrames = 0;  // frames per packet from a=ptime or a=framecount; 0 unknown

    int FrameBytes() const { return channels * bits / 8; }
    // How the stream is remembered, like a device by its name: session name
    // and origin.
    std::string Key() const { return sessionName + "\n" + origin; }
    // The device name in the input lists: "NAME [AES67]".
    std::string DeviceName() const { return sessionName + " [AES67]"; }
    bool operator==(const TNetStreamDesc& o) const;
};

// The longest SDP text read (a file or a SAP payload); longer ones are refused.
constexpr size_t kMaxSdpBytes = 64 * 1024;

// The SDP text's first audio medium that the meter can receive. Throws
// ENetStreamError saying what is missing or out of range: not SDP, no audio
// medium, an encoding other than L16/L24, a rate other than 44.1/48 kHz,
// channels outside 1 ... 64, a packet time outside 125 us ... 4 ms, no
// IPv4 connection address, port 0.
TNetStreamDesc ParseStreamSdp(std::string_view sdp);

// Reads an SDP file (at most 64 kB); throws ENetStreamError naming the file.
TNetStreamDesc ReadStreamSdpFile(const std::string& path);

// One SAP packet (version 1). Encrypted and compressed packets are refused.
struct TSapPacket {
    bool deletion = false;
    uint16_t hash = 0;       // message id hash
    std::string source;      // originating source, dotted IPv4 or IPv6 text
    std::string payloadType;  // "application/sdp" when given, else empty
    std::string payload;     // the SDP text
};
// False (and `why` set) for anything but a well-formed announcement or deletion.
bool ParseSapPacket(const uint8_t* data, size_t size, TSapPacket& out, std::string* why = nullptr);
// An announcement (or deletion) carrying `sdp`, for tests and tools: no
// authentication, payload type "application/sdp"; sourceIPv4 in host order.
std::vector<uint8_t> BuildSapPacket(const std::string& sdp, uint16_t hash, uint32_t sourceIPv4,
                                    bool deletion = false);

// The streams heard announced. Each announcement (source, hash) is kept until
// a deletion for it arrives or it is not heard again within ten of its
// intervals (the interval measured between its announcements), at least
// 60 s, at most one hour. Repeats within a second (one announcement heard on
// both SAP groups) do not count as an interval. A deletion with hash 0, or
// one whose (source, hash) is unknown, removes the session of its o= line.
// An announcement of a known origin under a new hash replaces that entry;
// one whose text now describes nothing receivable removes it (Removed).
// Entries without a hash are keyed by source and origin. At most 512 entries.
// Not thread-safe; the receiver's thread owns it.
class TSapDirectory {
public:
    // What one packet changed. Updated: the description read from the SDP
    // text changed (not merely its version).
    enum class TChange { None, Added, Updated, Removed, Refused };
    // One SAP packet received at nowMs. Refused: not SAP, or its SDP
    // describes nothing the meter can receive (counted in Refused()).
    TChange Heard(const uint8_t* data, size_t size, int64_t nowMs, std::string* why = nullptr);
    // Drops announcements not heard in time; true when any went.
    bool Expire(int64_t nowMs);
    // The streams announced now, ordered by device name.
    std::vector<TNetStreamDesc> Streams() const;
    uint64_t Refused() const { return mRefused; }

private:
    struct Entry {
        TNetStreamDesc desc;
        int64_t firstMs = 0, lastMs = 0;
        int64_t intervalMs = 0;  // between the last two announcements, 0 after one
    };
    std::map<std::pair<std::string, uint16_t>, Entry> mEntries;
    uint64_t mRefused = 0;
};
