#include "monitoring/qt/MMStatusServer.h"

#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

#include <deque>
#include <memory>
#include <ostream>

// The listening socket under the HTTP server: enforces the connection limits
// before the HTTP layer sees any byte.
class TStatusTcpServer : public QTcpServer {
public:
    TStatusTcpServer(const TMMStatusServer::TLimits& limits, QObject* parent) : QTcpServer(parent), mLimits(limits) {}

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
        auto* s = new QTcpSocket(this);
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
        QTimer::singleShot(mLimits.LifetimeMs, s, [this, s] { drop(s); });
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
        });
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        addPendingConnection(s);
    }

private:
    void drop(QTcpSocket* s)
    {
        if (s->property("tv_dropped").toBool()) return;
        s->setProperty("tv_dropped", true);
        ++Dropped;
        s->readAll();  // nothing more reaches the HTTP layer
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
};

TMMStatusServer::TMMStatusServer(IMMStatusSource& source, QObject* parent)
    : QObject(parent), mSource(source), mHttp(std::make_unique<QHttpServer>())
{
    mRateClock.start();
    mHttp->route("/status", QHttpServerRequest::Method::Get, [this] {
        if (!admit()) return QHttpServerResponse(QHttpServerResponder::StatusCode::TooManyRequests);
        return QHttpServerResponse("application/json",
                                   QByteArray::fromStdString(StatusJson(mSource.StatusSnapshot())));
    });
    mHttp->route("/metrics", QHttpServerRequest::Method::Get, [this] {
        if (!admit()) return QHttpServerResponse(QHttpServerResponder::StatusCode::TooManyRequests);
        return QHttpServerResponse("text/plain; version=0.0.4; charset=utf-8",
                                   QByteArray::fromStdString(StatusPrometheus(mSource.StatusSnapshot())));
    });
}

TMMStatusServer::~TMMStatusServer()
{
    // The HTTP layer goes before the sockets it watches.
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
    auto server = std::make_unique<TMMStatusServer>(source);
    std::string error;
    if (server->Listen(QString::fromStdString(address), static_cast<quint16>(port), &error)) return server;
    err << "tarvolin: cannot serve the status on " << address << ":" << port << ": " << error << "\n";
    return nullptr;
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
