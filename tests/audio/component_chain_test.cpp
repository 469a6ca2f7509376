#include "audio/MMDSPObj.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace {

// Records the notifications it receives, tagged with its name.
class Probe : public TMMDSPComponent {
public:
    Probe(std::string name, std::vector<std::string>* log) : mName(std::move(name)), mLog(log) {}
    void Opened() override { note("opened"); TMMDSPComponent::Opened(); }
    void Closed() override { note("closed"); TMMDSPComponent::Closed(); }
    void Started() override { note("started"); TMMDSPComponent::Started(); }
    void Stopped() override { note("stopped"); TMMDSPComponent::Stopped(); }
    void Paused() override { note("paused"); TMMDSPComponent::Paused(); }

private:
    void note(const char* what)
    {
        if (mLog) mLog->push_back(mName + "." + what);
    }
    std::string mName;
    std::vector<std::string>* mLog;
};

class Device : public TMMCustomSoundComponent {
public:
    Device(std::string name, std::vector<std::string>* log, bool isSource = false)
        : mName(std::move(name)), mLog(log), mSource(isSource)
    {
    }
    bool PublishesInput() const override { return !mSource; }
    void Opened() override { note("opened"); TMMCustomSoundComponent::Opened(); }
    void Closed() override { note("closed"); TMMCustomSoundComponent::Closed(); }
    void Started() override { note("started"); TMMCustomSoundComponent::Started(); }
    void Stopped() override { note("stopped"); TMMCustomSoundComponent::Stopped(); }

private:
    void note(const char* what)
    {
        if (mLog) mLog->push_back(mName + "." + what);
    }
    std::string mName;
    std::vector<std::string>* mLog;
    bool mSource;
};

WaveFormat pcm(int bits, int channels, int rate)
{
    WaveFormat f;
    BuildPcmFormat(f, bits, channels, rate);
    return f;
}

TEST(ComponentChain, LinksAreSymmetricAndTakenOver)
{
    Probe a("a", nullptr), b("b", nullptr), c("c", nullptr);
    b.setInput(&a);
    EXPECT_EQ(a.Output(), &b);
    EXPECT_EQ(b.InputPropertyName(), "Output");
    EXPECT_EQ(a.OutputPropertyName(), "Input");
    c.setInput(&a);  // c takes a over
    EXPECT_EQ(b.Input(), nullptr);
    EXPECT_EQ(a.Output(), &c);
    // The mirror setter: a.Output := b moves the link back.
    a.setOutput(&b);
    EXPECT_EQ(b.Input(), &a);
    EXPECT_EQ(c.Input(), nullptr);
    a.setOutput(nullptr);
    EXPECT_EQ(b.Input(), nullptr);
}

TEST(ComponentChain, RefusesSelfLoopsCyclesAndFeedingASource)
{
    Probe a("a", nullptr), b("b", nullptr), c("c", nullptr);
    a.setOutput(&a);
    EXPECT_EQ(a.Output(), nullptr);
    a.setOutput(&b);
    b.setOutput(&c);
    c.setOutput(&a);  // a lies upstream of c
    EXPECT_EQ(c.Output(), nullptr);
    a.setInput(&c);  // c lies downstream of a
    EXPECT_EQ(a.Input(), nullptr);

    Device rec("rec", nullptr, true);
    a.setOutput(&rec);  // a recorder publishes no Input
    EXPECT_EQ(a.Output(), &b);
    EXPECT_EQ(rec.Input(), nullptr);
    rec.setOutput(&c);  // it can feed
    EXPECT_EQ(c.Input(), &rec);
    EXPECT_EQ(b.Output(), nullptr);
}

TEST(ComponentChain, FormatFlowsDownAndIsClearedBelowACut)
{
    Probe a("a", nullptr), b("b", nullptr), c("c", nullptr);
    a.setOutput(&b);
    b.setOutput(&c);
    const WaveFormat f = pcm(16, 2, 48000);
    a.SetFormat(&f);
    ASSERT_NE(c.GetFormat(), nullptr);
    EXPECT_EQ(c.GetFormat()->nSamplesPerSec, 48000u);
    EXPECT_NE(c.GetFormat(), a.GetFormat());  // each keeps its own copy

    // A newly linked component receives the current format.
    Probe d("d", nullptr);
    c.setOutput(&d);
    ASSERT_NE(d.GetFormat(), nullptr);
    EXPECT_EQ(d.GetFormat()->nAvgBytesPerSec, 192000u);

    b.setInput(nullptr);
    EXPECT_EQ(b.GetFormat(), nullptr);
    EXPECT_EQ(c.GetFormat(), nullptr);
    EXPECT_EQ(d.GetFormat(), nullptr);
    EXPECT_NE(a.GetFormat(), nullptr);
}

