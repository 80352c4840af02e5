// Funnel events posted to a scripted server that records them, with the user's settings store and
// shared data folder in temporary directories.
#include "launcher/telemetry/funneleventsender.h"
#include "support/isolateduserdirectories.h"
#include "support/messagecapture.h"
#include "support/scriptedhttpserver.h"

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

namespace {

const QString Started = QStringLiteral("launcher_started");
const QString StartedKey = QStringLiteral("FunnelStartedFirst");
const QString Downloaded = QStringLiteral("launcher_downloaded");
const QString DownloadedKey = QStringLiteral("FunnelFinishedDownloadingFirst");

QByteArray readAll(const QString& Path) {
    QFile file(Path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

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
        m_pServer->setAnswer(QStringLiteral("/funnel"),
                             testsupport::TScriptedAnswer::ok(R"({"errorCode": 0})"));
    }

    void cleanup() { m_pServer.reset(); }

    void firstReportCreatesTheDeviceIdentifier() {
        const auto sender = makeSender();
        const QJsonObject event = send(*sender, Started, StartedKey);
        QCOMPARE(event.keys(), (QStringList{QStringLiteral("accountgroupkey"), QStringLiteral("first"),
                                            QStringLiteral("id"), QStringLiteral("step")}));
        QCOMPARE(event.value(QStringLiteral("step")).toString(), Started);
        QCOMPARE(event.value(QStringLiteral("first")), QJsonValue(true));
        QCOMPARE(event.value(QStringLiteral("accountgroupkey")), QJsonValue(QString()));
        const QString identifier = event.value(QStringLiteral("id")).toString();
        QVERIFY2(QRegularExpression(
                     QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"))
                     .match(identifier)
                     .hasMatch(),
                 qPrintable(identifier));

        const testsupport::TRecordedRequest request =
            m_pServer->requestsFor(QStringLiteral("/funnel")).first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
        QCOMPARE(request.body, TFunnelEventSender::funnelEventDocument(Started, true, identifier, QString()));

        const auto store = TFunnelEventSender::userSettingsStore();
        QCOMPARE(store->value(QStringLiteral("FunnelUuid")).toString(), identifier);
        QCOMPARE(store->value(StartedKey).toBool(), false);
        // Only the reported milestone's flag is set.
        QVERIFY(!store->contains(DownloadedKey));
        QCOMPARE(readAll(TFunnelEventSender::sharedIdentifierFilePath()),
                 QJsonDocument(QJsonObject{{QStringLiteral("DeviceIdentifier"), identifier}}).toJson());
        // The store is the launcher's own, in the user's configuration folder.
        QVERIFY2(store->fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")),
                 qPrintable(store->fileName()));
        QVERIFY(store->fileName().contains(QStringLiteral("Quorvane GmbH")));
    }

    void laterStartsKeepTheIdentifierAndTheSharedFile() {
        const QJsonObject first = send(*makeSender(), Started, StartedKey);
        // Another program may have rewritten the shared file since; a later start leaves it alone.
        QFile shared(TFunnelEventSender::sharedIdentifierFilePath());
        QVERIFY(shared.open(QIODevice::WriteOnly | QIODevice::Truncate));
        shared.write("kept");
        shared.close();

        const QJsonObject second = send(*makeSender(), Started, StartedKey);
        QCOMPARE(second.value(QStringLiteral("first")), QJsonValue(false));
        QCOMPARE(second.value(QStringLiteral("id")), first.value(QStringLiteral("id")));
        QCOMPARE(readAll(TFunnelEventSender::sharedIdentifierFilePath()), QByteArray("kept"));
    }

    void eachMilestoneIsFirstOnce() {
        const auto sender = makeSender();
        QCOMPARE(send(*sender, Started, StartedKey).value(QStringLiteral("first")), QJsonValue(true));
        QCOMPARE(send(*sender, Downloaded, DownloadedKey).value(QStringLiteral("first")), QJsonValue(true));
        QCOMPARE(send(*sender, Downloaded, DownloadedKey).value(QStringLiteral("first")), QJsonValue(false));
        QCOMPARE(send(*sender, Started, StartedKey).value(QStringLiteral("first")), QJsonValue(false));
    }

    void accountGroupKeyIsSent() {
        QCOMPARE(send(*makeSender(QStringLiteral("group-7")), Started, StartedKey)
                     .value(QStringLiteral("accountgroupkey"))
                     .toString(),
                 QStringLiteral("group-7"));
        // A sender that was given no way to learn the key sends an empty one.
        TFunnelEventSender withoutKey(QStringLiteral("FunnelUuid"), TFunnelEventSender::TTextProvider(),
                                      [this] { return m_pServer->url(QStringLiteral("/funnel")); });
        const QJsonObject event = send(withoutKey, Started, StartedKey);
        QVERIFY(event.contains(QStringLiteral("accountgroupkey")));
        QCOMPARE(event.value(QStringLiteral("accountgroupkey")), QJsonValue(QString()));
    }

    void sharedFolderIsNeverCreated() {
        QVERIFY(QDir(sharedFolder()).removeRecursively());
        const QJsonObject event = send(*makeSender(), Started, StartedKey);
        QCOMPARE(event.value(QStringLiteral("first")), QJsonValue(true));
        QVERIFY(!QFileInfo::exists(sharedFolder()));
        QCOMPARE(TFunnelEventSender::userSettingsStore()->value(QStringLiteral("FunnelUuid")).toString(),
                 event.value(QStringLiteral("id")).toString());
    }

    void deletedIdentifierIsCreatedAnew() {
        const auto sender = makeSender();
        const QString old = send(*sender, Started, StartedKey).value(QStringLiteral("id")).toString();
        TFunnelEventSender::userSettingsStore()->remove(QStringLiteral("FunnelUuid"));
        const QJsonObject event = send(*sender, Started, StartedKey);
        const QString renewed = event.value(QStringLiteral("id")).toString();
        QVERIFY(!renewed.isEmpty());
        QVERIFY(renewed != old);
        QCOMPARE(event.value(QStringLiteral("first")), QJsonValue(false));
        QCOMPARE(QJsonDocument::fromJson(readAll(TFunnelEventSender::sharedIdentifierFilePath()))
                     .object()
                     .value(QStringLiteral("DeviceIdentifier"))
                     .toString(),
                 renewed);
    }

    void failuresAreOnlyLogged() {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QUrl unreachable(QStringLiteral("http://127.0.0.1:%1/funnel").arg(closed.serverPort()));
        closed.close();
        m_pServer->setAnswer(QStringLiteral("/refused"),
                             testsupport::TScriptedAnswer::withStatus(500, "down"));

        struct TCase {
            const char* Name;
            QUrl Url;
        };
        const TCase cases[] = {{"connection refused", unreachable},
                               {"error answer", m_pServer->url(QStringLiteral("/refused"))},
                               {"no address", QUrl()}};
        for (const TCase& testCase : cases) {
            TFunnelEventSender::userSettingsStore()->remove(StartedKey);
            const QUrl url = testCase.Url;
            TFunnelEventSender sender(QStringLiteral("FunnelUuid"), TFunnelEventSender::TTextProvider(),
                                      [url] { return url; });
            testsupport::TMessageCapture capture;
            sender.sendFunnelEvent(Started, StartedKey);
            QVERIFY2(QTest::qWaitFor([&capture] { return !capture.warnings().isEmpty(); }, 10000),
                     testCase.Name);
            QCOMPARE(capture.warnings().size(), 1);
            QVERIFY2(capture.warnings().first().startsWith(
                         QStringLiteral("Error funnel sending (Step:  launcher_started ):")),
                     qPrintable(capture.warnings().first()));
            // The report counts as made: the next one is no longer the first.
            QCOMPARE(TFunnelEventSender::userSettingsStore()->value(StartedKey).toBool(), false);
        }
    }

    void withoutApplicationObjectTheStepIsOnlyLogged() {
        testsupport::TMessageCapture capture;
        TFunnelEventSender::sendThroughApplication(Started, StartedKey);
        QCOMPARE(m_pServer->totalRequestCount(), 0);
        QVERIFY(!TFunnelEventSender::userSettingsStore()->contains(QStringLiteral("FunnelUuid")));
        QVERIFY(
            !capture.messages(QtInfoMsg).filter(QStringLiteral("step not sent: launcher_started")).isEmpty());
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
    const QUrl url = m_pServer->url(QStringLiteral("/funnel"));
    return std::make_unique<TFunnelEventSender>(
        QStringLiteral("FunnelUuid"), [AccountGroupKey] { return AccountGroupKey; }, [url] { return url; });
}

QJsonObject TestFunnelEventSender::send(TFunnelEventSender& Sender, const QString& Step,
                                        const QString& FirstTimeKey) {
    const int before = m_pServer->requestCount(QStringLiteral("/funnel"));
    Sender.sendFunnelEvent(Step, FirstTimeKey);
    if (!QTest::qWaitFor([&] { return m_pServer->requestCount(QStringLiteral("/funnel")) > before; },
                         10000)) {
        return QJsonObject{{QStringLiteral("error"), QStringLiteral("nothing arrived")}};
    }
    return QJsonDocument::fromJson(m_pServer->requestsFor(QStringLiteral("/funnel")).last().body).object();
}

int main(int argc, char** argv) {
    const testsupport::TIsolatedUserDirectories userDirectories;
    QCoreApplication application(argc, argv);
    TestFunnelEventSender test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_funneleventsender.moc"
