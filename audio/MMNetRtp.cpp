#include "audio/MMNetRtp.h"

#include <algorithm>
#include <cmath>

namespace {

// The most frames one packet may carry: 4 ms at the stream's rate.
size_t maxPacketFrames(uint32_t rate) { return (static_cast<size_t>(rate) * 4 + 999) / 1000; }

uint32_t be32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

}  // namespace

const char* RtpFaultText(TRtpFault f)
{
    switch (f) {
    case TRtpFault::None: return "";
    case TRtpFault::Truncated: return "truncated RTP header";
    case TRtpFault::Version: return "not RTP version 2";
    case TRtpFault::Padding: return "bad RTP padding";
    case TRtpFault::PayloadType: return "another payload type";
    case TRtpFault::PayloadSize: return "payload not whole frames of at most 4 ms";
    }
    return "";
}

TRtpFault ParseRtpPacket(const uint8_t* data, size_t size, TRtpPacketView& out)
{
    if (!data || size < 12) return TRtpFault::Truncated;
    if ((data[0] >> 6) != 2) return TRtpFault::Version;
    const bool padding = data[0] & 0x20;
    const bool extension = data[0] & 0x10;
    size_t header = 12 + 4 * static_cast<size_t>(data[0] & 0x0F);
    if (size < header) return TRtpFault::Truncated;
    if (extension) {
        if (size < header + 4) return TRtpFault::Truncated;
        header += 4 + 4 * (static_cast<size_t>(data[header + 2]) << 8 | data[header + 3]);
        if (size < header) return TRtpFault::Truncated;
    }
    size_t end = size;
    if (padding) {
        const size_t pad = data[size - 1];
        if (pad == 0 || pad > size - header) return TRtpFault::Padding;
        end -= pad;
    }
    out.marker = data[1] & 0x80;
    out.payloadType = data[1] & 0x7F;
    out.seq = static_cast<uint16_t>(data[2] << 8 | data[3]);
    out.timestamp = be32(data + 4);
    out.ssrc = be32(data + 8);
    out.payload = data + header;
    out.payloadBytes = end - header;
    return TRtpFault::None;
}

TRtpFault CheckRtpPayload(const TRtpPacketView& p, const TNetStreamDesc& desc)
{
    if (p.payloadType != desc.payloadType) return TRtpFault::PayloadType;
    const size_t frameBytes = static_cast<size_t>(desc.FrameBytes());
    if (frameBytes == 0 || p.payloadBytes == 0 || p.payloadBytes % frameBytes != 0 ||
        p.payloadBytes / frameBytes > maxPacketFrames(desc.rate))
        return TRtpFault::PayloadSize;
    return TRtpFault::None;
}

void RtpSamplesToPcm16(const uint8_t* in, size_t samples, int bits, int16_t* out)
{
    const size_t step = bits == 24 ? 3 : 2;
    for (size_t i = 0; i < samples; ++i, in += step)
        out[i] = static_cast<int16_t>(static_cast<uint16_t>(in[0] << 8 | in[1]));
}

// ---------------------------------------------------------------------------

