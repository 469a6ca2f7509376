// The status endpoint on 127.0.0.1: /status parses as JSON with the
// snapshot's values, /metrics as Prometheus text, other requests get 4xx;
// hostile clients (garbage, 1 MB of headers, 200 idle connections, a slow
// dribble) are dropped within the limits while a 10 ms timer in the same
// thread keeps ticking.
#include "monitoring/MMJournal.h"
#include "monitoring/qt/MMStatusServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <future>
#include <thread>

namespace {

int Connect(quint16 port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Sends `request` (in pieces of `chunk` bytes) and reads until the server
// closes or 5 s pass. Runs on a helper thread.
std::string Exchange(quint16 port, const std::string& request, size_t chunk = 1 << 20)
{
    const int fd = Connect(port);
    if (fd < 0) return "connect failed";
    for (size_t off = 0; off < request.size(); off += chunk) {
        const ssize_t n = send(fd, request.data() + off, std::min(chunk, request.size() - off), MSG_NOSIGNAL);
        if (n <= 0) break;
    }
    std::string reply;
    char buf[4096];
    for (;;) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        reply.append(buf, static_cast<size_t>(n));
        // One whole response is enough (the server keeps the connection).
        const size_t head = reply.find("\r\n\r\n");
        if (head != std::string::npos) {
            const size_t cl = reply.find("Content-Length: ");
            if (cl != std::string::npos && cl < head &&
                reply.size() >= head + 4 + std::stoul(reply.substr(cl + 16)))
                break;
        }
    }
    close(fd);
    return reply;
}

// Runs f on a thread while this thread's event loop turns; returns its result.
template <typename F>
auto OffThread(F f)
{
    auto fut = std::async(std::launch::async, f);
    while (fut.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) QTest::qWait(5);
    return fut.get();
}

std::string Body(const std::string& reply)
{
    const size_t head = reply.find("\r\n\r\n");
    return head == std::string::npos ? std::string() : reply.substr(head + 4);
}

struct Fixture {
    TMMStatusFunction source;
    int snapshots = 0;
    Fixture()
    {
        source.OnSnapshot = [this] {
            ++snapshots;
            TStatusSnapshot s;
            s.TimeMs = 1773532799000;
            s.UptimeSeconds = 12.5;
            s.Detector = true;
            s.Channels = 8;
            for (int n = 1; n <= 8; ++n) {
                TStripStatus t;
                t.Strip = n;
                t.Label = n == 5 ? "Vox \"A\"\n" : "L" + std::to_string(n);
                t.Watched = true;
                t.Level = n == 5 ? 0 : 16384;
                t.Peak = n == 5 ? 0 : 32768;
                t.State = n == 5 ? TSilenceState::Alarm : TSilenceState::Sounding;
                t.SilentMs = n == 5 ? 9000 : 0;
                t.Episodes = n == 5 ? 2 : 0;
                t.LastAlarmMs = n == 5 ? 1773532790000 : -1;
                s.Strips.push_back(t);
            }
            TStripStatus off;
            off.Strip = 9;
            s.Strips.push_back(off);
            s.Recorders.push_back({1, "Simulated input 1", true, 0, 100, ""});
            s.Recorders.push_back({3, "Simulated input 3", false, 0, 0, "a \"quoted\" reason"});
            return s;
        };
    }
};

TEST(StatusServer, StatusIsJsonOfTheSnapshot)
{
    Fixture f;
    TMMStatusServer server(f.source);
    std::string err;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0, &err)) << err;
    const quint16 port = server.Port();
    const std::string reply = OffThread([port] { return Exchange(port, "GET /status HTTP/1.1\r\nHost: x\r\n\r\n"); });
    ASSERT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << reply;
    EXPECT_NE(reply.find("application/json"), std::string::npos);
    QJsonParseError pe{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(Body(reply)), &pe);
    ASSERT_EQ(pe.error, QJsonParseError::NoError) << Body(reply);
    const QJsonObject o = doc.object();
    EXPECT_EQ(o["channels"].toInt(), 8);
    EXPECT_TRUE(o["detector"].toBool());
    const QJsonArray strips = o["strips"].toArray();
    ASSERT_EQ(strips.size(), 9);
    const QJsonObject s5 = strips[4].toObject();
    EXPECT_EQ(s5["label"].toString(), "Vox \"A\"\n");
    EXPECT_EQ(s5["state"].toString(), "alarm");
    EXPECT_TRUE(s5["level_dbfs"].isNull());
    EXPECT_DOUBLE_EQ(s5["silent_seconds"].toDouble(), 9.0);
    EXPECT_EQ(s5["episodes"].toInt(), 2);
    EXPECT_EQ(s5["last_alarm"].toString().left(10), QString::fromStdString(JournalDate(1773532790000)));
    const QJsonObject s1 = strips[0].toObject();
    EXPECT_DOUBLE_EQ(s1["level_dbfs"].toDouble(), -6.02);
    EXPECT_DOUBLE_EQ(s1["peak_dbfs"].toDouble(), 0.0);
    EXPECT_EQ(s1["state"].toString(), "sounding");
    EXPECT_TRUE(s1["last_alarm"].isNull());
    EXPECT_EQ(strips[8].toObject()["state"].toString(), "unwatched");
    const QJsonArray rec = o["recorders"].toArray();
    ASSERT_EQ(rec.size(), 2);
    EXPECT_EQ(rec[1].toObject()["device"].toString(), "Simulated input 3");
    EXPECT_FALSE(rec[1].toObject()["running"].toBool());
    EXPECT_EQ(rec[0].toObject()["reopens"].toInt(), 0);
    EXPECT_TRUE(rec[0].toObject()["failure"].isNull());
    EXPECT_EQ(rec[1].toObject()["failure"].toString(), "a \"quoted\" reason");
}

