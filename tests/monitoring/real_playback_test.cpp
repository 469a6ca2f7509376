// Real playback through a sound server without hardware: the alarm player
// plays a WAVE file through the PortAudio output to the default sink (a null
// sink) while its monitor is recorded; the recording must match the file
// (correlation >= 0.99 after alignment, level within 0.1 dB).
// Exits 77 (skipped) when no sound server was started for the tests.
#include "audio/MMPaWaveOut.h"
#include "monitoring/MMAudioPlayer.h"

#include <portaudio.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr double kPi = 3.14159265358979323846;

int skip(const char* why)
{
    std::printf("SKIPPED real_playback: %s\n", why);
    return 77;
}

struct Recording {
    std::vector<int16_t> left;
    std::atomic<size_t> frames{0};
};

int recordCallback(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo*,
                   PaStreamCallbackFlags, void* user)
{
    auto* r = static_cast<Recording*>(user);
    const auto* in = static_cast<const int16_t*>(input);
    size_t at = r->frames.load();
    for (unsigned long i = 0; in && i < frames && at < r->left.size(); ++i) r->left[at++] = in[2 * i];
    r->frames.store(at);
    return paContinue;
}

void put16(std::vector<uint8_t>& v, uint32_t x)
{
    v.push_back(x & 0xFF);
    v.push_back((x >> 8) & 0xFF);
}
void put32(std::vector<uint8_t>& v, uint32_t x)
{
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}

}  // namespace

