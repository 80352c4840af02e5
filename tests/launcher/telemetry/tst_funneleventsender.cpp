#include "launcher/telemetry/funneleventsender.h"
#include "support/installationkit.h"
#include "support/messagecapture.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testnetwork.h"
#include "support/testregistry.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QtTest>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

// Funnel events posted to a scripted server; settings and shared folder live in the temporary home.
class TestFunnelEventSender : public QObject {
    Q_OBJECT

private slots:
    void init() {
        // Every case starts as a user who never ran the launcher, with the maker's shared folder there.
        TFunnelEventSender::userSettingsStore()->clear();
        QVERIFY(QDir(m_SharedFolder).removeRecursively() && QDir().mkpath(m_SharedFolder));
        m_pServer = std::make_unique<testsupport::TScriptedHttpServer>();
        QVERIFY(m_pServer->start());
        m_pServer->setAnswer(u"/funnel"_qs, testsupport::TScriptedAnswer::ok(R"({"errorCode": 0})"));
    }

    void milestonesAndTheDeviceIdentifier() {
        TFunnelEventSender sender(
            u"FunnelUuid"_qs, [] { return u"group-7"_qs; }, [this] { return url(); });
        const QJsonObject first = send(sender, u"launcher_started"_qs);
        const QString id = first[u"id"_qs].toString();
        QCOMPARE(QUuid::fromString(id).toString(QUuid::WithoutBraces), id);
        QCOMPARE(first, (QJsonObject{{u"accountgroupkey"_qs, u"group-7"_qs},
                                     {u"first"_qs, true},
                                     {u"id"_qs, id},
                                     {u"step"_qs, u"launcher_started"_qs}}));
        const testsupport::TRecordedRequest request = m_pServer->requestsFor(u"/funnel"_qs).first();
        QCOMPARE(request.method + ' ' + request.headers.value("content-type"),
                 QByteArray("POST application/json"));
        // The identifier and flags live in the user's store; the maker's other programs read the shared file.
        const auto store = TFunnelEventSender::userSettingsStore();
        QVERIFY(
            store->fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME") + u"/Quorvane GmbH/"_qs));
        QCOMPARE(store->allKeys(), (QStringList{u"FunnelUuid"_qs, u"startedFirst"_qs}));
        QCOMPARE(testsupport::readBytes(m_SharedFile),
                 QJsonDocument(QJsonObject{{u"DeviceIdentifier"_qs, id}}).toJson());
        // Each milestone is first once, same identifier; later reports leave a rewritten shared file alone.
        QVERIFY(testsupport::writeBytes(m_SharedFile, "kept"));
        QString firsts;
        for (const QString& step :
             {u"launcher_downloaded"_qs, u"launcher_downloaded"_qs, u"launcher_started"_qs}) {
            const QJsonObject event = send(sender, step);
            firsts += event[u"id"_qs] == id ? QString::number(event[u"first"_qs].toBool()) : u"?"_qs;
        }
        QCOMPARE(firsts + testsupport::readBytes(m_SharedFile), u"100kept"_qs);
        // An identifier the user deleted is made anew and shared again.
        store->remove(u"FunnelUuid"_qs);
        const QString renewed = send(sender, u"launcher_started"_qs)[u"id"_qs].toString();
        QVERIFY(!renewed.isEmpty() && renewed != id &&
                testsupport::readBytes(m_SharedFile).contains(renewed.toLatin1()));
    }

    void sharedFolderIsNeverCreatedAndTheKeyMayBeMissing() {
        QVERIFY(QDir(m_SharedFolder).removeRecursively());
        TFunnelEventSender sender(u"FunnelUuid"_qs, {}, [this] { return url(); });
        QCOMPARE(send(sender, u"launcher_started"_qs)[u"accountgroupkey"_qs], QString());
        QVERIFY(!QFileInfo::exists(m_SharedFolder));
    }

    // A report that cannot be made is only logged, and counts as made: the next one is not the first.
    void failuresAreOnlyLogged() {
        const QUrl refused = testsupport::closedLoopbackUrl(QString());
        m_pServer->setAnswer(u"/down"_qs, testsupport::TScriptedAnswer::withStatus(500, "down"));
        for (const QUrl& address : {refused, m_pServer->url(u"/down"_qs)}) {
            TFunnelEventSender::userSettingsStore()->clear();
            TFunnelEventSender sender(u"FunnelUuid"_qs, {}, [address] { return address; });
            testsupport::TMessageCapture capture;
            sender.sendFunnelEvent(u"launcher_started"_qs, u"startedFirst"_qs);
            QVERIFY(QTest::qWaitFor([&capture] { return !capture.warnings().isEmpty(); }, 10000));
            QVERIFY2(capture.warnings().first().contains(u"launcher_started"_qs),
                     qPrintable(address.toString()));
            QCOMPARE(TFunnelEventSender::userSettingsStore()->value(u"startedFirst"_qs), false);
        }
    }

    void withoutTheLauncherApplicationNothingIsSent() {
        TFunnelEventSender::sendThroughApplication(u"launcher_started"_qs, u"startedFirst"_qs);
        QCoreApplication::processEvents();
        QVERIFY(m_pServer->totalRequestCount() == 0 &&
                TFunnelEventSender::userSettingsStore()->allKeys().isEmpty());
    }

private:
    QUrl url() const { return m_pServer->url(u"/funnel"_qs); }

    // Sends one event (its first-time flag named after the step) and returns the body the server received.
    QJsonObject send(TFunnelEventSender& Sender, const QString& Step) {
        const int before = m_pServer->requestCount(u"/funnel"_qs);
        Sender.sendFunnelEvent(Step, Step.section(u'_', 1) + u"First"_qs);
        static_cast<void>(
            QTest::qWaitFor([&] { return m_pServer->requestCount(u"/funnel"_qs) > before; }, 10000));
        return QJsonDocument::fromJson(m_pServer->requestsFor(u"/funnel"_qs).value(before).body).object();
    }

    const QString m_SharedFile = TFunnelEventSender::sharedIdentifierFilePath();
    const QString m_SharedFolder = QFileInfo(m_SharedFile).absolutePath();
    std::unique_ptr<testsupport::TScriptedHttpServer> m_pServer;
};

LAUNCHER_TEST(TestFunnelEventSender)
#include "tst_funneleventsender.moc"
