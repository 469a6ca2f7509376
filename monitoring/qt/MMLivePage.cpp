#include "monitoring/qt/MMLivePage.h"

#include <QAbstractHttpServer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QWebSocket>

#include <algorithm>

bool SameToken(const std::string& given, const std::string& token)
{
    unsigned char diff = given.size() == token.size() ? 0 : 1;
    for (size_t i = 0; i < given.size(); ++i)
        diff |= static_cast<unsigned char>(given[i] ^ (token.empty() ? 0 : token[i % token.size()]));
    return diff == 0;
}

namespace {

// A page served by this server sends its own origin; a page of any other
// site (cross-site WebSocket hijacking) sends a foreign one. Clients that
// are no browser send none.
bool SameOrigin(const QWebSocket& s)
{
    if (s.origin().isEmpty()) return true;
    const QUrl origin(s.origin()), target = s.requestUrl();
    // Ports as written: the request's scheme is "ws" even over TLS, so defaults would not compare.
    return origin.host().compare(target.host(), Qt::CaseInsensitive) == 0 && origin.port() == target.port();
}

}  // namespace

TMMLivePage::TMMLivePage(IMMLiveSource& source, QObject* parent) : QObject(parent), mSource(source)
{
    mTimer.setTimerType(Qt::CoarseTimer);
    connect(&mTimer, &QTimer::timeout, this, [this] { frame(); });
}

TMMLivePage::~TMMLivePage()
{
    for (TClient& c : mClients) {
        c.Socket->disconnect(this);
        c.Socket->abort();
        delete c.Socket;
    }
}

void TMMLivePage::setLimits(const TLimits& l)
{
    mLimits.MaxClients = std::max(l.MaxClients, 1);
    mLimits.MaxQueueBytes = std::max<qint64>(l.MaxQueueBytes, 4096);
    mLimits.MaxMessageBytes = std::max(l.MaxMessageBytes, 64);
    mLimits.FrameMs = std::max(l.FrameMs, 10);
    mLimits.AuthMs = std::max(l.AuthMs, 1);
    mLimits.SharedFramesPerSecond = std::max(l.SharedFramesPerSecond, 1);
    if (mTimer.isActive()) mTimer.start(interval());
}

void TMMLivePage::Attach(QAbstractHttpServer& http)
{
    connect(&http, &QAbstractHttpServer::newWebSocketConnection, this, [this, &http] { accept(http); });
}

void TMMLivePage::accept(QAbstractHttpServer& http)
{
    while (http.hasPendingWebSocketConnections()) {
        QWebSocket* s = http.nextPendingWebSocketConnection().release();
        if (!s) continue;
        s->setParent(this);
        if (s->requestUrl().path() != "/live" || !SameOrigin(*s) || Clients() >= mLimits.MaxClients) {
            ++mRefused;
            closeSoon(s, Clients() >= mLimits.MaxClients ? QWebSocketProtocol::CloseCodeTooMuchData  // "try later"
                                                          : QWebSocketProtocol::CloseCodePolicyViolated);
            continue;
        }
        ++mAccepted;
        s->setMaxAllowedIncomingMessageSize(static_cast<quint64>(mLimits.MaxMessageBytes));
        s->setMaxAllowedIncomingFrameSize(static_cast<quint64>(mLimits.MaxMessageBytes));
        mClients.push_back({s, false, false, true});
        connect(s, &QWebSocket::textMessageReceived, this,
                [this, s](const QString& m) { received(s, m.toUtf8()); });
        connect(s, &QWebSocket::binaryMessageReceived, this, [this, s](const QByteArray& m) { received(s, m); });
        connect(s, &QWebSocket::disconnected, this, [this, s] { drop(s); });
        QTimer::singleShot(mLimits.AuthMs, s, [this, s] {
            if (TClient* c = find(s); c && !c->Authorized) {
                ++mUnauthorized;
                drop(s);
            }
        });
    }
}

void TMMLivePage::received(QWebSocket* s, const QByteArray& message)
{
    TClient* c = find(s);
    if (!c) return;
    const QJsonObject o = QJsonDocument::fromJson(message).object();
    if (!c->Authorized) {
        if (!mToken.empty() && !SameToken(o.value("token").toString().toStdString(), mToken)) {
            ++mUnauthorized;
            forget(s);
            closeSoon(s, QWebSocketProtocol::CloseCodePolicyViolated);
            return;
        }
        c->Authorized = true;
        c->Fresh = true;
    }
    if (o.contains("hidden")) {
        const bool hidden = o.value("hidden").toBool();
        if (c->Hidden && !hidden) c->Fresh = true;
        c->Hidden = hidden;
    }
    schedule();
}

