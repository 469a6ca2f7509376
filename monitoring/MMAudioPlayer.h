// The alarm sound player: a pull chain it builds and owns,
//   TMMAudioFile (reader, ADPCM decoding, volume and panning)
//   -> TMMPitch (rate change) -> TMMWaveOut (the output device) -> player.
// FileName, Play and Stop run on the GUI thread; the pull through the chain
// runs on the output's playback thread.
#pragma once

#include "audio/MMDSPObj.h"
#include "audio/MMWaveOut.h"
#include "monitoring/MMAdpcm.h"
#include "monitoring/MMWave.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class EMMAudioError : public EMMError {
public:
    using EMMError::EMMError;
};

enum TMMAudioFileType { ftNone, ftWave, ftMpeg, ftWMA, ftVorbis, ftCDA };

// One opened sound file: its stored format and the bytes of its data region.
class TMMAudioReader {
public:
    virtual ~TMMAudioReader() = default;
    virtual TMMAudioFileType Type() const = 0;
    virtual const std::string& FullPath() const = 0;
    // The format record as stored (at least 18 bytes).
    virtual const std::vector<uint8_t>& FormatRecord() const = 0;
    virtual uint64_t FileLength() const = 0;
    virtual uint64_t DataLength() const = 0;
    // Copies up to n bytes from the read position; 0 at the end.
    virtual size_t Read(void* buffer, size_t n) = 0;
    virtual uint64_t Position() const = 0;
    virtual void Seek(uint64_t byte) = 0;
};

// A reader kind as registered with the player: lower ranks are asked first.
struct TMMAudioReaderClass {
    int rank;
    TMMAudioFileType type;
    // Whether the reader takes the file (no exception).
    bool (*accepts)(const std::string& name);
    // Opens it; raises on failure.
    std::unique_ptr<TMMAudioReader> (*open)(const std::string& name);
};
// RIFF/WAVE (rank 5) and the compressed formats MP3, FLAC and Ogg Vorbis
// (rank 1, through libsndfile, decoded to 16-bit PCM).
const std::vector<TMMAudioReaderClass>& AudioReaderClasses();
bool WaveReaderAccepts(const std::string& name);
// The libsndfile major format (SF_FORMAT_MPEG, _FLAC or _OGG) that the start of a file
// shows, after an ID3v2 tag: an MPEG audio frame header, "fLaC" or "OggS"; 0 for anything
// else. Only such files go to libsndfile, which loops forever on some broken RIFF/WAVE
// files. `read` copies n bytes at an offset and is false when they are not all there.
int CompressedFormatOf(const std::function<bool(uint64_t offset, uint8_t* out, size_t n)>& read);

// Source stage: reads, converts to PCM, scales by volume and panning.
class TMMAudioFile : public TMMDSPComponent {
public:
    TMMAudioFile();
    ~TMMAudioFile() override;

    bool PublishesInput() const override { return false; }

    // Takes the opened reader (null releases it) and sets the PCM format.
    void SetReader(std::unique_ptr<TMMAudioReader> reader);
    TMMAudioReader* Reader() const { return mReader.get(); }
    // Whether the data can be played as PCM (PCM, or a decodable ADPCM).
    bool Convertible() const { return mConvertible; }
    // Frames of the PCM stream and the read position in them.
    uint64_t LengthFrames() const;
    uint64_t PositionFrames() const;
    void SeekFrames(uint64_t frame);

    int Volume() const { return mVolume.load(); }
    void setVolume(int v);
    int Panning() const { return mPanning.load(); }
    void setPanning(int p);
    // Gains of the left and right channel (16384 = unchanged).
    int LeftGain() const;
    int RightGain() const;

    void Opened() override;
    void Started() override;
    void BufferLoad(PWaveHdr hdr, bool& more) override;

private:
    size_t ReadPcm(uint8_t* out, size_t n);
    void Scale(uint8_t* data, size_t bytes) const;

