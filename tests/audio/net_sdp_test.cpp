// Stream descriptions (SDP), SAP packets and the directory of announced streams.
#include "audio/MMNetSdp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace {

// As an AoIP interface announces itself: session-level c=, ptime 1, clock lines.
const char* kInterfaceSdp =
    "v=0\n"
    "o=- 1423986 1423994 IN IP4 169.254.98.63\n"
    "s=Stage box 1 : 2\n"
    "c=IN IP4 239.65.125.63/32\n"
    "t=0 0\n"
    "m=audio 5004 RTP/AVP 97\n"
    "i=2 channels: Left, Right\n"
    "a=recvonly\n"
    "a=rtpmap:97 L24/48000/2\n"
    "a=ptime:1\n"
    "a=ts-refclk:ptp=IEEE1588-2008:00-1D-C1-FF-FE-0E-10-C4:domain-nr=0\n"
    "a=mediaclk:direct=0\n";

// As a GStreamer sender's tool writes it: CRLF, a video medium first, the
// audio medium's own c= and a source filter, no session name.
const char* kPipelineSdp =
    "v=0\r\n"
    "o=user 3913 1 IN IP4 192.168.1.20\r\n"
    "s=-\r\n"
    "c=IN IP4 10.0.0.1\r\n"
    "t=0 0\r\n"
    "m=video 5000 RTP/AVP 98\r\n"
    "a=rtpmap:98 raw/90000\r\n"
    "m=audio 5006 RTP/AVP 96 97\r\n"
    "c=IN IP4 239.69.1.1/15/1\r\n"
    "a=rtpmap:96 opus/48000/2\r\n"
    "a=rtpmap:97 l16/44100/8\r\n"
    "a=framecount:6\r\n"
    "a=source-filter: incl IN IP4 239.69.1.1 192.168.1.20\r\n";

std::string Replace(std::string s, const std::string& from, const std::string& to)
{
    const size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? s : s.replace(at, from.size(), to);
}

std::string RefusalOf(std::string_view sdp)
{
    try { ParseStreamSdp(sdp); } catch (const ENetStreamError& e) { return e.what(); }
    return "(accepted)";
}

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string Fields(const TNetStreamDesc& d)
{
    return d.DeviceName() + " | " + d.origin + " | " + d.address + ":" + std::to_string(d.port) + " | "
           + std::to_string(d.payloadType) + " L" + std::to_string(d.bits) + " " + std::to_string(d.rate) + " x"
           + std::to_string(d.channels) + " | " + std::to_string(d.packetFrames) + " frames | " + d.sourceFilter;
}

std::string SapFields(const TSapPacket& p)
{
    return std::string(p.deletion ? "deletion " : "announcement ") + std::to_string(p.hash) + " " + p.source + " " + p.payloadType;
}

}  // namespace

TEST(NetSdp, DevicesDescriptionsParseToTheirFields)
{
    EXPECT_EQ(Fields(ParseStreamSdp(kInterfaceSdp)),
              "Stage box 1 : 2 [AES67] | - 1423986 IN IP4 169.254.98.63 | 239.65.125.63:5004 | 97 L24 48000 x2 | 48 frames | ");
    // The medium's own c= without /ttl/count; 96 is Opus, so the next format is taken.
    EXPECT_EQ(Fields(ParseStreamSdp(kPipelineSdp)),
              "Stream 192.168.1.20 [AES67] | user 3913 IN IP4 192.168.1.20 | 239.69.1.1:5006 | 97 L16 44100 x8 | 6 frames | 192.168.1.20");
    // A source filter for another destination is not the stream's.
    EXPECT_EQ(ParseStreamSdp(Replace(kPipelineSdp, "incl IN IP4 239.69.1.1", "incl IN IP4 239.69.1.2")).sourceFilter, "");
    // A blank name and a missing channel field.
    const TNetStreamDesc c = ParseStreamSdp(Replace(Replace(kInterfaceSdp, "s=Stage box 1 : 2", "s= "), "/48000/2", "/48000"));
    EXPECT_EQ(c.sessionName, "Stream 169.254.98.63");
    EXPECT_EQ(c.FrameBytes(), 3);
}

TEST(NetSdp, PacketTimesFromPtimeOrFrameCount)
{
    struct Case { const char* line; const char* rate; uint32_t frames; };
    for (const Case& k : {Case{"a=ptime:0.125", "48000", 6}, Case{"a=ptime:0.333", "48000", 16},
                          Case{"a=ptime:1", "44100", 44}, Case{"a=ptime:4", "44100", 176},
                          Case{"a=ptime:0.125", "44100", 6}, Case{"a=framecount:192", "48000", 192},
                          Case{"a=framecount:6", "44100", 6}, Case{"a=x:1", "48000", 0}}) {
        SCOPED_TRACE(k.line);
        const std::string sdp = Replace(Replace(kInterfaceSdp, "a=ptime:1", k.line), "48000", k.rate);
        EXPECT_EQ(ParseStreamSdp(sdp).packetFrames, k.frames);
    }
    for (const char* bad : {"a=ptime:0.12", "a=ptime:4.01", "a=ptime:20", "a=ptime:1e0", "a=ptime:", "a=ptime:nan",
                            "a=framecount:5", "a=framecount:193", "a=framecount:-48"}) {
        SCOPED_TRACE(bad);
        EXPECT_NE(RefusalOf(Replace(kInterfaceSdp, "a=ptime:1", bad)).find("packet time"), std::string::npos);
    }
}

