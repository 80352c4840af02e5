#include "launcher/config/launcherconfigurationexception.h"
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QtTest>

using namespace mirrel::launcher;

namespace {

const QUrl Base(QStringLiteral("https://127.0.0.1:8443/launcher/"));

QJsonObject linuxBuild(const QString& url) {
    return QJsonObject{{QStringLiteral("os"), QStringLiteral("linux")},
                       {QStringLiteral("architecture"), QStringLiteral("x86_64")},
                       {QStringLiteral("url"), url}};
}

QJsonObject packageEntry(const QString& name, const QJsonArray& builds) {
    return QJsonObject{{QStringLiteral("name"), name},
                       {QStringLiteral("directoryname"), name.toLower()},
                       {QStringLiteral("builds"), builds}};
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
            {QStringLiteral("launcher"),
             packageEntry(QStringLiteral("Launcher"),
                          QJsonArray{linuxBuild(QStringLiteral("self/package.json"))})},
            {QStringLiteral("packages"),
             QJsonArray{packageEntry(QStringLiteral("Main"),
                                     QJsonArray{linuxBuild(QStringLiteral("main/package.json"))}),
                        QStringLiteral("not an object"),
                        packageEntry(QStringLiteral("Third"), QJsonArray())}},
            {QStringLiteral("hardwaresurvey"), QStringLiteral("https://survey.example.invalid/post?k=1")},
            {QStringLiteral("hints"), QStringLiteral("hints.json")},
            {QStringLiteral("funnel"), QStringLiteral("https://funnel.example.invalid/events")},
            {QStringLiteral("preventdefaultautostart"), true},
            {QStringLiteral("showpackagenames"), true}};
        const QByteArray raw = QJsonDocument(document).toJson(QJsonDocument::Indented);

        const TLauncherConfigurationReader reader(raw, Base);
        QCOMPARE(reader.baseUrl(), Base);
        QCOMPARE(reader.rawDocument(), raw);

        QVERIFY(reader.launcherPackage());
        QCOMPARE(reader.launcherPackage()->index(), 2147483647);
        QVERIFY(reader.launcherPackage()->isLauncherPackage());
        QCOMPARE(reader.launcherPackage()->builds()[0].PackageConfigurationUrl,
                 QUrl(QStringLiteral("https://127.0.0.1:8443/launcher/self/package.json")));

        QCOMPARE(reader.packages().size(), std::size_t(3));
        for (int position = 0; position < 3; ++position) {
            QCOMPARE(reader.packages()[static_cast<std::size_t>(position)]->index(), position);
        }
        QCOMPARE(reader.packages()[0]->name(), QStringLiteral("Main"));
        QCOMPARE(reader.packages()[0]->builds()[0].PackageConfigurationUrl,
                 QUrl(QStringLiteral("https://127.0.0.1:8443/launcher/main/package.json")));
        // A non-object element is a package built from an empty object.
        QVERIFY(reader.packages()[1]->name().isEmpty());
        QVERIFY(reader.packages()[1]->builds().empty());
        QCOMPARE(reader.packages()[2]->name(), QStringLiteral("Third"));

        // Service addresses are taken as they stand, not resolved against the document.
        QCOMPARE(reader.hardwareSurveyUrl(), QUrl(QStringLiteral("https://survey.example.invalid/post?k=1")));
        QCOMPARE(reader.hintsUrl(), QUrl(QStringLiteral("hints.json")));
        QVERIFY(reader.hintsUrl().isRelative());
        QCOMPARE(reader.funnelUrl(), QUrl(QStringLiteral("https://funnel.example.invalid/events")));
        QVERIFY(reader.preventDefaultAutostart());
        QVERIFY(reader.showPackageNames());
    }

    void absentOrMistypedKeysGiveDefaults() {
        const QJsonObject document{{QStringLiteral("launcher"), QJsonArray()},
                                   {QStringLiteral("packages"), QJsonObject()},
                                   {QStringLiteral("hints"), 5},
                                   {QStringLiteral("preventdefaultautostart"), QStringLiteral("true")},
                                   {QStringLiteral("showpackagenames"), 1}};
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
        const QJsonObject windowsBuild{{QStringLiteral("os"), QStringLiteral("windows")},
                                       {QStringLiteral("architecture"), QStringLiteral("x86_64")},
                                       {QStringLiteral("url"), QStringLiteral("w.json")}};
        const QJsonObject document{
            {QStringLiteral("launcher"),
             packageEntry(QStringLiteral("Launcher"), QJsonArray{linuxBuild(QStringLiteral("l"))})},
            {QStringLiteral("packages"),
             QJsonArray{packageEntry(QStringLiteral("A"), QJsonArray{linuxBuild(QStringLiteral("a.json"))}),
                        packageEntry(QStringLiteral("WindowsOnly"), QJsonArray{windowsBuild}),
                        packageEntry(QStringLiteral("NotYetConfigured"),
                                     QJsonArray{linuxBuild(QStringLiteral("n.json"))}),
                        packageEntry(QStringLiteral("B"),
                                     QJsonArray{windowsBuild, linuxBuild(QStringLiteral("b.json"))})}}};
        const TLauncherConfigurationReader reader(QJsonDocument(document).toJson(), Base);
        QVERIFY(reader.availablePackages().empty());

        attach(*reader.packages()[3], "{\"version\": \"1\"}");
        attach(*reader.packages()[0], "{\"version\": \"2\"}");
        attach(*reader.launcherPackage(), "{\"version\": \"0.0.12\"}");
        QVERIFY(!reader.packages()[1]->selectBuildForThisSystem());

        // In configuration order, without the launcher's own package.
        QCOMPARE(names(reader.availablePackages()), (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
        QCOMPARE(reader.availablePackages()[0], reader.packages()[0]);
    }
};

QTEST_GUILESS_MAIN(TestLauncherConfigurationReader)
#include "tst_launcherconfigurationreader.moc"
