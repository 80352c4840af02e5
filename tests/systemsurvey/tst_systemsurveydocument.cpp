#include "shared/upload/jsondocumenthttppostsender.h"
#include "support/scriptedhttpserver.h"
#include "systemsurvey/clientidentifier.h"
#include "systemsurvey/systemsurvey.h"
#include "systemsurvey/systemsurveyasjsondocumentcreator.h"
#include "systemsurvey/systemsurveycreator.h"
#include "systemsurvey/systemsurveytojsonconverter.h"
#include "systemsurvey/systemsurveyupload.h"
#include "systemsurvey/systemsurveyuploader.h"
#include "systemsurvey/systemsurveyvalueretriever.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStringList>
#include <QTest>

#include <memory>

using namespace systemsurvey;
using testsupport::TScriptedAnswer;
using testsupport::TScriptedHttpServer;

namespace {

// A machine with fixed answers that notes which questions were asked.
class TFixedRetriever : public TSystemSurveyValueRetriever {
public:
    std::vector<TMonitorInfo> getMonitors() const override {
        m_Calls.append(QStringLiteral("monitors"));
        return {{2560, 1440, false, 143}, {1920, 1080, true, 60}};
    }
    TCpuInfo getCpu() const override {
        m_Calls.append(QStringLiteral("cpu"));
        TCpuInfo cpu;
        cpu.Manufacturer = QStringLiteral("AMD");
        cpu.BrandName = QStringLiteral("AMD Ryzen 9 7950X 16-Core Processor");
        cpu.Is64Bit = true;
        cpu.Sse = true;
        cpu.Sse2 = true;
        cpu.NumaNodeCount = 1;
        cpu.PhysicalProcessorCount = 1;
        cpu.CoreCount = 16;
        cpu.LogicalProcessorCount = 32;
        cpu.ClockSpeed = 5881.25;
        return cpu;
    }

    void getOperatingSystem(QString& BaseSystem, QString& Name, QString& Release) const override {
        m_Calls.append(QStringLiteral("operatingSystem"));
        BaseSystem = QStringLiteral("Linux");
        Name = QStringLiteral("Debian GNU/Linux 12 (bookworm)");
        Release = QStringLiteral("6.1.0-18-amd64");
    }
    quint64 getMainMemorySize() const override {
        m_Calls.append(QStringLiteral("memory"));
        return quint64(68719476736);
    }
    std::vector<TGpuInfo> getGpus() const override {
        m_Calls.append(QStringLiteral("gpus"));
        return {{QStringLiteral("NVIDIA Corporation AD102 [GeForce RTX 4090]"), quint64(25757220864), 0x10de,
                 0x2684, QStringLiteral("550.54.14")},
                {QStringLiteral("simple-framebuffer"), 0, 0, 0, QString()}};
    }
    QStringList calls() const { return m_Calls; }

private:
    mutable QStringList m_Calls;
};

TSystemSurvey sampleSurvey() {
    return TSystemSurveyCreator(std::make_shared<TFixedRetriever>()).create();
}

QJsonObject convert(const TSystemSurvey& Survey) {
    return TSystemSurveyToJsonConverter().convert(Survey).object();
}

QString thisMachinesIdentifier() {
    QStringList addresses;
    for (const QNetworkInterface& networkInterface : QNetworkInterface::allInterfaces()) {
        addresses.append(networkInterface.hardwareAddress());
    }
    return clientIdentifierFor(addresses);
}

std::unique_ptr<TSystemSurveyUploader> fixedUploader(const QUrl& Url) {
    return std::make_unique<TSystemSurveyUploader>(
        Url,
        std::make_shared<TSystemSurveyAsJsonDocumentCreator>(
            std::make_shared<TSystemSurveyCreator>(std::make_shared<TFixedRetriever>()),
            std::make_shared<TSystemSurveyToJsonConverter>()),
        std::make_shared<shared::TJsonDocumentHttpPostSender>());
}

} // namespace

