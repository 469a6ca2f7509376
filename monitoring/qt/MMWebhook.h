// `TMMWebhook`: POSTs JSON bodies to webhook URLs, one request at a time, in
// order. A failed delivery (no connection, timeout, HTTP 5xx, 408, 429) is
// retried after 1, 2, 4 ... s (at most MaxDelayMs) up to MaxAttempts times;
// other 4xx answers are not retried. Waiting events sit in a bounded queue:
// when it is full the oldest waiting event is dropped and counted, so memory
// stays bounded whatever the receiver does. GUI thread only.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

class QNetworkAccessManager;
class QNetworkReply;

class TMMWebhook : public QObject {
    Q_OBJECT
public:
    explicit TMMWebhook(QObject* parent = nullptr);
    ~TMMWebhook() override;

    struct TPolicy {
        int Capacity = 64;          // waiting events, besides the one being sent
        int FirstDelayMs = 1000;    // first retry; doubles each time
        int MaxDelayMs = 60000;
        int MaxAttempts = 8;        // then the event is given up (Failed)
        int TimeoutMs = 10000;      // per request, connection included
    };
    void setPolicy(const TPolicy& p);
    const TPolicy& Policy() const { return mPolicy; }

    // Queues one POST of `json` to url; an invalid or non-HTTP(S) URL is
    // reported and not queued.
    void Post(const QUrl& url, const QByteArray& json);

    int Queued() const { return static_cast<int>(mQueue.size()); }
    bool Busy() const { return mBusy; }
    uint64_t Delivered() const { return mDelivered; }
    uint64_t Dropped() const { return mDropped; }
    uint64_t Failed() const { return mFailed; }
    uint64_t Attempts() const { return mAttempts; }

    // A failed attempt; called once per run of failures (again after a
    // delivery succeeded).
    std::function<void(const std::string&)> OnError;

private:
    struct TItem {
        QUrl Url;
        QByteArray Body;
    };
    void sendCurrent();
    void finished(QNetworkReply* reply);
    void next();
    void report(const std::string& text);

    TPolicy mPolicy;
    QNetworkAccessManager* mNet = nullptr;
    std::deque<TItem> mQueue;
    TItem mCurrent;
    bool mBusy = false;
    int mTries = 0;
    QNetworkReply* mReply = nullptr;
    QTimer mRetry;
    bool mReported = false;
    uint64_t mDelivered = 0, mDropped = 0, mFailed = 0, mAttempts = 0;
};
