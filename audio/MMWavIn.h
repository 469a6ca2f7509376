// The wave-in recorder: keeps a ring of buffers queued at a capture device
// and hands every filled buffer down its chain (BufferReady on Output), then
// queues it again. Properties, operations and notifications run on the GUI
// thread; buffers are handled where CallBackMode says: the GUI thread through
// the window route (cmWindow), the recorder's notification thread (cmThread)
// or the device's own context (cmCallback).
#pragma once

#include "audio/MMAlloc.h"
#include "audio/MMDSPObj.h"
#include "audio/MMNotify.h"
#include "audio/MMNotifyThread.h"
#include "audio/MMWaveInDevice.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class EMMWaveInError : public EMMError {
public:
    using EMMError::EMMError;
};


class TMMCustomWaveIn : public TMMCustomSoundComponent, public TMMMessageTarget {
public:
    static constexpr int MaxBuffers = 4096;
    // Private window message: run the deferred Stop.
    static constexpr uint32_t MM_WIM_STOP = 0x8002;
    // Private window message: a handler outside the GUI thread failed; close.
    static constexpr uint32_t MM_WIM_FAILED = 0x8003;

    // `device` is the device-operations table; it must outlive the recorder.
    explicit TMMCustomWaveIn(TMMWaveInDevice& device);
    ~TMMCustomWaveIn() override;

    bool PublishesInput() const override { return false; }

    // Published properties.
    TMMDeviceId DeviceID() const { return mDeviceID; }
    void setDeviceID(TMMDeviceId id);
    const std::string& ProductName() const { return mProductName; }
    int NumBuffers() const { return mNumBuffers; }
    void setNumBuffers(int n);
    void setBufferSize(int32_t size) { SetBufferSize(size); }
    TMMMode Mode() const;
    void setMode(TMMMode mode);
    int Channels() const { return mChannels; }
    void setChannels(int n);
    TMMBits BitLength() const { return mBitLength; }
    void setBitLength(TMMBits bits);
    int SampleRate() const { return mSampleRate; }
    void setSampleRate(int rate);
    TMMCBMode CallBackMode() const { return mCallBackMode; }
    void setCallBackMode(TMMCBMode mode);
    TThreadPriority Priority() const { return mPriority; }
    void setPriority(TThreadPriority p);
    TMMTimeFormats TimeFormat() const { return mTimeFormat; }
    void setTimeFormat(TMMTimeFormats tf);
    int32_t MaxRecordTime() const { return mMaxRecordTime; }
    void setMaxRecordTime(int32_t t);

    TMMNotifyEvent OnOpen, OnClose, OnStart, OnStop, OnPause, OnRestart, OnError;

    void Open();
    void Close();  // never raises
    void Start();
    void Pause();
    void Restart();
    void Stop();
    // Device position in sample frames; 0 when not open.
    int32_t Position();

    // The name of input device `index` (-1 ... count-1), or "".
    std::string DeviceName(int index);
    int DeviceCount() const { return mDeviceCount; }

    // The recorder's state bits (the chain flags are IsOpened() etc.).
    bool DeviceOpen() const;
    bool DeviceStarted() const { return (mState.load() & stStarted) != 0; }
    bool DevicePaused() const { return (mState.load() & stPaused) != 0; }
    bool StopPending() const { return mStopPending; }
    HWAVEIN Handle() const { return mHandle.load(); }
    // Bytes handed down the chain since Start; any thread may read it (the
    // buffer handler counts it wherever it runs).
    int64_t BytesDelivered() const { return mBytesDelivered.load(std::memory_order_relaxed); }
    MMRESULT LastError() const { return mLastError; }
    const std::string& LastErrorText() const { return mLastErrorText; }

    // The wait between the polls of the open, close and stop waits (10 ms).
    void SetPollDelay(std::chrono::microseconds d) { mPollDelay = d; }

    // Recovery. With a reopen interval (ms; 0, the default, keeps the plain
    // behaviour: a failing device closes the recorder and is shown as an
    // error) a device that fails or stops delivering while recording is
    // lost: the recorder closes without an error report (its chain is told
    // it stopped, so its bars fall to silence), OnDeviceEvent reports "lost"
    // once, and Poll() tries to start the device again every interval (the
    // device of the remembered name, wherever the back end lists it now);
    // success reports "reopened". A Start that fails is reported "failed"
    // once, with its reason (FailureReason), and retried the same way.
    // OnDeviceEvent also reports every "opened". Called on the GUI thread,
    // only when assigned.
    std::function<void(const std::string& what, const std::string& device)> OnDeviceEvent;
    // Why the last Start failed: the error as one line, and the rate the
    // device runs at when it refused the recorder's.
    const std::string& FailureReason() const { return mFailureReason; }
    int ReopenInterval() const { return mReopenInterval; }
    void setReopenInterval(int ms) { mReopenInterval = std::max(0, ms); }
    // A started recorder whose device delivers nothing for this long (ms) is
    // lost too (default 5000; a sound server's monitor may take 2 s to start).
    int StallTimeout() const { return mStallTimeout; }
    void setStallTimeout(int ms) { mStallTimeout = std::max(1, ms); }
    // GUI thread, from the owner's timer (a few times a second): the stall
    // check and the reopen attempts.
    void Poll();
    bool DeviceLost() const { return mLost; }
    uint64_t Reopens() const { return mReopens; }
    // Time spent lost so far, the current episode included.
    double SecondsLost() const;
    // Milliseconds of a steady clock (tests set a fake one).
    void SetClock(std::function<int64_t()> msClock) { mClock = std::move(msClock); }

