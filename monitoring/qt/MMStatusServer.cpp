#include "monitoring/qt/MMStatusServer.h"

#include "monitoring/MMMonitorSettings.h"
#include "monitoring/qt/MMLivePage.h"

#include <QFile>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <optional>
#include <ostream>

// The listening socket under the HTTP server: enforces the connection limits
// before the HTTP layer sees any byte.
class TStatusTcpServer : public QTcpServer {
public:
    TStatusTcpServer(const TMMStatusServer::TLimits& limits, QObject* parent) : QTcpServer(parent), mLimits(limits) {}

    // Every connection speaks TLS with this configuration (certificate and key).
    std::optional<QSslConfiguration> Tls;

    uint64_t Accepted = 0;
    uint64_t Dropped = 0;

    int Open()
    {
        prune();
        return static_cast<int>(mOpen.size());
    }

protected:
    void incomingConnection(qintptr fd) override
    {
        QTcpSocket* s = Tls ? new QSslSocket(this) : new QTcpSocket(this);
        if (Tls) static_cast<QSslSocket*>(s)->setSslConfiguration(*Tls);
        if (!s->setSocketDescriptor(fd)) {
            delete s;
            return;
        }
        ++Accepted;
        prune();
        // Full: the oldest connection makes room (an idle client cannot lock out others).
        while (static_cast<int>(mOpen.size()) >= mLimits.MaxConnections && !mOpen.empty()) {
            if (QTcpSocket* old = mOpen.front()) drop(old);
            mOpen.pop_front();
        }
        mOpen.emplace_back(s);

        auto* idle = new QTimer(s);
        idle->setSingleShot(true);
        idle->start(mLimits.IdleMs);
        QTimer::singleShot(mLimits.LifetimeMs, s, [this, s] {
            if (!s->property("tv_live").toBool()) drop(s);
        });
        connect(idle, &QTimer::timeout, s, [this, s] { drop(s); });
        auto received = std::make_shared<qint64>(0);
        // Connected before the HTTP layer's own handler, so it runs first.
        connect(s, &QTcpSocket::readyRead, s, [this, s, idle, received] {
            *received += s->bytesAvailable();
            if (*received > mLimits.MaxRequestBytes) {
                drop(s);
                return;
            }
            idle->start(mLimits.IdleMs);
            if (s->isOpen() && !s->property("tv_live").toBool() && IsUpgrade(s->peek(mLimits.MaxRequestBytes)))
                live(s, idle);
        });
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        // The HTTP layer reads the decrypted stream; a failed handshake ends at the idle limit.
        if (Tls) static_cast<QSslSocket*>(s)->startServerEncryption();
        addPendingConnection(s);
    }

private:
    // A WebSocket upgrade: the HTTP layer hands the connection to the live
    // page, whose own limits hold it from then on.
    static bool IsUpgrade(const QByteArray& head)
    {
        const QByteArray h = head.left(std::max<qsizetype>(head.indexOf("\r\n\r\n"), 0)).toLower();
        const qsizetype at = h.indexOf("\r\nupgrade:");
        return at >= 0 && h.mid(at + 10, h.indexOf("\r\n", at + 2) - at - 10).contains("websocket");
    }

