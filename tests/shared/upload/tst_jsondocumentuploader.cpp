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
    void initTestCase() { QVERIFY(m_server.start()); }

    // One uploader takes every answer in turn, so each must start from a clean slate.
    void answerEvaluation_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("errorCode");
        QTest::addColumn<QString>("errorMessage");
        // clang-format off
        QTest::newRow("refused by the service") << 200 << QByteArray(R"({"errorCode":5,"errorMessage":"Busy"})") << 5 << u"Busy"_qs;
        QTest::newRow("errorCode 0") << 200 << QByteArray(R"({"errorCode":0,"stored":true})") << 0 << QString();
        QTest::newRow("negative errorCode") << 200 << QByteArray(R"({"errorCode":-3})") << -3 << QString();
        QTest::newRow("errorCode absent") << 200 << QByteArray("{}") << 0 << QString();
        // The parser's text and -100 name a broken answer.
        QTest::newRow("not JSON") << 200 << QByteArray("<html>Bad Gateway</html>") << -100 << parserError("<html>Bad Gateway</html>");
        QTest::newRow("cut JSON") << 200 << QByteArray(R"({"errorCode":0)") << -100 << parserError(R"({"errorCode":0)");
        QTest::newRow("empty body") << 200 << QByteArray() << -100 << parserError("");
        // Valid JSON, but no answer of the service: not a delivered upload.
        QTest::newRow("array") << 200 << QByteArray(R"([{"errorCode":0}])") << -100 << u"The answer is not a JSON object"_qs;
        // After a network error the body is not looked at: the code is 0, the text the network layer's.
        QTest::newRow("missing service") << 404 << QByteArray(R"({"errorCode":0})") << 0 << u"<network>"_qs;
        QTest::newRow("refused connection") << 0 << QByteArray() << 0 << u"<network>"_qs;
        // clang-format on
    }

    void answerEvaluation() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, errorMessage);
        m_server.setAnswer(u"/upload"_qs, TScriptedAnswer::withStatus(status, body));
        QSignalSpy sent(m_pSender.get(), &TJsonDocumentHttpPostSender::finished);
        QSignalSpy finished(&m_uploader, &TJsonDocumentUploaderBase::finished);
        TScriptedHttpServer closed;
        m_uploader.upload(status == 0 ? closed.url(u"/upload"_qs) : m_server.url(u"/upload?key=a%2Bb"_qs),
                          Document);
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.size(), 1);
        // The document goes out as the form's metadata.
        const TRecordedRequest request = m_server.requests().value(m_server.totalRequestCount() - 1);
        QCOMPARE(request.method + ' ' + request.target, QByteArray("POST /upload?key=a%2Bb"));
        QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
        QCOMPARE(request.headers.value("content-disposition"), QByteArray("form-data; name=\"metadata\""));
        QCOMPARE(request.body, Document.toJson(QJsonDocument::Compact));
        if (errorMessage == u"<network>"_qs) {
            QVERIFY(sent.first().at(0).value<QNetworkReply::NetworkError>() != QNetworkReply::NoError);
            errorMessage = sent.first().at(1).toString();
        }
        QCOMPARE(m_uploader.lastErrorMessage(), errorMessage);
        QTEST(m_uploader.lastErrorCode(), "errorCode");
        QCOMPARE(finished.first().at(0).toBool(), m_uploader.lastErrorCode() == 0 && errorMessage.isEmpty());
        // The service's answer is passed on whenever it is one.
        const bool answered = status == 200 && QJsonDocument::fromJson(body).isObject();
        QCOMPARE(finished.first().at(1).value<QJsonDocument>(),
                 answered ? QJsonDocument::fromJson(body) : QJsonDocument());
    }

private:
    TScriptedHttpServer m_server;
    const std::shared_ptr<TJsonDocumentHttpPostSender> m_pSender =
        std::make_shared<TJsonDocumentHttpPostSender>();
    TJsonDocumentUploaderBase m_uploader{m_pSender};
};

LAUNCHER_TEST(TestJsonDocumentUploader)
#include "tst_jsondocumentuploader.moc"
