#include "monitoring/MMAudioPlayer.h"

#include "audio/MMWaveOutBackend.h"

#include <sndfile.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace {

std::string upper(std::string s)
{
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The extension with its dot, or "" when the name has none.
std::string extensionOf(const std::string& name)
{
    const auto slash = name.find_last_of('/');
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return name.substr(dot);
}

bool isRegularFile(const std::string& name)
{
    struct stat st {};
    return stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string fullPath(const std::string& name)
{
    char buf[PATH_MAX];
    return realpath(name.c_str(), buf) ? std::string(buf) : name;
}

// The data region through a 32768-byte I/O buffer, so that a pull costs a
// copy and a file read only every 32768 bytes.
class WaveReader : public TMMAudioReader {
public:
    static constexpr size_t IoBuffer = 32768;
    explicit WaveReader(const std::string& name) : mPath(fullPath(name)), mBuf(IoBuffer) { mFile.Open(name); }
    TMMAudioFileType Type() const override { return ftWave; }
    const std::string& FullPath() const override { return mPath; }
    const std::vector<uint8_t>& FormatRecord() const override { return mFile.Info().FormatRecord; }
    uint64_t FileLength() const override { return mFile.Info().FileLength; }
    uint64_t DataLength() const override { return mFile.Info().DataLength; }
    size_t Read(void* buffer, size_t n) override
    {
        auto* out = static_cast<uint8_t*>(buffer);
        size_t done = 0;
        while (done < n) {
            if (mBufPos >= mBufLen) {
                mBufLen = mFile.Read(mBuf.data(), mBuf.size());
                mBufPos = 0;
                if (mBufLen == 0) break;
            }
            const size_t k = std::min(n - done, mBufLen - mBufPos);
            std::memcpy(out + done, mBuf.data() + mBufPos, k);
            mBufPos += k;
            done += k;
        }
        return done;
    }
    uint64_t Position() const override { return mFile.Position() - (mBufLen - mBufPos); }
    void Seek(uint64_t byte) override
    {
        mFile.Seek(byte);
        mBufLen = mBufPos = 0;
    }

private:
    std::string mPath;
    TMMWaveFileReader mFile;
    std::vector<uint8_t> mBuf;
    size_t mBufLen = 0, mBufPos = 0;
};

// MP3, FLAC and Ogg Vorbis through libsndfile, as 16-bit PCM.
class SndFileReader : public TMMAudioReader {
public:
    explicit SndFileReader(const std::string& name) : mPath(fullPath(name))
    {
        SF_INFO info{};
        mFile = sf_open(name.c_str(), SFM_READ, &info);
        if (!mFile) throw EMMAudioError("This is not a valid Audiofile");
        // A length libsndfile does not know (SF_COUNT_MAX) or beyond 2^39 frames (a month at
        // 192 kHz) is refused: the player's counts of bytes and milliseconds must not wrap.
        if (info.channels < 1 || info.channels > 2 || info.samplerate < 4000 || info.samplerate > 192000 ||
            info.frames < 0 || info.frames > (sf_count_t(1) << 39)) {
            sf_close(mFile);
            throw EMMAudioError("This is not a valid Audiofile");
        }
        WaveFormat f;
        BuildPcmFormat(f, 16, info.channels, info.samplerate);
        mRecord.resize(sizeof f);
        std::memcpy(mRecord.data(), &f, sizeof f);
        mAlign = f.nBlockAlign;
        mFrames = static_cast<uint64_t>(info.frames);
        struct stat st {};
        if (stat(name.c_str(), &st) == 0) mFileLength = static_cast<uint64_t>(st.st_size);
    }
    ~SndFileReader() override { sf_close(mFile); }
    TMMAudioFileType Type() const override { return mType; }
    const std::string& FullPath() const override { return mPath; }
    const std::vector<uint8_t>& FormatRecord() const override { return mRecord; }
    uint64_t FileLength() const override { return mFileLength; }
    uint64_t DataLength() const override { return mFrames * mAlign; }
    size_t Read(void* buffer, size_t n) override
    {
        const sf_count_t want = static_cast<sf_count_t>(n / mAlign);
        if (want <= 0) return 0;
        // Decoded as floats and clipped here: the decoders' own conversion to
        // 16 bits wraps samples beyond full scale round to the other sign.
        const size_t channels = mAlign / 2;
        if (mScratch.size() < static_cast<size_t>(want) * channels) mScratch.resize(static_cast<size_t>(want) * channels);
        const sf_count_t got = sf_readf_float(mFile, mScratch.data(), want);
        if (got <= 0) return 0;
        auto* out = static_cast<int16_t*>(buffer);
        for (size_t i = 0; i < static_cast<size_t>(got) * channels; ++i)
            out[i] = static_cast<int16_t>(std::lrint(std::clamp(mScratch[i] * 32768.0f, -32768.0f, 32767.0f)));
        mPos += static_cast<uint64_t>(got);
        return static_cast<size_t>(got) * mAlign;
    }
    uint64_t Position() const override { return mPos * mAlign; }
    void Seek(uint64_t byte) override
    {
        const uint64_t frame = std::min<uint64_t>(byte / mAlign, mFrames);
        if (sf_seek(mFile, static_cast<sf_count_t>(frame), SEEK_SET) >= 0) mPos = frame;
    }
    TMMAudioFileType mType = ftMpeg;

private:
    std::string mPath;
    SNDFILE* mFile = nullptr;
    std::vector<uint8_t> mRecord;
    std::vector<float> mScratch;
    uint32_t mAlign = 4;
    uint64_t mFrames = 0, mPos = 0, mFileLength = 0;
};

bool sndFileAccepts(const std::string& name)
{
    const std::string ext = upper(extensionOf(name));
    if (ext != ".MP3" && ext != ".FLAC" && ext != ".OGG" && ext != ".OGA") return false;
    // The content must be what the extension says, before libsndfile sees it and after.
    const int wanted = ext == ".MP3" ? SF_FORMAT_MPEG : ext == ".FLAC" ? SF_FORMAT_FLAC : SF_FORMAT_OGG;
    std::FILE* head = std::fopen(name.c_str(), "rb");
    if (!head) return false;
    const int shown = CompressedFormatOf([head](uint64_t offset, uint8_t* out, size_t n) {
        return offset <= LONG_MAX && std::fseek(head, static_cast<long>(offset), SEEK_SET) == 0 &&
               std::fread(out, 1, n, head) == n;
    });
    std::fclose(head);
    if (shown != wanted) return false;
    SF_INFO info{};
    SNDFILE* f = sf_open(name.c_str(), SFM_READ, &info);
    if (!f) return false;
    sf_close(f);
    const int major = info.format & SF_FORMAT_TYPEMASK;
    return major == wanted && info.channels >= 1 && info.channels <= 2;
}

std::unique_ptr<TMMAudioReader> openSndFile(const std::string& name)
{
    auto r = std::make_unique<SndFileReader>(name);
    const std::string ext = upper(extensionOf(name));
    r->mType = (ext == ".OGG" || ext == ".OGA") ? ftVorbis : ftMpeg;
    return r;
}

std::unique_ptr<TMMAudioReader> openWave(const std::string& name) { return std::make_unique<WaveReader>(name); }

}  // namespace

int CompressedFormatOf(const std::function<bool(uint64_t offset, uint8_t* out, size_t n)>& read)
{
    uint8_t p[10];
    uint64_t at = 0;
    if (read(0, p, 10) && p[0] == 'I' && p[1] == 'D' && p[2] == '3' && ((p[6] | p[7] | p[8] | p[9]) & 0x80) == 0) {
        // ID3v2: a 28-bit size after the 10-byte header, and a 10-byte footer when flagged.
        at = 10 + ((uint64_t(p[6]) << 21) | (uint64_t(p[7]) << 14) | (uint64_t(p[8]) << 7) | p[9]) +
             ((p[5] & 0x10) ? 10 : 0);
    }
    if (!read(at, p, 4)) return 0;
    if (std::memcmp(p, "fLaC", 4) == 0) return SF_FORMAT_FLAC;
    if (std::memcmp(p, "OggS", 4) == 0) return SF_FORMAT_OGG;
    // An MPEG audio frame header: sync, a layer, a bit rate and a sample rate that exist.
    const bool sync = p[0] == 0xFF && (p[1] & 0xE0) == 0xE0 && (p[1] & 0x18) != 0x08;
    if (sync && (p[1] & 0x06) != 0 && (p[2] >> 4) != 0xF && ((p[2] >> 2) & 3) != 3) return SF_FORMAT_MPEG;
    return 0;
}

bool WaveReaderAccepts(const std::string& name)
{
    const std::string ext = upper(extensionOf(name));
    if (!ext.empty() && std::string("*.WAV").find(ext) == std::string::npos) return false;
    try {
        ParseWaveFile(name);
        return true;
    } catch (const EMMWaveError&) {
        return false;
    }
}

const std::vector<TMMAudioReaderClass>& AudioReaderClasses()
{
    static const std::vector<TMMAudioReaderClass> classes = {
        {1, ftMpeg, &sndFileAccepts, &openSndFile},
        {5, ftWave, &WaveReaderAccepts, &openWave},
    };
    return classes;
}

// ---------------------------------------------------------------------------

TMMAudioFile::TMMAudioFile() = default;

TMMAudioFile::~TMMAudioFile() { DetachFromChain(); }

void TMMAudioFile::SetReader(std::unique_ptr<TMMAudioReader> reader)
{
    mReader = std::move(reader);
    mIsAdpcm = false;
    mConvertible = false;
    mDecodedBytes = mDecodedPos = 0;
    mSkipFrames = 0;
    if (!mReader) {
        SetFormat(nullptr);
        return;
    }
    const auto& rec = mReader->FormatRecord();
    WaveFormat f;
    std::memcpy(&f, rec.data(), sizeof f);
    if (f.wFormatTag == WAVE_FORMAT_PCM) {
        mConvertible = true;
        SetFormat(&f);
    } else if (f.wFormatTag == TMMAdpcmDecoder::Tag && mAdpcm.Setup(rec.data(), rec.size())) {
        mIsAdpcm = true;
        mConvertible = true;
        mBlock.assign(mAdpcm.BlockAlign(), 0);
        mDecoded.assign(size_t(mAdpcm.SamplesPerBlock()) * size_t(mAdpcm.Channels()), 0);
        SetFormat(&mAdpcm.OutputFormat());
    } else {
        SetFormat(nullptr);
    }
}

uint64_t TMMAudioFile::LengthFrames() const
{
    if (!mReader || !mConvertible) return 0;
    if (mIsAdpcm) {
        const uint64_t blocks = mReader->DataLength() / mAdpcm.BlockAlign();
        return blocks * mAdpcm.SamplesPerBlock();
    }
    const WaveFormat* f = GetFormat();
    return f && f->nBlockAlign ? mReader->DataLength() / f->nBlockAlign : 0;
}

uint64_t TMMAudioFile::PositionFrames() const
{
    if (!mReader || !mConvertible) return 0;
    if (mIsAdpcm) {
        const uint64_t block = mReader->Position() / mAdpcm.BlockAlign();
        const uint64_t align = 2u * static_cast<uint64_t>(mAdpcm.Channels());
        const uint64_t pending = (mDecodedBytes - mDecodedPos) / align;
        return block * mAdpcm.SamplesPerBlock() - std::min<uint64_t>(pending, block * mAdpcm.SamplesPerBlock());
    }
    const WaveFormat* f = GetFormat();
    return f && f->nBlockAlign ? mReader->Position() / f->nBlockAlign : 0;
}

void TMMAudioFile::SeekFrames(uint64_t frame)
{
    if (!mReader || !mConvertible) return;
    frame = std::min(frame, LengthFrames());
    mSilenceGiven = false;
    mDecodedBytes = mDecodedPos = 0;
    if (mIsAdpcm) {
        const uint64_t block = frame / mAdpcm.SamplesPerBlock();
        mReader->Seek(block * mAdpcm.BlockAlign());
        mSkipFrames = frame - block * mAdpcm.SamplesPerBlock();
    } else {
        mReader->Seek(frame * GetFormat()->nBlockAlign);
    }
}

void TMMAudioFile::setVolume(int v) { mVolume.store(std::clamp(v, 0, 32768)); }
void TMMAudioFile::setPanning(int p) { mPanning.store(std::clamp(p, -32768, 32768)); }

int TMMAudioFile::LeftGain() const
{
    const int v = mVolume.load(), p = mPanning.load();
    return p > 0 ? static_cast<int>(int64_t(v) * (32768 - p) / 32768) : v;
}

int TMMAudioFile::RightGain() const
{
    const int v = mVolume.load(), p = mPanning.load();
    return p < 0 ? static_cast<int>(int64_t(v) * (32768 + p) / 32768) : v;
}

void TMMAudioFile::Opened()
{
    TMMDSPComponent::Opened();
    mSilenceGiven = false;
}

void TMMAudioFile::Started()
{
    TMMDSPComponent::Started();
    mSilenceGiven = false;
}

size_t TMMAudioFile::ReadPcm(uint8_t* out, size_t n)
{
    if (!mIsAdpcm) return mReader->Read(out, n);
    const size_t align = 2u * static_cast<size_t>(mAdpcm.Channels());
    size_t done = 0;
    while (done < n) {
        if (mDecodedPos >= mDecodedBytes) {
            const size_t got = mReader->Read(mBlock.data(), mBlock.size());
            if (got == 0) break;
            const size_t frames = mAdpcm.DecodeBlock(mBlock.data(), got, mDecoded.data());
            mDecodedBytes = frames * align;
            mDecodedPos = 0;
            if (mSkipFrames) {
                mDecodedPos = std::min<size_t>(static_cast<size_t>(mSkipFrames) * align, mDecodedBytes);
                mSkipFrames = 0;
            }
            continue;
        }
        const size_t k = std::min(n - done, mDecodedBytes - mDecodedPos);
        std::memcpy(out + done, reinterpret_cast<const uint8_t*>(mDecoded.data()) + mDecodedPos, k);
        mDecodedPos += k;
        done += k;
    }
    return done;
}

void TMMAudioFile::Scale(uint8_t* data, size_t bytes) const
{
    const int gl = LeftGain(), gr = RightGain();
    if (gl == 16384 && gr == 16384) return;
    const WaveFormat* f = GetFormat();
    if (!f) return;
    const size_t ch = f->nChannels;
    if (f->wBitsPerSample == 16) {
        const size_t n = bytes / 2;
        for (size_t i = 0; i < n; ++i) {
            int16_t s;
            std::memcpy(&s, data + 2 * i, 2);
            const int g = (ch == 2 && (i & 1)) ? gr : gl;
            const int v = std::clamp(int(int64_t(s) * g / 16384), -32768, 32767);
            s = static_cast<int16_t>(v);
            std::memcpy(data + 2 * i, &s, 2);
        }
    } else {
        for (size_t i = 0; i < bytes; ++i) {
            const int g = (ch == 2 && (i & 1)) ? gr : gl;
            const int v = std::clamp(int((int64_t(data[i]) - 128) * g / 16384), -128, 127);
            data[i] = static_cast<uint8_t>(v + 128);
        }
    }
}

void TMMAudioFile::BufferLoad(PWaveHdr hdr, bool& more)
{
    TMMDSPComponent::BufferLoad(hdr, more);  // OnBufferLoad; no input
    more = false;
    hdr->dwBytesRecorded = 0;
    if (!mReader || !mConvertible) return;
    const WaveFormat* f = GetFormat();
    const size_t align = f && f->nBlockAlign ? f->nBlockAlign : 1;
    const size_t want = hdr->dwBufferLength - hdr->dwBufferLength % align;
    auto* out = reinterpret_cast<uint8_t*>(hdr->lpData);
    size_t n = ReadPcm(out, want);
    n -= n % align;
    if (n == 0) {
        if (!mSilenceGiven && hdr->dwBufferLength >= 4) {
            std::memset(out, SilenceValue(f), 4);
            hdr->dwBytesRecorded = 4;
            mSilenceGiven = true;
        }
        return;
    }
    Scale(out, n);
    hdr->dwBytesRecorded = static_cast<uint32_t>(n);
    more = (mIsAdpcm ? (mDecodedPos < mDecodedBytes || mReader->Position() < mReader->DataLength())
                     : mReader->Position() < mReader->DataLength());
}

// ---------------------------------------------------------------------------

void TMMPitch::setPitch(float p)
{
    mPitch = std::clamp(p, -50.0f, 50.0f);
    const double f = (double(mPitch) + 50.0) * 65536.0 / 100.0 + 32768.0;
    mFactor.store(static_cast<int32_t>(f + 0.5));
}

void TMMPitch::Opened()
{
    TMMDSPComponent::Opened();
    // Room for two pulls of a buffer plus one frame of history.
    mWork.assign(static_cast<size_t>(GetBufferSize()) * 2 + 16, 0);
    Reset();
}

void TMMPitch::Started()
{
    TMMDSPComponent::Started();
    Reset();
}

void TMMPitch::Reset()
{
    mHead = mTail = 0;
    mFrac = 0;
    mUpstreamMore = true;
}

// Pulls one buffer from upstream behind the valid bytes; false when nothing came.
bool TMMPitch::Refill()
{
    if (!mUpstreamMore || !Input()) return false;
    if (mHead > 0) {
        std::memmove(mWork.data(), mWork.data() + mHead, mTail - mHead);
        mTail -= mHead;
        mHead = 0;
    }
    const size_t room = mWork.size() - mTail;
    if (room < 16) return false;
    mPull = WaveHdr();
    mPull.lpData = reinterpret_cast<char*>(mWork.data() + mTail);
    mPull.dwBufferLength = static_cast<uint32_t>(std::min<size_t>(room, static_cast<size_t>(GetBufferSize())));
    bool more = false;
    Input()->BufferLoad(&mPull, more);
    mUpstreamMore = more;
    const size_t n = std::min<size_t>(mPull.dwBytesRecorded, mPull.dwBufferLength);
    mTail += n;
    return n > 0;
}

void TMMPitch::BufferLoad(PWaveHdr hdr, bool& more)
{
    const WaveFormat* f = GetFormat();
    const int32_t factor = mFactor.load();
    if ((factor == 65536 && mHead == mTail) || !f || f->wFormatTag != WAVE_FORMAT_PCM || f->nBlockAlign == 0) {
        TMMDSPComponent::BufferLoad(hdr, more);
        return;
    }
    if (OnBufferLoad) OnBufferLoad(this, hdr, more);
    const size_t align = f->nBlockAlign, ch = f->nChannels;
    const bool wide = f->wBitsPerSample == 16;
    auto sample = [&](size_t frame, size_t c) -> int {
        const uint8_t* p = mWork.data() + mHead + frame * align;
        if (wide) {
            int16_t s;
            std::memcpy(&s, p + 2 * c, 2);
            return s;
        }
        return int(p[c]) - 128;
    };
    auto* out = reinterpret_cast<uint8_t*>(hdr->lpData);
    const size_t outFrames = hdr->dwBufferLength / align;
    size_t made = 0;
    while (made < outFrames) {
        // Need the frame at the position and the next one.
        size_t idx = static_cast<size_t>(mFrac >> 16);
        while ((mTail - mHead) / align < idx + 2 && Refill()) {
        }
        const size_t avail = (mTail - mHead) / align;
        if (avail < idx + 1) break;
        const int frac = static_cast<int>(mFrac & 0xFFFF);
        for (size_t c = 0; c < ch; ++c) {
            const int a = sample(idx, c);
            const int b = idx + 1 < avail ? sample(idx + 1, c) : a;
            const int v = a + static_cast<int>((int64_t(b - a) * frac) >> 16);
            uint8_t* d = out + made * align;
            if (wide) {
                const int16_t s = static_cast<int16_t>(std::clamp(v, -32768, 32767));
                std::memcpy(d + 2 * c, &s, 2);
            } else {
                d[c] = static_cast<uint8_t>(std::clamp(v, -128, 127) + 128);
            }
        }
        ++made;
        mFrac += static_cast<uint64_t>(factor);
        idx = static_cast<size_t>(mFrac >> 16);
        const size_t drop = std::min(idx, avail);
        mHead += drop * align;
        mFrac -= uint64_t(drop) << 16;
    }
    hdr->dwBytesRecorded = static_cast<uint32_t>(made * align);
    more = mUpstreamMore || (mTail - mHead) >= align;
    if (made == 0) more = false;
}

// ---------------------------------------------------------------------------

TMMAudioPlayer::TMMAudioPlayer() : TMMAudioPlayer(WaveOutDevice()) {}

TMMAudioPlayer::TMMAudioPlayer(TMMWaveOutDevice& device) : mOut(device)
{
    mOut.setTimeFormat(tfMillisecond);
    mFile.setOutput(&mPitch);
    mPitch.setOutput(&mOut);
    mOut.setOutput(this);
    Wire();
}

TMMAudioPlayer::~TMMAudioPlayer()
{
    OnStop = nullptr;
    OnChange = nullptr;
    Stop();
    mOut.OnClose = nullptr;
    mOut.OnStop = nullptr;
    mOut.Close();
    DetachFromChain();
}

void TMMAudioPlayer::Wire()
{
    mOut.OnStart = [this](TMMCustomDSPComponent*) {
        if (OnStart) OnStart(this);
    };
    mOut.OnStop = [this](TMMCustomDSPComponent*) {
        if (!mStopPos) mStopPos = FramesToMs(mFile.PositionFrames());
        mOut.Close();
    };
    mOut.OnClose = [this](TMMCustomDSPComponent*) {
        if (!mResetPosition && mStopPos) mFile.SeekFrames(MsToFrames(*mStopPos));
        if (OnStop) OnStop(this);
    };
    mOut.OnPause = [this](TMMCustomDSPComponent*) {
        if (!mSeeking && OnPause) OnPause(this);
    };
    mOut.OnRestart = [this](TMMCustomDSPComponent*) {
        if (!mSeeking && OnRestart) OnRestart(this);
    };
    mOut.OnBufferReady = [this](TMMCustomDSPComponent*, PWaveHdr hdr) {
        if (OnData) OnData(this, hdr);
    };
}

std::string TMMAudioPlayer::FileName() const { return mFile.Reader() ? mFile.Reader()->FullPath() : std::string(); }

TMMAudioFileType TMMAudioPlayer::FileType() const { return mFile.Reader() ? mFile.Reader()->Type() : ftNone; }

void TMMAudioPlayer::setFileName(const std::string& name)
{
    if (mFile.Reader() && name == mFile.Reader()->FullPath()) return;
    const bool had = mFile.Reader() != nullptr;
    if (mOut.DeviceOpen()) Stop();
    mFile.SetReader(nullptr);
    mStopPos.reset();
    mStartPos = 0;
    const std::string up = upper(name);
    const bool special = up.find("RESOURCE://") != std::string::npos || up.find("POINTER://") != std::string::npos;
    if (name.empty() || (!isRegularFile(name) && !special)) {
        if (had && OnChange) OnChange(this);
        return;
    }
    auto classes = AudioReaderClasses();
    std::stable_sort(classes.begin(), classes.end(), [](const auto& a, const auto& b) { return a.rank < b.rank; });
    for (const auto& c : classes) {
        if (!c.accepts(name)) continue;
        mFile.SetReader(c.open(name));  // its errors reach the caller
        mFile.SeekFrames(0);
        if (OnChange) OnChange(this);
        return;
    }
    if (had && OnChange) OnChange(this);
    throw EMMAudioError("This is not a valid Audiofile");
}

void TMMAudioPlayer::setVolume(int v)
{
    mVolume = std::clamp(v, 0, 32768);
    mFile.setVolume(mVolume);
}

void TMMAudioPlayer::setPanning(int p)
{
    mPanning = std::clamp(p, -32768, 32768);
    mFile.setPanning(mPanning);
}

void TMMAudioPlayer::setPitch(float p)
{
    mPitchValue = std::clamp(p, -50.0f, 50.0f);
    mPitch.setPitch(mPitchValue);
}

void TMMAudioPlayer::setUseDSound(bool b)
{
    if (b == mUseDSound) return;
    if (mOut.DeviceOpen()) throw EMMAudioError("Change to property while device was open");
    mUseDSound = b;  // no second output kind on this system: the wave-out plays
}

int64_t TMMAudioPlayer::FramesToMs(uint64_t frames) const
{
    const WaveFormat* f = mFile.GetFormat();
    if (!f || f->nSamplesPerSec == 0) return 0;
    return static_cast<int64_t>((frames * 1000 + f->nSamplesPerSec / 2) / f->nSamplesPerSec);
}

uint64_t TMMAudioPlayer::MsToFrames(int64_t ms) const
{
    const WaveFormat* f = mFile.GetFormat();
    if (!f || ms <= 0) return 0;
    return (static_cast<uint64_t>(ms) * f->nSamplesPerSec + 500) / 1000;
}

int64_t TMMAudioPlayer::LengthMs() const { return FramesToMs(mFile.LengthFrames()); }

void TMMAudioPlayer::Play()
{
    if (mOut.Playing()) return;
    if (!mFile.Reader() || mFile.Reader()->DataLength() == 0) return;
    if (!mFile.Convertible()) throw EMMAudioError("Unable to convert to destination format");
    if (mFile.PositionFrames() >= mFile.LengthFrames()) mFile.SeekFrames(0);
    mStartPos = FramesToMs(mFile.PositionFrames());
    mStopPos.reset();
    mPitch.setPitch(mPitchValue);
    mFile.setVolume(mVolume);
    mFile.setPanning(mPanning);
    mOut.Start();
}

void TMMAudioPlayer::Stop()
{
    if (!mOut.DeviceOpen()) return;
    mStopPos = Position();
    mOut.Stop();
    mOut.Close();
}

int64_t TMMAudioPlayer::Position()
{
    if (mOut.Playing()) return mOut.Position() + mStartPos;
    return FramesToMs(mFile.PositionFrames());
}

void TMMAudioPlayer::setPosition(int64_t ms)
{
    if (!mOut.DeviceOpen() || !mOut.Playing()) {
        mFile.SeekFrames(MsToFrames(ms));
        return;
    }
    const bool wasPaused = mOut.DevicePaused();
    mSeeking = true;
    try {
        mOut.Pause();
        mFile.SeekFrames(MsToFrames(ms));
        mStartPos = FramesToMs(mFile.PositionFrames());
        mOut.Reposition();
        if (!wasPaused) mOut.Restart();
    } catch (...) {
        mSeeking = false;
        throw;
    }
    mSeeking = false;
}
