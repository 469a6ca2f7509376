// The wave-out playback component: pulls filled buffers from upstream
// (BufferLoad), queues them on an output device, refills each buffer as the
// device returns it and stops by itself when the source runs dry. The end of
// playback reaches the GUI thread as a posted stop message. Properties and
// operations run on the GUI thread; returned buffers are handled where
// CallBackMode says (the playback thread with cmThread, the GUI thread with
// cmWindow).
#pragma once

#include "audio/MMAlloc.h"
#include "audio/MMDSPObj.h"
#include "audio/MMNotify.h"
#include "audio/MMWavIn.h"
#include "audio/MMWaveOutDevice.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class EMMWaveOutError : public EMMError {
public:
    using EMMError::EMMError;
};


class TMMWaveOut : public TMMCustomSoundComponent, public TMMMessageTarget {
public:
    static constexpr int MaxBuffers = 500;
    // Private window message: run Stop (the first application message + 1).
    static constexpr uint32_t MM_WOM_STOP = 0x8001;
    // Private window message: the playback thread failed; close.
    static constexpr uint32_t MM_WOM_FAILED = 0x8004;

    // `device` is the device-operations table; it must outlive the output.
    explicit TMMWaveOut(TMMWaveOutDevice& device);
    ~TMMWaveOut() override;

    // Published properties.
    TMMDeviceId DeviceID() const { return mDeviceID; }
    void setDeviceID(TMMDeviceId id);
    const std::string& ProductName() const { return mProductName; }
    int NumBuffers() const { return mNumBuffers; }
    void setNumBuffers(int n);
    void setBufferSize(int32_t size) { SetBufferSize(size); }
    TMMCBMode CallBackMode() const { return mCallBackMode; }
    void setCallBackMode(TMMCBMode mode);
    TMMTimeFormats TimeFormat() const { return mTimeFormat; }
    void setTimeFormat(TMMTimeFormats tf) { mTimeFormat = tf; }
    TThreadPriority Priority() const { return mPriority; }
    void setPriority(TThreadPriority p) { mPriority = p; }
    bool Looping() const { return mLooping; }
    void setLooping(bool b) { mLooping = b; }
    int LoopCount() const { return mLoopCount; }
    void setLoopCount(int n) { mLoopCount = n; }
    bool ShowHourGlass() const { return mShowHourGlass; }
    void setShowHourGlass(bool b) { mShowHourGlass = b; }
    bool Mapped() const { return mMapped; }
    void setMapped(bool b) { mMapped = b; }

    TMMNotifyEvent OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose, OnError, OnLooping;
    TMMBufferEvent OnBufferFilled;

    void Open();
    void Close();  // never raises
    void Start();
    void Pause();
    void Restart();
    void Stop();
    // Drops the queue and refills from the upstream's current position.
    void Reposition();
    // Played position in TimeFormat units; after a stop the position at the stop.
    int64_t Position();
    int64_t BytesPlayed() const;

    bool DeviceOpen() const { return mState.load() != stClosed; }
    bool Playing() const { return (mState.load() & stPlaying) != 0; }
    bool DevicePaused() const { return (mState.load() & stPaused) != 0; }
    int DeviceCount() const { return mDeviceCount; }
    int QueuedCount() const { return mQueued; }
    const std::string& LastErrorText() const { return mLastErrorText; }
    // The wait between polls of the open, close and stop waits (10 ms).
    void SetPollDelay(std::chrono::microseconds d) { mPollDelay = d; }

    void SetBufferSize(int32_t size) override;
    void HandleMessage(uint32_t msg, uintptr_t wParam, void* lParam) override;

private:
    enum : unsigned { stClosed = 0, stOpen = 1, stPlaying = 2, stPaused = 4 };

    static void DeviceNotify(HWAVEOUT h, uint32_t msg, void* instance, PWaveHdr hdr);
    [[noreturn]] void Error(const std::string& text);
    [[noreturn]] void PlatformError(const char* prefix, MMRESULT r);
    void Check(const char* prefix, MMRESULT r)
    {
        if (r != MMSYSERR_NOERROR) PlatformError(prefix, r);
    }
    void CheckClosed();
    void BufferDone(PWaveHdr hdr, uint32_t generation);
    void HandlerFailed(const std::exception& e);
    // Fills the header through the chain; returns the bytes delivered.
    uint32_t Fill(PWaveHdr hdr, bool& more);
    // Takes, fills and writes up to NumBuffers buffers; returns how many.
    int QueueBuffers();
    void ReleaseBuffers();
    bool WaitUntil(const std::function<bool()>& done, int polls);
    void UpdatePosition();
    void ReportError(const std::string& text);
    void CloseDevice(bool fireEvent);

    TMMWaveOutDevice& mDev;
    TMMDeviceId mDeviceID = 0;
    std::string mProductName;
    int mNumBuffers = 10;
    TMMCBMode mCallBackMode = cmWindow;
    TMMTimeFormats mTimeFormat = tfByte;
    TThreadPriority mPriority = tpHigher;
    bool mLooping = false;
    int mLoopCount = 0;
    bool mShowHourGlass = true;
    bool mMapped = false;

    int mDeviceCount = 0;
    std::atomic<unsigned> mState{stClosed};
    std::atomic<HWAVEOUT> mHandle{0};
    std::atomic<bool> mDevOpen{false};
    TMMAllocator mPool;
    std::vector<PWaveHdr> mHeaders;
    uint32_t mCapacity = 0;  // data bytes of each header
    std::string mLastErrorText;

    // Counters and flags of the buffer flow and the stop sequence, under mLock.
    mutable std::mutex mLock;
    int mQueued = 0;
    std::atomic<int> mInFlight{0};
    std::atomic<int> mAwaiting{0};  // returned and forwarded, not yet handled
    int mNesting = 0;
    int mRingIndex = 0;
    int64_t mBytesPlayed = 0;
    uint32_t mLastPos = 0;
    int64_t mWraps = 0;
    int64_t mStopFrames = 0;
    std::atomic<bool> mStopping{false};
    std::atomic<bool> mResetting{false};
    bool mStopPending = false;
    bool mStopPosted = false;
    bool mClosing = false;
    bool mClosePending = false;
    std::atomic<bool> mMoreData{false};
    std::atomic<uint32_t> mGeneration{1};  // stale returns and stop messages are dropped
    std::atomic<bool> mFailed{false};
    std::string mFailText;  // written before MM_WOM_FAILED is posted
    std::chrono::microseconds mPollDelay{10000};

    std::unique_ptr<TMMNotifyThread> mThread;  // cmThread: the playback thread
};