TEST(StatusServer, MetricsParseAsPrometheusText)
{
    Fixture f;
    TMMStatusServer server(f.source);
    ASSERT_TRUE(server.Listen("localhost", 0));
    const quint16 port = server.Port();
    const std::string reply = OffThread([port] { return Exchange(port, "GET /metrics HTTP/1.0\r\n\r\n"); });
    ASSERT_EQ(reply.rfind("HTTP/1.", 0), 0u);
    ASSERT_NE(reply.find(" 200 "), std::string::npos) << reply;
    EXPECT_NE(reply.find("text/plain; version=0.0.4"), std::string::npos);
    const QString text = QString::fromStdString(Body(reply));
    ASSERT_TRUE(text.endsWith('\n'));
    // name{label="value",...} value, with escaped label values.
    const QRegularExpression sample(
        R"(^([a-zA-Z_:][a-zA-Z0-9_:]*)(\{([a-zA-Z_][a-zA-Z0-9_]*="(\\.|[^"\\\n])*"(,[a-zA-Z_][a-zA-Z0-9_]*="(\\.|[^"\\\n])*")*)\})? (-?[0-9.]+(e[-+]?[0-9]+)?|[+-]Inf|NaN)$)");
    const QRegularExpression comment(R"(^# (HELP|TYPE) [a-zA-Z_:][a-zA-Z0-9_:]* .+$)");
    QSet<QString> typed;
    int samples = 0;
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith('#')) {
            ASSERT_TRUE(comment.match(line).hasMatch()) << line.toStdString();
            if (line.startsWith("# TYPE")) typed.insert(line.section(' ', 2, 2));
            continue;
        }
        const auto m = sample.match(line);
        ASSERT_TRUE(m.hasMatch()) << line.toStdString();
        EXPECT_TRUE(typed.contains(m.captured(1))) << line.toStdString();
        ++samples;
    }
    EXPECT_GT(samples, 8 * 8);
    EXPECT_TRUE(text.contains("tarvolin_level_dbfs{strip=\"5\",label=\"Vox \\\"A\\\"\\n\"} -Inf\n"));
    EXPECT_TRUE(text.contains("tarvolin_alarm{strip=\"5\",label=\"Vox \\\"A\\\"\\n\"} 1\n"));
    EXPECT_TRUE(text.contains("tarvolin_silence_episodes_total{strip=\"5\",label=\"Vox \\\"A\\\"\\n\"} 2\n"));
    EXPECT_TRUE(text.contains("tarvolin_recorder_running{recorder=\"3\",device=\"Simulated input 3\"} 0\n"));
    EXPECT_FALSE(text.contains("strip=\"9\""));  // unwatched strips are left out
}

TEST(StatusServer, ReadOnlyAndUnknownRequestsGet4xx)
{
    Fixture f;
    TMMStatusServer server(f.source);
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    const quint16 port = server.Port();
    for (const char* req : {"POST /status HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}",
                            "DELETE /metrics HTTP/1.1\r\nHost: x\r\n\r\n", "GET /../etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n",
                            "GET / HTTP/1.1\r\nHost: x\r\n\r\n"}) {
        const std::string reply = OffThread([port, req] { return Exchange(port, req); });
        EXPECT_EQ(reply.rfind("HTTP/1.1 4", 0), 0u) << req << " -> " << reply;
    }
    EXPECT_EQ(server.Requests(), 0u);
    EXPECT_EQ(f.snapshots, 0);

    std::string err;
    TMMStatusServer bad(f.source);
    EXPECT_FALSE(bad.Listen("not-an-address", 0, &err));
    EXPECT_EQ(err, "not an IP address: not-an-address");
    TMMStatusServer taken(f.source);
    EXPECT_FALSE(taken.Listen("127.0.0.1", port, &err));
    EXPECT_FALSE(err.empty());
}