class TestSystemSurveyDocument : public QObject {
    Q_OBJECT
private slots:
    void creatorAsksInOrder() {
        auto pRetriever = std::make_shared<TFixedRetriever>();
        const TSystemSurvey survey = TSystemSurveyCreator(pRetriever).create();
        QCOMPARE(pRetriever->calls(),
                 QStringList({QStringLiteral("monitors"), QStringLiteral("operatingSystem"),
                              QStringLiteral("memory"), QStringLiteral("cpu"), QStringLiteral("gpus")}));
        QCOMPARE(survey.Monitors.size(), size_t(2));
        QCOMPARE(survey.OperatingSystemRelease, QStringLiteral("6.1.0-18-amd64"));
        QCOMPARE(survey.Cpu.LogicalProcessorCount, quint64(32));
        QCOMPARE(survey.Gpus.size(), size_t(2));
    }

    void wholeDocument() {
        // The exact bytes the service receives: members in sorted order, integers
        // without fractions, the clock speed as a number with its fraction.
        const QByteArray expected =
            QByteArray(
                R"j({"clientID":"@ID@","cpu":{"64Bit":true,"NUMANumber":1,"brandName":"AMD Ryzen 9 7950X 16-Core Processor",)j"
                R"j("clockSpeed":5881.25,"coreNumber":16,"logicalCoreNumber":32,"manufacturer":"AMD","physicalNumber":1,)j"
                R"j("sse":true,"sse2":true},"dataType":0,"gpu":[{"deviceId":9860,"deviceString":)j"
                R"j("NVIDIA Corporation AD102 [GeForce RTX 4090]","driverVersion":"550.54.14","vendorId":4318,)j"
                R"j("videoMemorySize":25757220864},{"deviceString":"simple-framebuffer","videoMemorySize":0}],)j"
                R"j("mainMemorySize":68719476736,"monitors":[{"height":1440,"primary":false,"refreshRate":143,)j"
                R"j("width":2560},{"height":1080,"primary":true,"refreshRate":60,"width":1920}],)j"
                R"j("operatingSystem":{"baseSystem":"Linux","name":"Debian GNU/Linux 12 (bookworm)",)j"
                R"j("release":"6.1.0-18-amd64"}})j")
                .replace("@ID@", thisMachinesIdentifier().toLatin1());
        const auto pDocumentCreator = std::make_shared<TSystemSurveyAsJsonDocumentCreator>(
            std::make_shared<TSystemSurveyCreator>(std::make_shared<TFixedRetriever>()),
            std::make_shared<TSystemSurveyToJsonConverter>());
        QCOMPARE(pDocumentCreator->create().toJson(QJsonDocument::Compact), expected);
    }

    void releaseOnlyWhenPresent() {
        TSystemSurvey survey = sampleSurvey();
        QCOMPARE(convert(survey)
                     .value(QStringLiteral("operatingSystem"))
                     .toObject()
                     .value(QStringLiteral("release")),
                 QJsonValue(QStringLiteral("6.1.0-18-amd64")));
        survey.OperatingSystemRelease.clear();
        const QJsonObject operatingSystem =
            convert(survey).value(QStringLiteral("operatingSystem")).toObject();
        QVERIFY(!operatingSystem.contains(QStringLiteral("release")));
        QCOMPARE(operatingSystem.keys(), QStringList({QStringLiteral("baseSystem"), QStringLiteral("name")}));
    }

