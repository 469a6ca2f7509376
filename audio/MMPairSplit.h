// One multichannel capture stream shared by the recorders that take its
// stereo pairs (or its last mono channel). The back end's audio thread hands
// every block of interleaved 16-bit frames to Write, which copies each
// started tap's channels straight into that tap's queued headers: no
// allocation, lock or wait on that thread. A tap starts on the stream's
// buffer grid (a frame position that is a multiple of its header's frames),
// so buffer k of every pair started together holds the same frames.
#pragma once

#include "audio/MMWaveInDevice.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

// The pairs a device with `channels` inputs offers: none for one or two
// channels, else (channels + 1) / 2, the last one mono for an odd count.
int PairCount(int channels);
// First channel (0-based) and width (1 or 2) of pair p (0-based).
int PairFirstChannel(int pair);
int PairWidth(int channels, int pair);
// "NAME (1-2)", "NAME (3-4)" ... and "NAME (N)" for a last mono channel.
std::string PairName(const std::string& device, int channels, int pair);

// Copies channels first ... first+width-1 of `frames` interleaved frames of
// `channels` samples into `out`, `outChannels` samples per frame; out channel
// c takes source channel min(c, width-1), so a mono source feeds both sides.
void CopyChannels(const int16_t* in, size_t frames, int channels, int first, int width, int16_t* out,
                  int outChannels);
// Interleaves `frames` float samples of each of `channels` planes (in[c][0 ...])
// as 16-bit frames into out: x 32767, clipped to -32768 ... 32767 (infinities
// too), truncated toward zero; NaN reads 0. What a JACK client delivers.
void FloatPlanesTo16(const float* const* in, size_t frames, int channels, int16_t* out);
// Splits interleaved frames of `channels` (even) samples into channels / 2
// stereo buffers: outs[p] gets channels 2p and 2p+1.
void SplitPairs(const int16_t* in, size_t frames, int channels, int16_t* const* outs);

// One recorder's view of a shared stream: its queue and its channels.
struct TMMPairTap {
    enum State : int { Idle, Armed, Running };
    TMMCaptureQueue queue;
    int first = 0;        // first source channel (0-based)
    int width = 2;        // source channels, 1 or 2
    int outChannels = 2;  // channels of the recorder's format
    uint32_t gridFrames = 1;  // frames of one header: where the tap may start
    std::atomic<int> state{Idle};
    std::atomic<bool> gone{false};      // the device went away under it
    std::atomic<uint64_t> frames{0};    // position since open or reset
    size_t FrameBytes() const { return static_cast<size_t>(outChannels) * 2; }
    int LastChannel() const { return first + width; }  // 1-based
};

class TMMSharedCapture {
public:
    static constexpr int MaxTaps = 64;

    // GUI thread. False when every slot is taken.
    bool Attach(TMMPairTap* tap);
    // GUI thread; the tap is not written any more when this returns.
    void Detach(TMMPairTap* tap);
    // GUI thread (or the audio thread from inside a notification): start the
    // tap at the next grid point.
    void Arm(TMMPairTap* tap);
    // Stops writing into the tap; from another thread than the audio one,
    // waits for a Write or Lose in progress to end. The caller owns the
    // tap's queue afterwards.
    void Halt(TMMPairTap* tap);
    int Taps() const;
    bool AnyStarted() const;
    // The highest 1-based channel of the attached taps (0 without taps).
    int HighestChannel() const;

    // The device went away; the stream no longer runs (never while Write
    // does). Every tap is marked gone and halted; the started ones return all
    // their headers here. A tap halted on another thread meanwhile keeps its
    // headers for that thread (its Halt waits until Lose has ended).
    void Lose();
    // The stream is about to (re)start from frame 0 and does not run now:
    // running taps drop their partly filled header and start again at 0, so
    // they stay aligned.
    void Restart();

    // Audio thread: one block of interleaved frames of `channels` samples.
    void Write(const int16_t* in, size_t frames, int channels);
    // Frames written since the last Restart (audio thread; read elsewhere
    // only while the stream is stopped).
    uint64_t Position() const { return mFrames; }
    uint64_t Overrun() const;

private:
    void Quiesce();
    std::array<std::atomic<TMMPairTap*>, MaxTaps> mTaps{};
    std::atomic<uint64_t> mSeq{0};  // odd while Write runs
    uint64_t mFrames = 0;
};
