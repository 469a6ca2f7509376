// One fuzz input as a client of the status endpoint: the bytes go to a
// TMMStatusServer on 127.0.0.1 over one connection, and whatever comes back
// is read until the server is done with them. The request parsing
// itself is the HTTP server library's; ours is the connection guard, the
// routes and the renderings. The snapshot the server renders carries the
// input as strip label and device name, so the JSON and Prometheus texts are
// fuzzed with it too: every 200 answer must parse, labels must come back, and
// the connection must be gone afterwards. Shared by the fuzzer and the corpus
// replay test; needs a QCoreApplication and no running event loop.
#pragma once

#include "monitoring/MMStatus.h"
#include "monitoring/qt/MMStatusServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

// The fuzzer's own checks of the answers carry no coverage: their branches
// would steer the corpus towards inputs that only exercise the checks.
#if defined(__clang__)
#define FUZZ_CHECK_ONLY __attribute__((no_sanitize("coverage")))
#else
#define FUZZ_CHECK_ONLY
#endif

// Whether s is well-formed UTF-8 (no overlongs, surrogates or values past U+10FFFF).
FUZZ_CHECK_ONLY inline bool FuzzValidUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        std::uint32_t cp = n == 1 ? c : c & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) {
            const unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static const std::uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}

// The Prometheus text format as a scraper reads it: UTF-8, "# HELP"/"# TYPE"
// lines and samples `name{label="value",...} number`, label values with the
// escapes \\ \" \n only, every line ended by a line feed.
FUZZ_CHECK_ONLY inline bool FuzzPrometheusTextValid(std::string_view t)
{
    if (!FuzzValidUtf8(t) || t.empty() || t.back() != '\n') return false;
    auto nameChar = [](char c, bool first) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || (!first && c >= '0' && c <= '9');
    };
    for (std::size_t pos = 0; pos < t.size();) {
        const std::size_t end = t.find('\n', pos);
        const std::string_view line = t.substr(pos, end - pos);
        pos = end + 1;
        if (line.rfind("# HELP ", 0) == 0 || line.rfind("# TYPE ", 0) == 0) continue;
        std::size_t i = 0;
        if (line.empty() || !nameChar(line[0], true)) return false;
        while (i < line.size() && nameChar(line[i], false)) ++i;
        if (i < line.size() && line[i] == '{') {
            for (++i;;) {
                const std::size_t start = i;
                while (i < line.size() && nameChar(line[i], i == start) && line[i] != ':') ++i;
                if (i == start || line.substr(i, 2) != "=\"") return false;
                for (i += 2; i < line.size() && line[i] != '"'; ++i) {
                    if (line[i] != '\\') continue;
                    if (++i >= line.size() || (line[i] != '\\' && line[i] != '"' && line[i] != 'n')) return false;
                }
                if (i >= line.size()) return false;
                ++i;
                if (i < line.size() && line[i] == ',') {
                    ++i;
                    continue;
                }
                if (i >= line.size() || line[i] != '}') return false;
                ++i;
                break;
            }
        }
        if (i >= line.size() || line[i] != ' ') return false;
        const std::string_view value = line.substr(i + 1);
        if (value.empty() || value.find_first_not_of("0123456789.-+eEInfNa") != std::string_view::npos) return false;
    }
    return true;
}

// A snapshot whose texts are the input: one watched strip, one unwatched, one recorder.
inline TStatusSnapshot FuzzStatusSnapshot(const std::string& text)
{
    TStatusSnapshot s;
    s.TimeMs = 1700000000000 + static_cast<std::int64_t>(text.size());
    s.UptimeSeconds = static_cast<double>(text.size()) / 8;
    s.Detector = true;
    s.Channels = 2;
    TStripStatus a;
    a.Strip = 1;
    a.Label = text;
    a.Watched = true;
    a.Level = static_cast<int>(text.size() % 32769);
    a.Peak = 32768;
    a.State = static_cast<TSilenceState>(text.size() % 3);
    a.SilentMs = 1500;
    a.LastAlarmMs = text.size() % 2 ? 1700000000000 : -1;
    TStripStatus b;
    b.Strip = 2;
    b.Label = text.substr(text.size() / 2);
    s.Strips = {a, b};
    s.Recorders.push_back({1, text, true, 3, 4, text});
    return s;
}

