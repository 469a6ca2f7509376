// Pairs of a real multichannel device through a PulseAudio server of its own
// (so that nothing can take over the stream when the sink goes): an
// 8-channel null sink, each channel a 997 Hz tone at its own level, is
// recorded from its monitor as four pairs "pulse (1-2)" ... "pulse (7-8)" of
// one shared PortAudio stream; each pair must read its own channels' levels.
// Then the sink is unloaded and loaded again while recording: each pair's
// recorder reports the loss once, reopens by itself and reads the right
// levels again, and a recorder on another device never stops.
// Exits 77 (skipped) where PulseAudio is missing or does not start.
#include "audio/MMPaWaveIn.h"
#include "audio/MMSimWaveIn.h"
#include "audio/MMWavIn.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kRate = 48000;
constexpr int kChannels = 8;
constexpr double kPi = 3.14159265358979323846;
const char* const kSink = "tv_pairs8";

double LevelDb(int c) { return -6.0 - 3.0 * c; }  // channel c (0-based)

int failures = 0;
void check(bool ok, const std::string& what, double value)
{
    std::printf("%s %s (%.3f)\n", ok ? "ok:  " : "FAIL:", what.c_str(), value);
    if (!ok) ++failures;
}

int skip(const char* why)
{
    std::printf("SKIPPED real_pairs: %s\n", why);
    return 77;
}

