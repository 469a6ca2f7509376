// `TMMStatusServer`: the read-only status endpoint over QHttpServer.
// GET /status answers JSON, GET /metrics the Prometheus text format, built
// from the source's snapshot at each request. With a live source, GET /
// serves the live page (with /live.js and /live.css, compiled in) and a
// WebSocket request for /live goes to its push channel (`TMMLivePage`).
// With an access token, /status and /metrics want "Authorization: Bearer
// TOKEN" and answer 401 without it; the live channel wants the token as
// its first message. Every other request gets 404.
// Connections are guarded so a hostile client cannot hold memory or time:
// at most MaxConnections at once (a new one closes the oldest), at most
// MaxRequestBytes read per connection, closed after IdleMs without data and
// after LifetimeMs in any case; beyond MaxRequestsPerSecond requests are
// answered 429 without building a snapshot. Runs on the GUI thread; one
// request costs a snapshot and its rendering (tens of microseconds).
#pragma once

#include "monitoring/MMLiveFrame.h"
#include "monitoring/MMStatus.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

class QHttpServer;
class QSslConfiguration;
class QHttpServerRequest;
class TMMLivePage;
class TStatusTcpServer;

class TMMStatusServer : public QObject {
    Q_OBJECT
public:
    struct TLimits {
        int MaxConnections = 32;
        int MaxRequestBytes = 16384;
        int IdleMs = 3000;
        int LifetimeMs = 10000;
        int MaxRequestsPerSecond = 50;  // more get 429 without a snapshot
        int MaxLiveConnections = 58;    // WebSocket upgrades held at once (the page's 50 and handshakes)
    };

    explicit TMMStatusServer(IMMStatusSource& source, QObject* parent = nullptr);
    ~TMMStatusServer() override;

    void setLimits(const TLimits& l);
    const TLimits& Limits() const { return mLimits; }

    // Listens on address (an IP address; "localhost" is 127.0.0.1) and port
    // (0: any free one). False with the reason in `error`.
    bool Listen(const QString& address, quint16 port, std::string* error = nullptr);
    quint16 Port() const;
    // A server listening on address:port, or null after one line on `err`
    // ("tarvolin: cannot serve the status on ADDRESS:PORT: reason").
    static std::unique_ptr<TMMStatusServer> Start(IMMStatusSource& source, const std::string& address, int port,
                                                  std::ostream& err);
    // The same with the live page (`live` may be null) and an access token.
    // An address other than loopback without a token is refused:
    // "tarvolin: not serving the status on ADDRESS:PORT: ... needs an access token ...".
    static std::unique_ptr<TMMStatusServer> Start(IMMStatusSource& source, IMMLiveSource* live,
                                                  const std::string& address, int port, const std::string& token,
                                                  std::ostream& err);
    struct TStartOptions {
        std::string Address = "127.0.0.1";
        int Port = 0;
        std::string Token;
        std::string CertFile, KeyFile;  // PEM; both given: HTTPS and WSS only
        IMMLiveSource* Live = nullptr;
    };
    static std::unique_ptr<TMMStatusServer> Start(IMMStatusSource& source, const TStartOptions& options,
                                                  std::ostream& err);
    // TLS with the PEM certificate (chain) and unencrypted key in these files;
    // before Listen. False with the reason in `error`.
    bool setTls(const std::string& certFile, const std::string& keyFile, std::string* error = nullptr);
    // True for an address other than loopback (or not an address at all).
    static bool NeedsToken(const std::string& address);

    void setLiveSource(IMMLiveSource& live);
    TMMLivePage* LivePage() const { return mLive.get(); }
    void setToken(const std::string& token);

    uint64_t Requests() const { return mRequests; }
    uint64_t Refused() const { return mRefused; }  // over the request rate
    uint64_t Connections() const;  // accepted so far
    uint64_t Dropped() const;      // closed by a limit
    int Open() const;              // open now

private:
    IMMStatusSource& mSource;
    TLimits mLimits;
    std::unique_ptr<QHttpServer> mHttp;
    std::unique_ptr<TMMLivePage> mLive;
    std::unique_ptr<QSslConfiguration> mTls;
    std::string mToken;
    QPointer<TStatusTcpServer> mTcp;
    uint64_t mRequests = 0;
    uint64_t mRefused = 0;
    QElapsedTimer mRateClock;
    int mRateCount = 0;

    bool admit();
    bool authorized(const QHttpServerRequest& request) const;
};
