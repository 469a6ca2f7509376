// The live page and its access token over loopback: an address other than
// loopback without a token is refused before anything listens; with one,
// /status and /metrics answer 401 without the right bearer token, the page
// itself is public and carries no token; the WebSocket gives nothing before
// the right token (wrong: closed 1008, none: dropped), refuses a foreign
// Origin and clients over the limit, pauses a hidden client, and drops a
// client that stops reading before its queue passes the bound.
#include "monitoring/qt/MMLivePage.h"
#include "monitoring/qt/MMStatusServer.h"

#include <QTest>
#include <QWebSocket>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <sstream>

namespace {

constexpr quint16 kPort = 18437;  // below the ephemeral range
const std::string kToken = "s3cret-token-0123";
const std::string kHostile = "<b>x</b><script>";

int Connect(int rcvbuf = 0)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (rcvbuf > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kPort);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// One HTTP request on a helper thread while the event loop turns; the head and body.
std::string Get(const std::string& path, const std::string& auth = "")
{
    auto fut = std::async(std::launch::async, [&] {
        const int fd = Connect();
        if (fd < 0) return std::string("connect failed");
        const std::string req = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                                (auth.empty() ? "" : "Authorization: " + auth + "\r\n") + "\r\n";
        send(fd, req.data(), req.size(), MSG_NOSIGNAL);
        std::string reply;
        char buf[4096];
        for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) {
            reply.append(buf, static_cast<size_t>(n));
            const size_t head = reply.find("\r\n\r\n"), cl = reply.find("Content-Length: ");
            if (head != std::string::npos && cl < head && reply.size() >= head + 4 + std::stoul(reply.substr(cl + 16)))
                break;
        }
        close(fd);
        return reply;
    });
    while (fut.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) QTest::qWait(5);
    return fut.get();
}

struct TClient {
    QWebSocket socket;
    QStringList messages;
    int closeCode = -1;
    explicit TClient(const QString& origin = "http://127.0.0.1:18437") : socket(origin)
    {
        QObject::connect(&socket, &QWebSocket::binaryMessageReceived,
                         [this](const QByteArray& m) { messages << QString::fromUtf8(m); });
        QObject::connect(&socket, &QWebSocket::disconnected, [this] { closeCode = socket.closeCode(); });
    }
    bool Open()
    {
        socket.open(QUrl("ws://127.0.0.1:18437/live"));
        return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState || closeCode >= 0; },
                               3000) &&
               socket.state() == QAbstractSocket::ConnectedState;
    }
    void Send(const std::string& json) { socket.sendTextMessage(QString::fromStdString(json)); }
};

struct Fixture {
    TMMStatusFunction status;
    TMMLiveFunction live;
    std::string log = "ok";
    Fixture()
    {
        status.OnSnapshot = [] { return TStatusSnapshot{}; };
        live.OnFrame = [this] {
            TLiveFrame f;
            f.Channels = 2;
            TLiveStrip s;
            s.Status.Label = kHostile;
            s.Segments = 10;
            f.Strips.push_back(s);
            f.LogLines.push_back(log);
            return f;
        };
    }
};

}  // namespace

