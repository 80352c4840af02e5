#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/package/package.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <stdexcept>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

namespace {

const QUrl Base(u"https://127.0.0.1:8443/launcher/"_qs);

QJsonObject entry(const QString& Name, const QString& Url) {
    const QJsonObject build{{u"os"_qs, u"linux"_qs}, {u"architecture"_qs, u"x86_64"_qs}, {u"url"_qs, Url}};
    return QJsonObject{{u"name"_qs, Name}, {u"builds"_qs, QJsonArray{build}}};
}

} // namespace

class TestLauncherConfigurationReader : public QObject {
    Q_OBJECT

private slots:
    void readsEveryKey() {
        const QJsonObject document{
            {u"launcher"_qs, entry(u"Launcher"_qs, u"self/package.json"_qs)},
            {u"packages"_qs, QJsonArray{entry(u"Main"_qs, u"main/package.json"_qs), u"not an object"_qs,
                                        entry(u"Third"_qs, QString())}},
            {u"hardwaresurvey"_qs, u"https://survey.example.invalid/post?k=1"_qs},
            {u"hints"_qs, u"hints.json"_qs},
            {u"funnel"_qs, u"https://funnel.example.invalid/events"_qs},
            {u"preventdefaultautostart"_qs, true},
            {u"showpackagenames"_qs, true}};
        const TLauncherConfigurationReader reader(QJsonDocument(document).toJson(), Base);

        QVERIFY(reader.launcherPackage()->isLauncherPackage());
        QCOMPARE(reader.launcherPackage()->builds()[0].PackageConfigurationUrl,
                 QUrl(u"https://127.0.0.1:8443/launcher/self/package.json"_qs));
        // Every element is a package at its position; one that is no object has no name and no build.
        QCOMPARE(reader.packages().size(), std::size_t(3));
        QStringList packages;
        for (const std::shared_ptr<TPackage>& package : reader.packages()) {
            packages
                << u"%1:%2:%3"_qs.arg(package->index()).arg(package->name()).arg(package->builds().size());
        }
        QCOMPARE(packages, (QStringList{u"0:Main:1"_qs, u"1::0"_qs, u"2:Third:1"_qs}));
        QCOMPARE(reader.packages()[0]->builds()[0].PackageConfigurationUrl,
                 QUrl(u"https://127.0.0.1:8443/launcher/main/package.json"_qs));
        // An empty address stays empty instead of becoming the configuration's own directory.
        QVERIFY(reader.packages()[2]->builds()[0].PackageConfigurationUrl.isEmpty());
        // Service addresses are taken as they stand, not resolved against the document.
        QCOMPARE(reader.hardwareSurveyUrl(), QUrl(u"https://survey.example.invalid/post?k=1"_qs));
        QCOMPARE(reader.hintsUrl(), QUrl(u"hints.json"_qs));
        QCOMPARE(reader.funnelUrl(), QUrl(u"https://funnel.example.invalid/events"_qs));
        QVERIFY(reader.preventDefaultAutostart());
        QVERIFY(reader.showPackageNames());
    }

    void documentsThatConfigureNothing_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<bool>("parses");
        QTest::newRow("cut short") << QByteArray("{\"packages\": [") << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("trailing text") << QByteArray("\xef\xbb\xbf{} x") << false;
        QTest::newRow("array") << QByteArray("[{\"packages\": []}]") << true;
        QTest::newRow("mistyped keys")
            << QByteArray(R"({"launcher": [], "packages": {}, "hints": 5, "preventdefaultautostart": "true",
                              "showpackagenames": 1, "funnel": true})")
            << true;
    }

    void documentsThatConfigureNothing() {
        QFETCH(QByteArray, document);
        QFETCH(bool, parses);
        try {
            const TLauncherConfigurationReader reader(document, Base);
            QVERIFY(parses);
            QVERIFY(!reader.launcherPackage());
            QVERIFY(reader.packages().empty());
            QVERIFY(!reader.hintsUrl().isValid());
            QVERIFY(reader.funnelUrl().isEmpty());
            QVERIFY(!reader.preventDefaultAutostart() && !reader.showPackageNames());
        } catch (const std::runtime_error& error) {
            // Whoever reports failures to read the stored copy reports this one too.
            QVERIFY2(!parses, error.what());
        }
    }
};

LAUNCHER_TEST(TestLauncherConfigurationReader)
#include "tst_launcherconfigurationreader.moc"
