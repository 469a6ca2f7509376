#include "monitoring/qt/MMWebhook.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <algorithm>

TMMWebhook::TMMWebhook(QObject* parent) : QObject(parent), mNet(new QNetworkAccessManager(this))
{
    mRetry.setSingleShot(true);
    connect(&mRetry, &QTimer::timeout, this, [this] { sendCurrent(); });
    connect(mNet, &QNetworkAccessManager::finished, this, [this](QNetworkReply* r) { finished(r); });
}

TMMWebhook::~TMMWebhook()
{
    // Aborting finishes the reply at once, and the manager says so: neither
    // may reach this half-destroyed object (or its owner's error report).
    mNet->disconnect(this);
    mRetry.stop();
    if (mReply) {
        mReply->disconnect(this);
        mReply->abort();
    }
}

void TMMWebhook::setPolicy(const TPolicy& p)
{
    mPolicy = p;
    mPolicy.Capacity = std::max(1, p.Capacity);
    mPolicy.FirstDelayMs = std::max(1, p.FirstDelayMs);
    mPolicy.MaxDelayMs = std::max(mPolicy.FirstDelayMs, p.MaxDelayMs);
    mPolicy.MaxAttempts = std::max(1, p.MaxAttempts);
    mPolicy.TimeoutMs = std::max(1, p.TimeoutMs);
    while (static_cast<int>(mQueue.size()) > mPolicy.Capacity) {
        mQueue.pop_front();
        ++mDropped;
    }
}

void TMMWebhook::report(const std::string& text)
{
    if (mReported) return;
    mReported = true;
    if (OnError) OnError(text);
}

void TMMWebhook::Post(const QUrl& url, const QByteArray& json)
{
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != "http" && scheme != "https") || url.host().isEmpty()) {
        report("Webhook: not an http or https URL: " + url.toString().toStdString());
        return;
    }
    if (static_cast<int>(mQueue.size()) >= mPolicy.Capacity) {
        mQueue.pop_front();
        ++mDropped;
    }
    mQueue.push_back({url, json});
    if (!mBusy) next();
}

void TMMWebhook::next()
{
    if (mQueue.empty()) {
        mBusy = false;
        mCurrent = {};
        return;
    }
    mBusy = true;
    mCurrent = std::move(mQueue.front());
    mQueue.pop_front();
    mTries = 0;
    sendCurrent();
}

void TMMWebhook::sendCurrent()
{
    QNetworkRequest req(mCurrent.Url);
    req.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    req.setHeader(QNetworkRequest::UserAgentHeader, "Tarvolin/" TARVOLIN_VERSION);
    req.setTransferTimeout(mPolicy.TimeoutMs);
    ++mTries;
    ++mAttempts;
    mReply = mNet->post(req, mCurrent.Body);
}

void TMMWebhook::finished(QNetworkReply* reply)
{
    reply->deleteLater();
    if (reply != mReply) return;
    mReply = nullptr;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() == QNetworkReply::NoError && status >= 200 && status < 300) {
        ++mDelivered;
        mReported = false;
        next();
        return;
    }
    const bool retry = status == 0 || status >= 500 || status == 408 || status == 429;
    report("Webhook " + mCurrent.Url.toString(QUrl::RemoveUserInfo).toStdString() + ": " +
           (status ? "HTTP " + std::to_string(status) : reply->errorString().toStdString()));
    if (!retry || mTries >= mPolicy.MaxAttempts) {
        ++mFailed;
        next();
        return;
    }
    int64_t delay = mPolicy.FirstDelayMs;
    for (int i = 1; i < mTries && delay < mPolicy.MaxDelayMs; ++i) delay *= 2;
    mRetry.start(static_cast<int>(std::min<int64_t>(delay, mPolicy.MaxDelayMs)));
}
