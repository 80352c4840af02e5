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
#include "support/stringliteral.h"
#include "support/testregistry.h"

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
using testsupport::operator""_qs;

namespace {

// A machine with fixed answers that notes which questions were asked.
class TFixedRetriever : public TSystemSurveyValueRetriever {
public:
    std::vector<TMonitorInfo> getMonitors() const override {
        m_Calls.append(u"monitors"_qs);
        return {{2560, 1440, false, 143}, {1920, 1080, true, 60}};
    }
    TCpuInfo getCpu() const override {
        m_Calls.append(u"cpu"_qs);
        TCpuInfo cpu;
        cpu.Manufacturer = u"AMD"_qs;
        cpu.BrandName = u"AMD Ryzen 9 7950X 16-Core Processor"_qs;
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
        m_Calls.append(u"operatingSystem"_qs);
        BaseSystem = u"Linux"_qs;
        Name = u"Debian GNU/Linux 12 (bookworm)"_qs;
        Release = u"6.1.0-18-amd64"_qs;
    }
    quint64 getMainMemorySize() const override {
        m_Calls.append(u"memory"_qs);
        return quint64(68719476736);
    }
    std::vector<TGpuInfo> getGpus() const override {
        m_Calls.append(u"gpus"_qs);
        return {{u"NVIDIA Corporation AD102 [GeForce RTX 4090]"_qs, quint64(25757220864), 0x10de, 0x2684,
                 u"550.54.14"_qs},
                {u"simple-framebuffer"_qs, 0, 0, 0, QString()}};
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
                 QStringList({u"monitors"_qs, u"operatingSystem"_qs, u"memory"_qs, u"cpu"_qs, u"gpus"_qs}));
        QCOMPARE(survey.Monitors.size(), size_t(2));
        QCOMPARE(survey.OperatingSystemRelease, u"6.1.0-18-amd64"_qs);
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
        QCOMPARE(convert(survey).value(u"operatingSystem"_qs).toObject().value(u"release"_qs),
                 QJsonValue(u"6.1.0-18-amd64"_qs));
        survey.OperatingSystemRelease.clear();
        const QJsonObject operatingSystem = convert(survey).value(u"operatingSystem"_qs).toObject();
        QVERIFY(!operatingSystem.contains(u"release"_qs));
        QCOMPARE(operatingSystem.keys(), QStringList({u"baseSystem"_qs, u"name"_qs}));
    }

    void gpuMemberRules_data() {
        QTest::addColumn<quint32>("vendorId");
        QTest::addColumn<quint32>("deviceId");
        QTest::addColumn<QString>("driverVersion");
        QTest::addColumn<QStringList>("members");
        const QString base = u"deviceString,videoMemorySize"_qs;
        QTest::newRow("nothing known") << 0u << 0u << QString() << base.split(u',');
        const QStringList withVendor = u"deviceString,vendorId,videoMemorySize"_qs.split(u',');
        QTest::newRow("vendor only") << 0x8086u << 0u << QString() << withVendor;
        // A device id without a driver version is not sent.
        QTest::newRow("device id without driver version") << 0x8086u << 0x56a0u << QString() << withVendor;
        // With a driver version the device id is sent even when it is 0.
        QTest::newRow("driver version, device id 0")
            << 0u << 0u << u"1.2.3.4"_qs
            << u"deviceId,deviceString,driverVersion,videoMemorySize"_qs.split(u',');
        QTest::newRow("everything")
            << 0x1002u << 0x744cu << u"31.0.24027.1012"_qs
            << u"deviceId,deviceString,driverVersion,vendorId,videoMemorySize"_qs.split(u',');
    }

    void gpuMemberRules() {
        QFETCH(quint32, vendorId);
        QFETCH(quint32, deviceId);
        QFETCH(QString, driverVersion);
        QFETCH(QStringList, members);
        TSystemSurvey survey;
        survey.Gpus.push_back({u"Adapter"_qs, 1024, vendorId, deviceId, driverVersion});
        const QJsonObject gpu = convert(survey).value(u"gpu"_qs).toArray().at(0).toObject();
        QCOMPARE(gpu.keys(), members);
        if (gpu.contains(u"vendorId"_qs)) {
            QCOMPARE(gpu.value(u"vendorId"_qs).toInt(), int(vendorId));
        }
        if (gpu.contains(u"deviceId"_qs)) {
            QCOMPARE(gpu.value(u"deviceId"_qs).toInt(), int(deviceId));
            QCOMPARE(gpu.value(u"driverVersion"_qs).toString(), driverVersion);
        }
    }