TEST(NetSdp, EachRefusalSaysWhy)
{
    const std::string sdp = kInterfaceSdp;
    struct Case { std::string text, why; };
    for (const Case& k : {
             Case{Replace(sdp, "L24/48000/2", "L32/48000/2"), "the stream's encoding is L32; the meter reads L16 and L24"},
             Case{Replace(sdp, "L24/48000/2", "L24/96000/2"), "the stream's rate is 96000 Hz; the meter reads 44100 and 48000 Hz"},
             Case{Replace(sdp, "L24/48000/2", "L24/48000/65"), "the stream has 65 channels; the meter reads 1 to 64"},
             Case{Replace(sdp, "a=rtpmap:97", "a=rtpmap:98"), "the audio medium has no rtpmap for its payload types"},
             Case{Replace(sdp, "c=IN IP4 239.65.125.63/32", "c=IN IP6 ff02::1"), "the stream's address is IPv6; the meter receives IPv4 streams"},
             Case{Replace(sdp, "c=IN IP4 239.65.125.63/32", "c=IN IP4 239.65.125"), "the stream's address \"239.65.125\" is not an IPv4 address"},
             Case{Replace(sdp, "c=IN IP4 239.65.125.63/32\n", ""), "the stream has no connection address (c=)"},
             Case{Replace(sdp, "m=audio 5004", "m=audio 0"), "the stream's port is 0"},
             Case{Replace(sdp, "m=audio 5004", "m=audio 70000"), "the stream's port is 70000"},
             Case{Replace(sdp, "RTP/AVP", "RTP/SAVP"), "the audio medium's transport is RTP/SAVP, not RTP/AVP"},
             Case{Replace(sdp, "m=audio", "m=video"), "the description has no audio medium"},
             Case{Replace(sdp, "o=- 1423986 1423994 IN IP4 169.254.98.63\n", ""), "the description has no origin (o=) line"},
             Case{"", "not a session description (no v=0 line)"},
             Case{std::string(kMaxSdpBytes + 1, '\n'), "the description is larger than 64 kB"}}) {
        EXPECT_EQ(RefusalOf(k.text), k.why);
    }
    // Padding up to the limit is still read.
    EXPECT_EQ(ParseStreamSdp(sdp + std::string(kMaxSdpBytes - sdp.size(), '\n')).channels, 2);
    // The first receivable audio medium wins over a refused one before it.
    EXPECT_EQ(ParseStreamSdp(Replace(sdp, "m=audio", "m=audio 6000 RTP/AVP 99\na=rtpmap:99 L8/8000\nm=audio")).port, 5004);
}

TEST(NetSdp, FileErrorsNameTheFile)
{
    const std::string dir = ::testing::TempDir();
    const std::string good = dir + "net_sdp_good.sdp", big = dir + "net_sdp_big.sdp";
    std::ofstream(good) << kInterfaceSdp;
    std::ofstream(big) << kInterfaceSdp << std::string(kMaxSdpBytes, '\n');
    EXPECT_EQ(ReadStreamSdpFile(good), ParseStreamSdp(kInterfaceSdp));
    auto why = [](const std::string& path) {
        try { ReadStreamSdpFile(path); } catch (const ENetStreamError& e) { return std::string(e.what()); }
        return std::string("(accepted)");
    };
    EXPECT_EQ(why(big), big + ": the description is larger than 64 kB");
    EXPECT_EQ(why(dir + "net_sdp_none.sdp"), "cannot read " + dir + "net_sdp_none.sdp: No such file or directory");
    EXPECT_EQ(why(dir), "cannot read " + dir + ": Is a directory");
    for (const std::string& f : {good, big}) std::remove(f.c_str());
}

