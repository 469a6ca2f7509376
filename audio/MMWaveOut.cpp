#include "audio/MMWaveOut.h"

#include <algorithm>
#include <thread>

#include <unistd.h>

namespace {

const char* const kNoDevice = "No wave audio playing device found";
const char* const kUnknownError = "Specified error number is out of range (unknown error)";
const char* const kChanged = "Change to property while device was open";

std::string prefixed(const char* prefix, const std::string& text) { return std::string(prefix) + "\n\r" + text; }

}  // namespace

TMMWaveOut::TMMWaveOut(TMMWaveOutDevice& device) : mDev(device)
{
    mDeviceCount = std::max(0, mDev.GetNumDevs());
    TMMMessagePoster::Register(this);
    setDeviceID(0);
}

TMMWaveOut::~TMMWaveOut()
{
    // No new buffer-done handler starts; a running one is let finish, so
    // that the stop below completes at once.
    mStopping.store(true);
    WaitUntil(
        [this] {
            std::lock_guard<std::mutex> g(mLock);
            return mNesting == 0;
        },
        500);
    {
        std::lock_guard<std::mutex> g(mLock);
        mStopPending = false;
        mClosing = false;
        mClosePending = false;
    }
    Close();
    mThread.reset();
    TMMMessagePoster::Unregister(this);
    DetachFromChain();
    mPool.FreeAll();
}

void TMMWaveOut::CheckClosed()
{
    if (DeviceOpen()) Error(kChanged);
}

void TMMWaveOut::setDeviceID(TMMDeviceId id)
{
    CheckClosed();
    mDeviceID = (id >= MapperId && id < mDeviceCount) ? id : InvalidId;
    WaveOutCaps caps;
    if (mDeviceID != InvalidId && mDev.GetDevCaps(mDeviceID, caps) == MMSYSERR_NOERROR)
        mProductName = caps.szPname;
    else
        mProductName = kNoDevice;
}

void TMMWaveOut::setNumBuffers(int n)
{
    CheckClosed();
    if (n <= 1) return;
    mNumBuffers = std::min(n, MaxBuffers);
}

void TMMWaveOut::SetBufferSize(int32_t size)
{
    CheckClosed();
    const int32_t s = std::max<int32_t>(size, 32);
    if (s != NominalBufferSize()) mPool.FreeAll();
    TMMCustomSoundComponent::SetBufferSize(s);
}

void TMMWaveOut::setCallBackMode(TMMCBMode mode)
{
    CheckClosed();
    if (mode == cmCallback) {
        // Handling returns in the audio context would read files there.
        ShowApplicationError("TMMWaveOut: the callback mode is not available on this system");
        return;
    }
    if (mode == cmWindow || mode == cmThread) mCallBackMode = mode;
}

void TMMWaveOut::Error(const std::string& text)
{
    ReportError(text);
    throw EMMWaveOutError(text);
}

void TMMWaveOut::ReportError(const std::string& text)
{
    mLastErrorText = text;
    if (OnError) OnError(this);
}

void TMMWaveOut::PlatformError(const char* prefix, MMRESULT r)
{
    std::string text;
    if (mDev.GetErrorText(r, text) != MMSYSERR_NOERROR) text = kUnknownError;
    Error(prefixed(prefix, text));
}

bool TMMWaveOut::WaitUntil(const std::function<bool()>& done, int polls)
{
    for (int i = 0; i < polls; ++i) {
        if (done()) return true;
        if (mCallBackMode == cmWindow) WindowPoster().ProcessMessages();
        std::this_thread::sleep_for(mPollDelay);
    }
    return done();
}

void TMMWaveOut::DeviceNotify(HWAVEOUT h, uint32_t msg, void* instance, PWaveHdr hdr)
{
    auto* self = static_cast<TMMWaveOut*>(instance);
    switch (msg) {
    case WOM_OPEN: self->mDevOpen.store(true); break;
    case WOM_CLOSE: self->mDevOpen.store(false); break;
    case WOM_DONE: {
        self->mInFlight.fetch_sub(1, std::memory_order_acq_rel);
        if (self->mResetting.load() || self->mStopping.load()) break;
        const uint32_t gen = self->mGeneration.load();
        self->mAwaiting.fetch_add(1, std::memory_order_acq_rel);
        if (self->mCallBackMode == cmThread) {
            if (self->mThread) self->mThread->Post(TMMMessage{nullptr, gen, h, hdr});
        } else {
            WindowPoster().Post(self, WOM_DONE, h, hdr);
        }
        break;
    }
    default: break;
    }
}

