// The two test servers every network test relies on: a real nginx and the
// scripted server for faults. If these break, every network test lies.
#include "support/nginxfixture.h"
#include "support/scriptedhttpserver.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace testsupport;

namespace {

struct TReplyResult {
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
};

TReplyResult fetch(QNetworkReply* pReply) {
    QEventLoop loop;
    QObject::connect(pReply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!pReply->isFinished())
        loop.exec();
    TReplyResult result;
    result.error = pReply->error();
    result.status = pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = pReply->readAll();
    pReply->deleteLater();
    return result;
}

TReplyResult get(QNetworkAccessManager& manager, const QUrl& url) {
    return fetch(manager.get(QNetworkRequest(url)));
}

} // namespace

class TestServers : public QObject {
    Q_OBJECT
private slots:
    void nginxServesFilesCountsRequestsAndFixedStatuses();
    void scriptedServerScriptsAnswersAndRecordsRequests();
    void scriptedServerFaults();
};

void TestServers::nginxServesFilesCountsRequestsAndFixedStatuses() {
    TNginxFixture nginx;
    const QByteArray content(100000, 'x');
    QVERIFY(nginx.writeFile(QStringLiteral("deep/folder/file.bin"), content));
    nginx.addFixedStatus(QStringLiteral("/forbidden.json"), 403);
    nginx.addFixedStatus(QStringLiteral("/moved"), 302, QStringLiteral("/deep/folder/file.bin"));
    QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
    QVERIFY(nginx.url(QStringLiteral("/a?b=c")).toString().endsWith(QLatin1String("/a?b=c")));

    QNetworkAccessManager manager;
    TReplyResult result = get(manager, nginx.url(QStringLiteral("deep/folder/file.bin?x=1")));
    QCOMPARE(result.error, QNetworkReply::NoError);
    QCOMPARE(result.body, content);
    result = get(manager, nginx.url(QStringLiteral("missing.json")));
    QCOMPARE(result.error, QNetworkReply::ContentNotFoundError);
    result = get(manager, nginx.url(QStringLiteral("forbidden.json")));
    QCOMPARE(result.status, 403);
    QNetworkRequest redirected(nginx.url(QStringLiteral("moved")));
    redirected.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                            QNetworkRequest::NoLessSafeRedirectPolicy);
    result = fetch(manager.get(redirected));
    QCOMPARE(result.body, content);

    QVERIFY(nginx.waitForRequestCount(QStringLiteral("/deep/folder/file.bin"), 2));
    QCOMPARE(nginx.requestCount(QStringLiteral("/missing.json")), 1);
    QVERIFY(nginx.waitForRequestCount(QStringLiteral("/forbidden.json"), 1));
    QVERIFY(nginx.accessLogLines().filter(QStringLiteral("GET /forbidden.json 403 ")).size() == 1);
    QVERIFY(
        nginx.accessLogLines().filter(QStringLiteral("GET /deep/folder/file.bin?x=1 200 100000")).size() ==
        1);
    nginx.clearAccessLog();
    QCOMPARE(nginx.accessLogLines().size(), 0);

    // Two fixtures side by side get different ports.
    TNginxFixture second;
    QVERIFY2(second.start(), qPrintable(second.errorString()));
    QVERIFY(second.port() != nginx.port());
    nginx.stop();
    QVERIFY(!nginx.isRunning());
    QVERIFY(second.isRunning());
}

void TestServers::scriptedServerScriptsAnswersAndRecordsRequests() {
    TScriptedHttpServer server;
    QVERIFY(server.start());
    server.setFailThenSucceed(QStringLiteral("/flaky"), 2, 503, "finally");

    QNetworkAccessManager manager;
    QCOMPARE(get(manager, server.url(QStringLiteral("flaky"))).status, 503);
    QCOMPARE(get(manager, server.url(QStringLiteral("flaky"))).status, 503);
    TReplyResult result = get(manager, server.url(QStringLiteral("flaky?n=3")));
    QCOMPARE(result.status, 200);
    QCOMPARE(result.body, QByteArray("finally"));
    QCOMPARE(get(manager, server.url(QStringLiteral("flaky"))).body, QByteArray("finally"));
    QCOMPARE(get(manager, server.url(QStringLiteral("unknown"))).status, 404);
    QCOMPARE(server.requestCount(QStringLiteral("/flaky")), 4);
    QCOMPARE(server.requestsFor(QStringLiteral("/flaky")).at(2).target, QByteArray("/flaky?n=3"));

    server.setAnswer(QStringLiteral("/post"), TScriptedAnswer::ok(R"({"errorCode":0})"));
    QNetworkRequest post(server.url(QStringLiteral("post")));
    post.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    result = fetch(manager.post(post, QByteArray(R"({"event":"x"})")));
    QCOMPARE(result.body, QByteArray(R"({"errorCode":0})"));
    const TRecordedRequest recorded = server.requestsFor(QStringLiteral("/post")).value(0);
    QCOMPARE(recorded.method, QByteArray("POST"));
    QCOMPARE(recorded.body, QByteArray(R"({"event":"x"})"));
    QCOMPARE(recorded.headers.value("content-type"), QByteArray("application/json"));
}

void TestServers::scriptedServerFaults() {
    TScriptedHttpServer server;
    QVERIFY(server.start());
    const QByteArray body(200000, 'b');
    server.setAnswer(QStringLiteral("/reset"), TScriptedAnswer::faulty(EScriptedFault::ResetMidBody, body));
    server.setAnswer(QStringLiteral("/short"), TScriptedAnswer::faulty(EScriptedFault::CloseMidBody, body));
    TScriptedAnswer slow = TScriptedAnswer::ok(body);
    slow.delayBeforeHeadersMs = 50;
    slow.delayMidBodyMs = 50;
    server.setAnswer(QStringLiteral("/slow"), slow);
    server.setAnswer(QStringLiteral("/stall"), TScriptedAnswer::faulty(EScriptedFault::StallMidBody, body));

    // Qt itself sometimes reports a cut connection as a short success, so what
    // counts here is that the client never gets the whole body.
    QNetworkAccessManager manager;
    for (const QString& path : {QStringLiteral("reset"), QStringLiteral("short")}) {
        const TReplyResult result = get(manager, server.url(path));
        QVERIFY2(result.error != QNetworkReply::NoError || result.body.size() == body.size() / 2,
                 qPrintable(path));
    }
    QCOMPARE(get(manager, server.url(QStringLiteral("slow"))).body, body);

    QNetworkReply* pStalled = manager.get(QNetworkRequest(server.url(QStringLiteral("stall"))));
    QSignalSpy firstBytes(pStalled, &QNetworkReply::readyRead);
    QVERIFY(firstBytes.wait(5000));
    QVERIFY(!pStalled->isFinished());
    QVERIFY(!QSignalSpy(pStalled, &QNetworkReply::finished).wait(300));
    server.closeAllConnections();
    QCOMPARE(fetch(pStalled).error == QNetworkReply::NoError, false);
}

QTEST_MAIN(TestServers)
#include "tst_testservers.moc"