    // Fires OnError and raises EMMWaveInError with `text`.
    [[noreturn]] void Error(const std::string& text);

    int32_t GetBufferSize() const override;
    void SetBufferSize(int32_t size) override;
    void SetFormat(const WaveFormat* fmt) override;

    void HandleMessage(uint32_t msg, uintptr_t wParam, void* lParam) override;

protected:
    // Closes for good (no OnStop, OnClose): the device and notification
    // threads are ended when it returns. A derived destructor calls it first,
    // since those threads make virtual calls on the recorder until then.
    void CloseForDestruction();

    TMMWaveInDevice& mDev;

private:
    enum : unsigned { stClosed = 0, stOpen = 1, stStarted = 2, stPaused = 4 };

    static void DeviceNotify(HWAVEIN h, uint32_t msg, void* instance, PWaveHdr hdr);

    void CheckClosed();
    void BuildFormat();
    [[noreturn]] void PlatformError(const char* prefix, MMRESULT r);
    void Check(const char* prefix, MMRESULT r)
    {
        mLastError = r;
        if (r != MMSYSERR_NOERROR) PlatformError(prefix, r);
    }
    int64_t ComputeByteLimit() const;
    void QueueHeader(PWaveHdr hdr);
    // The buffer-return handling, where CallBackMode delivers.
    void BufferReturned(PWaveHdr hdr);
    void Deliver(PWaveHdr hdr);
    // A handler off the GUI thread failed: the GUI thread closes the recorder.
    void HandlerFailed(const std::exception& e);
    bool WaitUntil(const std::function<bool()>& done);
    void ReportError(const std::string& text);
    void StoppedStep();
    void ClosedStep();
    void DoClose(bool destroying);
    void StartThread();
    void EndThread();
    void FireError();
    void FailedOperation(bool ours);
    bool LockedMode() const { return mCallBackMode != cmWindow; }
    int64_t NowMs() const;
    void DeviceEvent(const char* what);
    void StartDevice();
    void StartFailed(const std::string& text);
    // Before a reopen attempt: the id the back end now lists the remembered
    // device under (the same id when it is not listed).
    void FindDeviceAgain();
    // The device is gone: close quietly and start the reopen attempts.
    void Lose(const char* reason = "the device stopped delivering or went away");

    // Properties.
    TMMDeviceId mDeviceID = 0;
    std::string mProductName;
    int mNumBuffers = 10;
    int mChannels = 1;
    TMMBits mBitLength = b8Bit;
    int mSampleRate = 11025;
    TMMCBMode mCallBackMode = cmWindow;
    TThreadPriority mPriority = tpHigher;
    TMMTimeFormats mTimeFormat = tfByte;
    int32_t mMaxRecordTime = -1;

    int mDeviceCount = 0;
    std::atomic<unsigned> mState{stClosed};
    bool mReportClosed = false;  // during the opened notification
    std::atomic<HWAVEIN> mHandle{0};
    TMMAllocator mPool;
    std::vector<PWaveHdr> mHeaders;
    MMRESULT mLastError = 0;
    std::string mLastErrorText;

    // Counters and flags of the buffer flow and the stop sequence. Guarded by
    // mLock in cmThread and cmCallback modes.
    std::mutex mLock;
    int mQueued = 0;
    int mHandlersRunning = 0;
    std::atomic<int64_t> mBytesDelivered{0};
    int64_t mByteLimit = INT32_MAX;
    bool mLimitReached = false;
    uint32_t mLastPosition = 0;
    int mWrapCount = 0;
    bool mStopping = false;
    bool mResetting = false;
    bool mStopPending = false;
    bool mStopPosted = false;
    bool mClosing = false;
    bool mClosePending = false;
    std::atomic<bool> mThreadFailed{false};
    bool mBeingDestroyed = false;
    std::string mFailText;  // written before MM_WIM_FAILED is posted
    std::chrono::microseconds mPollDelay{10000};

    std::unique_ptr<TMMNotifyThread> mThread;  // cmThread

    // Recovery (GUI thread, except mDeviceFailed).
    int mReopenInterval = 0;
    int mStallTimeout = 5000;
    std::atomic<bool> mDeviceFailed{false};  // AddBuffer refused while recording
    bool mLost = false;
    bool mReopening = false;
    uint64_t mReopens = 0;
    int64_t mLostSince = 0, mLostTotal = 0, mLastAttempt = 0;
    std::string mFailureReason;
    int64_t mWatchBytes = -1, mWatchSince = 0;
    int64_t mRateBytes = -1, mRateSince = 0;  // start of the rate check's window (-1: no buffer yet)
    int64_t mLastPoll = -1;  // time of the last Poll
    std::function<int64_t()> mClock;
};

// The recorder bound to the program's capture back end (see
// SetWaveInDevice), or to the given one.
class TMMWaveIn : public TMMCustomWaveIn {
public:
    TMMWaveIn();
    explicit TMMWaveIn(TMMWaveInDevice& device) : TMMCustomWaveIn(device) {}
    ~TMMWaveIn() override;
};

// The process-wide capture back end used by TMMWaveIn(); the caller keeps
// ownership. Until one is set, a simulated back end (manual clock) is used.
void SetWaveInDevice(TMMWaveInDevice* device);
TMMWaveInDevice& WaveInDevice();
