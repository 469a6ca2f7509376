// Pairs through PortAudio's JACK host API on a JACK dummy server this test
// starts itself (a private server name): a client "tv_source" with 24 output
// ports, port c a 997 Hz tone at its own level, is listed as a device whose
// pairs "tv_source (1-2)" ... "tv_source (23-24)" are recorded by twelve
// recorders (one shared stream); they must read all 24 levels within 0.1 dB.
// Port 23 is a square wave 6 dB over full scale (float samples beyond 1.0
// must read as full scale, not wrap) and port 24 is digital silence (it must read zero:
// no dither noise added on the way).
// Exits 77 (skipped) where jackd is missing or does not start.
#include "audio/MMPaWaveIn.h"
#include "audio/MMWavIn.h"

#include <jack/jack.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kPorts = 24;
constexpr double kPi = 3.14159265358979323846;

constexpr int kOver = 22, kSilent = 23;
double LevelDb(int c) { return c == kOver ? 6.0 : c == kSilent ? -400.0 : -3.0 - 1.5 * c; }

int failures = 0;
void check(bool ok, const std::string& what, double value)
{
    std::printf("%s %s (%.3f)\n", ok ? "ok:  " : "FAIL:", what.c_str(), value);
    if (!ok) ++failures;
}

int skip(const std::string& why)
{
    std::printf("SKIPPED real_jack: %s\n", why.c_str());
    return 77;
}

void quiet(const char*) {}

// The source client: 24 tones.
struct Source {
    jack_client_t* client = nullptr;
    std::array<jack_port_t*, kPorts> ports{};
    double phase = 0, step = 0;

    static int Process(jack_nframes_t n, void* arg)
    {
        auto* s = static_cast<Source*>(arg);
        std::array<float*, kPorts> out{};
        for (int c = 0; c < kPorts; ++c)
            out[static_cast<size_t>(c)] = static_cast<float*>(jack_port_get_buffer(s->ports[static_cast<size_t>(c)], n));
        for (jack_nframes_t i = 0; i < n; ++i) {
            const double v = std::sin(s->phase);
            s->phase = std::fmod(s->phase + s->step, 2 * kPi);
            for (int c = 0; c < kPorts; ++c)
                out[static_cast<size_t>(c)][i] = c == kSilent ? 0.0f
                                                 : c == kOver ? (v < 0 ? -2.0f : 2.0f)
                                                              : static_cast<float>(std::pow(10, LevelDb(c) / 20) * v);
        }
        return 0;
    }
};

// jackd as our own child, ended by its id.
struct Server {
    pid_t pid = 0;
    ~Server()
    {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
};

}  // namespace