// The renderings of a snapshot carrying `text`: JSON that parses with the label
// and device back (when the text is UTF-8), Prometheus text a scraper accepts.
inline void FuzzStatusTexts(const std::string& text)
{
    const TStatusSnapshot s = FuzzStatusSnapshot(text);
    QJsonParseError pe{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(StatusJson(s)), &pe);
    if (pe.error != QJsonParseError::NoError || !doc.isObject()) std::abort();
    const QJsonArray strips = doc.object()["strips"].toArray();
    if (strips.size() != 2) std::abort();
    if (FuzzValidUtf8(text)) {
        const QString label = QString::fromStdString(text);
        if (strips[0].toObject()["label"].toString() != label) std::abort();
        if (doc.object()["recorders"].toArray()[0].toObject()["device"].toString() != label) std::abort();
    }
    if (!FuzzPrometheusTextValid(StatusPrometheus(s))) std::abort();
}

// The Content-Length of the response head `headers` (0 without one).
FUZZ_CHECK_ONLY inline std::size_t FuzzContentLength(std::string_view headers)
{
    std::size_t length = 0;
    for (std::size_t p = 0; (p = headers.find("\r\n", p)) != std::string_view::npos;) {
        p += 2;
        if (headers.size() - p >= 16 && QByteArray(headers.data() + p, 15).toLower() == "content-length:")
            length = std::strtoul(std::string(headers.substr(p + 15, 20)).c_str(), nullptr, 10);
    }
    return length;
}

// Whether `reply` ends with a whole response (its head and Content-Length body),
// or is empty: a larger answer may still be on its way after a quiet moment.
FUZZ_CHECK_ONLY inline bool FuzzReplyEndsWhole(std::string_view reply)
{
    while (!reply.empty()) {
        const std::size_t head = reply.find("\r\n\r\n");
        if (head == std::string_view::npos) return false;
        const std::size_t length = FuzzContentLength(reply.substr(0, head + 2));
        if (reply.size() < head + 4 + length) return false;
        reply.remove_prefix(head + 4 + length);
    }
    return true;
}

// The answers in `reply`: whole HTTP/1.x responses with a Content-Length body
// (the last one may be cut when the server reset the connection). A 200
// carries JSON (/status) or Prometheus text (/metrics).
FUZZ_CHECK_ONLY inline void FuzzCheckReplies(std::string_view reply, bool reset)
{
    while (!reply.empty()) {
        if (reply.size() >= 7 ? reply.rfind("HTTP/1.", 0) != 0 : !reset) std::abort();
        const std::size_t head = reply.find("\r\n\r\n");
        if (head == std::string_view::npos) {
            if (!reset) std::abort();
            return;
        }
        const std::string_view headers = reply.substr(0, head + 2);
        const std::size_t length = FuzzContentLength(headers);
        if (reply.size() < head + 4 + length) {
            if (!reset) std::abort();
            return;
        }
        const std::string_view body = reply.substr(head + 4, length);
        if (reply.substr(8, 5) == " 200 ") {
            if (headers.find("application/json") != std::string_view::npos) {
                QJsonParseError pe{};
                QJsonDocument::fromJson(QByteArray(body.data(), static_cast<qsizetype>(body.size())), &pe);
                if (pe.error != QJsonParseError::NoError) std::abort();
            } else if (!FuzzPrometheusTextValid(body)) {
                std::abort();
            }
        }
        reply.remove_prefix(head + 4 + length);
    }
}

