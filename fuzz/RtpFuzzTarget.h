// One fuzz input as a run of RTP packets of one stream: the first bytes choose
// the stream's format, then each packet is a 2-byte length and its bytes. The
// packets go through the health counter (in arrival order) and the audio
// reader (as the jitter buffer would hand them on); shared by the fuzzer and
// the corpus replay test.
#pragma once

#include "audio/MMNetRtp.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

struct TFuzzRtpSink {
    size_t channels = 0, maxFrames = 0;
    uint64_t frames = 0;
    static void Write(void* user, const int16_t* frames, size_t count)
    {
        auto* self = static_cast<TFuzzRtpSink*>(user);
        if (!frames || count == 0 || count > self->maxFrames) std::abort();
        volatile int16_t touch = frames[count * self->channels - 1];  // the whole block is readable
        (void)touch;
        self->frames += count;
    }
};

inline void FuzzRtpOnce(const std::uint8_t* data, std::size_t size)
{
    if (size < 3) return;
    TNetStreamDesc d;
    d.sessionName = "Fuzz";
    d.address = "239.69.0.1";
    d.port = 5004;
    d.payloadType = data[0] & 0x7F;
    d.bits = data[1] & 1 ? 24 : 16;
    d.rate = data[1] & 2 ? 44100 : 48000;
    d.channels = 1 + data[2] % 64;
    data += 3, size -= 3;
    TFuzzRtpSink sink;
    sink.channels = static_cast<size_t>(d.channels);
    sink.maxFrames = (static_cast<size_t>(d.rate) * 4 + 999) / 1000;
    TRtpHealthCounter health(d);
    TRtpAudioReader reader(d, TFuzzRtpSink::Write, &sink);
    uint64_t packets = 0;
    int64_t arrival = 1700000000000000;  // a wall-clock stamp in microseconds, as the kernel gives
    while (size >= 2) {
        const size_t n = static_cast<size_t>(data[0] << 8 | data[1]) % 4096;
        data += 2, size -= 2;
        const size_t take = n < size ? n : size;
        arrival += 1000 + (take % 7) * 100;
        health.Packet(data, take, arrival);
        reader.Packet(data, take);
        ++packets;
        data += take, size -= take;
    }
    const TNetStreamHealth h = health.Health();
    if (h.received + h.malformed != packets) std::abort();
    if (h.duplicates > h.received || h.late > h.received) std::abort();
    if (!(h.jitterMs >= 0)) std::abort();
    if (reader.Frames() != sink.frames || reader.SilentFrames() > reader.Frames()) std::abort();
}