    void gpuMemberRules_data() {
        QTest::addColumn<quint32>("vendorId");
        QTest::addColumn<quint32>("deviceId");
        QTest::addColumn<QString>("driverVersion");
        QTest::addColumn<QStringList>("members");
        const QString base = QStringLiteral("deviceString,videoMemorySize");
        QTest::newRow("nothing known") << 0u << 0u << QString() << base.split(QLatin1Char(','));
        const QStringList withVendor =
            QStringLiteral("deviceString,vendorId,videoMemorySize").split(QLatin1Char(','));
        QTest::newRow("vendor only") << 0x8086u << 0u << QString() << withVendor;
        // A device id without a driver version is not sent.
        QTest::newRow("device id without driver version") << 0x8086u << 0x56a0u << QString() << withVendor;
        // With a driver version the device id is sent even when it is 0.
        QTest::newRow("driver version, device id 0")
            << 0u << 0u << QStringLiteral("1.2.3.4")
            << QStringLiteral("deviceId,deviceString,driverVersion,videoMemorySize").split(QLatin1Char(','));
        QTest::newRow("everything") << 0x1002u << 0x744cu << QStringLiteral("31.0.24027.1012")
                                    << QStringLiteral(
                                           "deviceId,deviceString,driverVersion,vendorId,videoMemorySize")
                                           .split(QLatin1Char(','));
    }

    void gpuMemberRules() {
        QFETCH(quint32, vendorId);
        QFETCH(quint32, deviceId);
        QFETCH(QString, driverVersion);
        QFETCH(QStringList, members);
        TSystemSurvey survey;
        survey.Gpus.push_back({QStringLiteral("Adapter"), 1024, vendorId, deviceId, driverVersion});
        const QJsonObject gpu = convert(survey).value(QStringLiteral("gpu")).toArray().at(0).toObject();
        QCOMPARE(gpu.keys(), members);
        if (gpu.contains(QStringLiteral("vendorId"))) {
            QCOMPARE(gpu.value(QStringLiteral("vendorId")).toInt(), int(vendorId));
        }
        if (gpu.contains(QStringLiteral("deviceId"))) {
            QCOMPARE(gpu.value(QStringLiteral("deviceId")).toInt(), int(deviceId));
            QCOMPARE(gpu.value(QStringLiteral("driverVersion")).toString(), driverVersion);
        }
    }

    void largeValuesKeepTheirSize() {
        // An empty survey is still a complete document.
        const QJsonObject empty = convert(TSystemSurvey());
        QCOMPARE(empty.keys(),
                 QStringList({QStringLiteral("clientID"), QStringLiteral("cpu"), QStringLiteral("dataType"),
                              QStringLiteral("gpu"), QStringLiteral("mainMemorySize"),
                              QStringLiteral("monitors"), QStringLiteral("operatingSystem")}));
        QCOMPARE(empty.value(QStringLiteral("cpu")).toObject().size(), 10);
        QVERIFY(empty.value(QStringLiteral("gpu")).toArray().isEmpty());

        // Memory sizes past 32 bits arrive whole.
        TSystemSurvey survey;
        survey.MainMemorySize = (quint64(1) << 40) + 12345;
        survey.Gpus.push_back({QStringLiteral("Big"), (quint64(1) << 35) + 1, 0, 0, QString()});
        const QByteArray text = TSystemSurveyToJsonConverter().convert(survey).toJson(QJsonDocument::Compact);
        QVERIFY(text.contains("\"mainMemorySize\":1099511640121"));
        QVERIFY(text.contains("\"videoMemorySize\":34359738369"));
    }

    void clientIdentifier() {
        // Worked out independently: SHA-1 over the salt and the addresses as written.
        QCOMPARE(clientIdentifierFor({}), QStringLiteral("23d3b2ac37391d5d8f08648ffd4c4ea32c31f7a6"));
        QCOMPARE(clientIdentifierFor({QStringLiteral("00:00:00:00:00:00"), QString(),
                                      QStringLiteral("52:54:00:12:34:56"), QString(),
                                      QStringLiteral("AA:BB:CC:DD:EE:FF")}),
                 QStringLiteral("71157383ea18dc5f9b958261afcb40be9dddb616"));
        // The order of the interfaces matters.
        QVERIFY(
            clientIdentifierFor({QStringLiteral("AA:BB:CC:DD:EE:FF"), QStringLiteral("52:54:00:12:34:56")}) !=
            clientIdentifierFor({QStringLiteral("52:54:00:12:34:56"), QStringLiteral("AA:BB:CC:DD:EE:FF")}));

        const QString identifier = systemsurvey::clientIdentifier();
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{40}$")).match(identifier).hasMatch());
        QCOMPARE(identifier, thisMachinesIdentifier());
        QCOMPARE(systemsurvey::clientIdentifier(), identifier);
        QCOMPARE(convert(TSystemSurvey()).value(QStringLiteral("clientID")).toString(), identifier);
    }

