// RTP packets of a network stream: health counters in arrival order, audio
// in sequence order with gaps read as silence and no slip of the timeline.
#include "audio/MMNetRtp.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

TNetStreamDesc desc(int bits, int channels, uint32_t rate = 48000)
{
    TNetStreamDesc d;
    d.sessionName = "Studio A";
    d.address = "239.69.1.1";
    d.port = 5004;
    d.payloadType = 96;
    d.bits = bits;
    d.rate = rate;
    d.channels = channels;
    d.packetFrames = rate / 1000;
    return d;
}

// A packet whose sample c of frame f is value(seq, f, c), big-endian.
std::vector<uint8_t> packet(const TNetStreamDesc& d, uint16_t seq, uint32_t ts, uint32_t ssrc = 0x1234,
                            size_t frames = 48, int pt = 96)
{
    std::vector<uint8_t> p{0x80, static_cast<uint8_t>(pt), static_cast<uint8_t>(seq >> 8), static_cast<uint8_t>(seq),
                           static_cast<uint8_t>(ts >> 24), static_cast<uint8_t>(ts >> 16),
                           static_cast<uint8_t>(ts >> 8), static_cast<uint8_t>(ts),
                           static_cast<uint8_t>(ssrc >> 24), static_cast<uint8_t>(ssrc >> 16),
                           static_cast<uint8_t>(ssrc >> 8), static_cast<uint8_t>(ssrc)};
    for (size_t f = 0; f < frames; ++f)
        for (int c = 0; c < d.channels; ++c) {
            const int32_t v = static_cast<int32_t>((c + 1) * 1000 + static_cast<int>(f)) * 256 + 0x7F;  // 24-bit
            if (d.bits == 24) {
                p.push_back(static_cast<uint8_t>(v >> 16));
                p.push_back(static_cast<uint8_t>(v >> 8));
                p.push_back(static_cast<uint8_t>(v));
            } else {
                p.push_back(static_cast<uint8_t>(v >> 16));
                p.push_back(static_cast<uint8_t>(v >> 8));
            }
        }
    return p;
}

struct Collector {
    std::vector<int16_t> samples;
    static void Sink(void* user, const int16_t* frames, size_t count)
    {
        auto* self = static_cast<Collector*>(user);
        self->samples.insert(self->samples.end(), frames, frames + count * self->channels);
    }
    size_t channels = 0;
};

}  // namespace

TEST(NetRtp, L24AndL16GiveTheTopSixteenBitsOfEverySample)
{
    for (int bits : {16, 24}) {
        const TNetStreamDesc d = desc(bits, 8);
        Collector out;
        out.channels = 8;
        TRtpAudioReader reader(d, Collector::Sink, &out);
        const auto p = packet(d, 1, 0);
        reader.Packet(p.data(), p.size());
        ASSERT_EQ(out.samples.size(), 48u * 8);
        for (size_t f = 0; f < 48; ++f)
            for (size_t c = 0; c < 8; ++c)
                EXPECT_EQ(out.samples[f * 8 + c], static_cast<int16_t>((c + 1) * 1000 + f)) << bits << " bits";
    }
    // Negative full scale stays negative full scale.
    const uint8_t minus[3] = {0x80, 0x00, 0x00};
    int16_t v = 0;
    RtpSamplesToPcm16(minus, 1, 24, &v);
    EXPECT_EQ(v, -32768);
}

TEST(NetRtp, LossReorderAndDuplicatesAreCountedExactlyAndGapsReadAsSilence)
{
    const TNetStreamDesc d = desc(24, 2);
    TRtpHealthCounter health(d);
    Collector out;
    out.channels = 2;
    TRtpAudioReader reader(d, Collector::Sink, &out);
    // 1000 packets of 1 ms from sequence 65000 (wrapping): every 100th is
    // dropped, packet 500 arrives twice, 700 and 701 swap places in arrival.
    std::vector<uint16_t> order;
    for (int k = 0; k < 1000; ++k)
        if (k % 100 != 99) order.push_back(static_cast<uint16_t>(65000 + k));
    order.insert(order.begin() + 500, static_cast<uint16_t>(65000 + 495));
    for (size_t i = 0; i + 1 < order.size(); ++i)
        if (order[i] == static_cast<uint16_t>(65000 + 700)) {
            std::swap(order[i], order[i + 1]);
            break;
        }
    int64_t t = 5000000;
    for (uint16_t s : order) {
        const uint32_t ts = 7000u + static_cast<uint16_t>(s - 65000) * 48u;
        const auto p = packet(d, s, ts);
        EXPECT_TRUE(health.Packet(p.data(), p.size(), t += 1000));
    }
    const TNetStreamHealth h = health.Health();
    EXPECT_EQ(h.lost, 9u);  // the tenth, the last packet, has nothing after it to show it
    EXPECT_EQ(h.duplicates, 1u);
    EXPECT_EQ(h.late, 1u);
    EXPECT_EQ(h.malformed, 0u);
    EXPECT_EQ(h.received, 991u);
    EXPECT_LT(h.jitterMs, 0.05);  // packets on time

    // The jitter buffer hands them on in order, without the duplicate.
    for (int k = 0; k < 1000; ++k)
        if (k % 100 != 99) {
            const auto p = packet(d, static_cast<uint16_t>(65000 + k), 7000u + k * 48u);
            reader.Packet(p.data(), p.size());
        }
    // The timeline never slips: 999 packets' worth of frames (the last one
    // lost has nothing after it), of which 9 packets' worth silent.
    EXPECT_EQ(reader.Frames(), 999u * 48);
    EXPECT_EQ(reader.SilentFrames(), 9u * 48);
    ASSERT_EQ(out.samples.size(), 999u * 48 * 2);
    for (int k : {99, 199, 899}) {
        for (size_t f = 0; f < 48; ++f) EXPECT_EQ(out.samples[(k * 48 + f) * 2], 0) << k;
        EXPECT_EQ(out.samples[((k + 1) * 48) * 2], 1000) << "audio resumes on time after " << k;
    }
}