TEST(ComponentChain, WorkingBufferSizeWhileOpened)
{
    Probe a("a", nullptr);
    const WaveFormat f = pcm(16, 2, 44100);
    a.SetFormat(&f);
    a.setBufferSize(2050);
    a.Opened();
    EXPECT_EQ(a.BufferSize(), 2048);
    a.Closed();
    EXPECT_EQ(a.BufferSize(), 2050);
    // Without a format the nominal size is used as is.
    Probe b("b", nullptr);
    b.setBufferSize(2050);
    b.Opened();
    EXPECT_EQ(b.BufferSize(), 2050);
}

TEST(ComponentChain, SoundComponentOrdersNotifications)
{
    std::vector<std::string> log;
    Device src("src", &log, true);
    Probe p1("p1", &log), p2("p2", &log);
    Device out("out", &log);
    Probe tail("tail", &log);
    src.setOutput(&p1);
    p1.setOutput(&p2);
    p2.setOutput(&out);
    out.setOutput(&tail);
    log.clear();

    src.setBufferSize(1000);
    src.Opened();
    // Processing components first, then the downstream device (which runs
    // its own walk from itself), then the source itself.
    const std::vector<std::string> opened = {"src.opened", "p1.opened", "p2.opened", "out.opened", "tail.opened"};
    EXPECT_EQ(log, opened);
    EXPECT_EQ(p2.BufferSize(), 1000);
    EXPECT_TRUE(out.FedByDevice());
    EXPECT_FALSE(src.FedByDevice());

    src.Started();
    log.clear();
    src.Stopped();
    // A downstream device hears a stop first.
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[0], "src.stopped");
    EXPECT_EQ(log[1], "out.stopped");
    EXPECT_NE(std::find(log.begin(), log.end(), "p1.stopped"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "tail.stopped"), log.end());
    EXPECT_FALSE(p1.IsStarted());
}

TEST(ComponentChain, BufferPushAndPull)
{
    Probe a("a", nullptr), b("b", nullptr);
    a.setOutput(&b);
    std::vector<std::string> seen;
    a.OnBufferReady = [&](TMMCustomDSPComponent*, PWaveHdr) { seen.push_back("a"); };
    b.OnBufferReady = [&](TMMCustomDSPComponent*, PWaveHdr h) { seen.push_back("b:" + std::to_string(h->dwBytesRecorded)); };
    WaveHdr hdr;
    hdr.dwBytesRecorded = 64;
    a.BufferReady(&hdr);
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b:64"}));

    a.OnBufferLoad = [](TMMCustomDSPComponent*, PWaveHdr h, bool& more) {
        h->dwBytesRecorded = 10;
        more = false;
    };
    bool more = true;
    b.BufferLoad(&hdr, more);  // b pulls from a
    EXPECT_EQ(hdr.dwBytesRecorded, 10u);
    EXPECT_FALSE(more);
}

TEST(ComponentChain, DestroyedComponentLeavesNoDanglingLinks)
{
    const size_t before = TMMDSPComponent::LiveComponents();
    Probe a("a", nullptr), c("c", nullptr);
    {
        Probe b("b", nullptr);
        a.setOutput(&b);
        b.setOutput(&c);
        const WaveFormat f = pcm(16, 2, 44100);
        a.SetFormat(&f);
        EXPECT_EQ(TMMDSPComponent::LiveComponents(), before + 3);
    }
    EXPECT_EQ(a.Output(), nullptr);
    EXPECT_EQ(c.Input(), nullptr);
    EXPECT_EQ(c.GetFormat(), nullptr);
    EXPECT_EQ(TMMDSPComponent::LiveComponents(), before + 2);
}

}  // namespace
