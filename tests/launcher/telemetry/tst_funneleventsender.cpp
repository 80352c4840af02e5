#include "launcher/telemetry/funneleventsender.h"
#include "support/installationkit.h"
#include "support/messagecapture.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTcpServer>
#include <QtTest>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

namespace {

const QString Started = u"launcher_started"_qs;
const QString Downloaded = u"launcher_downloaded"_qs;

QString sharedFolder() {
    return QFileInfo(TFunnelEventSender::sharedIdentifierFilePath()).absolutePath();
}

QByteArray sharedFile() {
    return testsupport::readBytes(TFunnelEventSender::sharedIdentifierFilePath());
}

} // namespace

// Funnel events posted to a scripted server that records them; the user's settings store and shared
// data folder are in the temporary home the test executable runs in.
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
        m_pServer->setAnswer(u"/refused"_qs, testsupport::TScriptedAnswer::withStatus(500, "down"));
    }

    void milestonesAndTheDeviceIdentifier() {
        TFunnelEventSender sender(
            u"FunnelUuid"_qs, [] { return u"group-7"_qs; }, [this] { return url(); });
        const QJsonObject first = send(sender, Started);
        const QString id = first.value(u"id"_qs).toString();
        QCOMPARE(QUuid::fromString(id).toString(QUuid::WithoutBraces), id);
        QCOMPARE(first, (QJsonObject{{u"accountgroupkey"_qs, u"group-7"_qs},
                                     {u"first"_qs, true},
                                     {u"id"_qs, id},
                                     {u"step"_qs, Started}}));
        const testsupport::TRecordedRequest request = m_pServer->requestsFor(u"/funnel"_qs).first();
        QCOMPARE(request.method + ' ' + request.headers.value("content-type"),
                 QByteArray("POST application/json"));
        // The launcher's own store in the user's configuration folder keeps the identifier and the
        // reported milestone's flag; other programs of the maker read the identifier from the shared file.
        const auto store = TFunnelEventSender::userSettingsStore();
        QVERIFY(
            store->fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME") + u"/Quorvane GmbH/"_qs));
        QCOMPARE(store->allKeys(), (QStringList{u"FunnelUuid"_qs, u"startedFirst"_qs}));
        QCOMPARE(sharedFile(), QJsonDocument(QJsonObject{{u"DeviceIdentifier"_qs, id}}).toJson());

        // Each milestone is first once; another program may have rewritten the shared file since, and
        // later reports leave it alone.
        QVERIFY(testsupport::writeBytes(TFunnelEventSender::sharedIdentifierFilePath(), "kept"));
        QCOMPARE(send(sender, Downloaded).value(u"first"_qs), true);
        QCOMPARE(send(sender, Downloaded).value(u"first"_qs), false);
        QCOMPARE(send(sender, Started), (QJsonObject{{u"accountgroupkey"_qs, u"group-7"_qs},
                                                     {u"first"_qs, false},
                                                     {u"id"_qs, id},
                                                     {u"step"_qs, Started}}));
        QCOMPARE(sharedFile(), QByteArray("kept"));
        // An identifier the user deleted is made anew and shared again.
        store->remove(u"FunnelUuid"_qs);
        const QString renewed = send(sender, Started).value(u"id"_qs).toString();
        QVERIFY(!renewed.isEmpty() && renewed != id);
        QVERIFY(sharedFile().contains(renewed.toLatin1()));
    }

    void sharedFolderIsNeverCreatedAndTheKeyMayBeMissing() {
        QVERIFY(QDir(sharedFolder()).removeRecursively());
        TFunnelEventSender sender(u"FunnelUuid"_qs, {}, [this] { return url(); });
        QCOMPARE(send(sender, Started).value(u"accountgroupkey"_qs), QString());
        QVERIFY(!QFileInfo::exists(sharedFolder()));
        QVERIFY(TFunnelEventSender::userSettingsStore()->contains(u"FunnelUuid"_qs));
    }

    void failuresAreOnlyLogged_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("connection refused") << u"closed"_qs;
        QTest::newRow("error answer") << u"/refused"_qs;
        QTest::newRow("no address") << QString();
    }

    void failuresAreOnlyLogged() {
        QFETCH(QString, path);
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QUrl address = path.isEmpty() ? QUrl()
                             : path.startsWith(u'/')
                                 ? m_pServer->url(path)
                                 : QUrl(u"http://127.0.0.1:%1/"_qs.arg(closed.serverPort()));
        closed.close();
        TFunnelEventSender sender(u"FunnelUuid"_qs, {}, [address] { return address; });
        testsupport::TMessageCapture capture;
        sender.sendFunnelEvent(Started, u"startedFirst"_qs);
        QVERIFY(QTest::qWaitFor([&capture] { return !capture.warnings().isEmpty(); }, 10000));
        QVERIFY2(capture.warnings().first().contains(Started), qPrintable(capture.warnings().first()));
        // The report counts as made: the next one is no longer the first.
        QCOMPARE(TFunnelEventSender::userSettingsStore()->value(u"startedFirst"_qs), false);
    }

    void withoutTheLauncherApplicationNothingIsSent() {
        TFunnelEventSender::sendThroughApplication(Started, u"startedFirst"_qs);
        QCoreApplication::processEvents();
        QCOMPARE(m_pServer->totalRequestCount(), 0);
        QVERIFY(TFunnelEventSender::userSettingsStore()->allKeys().isEmpty());
    }

private:
    QUrl url() const { return m_pServer->url(u"/funnel"_qs); }

    // Sends one event (its first-time flag named after the step) and returns the body the server received.
    QJsonObject send(TFunnelEventSender& Sender, const QString& Step) {
        const int before = m_pServer->requestCount(u"/funnel"_qs);
        Sender.sendFunnelEvent(Step, Step.section(u'_', 1) + u"First"_qs);
        if (!QTest::qWaitFor([&] { return m_pServer->requestCount(u"/funnel"_qs) > before; }, 10000)) {
            return {};
        }
        return QJsonDocument::fromJson(m_pServer->requestsFor(u"/funnel"_qs).last().body).object();
    }

    std::unique_ptr<testsupport::TScriptedHttpServer> m_pServer;
};

LAUNCHER_TEST(TestFunnelEventSender)
#include "tst_funneleventsender.moc"