int TMMLivePage::interval() const
{
    const auto watching = std::count_if(mClients.begin(), mClients.end(),
                                        [](const TClient& c) { return c.Authorized && !c.Hidden; });
    const int budget = std::max(1, mLimits.SharedFramesPerSecond);
    const int shared = static_cast<int>((watching * 1000 + budget - 1) / budget);
    return std::max(mLimits.FrameMs, shared);
}

void TMMLivePage::schedule()
{
    const bool watched = std::any_of(mClients.begin(), mClients.end(),
                                     [](const TClient& c) { return c.Authorized && !c.Hidden; });
    if (!watched)
        mTimer.stop();
    else if (!mTimer.isActive()) {
        mTimer.start(interval());
        frame();
    } else if (mTimer.interval() != interval()) {
        mTimer.setInterval(interval());
    }
}

void TMMLivePage::frame()
{
    const TLiveFrame f = mSource.LiveFrame();
    // The slow part (labels, recorders, log) is rendered every InfoFrames
    // frames, or at once for a client that has not seen it.
    const bool fresh = std::any_of(mClients.begin(), mClients.end(), [](const TClient& c) { return c.Fresh; });
    bool newInfo = false;
    if (mFrames++ % kInfoFrames == 0 || fresh || mInfo.isEmpty()) {
        QByteArray info = QByteArray::fromStdString(LiveInfoJson(f));
        newInfo = info != mInfo;
        if (newInfo) mInfo = std::move(info);
    }
    QByteArray levels = QByteArray::fromStdString(LiveLevelsJson(f));
    const bool newLevels = levels != mLevels;
    if (newLevels) mLevels = std::move(levels);
    for (size_t i = 0; i < mClients.size();) {
        TClient& c = mClients[i];
        if (!c.Authorized || c.Hidden) {
            ++i;
            continue;
        }
        const bool ok = (!(newInfo || c.Fresh) || send(c, mInfo)) && (!(newLevels || c.Fresh) || send(c, mLevels));
        c.Fresh = false;
        if (ok) {
            ++i;
            continue;
        }
        ++mSlow;
        drop(c.Socket);  // erases mClients[i]
    }
    schedule();
}

bool TMMLivePage::send(TClient& c, const QByteArray& message)
{
    const qint64 queued = c.Socket->bytesToWrite();
    if (queued > 0 && queued + message.size() > mLimits.MaxQueueBytes) return false;
    c.Socket->sendBinaryMessage(message);
    c.Socket->flush();  // written now, not at a later wake-up of the socket's notifier
    return true;
}

TMMLivePage::TClient* TMMLivePage::find(QWebSocket* s)
{
    auto it = std::find_if(mClients.begin(), mClients.end(), [s](const TClient& c) { return c.Socket == s; });
    return it == mClients.end() ? nullptr : &*it;
}

void TMMLivePage::closeSoon(QWebSocket* s, QWebSocketProtocol::CloseCode code)
{
    // Closed from the event loop: the WebSocket layer may still be inside its
    // handshake handler; a client that does not answer the close is cut off.
    QTimer::singleShot(0, s, [s, code] {
        s->close(code);
        connect(s, &QWebSocket::disconnected, s, &QObject::deleteLater);
        QTimer::singleShot(2000, s, [s] {
            s->abort();
            s->deleteLater();
        });
    });
}

bool TMMLivePage::forget(QWebSocket* s)
{
    auto it = std::find_if(mClients.begin(), mClients.end(), [s](const TClient& c) { return c.Socket == s; });
    if (it == mClients.end()) return false;
    mClients.erase(it);
    s->disconnect(this);
    return true;
}

void TMMLivePage::drop(QWebSocket* s)
{
    if (!forget(s)) return;
    s->abort();
    s->deleteLater();
    if (!std::any_of(mClients.begin(), mClients.end(), [](const TClient& c) { return c.Authorized && !c.Hidden; }))
        mTimer.stop();
}