void TMMWaveOut::HandleMessage(uint32_t msg, uintptr_t wParam, void* lParam)
{
    switch (msg) {
    case WOM_DONE:
        if (wParam != 0 && wParam == mHandle.load()) {
            try {
                BufferDone(static_cast<PWaveHdr>(lParam), mGeneration.load());
            } catch (const std::exception& e) {
                HandlerFailed(e);
            }
        }
        break;
    case MM_WOM_STOP:
        if (wParam == mGeneration.load()) Stop();
        break;
    case MM_WOM_FAILED:
        if (wParam == mGeneration.load() && DeviceOpen()) {
            const std::string text = mFailText;
            ReportError(text);
            Close();
            ShowApplicationError(text);
        }
        break;
    default: break;
    }
}

void TMMWaveOut::HandlerFailed(const std::exception& e)
{
    if (mFailed.exchange(true)) return;
    mFailText = e.what();
    WindowPoster().Post(this, MM_WOM_FAILED, mGeneration.load(), nullptr);
}

void TMMWaveOut::Open()
{
    if (mDeviceCount == 0) Error(kNoDevice);
    if (mDeviceID == InvalidId) Error("Invalid DeviceID");
    const WaveFormat* fmt = GetFormat();
    if (!fmt) Error(prefixed("WaveOutOpen:", "Invalid wave format"));
    if (DeviceOpen()) Close();

    const WaveFormat f = *fmt;
    bool propagated = false;
    try {
        if (mDev.Open(nullptr, mDeviceID, f, nullptr, nullptr, WAVE_FORMAT_QUERY) != MMSYSERR_NOERROR)
            Error(prefixed("WaveOutOpen:", "The actual device can''t play this format"));
        Propagate(Note::Opened);
        propagated = true;
        mFailed.store(false);
        if (mCallBackMode == cmThread) {
            // The playback thread hands each returned buffer to the handler at
            // the output's Priority; the message carries the generation.
            mThread = std::make_unique<TMMNotifyThread>(this, 2048, [this](const TMMMessage& m) {
                if (m.wParam != 0 && m.wParam == mHandle.load()) {
                    try {
                        BufferDone(static_cast<PWaveHdr>(m.lParam), m.msg);
                    } catch (const std::exception& e) {
                        HandlerFailed(e);
                    }
                }
            });
            if (!mThread->Begin(mPriority)) {
                mThread.reset();
                Error(prefixed("WaveOut:", "Could not create thread"));
            }
        }
        mDevOpen.store(false);
        HWAVEOUT h = 0;
        Check("WaveOutOpen:", mDev.Open(&h, mDeviceID, f, &TMMWaveOut::DeviceNotify, this, 0));
        mHandle.store(h);
        if (!WaitUntil([this] { return mDevOpen.load(); }, 500))
            Error(prefixed("WaveOutOpen:", "Unable to open device"));
        mCapacity = static_cast<uint32_t>(GetBufferSize());
        mState.store(stOpen);
        mWraps = 0;
        mLastPos = 0;
        mStopFrames = 0;
    } catch (...) {
        const HWAVEOUT h = mHandle.exchange(0);
        if (h) mDev.Close(h);
        mThread.reset();
        if (propagated) Propagate(Note::Closed);
        mState.store(stClosed);
        throw;
    }
    if (OnOpen) OnOpen(this);
}

uint32_t TMMWaveOut::Fill(PWaveHdr hdr, bool& more)
{
    hdr->dwBufferLength = mCapacity;
    hdr->dwBytesRecorded = 0;
    hdr->dwFlags &= ~WHDR_DONE;
    more = false;
    BufferLoad(hdr, more);
    const uint32_t n = std::min(hdr->dwBytesRecorded, mCapacity);
    hdr->dwBufferLength = n;
    hdr->dwSavedBytes = n;
    if (n > 0 && OnBufferFilled) OnBufferFilled(this, hdr);
    return n;
}

