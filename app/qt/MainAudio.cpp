#include "base/TvConstants.h"
#include "app/qt/MainAudio.h"

#include "audio/MMAudioBackend.h"

#include "app/DeviceNames.h"
#include "audio/MMConnector.h"
#include "audio/MMConnectorSinks.h"
#include "audio/MMWavIn.h"

#include <QTimer>

#include <algorithm>

namespace {

// Buffers per recorder: the ring must bridge the longest wait of the GUI
// thread, which hands every returned buffer on. 5 buffers (53 ms at 48 kHz)
// ran dry while the twelve recorders started one after another on JACK
// (about 30 ms per start), and every frame without a buffer is lost.
// 48 buffers of 2048 bytes hold 0.51 s at 48 kHz (0.56 s at 44.1 kHz).
constexpr int kRecorderBuffers = 48;

// Buffers lost by an open recorder: the back end's count of bytes it had no
// buffer for; else estimated from the device position, which runs ahead of
// what was delivered by more than the buffers the recorder holds.
uint64_t LostBuffers(TMMWaveIn& r)
{
    const HWAVEIN h = r.Handle();
    if (h == 0) return 0;
    const int64_t bufferBytes = std::max<int64_t>(1, r.GetBufferSize());
    const int64_t lostBytes = WaveInDevice().LostBytes(h);
    if (lostBytes >= 0) return static_cast<uint64_t>((lostBytes + bufferBytes - 1) / bufferBytes);
    if (!r.IsStarted()) return 0;
    const int frameBytes = std::max(1, r.Channels() * (r.BitLength() == b16Bit ? 2 : 1));
    const int64_t bufferFrames = std::max<int64_t>(1, bufferBytes / frameBytes);
    const int64_t delivered = r.BytesDelivered() / frameBytes;
    int64_t position = 0;
    try {
        position = r.Position();
    } catch (const EMMError&) {
        return 0;
    }
    const int64_t lost = (position - delivered) / bufferFrames - r.NumBuffers();
    return lost > 0 ? static_cast<uint64_t>(lost) : 0;
}

}  // namespace

// Counts the blocks a connector hands to one bar, then passes them on.
class TCountingLevelSink : public TMMLevelSink {
public:
    explicit TCountingLevelSink(TMMLevelSink* bar) : mBar(bar) {}
    void SetWaveFormat(const WaveFormat* fmt) override { mBar->SetWaveFormat(fmt); }
    int BlockBytes() const override { return mBar->BlockBytes(); }
    void ProcessBlock(const void* block) override
    {
        ++mBlocks;
        mBar->ProcessBlock(block);
    }
    void ProcessBlocks(const char* first, int count, int stride) override
    {
        mBlocks += static_cast<uint64_t>(count);
        mBar->ProcessBlocks(first, count, stride);
    }
    void ResetData() override { mBar->ResetData(); }
    uint64_t Blocks() const { return mBlocks; }

private:
    TMMLevelSink* mBar;
    uint64_t mBlocks = 0;
};

std::string DeviceEventLine(int k, const std::string& what, const std::string& device, const std::string& reason)
{
    const std::string input =
        "Input " + std::to_string(2 * k - 1) + "&" + std::to_string(2 * k) + ": device \"" + device + "\"";
    if (what == "lost")
        return input + " lost; its strips read silence; trying again every " +
               std::to_string(TMainAudio::kReopenIntervalMs / 1000) + " s";
    if (what == "reopened") return input + " is back; metering again";
    if (what == "failed")
        return input + " does not open: " + reason + "; its strips read silence; trying again every " +
               std::to_string(TMainAudio::kReopenIntervalMs / 1000) + " s";
    if (what == "not connected") return input + " not connected; its strips stay dark and read silence";
    return "";
}

void SetMainCaptureDevice(TMMWaveInDevice* device) { SetWaveInDevice(device); }