bool TRtpHealthCounter::Packet(const uint8_t* data, size_t size, int64_t arrivalUs)
{
    TRtpPacketView p;
    if (ParseRtpPacket(data, size, p) != TRtpFault::None || CheckRtpPayload(p, mDesc) != TRtpFault::None) {
        mMalformed.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    mReceived.fetch_add(1, std::memory_order_relaxed);
    if (!mStarted || p.ssrc != mSsrc) {
        // A new sender (or a restarted one): its own sequence.
        const int64_t prior = mExpected.load(std::memory_order_relaxed);
        mStarted = true;
        mSsrc = p.ssrc;
        mHighest = mBase = p.seq;
        mWindow = 1;
        mHaveTransit = false;
        mUnique.fetch_add(1, std::memory_order_relaxed);
        mExpected.store(prior + 1, std::memory_order_relaxed);
        mPriorExpected = prior;
    } else {
        // The extended sequence number nearest the highest so far.
        const int16_t delta = static_cast<int16_t>(static_cast<uint16_t>(p.seq - static_cast<uint16_t>(mHighest)));
        const int64_t ext = mHighest + delta;
        if (delta > 0) {
            mWindow = delta >= 64 ? 1 : (mWindow << delta) | 1;
            mHighest = ext;
            mUnique.fetch_add(1, std::memory_order_relaxed);
        } else {
            const int64_t back = -static_cast<int64_t>(delta);
            if (back < 64 && (mWindow >> back) & 1) {
                mDuplicates.fetch_add(1, std::memory_order_relaxed);
                return true;
            }
            if (back < 64) mWindow |= uint64_t{1} << back;
            mLate.fetch_add(1, std::memory_order_relaxed);
            if (ext >= mBase) mUnique.fetch_add(1, std::memory_order_relaxed);
        }
        mExpected.store(mPriorExpected + (mHighest - mBase + 1), std::memory_order_relaxed);
    }
    // Interarrival jitter in timestamp units (RFC 3550 A.8).
    // Arrival in timestamp units, from the first packet's (a wall-clock stamp in
    // microseconds times the rate would overflow).
    if (!mHaveArrivalBase) {
        mArrivalBase = arrivalUs;
        mHaveArrivalBase = true;
    }
    const int64_t arrival = (arrivalUs - mArrivalBase) * static_cast<int64_t>(mDesc.rate) / 1000000;
    const int64_t transit = arrival - static_cast<int64_t>(p.timestamp);
    if (mHaveTransit) {
        const int32_t d = static_cast<int32_t>(static_cast<uint32_t>(transit - mLastTransit));
        mJitter += (std::fabs(static_cast<double>(d)) - mJitter) / 16.0;
        mJitterUs.store(static_cast<uint64_t>(mJitter * 1e6 / mDesc.rate), std::memory_order_relaxed);
    }
    mLastTransit = transit;
    mHaveTransit = true;
    return true;
}

TNetStreamHealth TRtpHealthCounter::Health() const
{
    TNetStreamHealth h;
    h.received = mReceived.load(std::memory_order_relaxed);
    h.late = mLate.load(std::memory_order_relaxed);
    h.duplicates = mDuplicates.load(std::memory_order_relaxed);
    h.malformed = mMalformed.load(std::memory_order_relaxed);
    const int64_t expected = mExpected.load(std::memory_order_relaxed);
    const int64_t unique = static_cast<int64_t>(mUnique.load(std::memory_order_relaxed));
    h.lost = expected > unique ? static_cast<uint64_t>(expected - unique) : 0;
    h.jitterMs = static_cast<double>(mJitterUs.load(std::memory_order_relaxed)) / 1000.0;
    return h;
}

// ---------------------------------------------------------------------------

TRtpAudioReader::TRtpAudioReader(const TNetStreamDesc& desc, Sink sink, void* user)
    : mDesc(desc), mSink(sink), mUser(user),
      mBlock(maxPacketFrames(desc.rate) * static_cast<size_t>(std::max(desc.channels, 1)))
{
}

void TRtpAudioReader::Emit(const uint8_t* payload, size_t frames)
{
    RtpSamplesToPcm16(payload, frames * static_cast<size_t>(mDesc.channels), mDesc.bits, mBlock.data());
    mSink(mUser, mBlock.data(), frames);
    mFrames.fetch_add(frames, std::memory_order_relaxed);
}

void TRtpAudioReader::Silence(uint64_t frames)
{
    const size_t block = mBlock.size() / static_cast<size_t>(mDesc.channels);
    std::fill(mBlock.begin(), mBlock.end(), int16_t{0});
    mSilent.fetch_add(frames, std::memory_order_relaxed);
    mFrames.fetch_add(frames, std::memory_order_relaxed);
    while (frames > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(frames, block));
        mSink(mUser, mBlock.data(), n);
        frames -= n;
    }
}

void TRtpAudioReader::Packet(const uint8_t* data, size_t size)
{
    TRtpPacketView p;
    if (ParseRtpPacket(data, size, p) != TRtpFault::None || CheckRtpPayload(p, mDesc) != TRtpFault::None) return;
    const size_t frameBytes = static_cast<size_t>(mDesc.FrameBytes());
    size_t frames = p.payloadBytes / frameBytes;
    const uint8_t* payload = p.payload;
    if (mStarted && p.ssrc == mSsrc) {
        const int32_t ahead = static_cast<int32_t>(p.timestamp - mNext);
        if (ahead > static_cast<int32_t>(mDesc.rate) || ahead <= -static_cast<int32_t>(mDesc.rate)) {
            mStarted = false;  // a jump: a new timeline
        } else if (ahead > 0) {
            Silence(static_cast<uint64_t>(ahead));
        } else if (ahead < 0) {
            const size_t behind = static_cast<size_t>(-static_cast<int64_t>(ahead));
            if (behind >= frames) return;  // already played
            payload += behind * frameBytes;
            frames -= behind;
            p.timestamp += static_cast<uint32_t>(behind);
        }
    }
    if (!mStarted || p.ssrc != mSsrc) {
        mStarted = true;
        mSsrc = p.ssrc;
    }
    Emit(payload, frames);
    mNext = p.timestamp + static_cast<uint32_t>(frames);
}