TEST(StatusServer, RequestFloodGets429WithoutSnapshots)
{
    Fixture f;
    TMMStatusServer server(f.source);
    TMMStatusServer::TLimits lim;
    lim.MaxRequestsPerSecond = 20;
    server.setLimits(lim);
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    const quint16 port = server.Port();
    // 100 requests one after the other.
    const std::string replies = OffThread([port] {
        std::string out;
        for (int i = 0; i < 100; ++i) out += Exchange(port, "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n").substr(0, 12);
        return out;
    });
    auto count = [&replies](const std::string& what) {
        int c = 0;
        for (size_t p = replies.find(what); p != std::string::npos; p = replies.find(what, p + 1)) ++c;
        return c;
    };
    const int ok = count("HTTP/1.1 200"), refused = count("HTTP/1.1 429");
    EXPECT_GE(ok, 20);
    EXPECT_LE(ok, 60);  // the window turns when they take longer than a second
    EXPECT_EQ(ok + refused, 100);
    EXPECT_EQ(f.snapshots, ok);
    EXPECT_EQ(server.Refused(), static_cast<uint64_t>(refused));
}

TEST(StatusServer, HostileClientsNeitherStallTheThreadNorHoldMemory)
{
    Fixture f;
    TMMStatusServer server(f.source);
    TMMStatusServer::TLimits lim;
    lim.MaxConnections = 16;
    lim.IdleMs = 500;
    lim.LifetimeMs = 2000;
    server.setLimits(lim);
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    const quint16 port = server.Port();
    // Dropped clients leave nothing on stderr (a line per hostile request would flood the log).
    static std::atomic<int> warnings{0};
    warnings = 0;
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {
        ++warnings;
    });

    // A 10 ms timer in the same thread, as the meter's timers are.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, worstGap = 0;
    int ticks = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worstGap = std::max(worstGap, now - last);
        last = now;
        ++ticks;
    });
    last = clock.elapsed();
    timer.start();

    std::atomic<bool> stop{false};
    const std::string answers = OffThread([port, &stop] {
        std::string out;
        // Garbage.
        out += Exchange(port, std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11) + std::string(3000, 'A') +
                                  "\r\n\r\n") + "|";
        // 1 MB of headers.
        std::string big = "GET /status HTTP/1.1\r\nHost: x\r\n";
        while (big.size() < (1u << 20)) big += "X-Fill: " + std::string(1000, 'z') + "\r\n";
        out += Exchange(port, big + "\r\n") + "|";
        // 200 idle connections, held open.
        std::vector<int> idle;
        for (int i = 0; i < 200; ++i) idle.push_back(Connect(port));
        // A slow client: one byte every 100 ms.
        std::thread slow([port] {
            const int fd = Connect(port);
            const std::string req = "GET /status HTTP/1.1\r\nHost: x\r\n\r\n";
            for (char c : req)
                if (send(fd, &c, 1, MSG_NOSIGNAL) != 1) break;
                else std::this_thread::sleep_for(std::chrono::milliseconds(100));
            close(fd);
        });
        // A good request gets through meanwhile.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        out += Exchange(port, "GET /status HTTP/1.1\r\nHost: x\r\n\r\n");
        slow.join();
        for (int fd : idle)
            if (fd >= 0) close(fd);
        stop = true;
        return out;
    });
    timer.stop();
    QTest::qWait(100);
    qInstallMessageHandler(previous);
    EXPECT_EQ(warnings.load(), 0);

    std::cout << "worst timer gap " << worstGap << " ms, " << ticks << " ticks, " << server.Dropped() << " dropped\n";
    EXPECT_LT(worstGap, 250) << "the event loop stalled";
    EXPECT_GT(ticks, 50);
    const QStringList parts = QString::fromStdString(answers).split('|');
    ASSERT_EQ(parts.size(), 3);
    EXPECT_TRUE(parts[0].isEmpty() || parts[0].startsWith("HTTP/1.1 4")) << parts[0].toStdString();
    EXPECT_TRUE(parts[1].isEmpty() || parts[1].startsWith("HTTP/1.1 4")) << "1 MB of headers answered";
    EXPECT_TRUE(parts[2].startsWith("HTTP/1.1 200")) << parts[2].toStdString();
    EXPECT_GE(server.Dropped(), 200u - 16);
    EXPECT_LE(server.Open(), 16);
    QTest::qWait(2500);  // every remaining connection reaches its lifetime
    EXPECT_EQ(server.Open(), 0);
}

}  // namespace
