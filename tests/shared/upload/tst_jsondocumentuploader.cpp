#include "shared/upload/jsondocumenthttppostsender.h"
#include "shared/upload/jsondocumentuploaderbase.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <memory>

using namespace shared;
using testsupport::TScriptedAnswer;
using testsupport::TScriptedHttpServer;
using testsupport::operator""_qs;

namespace {

QJsonDocument sampleDocument() {
    QJsonObject object;
    object.insert(u"dataType"_qs, 0);
    object.insert(u"name"_qs, u"Grüße \"quoted\""_qs);
    object.insert(u"size"_qs, qint64(1) << 40);
    return QJsonDocument(object);
}

// A loopback port nobody listens on.
quint16 closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

} // namespace

class TestJsonDocumentUploader : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_pServer = std::make_unique<TScriptedHttpServer>();
        QVERIFY(m_pServer->start());
    }

    void cleanup() { m_pServer.reset(); }

    void postSendsTheDocumentAsMetadata() {
        m_pServer->setAnswer(u"/survey/post"_qs, TScriptedAnswer::ok(R"({"errorCode":0})"));
        TJsonDocumentHttpPostSender sender;
        QSignalSpy finished(&sender, &TJsonDocumentHttpPostSender::finished);
        sender.post(m_pServer->url(u"/survey/post?key=a%2Bb"_qs), sampleDocument());
        QVERIFY(finished.wait(10000));

        QCOMPARE(m_pServer->totalRequestCount(), 1);
        const testsupport::TRecordedRequest request = m_pServer->requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/survey/post?key=a%2Bb"));
        QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
        QCOMPARE(request.headers.value("content-disposition"), QByteArray("form-data; name=\"metadata\""));
        QCOMPARE(request.body, sampleDocument().toJson(QJsonDocument::Compact));
        QCOMPARE(request.headers.value("content-length"), QByteArray::number(request.body.size()));
    }

    void senderHandsBackBodyAndErrorOfEveryAnswer() {
        m_pServer->setAnswer(u"/ok"_qs, TScriptedAnswer::ok("plain answer"));
        m_pServer->setAnswer(u"/down"_qs, TScriptedAnswer::withStatus(503, R"({"errorCode":7})"));
        TJsonDocumentHttpPostSender sender;
        QSignalSpy finished(&sender, &TJsonDocumentHttpPostSender::finished);

        sender.post(m_pServer->url(u"/ok"_qs), sampleDocument());
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.last().at(0).value<QNetworkReply::NetworkError>(), QNetworkReply::NoError);
        QCOMPARE(finished.last().at(2).toByteArray(), QByteArray("plain answer"));

        sender.post(m_pServer->url(u"/down"_qs), sampleDocument());
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.last().at(0).value<QNetworkReply::NetworkError>(),
                 QNetworkReply::ServiceUnavailableError);
        QVERIFY(!finished.last().at(1).toString().isEmpty());
        QCOMPARE(finished.last().at(2).toByteArray(), QByteArray(R"({"errorCode":7})"));
        QCOMPARE(finished.size(), 2);
    }

    void answerEvaluation_data() {
        QTest::addColumn<int>("networkError");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("success");
        QTest::addColumn<int>("errorCode");
        QTest::addColumn<QString>("errorMessage");
        QTest::addColumn<bool>("answerPassedOn");

        QTest::newRow("errorCode 0") << 0 << QByteArray(R"({"errorCode":0,"stored":true})") << true << 0
                                     << QString() << true;
        QTest::newRow("errorCode absent") << 0 << QByteArray("{}") << true << 0 << QString() << true;
        QTest::newRow("errorCode 5") << 0
                                     << QByteArray(R"({"errorCode":5,"errorMessage":"Too many surveys"})")
                                     << false << 5 << u"Too many surveys"_qs << true;
        QTest::newRow("negative errorCode without message")
            << 0 << QByteArray(R"({"errorCode":-3})") << false << -3 << QString() << true;
        // The parser's text and -100 name the broken answer.
        QTest::newRow("not JSON") << 0 << QByteArray("<html>Bad Gateway</html>") << false << -100
                                  << u"<parser>"_qs << false;
        QTest::newRow("cut JSON") << 0 << QByteArray(R"({"errorCode":0)") << false << -100 << u"<parser>"_qs
                                  << false;
        QTest::newRow("empty body") << 0 << QByteArray() << false << -100 << u"<parser>"_qs << false;
        // Valid JSON, but no answer of the service: not a delivered upload.
        QTest::newRow("array") << 0 << QByteArray(R"([{"errorCode":0}])") << false << -100
                               << u"The answer is not a JSON object"_qs << false;
        // After a network error the body is not looked at and the code stays 0.
        QTest::newRow("network error")
            << int(QNetworkReply::ConnectionRefusedError) << QByteArray(R"({"errorCode":0})") << false << 0
            << u"Connection refused"_qs << false;
        QTest::newRow("server error status")
            << int(QNetworkReply::InternalServerError) << QByteArray(R"({"errorCode":9,"errorMessage":"x"})")
            << false << 0 << u"Connection refused"_qs << false;
    }

    void answerEvaluation() {
        QFETCH(int, networkError);
        QFETCH(QByteArray, body);
        QFETCH(bool, success);
        QFETCH(int, errorCode);
        QFETCH(QString, errorMessage);
        QFETCH(bool, answerPassedOn);
        if (errorMessage == u"<parser>"_qs) {
            QJsonParseError parseError;
            QJsonDocument::fromJson(body, &parseError);
            QVERIFY(parseError.error != QJsonParseError::NoError);
            errorMessage = parseError.errorString();
        }

        TJsonDocumentUploaderBase uploader(std::make_shared<TJsonDocumentHttpPostSender>());
        QSignalSpy finished(&uploader, &TJsonDocumentUploaderBase::finished);
        uploader.onFinished(QNetworkReply::NetworkError(networkError), u"Connection refused"_qs, body);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().at(0).toBool(), success);
        const QJsonDocument answer = finished.first().at(1).value<QJsonDocument>();
        QCOMPARE(answer, answerPassedOn ? QJsonDocument::fromJson(body) : QJsonDocument());
        QCOMPARE(uploader.lastErrorCode(), errorCode);
        QCOMPARE(uploader.lastErrorMessage(), errorMessage);
    }

    void answersOverTheNetwork_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("success");
        QTest::addColumn<int>("errorCode");
        QTest::addColumn<QString>("errorMessage");
        QTest::newRow("accepted") << 200 << QByteArray(R"({"errorCode":0})") << true << 0 << QString();
        QTest::newRow("refused by the service")
            << 200 << QByteArray(R"({"errorCode":5,"errorMessage":"Unknown data type"})") << false << 5
            << u"Unknown data type"_qs;
        QTest::newRow("not JSON") << 200 << QByteArray("OK") << false << -100 << u"<parser>"_qs;
        QTest::newRow("missing service")
            << 404 << QByteArray(R"({"errorCode":0})") << false << 0 << u"<network>"_qs;
    }

    void answersOverTheNetwork() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, success);
        QFETCH(int, errorCode);
        QFETCH(QString, errorMessage);
        if (errorMessage == u"<parser>"_qs) {
            QJsonParseError parseError;
            QJsonDocument::fromJson(body, &parseError);
            errorMessage = parseError.errorString();
        }
        m_pServer->setAnswer(u"/upload"_qs, TScriptedAnswer::withStatus(status, body));
        auto pSender = std::make_shared<TJsonDocumentHttpPostSender>();
        QSignalSpy sent(pSender.get(), &TJsonDocumentHttpPostSender::finished);
        TJsonDocumentUploaderBase uploader(pSender);
        QSignalSpy finished(&uploader, &TJsonDocumentUploaderBase::finished);
        uploader.upload(m_pServer->url(u"/upload"_qs), sampleDocument());
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().at(0).toBool(), success);
        QCOMPARE(uploader.lastErrorCode(), errorCode);
        if (errorMessage == u"<network>"_qs) {
            // The network layer's own text for the failure.
            errorMessage = sent.first().at(1).toString();
            QVERIFY(errorMessage.contains(u"Not Found"_qs));
        }
        QCOMPARE(uploader.lastErrorMessage(), errorMessage);
        QCOMPARE(m_pServer->requestCount(u"/upload"_qs), 1);
    }

    void refusedConnectionIsANetworkError() {
        auto pSender = std::make_shared<TJsonDocumentHttpPostSender>();
        QSignalSpy sent(pSender.get(), &TJsonDocumentHttpPostSender::finished);
        TJsonDocumentUploaderBase uploader(pSender);
        QSignalSpy finished(&uploader, &TJsonDocumentUploaderBase::finished);
        QUrl url;
        url.setScheme(u"http"_qs);
        url.setHost(u"127.0.0.1"_qs);
        url.setPort(closedPort());
        url.setPath(u"/survey"_qs);
        uploader.upload(url, sampleDocument());
        QVERIFY(finished.wait(10000));
        QCOMPARE(sent.first().at(0).value<QNetworkReply::NetworkError>(),
                 QNetworkReply::ConnectionRefusedError);
        QCOMPARE(finished.first().at(0).toBool(), false);
        QCOMPARE(uploader.lastErrorCode(), 0);
        QCOMPARE(uploader.lastErrorMessage(), sent.first().at(1).toString());
        QVERIFY(!uploader.lastErrorMessage().isEmpty());
    }

    void eachAnswerStartsFromACleanSlate() {
        m_pServer->setAnswerSequence(
            u"/upload"_qs, {TScriptedAnswer::ok(R"({"errorCode":5,"errorMessage":"Busy"})"),
                            TScriptedAnswer::ok(R"({"errorCode":0})"), TScriptedAnswer::ok("junk")});
        TJsonDocumentUploaderBase uploader(std::make_shared<TJsonDocumentHttpPostSender>());
        QSignalSpy finished(&uploader, &TJsonDocumentUploaderBase::finished);
        const QUrl url = m_pServer->url(u"/upload"_qs);

        uploader.upload(url, sampleDocument());
        QVERIFY(finished.wait(10000));
        QCOMPARE(uploader.lastErrorCode(), 5);
        QCOMPARE(uploader.lastErrorMessage(), u"Busy"_qs);

        uploader.upload(url, sampleDocument());
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.last().at(0).toBool(), true);
        QCOMPARE(uploader.lastErrorCode(), 0);
        QCOMPARE(uploader.lastErrorMessage(), QString());

        uploader.upload(url, sampleDocument());
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.last().at(0).toBool(), false);
        QCOMPARE(uploader.lastErrorCode(), -100);
        QCOMPARE(finished.size(), 3);
    }

    void uploaderWithoutSenderReportsFailure() {
        TJsonDocumentUploaderBase uploader(nullptr);
        QSignalSpy finished(&uploader, &TJsonDocumentUploaderBase::finished);
        uploader.upload(m_pServer->url(u"/upload"_qs), sampleDocument());
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().at(0).toBool(), false);
        QVERIFY(!uploader.lastErrorMessage().isEmpty());
        QTest::qWait(50);
        QCOMPARE(m_pServer->totalRequestCount(), 0);
    }

    void deletedUploaderDropsThePendingAnswer() {
        m_pServer->setAnswer(u"/upload"_qs, TScriptedAnswer::ok(R"({"errorCode":0})"));
        m_pServer->setHoldAnswers(true);
        QSignalSpy received(m_pServer.get(), &TScriptedHttpServer::requestReceived);

        // A sender shared with a second uploader outlives the first one.
        auto pSender = std::make_shared<TJsonDocumentHttpPostSender>();
        QSignalSpy sent(pSender.get(), &TJsonDocumentHttpPostSender::finished);
        auto pFirst = std::make_unique<TJsonDocumentUploaderBase>(pSender);
        QSignalSpy firstFinished(pFirst.get(), &TJsonDocumentUploaderBase::finished);
        TJsonDocumentUploaderBase second(pSender);
        QSignalSpy secondFinished(&second, &TJsonDocumentUploaderBase::finished);
        pFirst->upload(m_pServer->url(u"/upload"_qs), sampleDocument());
        QVERIFY(received.wait(10000));
        pFirst.reset();
        m_pServer->releaseHeldAnswers();
        QVERIFY(sent.wait(10000));
        QCOMPARE(secondFinished.size(), 1);
        QCOMPARE(firstFinished.size(), 0);

        // An uploader with its own sender takes the transfer down with it.
        m_pServer->setHoldAnswers(true);
        auto pOwn =
            std::make_unique<TJsonDocumentUploaderBase>(std::make_shared<TJsonDocumentHttpPostSender>());
        QSignalSpy ownFinished(pOwn.get(), &TJsonDocumentUploaderBase::finished);
        pOwn->upload(m_pServer->url(u"/upload"_qs), sampleDocument());
        QVERIFY(received.wait(10000));
        pOwn.reset();
        m_pServer->releaseHeldAnswers();
        QTest::qWait(100);
        QCOMPARE(ownFinished.size(), 0);
    }

private:
    std::unique_ptr<TScriptedHttpServer> m_pServer;
};

LAUNCHER_TEST(TestJsonDocumentUploader)
#include "tst_jsondocumentuploader.moc"
