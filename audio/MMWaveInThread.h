// Notification thread of a recorder in cmThread mode: waits for the buffers
// the device context posts and runs the buffer-return handling at the
// recorder's Priority.
#pragma once

#include "audio/MMNotify.h"
#include "audio/MMRing.h"
#include "audio/MMWavIn.h"

#include <atomic>
#include <future>
#include <thread>

class TMMWaveInThread : public TMMDSPThread {
public:
    explicit TMMWaveInThread(TMMCustomWaveIn* owner);
    ~TMMWaveInThread() override;

    // False when the thread could not be created or did not get ready in 5 s.
    bool Begin(TThreadPriority priority);
    // Signals the stop event and waits for the thread to end.
    void End();
    // Device context: no allocation, no lock.
    void Post(HWAVEIN h, PWaveHdr hdr);
    void SetPriority(TThreadPriority p);

private:
    void Run(TThreadPriority priority, std::promise<void>& ready);

    TMMCustomWaveIn* mRecorder;
    TMMRing<TMMMessage> mRing;
    int mMsgFd = -1;
    int mStopFd = -1;
    std::atomic<long> mTid{0};
    std::thread mThread;
};
