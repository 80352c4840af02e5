// Funnel events posted to a scripted server that records them, with the user's settings store and
// shared data folder in temporary directories.
#include "launcher/telemetry/funneleventsender.h"
#include "support/installationkit.h"
#include "support/isolateduserdirectories.h"
#include "support/messagecapture.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include <memory>

using namespace mirrel::launcher;
using testsupport::operator""_qs;
using testsupport::readBytes;

namespace {

const QString Started = u"launcher_started"_qs;
const QString StartedKey = u"FunnelStartedFirst"_qs;
const QString Downloaded = u"launcher_downloaded"_qs;
const QString DownloadedKey = u"FunnelFinishedDownloadingFirst"_qs;

} // namespace

class TestFunnelEventSender : public QObject {
    Q_OBJECT

private slots:
    void init() {
        // Every case starts as a user who never ran the launcher, with the maker's shared folder there.
        TFunnelEventSender::userSettingsStore()->clear();
        QDir(sharedFolder()).removeRecursively();
        QVERIFY(QDir().mkpath(sharedFolder()));
        m_pServer = std::make_unique<testsupport::TScriptedHttpServer>();
        QVERIFY(m_pServer->start());
        m_pServer->setAnswer(u"/funnel"_qs, testsupport::TScriptedAnswer::ok(R"({"errorCode": 0})"));
    }

    void cleanup() { m_pServer.reset(); }

    void firstReportCreatesTheDeviceIdentifier() {
        const auto sender = makeSender();
        const QJsonObject event = send(*sender, Started, StartedKey);
        QCOMPARE(event.keys(), (QStringList{u"accountgroupkey"_qs, u"first"_qs, u"id"_qs, u"step"_qs}));
        QCOMPARE(event.value(u"step"_qs).toString(), Started);
        QCOMPARE(event.value(u"first"_qs), QJsonValue(true));
        QCOMPARE(event.value(u"accountgroupkey"_qs), QJsonValue(QString()));
        const QString identifier = event.value(u"id"_qs).toString();
        QVERIFY2(QRegularExpression(u"^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"_qs)
                     .match(identifier)
                     .hasMatch(),
                 qPrintable(identifier));

        const testsupport::TRecordedRequest request = m_pServer->requestsFor(u"/funnel"_qs).first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
        QCOMPARE(request.body, TFunnelEventSender::funnelEventDocument(Started, true, identifier, QString()));

        const auto store = TFunnelEventSender::userSettingsStore();
        QCOMPARE(store->value(u"FunnelUuid"_qs).toString(), identifier);
        QCOMPARE(store->value(StartedKey).toBool(), false);
        // Only the reported milestone's flag is set.
        QVERIFY(!store->contains(DownloadedKey));
        QCOMPARE(readBytes(TFunnelEventSender::sharedIdentifierFilePath()),
                 QJsonDocument(QJsonObject{{u"DeviceIdentifier"_qs, identifier}}).toJson());
        // The store is the launcher's own, in the user's configuration folder.
        QVERIFY2(store->fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")),
                 qPrintable(store->fileName()));
        QVERIFY(store->fileName().contains(u"Quorvane GmbH"_qs));
    }

    void laterStartsKeepTheIdentifierAndTheSharedFile() {
        const QJsonObject first = send(*makeSender(), Started, StartedKey);
        // Another program may have rewritten the shared file since; a later start leaves it alone.
        QFile shared(TFunnelEventSender::sharedIdentifierFilePath());
        QVERIFY(shared.open(QIODevice::WriteOnly | QIODevice::Truncate));
        shared.write("kept");
        shared.close();

        const QJsonObject second = send(*makeSender(), Started, StartedKey);
        QCOMPARE(second.value(u"first"_qs), QJsonValue(false));
        QCOMPARE(second.value(u"id"_qs), first.value(u"id"_qs));
        QCOMPARE(readBytes(TFunnelEventSender::sharedIdentifierFilePath()), QByteArray("kept"));
    }

    void eachMilestoneIsFirstOnce() {
        const auto sender = makeSender();
        QCOMPARE(send(*sender, Started, StartedKey).value(u"first"_qs), QJsonValue(true));
        QCOMPARE(send(*sender, Downloaded, DownloadedKey).value(u"first"_qs), QJsonValue(true));
        QCOMPARE(send(*sender, Downloaded, DownloadedKey).value(u"first"_qs), QJsonValue(false));
        QCOMPARE(send(*sender, Started, StartedKey).value(u"first"_qs), QJsonValue(false));
    }

    void accountGroupKeyIsSent() {
        QCOMPARE(
            send(*makeSender(u"group-7"_qs), Started, StartedKey).value(u"accountgroupkey"_qs).toString(),
            u"group-7"_qs);
        // A sender that was given no way to learn the key sends an empty one.
        TFunnelEventSender withoutKey(u"FunnelUuid"_qs, TFunnelEventSender::TTextProvider(),
                                      [this] { return m_pServer->url(u"/funnel"_qs); });
        const QJsonObject event = send(withoutKey, Started, StartedKey);
        QVERIFY(event.contains(u"accountgroupkey"_qs));
        QCOMPARE(event.value(u"accountgroupkey"_qs), QJsonValue(QString()));
    }

