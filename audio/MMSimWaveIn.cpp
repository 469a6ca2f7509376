#include "audio/MMSimWaveIn.h"

#include <algorithm>
#include <cstdio>

namespace {

thread_local bool tlOnDeviceThread = false;

constexpr size_t kChunkFrames = 256;
constexpr int kTickUs = 5000, kLongestTickUs = 20000;  // the real-time thread's wake-ups

const TMMSimulatedWaveIn::Faults kNoFaults{};

}  // namespace

TMMSimulatedWaveIn::TMMSimulatedWaveIn(Clock clock) : mClock(clock)
{
    for (int d = 0; d < DeviceCount; ++d) {
        auto sig = std::make_unique<TMMSimSignal>(ParseSimSignal(DefaultSimSignalText(d + 1)));
        mSignal[d].store(sig.get());
        mSignals.push_back(std::move(sig));
        mNumber[static_cast<size_t>(d)] = d;
    }
    for (int c = 0; c < InterfaceChannels; ++c) {
        char text[48];
        std::snprintf(text, sizeof text, "sine:997:%.1f", InterfaceChannelDbfs(c));
        mIface.signal[static_cast<size_t>(c)] = ParseSimSignal(text);
    }
    if (mClock == Clock::RealTime) mThread = std::thread([this] { Run(); });
}

TMMSimulatedWaveIn::~TMMSimulatedWaveIn()
{
    mQuit.store(true);
    mTicker.Stop();
    if (mThread.joinable()) mThread.join();
}

void TMMSimulatedWaveIn::SetSignal(int device, const std::string& text)
{
    const int d = DeviceIndex(device);
    if (d < 0 || d >= DeviceCount)
        throw ESimSignalError("simulated input " + std::to_string(device + 1) + " does not exist (1 ... 12)");
    auto sig = std::make_unique<TMMSimSignal>(ParseSimSignal(text));
    std::lock_guard<std::mutex> g(mSignalsLock);
    mSignal[d].store(sig.get());
    mSignals.push_back(std::move(sig));
}

std::string TMMSimulatedWaveIn::Signal(int device) const
{
    const int d = DeviceIndex(device);
    if (d < 0 || d >= DeviceCount) return "";
    return mSignal[d].load()->text;
}

const TMMSimulatedWaveIn::Faults& TMMSimulatedWaveIn::FaultsOf(int device) const
{
    return device >= 0 && device < DeviceCount ? mFaults[static_cast<size_t>(device)] : kNoFaults;
}


TMMSimulatedWaveIn::Stream* TMMSimulatedWaveIn::Find(HWAVEIN h)
{
    return mStreams.Find(h);
}