int main()
{
    const char* server = std::getenv("TARVOLIN_AUDIO_SERVER");
    if (!server || !*server) return skip("no sound server was started (TARVOLIN_AUDIO_SERVER is unset)");

    TMMPortAudioWaveOut out;
    if (!out.Initialized()) return skip(("PortAudio did not start: " + out.InitError()).c_str());
    if (out.PaIndex(-1) < 0) return skip("PortAudio lists no output device");
    if (Pa_GetDefaultInputDevice() == paNoDevice) return skip("PortAudio lists no input device");

    // One second of three tones under a slow envelope, stereo 16 bit.
    const size_t n = kRate;
    std::vector<int16_t> file(2 * n);
    for (size_t i = 0; i < n; ++i) {
        const double t = double(i) / kRate;
        const double env = 0.6 + 0.4 * std::sin(2 * kPi * 1.3 * t);
        const double l = env * (0.2 * std::sin(2 * kPi * 440 * t) + 0.15 * std::sin(2 * kPi * 1234.5 * t) +
                                0.1 * std::sin(2 * kPi * 3210 * t));
        file[2 * i] = static_cast<int16_t>(32767 * l);
        file[2 * i + 1] = static_cast<int16_t>(32767 * 0.5 * l);
    }
    std::vector<uint8_t> wav = {'R', 'I', 'F', 'F'};
    put32(wav, static_cast<uint32_t>(36 + file.size() * 2));
    wav.insert(wav.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(wav, 16);
    put16(wav, 1);
    put16(wav, 2);
    put32(wav, kRate);
    put32(wav, kRate * 4);
    put16(wav, 4);
    put16(wav, 16);
    wav.insert(wav.end(), {'d', 'a', 't', 'a'});
    put32(wav, static_cast<uint32_t>(file.size() * 2));
    const size_t hdr = wav.size();
    wav.resize(hdr + file.size() * 2);
    std::memcpy(wav.data() + hdr, file.data(), file.size() * 2);
    const std::string path = "/tmp/tarvolin_real_playback.wav";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(wav.data()), static_cast<long>(wav.size()));

    Recording rec;
    rec.left.assign(size_t(kRate) * 20, 0);
    PaStream* in = nullptr;
    if (Pa_OpenDefaultStream(&in, 2, 0, paInt16, kRate, paFramesPerBufferUnspecified, recordCallback, &rec) !=
            paNoError ||
        Pa_StartStream(in) != paNoError)
        return skip("the default input cannot record");
    // Monitor capture starts late: wait until frames flow, then a little more.
    const auto t0 = std::chrono::steady_clock::now();
    auto secs = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };
    while (rec.frames.load() < size_t(kRate) / 2 && secs() < 8) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    TMMAudioPlayer player(out);
    player.setDeviceID(MapperId);
    // The alarm's own queue: 5 x 2048 bytes (about 53 ms at 48 kHz).
    player.setBufferSize(2048);
    player.setNumBuffers(5);
    player.setCallBackMode(cmThread);
    bool stopped = false;
    player.OnStop = [&](TMMCustomDSPComponent*) { stopped = true; };
    player.setFileName(path);
    std::printf("playing on: %s\n", player.ProductName().c_str());
    const size_t startFrame = rec.frames.load();
    try {
        player.Play();
    } catch (const EMMError& e) {
        std::printf("FAIL: Play: %s\n", e.what());
        return 1;
    }
    while (!stopped && secs() < 20) {
        WindowPoster().ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    Pa_StopStream(in);
    Pa_CloseStream(in);
    std::remove(path.c_str());
    if (!stopped) {
        std::printf("FAIL: playback did not end\n");
        return 1;
    }

    // Align: the onset in the recording, then the best lag around it.
    const size_t total = rec.frames.load();
    size_t onset = SIZE_MAX;
    for (size_t i = startFrame; i < total; ++i)
        if (std::abs(rec.left[i]) > 1500) {
            onset = i;
            break;
        }
    if (onset == SIZE_MAX || onset + n > total + 2000) {
        std::printf("FAIL: the sound never arrived (%zu frames recorded)\n", total);
        return 1;
    }
    double best = -1;
    size_t bestLag = 0;
    const size_t from = onset > 2000 ? onset - 2000 : 0;
    for (size_t lag = from; lag <= onset + 2000 && lag + n <= total; ++lag) {
        double xy = 0, xx = 0, yy = 0;
        for (size_t i = 0; i < n; i += 4) {
            const double x = file[2 * i], y = rec.left[lag + i];
            xy += x * y;
            xx += x * x;
            yy += y * y;
        }
        const double c = xy / std::sqrt(xx * yy + 1e-9);
        if (c > best) {
            best = c;
            bestLag = lag;
        }
    }
    double xy = 0, xx = 0, yy = 0;
    for (size_t i = 0; i < n && bestLag + i < total; ++i) {
        const double x = file[2 * i], y = rec.left[bestLag + i];
        xy += x * y;
        xx += x * x;
        yy += y * y;
    }
    const double corr = xy / std::sqrt(xx * yy + 1e-9);
    if (const char* dump = std::getenv("TARVOLIN_PLAYBACK_DUMP")) {
        // The file's and the aligned recording's left channel, for a closer look.
        std::ofstream d(dump, std::ios::binary);
        for (size_t i = 0; i < n && bestLag + i < total; ++i) {
            d.write(reinterpret_cast<const char*>(&file[2 * i]), 2);
            d.write(reinterpret_cast<const char*>(&rec.left[bestLag + i]), 2);
        }
    }
    const double levelDb = 10 * std::log10((yy + 1e-9) / (xx + 1e-9));
    int failures = 0;
    std::printf("%s correlation after alignment (%.5f, lag %zu frames)\n", corr >= 0.99 ? "ok:  " : "FAIL:", corr,
                bestLag - startFrame);
    if (corr < 0.99) ++failures;
    std::printf("%s level difference (%.3f dB)\n", std::fabs(levelDb) <= 0.1 ? "ok:  " : "FAIL:", levelDb);
    if (std::fabs(levelDb) > 0.1) ++failures;
    // The end of the sound is heard too, not cut by the device's latency.
    const size_t tail = n - kRate / 10;
    double tx = 0, ty = 0;
    for (size_t i = tail; i < n && bestLag + i < total; ++i) {
        tx += double(file[2 * i]) * file[2 * i];
        ty += double(rec.left[bestLag + i]) * rec.left[bestLag + i];
    }
    const double tailDb = 10 * std::log10((ty + 1e-9) / (tx + 1e-9));
    std::printf("%s level of the last 100 ms (%.3f dB)\n", std::fabs(tailDb) <= 0.1 ? "ok:  " : "FAIL:", tailDb);
    if (std::fabs(tailDb) > 0.1) ++failures;
    return failures ? 1 : 0;
}