TEST(LivePage, TokenGuardsEveryDoorOverLoopback)
{
    for (const char* a : {"0.0.0.0", "192.168.1.20", "::", "tarvolin.local"}) EXPECT_TRUE(TMMStatusServer::NeedsToken(a)) << a;
    for (const char* a : {"127.0.0.1", "127.0.0.2", "::1", "localhost"}) EXPECT_FALSE(TMMStatusServer::NeedsToken(a)) << a;

    Fixture fx;
    std::ostringstream err;
    EXPECT_EQ(TMMStatusServer::Start(fx.status, &fx.live, "0.0.0.0", kPort, "", err), nullptr);
    EXPECT_NE(err.str().find("needs an access token"), std::string::npos) << err.str();
    EXPECT_EQ(Get("/status"), "connect failed");

    auto server = TMMStatusServer::Start(fx.status, &fx.live, "0.0.0.0", kPort, kToken, err);
    ASSERT_NE(server, nullptr) << err.str();
    TMMLivePage& page = *server->LivePage();
    TMMLivePage::TLimits limits;
    limits.MaxClients = 3;
    limits.AuthMs = 400;
    limits.FrameMs = 10;
    limits.MaxQueueBytes = 65536;
    page.setLimits(limits);

    for (const char* path : {"/status", "/metrics"}) {
        EXPECT_EQ(Get(path).rfind("HTTP/1.1 401", 0), 0u) << path;
        EXPECT_EQ(Get(path, "Bearer wrong-token-0123").rfind("HTTP/1.1 401", 0), 0u) << path;
        EXPECT_EQ(Get(path, "Bearer " + kToken.substr(0, kToken.size() - 1)).rfind("HTTP/1.1 401", 0), 0u);
        EXPECT_EQ(Get(path, "Bearer " + kToken).rfind("HTTP/1.1 200", 0), 0u) << path;
    }
    EXPECT_NE(Get("/metrics").find("WWW-Authenticate: Bearer"), std::string::npos);
    const std::string html = Get("/");
    EXPECT_EQ(html.rfind("HTTP/1.1 200", 0), 0u);
    EXPECT_NE(html.find("Content-Security-Policy: default-src 'none'"), std::string::npos);
    EXPECT_EQ(html.find(kToken), std::string::npos);
    EXPECT_NE(Get("/live.js").find("textContent"), std::string::npos);
    EXPECT_EQ(Get("/live.js").find("innerHTML"), std::string::npos);

    // Wrong token: closed with "policy violated", nothing sent. No token: dropped.
    TClient wrong, mute, foreign("http://evil.example");
    ASSERT_TRUE(wrong.Open());
    wrong.Send("{\"token\":\"s3cret-token-012\"}");
    ASSERT_TRUE(mute.Open());
    foreign.socket.open(QUrl("ws://127.0.0.1:18437/live"));
    QTest::qWait(700);
    EXPECT_EQ(wrong.closeCode, QWebSocketProtocol::CloseCodePolicyViolated);
    EXPECT_GE(mute.closeCode, 0);
    EXPECT_GE(foreign.closeCode, 0);
    EXPECT_TRUE(wrong.messages.isEmpty() && mute.messages.isEmpty() && foreign.messages.isEmpty());
    EXPECT_EQ(page.Unauthorized(), 2u);
    EXPECT_EQ(page.Clients(), 0);

    // The right token: info (hostile label as a string) and levels; hidden: nothing more.
    TClient viewer;
    ASSERT_TRUE(viewer.Open());
    viewer.Send("{\"token\":\"" + kToken + "\"}");
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewer.messages.size() >= 2; }, 2000));
    EXPECT_TRUE(viewer.messages[0].contains("\"label\":\"<b>x</b><script>\"")) << viewer.messages[0].toStdString();
    EXPECT_TRUE(viewer.messages[1].startsWith("{\"type\":\"levels\""));
    viewer.Send("{\"hidden\":true}");
    QTest::qWait(100);
    const auto seen = viewer.messages.size();
    fx.log = "changed";
    QTest::qWait(200);
    EXPECT_EQ(viewer.messages.size(), seen);
    viewer.Send("{\"hidden\":false}");
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewer.messages.size() >= seen + 2; }, 2000));
    EXPECT_TRUE(viewer.messages[seen].contains("changed"));

    // The limit: two more fit, the fourth is refused.
    TClient second, third, fourth;
    ASSERT_TRUE(second.Open() && third.Open());
    fourth.socket.open(QUrl("ws://127.0.0.1:18437/live"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fourth.closeCode >= 0; }, 3000));
    EXPECT_EQ(page.Clients(), 3);
    second.socket.abort();
    third.socket.abort();
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.Clients() == 1; }, 2000));

    // A client that stops reading: a raw socket with a small receive buffer
    // takes the frames (each a new 20 kB log line) without reading them.
    auto stalled = std::async(std::launch::async, [] {
        const int fd = Connect(4096);
        const std::string req = "GET /live HTTP/1.1\r\nHost: 127.0.0.1:18437\r\nUpgrade: websocket\r\n"
                                "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                "Sec-WebSocket-Version: 13\r\n\r\n";
        send(fd, req.data(), req.size(), MSG_NOSIGNAL);
        char head[512];
        const ssize_t n = recv(fd, head, sizeof head, 0);  // 101 and nothing more read
        std::string frame = "\x81\x80" + std::string(4, '\0');
        const std::string text = "{\"token\":\"" + kToken + "\"}";
        frame[1] = static_cast<char>(0x80 | text.size());
        frame += text;  // a zero mask leaves the text as it is
        send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
        return std::make_pair(fd, std::string(head, n > 0 ? static_cast<size_t>(n) : 0));
    });
    while (stalled.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) QTest::qWait(5);
    const auto [fd, reply] = stalled.get();
    EXPECT_EQ(reply.rfind("HTTP/1.1 101", 0), 0u) << reply;
    int step = 0;
    fx.live.OnFrame = [&step, inner = fx.live.OnFrame] {
        TLiveFrame f = inner();
        f.LogLines.assign(1, std::to_string(++step) + std::string(20000, 'x'));
        return f;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.Slow() == 1; }, 10000)) << "frames " << page.Frames();
    EXPECT_EQ(page.Clients(), 1);  // the reading viewer stays
    const auto before = viewer.messages.size();
    EXPECT_TRUE(QTest::qWaitFor([&] { return viewer.messages.size() > before + 5; }, 2000));
    close(fd);

    // The pages share a budget of frames: at 20 a second one watcher gets
    // about 20, not the 100 its 10 ms interval would give.
    limits.SharedFramesPerSecond = 20;
    page.setLimits(limits);
    const uint64_t first = page.Frames();
    QTest::qWait(1000);
    EXPECT_GE(page.Frames() - first, 10u);
    EXPECT_LE(page.Frames() - first, 25u);
}

