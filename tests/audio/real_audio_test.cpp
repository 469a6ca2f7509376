// Real audio through a sound server without hardware: a 1 kHz tone at
// -20 dBFS is played to the default output (a null sink) and recorded from
// the default input (its monitor) by TMMWaveIn on the PortAudio back end.
// Exits 77 (skipped) when no sound server was started for the tests.
#include "audio/MMPaWaveIn.h"
#include "audio/MMWavIn.h"

#include <portaudio.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr double kFreq = 1000.0;
constexpr double kLevelDb = -20.0;
constexpr double kPi = 3.14159265358979323846;

int failures = 0;
void check(bool ok, const char* what, double value)
{
    std::printf("%s %s (%.3f)\n", ok ? "ok:  " : "FAIL:", what, value);
    if (!ok) ++failures;
}

int skip(const char* why)
{
    std::printf("SKIPPED real_audio: %s\n", why);
    return 77;
}

struct Tone {
    double phase = 0;
};

int playCallback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                 PaStreamCallbackFlags, void* user)
{
    auto* t = static_cast<Tone*>(user);
    auto* out = static_cast<float*>(output);
    const double amp = std::pow(10.0, kLevelDb / 20.0);
    const double step = 2 * kPi * kFreq / kRate;
    for (unsigned long i = 0; i < frames; ++i) {
        const float v = static_cast<float>(amp * std::sin(t->phase));
        out[2 * i] = v;
        out[2 * i + 1] = v;
        t->phase += step;
        if (t->phase > 2 * kPi) t->phase -= 2 * kPi;
    }
    return paContinue;
}

struct Arrival {
    PWaveHdr hdr;
    uint32_t bytes;
    double at;  // seconds since start
};

}  // namespace

int main()
{
    const char* server = std::getenv("TARVOLIN_AUDIO_SERVER");
    if (!server || !*server) return skip("no sound server was started (TARVOLIN_AUDIO_SERVER is unset)");

    TMMPortAudioWaveIn pa;
    if (!pa.Initialized()) return skip(("PortAudio did not start: " + pa.InitError()).c_str());
    if (pa.GetNumDevs() == 0 || pa.PaIndex(-1) < 0) return skip("PortAudio lists no input device");
    if (Pa_GetDefaultOutputDevice() == paNoDevice) return skip("PortAudio lists no output device");

    Tone tone;
    PaStream* player = nullptr;
    if (Pa_OpenDefaultStream(&player, 0, 2, paFloat32, kRate, paFramesPerBufferUnspecified, playCallback, &tone) !=
            paNoError ||
        Pa_StartStream(player) != paNoError)
        return skip("the default output cannot play");

    TMMWaveIn rec(pa);
    rec.setDeviceID(MapperId);
    rec.setNumBuffers(5);
    rec.setMode(mStereo);
    rec.setBitLength(b16Bit);
    rec.setSampleRate(kRate);
    std::printf("recording from: %s\n", rec.ProductName().c_str());

    const auto t0 = std::chrono::steady_clock::now();
    auto now = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };
    std::vector<Arrival> arrivals;
    std::vector<int16_t> left;  // every recorded left sample, in order
    left.reserve(kRate * 20);
    rec.OnBufferReady = [&](TMMCustomDSPComponent*, PWaveHdr h) {
        arrivals.push_back({h, h->dwBytesRecorded, now()});
        const auto* s = reinterpret_cast<const int16_t*>(h->lpData);
        for (uint32_t i = 0; i + 1 < h->dwBytesRecorded / 2; i += 2) left.push_back(s[i]);
    };
    try {
        rec.Start();
    } catch (const EMMWaveInError& e) {
        std::printf("FAIL: Start: %s\n", e.what());
        return 1;
    }

    // Monitor capture starts late (1-2 s): wait for the tone, then record 3 s.
    const double amp = 32767.0 * std::pow(10.0, kLevelDb / 20.0);
    size_t toneAt = SIZE_MAX;
    while (now() < 15.0) {
        WindowPoster().ProcessMessages();
        if (toneAt == SIZE_MAX) {
            for (size_t i = 0; i < left.size(); ++i)
                if (std::abs(left[i]) > amp / 2) {
                    toneAt = i;
                    break;
                }
        } else if (left.size() > toneAt + 3 * kRate + kRate / 2) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    rec.Close();
    Pa_StopStream(player);
    Pa_CloseStream(player);

    if (toneAt == SIZE_MAX) {
        std::printf("FAIL: the tone never arrived (%zu frames recorded)\n", left.size());
        return 1;
    }
    // Skip the first half second of the tone (fade-in of the stream).
    const size_t from = toneAt + kRate / 2, to = std::min(left.size(), from + 3 * kRate);
    check(to - from >= static_cast<size_t>(2 * kRate), "seconds of tone analysed >= 2",
          static_cast<double>(to - from) / kRate);
    int peak = 0;
    double sumSq = 0;
    for (size_t i = from; i < to; ++i) {
        peak = std::max(peak, std::abs(static_cast<int>(left[i])));
        sumSq += static_cast<double>(left[i]) * left[i];
    }
    const double peakDb = 20 * std::log10(peak / 32767.0);
    const double rmsDb = 20 * std::log10(std::sqrt(sumSq / static_cast<double>(to - from)) * std::sqrt(2.0) / 32767.0);
    check(std::fabs(peakDb - kLevelDb) <= 0.5, "peak level within 0.5 dB of -20 dBFS", peakDb);
    check(std::fabs(rmsDb - kLevelDb) <= 0.5, "sine level from RMS within 0.5 dB of -20 dBFS", rmsDb);

    // Continuity: a pure tone obeys s[n] = 2cos(w) s[n-1] - s[n-2]; a lost,
    // repeated or misplaced buffer breaks it at a buffer boundary.
    const double c = 2 * std::cos(2 * kPi * kFreq / kRate);
    double worst = 0;
    for (size_t i = from + 2; i < to; ++i)
        worst = std::max(worst, std::fabs(left[i] - c * left[i - 1] + left[i - 2]));
    check(worst < 0.02 * amp, "largest break in the tone (sample units) is small", worst);

    // Headers come back in ring order, full, at the device rate.
    bool ordered = true, full = true;
    for (size_t i = 5; i < arrivals.size(); ++i) ordered = ordered && arrivals[i].hdr == arrivals[i - 5].hdr;
    for (size_t i = 0; i + 1 < arrivals.size(); ++i) full = full && arrivals[i].bytes == 2048;
    check(ordered, "buffers arrive in ring order", static_cast<double>(arrivals.size()));
    check(full, "every buffer but the last is full", 2048);
    // Rate over the steady part (the first seconds of monitor capture are bursty).
    const size_t a = arrivals.size() / 3, b = arrivals.size() - 2;
    if (b > a + 10) {
        double bytes = 0;
        for (size_t i = a + 1; i <= b; ++i) bytes += arrivals[i].bytes;
        const double rate = bytes / 4.0 / (arrivals[b].at - arrivals[a].at);
        check(std::fabs(rate - kRate) < 0.05 * kRate, "frames per second within 5 % of 48000", rate);
    } else {
        check(false, "enough buffers to measure the rate", static_cast<double>(arrivals.size()));
    }
    return failures == 0 ? 0 : 1;
}