TEST(NetRtp, MalformedPacketsAreCountedAndNeverPlayed)
{
    const TNetStreamDesc d = desc(24, 8);
    TRtpHealthCounter health(d);
    Collector out;
    out.channels = 8;
    TRtpAudioReader reader(d, Collector::Sink, &out);
    std::vector<std::vector<uint8_t>> bad;
    auto good = packet(d, 1, 0);
    bad.push_back({0x80, 96, 0, 1});                                       // truncated header
    bad.push_back(good), bad.back()[0] = 0x40;                             // version 1
    bad.push_back(good), bad.back()[1] = 97;                               // another payload type
    bad.push_back(good), bad.back().pop_back();                            // not whole frames
    bad.push_back(good), bad.back()[0] = 0x8F;                             // 15 CSRCs eat the payload
    bad.push_back(good), bad.back()[0] |= 0x20, bad.back().back() = 0xFF;  // padding beyond the packet
    bad.push_back(good), bad.back()[0] |= 0x10, bad.back()[14] = 0xFF;     // extension beyond the packet
    bad.push_back(packet(d, 1, 0, 0x1234, 200));                           // 200 frames: over 4 ms
    bad.push_back(std::vector<uint8_t>(good.begin(), good.begin() + 12));  // no payload
    for (const auto& p : bad) {
        EXPECT_FALSE(health.Packet(p.data(), p.size(), 0));
        reader.Packet(p.data(), p.size());
    }
    EXPECT_EQ(health.Health().malformed, bad.size());
    EXPECT_EQ(health.Health().received, 0u);
    EXPECT_TRUE(out.samples.empty());
    // Padding, CSRCs and an extension inside the packet are fine.
    auto padded = good;
    padded[0] |= 0x20;
    padded.insert(padded.end(), {0, 0, 3});
    EXPECT_TRUE(health.Packet(padded.data(), padded.size(), 0));
    reader.Packet(padded.data(), padded.size());
    EXPECT_EQ(out.samples.size(), 48u * 8);
}

TEST(NetRtp, ANewSenderOrAJumpStartsAFreshTimelineAndOverlapsAreCut)
{
    const TNetStreamDesc d = desc(16, 2);
    Collector out;
    out.channels = 2;
    TRtpAudioReader reader(d, Collector::Sink, &out);
    auto feed = [&](uint16_t seq, uint32_t ts, uint32_t ssrc, size_t frames = 48) {
        const auto p = packet(d, seq, ts, ssrc, frames);
        reader.Packet(p.data(), p.size());
    };
    feed(1, 0, 1);
    feed(2, 48, 1);
    feed(3, 48 + 96000, 1);  // two seconds ahead: no two seconds of silence
    EXPECT_EQ(reader.Frames(), 3u * 48);
    feed(9, 12345, 2);  // another sender
    EXPECT_EQ(reader.Frames(), 4u * 48);
    EXPECT_EQ(reader.SilentFrames(), 0u);
    feed(10, 12345 + 24, 2);  // overlaps the last packet by half
    EXPECT_EQ(reader.Frames(), 4u * 48 + 24);
    EXPECT_EQ(out.samples[(4 * 48) * 2], 1000 + 24);  // its second half
    feed(11, 12345, 2);  // wholly old
    EXPECT_EQ(reader.Frames(), 4u * 48 + 24);
    feed(12, 12345 + 72 + 10, 2);  // 10 frames missing: 10 frames of silence
    EXPECT_EQ(reader.SilentFrames(), 10u);
    EXPECT_EQ(reader.Frames(), 5u * 48 + 34);
}