int main()
{
    const std::string name = "tv_pairs_" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);

    Server server;
    {
        const char* argv[] = {"jackd", "-r", "-n", name.c_str(), "-d", "dummy", "-r", "48000", "-p", "256",
                              "-C", "24", "-P", "2", nullptr};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        const int rc = posix_spawnp(&server.pid, "jackd", &fa, nullptr, const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&fa);
        if (rc != 0) {
            server.pid = 0;
            return skip("jackd is not installed");
        }
    }
    Source src;
    for (int i = 0; i < 100 && !src.client; ++i) {
        src.client = jack_client_open("tv_source", JackNoStartServer, nullptr);
        if (!src.client) {
            if (waitpid(server.pid, nullptr, WNOHANG) == server.pid) {
                server.pid = 0;
                return skip("jackd -d dummy does not start");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    if (!src.client) return skip("the JACK dummy server does not answer");
    const jack_nframes_t rate = jack_get_sample_rate(src.client);
    src.step = 2 * kPi * 997.0 / rate;
    for (int c = 0; c < kPorts; ++c)
        src.ports[static_cast<size_t>(c)] = jack_port_register(src.client, ("out_" + std::to_string(c + 1)).c_str(),
                                                               JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(src.client, &Source::Process, &src);
    if (jack_activate(src.client) != 0) return skip("the source client cannot be activated");

    TMMPortAudioWaveIn pa;
    if (!pa.Initialized()) return skip("PortAudio did not start: " + pa.InitError());
    std::array<int, 12> ids;
    ids.fill(-1);
    for (int id = 0; id < pa.GetNumDevs(); ++id) {
        WaveInCaps caps;
        if (pa.GetDevCaps(id, caps) != MMSYSERR_NOERROR || caps.hostApi != "JACK Audio Connection Kit") continue;
        for (int p = 0; p < 12; ++p)
            if (caps.szPname == "tv_source (" + std::to_string(2 * p + 1) + "-" + std::to_string(2 * p + 2) + ")")
                ids[static_cast<size_t>(p)] = id;
    }
    if (ids[11] < 0) return skip("PortAudio lists no JACK device 'tv_source' with 24 inputs");

    const auto t0 = std::chrono::steady_clock::now();
    auto now = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };
    struct Peak {
        double at;
        int left, right;
    };
    std::array<std::unique_ptr<TMMWaveIn>, 12> rec;
    std::array<std::vector<Peak>, 12> peaks;
    for (int p = 0; p < 12; ++p) {
        auto& r = rec[static_cast<size_t>(p)];
        r = std::make_unique<TMMWaveIn>(pa);
        r->setNumBuffers(5);
        r->setMode(mStereo);
        r->setBitLength(b16Bit);
        r->setSampleRate(static_cast<int>(rate));
        r->setDeviceID(ids[static_cast<size_t>(p)]);
        r->OnBufferReady = [&peaks, &now, p](TMMCustomDSPComponent*, PWaveHdr h) {
            const auto* s = reinterpret_cast<const int16_t*>(h->lpData);
            Peak k{now(), 0, 0};
            for (uint32_t i = 0; i + 1 < h->dwBytesRecorded / 2; i += 2) {
                k.left = std::max(k.left, std::abs(int{s[i]}));
                k.right = std::max(k.right, std::abs(int{s[i + 1]}));
            }
            peaks[static_cast<size_t>(p)].push_back(k);
        };
        try {
            r->Start();
        } catch (const EMMWaveInError& e) {
            std::printf("FAIL: Start of pair %d: %s\n", p + 1, e.what());
            return 1;
        }
    }

    auto spin = [&](double seconds) {
        const double end = now() + seconds;
        while (now() < end) {
            WindowPoster().ProcessMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    spin(1.5);
    const double since = now() - 1.0;
    for (int p = 0; p < 12; ++p) {
        int l = 0, r = 0, n = 0;
        for (const Peak& k : peaks[static_cast<size_t>(p)])
            if (k.at >= since) {
                l = std::max(l, k.left);
                r = std::max(r, k.right);
                ++n;
            }
        const double dl = 20 * std::log10(std::max(l, 1) / 32767.0), dr = 20 * std::log10(std::max(r, 1) / 32767.0);
        std::printf("pair %2d: %d buffers in the last second, %.2f / %.2f dBFS (expected %.1f / %.1f)\n", p + 1, n, dl,
                    dr, LevelDb(2 * p), LevelDb(2 * p + 1));
        if (p == 11) {
            check(l >= 32767, "strip 23, 6 dB over, reads full scale", l);
            check(r == 0, "strip 24, digital silence, reads zero", r);
            continue;
        }
        check(std::fabs(dl - LevelDb(2 * p)) <= 0.1, "strip " + std::to_string(2 * p + 1) + " level", dl);
        check(std::fabs(dr - LevelDb(2 * p + 1)) <= 0.1, "strip " + std::to_string(2 * p + 2) + " level", dr);
    }
    for (auto& r : rec) r->Close();
    jack_client_close(src.client);
    std::printf("%s\n", failures ? "real_jack FAILED" : "real_jack passed");
    return failures ? 1 : 0;
}