    void live(QTcpSocket* s, QTimer* idle)
    {
        prune();
        const auto n = std::count_if(mLive.begin(), mLive.end(), [](const QPointer<QTcpSocket>& p) { return !p.isNull(); });
        if (n >= mLimits.MaxLiveConnections) {
            drop(s);
            return;
        }
        s->setProperty("tv_live", true);
        idle->stop();
        // A small kernel queue: a page that stops reading shows in the live page's own bound soon.
        const int sendBuffer = 65536;
        if (s->socketDescriptor() >= 0)
            setsockopt(static_cast<int>(s->socketDescriptor()), SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
        mOpen.erase(std::remove(mOpen.begin(), mOpen.end(), QPointer<QTcpSocket>(s)), mOpen.end());
        mLive.erase(std::remove_if(mLive.begin(), mLive.end(), [](const QPointer<QTcpSocket>& p) { return p.isNull(); }),
                    mLive.end());
        mLive.emplace_back(s);
    }

    void drop(QTcpSocket* s)
    {
        if (s->property("tv_dropped").toBool()) return;
        s->setProperty("tv_dropped", true);
        ++Dropped;
        s->readAll();  // nothing more reaches the HTTP layer
        // Nor does this readyRead: its handler would read the closed socket
        // (a warning on stderr per hostile request).
        QObject::disconnect(s, &QIODevice::readyRead, nullptr, nullptr);
        // A reset, not an orderly close: answers cut short must not look complete.
        const linger hard{1, 0};
        if (s->socketDescriptor() >= 0)
            setsockopt(static_cast<int>(s->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        s->abort();
        s->deleteLater();
    }

    void prune()
    {
        while (!mOpen.empty() && !mOpen.front()) mOpen.pop_front();
        for (auto it = mOpen.begin(); it != mOpen.end();)
            it = *it ? it + 1 : mOpen.erase(it);
    }

    const TMMStatusServer::TLimits& mLimits;
    std::deque<QPointer<QTcpSocket>> mOpen;
    std::deque<QPointer<QTcpSocket>> mLive;
};

namespace {

QByteArray Resource(const char* path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The page and its script and style: nothing from elsewhere, no framing,
// no inline script, no referrer.
QHttpServerResponse PagePart(const QByteArray& body, const char* type)
{
    QHttpServerResponse r(type, body);
    r.setHeader("Content-Security-Policy",
                "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self'; "
                "base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
    r.setHeader("X-Content-Type-Options", "nosniff");
    r.setHeader("X-Frame-Options", "DENY");
    r.setHeader("Referrer-Policy", "no-referrer");
    r.setHeader("Cache-Control", "no-store");
    return r;
}

QHttpServerResponse Unauthorized()
{
    QHttpServerResponse r("text/plain; charset=utf-8", QByteArray("access token required\n"),
                          QHttpServerResponder::StatusCode::Unauthorized);
    r.setHeader("WWW-Authenticate", "Bearer realm=\"tarvolin\"");
    r.setHeader("Cache-Control", "no-store");
    return r;
}

}  // namespace

TMMStatusServer::TMMStatusServer(IMMStatusSource& source, QObject* parent)
    : QObject(parent), mSource(source), mHttp(std::make_unique<QHttpServer>())
{
    Q_INIT_RESOURCE(MMLivePage);
    mRateClock.start();
    mHttp->route("/status", QHttpServerRequest::Method::Get, [this](const QHttpServerRequest& request) {
        if (!admit()) return QHttpServerResponse(QHttpServerResponder::StatusCode::TooManyRequests);
        if (!authorized(request)) return Unauthorized();
        QHttpServerResponse r("application/json", QByteArray::fromStdString(StatusJson(mSource.StatusSnapshot())));
        r.setHeader("Cache-Control", "no-store");
        return r;
    });
    mHttp->route("/metrics", QHttpServerRequest::Method::Get, [this](const QHttpServerRequest& request) {
        if (!admit()) return QHttpServerResponse(QHttpServerResponder::StatusCode::TooManyRequests);
        if (!authorized(request)) return Unauthorized();
        return QHttpServerResponse("text/plain; version=0.0.4; charset=utf-8",
                                   QByteArray::fromStdString(StatusPrometheus(mSource.MetricsSnapshot())));
    });
    // The live page: public (it asks for the token itself), served only with a live source.
    auto part = [this](const char* path, const char* resource, const char* type) {
        mHttp->route(path, QHttpServerRequest::Method::Get, [this, body = Resource(resource), type] {
            if (!mLive) return QHttpServerResponse(QHttpServerResponder::StatusCode::NotFound);
            if (!admit()) return QHttpServerResponse(QHttpServerResponder::StatusCode::TooManyRequests);
            return PagePart(body, type);
        });
    };
    // The HTTP layer hands a WebSocket request on only when a route takes its
    // path without answering it; a plain GET /live is told to upgrade.
    mHttp->route("/live", QHttpServerRequest::Method::Get,
                 [this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
                     if (mLive && request.value("Upgrade").compare("websocket", Qt::CaseInsensitive) == 0) return;
                     responder.write(mLive ? QHttpServerResponder::StatusCode::UpgradeRequired
                                           : QHttpServerResponder::StatusCode::NotFound);
                 });
    part("/", ":/web/live.html", "text/html; charset=utf-8");
    part("/live.js", ":/web/live.js", "text/javascript; charset=utf-8");
    part("/live.css", ":/web/live.css", "text/css; charset=utf-8");
}

void TMMStatusServer::setLiveSource(IMMLiveSource& live)
{
    if (mLive) return;
    mLive = std::make_unique<TMMLivePage>(live);
    mLive->setToken(mToken);
    mLive->Attach(*mHttp);
}

void TMMStatusServer::setToken(const std::string& token)
{
    mToken = token;
    if (mLive) mLive->setToken(token);
}

bool TMMStatusServer::authorized(const QHttpServerRequest& request) const
{
    if (mToken.empty()) return true;
    const QByteArray given = request.value("Authorization");
    return given.startsWith("Bearer ") && SameToken(given.mid(7).trimmed().toStdString(), mToken);
}

bool TMMStatusServer::NeedsToken(const std::string& address)
{
    if (QString::fromStdString(address).compare("localhost", Qt::CaseInsensitive) == 0) return false;
    QHostAddress host;
    return !host.setAddress(QString::fromStdString(address)) || !host.isLoopback();
}

TMMStatusServer::~TMMStatusServer()
{
    // The HTTP layer goes before the sockets it watches, the live page before it.
    mLive.reset();
    mHttp.reset();
    delete mTcp.data();
}

bool TMMStatusServer::admit()
{
    if (mRateClock.elapsed() >= 1000) {
        mRateClock.restart();
        mRateCount = 0;
    }
    if (++mRateCount > mLimits.MaxRequestsPerSecond) {
        ++mRefused;
        return false;
    }
    ++mRequests;
    return true;
}

void TMMStatusServer::setLimits(const TLimits& l)
{
    mLimits.MaxConnections = l.MaxConnections < 1 ? 1 : l.MaxConnections;
    mLimits.MaxRequestBytes = l.MaxRequestBytes < 256 ? 256 : l.MaxRequestBytes;
    mLimits.IdleMs = l.IdleMs < 1 ? 1 : l.IdleMs;
    mLimits.LifetimeMs = l.LifetimeMs < 1 ? 1 : l.LifetimeMs;
    mLimits.MaxRequestsPerSecond = l.MaxRequestsPerSecond < 1 ? 1 : l.MaxRequestsPerSecond;
}

std::unique_ptr<TMMStatusServer> TMMStatusServer::Start(IMMStatusSource& source, const std::string& address, int port,
                                                        std::ostream& err)
{
    return Start(source, nullptr, address, port, "", err);
}

std::unique_ptr<TMMStatusServer> TMMStatusServer::Start(IMMStatusSource& source, IMMLiveSource* live,
                                                        const std::string& address, int port,
                                                        const std::string& token, std::ostream& err)
{
    TStartOptions o;
    o.Address = address;
    o.Port = port;
    o.Token = token;
    o.Live = live;
    return Start(source, o, err);
}

std::unique_ptr<TMMStatusServer> TMMStatusServer::Start(IMMStatusSource& source, const TStartOptions& o,
                                                        std::ostream& err)
{
    const std::string where = o.Address + ":" + std::to_string(o.Port);
    if (o.Token.empty() && NeedsToken(o.Address)) {
        err << "tarvolin: not serving the status on " << where
            << ": an address other than loopback needs an access token (--status-token-file FILE or the setting \""
            << kStatusToken.Name << "\")\n";
        return nullptr;
    }
    auto server = std::make_unique<TMMStatusServer>(source);
    server->setToken(o.Token);
    if (o.Live) server->setLiveSource(*o.Live);
    std::string error;
    if ((o.CertFile.empty() && o.KeyFile.empty()) || server->setTls(o.CertFile, o.KeyFile, &error)) {
        if (server->Listen(QString::fromStdString(o.Address), static_cast<quint16>(o.Port), &error)) return server;
    }
    err << "tarvolin: cannot serve the status on " << where << ": " << error << "\n";
    return nullptr;
}

bool TMMStatusServer::setTls(const std::string& certFile, const std::string& keyFile, std::string* error)
{
    auto fail = [error](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (!QSslSocket::supportsSsl()) return fail("TLS is not available (no TLS back end)");
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(QString::fromStdString(certFile));
    if (chain.isEmpty()) return fail("no PEM certificate in " + certFile);
    QFile f(QString::fromStdString(keyFile));
    if (!f.open(QIODevice::ReadOnly)) return fail("cannot read the key " + keyFile);
    const QByteArray pem = f.readAll();
    QSslKey key;
    for (QSsl::KeyAlgorithm a : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa})
        if (key = QSslKey(pem, a); !key.isNull()) break;
    if (key.isNull()) return fail("no unencrypted PEM private key in " + keyFile);
    QSslConfiguration c = QSslConfiguration::defaultConfiguration();
    c.setLocalCertificateChain(chain);
    c.setPrivateKey(key);
    c.setProtocol(QSsl::TlsV1_2OrLater);
    c.setPeerVerifyMode(QSslSocket::VerifyNone);
    mTls = std::make_unique<QSslConfiguration>(c);
    return true;
}

bool TMMStatusServer::Listen(const QString& address, quint16 port, std::string* error)
{
    QHostAddress host;
    if (address.compare("localhost", Qt::CaseInsensitive) == 0)
        host = QHostAddress::LocalHost;
    else if (!host.setAddress(address)) {
        if (error) *error = "not an IP address: " + address.toStdString();
        return false;
    }
    if (mTcp) {
        if (error) *error = "already listening";
        return false;
    }
    auto* tcp = new TStatusTcpServer(mLimits, nullptr);
    if (mTls) tcp->Tls = *mTls;
    if (!tcp->listen(host, port)) {
        if (error) *error = tcp->errorString().toStdString();
        delete tcp;
        return false;
    }
    mTcp = tcp;
    mHttp->bind(mTcp);
    return true;
}

quint16 TMMStatusServer::Port() const { return mTcp ? mTcp->serverPort() : 0; }
uint64_t TMMStatusServer::Connections() const { return mTcp ? mTcp->Accepted : 0; }
uint64_t TMMStatusServer::Dropped() const { return mTcp ? mTcp->Dropped : 0; }
int TMMStatusServer::Open() const { return mTcp ? mTcp->Open() : 0; }