int TMMWaveOut::QueueBuffers()
{
    const HWAVEOUT h = mHandle.load();
    if (static_cast<int>(mHeaders.size()) < mNumBuffers) mHeaders.resize(static_cast<size_t>(mNumBuffers), nullptr);
    bool more = true;
    int queued = 0;
    for (int i = 0; i < mNumBuffers && more; ++i) {
        PWaveHdr& hdr = mHeaders[static_cast<size_t>(i)];
        if (!hdr) {
            void* block = mPool.Allocate(TMMAllocator::GMEM_FIXED_ZEROINIT,
                                         static_cast<uint32_t>(sizeof(WaveHdr)) + mCapacity);
            if (!block) Error("Unable to allocate memory for wave header");
            hdr = static_cast<PWaveHdr>(block);
            *hdr = WaveHdr();
            hdr->lpData = static_cast<char*>(block) + sizeof(WaveHdr);
        }
        const uint32_t n = Fill(hdr, more);
        mMoreData.store(more);
        if (n == 0) break;
        Check("WaveOutWrite:", mDev.PrepareHeader(h, hdr));
        mInFlight.fetch_add(1);
        const MMRESULT r = mDev.Write(h, hdr);
        if (r != MMSYSERR_NOERROR) {
            mInFlight.fetch_sub(1);
            PlatformError("WaveOutWrite:", r);
        }
        ++queued;
        std::lock_guard<std::mutex> g(mLock);
        mQueued = queued;
    }
    return queued;
}

void TMMWaveOut::Start()
{
    if (!DeviceOpen()) Open();
    if (!DeviceOpen() || Playing()) return;
    {
        std::lock_guard<std::mutex> g(mLock);
        mBytesPlayed = 0;
        mWraps = 0;
        mLastPos = 0;
        mRingIndex = 0;
        mQueued = 0;
        mNesting = 0;
        mStopPending = mStopPosted = false;
    }
    mInFlight.store(0);
    mAwaiting.store(0);
    mStopping.store(false);
    mResetting.store(false);
    mGeneration.fetch_add(1);
    const HWAVEOUT h = mHandle.load();
    try {
        Check("WaveOutPause:", mDev.Pause(h));
        Propagate(Note::Started);
        const int queued = QueueBuffers();
        mState.store(stOpen | stPlaying);
        if (queued == 0) {
            Propagate(Note::Stopped);
            mState.store(stOpen);
            Close();
            Error(prefixed("WaveOutStart:", "Unable to start device"));
        }
        Check("WaveOutRestart:", mDev.Restart(h));
    } catch (...) {
        if (DeviceOpen()) {
            if (Playing()) {
                mStopping.store(true);
                mResetting.store(true);
                mDev.Reset(h);
                WaitUntil([this] { return mInFlight.load() <= 0; }, 500);
                mState.store(stOpen);
                Propagate(Note::Stopped);
                ReleaseBuffers();
            }
            Close();
        }
        throw;
    }
    if (OnStart) OnStart(this);
}