void TMMSimulatedWaveIn::Hold(Stream& s, int newState)
{
    s.state.store(newState);
    if (tlOnDeviceThread) return;  // called from a notification on the device thread itself
    while (s.busy.load() != 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
}

void TMMSimulatedWaveIn::Produce(Stream& s, size_t frames)
{
    const TMMSimSignal* sig = mSignal[s.device].load(std::memory_order_acquire);
    if (sig != s.signal) {
        s.signal = sig;
        s.left.Reset(&sig->left, s.fmt.nSamplesPerSec);
        s.right.Reset(&sig->right, s.fmt.nSamplesPerSec, 1);
    }
    const size_t ch = s.fmt.nChannels;
    int16_t buf[kChunkFrames * 2];
    while (frames > 0 && s.state.load() == sStarted) {
        const size_t n = std::min(frames, kChunkFrames);
        s.left.Fill(buf, n, ch);
        if (ch == 2) s.right.Fill(buf + 1, n, 2);
        s.frames.fetch_add(n, std::memory_order_relaxed);
        s.queue.Write(reinterpret_cast<const uint8_t*>(buf), n * ch * 2);
        frames -= n;
    }
}

void TMMSimulatedWaveIn::Run()
{
    tlOnDeviceThread = true;
    auto next = std::chrono::steady_clock::now();
    int tick = kTickUs;
    bool idle = true;
    while (!mQuit.load()) {
        // Nothing started: sleep until a stream starts.
        if (idle) next = std::chrono::steady_clock::now() + std::chrono::hours(1);
        else next += std::chrono::microseconds(tick);
        if (!mTicker.WaitUntil(next)) break;
        const auto now = std::chrono::steady_clock::now();
        if (idle || next < now - std::chrono::seconds(1)) next = now;
        idle = true;
        tick = kLongestTickUs;
        for (auto& sp : mStreams) {
            Stream& s = *sp;
            if (s.state.load() != sStarted) continue;
            // The stream's plain fields (shared, fmt, t0 ...) are the opening
            // thread's until this thread holds it: busy set, then still started
            // (Hold stores the state before it waits for busy to clear).
            int free = 0;
            if (!s.busy.compare_exchange_strong(free, 1)) continue;
            if (s.state.load() == sStarted && !s.shared) {
                idle = false;
                tick = std::min(tick, s.tickUs.load());
                if (const uint64_t n = FramesBehind(now, s.t0, s.fmt.nSamplesPerSec, s.produced))
                    Produce(s, static_cast<size_t>(n));
            }
            s.busy.store(0);
        }
        if (mIface.running.load()) {
            idle = false;
            tick = kTickUs;
        }
        int free = 0;
        if (mIface.running.load() && mIface.busy.compare_exchange_strong(free, 1)) {
            if (mIface.running.load()) {
                if (const uint64_t n = FramesBehind(now, mIface.t0, mIface.rate.load(), mIface.produced))
                    ProduceInterface(static_cast<size_t>(n));
            }
            mIface.busy.store(0);
        }
    }
}

void TMMSimulatedWaveIn::ProduceInterface(size_t frames)
{
    int16_t buf[kChunkFrames * InterfaceChannels];
    while (frames > 0 && mIface.running.load()) {
        // Only the channels in use are made.
        const int ch = std::max(1, mIface.capture.HighestChannel());
        const size_t n = std::min(frames, kChunkFrames);
        for (int c = 0; c < ch; ++c) mIface.gen[static_cast<size_t>(c)].Fill(buf + c, n, static_cast<size_t>(ch));
        mIface.capture.Write(buf, n, ch);
        frames -= n;
    }
}

void TMMSimulatedWaveIn::StartInterface()
{
    if (mIface.running.load()) return;
    for (int c = 0; c < InterfaceChannels; ++c)
        mIface.gen[static_cast<size_t>(c)].Reset(&mIface.signal[static_cast<size_t>(c)].left, mIface.rate.load(), c);
    mIface.capture.Restart();
    mIface.produced = 0;
    mIface.t0 = std::chrono::steady_clock::now();
    mIface.running.store(true);
    mTicker.Kick();
}

// The stream stops with the last started pair.
void TMMSimulatedWaveIn::StopInterfaceIfIdle()
{
    if (mIface.capture.AnyStarted() || !mIface.running.load()) return;
    mIface.running.store(false);
    if (tlOnDeviceThread) return;
    while (mIface.busy.load() != 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
}

void TMMSimulatedWaveIn::Vanish(int device)
{
    if (OnInterface(device)) {
        mIface.gone.store(true);
        mIface.running.store(false);
        if (!tlOnDeviceThread)
            while (mIface.busy.load() != 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
        mIface.capture.Lose();
        return;
    }
    const int d = DeviceIndex(device);
    if (d < 0 || d >= DeviceCount) return;
    mGone[d].store(true);
    for (auto& sp : mStreams) {
        Stream& s = *sp;
        const int st = s.state.load();
        if (s.device != d || (st != sOpen && st != sStarted)) continue;
        Hold(s, sDead);
        s.queue.ReturnAll();
    }
}

void TMMSimulatedWaveIn::ReturnAt(int device, int index)
{
    const int d = DeviceIndex(device);
    if (d < 0 || d >= DeviceCount || index < 0 || index >= DeviceCount) return;
    if (d != index) {
        std::swap(mNumber[d], mNumber[index]);
        const TMMSimSignal* moved = mSignal[d].load();
        mSignal[d].store(mSignal[index].load());
        mSignal[index].store(moved);
    }
    RestoreDevice(d);
    RestoreDevice(index);
}

void TMMSimulatedWaveIn::Restore(int device)
{
    if (OnInterface(device)) {
        mIface.gone.store(false);
        return;
    }
    RestoreDevice(device);
}

int TMMSimulatedWaveIn::Pump(int device, int buffers)
{
    if (OnInterface(device)) {
        // Whole buffers of the largest header started, from the next grid point.
        uint32_t grid = 0;
        for (auto& sp : mStreams)
            if (sp->shared && sp->state.load() == sStarted) grid = std::max(grid, sp->tap.gridFrames);
        if (grid == 0 || !mIface.running.load()) return 0;
        const uint64_t pos = mIface.capture.Position();
        ProduceInterface(static_cast<size_t>((grid - pos % grid) % grid + static_cast<uint64_t>(buffers) * grid));
        return buffers;
    }
    const int d = DeviceIndex(device);
    int returned = 0;
    for (auto& sp : mStreams) {
        Stream& s = *sp;
        if (s.device != d || s.state.load() != sStarted) continue;
        for (int i = 0; i < buffers && s.state.load() == sStarted; ++i) {
            PWaveHdr h = s.queue.Current();
            if (!h) break;
            const size_t align = s.fmt.nBlockAlign ? s.fmt.nBlockAlign : 1;
            const size_t room = h->dwBufferLength - h->dwBytesRecorded;
            Produce(s, (room + align - 1) / align);
            ++returned;
        }
    }
    return returned;
}

void TMMSimulatedWaveIn::PumpFrames(int device, size_t frames)
{
    if (OnInterface(device)) {
        ProduceInterface(frames);
        return;
    }
    const int d = DeviceIndex(device);
    for (auto& sp : mStreams)
        if (sp->device == d && sp->state.load() == sStarted) Produce(*sp, frames);
}

int TMMSimulatedWaveIn::OpenStreams(int device) const
{
    if (OnInterface(device)) return mIface.capture.Taps();
    const int d = DeviceIndex(device);
    int n = 0;
    for (auto& sp : mStreams)
        if (sp->device == d && sp->state.load() != sFree) ++n;
    return n;
}

MMRESULT TMMSimulatedWaveIn::GetDevCaps(int id, WaveInCaps& caps)
{
    if (id < -1 || id >= InputCount) return MMSYSERR_BADDEVICEID;
    if (OnInterface(id)) {
        if (mIface.gone.load()) return MMSYSERR_NODRIVER;
        const std::string name = "Simulated interface " + std::to_string(InterfaceChannels);
        const int pair = id - InterfaceId - 1;
        caps.szPname = pair < 0 ? name : PairName(name, InterfaceChannels, pair);
        caps.hostApi = "Simulated";
        caps.wChannels = static_cast<uint16_t>(pair < 0 ? InterfaceChannels : PairWidth(InterfaceChannels, pair));
        caps.dwFormats = StandardFormatBits(true, true, false, true);
        return MMSYSERR_NOERROR;
    }
    int d = 0;
    if (const MMRESULT r = CheckDevice(id, d)) return r;
    Caption("input", mNumber[static_cast<size_t>(d)], false, caps);
    return MMSYSERR_NOERROR;
}

MMRESULT TMMSimulatedWaveIn::Open(HWAVEIN* h, int id, const WaveFormat& fmt, TWaveInNotify cb, void* instance,
                                  uint32_t flags)
{
    if (OnInterface(id)) return OpenShared(h, id, fmt, cb, instance, flags);
    int d = 0;
    if (const MMRESULT r = CheckDevice(id, d)) return r;
    const Faults& f = FaultsOf(d);
    const bool ok = fmt.wFormatTag == WAVE_FORMAT_PCM && fmt.wBitsPerSample == 16 &&
                    (fmt.nChannels == 1 || fmt.nChannels == 2) && fmt.nBlockAlign == fmt.nChannels * 2 &&
                    fmt.nSamplesPerSec >= 8000 && fmt.nSamplesPerSec <= 100000;
    if (!ok || f.refuseFormat) return WAVERR_BADFORMAT;
    if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
    if (!h || !cb) return MMSYSERR_INVALPARAM;
    if (f.openError) return f.openError;
    Stream* s = mStreams.FreeSlot();
    if (!s) return MMSYSERR_ALLOCATED;
    const HWAVEIN handle = mStreams.NextHandle();
    s->queue.Clear();
    s->queue.Bind(handle, cb, instance);
    s->shared = false;
    s->device = d;
    s->fmt = fmt;
    s->signal = nullptr;
    s->frames.store(0);
    s->produced = 0;
    s->state.store(sOpen);
    *h = handle;
    if (!f.noOpenConfirm) s->queue.Confirm(WIM_OPEN);
    return MMSYSERR_NOERROR;
}

MMRESULT TMMSimulatedWaveIn::Close(HWAVEIN h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    Hold(*s, sOpen);
    if (s->shared) {
        mIface.capture.Detach(&s->tap);
        StopInterfaceIfIdle();
        if (mIface.capture.Taps() == 0) mIface.rate.store(0);
    }
    s->queue.Clear();
    const bool confirm = !FaultsOf(s->device).noCloseConfirm;
    s->state.store(sFree);
    if (confirm) s->queue.Confirm(WIM_CLOSE);
    return MMSYSERR_NOERROR;
}

MMRESULT TMMSimulatedWaveIn::AddBuffer(HWAVEIN h, PWaveHdr hdr)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (s->state.load() == sDead || s->tap.gone.load()) return MMSYSERR_NODRIVER;
    if (FaultsOf(s->device).addBufferError) return FaultsOf(s->device).addBufferError;
    if (!hdr || !(hdr->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    return s->queue.Add(hdr) ? MMSYSERR_NOERROR : MMSYSERR_NOMEM;
}

MMRESULT TMMSimulatedWaveIn::Start(HWAVEIN h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (s->state.load() == sDead || s->tap.gone.load()) return MMSYSERR_NODRIVER;
    if (FaultsOf(s->device).startError) return FaultsOf(s->device).startError;
    if (s->state.load() == sStarted) return MMSYSERR_NOERROR;
    if (s->shared) {
        if (PWaveHdr first = s->queue.Current())
            s->tap.gridFrames = std::max<uint32_t>(1, first->dwBufferLength / static_cast<uint32_t>(s->tap.FrameBytes()));
        s->state.store(sStarted);
        StartInterface();
        mIface.capture.Arm(&s->tap);
        return MMSYSERR_NOERROR;
    }
    s->t0 = std::chrono::steady_clock::now();
    s->produced = 0;
    // The thread wakes every half buffer (5 ... 20 ms): a buffer is handed
    // on at most half its length after it is due.
    int tick = kTickUs;
    if (PWaveHdr first = s->queue.Current(); first && s->fmt.nBlockAlign && s->fmt.nSamplesPerSec)
        tick = static_cast<int>(std::clamp<uint64_t>(uint64_t{first->dwBufferLength} / s->fmt.nBlockAlign * 500000 /
                                                         s->fmt.nSamplesPerSec,
                                                     kTickUs, kLongestTickUs));
    s->tickUs.store(tick);
    s->state.store(sStarted);
    mTicker.Kick();
    return MMSYSERR_NOERROR;
}

MMRESULT TMMSimulatedWaveIn::Stop(HWAVEIN h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (FaultsOf(s->device).stopError) return FaultsOf(s->device).stopError;
    if (s->shared) {
        mIface.capture.Halt(&s->tap);
        if (s->state.load() == sStarted) s->state.store(sOpen);
        StopInterfaceIfIdle();
    } else if (s->state.load() == sStarted) {
        Hold(*s, sOpen);
    }
    s->queue.ReturnPartial();
    return MMSYSERR_NOERROR;
}

MMRESULT TMMSimulatedWaveIn::Reset(HWAVEIN h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (s->shared) {
        mIface.capture.Halt(&s->tap);
        if (s->state.load() == sStarted) s->state.store(sOpen);
        StopInterfaceIfIdle();
        s->tap.frames.store(0);
    } else if (s->state.load() == sStarted) {
        Hold(*s, sOpen);
    }
    s->queue.ReturnAll();
    s->frames.store(0);
    return MMSYSERR_NOERROR;
}

int64_t TMMSimulatedWaveIn::StreamFrames(uintptr_t h)
{
    const Stream* s = Find(h);
    return s ? static_cast<int64_t>((s->shared ? s->tap.frames : s->frames).load(std::memory_order_relaxed)) : -1;
}

MMRESULT TMMSimulatedWaveIn::GetID(HWAVEIN h, int& id)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    id = s->shared ? s->id : s->device;
    return MMSYSERR_NOERROR;
}

MMRESULT TMMSimulatedWaveIn::OpenShared(HWAVEIN* h, int id, const WaveFormat& fmt, TWaveInNotify cb, void* instance,
                                        uint32_t flags)
{
    if (mIface.gone.load()) return MMSYSERR_NODRIVER;
    const bool ok = fmt.wFormatTag == WAVE_FORMAT_PCM && fmt.wBitsPerSample == 16 &&
                    (fmt.nChannels == 1 || fmt.nChannels == 2) && fmt.nBlockAlign == fmt.nChannels * 2 &&
                    fmt.nSamplesPerSec >= 8000 && fmt.nSamplesPerSec <= 100000;
    // One stream, one rate.
    const uint32_t rate = mIface.rate.load();
    if (!ok || (rate != 0 && rate != fmt.nSamplesPerSec)) return WAVERR_BADFORMAT;
    if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
    if (!h || !cb) return MMSYSERR_INVALPARAM;
    Stream* s = mStreams.FreeSlot();
    if (!s) return MMSYSERR_ALLOCATED;
    const int pair = id - InterfaceId - 1;
    s->queue.Clear();
    s->tap.first = pair < 0 ? 0 : PairFirstChannel(pair);
    s->tap.width = pair < 0 ? fmt.nChannels : PairWidth(InterfaceChannels, pair);
    s->tap.outChannels = fmt.nChannels;
    s->tap.gridFrames = 1;
    s->tap.gone.store(false);
    s->tap.frames.store(0);
    if (!mIface.capture.Attach(&s->tap)) return MMSYSERR_ALLOCATED;
    mIface.rate.store(fmt.nSamplesPerSec);
    const HWAVEIN handle = mStreams.NextHandle();
    s->queue.Bind(handle, cb, instance);
    s->shared = true;
    s->device = InterfaceId;
    s->id = id;
    s->fmt = fmt;
    s->frames.store(0);
    s->state.store(sOpen);
    *h = handle;
    s->queue.Confirm(WIM_OPEN);
    return MMSYSERR_NOERROR;
}
