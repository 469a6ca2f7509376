#include "audio/MMNetSdp.h"

#include <gst/sdp/gstsdpmessage.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

// GStreamer's accessors return null for absent fields.
std::string Str(const char* s) { return s ? std::string(s) : std::string(); }

std::string_view Trim(std::string_view s)
{
    const char* ws = " \t\r\n\f\v";
    const size_t b = s.find_first_not_of(ws);
    if (b == std::string_view::npos) return {};
    return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::vector<std::string_view> Split(std::string_view s, char sep)
{
    std::vector<std::string_view> out;
    for (size_t at = 0;;) {
        const size_t end = s.find(sep, at);
        out.push_back(s.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
        if (end == std::string_view::npos) return out;
        at = end + 1;
    }
}

std::vector<std::string_view> Words(std::string_view s)
{
    std::vector<std::string_view> out;
    for (const std::string_view w : Split(s, ' '))
        if (!Trim(w).empty()) out.push_back(Trim(w));
    return out;
}

// A decimal number of at most nine digits, nothing else.
std::optional<uint32_t> Unsigned(std::string_view s)
{
    uint32_t v = 0;
    if (s.empty() || s.size() > 9) return std::nullopt;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
    return v;
}

// Dotted IPv4 (an SDP address may carry "/ttl[/count]"); the canonical text or nothing.
std::optional<std::string> Ipv4(std::string_view text)
{
    const std::string addr(text.substr(0, text.find('/')));
    in_addr a{};
    if (inet_pton(AF_INET, addr.c_str(), &a) != 1) return std::nullopt;
    char buf[INET_ADDRSTRLEN];
    return std::string(inet_ntop(AF_INET, &a, buf, sizeof buf));
}

[[noreturn]] void Refuse(const std::string& why) { throw ENetStreamError(why); }

using TSdpPtr = std::unique_ptr<GstSDPMessage, decltype(&gst_sdp_message_free)>;

TSdpPtr ParseSdp(std::string_view text)
{
    GstSDPMessage* msg = nullptr;
    gst_sdp_message_new(&msg);
    TSdpPtr p(msg, &gst_sdp_message_free);
    if (!text.empty())  // GStreamer warns about an empty buffer
        gst_sdp_message_parse_buffer(reinterpret_cast<const guint8*>(text.data()), static_cast<guint>(text.size()), msg);
    return p;
}

// "user sess-id IN IP4 address"; empty without an o= line.
std::string OriginText(const GstSDPMessage* msg)
{
    const GstSDPOrigin* o = gst_sdp_message_get_origin(msg);
    if (!o || !o->addr || !*o->addr) return {};
    return Str(o->username) + " " + Str(o->sess_id) + " " + Str(o->nettype) + " " + Str(o->addrtype) + " " + Str(o->addr);
}

const char* MediaAttribute(const GstSDPMedia* m, const GstSDPMessage* msg, const char* key)
{
    const char* v = gst_sdp_media_get_attribute_val(m, key);
    return v ? v : gst_sdp_message_get_attribute_val(msg, key);
}

// rtpmap of payload type `pt` in the medium: "<pt> <encoding>/<rate>[/<channels>]".
struct TRtpMap {
    std::string encoding, rate, channels;  // owned: a map is moved about
    std::string value;
};
std::optional<TRtpMap> FindRtpMap(const GstSDPMedia* m, uint32_t pt)
{
    for (guint i = 0; const char* v = gst_sdp_media_get_attribute_val_n(m, "rtpmap", i); ++i) {
        const std::vector<std::string_view> w = Words(v);
        if (w.size() != 2 || Unsigned(w[0]) != pt) continue;
        TRtpMap map;
        map.value = std::string(w[1]);
        const std::vector<std::string_view> f = Split(map.value, '/');
        map.encoding = std::string(f[0]);
        if (f.size() > 1) map.rate = std::string(f[1]);
        if (f.size() > 2) map.channels = std::string(f[2]);
        if (f.size() > 3) map.rate = {};  // malformed: refused as a rate
        return map;
    }
    return std::nullopt;
}

std::string Number(double v)
{
    char buf[32];
    snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

// Frames per packet from a=ptime (ms, may be fractional) or a=framecount; 0 when neither.
uint32_t PacketFrames(const GstSDPMedia* m, const GstSDPMessage* msg, uint32_t rate)
{
    if (const char* ptime = MediaAttribute(m, msg, "ptime")) {
        const std::string_view t = Trim(ptime);
        const bool digits = !t.empty() && t.size() <= 16 && t.find_first_not_of("0123456789.") == std::string_view::npos
                            && std::count(t.begin(), t.end(), '.') <= 1 && t.front() != '.' && t.back() != '.';
        double ms = 0;
        if (!digits || std::from_chars(t.data(), t.data() + t.size(), ms).ec != std::errc())
            Refuse("the stream's packet time \"" + std::string(t.substr(0, 40)) + "\" is not a number of milliseconds");
        if (ms < 0.125 - 1e-9 || ms > 4 + 1e-9)
            Refuse("the stream's packet time is " + Number(ms) + " ms; the meter reads 0.125 to 4 ms");
        return static_cast<uint32_t>(std::lround(ms * rate / 1000));
    }
    if (const char* count = MediaAttribute(m, msg, "framecount")) {
        const std::string_view t = Trim(count);
        const std::optional<uint32_t> frames = Unsigned(t);
        if (!frames) Refuse("the stream's packet time (frame count \"" + std::string(t.substr(0, 40)) + "\") is not a number");
        const double ms = *frames * 1000.0 / rate;
        if (ms < 0.125 - 1e-9 || ms > 4 + 1e-9)
            Refuse("the stream's packet time is " + Number(ms) + " ms (" + std::to_string(*frames)
                   + " frames); the meter reads 0.125 to 4 ms");
        return *frames;
    }
    return 0;
}

// a=source-filter: incl IN IP4 <dest> <src> ...: the first source, when the
// filter is for the stream's address.
std::string SourceFilter(const GstSDPMedia* m, const GstSDPMessage* msg, const std::string& address)
{
    for (const char* v : {gst_sdp_media_get_attribute_val(m, "source-filter"),
                          gst_sdp_message_get_attribute_val(msg, "source-filter")}) {
        if (!v) continue;
        const std::vector<std::string_view> w = Words(v);
        if (w.size() < 5 || w[0] != "incl" || w[1] != "IN" || (w[2] != "IP4" && w[2] != "*")) continue;
        if (w[3] != "*" && Ipv4(w[3]) != address) continue;
        if (const std::optional<std::string> src = Ipv4(w[4])) return *src;
    }
    return {};
}

// The medium as a stream; throws why it is not one the meter reads.
TNetStreamDesc ReadMedium(const GstSDPMessage* msg, const GstSDPMedia* m)
{
    TNetStreamDesc d;
    const std::string proto = Str(gst_sdp_media_get_proto(m));
    if (!EqualNoCase(proto, "RTP/AVP")) Refuse("the audio medium's transport is " + proto.substr(0, 40) + ", not RTP/AVP");

    std::optional<TRtpMap> map;
    std::string firstEncoding;
    for (guint i = 0; i < gst_sdp_media_formats_len(m) && !map; ++i) {
        const std::optional<uint32_t> pt = Unsigned(Str(gst_sdp_media_get_format(m, i)));
        if (!pt || *pt > 127) continue;
        std::optional<TRtpMap> r = FindRtpMap(m, *pt);
        if (!r && (*pt == 10 || *pt == 11))  // the static L16 types at 44.1 kHz
            r = TRtpMap{"L16", "44100", *pt == 10 ? "2" : "1", {}};
        if (!r) continue;
        if (firstEncoding.empty()) firstEncoding = r->encoding;
        if (EqualNoCase(r->encoding, "L16") || EqualNoCase(r->encoding, "L24")) {
            map = std::move(r);
            d.payloadType = static_cast<int>(*pt);
        }
    }
    if (!map) {
        if (firstEncoding.empty()) Refuse("the audio medium has no rtpmap for its payload types");
        Refuse("the stream's encoding is " + firstEncoding.substr(0, 40) + "; the meter reads L16 and L24");
    }
    d.bits = EqualNoCase(map->encoding, "L16") ? 16 : 24;

    const std::optional<uint32_t> rate = Unsigned(map->rate);
    if (rate != 44100u && rate != 48000u)
        Refuse("the stream's rate is " + (rate ? std::to_string(*rate) + " Hz" : "\"" + map->value.substr(0, 40) + "\"")
               + "; the meter reads 44100 and 48000 Hz");
    d.rate = *rate;
    const std::optional<uint32_t> channels = map->channels.empty() ? std::optional<uint32_t>(1) : Unsigned(map->channels);
    if (!channels || *channels < 1 || *channels > 64)
        Refuse("the stream has " + (channels ? std::to_string(*channels) : "\"" + std::string(map->channels.substr(0, 40)) + "\"")
               + " channels; the meter reads 1 to 64");
    d.channels = static_cast<int>(*channels);
    d.packetFrames = PacketFrames(m, msg, d.rate);

    const GstSDPConnection* c = gst_sdp_media_connections_len(m) > 0 ? gst_sdp_media_get_connection(m, 0)
                                                                     : gst_sdp_message_get_connection(msg);
    if (!c || !c->address || !*c->address) Refuse("the stream has no connection address (c=)");
    if (Str(c->addrtype) == "IP6") Refuse("the stream's address is IPv6; the meter receives IPv4 streams");
    const std::optional<std::string> addr = Str(c->addrtype) == "IP4" ? Ipv4(c->address) : std::nullopt;
    if (!addr) Refuse("the stream's address \"" + Str(c->address).substr(0, 60) + "\" is not an IPv4 address");
    d.address = *addr;

    const guint port = gst_sdp_media_get_port(m);
    if (port == 0 || port > 65535) Refuse("the stream's port is " + std::to_string(port));
    d.port = static_cast<uint16_t>(port);
    d.sourceFilter = SourceFilter(m, msg, d.address);
    return d;
}

}  // namespace

bool TNetStreamDesc::operator==(const TNetStreamDesc& o) const
{
    return sessionName == o.sessionName && origin == o.origin && address == o.address && port == o.port
           && sourceFilter == o.sourceFilter && payloadType == o.payloadType && bits == o.bits && rate == o.rate
           && channels == o.channels && packetFrames == o.packetFrames;
}

TNetStreamDesc ParseStreamSdp(std::string_view sdp)
{
    if (sdp.size() > kMaxSdpBytes) Refuse("the description is larger than 64 kB");
    const TSdpPtr msg = ParseSdp(sdp);
    if (Str(gst_sdp_message_get_version(msg.get())) != "0") Refuse("not a session description (no v=0 line)");
    const std::string origin = OriginText(msg.get());
    if (origin.empty()) Refuse("the description has no origin (o=) line");

    // The first receivable audio medium; else why the first audio medium is not.
    std::string why;
    for (guint i = 0; i < gst_sdp_message_medias_len(msg.get()); ++i) {
        const GstSDPMedia* m = gst_sdp_message_get_media(msg.get(), i);
        if (Str(gst_sdp_media_get_media(m)) != "audio") continue;
        try {
            TNetStreamDesc d = ReadMedium(msg.get(), m);
            d.origin = origin;
            d.sessionName = std::string(Trim(Str(gst_sdp_message_get_session_name(msg.get()))));
            if (d.sessionName.empty() || d.sessionName == "-")
                d.sessionName = "Stream " + Str(gst_sdp_message_get_origin(msg.get())->addr);
            return d;
        } catch (const ENetStreamError& e) {
            if (why.empty()) why = e.what();
        }
    }
    Refuse(why.empty() ? "the description has no audio medium" : why);
}

TNetStreamDesc ReadStreamSdpFile(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Refuse("cannot read " + path + ": " + strerror(errno));
    std::string text(kMaxSdpBytes + 1, '\0');
    size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            close(fd);
            Refuse("cannot read " + path + ": " + strerror(err));
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    text.resize(got);
    try {
        return ParseStreamSdp(text);
    } catch (const ENetStreamError& e) {
        Refuse(path + ": " + e.what());
    }
}

// ---- SAP (RFC 2974) ----

bool ParseSapPacket(const uint8_t* data, size_t size, TSapPacket& out, std::string* why)
{
    auto fail = [why](const char* text) {
        if (why) *why = text;
        return false;
    };
    if (!data || size < 4) return fail("SAP packet too short");
    const uint8_t flags = data[0];
    if ((flags >> 5) != 1) return fail("SAP version is not 1");
    if (flags & 0x02) return fail("SAP packet is encrypted");
    if (flags & 0x01) return fail("SAP packet is compressed");
    const bool ipv6 = flags & 0x10;
    const size_t sourceLen = ipv6 ? 16 : 4;
    const size_t authLen = size_t{data[1]} * 4;
    if (size < 4 + sourceLen + authLen) return fail("SAP packet truncated in its header");

    TSapPacket p;
    p.deletion = flags & 0x04;
    p.hash = static_cast<uint16_t>(data[2] << 8 | data[3]);
    char buf[INET6_ADDRSTRLEN];
    inet_ntop(ipv6 ? AF_INET6 : AF_INET, data + 4, buf, sizeof buf);
    p.source = buf;

    const char* at = reinterpret_cast<const char*>(data) + 4 + sourceLen + authLen;
    std::string_view rest(at, size - (4 + sourceLen + authLen));
    if (rest.substr(0, 3) != "v=0") {
        const size_t nul = rest.find('\0');
        if (nul == std::string_view::npos) return fail("SAP payload type not terminated");
        const std::string_view type = rest.substr(0, nul);
        if (!EqualNoCase(type, "application/sdp")) return fail("SAP payload is not application/sdp");
        p.payloadType = "application/sdp";
        rest.remove_prefix(nul + 1);
    }
    if (rest.empty()) return fail("SAP packet has no payload");
    p.payload = std::string(rest);
    out = std::move(p);
    return true;
}

std::vector<uint8_t> BuildSapPacket(const std::string& sdp, uint16_t hash, uint32_t sourceIPv4, bool deletion)
{
    static const char kType[] = "application/sdp";  // written with its terminating NUL
    std::vector<uint8_t> p(8 + sizeof kType + sdp.size());
    p[0] = static_cast<uint8_t>(0x20 | (deletion ? 0x04 : 0));  // version 1, IPv4 source
    p[2] = static_cast<uint8_t>(hash >> 8);
    p[3] = static_cast<uint8_t>(hash);
    for (int i = 0; i < 4; ++i) p[4 + i] = static_cast<uint8_t>(sourceIPv4 >> (24 - 8 * i));
    std::memcpy(p.data() + 8, kType, sizeof kType);
    if (!sdp.empty()) std::memcpy(p.data() + 8 + sizeof kType, sdp.data(), sdp.size());
    return p;
}

// ---- the directory ----

namespace {
constexpr int64_t kMinExpiryMs = 60'000, kMaxExpiryMs = 3'600'000;
// Repeats closer than this (the same announcement heard on both SAP groups)
// do not count as an interval.
constexpr int64_t kMinIntervalMs = 1'000;
constexpr size_t kMaxEntries = 512;
}  // namespace

TSapDirectory::TChange TSapDirectory::Heard(const uint8_t* data, size_t size, int64_t nowMs, std::string* why)
{
    TSapPacket p;
    if (!ParseSapPacket(data, size, p, why)) {
        ++mRefused;
        return TChange::Refused;
    }
    if (p.deletion) {
        const TSdpPtr msg = ParseSdp(p.payload.substr(0, kMaxSdpBytes));
        const std::string origin = OriginText(msg.get());
        if (p.hash != 0 && mEntries.erase({p.source, p.hash})) return TChange::Removed;
        if (origin.empty()) return TChange::None;
        const size_t before = mEntries.size();
        for (auto it = mEntries.begin(); it != mEntries.end();)
            it = it->second.desc.origin == origin ? mEntries.erase(it) : std::next(it);
        return mEntries.size() < before ? TChange::Removed : TChange::None;
    }

    TNetStreamDesc desc;
    try {
        desc = ParseStreamSdp(p.payload);
    } catch (const ENetStreamError& e) {
        if (why) *why = e.what();
        ++mRefused;
        // A session announced again as something unreceivable is gone.
        const size_t before = mEntries.size();
        if (p.hash != 0) mEntries.erase({p.source, p.hash});
        return mEntries.size() < before ? TChange::Removed : TChange::Refused;
    }

    // Without a hash several sessions of one source are told apart by their origin.
    const std::pair<std::string, uint16_t> key{p.hash ? p.source : p.source + "\n" + desc.origin, p.hash};
    auto it = mEntries.find(key);
    if (it == mEntries.end()) {
        // The same session under a new hash (its text changed) replaces the old entry.
        it = std::find_if(mEntries.begin(), mEntries.end(), [&](const auto& e) { return e.second.desc.origin == desc.origin; });
        if (it != mEntries.end()) {
            Entry moved = it->second;
            mEntries.erase(it);
            it = mEntries.emplace(key, moved).first;
        }
    }
    if (it == mEntries.end()) {
        if (mEntries.size() >= kMaxEntries) {
            if (why) *why = "too many streams announced";
            ++mRefused;
            return TChange::Refused;
        }
        mEntries.emplace(key, Entry{desc, nowMs, nowMs, 0});
        return TChange::Added;
    }
    Entry& e = it->second;
    if (nowMs - e.lastMs >= kMinIntervalMs) e.intervalMs = nowMs - e.lastMs;
    e.lastMs = std::max(e.lastMs, nowMs);
    if (e.desc == desc) return TChange::None;
    e.desc = desc;
    return TChange::Updated;
}

bool TSapDirectory::Expire(int64_t nowMs)
{
    const size_t before = mEntries.size();
    for (auto it = mEntries.begin(); it != mEntries.end();) {
        const Entry& e = it->second;
        const int64_t limit = std::clamp(e.intervalMs * 10, kMinExpiryMs, kMaxExpiryMs);
        it = nowMs - e.lastMs > limit ? mEntries.erase(it) : std::next(it);
    }
    return mEntries.size() < before;
}

std::vector<TNetStreamDesc> TSapDirectory::Streams() const
{
    std::vector<TNetStreamDesc> out;
    out.reserve(mEntries.size());
    for (const auto& [key, e] : mEntries) out.push_back(e.desc);
    std::sort(out.begin(), out.end(), [](const TNetStreamDesc& a, const TNetStreamDesc& b) {
        return std::make_pair(a.DeviceName(), a.Key()) < std::make_pair(b.DeviceName(), b.Key());
    });
    return out;
}