    void largeValuesKeepTheirSize() {
        // An empty survey is still a complete document.
        const QJsonObject empty = convert(TSystemSurvey());
        QCOMPARE(empty.keys(), QStringList({u"clientID"_qs, u"cpu"_qs, u"dataType"_qs, u"gpu"_qs,
                                            u"mainMemorySize"_qs, u"monitors"_qs, u"operatingSystem"_qs}));
        QCOMPARE(empty.value(u"cpu"_qs).toObject().size(), 10);
        QVERIFY(empty.value(u"gpu"_qs).toArray().isEmpty());

        // Memory sizes past 32 bits arrive whole.
        TSystemSurvey survey;
        survey.MainMemorySize = (quint64(1) << 40) + 12345;
        survey.Gpus.push_back({u"Big"_qs, (quint64(1) << 35) + 1, 0, 0, QString()});
        const QByteArray text = TSystemSurveyToJsonConverter().convert(survey).toJson(QJsonDocument::Compact);
        QVERIFY(text.contains("\"mainMemorySize\":1099511640121"));
        QVERIFY(text.contains("\"videoMemorySize\":34359738369"));
    }

    void clientIdentifier() {
        // Worked out independently: SHA-1 over the salt and the addresses as written.
        QCOMPARE(clientIdentifierFor({}), u"23d3b2ac37391d5d8f08648ffd4c4ea32c31f7a6"_qs);
        QCOMPARE(clientIdentifierFor({u"00:00:00:00:00:00"_qs, QString(), u"52:54:00:12:34:56"_qs, QString(),
                                      u"AA:BB:CC:DD:EE:FF"_qs}),
                 u"71157383ea18dc5f9b958261afcb40be9dddb616"_qs);
        // The order of the interfaces matters.
        QVERIFY(clientIdentifierFor({u"AA:BB:CC:DD:EE:FF"_qs, u"52:54:00:12:34:56"_qs}) !=
                clientIdentifierFor({u"52:54:00:12:34:56"_qs, u"AA:BB:CC:DD:EE:FF"_qs}));

        const QString identifier = systemsurvey::clientIdentifier();
        QVERIFY(QRegularExpression(u"^[0-9a-f]{40}$"_qs).match(identifier).hasMatch());
        QCOMPARE(identifier, thisMachinesIdentifier());
        QCOMPARE(systemsurvey::clientIdentifier(), identifier);
        QCOMPARE(convert(TSystemSurvey()).value(u"clientID"_qs).toString(), identifier);
    }

    void uploaderPostsTheSurvey() {
        TScriptedHttpServer server;
        QVERIFY(server.start());
        server.setAnswer(u"/hardware/survey"_qs, TScriptedAnswer::ok(R"({"errorCode":0,"id":17})"));
        const std::unique_ptr<TSystemSurveyUploader> pUploader =
            fixedUploader(server.url(u"/hardware/survey?game=vantor"_qs));
        QSignalSpy finished(pUploader.get(), &TSystemSurveyUploader::finished);
        pUploader->upload();
        QVERIFY(finished.wait(10000));

        QCOMPARE(finished.first().at(0).toBool(), true);
        QCOMPARE(finished.first().at(1).value<QJsonDocument>().object().value(u"id"_qs).toInt(), 17);
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
        server.setAnswer(u"/survey"_qs, TScriptedAnswer::ok(R"({"errorCode":5,"errorMessage":"Known"})"));
        const std::unique_ptr<TSystemSurveyUploader> pUploader =
            startSystemSurveyUpload(server.url(u"/survey"_qs));
        QVERIFY(pUploader);
        QSignalSpy finished(pUploader.get(), &TSystemSurveyUploader::finished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.first().at(0).toBool(), false);
        QCOMPARE(pUploader->lastErrorCode(), 5);
        QCOMPARE(pUploader->lastErrorMessage(), u"Known"_qs);

        QCOMPARE(server.totalRequestCount(), 1);
        QJsonParseError parseError;
        const QJsonObject sent =
            QJsonDocument::fromJson(server.requests().first().body, &parseError).object();
        QCOMPARE(parseError.error, QJsonParseError::NoError);
        QCOMPARE(sent.value(u"dataType"_qs), QJsonValue(0));
        QCOMPARE(sent.value(u"clientID"_qs).toString(), systemsurvey::clientIdentifier());
        const QJsonObject operatingSystem = sent.value(u"operatingSystem"_qs).toObject();
        QCOMPARE(operatingSystem.value(u"baseSystem"_qs).toString(), u"Linux"_qs);
        QVERIFY(!operatingSystem.value(u"release"_qs).toString().isEmpty());
        QVERIFY(sent.value(u"mainMemorySize"_qs).toDouble() > 0);
        QVERIFY(sent.value(u"cpu"_qs).toObject().value(u"logicalCoreNumber"_qs).toInt() >= 1);
        QVERIFY(!sent.value(u"monitors"_qs).toArray().isEmpty());
        QVERIFY(sent.value(u"gpu"_qs).isArray());
    }

    void noUploadWithoutAValidAddress() {
        QVERIFY(!startSystemSurveyUpload(QUrl()));
        QVERIFY(!startSystemSurveyUpload(QUrl(u"http://[::1"_qs)));
    }
};

LAUNCHER_TEST(TestSystemSurveyDocument)
#include "tst_systemsurveydocument.moc"
