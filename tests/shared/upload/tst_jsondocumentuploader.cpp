#include "shared/upload/jsondocumenthttppostsender.h"
#include "shared/upload/jsondocumentuploaderbase.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace shared;
using namespace testsupport;

namespace {

const QJsonDocument Document(QJsonObject{{u"name"_qs, u"Grüße \"quoted\""_qs},
                                         {u"size"_qs, qint64(1) << 40}});

QString parserError(const QByteArray& body) {
    QJsonParseError error;
    QJsonDocument::fromJson(body, &error);
    return error.errorString();
}

} // namespace

class TestJsonDocumentUploader : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_pServer = std::make_unique<TScriptedHttpServer>();
        QVERIFY(m_pServer->start());
    }

    void postSendsTheDocumentAsMetadata() {
        TJsonDocumentHttpPostSender sender;
        QSignalSpy finished(&sender, &TJsonDocumentHttpPostSender::finished);
        sender.post(m_pServer->url(u"/survey/post?key=a%2Bb"_qs), Document);
        QVERIFY(finished.wait(10000));
        const TRecordedRequest request = m_pServer->requests().value(0);
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/survey/post?key=a%2Bb"));
        QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
        QCOMPARE(request.headers.value("content-disposition"), QByteArray("form-data; name=\"metadata\""));
        QCOMPARE(request.body, Document.toJson(QJsonDocument::Compact));
    }

    void answerEvaluation_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("success");
        QTest::addColumn<int>("errorCode");
        QTest::addColumn<QString>("errorMessage");
        // clang-format off
        QTest::newRow("errorCode 0") << 200 << QByteArray(R"({"errorCode":0,"stored":true})") << true << 0 << QString();
        QTest::newRow("errorCode absent") << 200 << QByteArray("{}") << true << 0 << QString();
        QTest::newRow("refused by the service") << 200 << QByteArray(R"({"errorCode":5,"errorMessage":"Unknown data type"})") << false << 5 << u"Unknown data type"_qs;
        QTest::newRow("negative errorCode") << 200 << QByteArray(R"({"errorCode":-3})") << false << -3 << QString();
        // The parser's text and -100 name a broken answer.
        QTest::newRow("not JSON") << 200 << QByteArray("<html>Bad Gateway</html>") << false << -100 << parserError("<html>Bad Gateway</html>");
        QTest::newRow("cut JSON") << 200 << QByteArray(R"({"errorCode":0)") << false << -100 << parserError(R"({"errorCode":0)");
        QTest::newRow("empty body") << 200 << QByteArray() << false << -100 << parserError("");
        // Valid JSON, but no answer of the service: not a delivered upload.
        QTest::newRow("array") << 200 << QByteArray(R"([{"errorCode":0}])") << false << -100 << u"The answer is not a JSON object"_qs;
        // After a network error the body is not looked at, the code stays 0 and the text is the network layer's.
        QTest::newRow("missing service") << 404 << QByteArray(R"({"errorCode":0})") << false << 0 << u"<network>"_qs;
        QTest::newRow("refused connection") << 0 << QByteArray(R"({"errorCode":9})") << false << 0 << u"<network>"_qs;
        // clang-format on
    }

    void answerEvaluation() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, success);
        QFETCH(QString, errorMessage);
        m_pServer->setAnswer(u"/upload"_qs, TScriptedAnswer::withStatus(status, body));
        const QUrl url = status == 0 ? QUrl(u"http://127.0.0.1:%1/upload"_qs.arg(closedPort()))
                                     : m_pServer->url(u"/upload"_qs);
        auto pSender = std::make_shared<TJsonDocumentHttpPostSender>();
        QSignalSpy sent(pSender.get(), &TJsonDocumentHttpPostSender::finished);
        TJsonDocumentUploaderBase uploader(pSender);
        QSignalSpy finished(&uploader, &TJsonDocumentUploaderBase::finished);
        uploader.upload(url, Document);
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().at(0).toBool(), success);
        // The service's answer is passed on whenever it is one.
        const bool answered = status == 200 && QJsonDocument::fromJson(body).isObject();
        QCOMPARE(finished.first().at(1).value<QJsonDocument>(),
                 answered ? QJsonDocument::fromJson(body) : QJsonDocument());
        QTEST(uploader.lastErrorCode(), "errorCode");
        if (errorMessage == u"<network>"_qs) {
            errorMessage = sent.first().at(1).toString();
            QVERIFY(!errorMessage.isEmpty() &&
                    sent.first().at(0).value<QNetworkReply::NetworkError>() != QNetworkReply::NoError);
        }
        QCOMPARE(uploader.lastErrorMessage(), errorMessage);
    }

    void eachAnswerStartsFromACleanSlate() {
        m_pServer->setAnswerSequence(u"/upload"_qs,
                                     {TScriptedAnswer::ok(R"({"errorCode":5,"errorMessage":"Busy"})"),
                                      TScriptedAnswer::ok(R"({"errorCode":0})")});
        TJsonDocumentUploaderBase uploader(std::make_shared<TJsonDocumentHttpPostSender>());
        QSignalSpy finished(&uploader, &TJsonDocumentUploaderBase::finished);
        uploader.upload(m_pServer->url(u"/upload"_qs), Document);
        QVERIFY(finished.wait(10000));
        uploader.upload(m_pServer->url(u"/upload"_qs), Document);
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.last().at(0).toBool(), true);
        QCOMPARE(uploader.lastErrorCode(), 0);
        QCOMPARE(uploader.lastErrorMessage(), QString());
    }

    void uploaderWithoutSenderReportsFailure() {
        TJsonDocumentUploaderBase uploader(nullptr);
        QSignalSpy finished(&uploader, &TJsonDocumentUploaderBase::finished);
        uploader.upload(m_pServer->url(u"/upload"_qs), Document);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().at(0).toBool(), false);
    }

    void deletedUploaderDropsTheAnswerOfASharedSender() {
        m_pServer->setAnswer(u"/upload"_qs, TScriptedAnswer::ok(R"({"errorCode":0})"));
        m_pServer->setHoldAnswers(true);
        auto pSender = std::make_shared<TJsonDocumentHttpPostSender>();
        QSignalSpy sent(pSender.get(), &TJsonDocumentHttpPostSender::finished);
        auto pFirst = std::make_unique<TJsonDocumentUploaderBase>(pSender);
        TJsonDocumentUploaderBase second(pSender);
        QSignalSpy secondFinished(&second, &TJsonDocumentUploaderBase::finished);
        pFirst->upload(m_pServer->url(u"/upload"_qs), Document);
        QTRY_COMPARE_WITH_TIMEOUT(m_pServer->heldAnswerCount(), 1, 10000);
        pFirst.reset();
        m_pServer->releaseHeldAnswers();
        QVERIFY(sent.wait(10000));
        QCOMPARE(secondFinished.size(), 1);
    }

private:
    static quint16 closedPort() {
        TScriptedHttpServer gone;
        gone.start();
        return gone.port();
    }

    std::unique_ptr<TScriptedHttpServer> m_pServer;
};

LAUNCHER_TEST(TestJsonDocumentUploader)
#include "tst_jsondocumentuploader.moc"
