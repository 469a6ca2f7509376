// One fuzz input as a SAP packet (its SDP payload read as a stream
// description), as an SDP text directly, and through a stream directory;
// shared by the fuzzer and the corpus replay test.
#pragma once

#include "audio/MMNetSdp.h"

#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

inline bool FuzzIsIpv4(const std::string& s)
{
    in_addr a{};
    char back[INET_ADDRSTRLEN];
    return inet_pton(AF_INET, s.c_str(), &a) == 1 && inet_ntop(AF_INET, &a, back, sizeof back) && s == back;
}

// An accepted description holds only what the receiver can take.
inline void FuzzCheckDesc(const TNetStreamDesc& d)
{
    if (d.bits != 16 && d.bits != 24) std::abort();
    if (d.rate != 44100 && d.rate != 48000) std::abort();
    if (d.channels < 1 || d.channels > 64) std::abort();
    if (d.port == 0 || d.payloadType < 0 || d.payloadType > 127) std::abort();
    if (!FuzzIsIpv4(d.address)) std::abort();
    if (!d.sourceFilter.empty() && !FuzzIsIpv4(d.sourceFilter)) std::abort();
    // 125 us ... 4 ms, rounded to frames.
    if (d.packetFrames != 0 && (d.packetFrames < 6 || d.packetFrames > d.rate / 250)) std::abort();
    const std::string_view name = d.sessionName;
    if (name.empty() || name == "-" || name.front() == ' ' || name.back() == ' ') std::abort();
    if (d.origin.empty() || d.origin.find('\n') != std::string::npos) std::abort();
}

// The description of `text`, checked; false when refused (always with a reason).
inline bool FuzzSdp(std::string_view text, TNetStreamDesc* out = nullptr)
{
    try {
        const TNetStreamDesc d = ParseStreamSdp(text);
        FuzzCheckDesc(d);
        if (!(ParseStreamSdp(text) == d)) std::abort();  // no state carried between calls
        if (out) *out = d;
        return true;
    } catch (const ENetStreamError& e) {
        if (!*e.what()) std::abort();
        return false;
    }
}

inline void FuzzSapSdpOnce(const std::uint8_t* data, std::size_t size)
{
    FuzzSdp(std::string_view(reinterpret_cast<const char*>(data), size));

    TSapPacket p;
    std::string why;
    const bool sap = ParseSapPacket(data, size, p, &why);
    if (!sap && why.empty()) std::abort();

    TSapDirectory dir;
    using C = TSapDirectory::TChange;
    const C first = dir.Heard(data, size, 0);
    if (!sap) {
        if (first != C::Refused || dir.Refused() != 1) std::abort();
        return;
    }
    if (p.payload.empty() || (!p.payloadType.empty() && p.payloadType != "application/sdp")) std::abort();

    // Build and parse again (the builder writes IPv4 sources only).
    in_addr src{};
    const bool v4 = inet_pton(AF_INET, p.source.c_str(), &src) == 1;
    if (v4) {
        const std::vector<uint8_t> again = BuildSapPacket(p.payload, p.hash, ntohl(src.s_addr), p.deletion);
        TSapPacket q;
        if (!ParseSapPacket(again.data(), again.size(), q) || q.deletion != p.deletion || q.hash != p.hash
            || q.source != p.source || q.payload != p.payload || q.payloadType != "application/sdp")
            std::abort();
    }

    TNetStreamDesc desc;
    const bool receivable = !p.deletion && FuzzSdp(p.payload, &desc);
    if (first != (p.deletion ? C::None : receivable ? C::Added : C::Refused)) std::abort();
    const std::vector<TNetStreamDesc> streams = dir.Streams();
    if (streams.size() != (first == C::Added ? 1u : 0u)) std::abort();
    if (first != C::Added) return;
    if (!(streams[0] == desc)) std::abort();

    // Heard again it changes nothing; its deletion removes it; unheard it expires.
    if (dir.Heard(data, size, 5000) != C::None) std::abort();
    if (v4) {
        TSapDirectory other = dir;
        const std::vector<uint8_t> del = BuildSapPacket(p.payload, p.hash, ntohl(src.s_addr), true);
        if (other.Heard(del.data(), del.size(), 6000) != C::Removed || !other.Streams().empty()) std::abort();
    }
    if (dir.Expire(65000) || !dir.Expire(65001) || !dir.Streams().empty()) std::abort();
}
