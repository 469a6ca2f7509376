// `TMMLivePage`: the push channel of the live page. The status server's HTTP
// layer upgrades a request for /live to a WebSocket and hands it here. A page
// client first sends {"token":"..."} (any token while none is set); until it
// did, within AuthMs, it gets nothing. Then, every FrameMs while some client
// watches, one frame is built from the source and its "info" and "levels"
// messages (monitoring/MMLiveFrame) go, as binary frames of UTF-8 JSON, to
// every client that has not seen them; {"hidden":true} pauses a client
// (a hidden browser tab), {"hidden":false} resumes it. Read-only: nothing a
// client sends changes the meter.
// With many clients the frames come less often (SharedFramesPerSecond).
// Limits: at most MaxClients at once (more are closed at once), a request
// from a foreign Origin is refused, messages over MaxMessageBytes close the
// client, and a client whose unsent bytes would pass MaxQueueBytes (it does
// not read) is dropped, so memory stays bounded. GUI thread.
#pragma once

#include "monitoring/MMLiveFrame.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <QWebSocketProtocol>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QAbstractHttpServer;
class QWebSocket;

class TMMLivePage : public QObject {
    Q_OBJECT
public:
    struct TLimits {
        int MaxClients = 50;
        qint64 MaxQueueBytes = 128 * 1024;
        int MaxMessageBytes = 4096;
        int FrameMs = 40;     // 25 frames/s at most
        // Frames sent to all clients together per second: many pages share
        // them (20 pages get 5 frames/s each), so that the meter's cost
        // stays flat however many watch.
        int SharedFramesPerSecond = 100;
        int AuthMs = 5000;
    };
    static constexpr uint64_t kInfoFrames = 5;

    explicit TMMLivePage(IMMLiveSource& source, QObject* parent = nullptr);
    ~TMMLivePage() override;

    void setLimits(const TLimits& l);
    const TLimits& Limits() const { return mLimits; }
    // The access token the first message must carry; empty: none.
    void setToken(const std::string& token) { mToken = token; }
    // Takes the WebSocket connections `http` upgrades.
    void Attach(QAbstractHttpServer& http);

    int Clients() const { return static_cast<int>(mClients.size()); }
    uint64_t Accepted() const { return mAccepted; }
    uint64_t Refused() const { return mRefused; }      // over MaxClients, foreign origin, wrong path
    uint64_t Unauthorized() const { return mUnauthorized; }
    uint64_t Slow() const { return mSlow; }            // dropped for not reading
    uint64_t Frames() const { return mFrames; }        // frames built

private:
    struct TClient {
        QWebSocket* Socket = nullptr;
        bool Authorized = false;
        bool Hidden = false;
        bool Fresh = true;  // sends the current messages at the next frame
    };

    void accept(QAbstractHttpServer& http);
    void received(QWebSocket* socket, const QByteArray& message);
    void frame();
    bool send(TClient& c, const QByteArray& message);
    void drop(QWebSocket* socket);
    bool forget(QWebSocket* socket);
    static void closeSoon(QWebSocket* socket, QWebSocketProtocol::CloseCode code);
    TClient* find(QWebSocket* socket);
    void schedule();
    // FrameMs, or longer when the watching clients would pass the shared budget.
    int interval() const;

    IMMLiveSource& mSource;
    TLimits mLimits;
    std::string mToken;
    std::vector<TClient> mClients;
    QTimer mTimer;
    QByteArray mInfo, mLevels;
    uint64_t mAccepted = 0, mRefused = 0, mUnauthorized = 0, mSlow = 0, mFrames = 0;
};

// Equal texts, compared in a time that does not depend on where they differ.
bool SameToken(const std::string& given, const std::string& token);
