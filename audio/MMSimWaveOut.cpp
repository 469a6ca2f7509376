#include "audio/MMSimWaveOut.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

thread_local bool tlOnDeviceThread = false;
constexpr size_t kChunkBytes = 4096;

}  // namespace

TMMSimulatedWaveOut::TMMSimulatedWaveOut(size_t captureBytes)
{
    for (int d = 0; d < DeviceCount; ++d) {
        mCapture[d].data.reset(new uint8_t[captureBytes]);
        mCapture[d].capacity = captureBytes;
    }
    mThread = std::thread([this] { Run(); });
}

TMMSimulatedWaveOut::~TMMSimulatedWaveOut()
{
    mQuit.store(true);
    mTicker.Stop();
    if (mThread.joinable()) mThread.join();
}


TMMSimulatedWaveOut::Stream* TMMSimulatedWaveOut::Find(HWAVEOUT h)
{
    return mStreams.Find(h);
}

// Takes the stream away from the device thread (waits while it plays).
void TMMSimulatedWaveOut::Hold(Stream& s)
{
    if (tlOnDeviceThread) return;
    int idle = 0;
    while (!s.busy.compare_exchange_weak(idle, 1)) {
        idle = 0;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

void TMMSimulatedWaveOut::Consume(Stream& s, size_t frames)
{
    Capture& c = mCapture[s.device];
    const size_t align = s.fmt.nBlockAlign ? s.fmt.nBlockAlign : 1;
    size_t bytes = frames * align;
    while (bytes > 0 && s.state.load() == sOpen && !s.paused.load()) {
        const size_t used = c.used.load(std::memory_order_relaxed);
        const size_t room = c.capacity - used;
        const size_t want = std::min(bytes, kChunkBytes);
        // Past the capture capacity the bytes are played but not kept.
        uint8_t* dst = room >= want ? c.data.get() + used : nullptr;
        const size_t n = s.queue.Read(dst, want);
        if (dst) c.used.store(used + n, std::memory_order_release);
        // A queue that ran dry plays silence, which is not kept.
        s.frames.fetch_add(want / align, std::memory_order_relaxed);
        bytes -= want;
    }
}

void TMMSimulatedWaveOut::Run()
{
    tlOnDeviceThread = true;
    auto next = std::chrono::steady_clock::now();
    bool idle = true;
    while (!mQuit.load()) {
        // Nothing playing: sleep until something is written or restarted.
        if (idle) next = std::chrono::steady_clock::now() + std::chrono::hours(1);
        else next += std::chrono::milliseconds(5);
        if (!mTicker.WaitUntil(next)) break;
        const auto now = std::chrono::steady_clock::now();
        const bool resumed = idle;
        if (idle || next < now - std::chrono::seconds(1)) next = now;
        idle = true;
        for (auto& sp : mStreams) {
            Stream& s = *sp;
            if (s.state.load() != sOpen) continue;
            int free = 0;
            if (!s.busy.compare_exchange_strong(free, 1)) {
                idle = false;
                continue;
            }
            if (s.state.load() == sOpen) {
                if (resumed || s.paused.load() || s.queue.Pending() == 0) {
                    // The clock only runs while something plays.
                    s.t0 = now;
                    s.consumed = 0;
                    if (resumed) idle = false;
                } else {
                    idle = false;
                    if (const uint64_t n = FramesBehind(now, s.t0, s.fmt.nSamplesPerSec, s.consumed))
                        Consume(s, static_cast<size_t>(n));
                }
            }
            s.busy.store(0);
        }
    }
}

void TMMSimulatedWaveOut::Vanish(int device)
{
    const int d = DeviceIndex(device);
    if (d < 0 || d >= DeviceCount) return;
    mGone[d].store(true);
    for (auto& sp : mStreams) {
        Stream& s = *sp;
        if (s.device != d || s.state.load() != sOpen) continue;
        Hold(s);
        s.state.store(sDead);
        s.queue.ReturnAll();
        Release(s);
    }
}

void TMMSimulatedWaveOut::Restore(int device)
{
    RestoreDevice(device);
}

int TMMSimulatedWaveOut::OpenStreams(int device) const
{
    const int d = DeviceIndex(device);
    int n = 0;
    for (auto& sp : mStreams)
        if (sp->device == d && sp->state.load() != sFree) ++n;
    return n;
}

std::vector<uint8_t> TMMSimulatedWaveOut::Played(int device) const
{
    const int d = std::clamp(DeviceIndex(device), 0, DeviceCount - 1);
    const Capture& c = mCapture[d];
    return std::vector<uint8_t>(c.data.get(), c.data.get() + c.used.load(std::memory_order_acquire));
}

WaveFormat TMMSimulatedWaveOut::PlayedFormat(int device) const
{
    return mCapture[std::clamp(DeviceIndex(device), 0, DeviceCount - 1)].fmt;
}

void TMMSimulatedWaveOut::ClearPlayed(int device)
{
    mCapture[std::clamp(DeviceIndex(device), 0, DeviceCount - 1)].used.store(0);
}

MMRESULT TMMSimulatedWaveOut::GetDevCaps(int id, WaveOutCaps& caps)
{
    int d = 0;
    if (const MMRESULT r = CheckDevice(id, d)) return r;
    Caption("output", d, true, caps);
    return MMSYSERR_NOERROR;
}

MMRESULT TMMSimulatedWaveOut::Open(HWAVEOUT* h, int id, const WaveFormat& fmt, TWaveOutNotify cb, void* instance,
                                   uint32_t flags)
{
    int d = 0;
    if (const MMRESULT r = CheckDevice(id, d)) return r;
    const Faults& f = mFaults[d];
    const bool ok = fmt.wFormatTag == WAVE_FORMAT_PCM && (fmt.wBitsPerSample == 8 || fmt.wBitsPerSample == 16) &&
                    (fmt.nChannels == 1 || fmt.nChannels == 2) &&
                    fmt.nBlockAlign == fmt.nChannels * fmt.wBitsPerSample / 8 && fmt.nSamplesPerSec >= 4000 &&
                    fmt.nSamplesPerSec <= 192000;
    if (!ok || f.refuseFormat) return WAVERR_BADFORMAT;
    if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
    if (!h || !cb) return MMSYSERR_INVALPARAM;
    if (f.openError) return f.openError;
    Stream* s = mStreams.FreeSlot();
    if (!s) return MMSYSERR_ALLOCATED;
    Hold(*s);
    const HWAVEOUT handle = mStreams.NextHandle();
    s->queue.Bind(handle, cb, instance);
    s->device = d;
    s->fmt = fmt;
    s->frames.store(0);
    s->consumed = 0;
    s->t0 = std::chrono::steady_clock::now();
    s->paused.store(false);
    mCapture[d].fmt = fmt;
    s->state.store(sOpen);
    Release(*s);
    *h = handle;
    if (!f.noOpenConfirm) s->queue.Confirm(WOM_OPEN);
    return MMSYSERR_NOERROR;
}

MMRESULT TMMSimulatedWaveOut::Close(HWAVEOUT h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (s->queue.Pending() > 0 && s->state.load() == sOpen) return WAVERR_STILLPLAYING;
    Hold(*s);
    s->queue.ReturnAll();
    s->state.store(sFree);
    Release(*s);
    s->queue.Confirm(WOM_CLOSE);
    return MMSYSERR_NOERROR;
}

MMRESULT TMMSimulatedWaveOut::Write(HWAVEOUT h, PWaveHdr hdr)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (s->state.load() == sDead) return MMSYSERR_NODRIVER;
    if (mFaults[s->device].writeError) return mFaults[s->device].writeError;
    if (!hdr || !(hdr->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (!s->queue.Add(hdr)) return MMSYSERR_NOMEM;
    mTicker.Kick();
    return MMSYSERR_NOERROR;
}

MMRESULT TMMSimulatedWaveOut::Pause(HWAVEOUT h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (s->state.load() == sDead) return MMSYSERR_NODRIVER;
    s->paused.store(true);
    return MMSYSERR_NOERROR;
}

MMRESULT TMMSimulatedWaveOut::Restart(HWAVEOUT h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (s->state.load() == sDead) return MMSYSERR_NODRIVER;
    s->paused.store(false);
    mTicker.Kick();
    return MMSYSERR_NOERROR;
}

MMRESULT TMMSimulatedWaveOut::Reset(HWAVEOUT h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    Hold(*s);
    s->queue.ReturnAll();
    s->frames.store(0);
    s->paused.store(false);
    s->consumed = 0;
    s->t0 = std::chrono::steady_clock::now();
    Release(*s);
    return MMSYSERR_NOERROR;
}

int64_t TMMSimulatedWaveOut::StreamFrames(uintptr_t h)
{
    const Stream* s = Find(h);
    return s ? static_cast<int64_t>(s->frames.load(std::memory_order_relaxed)) : -1;
}

bool WriteSimOutputCapture(const TMMSimulatedWaveOut& out, int device, const std::string& path, std::string& error)
{
    const std::vector<uint8_t> played = out.Played(device);
    WaveFormat f = out.PlayedFormat(device);
    if (f.nChannels == 0) f.nChannels = 2;
    if (f.nSamplesPerSec == 0) f.nSamplesPerSec = 44100;
    std::vector<uint8_t> pcm16;
    if (f.wBitsPerSample == 8) {
        pcm16.reserve(played.size() * 2);
        for (uint8_t b : played) {
            const int16_t v = static_cast<int16_t>((int(b) - 128) * 256);
            pcm16.push_back(static_cast<uint8_t>(v & 0xFF));
            pcm16.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
        }
    } else {
        pcm16 = played;
    }
    const uint32_t align = f.nChannels * 2u;
    const uint32_t dataLen = static_cast<uint32_t>(pcm16.size() - pcm16.size() % align);
    auto le16 = [](std::vector<uint8_t>& v, uint32_t x) {
        v.push_back(x & 0xFF);
        v.push_back((x >> 8) & 0xFF);
    };
    auto le32 = [&](std::vector<uint8_t>& v, uint32_t x) {
        le16(v, x & 0xFFFF);
        le16(v, x >> 16);
    };
    std::vector<uint8_t> hdr;
    hdr.insert(hdr.end(), {'R', 'I', 'F', 'F'});
    le32(hdr, 36 + dataLen);
    hdr.insert(hdr.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    le32(hdr, 16);
    le16(hdr, 1);
    le16(hdr, f.nChannels);
    le32(hdr, f.nSamplesPerSec);
    le32(hdr, f.nSamplesPerSec * align);
    le16(hdr, align);
    le16(hdr, 16);
    hdr.insert(hdr.end(), {'d', 'a', 't', 'a'});
    le32(hdr, dataLen);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = "Cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(hdr.data(), 1, hdr.size(), file) == hdr.size();
    ok = ok && (dataLen == 0 || std::fwrite(pcm16.data(), 1, dataLen, file) == dataLen);
    ok = (std::fclose(file) == 0) && ok;
    if (!ok) error = "Cannot write " + path + ": " + std::strerror(errno);
    return ok;
}