void TMMWaveOut::BufferDone(PWaveHdr hdr, uint32_t generation)
{
    if (generation == mGeneration.load()) mAwaiting.fetch_sub(1, std::memory_order_acq_rel);
    {
        std::lock_guard<std::mutex> g(mLock);
        if (!Playing() || mResetting.load() || mStopping.load() || mFailed.load() ||
            generation != mGeneration.load())
            return;
        ++mNesting;
    }
    struct Depth {
        TMMWaveOut* o;
        ~Depth()
        {
            std::lock_guard<std::mutex> g(o->mLock);
            --o->mNesting;
        }
    };
    bool post = false;
    {
        Depth depth{this};
        const HWAVEOUT h = mHandle.load();
        mDev.UnprepareHeader(h, hdr);
        {
            std::lock_guard<std::mutex> g(mLock);
            mBytesPlayed += hdr->dwSavedBytes;
            if (mQueued > 0) mRingIndex = (mRingIndex + 1) % mQueued;
        }
        hdr->dwBytesRecorded = hdr->dwSavedBytes;
        BufferReady(hdr);
        UpdatePosition();

        bool pending;
        {
            std::lock_guard<std::mutex> g(mLock);
            pending = mStopPending;
        }
        if (mMoreData.load() && !pending) {
            for (int i = 0; i < 65000 && !(hdr->dwFlags & WHDR_DONE); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            bool more = false;
            const uint32_t n = Fill(hdr, more);
            mMoreData.store(more);
            if (n == 0) throw EMMWaveOutError("Error filling wave buffer");
            std::lock_guard<std::mutex> g(mLock);
            if (!mStopPending && !mStopping.load()) {
                Check("WaveOutWrite:", mDev.PrepareHeader(h, hdr));
                mInFlight.fetch_add(1);
                const MMRESULT r = mDev.Write(h, hdr);
                if (r != MMSYSERR_NOERROR) {
                    mInFlight.fetch_sub(1);
                    std::string text;
                    if (mDev.GetErrorText(r, text) != MMSYSERR_NOERROR) text = kUnknownError;
                    throw EMMWaveOutError(prefixed("WaveOutWrite:", text));
                }
            }
        }
    }
    {
        std::lock_guard<std::mutex> g(mLock);
        if (mNesting == 0 && (mStopPending || (mInFlight.load() <= 0 && mAwaiting.load() <= 0)) && !mStopPosted) {
            mStopPosted = true;
            mStopping.store(true);
            post = true;
        }
    }
    if (post) {
        const MMRESULT r = mDev.Pause(mHandle.load());
        WindowPoster().Post(this, MM_WOM_STOP, mGeneration.load(), nullptr);
        if (r != MMSYSERR_NOERROR) {
            std::string text;
            if (mDev.GetErrorText(r, text) != MMSYSERR_NOERROR) text = kUnknownError;
            throw EMMWaveOutError(prefixed("WaveOutPause:", text));
        }
    }
}

void TMMWaveOut::UpdatePosition()
{
    MMTime t;
    if (mDev.GetPosition(mHandle.load(), t) != MMSYSERR_NOERROR) return;
    uint32_t v = t.value;
    if (t.wType == MMTime::TIME_BYTES) {
        const WaveFormat* f = GetFormat();
        v = f && f->nBlockAlign ? v / f->nBlockAlign : v;
    }
    std::lock_guard<std::mutex> g(mLock);
    if (v < mLastPos && mLastPos - v > 65534) ++mWraps;
    mLastPos = v;
}

void TMMWaveOut::ReleaseBuffers()
{
    const HWAVEOUT h = mHandle.load();
    std::lock_guard<std::mutex> g(mLock);
    for (int i = 0; i < mQueued && i < static_cast<int>(mHeaders.size()); ++i) {
        PWaveHdr hdr = mHeaders[static_cast<size_t>(i)];
        if (!hdr) continue;
        if (hdr->dwFlags & WHDR_PREPARED) mDev.UnprepareHeader(h, hdr);
    }
    for (auto& hdr : mHeaders)
        if (hdr) mPool.Release(hdr);
    mQueued = 0;
    mRingIndex = 0;
    mStopPending = false;
}

void TMMWaveOut::Stop()
{
    if (!Playing()) return;
    {
        std::lock_guard<std::mutex> g(mLock);
        mStopping.store(true);
        mResetting.store(true);
    }
    UpdatePosition();
    {
        std::lock_guard<std::mutex> g(mLock);
        mStopFrames = (mWraps << 32) + mLastPos;
    }
    const HWAVEOUT h = mHandle.load();
    const MMRESULT r = mDev.Reset(h);
    {
        std::lock_guard<std::mutex> g(mLock);
        if (mNesting > 0) {
            mStopPending = true;
            mStopPosted = false;
            return;
        }
    }
    mState.store(stOpen);
    WaitUntil([this] { return mInFlight.load() <= 0; }, 500);
    mGeneration.fetch_add(1);  // drops returns still waiting for the thread
    Propagate(Note::Stopped);
    ReleaseBuffers();
    if (r != MMSYSERR_NOERROR) {
        std::string text;
        if (mDev.GetErrorText(r, text) != MMSYSERR_NOERROR) text = kUnknownError;
        ReportError(prefixed("WaveOutReset:", text));
    }
    if (OnStop) OnStop(this);
    bool closeNow;
    {
        std::lock_guard<std::mutex> g(mLock);
        closeNow = mClosePending;
    }
    if (closeNow) Close();
}

void TMMWaveOut::Pause()
{
    if (!Playing() || DevicePaused()) return;
    Check("WaveOutPause:", mDev.Pause(mHandle.load()));
    mState.store(stOpen | stPlaying | stPaused);
    Propagate(Note::Paused);
    if (OnPause) OnPause(this);
}

void TMMWaveOut::Restart()
{
    if (!DevicePaused()) return;
    Check("WaveOutRestart:", mDev.Restart(mHandle.load()));
    mState.store(stOpen | stPlaying);
    Propagate(Note::Restarted);
    if (OnRestart) OnRestart(this);
}

void TMMWaveOut::Reposition()
{
    if (!Playing()) return;
    const bool paused = DevicePaused();
    const HWAVEOUT h = mHandle.load();
    Check("WaveOutPause:", mDev.Pause(h));
    mResetting.store(true);
    mGeneration.fetch_add(1);
    Check("WaveOutReset:", mDev.Reset(h));
    WaitUntil([this] { return mInFlight.load() <= 0; }, 100);
    mAwaiting.store(0);
    {
        std::lock_guard<std::mutex> g(mLock);
        for (auto& hdr : mHeaders)
            if (hdr && (hdr->dwFlags & WHDR_PREPARED)) mDev.UnprepareHeader(h, hdr);
        mBytesPlayed = 0;
        mWraps = 0;
        mLastPos = 0;
        mRingIndex = 0;
        mStopPending = mStopPosted = false;
    }
    Propagate(Note::Reset);
    mResetting.store(false);
    mStopping.store(false);
    const int queued = QueueBuffers();
    if (queued == 0) {
        Stop();
        return;
    }
    if (!paused) Check("WaveOutRestart:", mDev.Restart(h));
}

void TMMWaveOut::CloseDevice(bool fireEvent)
{
    const HWAVEOUT h = mHandle.load();
    MMRESULT r = MMSYSERR_NOERROR;
    bool closed = true;
    if (h) {
        r = mDev.Close(h);
        if (r == MMSYSERR_NOERROR) closed = WaitUntil([this] { return !mDevOpen.load(); }, 500);
    }
    Propagate(Note::Closed);
    mThread.reset();
    mHandle.store(0);
    mState.store(stClosed);
    {
        std::lock_guard<std::mutex> g(mLock);
        mClosing = mClosePending = false;
    }
    if (r != MMSYSERR_NOERROR) {
        std::string text;
        if (mDev.GetErrorText(r, text) != MMSYSERR_NOERROR) text = kUnknownError;
        ReportError(prefixed("WaveOutClose:", text));
    } else if (!closed) {
        ReportError(prefixed("WaveOutClose:", "Unable to close device"));
    }
    if (fireEvent && OnClose) OnClose(this);
}

void TMMWaveOut::Close()
{
    {
        std::lock_guard<std::mutex> g(mLock);
        if (!DeviceOpen() || (mClosing && !mClosePending)) return;
        mClosing = true;
    }
    if (Playing()) {
        try {
            Stop();
        } catch (const std::exception& e) {
            ReportError(e.what());
        }
    }
    {
        std::lock_guard<std::mutex> g(mLock);
        if (!DeviceOpen()) return;  // closed by Stop's OnStop
        if (mStopPending) {
            mClosePending = true;
            return;
        }
    }
    CloseDevice(true);
}

int64_t TMMWaveOut::BytesPlayed() const
{
    std::lock_guard<std::mutex> g(mLock);
    return mBytesPlayed;
}

int64_t TMMWaveOut::Position()
{
    int64_t frames;
    if (Playing()) {
        UpdatePosition();
        std::lock_guard<std::mutex> g(mLock);
        frames = (mWraps << 32) + mLastPos;
    } else {
        std::lock_guard<std::mutex> g(mLock);
        frames = mStopFrames;
    }
    const WaveFormat* f = GetFormat();
    if (!f || f->nSamplesPerSec == 0) return 0;
    switch (mTimeFormat) {
    case tfSample: return frames;
    case tfByte: return frames * f->nBlockAlign;
    case tfMillisecond: return (frames * 1000 + f->nSamplesPerSec / 2) / f->nSamplesPerSec;
    }
    return frames;
}
