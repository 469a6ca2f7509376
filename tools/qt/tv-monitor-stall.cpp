// tv-monitor-stall: the longest stall of the GUI thread while the monitoring
// service handles a burst of alarms. A 1 ms precise timer stands for the
// connector cycles; the longest gap between two of its ticks is the stall.
// Around it: the status server with 50 clients polling /status and /metrics
// (a child process; each asks ten times a second on a new connection), the journal in a temporary folder, a command per alarm
// and a webhook POST per alarm to a local receiver (the same child).
//
//   tv-monitor-stall [BURSTS [PARTS]]
// BURSTS: default 5 bursts of 24 alarms, 1 s apart. PARTS: any of the letters
// j (journal), c (commands), w (webhook); default all three.
#include "monitoring/MMSilence.h"
#include "monitoring/MMStatus.h"
#include "monitoring/qt/MMMonitorService.h"
#include "monitoring/qt/MMStatusServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kClients = 50;
constexpr int kAlarms = 24;
constexpr int64_t kClientPeriodUs = 100000;  // each client asks ten times a second

int64_t NowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// CPU time of the calling thread: the burst's own cost without the
// scheduler's delays (the machine may be busy with other work).
int64_t ThreadCpuUs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

int Connect(quint16 port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
        close(fd);
        return -1;
    }
    return fd;
}