    void sharedFolderIsNeverCreated() {
        QVERIFY(QDir(sharedFolder()).removeRecursively());
        const QJsonObject event = send(*makeSender(), Started, StartedKey);
        QCOMPARE(event.value(u"first"_qs), QJsonValue(true));
        QVERIFY(!QFileInfo::exists(sharedFolder()));
        QCOMPARE(TFunnelEventSender::userSettingsStore()->value(u"FunnelUuid"_qs).toString(),
                 event.value(u"id"_qs).toString());
    }

    void deletedIdentifierIsCreatedAnew() {
        const auto sender = makeSender();
        const QString old = send(*sender, Started, StartedKey).value(u"id"_qs).toString();
        TFunnelEventSender::userSettingsStore()->remove(u"FunnelUuid"_qs);
        const QJsonObject event = send(*sender, Started, StartedKey);
        const QString renewed = event.value(u"id"_qs).toString();
        QVERIFY(!renewed.isEmpty());
        QVERIFY(renewed != old);
        QCOMPARE(event.value(u"first"_qs), QJsonValue(false));
        QCOMPARE(QJsonDocument::fromJson(readBytes(TFunnelEventSender::sharedIdentifierFilePath()))
                     .object()
                     .value(u"DeviceIdentifier"_qs)
                     .toString(),
                 renewed);
    }

    void failuresAreOnlyLogged() {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QUrl unreachable(u"http://127.0.0.1:%1/funnel"_qs.arg(closed.serverPort()));
        closed.close();
        m_pServer->setAnswer(u"/refused"_qs, testsupport::TScriptedAnswer::withStatus(500, "down"));

        struct TCase {
            const char* Name;
            QUrl Url;
        };
        const TCase cases[] = {{"connection refused", unreachable},
                               {"error answer", m_pServer->url(u"/refused"_qs)},
                               {"no address", QUrl()}};
        for (const TCase& testCase : cases) {
            TFunnelEventSender::userSettingsStore()->remove(StartedKey);
            const QUrl url = testCase.Url;
            TFunnelEventSender sender(u"FunnelUuid"_qs, TFunnelEventSender::TTextProvider(),
                                      [url] { return url; });
            testsupport::TMessageCapture capture;
            sender.sendFunnelEvent(Started, StartedKey);
            QVERIFY2(QTest::qWaitFor([&capture] { return !capture.warnings().isEmpty(); }, 10000),
                     testCase.Name);
            QCOMPARE(capture.warnings().size(), 1);
            QVERIFY2(
                capture.warnings().first().startsWith(u"Error funnel sending (Step:  launcher_started ):"_qs),
                qPrintable(capture.warnings().first()));
            // The report counts as made: the next one is no longer the first.
            QCOMPARE(TFunnelEventSender::userSettingsStore()->value(StartedKey).toBool(), false);
        }
    }

    void withoutApplicationObjectTheStepIsOnlyLogged() {
        testsupport::TMessageCapture capture;
        TFunnelEventSender::sendThroughApplication(Started, StartedKey);
        QCOMPARE(m_pServer->totalRequestCount(), 0);
        QVERIFY(!TFunnelEventSender::userSettingsStore()->contains(u"FunnelUuid"_qs));
        QVERIFY(!capture.messages(QtInfoMsg).filter(u"step not sent: launcher_started"_qs).isEmpty());
    }

private:
    std::unique_ptr<TFunnelEventSender> makeSender(const QString& AccountGroupKey = QString()) const;
    // Sends one event and returns the body the server received.
    QJsonObject send(TFunnelEventSender& Sender, const QString& Step, const QString& FirstTimeKey);
    QString sharedFolder() const {
        return QFileInfo(TFunnelEventSender::sharedIdentifierFilePath()).absolutePath();
    }

    std::unique_ptr<testsupport::TScriptedHttpServer> m_pServer;
};

std::unique_ptr<TFunnelEventSender> TestFunnelEventSender::makeSender(const QString& AccountGroupKey) const {
    const QUrl url = m_pServer->url(u"/funnel"_qs);
    return std::make_unique<TFunnelEventSender>(
        u"FunnelUuid"_qs, [AccountGroupKey] { return AccountGroupKey; }, [url] { return url; });
}

QJsonObject TestFunnelEventSender::send(TFunnelEventSender& Sender, const QString& Step,
                                        const QString& FirstTimeKey) {
    const int before = m_pServer->requestCount(u"/funnel"_qs);
    Sender.sendFunnelEvent(Step, FirstTimeKey);
    if (!QTest::qWaitFor([&] { return m_pServer->requestCount(u"/funnel"_qs) > before; }, 10000)) {
        return QJsonObject{{u"error"_qs, u"nothing arrived"_qs}};
    }
    return QJsonDocument::fromJson(m_pServer->requestsFor(u"/funnel"_qs).last().body).object();
}


LAUNCHER_TEST(TestFunnelEventSender)

#include "tst_funneleventsender.moc"