    void uploaderPostsTheSurvey() {
        TScriptedHttpServer server;
        QVERIFY(server.start());
        server.setAnswer(QStringLiteral("/hardware/survey"),
                         TScriptedAnswer::ok(R"({"errorCode":0,"id":17})"));
        const std::unique_ptr<TSystemSurveyUploader> pUploader =
            fixedUploader(server.url(QStringLiteral("/hardware/survey?game=vantor")));
        QSignalSpy finished(pUploader.get(), &TSystemSurveyUploader::finished);
        pUploader->upload();
        QVERIFY(finished.wait(10000));

        QCOMPARE(finished.first().at(0).toBool(), true);
        QCOMPARE(finished.first().at(1).value<QJsonDocument>().object().value(QStringLiteral("id")).toInt(),
                 17);
        QCOMPARE(server.totalRequestCount(), 1);
        const testsupport::TRecordedRequest request = server.requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/hardware/survey?game=vantor"));
        QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
        QCOMPARE(request.headers.value("content-disposition"), QByteArray("form-data; name=\"metadata\""));
        QCOMPARE(request.body,
                 TSystemSurveyToJsonConverter().convert(sampleSurvey()).toJson(QJsonDocument::Compact));
    }

    void surveyOfThisMachineReachesTheService() {
        TScriptedHttpServer server;
        QVERIFY(server.start());
        server.setAnswer(QStringLiteral("/survey"),
                         TScriptedAnswer::ok(R"({"errorCode":5,"errorMessage":"Known"})"));
        const std::unique_ptr<TSystemSurveyUploader> pUploader =
            startSystemSurveyUpload(server.url(QStringLiteral("/survey")));
        QVERIFY(pUploader);
        QSignalSpy finished(pUploader.get(), &TSystemSurveyUploader::finished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.first().at(0).toBool(), false);
        QCOMPARE(pUploader->lastErrorCode(), 5);
        QCOMPARE(pUploader->lastErrorMessage(), QStringLiteral("Known"));

        QCOMPARE(server.totalRequestCount(), 1);
        QJsonParseError parseError;
        const QJsonObject sent =
            QJsonDocument::fromJson(server.requests().first().body, &parseError).object();
        QCOMPARE(parseError.error, QJsonParseError::NoError);
        QCOMPARE(sent.value(QStringLiteral("dataType")), QJsonValue(0));
        QCOMPARE(sent.value(QStringLiteral("clientID")).toString(), systemsurvey::clientIdentifier());
        const QJsonObject operatingSystem = sent.value(QStringLiteral("operatingSystem")).toObject();
        QCOMPARE(operatingSystem.value(QStringLiteral("baseSystem")).toString(), QStringLiteral("Linux"));
        QVERIFY(!operatingSystem.value(QStringLiteral("release")).toString().isEmpty());
        QVERIFY(sent.value(QStringLiteral("mainMemorySize")).toDouble() > 0);
        QVERIFY(
            sent.value(QStringLiteral("cpu")).toObject().value(QStringLiteral("logicalCoreNumber")).toInt() >=
            1);
        QVERIFY(!sent.value(QStringLiteral("monitors")).toArray().isEmpty());
        QVERIFY(sent.value(QStringLiteral("gpu")).isArray());
    }

    void noUploadWithoutAValidAddress() {
        QVERIFY(!startSystemSurveyUpload(QUrl()));
        QVERIFY(!startSystemSurveyUpload(QUrl(QStringLiteral("http://[::1"))));
    }
};

QTEST_MAIN(TestSystemSurveyDocument)
#include "tst_systemsurveydocument.moc"