TMainAudio::TMainAudio()
{
    for (int k = 1; k <= tv::kPairs; ++k) {
        auto rec = std::make_unique<TMMWaveIn>();
        // Design values; device and rate come from the settings.
        rec->setDeviceID(MapperId);
        rec->setNumBuffers(kRecorderBuffers);
        rec->setMode(mStereo);
        rec->setBitLength(b16Bit);
        rec->setSampleRate(44100);
        rec->OnBufferReady = [this, k](TMMCustomDSPComponent*, PWaveHdr h) {
            ++mBuffers[k - 1];
            if (mTap && h) mTap(k, reinterpret_cast<const int16_t*>(h->lpData), h->dwBytesRecorded / 4);
        };
        // A device that goes away is reopened when it comes back.
        rec->setReopenInterval(kReopenIntervalMs);
        rec->OnDeviceEvent = [this, k](const std::string& what, const std::string& device) {
            const bool failed = what == "failed";
            if (failed) ++mFailedOpens[k - 1];
            const std::string reason = failed ? mRecorders[k - 1]->FailureReason() : std::string();
            for (const auto& l : mDeviceListeners) l(k, what, device, reason);
        };

        auto con = std::make_unique<TMMConnector>();
        con->setEnterIdle(false);
        if (k == 1) con->setTriggerMode(tmDownFlank);
        con->OnTrigger = [this](TMMConnector*) { ++mCycles; };
        con->SetInput(rec.get());
        mRecorders[k - 1] = std::move(rec);
        mConnectors[k - 1] = std::move(con);
    }
    mPoll = std::make_unique<QTimer>();
    mPoll->setInterval(250);
    QObject::connect(mPoll.get(), &QTimer::timeout, [this] {
        for (auto& r : mRecorders) r->Poll();
        ConnectAnnounced();
    });
    mPoll->start();
}

TMainAudio::~TMainAudio()
{
    mPoll.reset();
    for (auto& c : mConnectors) {
        c->setLevel1(nullptr);
        c->setLevel2(nullptr);
    }
    for (auto& r : mRecorders) r->Close();
}

void TMainAudio::CollectStats(TRunStats& s) const
{
    s.sample_rate = SampleRate();
    s.recorders_running = 0;
    for (int k = 1; k <= tv::kPairs; ++k) {
        s.buffers[k - 1] = Buffers(k);
        s.reopens[k - 1] = Reopens(k);
        s.seconds_lost[k - 1] = SecondsLost(k);
        s.failed_opens[k - 1] = mFailedOpens[k - 1];
        if (Running(k)) ++s.recorders_running;
    }
    for (int n = 1; n <= tv::kStrips; ++n) s.blocks[n - 1] = Blocks(n);
    s.trigger_cycles = TriggerCycles();
    s.dropped_buffers = DroppedBuffers();
}

void TMainAudio::SetLevelSinks(int k, TMMLevelSink* left, TMMLevelSink* right)
{
    TMMConnector& c = *mConnectors[k - 1];
    c.setLevel1(nullptr);
    c.setLevel2(nullptr);
    auto& l = mSinks[2 * k - 2];
    auto& r = mSinks[2 * k - 1];
    l = left ? std::make_unique<TCountingLevelSink>(left) : nullptr;
    r = right ? std::make_unique<TCountingLevelSink>(right) : nullptr;
    c.setLevel1(l.get());
    c.setLevel2(r.get());
}

void TMainAudio::SetDevice(int k, int deviceId)
{
    mRecorders[k - 1]->setDeviceID(deviceId);
    mMissing[k - 1].clear();
}

