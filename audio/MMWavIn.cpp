#include "audio/MMWavIn.h"

#include "audio/MMSimWaveIn.h"
#include "base/SteadyClock.h"

#include <algorithm>
#include <climits>
#include <new>
#include <thread>

namespace {

const char* const kChangeWhileOpen = "Change to property while device was open";
const char* const kNoDevice = "No wave audio recording device found";
const char* const kUnknownError = "Specified error number is out of range (unknown error)";

// Guards the counters and the stop sequence in cmThread and cmCallback modes;
// cmWindow runs everything on the GUI thread and takes no lock.
class Guard {
public:
    Guard(std::mutex& m, bool use) : mM(use ? &m : nullptr)
    {
        if (mM) mM->lock();
    }
    ~Guard()
    {
        if (mM) mM->unlock();
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    std::mutex* mM;
};

// Nearest quotient a*b/c with a 64-bit result (no 32-bit wrap).
int64_t nearest64(int64_t a, int64_t b, int64_t c)
{
    if (c == 0) return 0;
    const int64_t p = a * b;
    return p / c + (2 * (p % c)) / c;
}

// The recorder whose buffer handler runs on this thread outside the GUI
// thread (cmThread, cmCallback). Closing from there is left to the GUI thread.
thread_local const TMMCustomWaveIn* tlInHandler = nullptr;

struct InHandlerScope {
    const TMMCustomWaveIn* saved;
    InHandlerScope(const TMMCustomWaveIn* w, bool offGui) : saved(tlInHandler)
    {
        if (offGui) tlInHandler = w;
    }
    ~InHandlerScope() { tlInHandler = saved; }
};

TMMWaveInDevice*& currentDevice()
{
    static TMMWaveInDevice* d = nullptr;
    return d;
}

}  // namespace

// ---------------------------------------------------------------------------

void SetWaveInDevice(TMMWaveInDevice* device) { currentDevice() = device; }

TMMWaveInDevice& WaveInDevice()
{
    if (currentDevice()) return *currentDevice();
    static TMMSimulatedWaveIn fallback;
    return fallback;
}

TMMWaveIn::TMMWaveIn() : TMMCustomWaveIn(WaveInDevice()) {}

TMMWaveIn::~TMMWaveIn() { CloseForDestruction(); }

TMMCustomWaveIn::TMMCustomWaveIn(TMMWaveInDevice& device) : mDev(device)
{
    mDeviceCount = std::max(0, mDev.GetNumDevs());
    BuildFormat();
    setDeviceID(0);
    TMMMessagePoster::Register(this);
}

TMMCustomWaveIn::~TMMCustomWaveIn()
{
    CloseForDestruction();
    TMMMessagePoster::Unregister(this);
    DetachFromChain();
    mPool.FreeAll();
}

void TMMCustomWaveIn::CloseForDestruction()
{
    mBeingDestroyed = true;
    DoClose(true);
}

// ---------------------------------------------------------------------------
// Errors

void TMMCustomWaveIn::FireError()
{
    if (OnError) OnError(this);
}

void TMMCustomWaveIn::Error(const std::string& text)
{
    mLastErrorText = text;
    FireError();
    throw EMMWaveInError(text);
}

void TMMCustomWaveIn::ReportError(const std::string& text)
{
    try {
        Error(text);
    } catch (const EMMWaveInError&) {
    }
}

void TMMCustomWaveIn::PlatformError(const char* prefix, MMRESULT r)
{
    std::string text;
    if (mDev.GetErrorText(r, text) != MMSYSERR_NOERROR) text = kUnknownError;
    if (text.size() > 255) text.resize(255);
    Error(std::string(prefix) + text);
}

// Clean-up of a failing operation: our own errors have fired OnError already.
void TMMCustomWaveIn::FailedOperation(bool ours)
{
    if (!ours) FireError();
}

// ---------------------------------------------------------------------------
// Properties

bool TMMCustomWaveIn::DeviceOpen() const { return !mReportClosed && (mState.load() & stOpen) != 0; }

void TMMCustomWaveIn::CheckClosed()
{
    if (DeviceOpen()) Error(kChangeWhileOpen);
}

void TMMCustomWaveIn::BuildFormat()
{
    WaveFormat f;
    BuildPcmFormat(f, (static_cast<int>(mBitLength) + 1) * 8, mChannels, mSampleRate);
    TMMDSPComponent::SetFormat(&f);
}

void TMMCustomWaveIn::SetFormat(const WaveFormat* fmt)
{
    TMMDSPComponent::SetFormat(fmt);
    // Keep the properties in step with a PCM format given from outside.
    if (fmt && fmt->wFormatTag == WAVE_FORMAT_PCM && (fmt->wBitsPerSample == 8 || fmt->wBitsPerSample == 16)) {
        mBitLength = fmt->wBitsPerSample == 16 ? b16Bit : b8Bit;
        mChannels = std::clamp<int>(fmt->nChannels, 1, 8);
        mSampleRate = std::clamp<int>(static_cast<int>(std::min<uint32_t>(fmt->nSamplesPerSec, 100000)), 8000, 100000);
    }
}

void TMMCustomWaveIn::setDeviceID(TMMDeviceId id)
{
    CheckClosed();
    if (mLost) {
        mLostTotal += NowMs() - mLostSince;
        mLost = false;
    }
    mProductName = kNoDevice;
    if (mDeviceCount > 0 && id >= -1 && id < mDeviceCount) {
        WaveInCaps caps;
        if (mDev.GetDevCaps(id, caps) == MMSYSERR_NOERROR) mProductName = caps.szPname;
    }
    mDeviceID = (id < -1 || id >= mDeviceCount) ? InvalidId : id;
}

std::string TMMCustomWaveIn::DeviceName(int index)
{
    if (index < -1 || index >= mDeviceCount) return "";
    WaveInCaps caps;
    if (mDev.GetDevCaps(index, caps) != MMSYSERR_NOERROR) return "";
    return caps.szPname;
}

void TMMCustomWaveIn::setNumBuffers(int n)
{
    if (n <= 1 || n == mNumBuffers) return;
    CheckClosed();
    mNumBuffers = std::min(n, MaxBuffers);
}

int32_t TMMCustomWaveIn::GetBufferSize() const { return TMMDSPComponent::GetBufferSize(); }

void TMMCustomWaveIn::SetBufferSize(int32_t size)
{
    if (size == NominalBufferSize()) return;
    CheckClosed();
    mPool.FreeAll();
    TMMDSPComponent::SetBufferSize(std::max<int32_t>(size, 32));
}

TMMMode TMMCustomWaveIn::Mode() const
{
    if (mChannels == 2) return mStereo;
    if (mChannels == 1) return mMono;
    return mMultiChannel;
}

void TMMCustomWaveIn::setMode(TMMMode mode)
{
    if (mode == mMono)
        setChannels(1);
    else if (mode == mStereo)
        setChannels(2);
}

void TMMCustomWaveIn::setChannels(int n)
{
    CheckClosed();
    mChannels = std::clamp(n, 1, 8);
    BuildFormat();
}

void TMMCustomWaveIn::setBitLength(TMMBits bits)
{
    CheckClosed();
    mBitLength = bits == b16Bit ? b16Bit : b8Bit;
    BuildFormat();
}

void TMMCustomWaveIn::setSampleRate(int rate)
{
    CheckClosed();
    mSampleRate = std::clamp(rate, 8000, 100000);
    BuildFormat();
}

void TMMCustomWaveIn::setCallBackMode(TMMCBMode mode)
{
    CheckClosed();
    // Every mode is available on this platform.
    if (mode == cmWindow || mode == cmCallback || mode == cmThread) mCallBackMode = mode;
}

void TMMCustomWaveIn::setPriority(TThreadPriority p)
{
    mPriority = p;
    if (mThread) mThread->SetPriority(p);
}

namespace {

int64_t toBytes(const WaveFormat* f, TMMTimeFormats tf, int64_t v)
{
    if (!f) return -1;
    switch (tf) {
    case tfMillisecond: return nearest64(v, f->nAvgBytesPerSec, 1000);
    case tfSample: return nearest64(v, f->nAvgBytesPerSec, f->nSamplesPerSec);
    case tfByte: return v;
    }
    return -1;
}

int64_t fromBytes(const WaveFormat* f, TMMTimeFormats tf, int64_t bytes)
{
    if (!f) return -1;
    switch (tf) {
    case tfMillisecond: return nearest64(bytes, 1000, f->nAvgBytesPerSec);
    case tfSample: return nearest64(bytes, f->nSamplesPerSec, f->nAvgBytesPerSec);
    case tfByte: return bytes;
    }
    return -1;
}

}  // namespace

int64_t TMMCustomWaveIn::ComputeByteLimit() const
{
    const WaveFormat* f = GetFormat();
    if (mMaxRecordTime < 0 || !f || f->nBlockAlign == 0 || f->nSamplesPerSec == 0) return INT32_MAX;
    int64_t bytes = toBytes(f, mTimeFormat, mMaxRecordTime);
    if (bytes < 0 || bytes > INT32_MAX) bytes = INT32_MAX;
    // Whole frames, rounded up for time units like MsToBytes and SamplesToBytes.
    if (mTimeFormat != tfByte) bytes = std::min<int64_t>(AlignToFrames(f, static_cast<int32_t>(std::min<int64_t>(bytes, INT32_MAX - 8))), INT32_MAX);
    return bytes - bytes % f->nBlockAlign;
}

void TMMCustomWaveIn::setTimeFormat(TMMTimeFormats tf)
{
    if (tf == mTimeFormat) return;
    if (mMaxRecordTime >= 0) {
        const int64_t bytes = ComputeByteLimit();
        mTimeFormat = tf;
        const int64_t v = fromBytes(GetFormat(), tf, bytes);
        mMaxRecordTime = static_cast<int32_t>(std::clamp<int64_t>(v, 0, INT32_MAX));
    } else {
        mTimeFormat = tf;
    }
}

void TMMCustomWaveIn::setMaxRecordTime(int32_t t) { mMaxRecordTime = std::max<int32_t>(t, -1); }

// ---------------------------------------------------------------------------
// Device notification (device context) and the window route (GUI thread)

void TMMCustomWaveIn::DeviceNotify(HWAVEIN h, uint32_t msg, void* instance, PWaveHdr hdr)
{
    auto* self = static_cast<TMMCustomWaveIn*>(instance);
    switch (msg) {
    case WIM_OPEN: self->mState.store(stOpen); break;
    case WIM_CLOSE: self->mState.store(stClosed); break;
    case WIM_DATA:
        switch (self->mCallBackMode) {
        case cmWindow: WindowPoster().Post(self, WIM_DATA, h, hdr); break;
        case cmThread:
            if (self->mThread) self->mThread->Post(TMMMessage{nullptr, WIM_DATA, h, hdr});
            break;
        case cmCallback:
            if (h != self->mHandle.load()) break;
            try {
                self->BufferReturned(hdr);
            } catch (const std::exception& e) {
                self->HandlerFailed(e);
            }
            break;
        }
        break;
    default: break;
    }
}

void TMMCustomWaveIn::HandlerFailed(const std::exception& e)
{
    if (mThreadFailed.exchange(true)) return;
    mFailText = e.what();
    WindowPoster().Post(this, MM_WIM_FAILED, mHandle.load(), nullptr);
}

void TMMCustomWaveIn::HandleMessage(uint32_t msg, uintptr_t wParam, void* lParam)
{
    if (wParam == 0 || wParam != mHandle.load()) return;
    try {
        switch (msg) {
        case WIM_DATA: BufferReturned(static_cast<PWaveHdr>(lParam)); break;
        case MM_WIM_STOP: Stop(); break;
        case MM_WIM_FAILED:
            if (mReopenInterval > 0 && mDeviceFailed.load()) {
                Lose();
                break;
            }
            Close();
            ShowApplicationError(mFailText);
            break;
        default: break;
        }
    } catch (const std::exception& e) {
        if (mReopenInterval > 0 && mDeviceFailed.load()) {
            Lose();
            return;
        }
        // A failing handler closes the recorder; the others carry on.
        Close();
        ShowApplicationError(e.what());
    }
}

// ---------------------------------------------------------------------------
// Recovery (GUI thread)

int64_t TMMCustomWaveIn::NowMs() const
{
    if (mClock) return mClock();
    return SteadyNowMs();
}

void TMMCustomWaveIn::DeviceEvent(const char* what)
{
    if (OnDeviceEvent) OnDeviceEvent(what, mProductName);
}

void TMMCustomWaveIn::Lose(const char* reason)
{
    DoClose(false);
    if (mLost) return;
    mFailureReason = reason;
    mLost = true;
    mLostSince = mLastAttempt = NowMs();
    DeviceEvent("lost");
}

double TMMCustomWaveIn::SecondsLost() const
{
    const int64_t ms = mLostTotal + (mLost ? NowMs() - mLostSince : 0);
    return ms / 1000.0;
}

void TMMCustomWaveIn::Poll()
{
    if (mReopenInterval <= 0) return;
    const int64_t now = NowMs();
    // Polls far apart: the thread that polls (and hands the buffers on) was
    // held up itself, so a quiet stretch says nothing about the device.
    const bool pollerAway = mLastPoll >= 0 && now - mLastPoll > mStallTimeout / 2;
    mLastPoll = now;
    if (!mLost) {
        // Stall check: a started recorder whose device went quiet.
        if (!DeviceStarted() || DevicePaused() || mClosing) return;
        if (!mDev.DevicePresent(mHandle.load())) {
            Lose();
            return;
        }
        const int64_t bytes = mBytesDelivered.load(std::memory_order_relaxed);
        if (bytes != mWatchBytes || pollerAway) {
            mWatchBytes = bytes;
            mWatchSince = now;
        } else if (now - mWatchSince >= mStallTimeout) {
            Lose();
            return;
        }
        // Rate check: a device that delivers only a trickle (under a quarter
        // of its format's byte rate over a stall timeout, counted from its
        // first buffer) leaves bars and detector reading scraps of the
        // programme; it is lost as well and opened again.
        if (pollerAway || (mRateBytes < 0 && bytes > 0)) {
            mRateBytes = bytes > 0 ? bytes : -1;
            mRateSince = now;
        } else if (mRateBytes >= 0 && now - mRateSince >= mStallTimeout) {
            const WaveFormat* f = GetFormat();
            const int64_t expected = f ? static_cast<int64_t>(f->nAvgBytesPerSec) * (now - mRateSince) / 1000 : 0;
            const bool trickle = expected > 0 && (bytes - mRateBytes) * 4 < expected;
            mRateBytes = bytes;
            mRateSince = now;
            if (trickle) Lose("the device delivered under a quarter of its rate");
        }
        return;
    }
    if (now - mLastAttempt < mReopenInterval) return;
    mLastAttempt = now;
    mReopening = true;
    try {
        FindDeviceAgain();
        Start();
    } catch (const std::exception&) {
        // Still gone; the next attempt follows after the interval.
    }
    mReopening = false;
    if (!DeviceStarted()) return;
    mLost = false;
    ++mReopens;
    mLostTotal += now - mLostSince;
    DeviceEvent("reopened");
}

bool TMMCustomWaveIn::WaitUntil(const std::function<bool()>& done)
{
    const bool window = mCallBackMode == cmWindow;
    for (int i = 0; i < 100; ++i) {
        if (done()) return true;
        if (window) {
            WindowPoster().ProcessMessages();
            if (done()) return true;
        }
        std::this_thread::sleep_for(mPollDelay);
    }
    return done();
}

// ---------------------------------------------------------------------------
// Operations (GUI thread)

void TMMCustomWaveIn::StartThread()
{
    mThread = std::make_unique<TMMNotifyThread>(this, MaxBuffers * 2, [this](const TMMMessage& m) {
        if (m.wParam == Handle() && m.wParam != 0) {
            try {
                BufferReturned(static_cast<PWaveHdr>(m.lParam));
            } catch (const std::exception& e) {
                HandlerFailed(e);
            }
        }
    });
    if (!mThread->Begin(mPriority)) {
        mThread.reset();
        Error("WaveIn:\n\rCould not create thread");
    }
}

void TMMCustomWaveIn::EndThread()
{
    if (mThread) {
        mThread->End();
        mThread.reset();
    }
}

void TMMCustomWaveIn::Open()
{
    if (mDeviceCount == 0) Error(kNoDevice);
    if (mDeviceID == InvalidId) Error("Invalid DeviceID");
    const WaveFormat* fmt = GetFormat();
    if (!fmt) Error("Invalid wave format");
    if (DeviceOpen()) Close();
    if (DeviceOpen() || mClosing) return;
    mStopping = mResetting = mClosing = mStopPosted = false;
    mThreadFailed.store(false);
    try {
        // Format check: the device's answer, then the standard capability bit.
        bool ok = mDev.Open(nullptr, mDeviceID, *fmt, nullptr, nullptr, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR;
        if (ok && fmt->wFormatTag == WAVE_FORMAT_PCM) {
            WaveInCaps caps;
            const uint32_t bit = StandardFormatBit(*fmt);
            ok = mDev.GetDevCaps(mDeviceID, caps) == MMSYSERR_NOERROR && (bit == 0 || (caps.dwFormats & bit));
        }
        if (!ok) Error("WaveInOpen:\n\rThe actual device can''t record this format");

        mHandle.store(0);
        mClosePending = false;
        if (mCallBackMode == cmThread) StartThread();

        HWAVEIN h = 0;
        const MMRESULT r = mDev.Open(&h, mDeviceID, *fmt, &TMMCustomWaveIn::DeviceNotify, this, 0);
        mLastError = r;
        if (r != MMSYSERR_NOERROR) PlatformError("WaveInOpen:\n\r", r);
        mHandle.store(h);

        // The chain fixes its working buffer sizes; meanwhile we read as closed.
        mReportClosed = true;
        try {
            Opened();
        } catch (...) {
            mReportClosed = false;
            throw;
        }
        mReportClosed = false;

        if (!WaitUntil([this] { return (mState.load() & stOpen) != 0; }))
            Error("WaveInOpen:\n\rUnable to open device");

        const uint32_t size = static_cast<uint32_t>(std::max<int32_t>(GetBufferSize(), 1));
        mHeaders.resize(static_cast<size_t>(mNumBuffers), nullptr);
        for (auto& slot : mHeaders) {
            if (slot) continue;
            void* block = mPool.Allocate(TMMAllocator::GMEM_FIXED_ZEROINIT, static_cast<uint32_t>(sizeof(WaveHdr)) + size);
            if (!block) Error("Unable to allocate memory for wave header");
            auto* hdr = new (block) WaveHdr();
            hdr->lpData = static_cast<char*>(block) + sizeof(WaveHdr);
            hdr->dwBufferLength = size;
            slot = hdr;
        }
        for (PWaveHdr hdr : mHeaders) Check("WaveInPrepareHeader:\n\r", mDev.PrepareHeader(h, hdr));
        if (OnOpen) OnOpen(this);
        if (!mReopening) DeviceEvent("opened");
    } catch (const std::exception& e) {
        FailedOperation(dynamic_cast<const EMMWaveInError*>(&e) != nullptr);
        mState.fetch_or(stOpen);
        DoClose(false);
        mState.store(stClosed);
        throw;
    }
}

void TMMCustomWaveIn::QueueHeader(PWaveHdr hdr)
{
    hdr->dwFlags = (hdr->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
    {
        Guard g(mLock, LockedMode());
        ++mQueued;
    }
    const MMRESULT r = mDev.AddBuffer(mHandle.load(), hdr);
    if (r != MMSYSERR_NOERROR) {
        {
            Guard g(mLock, LockedMode());
            --mQueued;
        }
        mLastError = r;
        PlatformError("WaveInAddBuffer:\n\r", r);
    }
}

void TMMCustomWaveIn::Start()
{
    if (mReopenInterval <= 0) {
        StartDevice();
        return;
    }
    try {
        StartDevice();
    } catch (const std::exception& e) {
        StartFailed(e.what());
        throw;
    }
    mFailureReason.clear();
}

void TMMCustomWaveIn::StartFailed(const std::string& text)
{
    // No device assigned (one that is not connected): nothing to retry.
    if (mDeviceID == InvalidId) return;
    std::string reason;
    for (char c : text) reason += (c == '\n' || c == '\r') ? ' ' : c;
    while (reason.find("  ") != std::string::npos) reason.erase(reason.find("  "), 1);
    WaveInCaps caps;
    const int rate = static_cast<int>(SampleRate());
    if (mDeviceID != InvalidId && mDev.GetDevCaps(mDeviceID, caps) == MMSYSERR_NOERROR && caps.dwSampleRate != 0 &&
        static_cast<int>(caps.dwSampleRate) != rate)
        reason += "; the device runs at " + std::to_string(caps.dwSampleRate) + " Hz, not " + std::to_string(rate) +
                  " Hz";
    mFailureReason = reason;
    // Retried like a lost device; told once per episode (a reopen attempt
    // only updates the reason).
    if (mLost) return;
    mLost = true;
    mLostSince = mLastAttempt = NowMs();
    DeviceEvent("failed");
}

void TMMCustomWaveIn::FindDeviceAgain()
{
    // The default device is whatever the back end calls default now.
    if (mDeviceID < 0 || mProductName.empty() || DeviceOpen()) return;
    WaveInCaps caps;
    if (mDev.GetDevCaps(mDeviceID, caps) == MMSYSERR_NOERROR && caps.szPname == mProductName) return;
    for (const TMMDeviceInfo& d : mDev.InputDevices())
        if (d.id >= 0 && d.name == mProductName) {
            mDeviceID = d.id;  // the same device, listed elsewhere now
            return;
        }
}

void TMMCustomWaveIn::StartDevice()
{
    if (!DeviceOpen()) Open();
    if (!DeviceOpen() || DeviceStarted()) return;
    try {
        {
            Guard g(mLock, LockedMode());
            mBytesDelivered.store(0, std::memory_order_relaxed);
            mHandlersRunning = 0;
            mStopPending = mStopping = mResetting = mStopPosted = false;
            mLimitReached = false;
            mQueued = 0;
            mLastPosition = 0;
            mWrapCount = 0;
        }
        mByteLimit = ComputeByteLimit();
        mDeviceFailed.store(false);
        mWatchBytes = 0;
        mWatchSince = NowMs();
        mRateBytes = -1;
        for (PWaveHdr hdr : mHeaders) QueueHeader(hdr);
        mState.fetch_or(stStarted);
        if (!DevicePaused()) Check("WaveInStart:\n\r", mDev.Start(mHandle.load()));
        Started();
        if (OnStart) OnStart(this);
    } catch (const std::exception& e) {
        FailedOperation(dynamic_cast<const EMMWaveInError*>(&e) != nullptr);
        mState.fetch_or(stStarted);
        DoClose(false);
        mState.store(stClosed);
        throw;
    }
}

void TMMCustomWaveIn::Pause()
{
    if (!DeviceOpen()) Open();
    if (!DeviceOpen() || DevicePaused()) return;
    try {
        // The partly filled buffer comes back and is delivered and re-queued.
        if (DeviceStarted()) Check("WaveInPause:\n\r", mDev.Stop(mHandle.load()));
        mState.fetch_or(stPaused);
        Paused();
        if (OnPause) OnPause(this);
    } catch (const std::exception& e) {
        FailedOperation(dynamic_cast<const EMMWaveInError*>(&e) != nullptr);
        DoClose(false);
        throw;
    }
}

void TMMCustomWaveIn::Restart()
{
    if (!DeviceStarted() || !DevicePaused()) return;
    try {
        Check("WaveInRestart:\n\r", mDev.Start(mHandle.load()));
        mState.fetch_and(~static_cast<unsigned>(stPaused));
        Restarted();
        if (OnRestart) OnRestart(this);
    } catch (const std::exception& e) {
        FailedOperation(dynamic_cast<const EMMWaveInError*>(&e) != nullptr);
        DoClose(false);
        throw;
    }
}

void TMMCustomWaveIn::Stop()
{
    if (!DeviceStarted() && !DevicePaused()) return;
    try {
        const HWAVEIN h = mHandle.load();
        {
            Guard g(mLock, LockedMode());
            mStopping = true;
        }
        // Device calls run outside the lock: a device may wait for its
        // callback, which takes the lock in cmCallback mode.
        Check("WaveInStop:\n\r", mDev.Stop(h));
        mLastPosition = 0;
        mWrapCount = 0;
        {
            Guard g(mLock, LockedMode());
            mResetting = true;
        }
        Check("WaveInReset:\n\r", mDev.Reset(h));
        bool running;
        {
            Guard g(mLock, LockedMode());
            running = mHandlersRunning > 0;
        }
        if (!running)
            WaitUntil([this] {
                Guard g(mLock, LockedMode());
                return mQueued <= 0;
            });
        StoppedStep();
    } catch (const std::exception& e) {
        FailedOperation(dynamic_cast<const EMMWaveInError*>(&e) != nullptr);
        DoClose(false);
        throw;
    }
}

void TMMCustomWaveIn::StoppedStep()
{
    {
        Guard g(mLock, LockedMode());
        if (mHandlersRunning > 0) {
            mStopPending = true;
            return;
        }
        // A nested Stop (run from the wait's message dispatch) finished it.
        if ((mState.load() & (stStarted | stPaused)) == 0) return;
        mState.fetch_and(~static_cast<unsigned>(stStarted | stPaused));
        mQueued = 0;
        mStopPending = false;
    }
    Stopped();
    if (OnStop && !mBeingDestroyed) OnStop(this);
    if (mClosePending) Close();
}

void TMMCustomWaveIn::Close()
{
    // Closed on purpose: no more reopen attempts.
    if (mLost) {
        mLostTotal += NowMs() - mLostSince;
        mLost = false;
    }
    DoClose(false);
}

void TMMCustomWaveIn::DoClose(bool destroying)
{
    // Inside a handler off the GUI thread: the failure travels to the GUI
    // thread (HandlerFailed), which closes.
    if (tlInHandler == this) return;
    if ((mState.load() & stOpen) == 0) return;
    if (mClosing && !mClosePending) return;
    mClosePending = false;
    mClosing = true;

    if (DeviceStarted() || DevicePaused()) {
        try {
            Stop();
        } catch (const EMMWaveInError&) {
            // Reported; the close goes on.
        } catch (const std::exception& e) {
            ReportError(e.what());
        }
        if (mStopPending) {
            if (!destroying) {
                mClosePending = true;
                return;
            }
            // Being destroyed: wait for the running handler, then finish.
            WaitUntil([this] {
                Guard g(mLock, LockedMode());
                return mHandlersRunning == 0;
            });
        }
        if (DeviceStarted() || DevicePaused()) {
            // The stop failed or stayed pending: finish it here.
            {
                Guard g(mLock, LockedMode());
                mState.fetch_and(~static_cast<unsigned>(stStarted | stPaused));
                mStopPending = false;
                mQueued = 0;
            }
            try {
                Stopped();
            } catch (const std::exception& e) {
                ReportError(e.what());
            }
        }
    }

    bool confirmed = true;
    const HWAVEIN h = mHandle.load();
    if (h != 0) {
        mDev.Stop(h);
        mDev.Reset(h);
        for (PWaveHdr hdr : mHeaders) {
            if (!hdr) continue;
            for (int i = 0; i < 65000 && !(hdr->dwFlags & WHDR_DONE); ++i) {
            }
            hdr->dwFlags |= WHDR_DONE;
            const MMRESULT r = mDev.UnprepareHeader(h, hdr);
            if (r != MMSYSERR_NOERROR) {
                std::string text;
                if (mDev.GetErrorText(r, text) != MMSYSERR_NOERROR) text = kUnknownError;
                ReportError("WaveInUnprepareHeader:\n\r" + text);
            }
        }
        const MMRESULT r = mDev.Close(h);
        mLastError = r;
        if (r != MMSYSERR_NOERROR) {
            std::string text;
            if (mDev.GetErrorText(r, text) != MMSYSERR_NOERROR) text = kUnknownError;
            ReportError("WaveInClose:\n\r" + text);
        }
        confirmed = WaitUntil([this] { return (mState.load() & stOpen) == 0; });
        mLastPosition = 0;
        mWrapCount = 0;
    }
    // Without a confirmation the handle is dropped all the same, so the
    // recorder can be opened again.
    mState.store(stClosed);

    try {
        Closed();
    } catch (const std::exception& e) {
        ReportError(e.what());
    }
    EndThread();

    // Own closed step.
    mHandle.store(0);
    for (auto& hdr : mHeaders) mPool.Release(hdr);
    mHeaders.clear();
    mClosing = false;
    if (OnClose && !mBeingDestroyed) {
        try {
            OnClose(this);
        } catch (const std::exception& e) {
            ReportError(e.what());
        }
    }
    if (!confirmed) ReportError("WaveInClose:\n\rUnable to close device");
}

int32_t TMMCustomWaveIn::Position()
{
    const WaveFormat* f = GetFormat();
    if (!DeviceOpen() || !f || mClosing) return 0;
    MMTime t;
    t.wType = MMTime::TIME_SAMPLES;
    if (mDev.GetPosition(mHandle.load(), t) == MMSYSERR_NOERROR && t.wType == MMTime::TIME_SAMPLES)
        return static_cast<int32_t>(t.value);
    t.wType = MMTime::TIME_BYTES;
    Check("WaveInGetPosition:\n\r", mDev.GetPosition(mHandle.load(), t));
    return BytesToSamples(f, static_cast<int32_t>(t.value));
}

// ---------------------------------------------------------------------------
// Buffer-return handling: GUI thread (cmWindow), notification thread
// (cmThread) or device context (cmCallback). Each returned buffer is handled
// exactly once.

void TMMCustomWaveIn::Deliver(PWaveHdr hdr)
{
    // The handler is the count's only writer while the recorder runs.
    const int64_t before = mBytesDelivered.load(std::memory_order_relaxed);
    int64_t delivered = before + hdr->dwBytesRecorded;
    bool hit = false;
    if (mMaxRecordTime > 0 && delivered >= mByteLimit) {
        const int64_t excess = delivered - mByteLimit;
        hdr->dwBytesRecorded = static_cast<uint32_t>(std::max<int64_t>(0, hdr->dwBytesRecorded - excess));
        delivered = mByteLimit;
        hit = true;
        mLimitReached = true;
    }
    mBytesDelivered.store(delivered, std::memory_order_relaxed);
    // Past the limit nothing more goes down the chain.
    if (!hit || before < mByteLimit) BufferReady(hdr);
    if (hit) {
        bool stopUnderWay;
        {
            Guard g(mLock, LockedMode());
            stopUnderWay = mStopping || mStopPending;
        }
        if (!stopUnderWay) Stop();
    }
}

void TMMCustomWaveIn::BufferReturned(PWaveHdr hdr)
{
    if (!hdr || !(mState.load() & stStarted)) return;
    // After a failure off the GUI thread nothing more is handled until the
    // GUI thread has closed the recorder.
    if (mThreadFailed.load()) return;
    InHandlerScope scope(this, LockedMode());
    bool stopping;
    {
        Guard g(mLock, LockedMode());
        stopping = mStopping || mResetting;
        if (!stopping) {
            ++mHandlersRunning;
            --mQueued;
        }
    }
    if (stopping) {
        // A buffer coming back during stop or reset: hand on what it holds,
        // then count it off.
        struct CountOff {
            TMMCustomWaveIn* w;
            ~CountOff()
            {
                Guard g(w->mLock, w->LockedMode());
                if (--w->mQueued <= 0) {
                    w->mQueued = 0;
                    w->mResetting = false;
                }
            }
        } countOff{this};
        if (hdr->dwBytesRecorded > 0) Deliver(hdr);
        return;
    }

    // Counts the handler off and posts the deferred stop when it was the last.
    auto finish = [this] {
        bool post = false;
        {
            Guard g(mLock, LockedMode());
            --mHandlersRunning;
            if (mHandlersRunning == 0 && mStopPending && !mStopPosted) {
                mStopPosted = true;
                mStopping = true;
                post = true;
            }
        }
        if (post) WindowPoster().Post(this, MM_WIM_STOP, mHandle.load(), nullptr);
    };
    try {
        Deliver(hdr);
        MMRESULT r = MMSYSERR_NOERROR;
        {
            Guard g(mLock, LockedMode());
            if (!mStopPending && !mStopping) {
                MMTime t;
                t.wType = MMTime::TIME_SAMPLES;
                if (mDev.GetPosition(mHandle.load(), t) == MMSYSERR_NOERROR) {
                    if (t.value != 0 && static_cast<uint64_t>(t.value) + 65535 <= mLastPosition) ++mWrapCount;
                    mLastPosition = t.value;
                }
                hdr->dwFlags = (hdr->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
                ++mQueued;
                r = mDev.AddBuffer(mHandle.load(), hdr);
                if (r != MMSYSERR_NOERROR) --mQueued;
            }
        }
        if (r != MMSYSERR_NOERROR) {
            mLastError = r;
            mDeviceFailed.store(true);
            PlatformError("WaveInAddBuffer:\n\r", r);
        }
    } catch (const std::exception& e) {
        FailedOperation(dynamic_cast<const EMMWaveInError*>(&e) != nullptr);
        finish();
        throw;
    }
    finish();
}