    std::unique_ptr<TMMAudioReader> mReader;
    TMMAdpcmDecoder mAdpcm;
    bool mIsAdpcm = false;
    bool mConvertible = false;
    std::vector<uint8_t> mBlock;     // one ADPCM block as read
    std::vector<int16_t> mDecoded;   // its frames
    size_t mDecodedBytes = 0;        // valid bytes in mDecoded
    size_t mDecodedPos = 0;          // bytes of it already delivered
    uint64_t mSkipFrames = 0;        // to drop after a seek inside a block
    bool mSilenceGiven = false;
    std::atomic<int> mVolume{16384};
    std::atomic<int> mPanning{0};
};

// Rate change by linear interpolation; at pitch 0 with nothing buffered the
// buffers pass untouched.
class TMMPitch : public TMMDSPComponent {
public:
    float Pitch() const { return mPitch; }
    void setPitch(float p);
    // Rate factor in 1/65536 steps.
    int32_t Factor() const { return mFactor.load(); }

    void Opened() override;
    void Started() override;
    void Reset() override;
    void BufferLoad(PWaveHdr hdr, bool& more) override;

private:
    bool Refill();

    float mPitch = 0.0f;
    std::atomic<int32_t> mFactor{65536};
    std::vector<uint8_t> mWork;   // input bytes not yet consumed (from mHead)
    size_t mHead = 0, mTail = 0;  // valid bytes: [mHead, mTail)
    uint64_t mFrac = 0;           // position between the first two frames, 1/65536
    bool mUpstreamMore = true;
    WaveHdr mPull;                // header used to pull from upstream
};

class TMMAudioPlayer : public TMMDSPComponent {
public:
    // Plays on the process-wide output back end (WaveOutDevice()).
    TMMAudioPlayer();
    explicit TMMAudioPlayer(TMMWaveOutDevice& device);
    ~TMMAudioPlayer() override;

    // Published properties.
    std::string FileName() const;
    void setFileName(const std::string& name);
    TMMAudioFileType FileType() const;
    void setFileType(TMMAudioFileType) {}
    int32_t BufferSize() const { return mOut.BufferSize(); }
    void setBufferSize(int32_t n) { mOut.setBufferSize(n); }
    int NumBuffers() const { return mOut.NumBuffers(); }
    void setNumBuffers(int n) { mOut.setNumBuffers(n); }
    TMMDeviceId DeviceID() const { return mOut.DeviceID(); }
    void setDeviceID(TMMDeviceId id) { mOut.setDeviceID(id); }
    std::string ProductName() const { return mOut.ProductName(); }
    void setProductName(const std::string&) {}
    TMMCBMode CallBackMode() const { return mOut.CallBackMode(); }
    void setCallBackMode(TMMCBMode m) { mOut.setCallBackMode(m); }
    bool ResetPosition() const { return mResetPosition; }
    void setResetPosition(bool b) { mResetPosition = b; }
    int Volume() const { return mVolume; }
    void setVolume(int v);
    int Panning() const { return mPanning; }
    void setPanning(int p);
    float Pitch() const { return mPitchValue; }
    void setPitch(float p);
    bool UseDSound() const { return mUseDSound; }
    void setUseDSound(bool b);

    TMMNotifyEvent OnStart, OnStop, OnPause, OnRestart, OnChange;
    TMMBufferEvent OnData;

    void Play();
    void Stop();
    bool Playing() const { return mOut.Playing(); }
    // Milliseconds.
    int64_t Position();
    void setPosition(int64_t ms);
    int64_t LengthMs() const;

    TMMWaveOut& WaveOut() { return mOut; }
    TMMAudioFile& File() { return mFile; }

private:
    void Wire();
    int64_t FramesToMs(uint64_t frames) const;
    uint64_t MsToFrames(int64_t ms) const;

    TMMAudioFile mFile;
    TMMPitch mPitch;
    TMMWaveOut mOut;
    bool mResetPosition = true;
    int mVolume = 16384;
    int mPanning = 0;
    float mPitchValue = 0.0f;
    bool mUseDSound = false;
    int64_t mStartPos = 0;
    std::optional<int64_t> mStopPos;
    bool mSeeking = false;
};