// A remembered network stream announced after the start: its recorders are
// connected to it now, and those whose pair would run start.
void TMainAudio::ConnectAnnounced()
{
    TMMNetWaveIn* net = NetworkStreams(WaveInDevice());
    if (!net || net->ListGeneration() == mNetGeneration) return;
    mNetGeneration = net->ListGeneration();
    std::vector<std::string> names;
    for (int k = 1; k <= tv::kPairs; ++k) {
        if (!NotConnected(k)) continue;
        if (names.empty()) names = InputDeviceNames(WaveInDevice());
        const auto it = std::find(names.begin(), names.end(), mMissing[k - 1]);
        if (it == names.end()) continue;
        const std::string name = mMissing[k - 1];
        const bool wanted = mMissingReported[k - 1];
        SetDevice(k, static_cast<int>(it - names.begin()));
        if (!wanted) continue;
        try {
            mRecorders[k - 1]->Start();
        } catch (const std::exception&) {
            // told by the recorder's own failure event; it tries again
        }
        if (Running(k))
            for (const auto& l : mDeviceListeners) l(k, "reopened", name, std::string());
    }
}

void TMainAudio::SetNotConnected(int k, const std::string& name)
{
    const std::string shown = name.empty() ? "?" : name;
    if (mMissing[k - 1] != shown) mMissingReported[k - 1] = false;
    mMissing[k - 1] = shown;
    try {
        // Nothing may open the position it had: that is another device now.
        mRecorders[k - 1]->setDeviceID(InvalidId);
    } catch (...) {
        // refused while open; Start keeps it closed all the same
    }
}

std::string TMainAudio::RecorderDeviceName(int k) const
{
    if (NotConnected(k)) return NotConnectedCaption(mMissing[k - 1]);
    return InputDeviceName(mRecorders[k - 1]->DeviceID());
}
void TMainAudio::SetSampleRate(int k, int rate) { mRecorders[k - 1]->setSampleRate(rate); }
void TMainAudio::Close(int k)
{
    mDroppedClosed += LostBuffers(*mRecorders[k - 1]);
    mRecorders[k - 1]->Close();
}
void TMainAudio::Start(int k)
{
    if (!NotConnected(k)) {
        mRecorders[k - 1]->Start();
        return;
    }
    // Told once per missing device, when its pair would start.
    if (mMissingReported[k - 1]) return;
    mMissingReported[k - 1] = true;
    for (const auto& l : mDeviceListeners) l(k, "not connected", mMissing[k - 1], std::string());
}
bool TMainAudio::Running(int k) const { return mRecorders[k - 1]->IsStarted(); }

int TMainAudio::InputDeviceCount() const { return mRecorders[0]->DeviceCount(); }
std::string TMainAudio::InputDeviceName(int id) const { return mRecorders[0]->DeviceName(id); }

int TMainAudio::OutputDeviceCount() const
{
    return static_cast<int>(WaveInDevice().BackendOutputDevices().size());
}

std::string TMainAudio::OutputDeviceName(int id) const
{
    if (id < 0) return "Default output";
    const auto outs = WaveInDevice().BackendOutputDevices();
    return id < static_cast<int>(outs.size()) ? outs[id].name : std::string();
}

TMMWaveIn& TMainAudio::Recorder(int k) { return *mRecorders[k - 1]; }
uint64_t TMainAudio::Reopens(int k) const { return mRecorders[k - 1]->Reopens(); }
double TMainAudio::SecondsLost(int k) const { return mRecorders[k - 1]->SecondsLost(); }

std::string TMainAudio::Failure(int k) const
{
    const TMMWaveIn& r = *mRecorders[k - 1];
    return r.DeviceLost() && !r.IsStarted() ? r.FailureReason() : std::string();
}
TMMConnector& TMainAudio::Connector(int k) { return *mConnectors[k - 1]; }

uint64_t TMainAudio::Blocks(int n) const
{
    const auto& s = mSinks[n - 1];
    return s ? s->Blocks() : 0;
}

uint64_t TMainAudio::DroppedBuffers() const
{
    uint64_t dropped = mDroppedClosed;
    for (const auto& r : mRecorders) dropped += LostBuffers(*r);
    return dropped;
}

int TMainAudio::SampleRate() const { return mRecorders[0]->SampleRate(); }