std::string run(const std::string& cmd)
{
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

// The ALSA plugin's order for 8 channels: with the same map on the sink,
// the plugin's stream and the player, nothing is remixed.
const char* const kMap = "front-left,front-right,rear-left,rear-right,front-center,lfe,side-left,side-right";

std::string loadSink()
{
    return run(std::string("pactl load-module module-null-sink sink_name=") + kSink + " channels=8 rate=48000 channel_map=" +
               kMap + " 2>/dev/null");
}

// The server of this test, in a runtime folder of its own.
struct Server {
    std::string dir;
    bool Start()
    {
        char tmpl[] = "/tmp/tv_pairs_pulse.XXXXXX";
        if (!mkdtemp(tmpl)) return false;
        dir = tmpl;
        setenv("PULSE_RUNTIME_PATH", dir.c_str(), 1);
        unsetenv("PULSE_SERVER");
        const std::string cmd = "pulseaudio -D -n --exit-idle-time=-1 --disallow-exit --log-target=file:" + dir +
                                "/log --load='module-native-protocol-unix auth-anonymous=1' 2>/dev/null";
        if (std::system(cmd.c_str()) != 0) return false;
        for (int i = 0; i < 50; ++i) {
            if (std::system("pactl info >/dev/null 2>&1") == 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
    ~Server()
    {
        if (dir.empty()) return;
        [[maybe_unused]] const int rc = std::system("pulseaudio --kill 2>/dev/null");
        run("rm -rf '" + dir + "'");
    }
};

// Plays eight tones into the sink through pacat (its own child process)
// until the sink goes away or Stop is called.
class Player {
public:
    void Start()
    {
        Stop();
        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[0], 0);
        posix_spawn_file_actions_addclose(&fa, fds[1]);
        const std::string device = std::string("--device=") + kSink;
        const std::string map = std::string("--channel-map=") + kMap;
        const char* argv[] = {"pacat", "--playback", device.c_str(), "--channels=8", "--rate=48000",
                              "--format=s16le", "--latency-msec=60", map.c_str(), nullptr};
        const int rc = posix_spawnp(&mPid, "pacat", &fa, nullptr, const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&fa);
        close(fds[0]);
        if (rc != 0) {
            close(fds[1]);
            mPid = 0;
            return;
        }
        mFd = fds[1];
        mThread = std::thread([this] {
            std::vector<int16_t> buf(1024 * kChannels);
            const double step = 2 * kPi * 997.0 / kRate;
            for (;;) {
                for (size_t f = 0; f < 1024; ++f, mPhase += step)
                    for (int c = 0; c < kChannels; ++c)
                        buf[f * kChannels + static_cast<size_t>(c)] =
                            static_cast<int16_t>(std::lround(32767.0 * std::pow(10, LevelDb(c) / 20) * std::sin(mPhase)));
                const auto bytes = static_cast<ssize_t>(buf.size() * 2);
                if (write(mFd, buf.data(), static_cast<size_t>(bytes)) != bytes) break;
            }
        });
    }
    void Stop()
    {
        if (mPid > 0) {
            kill(mPid, SIGTERM);  // a blocked write then fails
            if (mThread.joinable()) mThread.join();
            waitpid(mPid, nullptr, 0);
            mPid = 0;
        }
        if (mFd >= 0) close(mFd);
        mFd = -1;
    }
    ~Player() { Stop(); }

private:
    pid_t mPid = 0;
    int mFd = -1;
    std::thread mThread;
    double mPhase = 0;
};

struct Peak {
    double at;
    int left, right;
};

}  // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    if (run("for c in pulseaudio pactl pacat; do command -v $c; done | wc -l") != "3") return skip("pulseaudio, pactl or pacat is missing");
    Server server;
    if (!server.Start()) return skip("pulseaudio does not start");
    std::string module = loadSink();
    if (module.empty()) return skip("the 8-channel null sink cannot be loaded");
    // Every 'pulse' stream of this process records from the sink's monitor.
    setenv("PULSE_SOURCE", (std::string(kSink) + ".monitor").c_str(), 1);

    TMMPortAudioWaveIn pa;
    if (!pa.Initialized()) return skip(("PortAudio did not start: " + pa.InitError()).c_str());
    std::array<int, 4> ids{-1, -1, -1, -1};
    for (int id = 0; id < pa.GetNumDevs(); ++id) {
        WaveInCaps caps;
        if (pa.GetDevCaps(id, caps) != MMSYSERR_NOERROR) continue;
        for (int p = 0; p < 4; ++p)
            if (caps.szPname == "pulse (" + std::to_string(2 * p + 1) + "-" + std::to_string(2 * p + 2) + ")" && ids[p] < 0)
                ids[static_cast<size_t>(p)] = id;
    }
    if (ids[3] < 0) return skip("PortAudio lists no 'pulse' device with 8 or more channels");

    Player player;
    player.Start();

    const auto t0 = std::chrono::steady_clock::now();
    auto now = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };
    std::array<std::unique_ptr<TMMWaveIn>, 4> rec;
    std::array<std::vector<Peak>, 4> peaks;
    std::vector<std::string> events;
    for (int p = 0; p < 4; ++p) {
        auto& r = rec[static_cast<size_t>(p)];
        r = std::make_unique<TMMWaveIn>(pa);
        r->setNumBuffers(5);
        r->setMode(mStereo);
        r->setBitLength(b16Bit);
        r->setSampleRate(kRate);
        r->setDeviceID(ids[static_cast<size_t>(p)]);
        r->setReopenInterval(2000);
        r->OnDeviceEvent = [&events, p](const std::string& what, const std::string& dev) {
            events.push_back(what + " " + dev);
            std::printf("event: recorder %d %s %s\n", p + 1, what.c_str(), dev.c_str());
        };
        r->OnBufferReady = [&peaks, &now, p](TMMCustomDSPComponent*, PWaveHdr h) {
            const auto* s = reinterpret_cast<const int16_t*>(h->lpData);
            Peak k{now(), 0, 0};
            for (uint32_t i = 0; i + 1 < h->dwBytesRecorded / 2; i += 2) {
                k.left = std::max(k.left, std::abs(int{s[i]}));
                k.right = std::max(k.right, std::abs(int{s[i + 1]}));
            }
            peaks[static_cast<size_t>(p)].push_back(k);
        };
    }
    // A recorder on another device, to show it never stops.
    TMMSimulatedWaveIn sim(TMMSimulatedWaveIn::Clock::RealTime);
    TMMWaveIn other(sim);
    other.setMode(mStereo);
    other.setBitLength(b16Bit);
    other.setSampleRate(kRate);
    std::atomic<int> otherBuffers{0};
    other.OnBufferReady = [&](TMMCustomDSPComponent*, PWaveHdr) { ++otherBuffers; };
    try {
        for (auto& r : rec) r->Start();
        other.Start();
    } catch (const EMMWaveInError& e) {
        std::printf("FAIL: Start: %s\n", e.what());
        return 1;
    }

    auto spin = [&](double seconds, const std::function<bool()>& done) {
        const double end = now() + seconds;
        while (now() < end && !done()) {
            WindowPoster().ProcessMessages();
            for (auto& r : rec) r->Poll();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    // Each channel's level over the last second, once the tones arrive.
    auto toneIn = [&](int p) {
        const auto& v = peaks[static_cast<size_t>(p)];
        return !v.empty() && v.back().left > 32767.0 * std::pow(10, (LevelDb(2 * p) - 1) / 20);
    };
    auto allTones = [&] {
        for (int p = 0; p < 4; ++p)
            if (!toneIn(p)) return false;
        return true;
    };
    auto measure = [&](const std::string& when) {
        const double since = now() - 1.0;
        for (int p = 0; p < 4; ++p) {
            int l = 0, r = 0;
            for (const Peak& k : peaks[static_cast<size_t>(p)])
                if (k.at >= since) {
                    l = std::max(l, k.left);
                    r = std::max(r, k.right);
                }
            const double dl = 20 * std::log10(std::max(l, 1) / 32767.0), dr = 20 * std::log10(std::max(r, 1) / 32767.0);
            std::printf("%s: pair %d reads %.2f / %.2f dBFS (expected %.1f / %.1f)\n", when.c_str(), p + 1, dl, dr,
                        LevelDb(2 * p), LevelDb(2 * p + 1));
            check(std::fabs(dl - LevelDb(2 * p)) <= 0.2, when + ": pair " + std::to_string(p + 1) + " left level", dl);
            check(std::fabs(dr - LevelDb(2 * p + 1)) <= 0.2, when + ": pair " + std::to_string(p + 1) + " right level", dr);
        }
    };

    spin(15, allTones);
    if (!allTones()) {
        std::printf("FAIL: the tones never arrived on every pair\n");
        return 1;
    }
    spin(1.5, [] { return false; });
    measure("before");
    std::array<size_t, 4> count{};
    for (int p = 0; p < 4; ++p) count[static_cast<size_t>(p)] = peaks[static_cast<size_t>(p)].size();
    check(std::abs(static_cast<long>(count[0]) - static_cast<long>(count[3])) <= 1, "pairs 1 and 4 got as many buffers",
          static_cast<double>(count[0]) - static_cast<double>(count[3]));

    // The sink goes away mid-run.
    const int otherBefore = otherBuffers;
    const double lostAt = now();
    player.Stop();
    run("pactl unload-module " + module);
    auto allLost = [&] {
        for (auto& r : rec)
            if (!r->DeviceLost()) return false;
        return true;
    };
    spin(12, allLost);
    check(allLost(), "every pair's recorder is lost", now() - lostAt);
    events.clear();

    module = loadSink();
    player.Start();
    auto allBack = [&] {
        for (auto& r : rec)
            if (r->DeviceLost() || !r->DeviceStarted()) return false;
        return true;
    };
    spin(15, allBack);
    check(allBack(), "every pair's recorder reopened", now() - lostAt);
    for (int p = 0; p < 4; ++p) check(rec[static_cast<size_t>(p)]->Reopens() == 1, "one reopen", rec[static_cast<size_t>(p)]->Reopens());
    check(events.size() == 4, "one reopened report per recorder", static_cast<double>(events.size()));
    for (auto& v : peaks) v.clear();
    spin(15, allTones);
    spin(1.5, [] { return false; });
    measure("after");
    check(other.DeviceStarted() && otherBuffers - otherBefore > 100, "the other recorder never stopped",
          otherBuffers - otherBefore);

    for (auto& r : rec) r->Close();
    other.Close();
    player.Stop();
    run("pactl unload-module " + module);
    std::printf("%s\n", failures ? "real_pairs FAILED" : "real_pairs passed");
    return failures ? 1 : 0;
}
