#include "launcher/config/launcherconfigurationexception.h"
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QtTest>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

namespace {

const QUrl Base(u"https://127.0.0.1:8443/launcher/"_qs);

QJsonObject linuxBuild(const QString& url) {
    return QJsonObject{{u"os"_qs, u"linux"_qs}, {u"architecture"_qs, u"x86_64"_qs}, {u"url"_qs, url}};
}

QJsonObject packageEntry(const QString& name, const QJsonArray& builds) {
    return QJsonObject{{u"name"_qs, name}, {u"directoryname"_qs, name.toLower()}, {u"builds"_qs, builds}};
}

QStringList names(const std::vector<std::shared_ptr<TPackage>>& packages) {
    QStringList result;
    for (const std::shared_ptr<TPackage>& package : packages) {
        result.append(package->name());
    }
    return result;
}

void attach(TPackage& package, const QByteArray& document) {
    package.selectBuildForThisSystem()->Configuration =
        std::make_unique<TPackageConfigurationReader>(document, QByteArray(), Base, QUrl());
}

} // namespace

class TestLauncherConfigurationReader : public QObject {
    Q_OBJECT

private slots:
    void readsEveryKey() {
        const QJsonObject document{
            {u"launcher"_qs, packageEntry(u"Launcher"_qs, QJsonArray{linuxBuild(u"self/package.json"_qs)})},
            {u"packages"_qs,
             QJsonArray{packageEntry(u"Main"_qs, QJsonArray{linuxBuild(u"main/package.json"_qs)}),
                        u"not an object"_qs, packageEntry(u"Third"_qs, QJsonArray())}},
            {u"hardwaresurvey"_qs, u"https://survey.example.invalid/post?k=1"_qs},
            {u"hints"_qs, u"hints.json"_qs},
            {u"funnel"_qs, u"https://funnel.example.invalid/events"_qs},
            {u"preventdefaultautostart"_qs, true},
            {u"showpackagenames"_qs, true}};
        const QByteArray raw = QJsonDocument(document).toJson(QJsonDocument::Indented);

        const TLauncherConfigurationReader reader(raw, Base);
        QCOMPARE(reader.baseUrl(), Base);
        QCOMPARE(reader.rawDocument(), raw);

        QVERIFY(reader.launcherPackage());
        QCOMPARE(reader.launcherPackage()->index(), 2147483647);
        QVERIFY(reader.launcherPackage()->isLauncherPackage());
        QCOMPARE(reader.launcherPackage()->builds()[0].PackageConfigurationUrl,
                 QUrl(u"https://127.0.0.1:8443/launcher/self/package.json"_qs));

        QCOMPARE(reader.packages().size(), std::size_t(3));
        for (int position = 0; position < 3; ++position) {
            QCOMPARE(reader.packages()[static_cast<std::size_t>(position)]->index(), position);
        }
        QCOMPARE(reader.packages()[0]->name(), u"Main"_qs);
        QCOMPARE(reader.packages()[0]->builds()[0].PackageConfigurationUrl,
                 QUrl(u"https://127.0.0.1:8443/launcher/main/package.json"_qs));
        // A non-object element is a package built from an empty object.
        QVERIFY(reader.packages()[1]->name().isEmpty());
        QVERIFY(reader.packages()[1]->builds().empty());
        QCOMPARE(reader.packages()[2]->name(), u"Third"_qs);

        // Service addresses are taken as they stand, not resolved against the document.
        QCOMPARE(reader.hardwareSurveyUrl(), QUrl(u"https://survey.example.invalid/post?k=1"_qs));
        QCOMPARE(reader.hintsUrl(), QUrl(u"hints.json"_qs));
        QVERIFY(reader.hintsUrl().isRelative());
        QCOMPARE(reader.funnelUrl(), QUrl(u"https://funnel.example.invalid/events"_qs));
        QVERIFY(reader.preventDefaultAutostart());
        QVERIFY(reader.showPackageNames());
    }

