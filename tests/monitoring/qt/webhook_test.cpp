// The webhook against a small HTTP server on 127.0.0.1 in this process: one
// POST per event in order, retries while the server is down or answers 5xx,
// no retry for 4xx, a queue that never grows past its capacity, and a quiet
// end with a POST still in flight.
#include "monitoring/qt/MMWebhook.h"
#include "monitoring/MMSilence.h"
#include "monitoring/qt/MMMonitorService.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// Reads each request (headers, then Content-Length bytes) and answers with
// the next status of `statuses` (the last one repeats); status 0: never answers.
class TestServer : public QObject {
public:
    struct Request {
        QByteArray Head, Body;
    };
    std::vector<Request> requests;
    std::vector<int> statuses{200};
    QTcpServer server;

    bool Listen(quint16 port = 0) { return server.listen(QHostAddress::LocalHost, port); }
    quint16 Port() const { return server.serverPort(); }
    QUrl Url() const { return QUrl(QString("http://127.0.0.1:%1/hook").arg(Port())); }

    TestServer()
    {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                auto buf = std::make_shared<QByteArray>();
                connect(s, &QTcpSocket::readyRead, s, [this, s, buf] {
                    buf->append(s->readAll());
                    for (;;) {
                        const int end = buf->indexOf("\r\n\r\n");
                        if (end < 0) return;
                        const QByteArray head = buf->left(end);
                        int length = 0;
                        for (const QByteArray& line : head.split('\n'))
                            if (line.toLower().startsWith("content-length:")) length = line.mid(15).trimmed().toInt();
                        if (buf->size() < end + 4 + length) return;
                        requests.push_back({head, buf->mid(end + 4, length)});
                        buf->remove(0, end + 4 + length);
                        const size_t i = std::min(requests.size(), statuses.size()) - 1;
                        const int status = statuses[i];
                        if (status == 0) continue;
                        s->write(QByteArray("HTTP/1.1 ") + QByteArray::number(status) +
                                 " X\r\nContent-Length: 0\r\n\r\n");
                    }
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
};

TMMWebhook::TPolicy FastPolicy()
{
    TMMWebhook::TPolicy p;
    p.FirstDelayMs = 50;
    p.MaxDelayMs = 200;
    p.MaxAttempts = 20;
    p.TimeoutMs = 2000;
    return p;
}

TEST(Webhook, OnePostPerEventInOrder)
{
    TestServer srv;
    ASSERT_TRUE(srv.Listen());
    TMMWebhook hook;
    for (int i = 1; i <= 3; ++i) hook.Post(srv.Url(), QByteArray("{\"n\":") + QByteArray::number(i) + "}");
    ASSERT_TRUE(QTest::qWaitFor([&] { return hook.Delivered() == 3; }, 5000));
    QTest::qWait(100);
    ASSERT_EQ(srv.requests.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(srv.requests[i].Head.startsWith("POST /hook HTTP/1.1"));
        EXPECT_TRUE(srv.requests[i].Head.toLower().contains("content-type: application/json"));
        EXPECT_EQ(srv.requests[i].Body, QByteArray("{\"n\":") + QByteArray::number(i + 1) + "}");
    }
    EXPECT_EQ(hook.Attempts(), 3u);
    EXPECT_EQ(hook.Failed(), 0u);
    EXPECT_FALSE(hook.Busy());
}

TEST(Webhook, RetriesWhileTheServerIsDown)
{
    quint16 port = 0;
    {
        QTcpServer probe;  // a free port, closed again
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    TMMWebhook hook;
    hook.setPolicy(FastPolicy());
    std::vector<std::string> errors;
    hook.OnError = [&](const std::string& e) { errors.push_back(e); };
    hook.Post(QUrl(QString("http://127.0.0.1:%1/hook").arg(port)), "{\"event\":\"alarm\"}");
    ASSERT_TRUE(QTest::qWaitFor([&] { return hook.Attempts() >= 3; }, 5000));
    EXPECT_EQ(errors.size(), 1u);  // reported once for the run of failures
    EXPECT_EQ(hook.Delivered(), 0u);

    TestServer srv;
    ASSERT_TRUE(srv.Listen(port));
    ASSERT_TRUE(QTest::qWaitFor([&] { return hook.Delivered() == 1; }, 5000));
    QTest::qWait(300);
    ASSERT_EQ(srv.requests.size(), 1u);
    EXPECT_EQ(srv.requests[0].Body, "{\"event\":\"alarm\"}");
    EXPECT_EQ(hook.Failed(), 0u);
}

// The program ends while a receiver holds a POST unanswered: the webhook goes
// without calling back into its owner, which is being destroyed around it.
TEST(Webhook, DestroyedWithAPostInFlightCallsNothingBack)
{
    TestServer srv;
    srv.statuses = {0};  // takes the request, never answers
    ASSERT_TRUE(srv.Listen());
    int errors = 0;
    {
        TMMWebhook hook;
        hook.OnError = [&](const std::string&) { ++errors; };
        hook.Post(srv.Url(), "{\"event\":\"alarm\"}");
        ASSERT_TRUE(QTest::qWaitFor([&] { return srv.requests.size() == 1; }, 5000));
        EXPECT_TRUE(hook.Busy());
    }
    EXPECT_EQ(errors, 0);
}

TEST(Webhook, ServerErrorsAreRetriedClientErrorsAreNot)
{
    TestServer srv;
    srv.statuses = {503, 500, 204, 404};
    ASSERT_TRUE(srv.Listen());
    TMMWebhook hook;
    hook.setPolicy(FastPolicy());
    hook.Post(srv.Url(), "a");
    ASSERT_TRUE(QTest::qWaitFor([&] { return hook.Delivered() == 1; }, 5000));
    EXPECT_EQ(srv.requests.size(), 3u);
    hook.Post(srv.Url(), "b");  // 404: given up at once
    ASSERT_TRUE(QTest::qWaitFor([&] { return hook.Failed() == 1; }, 5000));
    QTest::qWait(300);
    EXPECT_EQ(srv.requests.size(), 4u);

    // Too many attempts: given up, the next event goes on.
    TestServer down;
    down.statuses = {500};
    ASSERT_TRUE(down.Listen());
    TMMWebhook::TPolicy p = FastPolicy();
    p.MaxAttempts = 3;
    hook.setPolicy(p);
    srv.statuses = {200};
    hook.Post(down.Url(), "c");
    hook.Post(srv.Url(), "d");
    ASSERT_TRUE(QTest::qWaitFor([&] { return hook.Delivered() == 2; }, 5000));
    EXPECT_EQ(down.requests.size(), 3u);
    EXPECT_EQ(hook.Failed(), 2u);
}

TEST(Webhook, AFullQueueDropsTheOldestAndNeverGrows)
{
    TestServer srv;
    srv.statuses = {0};  // takes the request, never answers
    ASSERT_TRUE(srv.Listen());
    TMMWebhook hook;
    TMMWebhook::TPolicy p = FastPolicy();
    p.Capacity = 4;
    p.TimeoutMs = 60000;
    hook.setPolicy(p);
    for (int i = 0; i < 1000; ++i) {
        hook.Post(srv.Url(), QByteArray::number(i));
        ASSERT_LE(hook.Queued(), 4);
    }
    EXPECT_TRUE(hook.Busy());
    EXPECT_EQ(hook.Dropped(), 1000u - 1 - 4);  // one in flight, the newest four wait
    ASSERT_TRUE(QTest::qWaitFor([&] { return !srv.requests.empty(); }, 5000));
    EXPECT_EQ(srv.requests[0].Body, "0");

    // Bad URLs are refused, not queued.
    std::vector<std::string> errors;
    hook.OnError = [&](const std::string& e) { errors.push_back(e); };
    hook.Post(QUrl("file:///etc/passwd"), "x");
    hook.Post(QUrl("not a url"), "x");
    EXPECT_EQ(hook.Queued(), 4);
    EXPECT_EQ(errors.size(), 1u);
}

TEST(MonitorService, AnAlarmGoesToJournalCommandAndWebhook)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TestServer srv;
    ASSERT_TRUE(srv.Listen());
    TMMMonitorService svc((dir.path() + "/journal").toStdString());
    std::vector<std::string> errors;
    svc.OnError = [&](const std::string& e) { errors.push_back(e); };
    TActionSettings a;
    a.AlarmCommand = "/bin/sh -c 'echo \"$TARVOLIN_EVENT $TARVOLIN_STRIP\" > \"$0\"' " + dir.path().toStdString() + "/cmd.txt";
    a.RestoredUrl = srv.Url().toString().toStdString();
    svc.setActions(a);

    TSilenceEvent e{TSilenceEventKind::SilenceBegan, 6, "Mic", 0, 1773532799000, {}, 1000};
    svc.SilenceEvent(e);  // neither alarm nor restored: nothing happens
    e.Kind = TSilenceEventKind::Alarm;
    svc.SilenceEvent(e);
    e.Kind = TSilenceEventKind::SoundRestored;
    e.Level = 16384;
    svc.SilenceEvent(e);
    ASSERT_TRUE(QTest::qWaitFor([&] { return svc.Webhook().Delivered() == 1 && svc.Commands().Running() == 0; }, 5000));
    ASSERT_TRUE(svc.Journal().Flush());
    EXPECT_EQ(svc.Journal().LinesWritten(), 2u);
    QFile cmd(dir.path() + "/cmd.txt");
    ASSERT_TRUE(cmd.open(QIODevice::ReadOnly));
    EXPECT_EQ(cmd.readAll(), "alarm 6\n");
    ASSERT_EQ(srv.requests.size(), 1u);
    EXPECT_TRUE(srv.requests[0].Body.startsWith("{\"event\":\"restored\",\"strip\":6,\"label\":\"Mic\",\"level_db\":-6.02,"));
    EXPECT_TRUE(errors.empty());

    // An unwritable journal is reported once; the actions go on.
    TMMMonitorService broken("/proc/version/journal");
    broken.OnError = [&](const std::string& t) { errors.push_back(t); };
    broken.setActions(a);
    broken.SilenceEvent(e);
    broken.SilenceEvent(e);
    // The journal's failure comes from the service's poll, on this thread.
    ASSERT_TRUE(QTest::qWaitFor([&] { return broken.Webhook().Delivered() == 2 && !errors.empty(); }, 5000));
    QTest::qWait(300);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("Journal: cannot create the folder /proc/version/journal", 0), 0u) << errors[0];
}

}  // namespace