TEST(Sap, RoundTripAndRefusals)
{
    TSapPacket p;
    std::string why;
    const std::vector<uint8_t> built = BuildSapPacket(kInterfaceSdp, 0xBEEF, 0xC0A80114, true);
    ASSERT_TRUE(ParseSapPacket(built.data(), built.size(), p, &why)) << why;
    EXPECT_EQ(SapFields(p), "deletion 48879 192.168.1.20 application/sdp");
    EXPECT_EQ(p.payload, kInterfaceSdp);

    // IPv6 source, two words of authentication data, no payload type.
    const std::vector<uint8_t> v6 = Bytes(std::string("\x30\x02\x12\x34\xfe\x80", 6) + std::string(13, '\0') + "\x01"
                                          + std::string(8, '\xAA') + kInterfaceSdp);
    ASSERT_TRUE(ParseSapPacket(v6.data(), v6.size(), p, &why)) << why;
    EXPECT_EQ(SapFields(p), "announcement 4660 fe80::1 ");
    EXPECT_EQ(p.payload, kInterfaceSdp);

    auto refusal = [&](std::vector<uint8_t> b) {
        why.clear();
        return ParseSapPacket(b.data(), b.size(), p, &why) ? std::string("(accepted)") : why;
    };
    auto with = [&](size_t at, uint8_t v) {
        std::vector<uint8_t> b = built;
        b[at] = v;
        return b;
    };
    EXPECT_EQ(refusal(with(0, 0x22)), "SAP packet is encrypted");
    EXPECT_EQ(refusal(with(0, 0x21)), "SAP packet is compressed");
    EXPECT_EQ(refusal(with(0, 0x40)), "SAP version is not 1");
    EXPECT_EQ(refusal(with(1, 200)), "SAP packet truncated in its header");  // 800 bytes of authentication
    EXPECT_EQ(refusal({0x20, 0, 1}), "SAP packet too short");
    EXPECT_EQ(refusal(Bytes(std::string("\x20\0\0\1\1\2\3\4text/plain\0v=0\n", 23))), "SAP payload is not application/sdp");
    EXPECT_EQ(refusal(Bytes(std::string("\x20\0\0\1\1\2\3\4application/sdp", 23))), "SAP payload type not terminated");
    EXPECT_EQ(refusal(Bytes(std::string("\x20\0\0\1\1\2\3\4application/sdp\0", 24))), "SAP packet has no payload");
}

TEST(SapDirectory, AddUpdateDeleteAndExpire)
{
    TSapDirectory d;
    using C = TSapDirectory::TChange;
    const std::string other = Replace(Replace(kInterfaceSdp, "1423986", "77"), "Stage box", "Aux");
    auto heard = [&](const std::string& sdp, uint16_t hash, int64_t ms, bool del = false) {
        const std::vector<uint8_t> b = BuildSapPacket(sdp, hash, 0x0A000001, del);
        return d.Heard(b.data(), b.size(), ms);
    };
    EXPECT_EQ(heard(kInterfaceSdp, 1, 0), C::Added);
    EXPECT_EQ(heard(other, 0, 0), C::Added);
    EXPECT_EQ(heard(kInterfaceSdp, 1, 500), C::None);  // the same packet on the second SAP group
    ASSERT_EQ(d.Streams().size(), 2u);
    EXPECT_EQ(d.Streams()[0].sessionName, "Aux 1 : 2");  // ordered by device name

    // Its text changed: under the same hash, then under a new one (replacing, not adding).
    EXPECT_EQ(heard(Replace(kInterfaceSdp, "/48000/2", "/48000/8"), 1, 30'000), C::Updated);
    EXPECT_EQ(heard(Replace(kInterfaceSdp, "1423994", "1423999"), 2, 60'000), C::Updated);
    EXPECT_EQ(d.Streams().size(), 2u);
    EXPECT_EQ(heard(Replace(kInterfaceSdp, "L24", "L32"), 3, 60'000), C::Refused);
    EXPECT_EQ(d.Refused(), 1u);

    // Deletion by (source, hash), and of a hashless announcement by the o= line alone.
    EXPECT_EQ(heard(kInterfaceSdp, 2, 61'000, true), C::Removed);
    EXPECT_EQ(heard("o=- 77 1423994 IN IP4 169.254.98.63\r\n", 0, 61'000, true), C::Removed);
    EXPECT_TRUE(d.Streams().empty());

    // Expiry: ten intervals of 30 s, at least 60 s after one announcement or short intervals.
    EXPECT_EQ(heard(kInterfaceSdp, 1, 0), C::Added);
    EXPECT_EQ(heard(kInterfaceSdp, 1, 30'000), C::None);
    EXPECT_EQ(heard(kInterfaceSdp, 1, 30'100), C::None);  // a repeat does not shorten the interval
    EXPECT_EQ(heard(other, 5, 100'000), C::Added);
    EXPECT_EQ(heard(other, 5, 102'000), C::None);  // 2 s interval: 60 s, not 20 s
    EXPECT_FALSE(d.Expire(161'999));
    EXPECT_TRUE(d.Expire(162'001));
    ASSERT_EQ(d.Streams().size(), 1u);
    EXPECT_FALSE(d.Expire(330'100));
    EXPECT_TRUE(d.Expire(330'101));
    EXPECT_TRUE(d.Streams().empty());
}