// The child: kClients loopback clients, each asking GET /status or /metrics
// every kClientPeriodUs (a new connection per request), and a receiver that answers
// every webhook POST 200. Ends after `seconds`.
void RunClients(quint16 statusPort, int receiver, int seconds)
{
    struct TClient {
        int Fd = -1;
        bool Sent = false;
        int Count = 0;
        int64_t Due = 0;
    };
    std::vector<TClient> clients(kClients);
    std::vector<int> accepted;
    const int64_t end = NowUs() + int64_t(seconds) * 1000000;
    while (NowUs() < end) {
        std::vector<pollfd> fds;
        const int64_t now = NowUs();
        for (int i = 0; i < kClients; ++i) {
            TClient& c = clients[i];
            if (c.Fd < 0 && now >= c.Due) {
                c.Fd = Connect(statusPort);
                c.Sent = false;
                c.Due = now + kClientPeriodUs + i * 97;  // spread over the period
            }
            fds.push_back({c.Fd, short(c.Sent ? POLLIN : POLLOUT), 0});
        }
        fds.push_back({receiver, POLLIN, 0});
        for (int fd : accepted) fds.push_back({fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 2) < 0 && errno != EINTR) break;
        char buf[65536];
        for (int i = 0; i < kClients; ++i) {
            TClient& c = clients[i];
            if (c.Fd < 0 || !fds[i].revents) continue;
            if (!c.Sent) {
                const char* path = (c.Count++ % 2) ? "/metrics" : "/status";
                const std::string req =
                    std::string("GET ") + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
                c.Sent = send(c.Fd, req.data(), req.size(), MSG_NOSIGNAL) == ssize_t(req.size());
                if (!c.Sent) {
                    close(c.Fd);
                    c.Fd = -1;
                }
            } else {
                recv(c.Fd, buf, sizeof buf, 0);  // the small answer comes in one piece
                close(c.Fd);
                c.Fd = -1;
            }
        }
        if (fds[kClients].revents) {
            const int fd = accept4(receiver, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) accepted.push_back(fd);
        }
        for (size_t i = kClients + 1; i < fds.size(); ++i) {
            if (!fds[i].revents) continue;
            const int fd = fds[i].fd;
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n > 0 && std::string(buf, size_t(n)).find("\r\n\r\n") != std::string::npos) {
                static const char ok[] = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
                send(fd, ok, sizeof ok - 1, MSG_NOSIGNAL);
            }
            close(fd);  // one read holds the whole small POST
            accepted.erase(std::find(accepted.begin(), accepted.end(), fd));
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const int bursts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int seconds = bursts + 3;
    const std::string parts = argc > 2 ? argv[2] : "jcw";
    auto has = [&parts](char c) { return parts.find(c) != std::string::npos; };

    // The webhook receiver listens before the fork; the child serves it.
    const int receiver = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(receiver, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(receiver, 64) != 0 ||
        getsockname(receiver, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        std::perror("receiver");
        return 1;
    }
    const quint16 hookPort = ntohs(a.sin_port);

    QCoreApplication app(argc, argv);
    char tmpl[] = "/tmp/tv_stall_XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string folder = tmpl;

    TMMStatusFunction source;
    source.OnSnapshot = [] {
        TStatusSnapshot s;
        s.TimeMs = 1773532799000;
        s.Detector = true;
        s.Channels = kAlarms;
        for (int i = 1; i <= kAlarms; ++i) {
            TStripStatus t;
            t.Strip = i;
            t.Label = "Strip " + std::to_string(i);
            t.Watched = true;
            s.Strips.push_back(t);
        }
        for (int i = 1; i <= kAlarms / 2; ++i) s.Recorders.push_back({i, "Simulated input", true, 0, 0, ""});
        return s;
    };
    TMMStatusServer server(source);
    TMMStatusServer::TLimits limits;  // the program's, but room for every client
    limits.MaxConnections = 2 * kClients;
    server.setLimits(limits);
    std::string error;
    if (!server.Listen("127.0.0.1", 0, &error)) {
        std::fprintf(stderr, "status server: %s\n", error.c_str());
        return 1;
    }

    const pid_t child = fork();
    if (child == 0) {
        RunClients(server.Port(), receiver, seconds);
        _exit(0);
    }
    close(receiver);

    TMMMonitorService service(has('j') ? folder : "/proc/version/journal");  // unwritable: no disk work
    TActionSettings actions;
    if (has('c')) actions.AlarmCommand = "true";
    if (has('w')) actions.AlarmUrl = "http://127.0.0.1:" + std::to_string(hookPort) + "/hook";
    service.setActions(actions);
    int errors = 0;
    service.OnError = [&errors](const std::string& e) {
        if (errors++ < 3) std::fprintf(stderr, "service: %s\n", e.c_str());
    };

    // Phases: 1 s of clients only, then the bursts 1 s apart, then 1 s more.
    int64_t last = 0, quietMax = 0, burstMax = 0, callMax = 0, cpuMax = 0;
    int64_t phaseStart = NowUs();
    int burst = 0;
    bool inBursts = false;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const int64_t now = NowUs();
        if (last) (inBursts ? burstMax : quietMax) = std::max(inBursts ? burstMax : quietMax, now - last);
        last = now;
        if (now - phaseStart < 1000000) return;
        phaseStart = now;
        if (burst == bursts) {
            app.quit();
            return;
        }
        inBursts = true;
        const int64_t t0 = NowUs(), c0 = ThreadCpuUs();
        for (int s = 1; s <= kAlarms; ++s)
            service.SilenceEvent({TSilenceEventKind::Alarm, s, "Strip " + std::to_string(s), 0, 0, {}, 6000});
        callMax = std::max(callMax, NowUs() - t0);
        cpuMax = std::max(cpuMax, ThreadCpuUs() - c0);
        ++burst;
        last = NowUs();  // the gap measured from here on includes what the burst left queued
        burstMax = std::max(burstMax, last - now);
    });
    tick.start();
    app.exec();

    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    std::printf("status requests %llu (refused %llu), journal lines %llu, errors %d\n",
                static_cast<unsigned long long>(server.Requests()), static_cast<unsigned long long>(server.Refused()),
                static_cast<unsigned long long>(service.Journal().LinesWritten()), errors);
    service.Journal().Flush();
    std::printf("journal: longest event-to-durable delay %.2f ms, dropped %llu\n",
                service.Journal().LongestDelayUs() / 1000.0,
                static_cast<unsigned long long>(service.Journal().Dropped()));
    std::printf("longest GUI-thread gap: clients only %.2f ms; with %d bursts of %d alarms %.2f ms "
                "(longest burst call %.2f ms, %.2f ms of it on the CPU)\n",
                quietMax / 1000.0, bursts, kAlarms, burstMax / 1000.0, callMax / 1000.0, cpuMax / 1000.0);
    std::filesystem::remove_all(folder);
    return 0;
}