    void absentOrMistypedKeysGiveDefaults() {
        const QJsonObject document{{u"launcher"_qs, QJsonArray()},
                                   {u"packages"_qs, QJsonObject()},
                                   {u"hints"_qs, 5},
                                   {u"preventdefaultautostart"_qs, u"true"_qs},
                                   {u"showpackagenames"_qs, 1}};
        const TLauncherConfigurationReader reader(QJsonDocument(document).toJson(), Base);
        QVERIFY(!reader.launcherPackage());
        QVERIFY(reader.packages().empty());
        QVERIFY(reader.hintsUrl().isEmpty());
        QVERIFY(!reader.hintsUrl().isValid());
        QVERIFY(!reader.hardwareSurveyUrl().isValid());
        QVERIFY(reader.funnelUrl().isEmpty());
        QVERIFY(!reader.preventDefaultAutostart());
        QVERIFY(!reader.showPackageNames());
    }

    void documentThatIsNoObjectIsAnEmptyConfiguration() {
        for (const QByteArray& document :
             {QByteArray("[]"), QByteArray("[{\"packages\": []}]"), QByteArray("{}")}) {
            const TLauncherConfigurationReader reader(document, Base);
            QVERIFY(!reader.launcherPackage());
            QVERIFY(reader.packages().empty());
            QVERIFY(reader.availablePackages().empty());
            QCOMPARE(reader.rawDocument(), document);
        }
    }

    void invalidJsonRaisesTheParserText() {
        for (const QByteArray& document :
             {QByteArray("{\"packages\": ["), QByteArray(), QByteArray("\xef\xbb\xbf{} x")}) {
            QJsonParseError oracle;
            QJsonDocument::fromJson(document, &oracle);
            QVERIFY(oracle.error != QJsonParseError::NoError);
            try {
                TLauncherConfigurationReader reader(document, Base);
                QFAIL("no exception for an invalid document");
            } catch (const TLauncherConfigurationException& error) {
                QCOMPARE(QString::fromUtf8(error.what()), oracle.errorString());
            }
        }
        // It is a std::runtime_error, so whoever reports disk failures also reports this one.
        QVERIFY_EXCEPTION_THROWN(TLauncherConfigurationReader("nope", Base), std::runtime_error);
    }

    void availablePackagesNeedABuildWithConfiguration() {
        const QJsonObject windowsBuild{
            {u"os"_qs, u"windows"_qs}, {u"architecture"_qs, u"x86_64"_qs}, {u"url"_qs, u"w.json"_qs}};
        const QJsonObject document{
            {u"launcher"_qs, packageEntry(u"Launcher"_qs, QJsonArray{linuxBuild(u"l"_qs)})},
            {u"packages"_qs,
             QJsonArray{packageEntry(u"A"_qs, QJsonArray{linuxBuild(u"a.json"_qs)}),
                        packageEntry(u"WindowsOnly"_qs, QJsonArray{windowsBuild}),
                        packageEntry(u"NotYetConfigured"_qs, QJsonArray{linuxBuild(u"n.json"_qs)}),
                        packageEntry(u"B"_qs, QJsonArray{windowsBuild, linuxBuild(u"b.json"_qs)})}}};
        const TLauncherConfigurationReader reader(QJsonDocument(document).toJson(), Base);
        QVERIFY(reader.availablePackages().empty());

        attach(*reader.packages()[3], "{\"version\": \"1\"}");
        attach(*reader.packages()[0], "{\"version\": \"2\"}");
        attach(*reader.launcherPackage(), "{\"version\": \"0.0.12\"}");
        QVERIFY(!reader.packages()[1]->selectBuildForThisSystem());

        // In configuration order, without the launcher's own package.
        QCOMPARE(names(reader.availablePackages()), (QStringList{u"A"_qs, u"B"_qs}));
        QCOMPARE(reader.availablePackages()[0], reader.packages()[0]);
    }
};

LAUNCHER_TEST(TestLauncherConfigurationReader)
#include "tst_launcherconfigurationreader.moc"