// With a certificate and key: the page's socket over wss:// carries the
// frames after the token; plain HTTP on the same port gets no answer.
TEST(LivePage, TlsCarriesTheSocketAndRefusesPlainHttp)
{
    Fixture fx;
    std::ostringstream err;
    TMMStatusServer::TStartOptions o;
    o.Address = "127.0.0.1";
    o.Port = kPort;
    o.Token = kToken;
    o.Live = &fx.live;
    o.CertFile = TARVOLIN_SOURCE_DIR "/tests/data/live_tls/cert.pem";
    o.KeyFile = TARVOLIN_SOURCE_DIR "/tests/data/live_tls/missing.pem";
    EXPECT_EQ(TMMStatusServer::Start(fx.status, o, err), nullptr);
    EXPECT_NE(err.str().find("cannot read the key"), std::string::npos) << err.str();
    o.KeyFile = TARVOLIN_SOURCE_DIR "/tests/data/live_tls/key.pem";
    auto server = TMMStatusServer::Start(fx.status, o, err);
    ASSERT_NE(server, nullptr) << err.str();

    EXPECT_EQ(Get("/status", "Bearer " + kToken).find("HTTP/1.1 200"), std::string::npos);

    TClient viewer("https://127.0.0.1:18437");
    QObject::connect(&viewer.socket, &QWebSocket::sslErrors, [&viewer] { viewer.socket.ignoreSslErrors(); });
    viewer.socket.open(QUrl("wss://127.0.0.1:18437/live"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewer.socket.state() == QAbstractSocket::ConnectedState; }, 5000))
        << viewer.socket.errorString().toStdString();
    viewer.Send("{\"token\":\"" + kToken + "\"}");
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewer.messages.size() >= 2; }, 3000));
    EXPECT_TRUE(viewer.messages[0].startsWith("{\"type\":\"info\""));
}
