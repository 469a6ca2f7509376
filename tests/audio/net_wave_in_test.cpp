// The network back end over loopback (unicast to 127.0.0.1, no group joined):
// a stream's pair recorded through the operations table, its packets counted,
// a lost packet read as silence in place, the stream absent once it stops,
// and the receiver stopped cleanly with streams open.
#include "audio/MMCombinedWaveIn.h"
#include "audio/MMSimWaveIn.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

struct Returned {
    std::atomic<int> data{0}, open{0}, close{0};
    static void Notify(HWAVEIN, uint32_t msg, void* instance, PWaveHdr)
    {
        auto* r = static_cast<Returned*>(instance);
        if (msg == WIM_DATA) r->data.fetch_add(1);
        if (msg == WIM_OPEN) r->open.fetch_add(1);
        if (msg == WIM_CLOSE) r->close.fetch_add(1);
    }
};

uint16_t freePort()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
}

// Sends packets seq first ... first+count-1 of 4 channels of L24, 48 frames
// each; sample (frame f, channel c) of packet s is (c + 1) * 1000 + s % 8.
// Skips packet `skip`.
void send(uint16_t port, int first, int count, int skip = -1)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int s = first; s < first + count; ++s) {
        if (s == skip) continue;
        std::vector<uint8_t> p{0x80, 96, static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(s)};
        const uint32_t ts = static_cast<uint32_t>(s) * 48;
        for (int b = 3; b >= 0; --b) p.push_back(static_cast<uint8_t>(ts >> (8 * b)));
        p.insert(p.end(), {0, 0, 0, 1});
        for (int f = 0; f < 48; ++f)
            for (int c = 0; c < 4; ++c) {
                const int v = (c + 1) * 1000 + s % 8;
                p.insert(p.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v), 0x55});
            }
        sendto(fd, p.data(), p.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    close(fd);
}

}  // namespace

TEST(NetWaveIn, APairOfALoopbackStreamIsRecordedWithItsGapsInPlace)
{
    TNetStreamDesc d;
    d.sessionName = "Loop";
    d.origin = "- 1 IN IP4 127.0.0.1";
    d.address = "127.0.0.1";
    d.port = freePort();
    d.payloadType = 96;
    d.bits = 24;
    d.rate = 48000;
    d.channels = 4;
    TMMNetWaveIn::TOptions o;
    o.discover = false;
    auto net = std::make_unique<TMMNetWaveIn>(o);
    ASSERT_EQ(net->AddStream(d, false), 0);
    TMMCombinedWaveIn dev(std::make_unique<TMMSimulatedWaveIn>(TMMSimulatedWaveIn::Clock::Manual), std::move(net));

    // Listed after the simulated devices: the stream and its two pairs.
    const auto list = dev.InputDevices();
    int pair2 = -1;
    for (const auto& i : list)
        if (i.name == "Loop [AES67] (3-4)") pair2 = i.id;
    ASSERT_GE(pair2, dev.NetBase());
    WaveCaps caps;
    ASSERT_EQ(dev.GetDevCaps(pair2, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.dwSampleRate, 48000u);

    WaveFormat fmt;
    BuildPcmFormat(fmt, 16, 2, 44100);
    HWAVEIN h = 0;
    Returned r;
    EXPECT_EQ(dev.Open(&h, pair2, fmt, Returned::Notify, &r, 0), WAVERR_BADFORMAT);  // not the stream's rate
    BuildPcmFormat(fmt, 16, 2, 48000);
    ASSERT_EQ(dev.Open(&h, pair2, fmt, Returned::Notify, &r, 0), MMSYSERR_NOERROR);
    ASSERT_GE(h, TMMNetWaveIn::FirstHandle);
    int id = -1;
    EXPECT_EQ(dev.GetID(h, id), MMSYSERR_NOERROR);
    EXPECT_EQ(id, pair2);

    // Four buffers of 96 frames (two packets each).
    std::vector<std::vector<char>> mem(4, std::vector<char>(96 * 4));
    std::vector<WaveHdr> hdrs(4);
    for (size_t i = 0; i < hdrs.size(); ++i) {
        hdrs[i].lpData = mem[i].data();
        hdrs[i].dwBufferLength = static_cast<uint32_t>(mem[i].size());
        ASSERT_EQ(dev.PrepareHeader(h, &hdrs[i]), MMSYSERR_NOERROR);
        ASSERT_EQ(dev.AddBuffer(h, &hdrs[i]), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(dev.Start(h), MMSYSERR_NOERROR);
    send(d.port, 100, 9, 103);  // 103 is lost
    for (int i = 0; i < 200 && r.data.load() < 4; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(r.data.load(), 4);
    // Channels 3 and 4 of packets 100 ... 107 in order; 103's frames silent.
    for (int s = 100; s < 108; ++s) {
        const auto* pcm = reinterpret_cast<const int16_t*>(mem[static_cast<size_t>(s - 100) / 2].data()) +
                          (s % 2) * 96;
        EXPECT_EQ(pcm[0], s == 103 ? 0 : 3000 + s % 8) << s;
        EXPECT_EQ(pcm[1], s == 103 ? 0 : 4000 + s % 8) << s;
    }
    const auto streams = dev.Net().Streams();
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].health.received, 8u);
    EXPECT_EQ(streams[0].health.lost, 1u);
    EXPECT_EQ(streams[0].silentFrames, 48u);
    EXPECT_TRUE(streams[0].receiving);
    EXPECT_TRUE(dev.DevicePresent(h));

    // Silent for over a second (and past the start's grace): absent.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    EXPECT_FALSE(dev.DevicePresent(h));
    EXPECT_EQ(dev.Reset(h), MMSYSERR_NOERROR);
    EXPECT_EQ(dev.Close(h), MMSYSERR_NOERROR);
    EXPECT_EQ(r.close.load(), 1);
    HWAVEIN again = 0;
    EXPECT_EQ(dev.Open(&again, pair2, fmt, Returned::Notify, &r, 0), TMMNetWaveIn::kNoPackets);

    // Opened again while packets come: recorded again.
    std::thread sender([&] { send(d.port, 200, 400); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_EQ(dev.Open(&again, pair2, fmt, Returned::Notify, &r, 0), MMSYSERR_NOERROR);
    for (auto& hdr : hdrs) dev.AddBuffer(again, &hdr);
    EXPECT_EQ(dev.Start(again), MMSYSERR_NOERROR);
    sender.join();
    EXPECT_EQ(r.data.load(), 8);
    // The buffers are ours again once the stream is reset.
    EXPECT_EQ(dev.Reset(again), MMSYSERR_NOERROR);
    EXPECT_EQ(dev.Close(again), MMSYSERR_NOERROR);
}