class TFuzzStatusRig {
public:
    TFuzzStatusRig()
    {
        mSource.OnSnapshot = [this] { return FuzzStatusSnapshot(mText); };
        mServer = std::make_unique<TMMStatusServer>(mSource);
        TMMStatusServer::TLimits limits;
        limits.MaxRequestBytes = 2048;  // inside the fuzzer's input sizes
        limits.MaxRequestsPerSecond = 1 << 30;
        mServer->setLimits(limits);
        std::string error;
        if (!mServer->Listen("127.0.0.1", 0, &error)) std::abort();
    }

    // Sends `request` and turns the event loop until the server has answered
    // what it will: it closed or reset the connection, or it took the
    // connection and some turns passed with nothing more coming back (the
    // server reads and answers within two). The client then resets the
    // connection, which leaves no TIME_WAIT behind over millions of runs.
    // (A client that half-closes gets no answer at all from the HTTP layer.)
    std::string Exchange(const std::string& request, bool& reset)
    {
        reset = false;
        mText = request;
        const std::uint64_t accepted = mServer->Connections();
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(mServer->Port());
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const linger hard{1, 0};
        QElapsedTimer clock;
        clock.start();
        // A loaded machine can run short of local ports for a moment (the
        // server's own closes leave TIME_WAIT): try again rather than fail.
        int fd = -1;
        for (;;) {
            fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard) != 0) std::abort();
            // A window that takes a whole /metrics answer at once: with the default one the
            // server writes it in pieces a few event-loop turns apart (4.5 times slower).
            const int window = 1 << 20;
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
            if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) break;
            const int err = errno;
            close(fd);
            if ((err != EADDRNOTAVAIL && err != EAGAIN && err != ECONNREFUSED && err != EINTR) ||
                clock.elapsed() > 5000) {
                std::fprintf(stderr, "status fuzz: connect: %s\n", std::strerror(err));
                std::abort();
            }
            usleep(20 * 1000);
            QCoreApplication::processEvents();
        }
        clock.restart();
        std::string reply;
        bool open = true;
        auto turn = [&] {
            if (clock.elapsed() > 5000) std::abort();  // a request that keeps the server busy
            QCoreApplication::processEvents();
            char buf[8192];
            for (;;) {
                const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
                if (n > 0) {
                    reply.append(buf, static_cast<std::size_t>(n));
                    continue;
                }
                if (n < 0 && errno == ECONNRESET) reset = true;
                if (n == 0 || (errno != EAGAIN && errno != EINTR)) open = false;  // closed or reset
                break;
            }
        };
        for (std::size_t sent = 0; open && sent < request.size();) {
            const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
            } else if (errno == EAGAIN) {
                turn();
            } else {
                reset = true;  // dropped by the server
                break;
            }
        }
        for (int quiet = 0; open && quiet < 8;) {
            const std::size_t before = reply.size();
            turn();
            quiet = mServer->Connections() > accepted && reply.size() == before ? quiet + 1 : 0;
            // A cut answer is waited for (the server's writes lag on a loaded machine);
            // one that never ends runs into turn()'s time limit.
            if (quiet == 8 && !FuzzReplyEndsWhole(reply)) {
                quiet = 7;
                usleep(1000);
            }
        }
        close(fd);
        // The server's side is gone as well once its deletion has run.
        while (mServer->Open() != 0) {
            if (clock.elapsed() > 5000) std::abort();
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        return reply;
    }

private:
    TMMStatusFunction mSource;
    std::unique_ptr<TMMStatusServer> mServer;
    std::string mText;
};

inline void FuzzStatusHttpOnce(const std::uint8_t* data, std::size_t size)
{
    static TFuzzStatusRig rig;
    const std::string text(reinterpret_cast<const char*>(data), size);
    FuzzStatusTexts(text);
    bool reset = false;
    const std::string reply = rig.Exchange(text, reset);
    FuzzCheckReplies(reply, reset);
}
