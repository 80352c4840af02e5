#include "platform/cpuidinstruction.h"
#include "platform/linuxsystemsources.h"
#include "support/installationkit.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"
#include "systemsurvey/clientidentifier.h"
#include "systemsurvey/systemsurvey.h"
#include "systemsurvey/systemsurveytojsonconverter.h"
#include "systemsurvey/systemsurveyupload.h"
#include "systemsurvey/systemsurveyuploader.h"
#include "systemsurvey/systemsurveyvalueretriever.h"

#include <QJsonObject>
#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

using namespace systemsurvey;
using testsupport::operator""_qs;

namespace {

// A processor recorded leaf by leaf (EAX, EBX, ECX, EDX bytes); unknown leaves answer zeros.
class TRecordedCpuId : public platform::TCpuIdInstruction {
public:
    platform::TCpuIdRegisters query(quint32 Leaf) const override {
        const QByteArray bytes = m_Leaves.value(Leaf, QByteArray(16, '\0'));
        m_Queried << Leaf;
        const auto word = [&bytes](int Index) {
            return qFromLittleEndian<quint32>(bytes.data() + 4 * Index);
        };
        return {word(0), word(1), word(2), word(3)};
    }
    QMap<quint32, QByteArray> m_Leaves;
    mutable QList<quint32> m_Queried;
};

// The 16 bytes of a leaf whose registers are all zero but the one at Index.
QByteArray leaf(int Index, quint32 Value) {
    QByteArray bytes(16, '\0');
    qToLittleEndian(Value, bytes.data() + 4 * Index);
    return bytes;
}

// A retriever over a fake system tree from "path=content" entries ('/' ends an empty folder).
TSystemSurveyValueRetriever retrieverFor(const QTemporaryDir& Root, const QStringList& Entries = {}) {
    for (const QString& entry : Entries) {
        const QString path = Root.filePath(entry.section(u'=', 0, 0));
        if (!(entry.endsWith(u'/') ? QDir().mkpath(path)
                                   : testsupport::writeBytes(path, entry.section(u'=', 1).toUtf8()))) {
            qFatal("cannot write the fake system tree");
        }
    }
    return TSystemSurveyValueRetriever(std::make_shared<TRecordedCpuId>(),
                                       std::make_shared<platform::TLinuxSystemSources>(Root.path()));
}

// Logical processors as "cpu.package.die.core" entries.
QStringList topology(const QString& Processors) {
    QStringList entries;
    for (const QString& processor : Processors.split(u' ')) {
        const QStringList n = processor.split(u'.');
        const QString folder = u"sys/devices/system/cpu/cpu%1/topology/"_qs.arg(n[0]);
        entries << folder + u"physical_package_id="_qs + n[1] << folder + u"die_id="_qs + n[2]
                << folder + u"core_id="_qs + n[3];
    }
    return entries;
}

} // namespace

class TestSystemSurvey : public QObject {
    Q_OBJECT

private slots:
    void processorFromItsIdentificationInstruction() {
        const quint32 Sse = 1u << 25, Sse2 = 1u << 26, LongMode = 1u << 29, Full = 0x80000008;
        const QString Unknown = u"Unknown Manufacturer|"_qs,
                      NoBrand = u"|Acquiring Brand Name not supported|"_qs;
        // Vendor (EBX, EDX, ECX), brand, top extended leaf, feature bits; "manufacturer|brand|64 SSE SSE2".
        const std::tuple<QByteArray, QByteArray, quint32, quint32, quint32, QString> cases[] = {
            {"GenuineIntel", "   Intel(R) Xeon(R)  CPU \t", Full, Sse | Sse2, LongMode,
             u"Intel|Intel(R) Xeon(R) CPU|111"_qs},
            {"AuthenticAMD", "AMD EPYC", Full, Sse, 0, u"AMD|AMD EPYC|010"_qs},
            {"Vortex86 SoC", QByteArray(48, 'x'), Full, Sse2, 0,
             u" Vortex|"_qs + QString(48, u'x') + u"|001"_qs},
            {"XenVMMXenVMM", QByteArray("Brand\0left-over", 15), 0x80000004, 0, 0, u" Xen HVM|Brand|000"_qs},
            {"Microsoft Hv", "", Full, 0, 0, u"Microsoft Hyper-V or Windows Virtual PC||000"_qs},
            // Exact comparison only; neighbouring bits and bit 29 of leaf 1 mean other features.
            {"genuineintel", "x", Full, (1u << 24) | (1u << 27) | LongMode, 1u << 28 | 1u << 30,
             Unknown + u"x|000"_qs},
            {"SiS SiS SiS!", "x", Full, 0, 0, Unknown + u"x|000"_qs},
            // Leaves beyond the highest extended one hold other data on real processors.
            {"KVMKVMKVMKVM", "x", 0x80000003, 0, LongMode, u"KVM"_qs + NoBrand + u"100"_qs},
            {QByteArray(12, '\0'), "x", 0, 0, LongMode, Unknown.chopped(1) + NoBrand + u"000"_qs}};
        for (const auto& [vendor, brand, highest, edx, extendedEdx, expected] : cases) {
            const auto pCpu = std::make_shared<TRecordedCpuId>();
            pCpu->m_Leaves = {
                {0, leaf(0, 0x16).left(4) + vendor.left(4) + vendor.mid(8, 4) + vendor.mid(4, 4)},
                {1, leaf(3, edx)},
                {0x80000000, leaf(0, highest)},
                {0x80000001, leaf(3, extendedEdx)}};
            for (quint32 part = 0; part < 3; ++part) {
                pCpu->m_Leaves[0x80000002 + part] = brand.leftJustified(48, '\0').mid(16 * part, 16);
            }
            const TCpuInfo cpu =
                TSystemSurveyValueRetriever(pCpu, std::make_shared<platform::TLinuxSystemSources>(u"/-"_qs))
                    .getCpu();
            QCOMPARE(cpu.Manufacturer + u'|' + cpu.BrandName +
                         QString::asprintf("|%d%d%d", cpu.Is64Bit, cpu.Sse, cpu.Sse2),
                     expected);
            QCOMPARE(pCpu->m_Queried.contains(0x80000002), highest >= 0x80000004);
        }
    }

    void processorCounts_data() {
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QString>("counts"); // NUMA nodes, packages, cores, logical processors
        const QString cpu = u"sys/devices/system/cpu/"_qs, node = u"sys/devices/system/node/"_qs;
        QTest::newRow("two packages of two cores with two threads, a memory-only node")
            << QStringList{cpu + u"online=0-7"_qs, node + u"has_cpu=0-1"_qs, node + u"online=0-2"_qs} +
                   topology(u"0.0.0.0 1.0.0.0 2.0.0.1 3.0.0.1 4.1.0.0 5.1.0.0 6.1.0.1 7.1.0.1"_qs)
            << "2 2 4 8";
        QTest::newRow("two dies repeating core numbers, the last processor offline")
            << QStringList{cpu + u"online=0-3"_qs, node + u"online=0"_qs} +
                   topology(u"0.0.0.0 1.0.0.1 2.0.1.0 3.0.1.1 4.0.2.0"_qs)
            << "1 1 4 4";
        // Old kernels: numbered folders only, missing topology, and malformed lists.
        QTest::newRow("no online lists, a processor without topology")
            << QStringList{cpu + u"cpu2/"_qs,   cpu + u"cpufreq/"_qs, node + u"node0/"_qs,
                           node + u"node1/"_qs, node + u"power/"_qs,  cpu + u"online=0-x"_qs} +
                   topology(u"0.0.0.0 1.0.0.1 10.0.0.2"_qs)
            << "2 1 3 4";
        QTest::newRow("nothing at all") << QStringList() << "0 0 0 0";
    }

    void processorCounts() {
        QFETCH(QStringList, tree);
        QFETCH(QString, counts);
        QTemporaryDir root;
        quint64 numa = 9, physical = 9, cores = 9, logical = 9;
        retrieverFor(root, tree).getProcessorCounts(numa, physical, cores, logical);
        QCOMPARE(QString::asprintf("%llu %llu %llu %llu", numa, physical, cores, logical), counts);
    }

    void clockSpeedAndMemoryFromTheKernelsFiles() {
        QTemporaryDir root;
        const auto answers = [&root](const QStringList& Entries) {
            const TSystemSurveyValueRetriever retriever = retrieverFor(root, Entries);
            return qMakePair(retriever.getClockSpeed(), retriever.getMainMemorySize());
        };
        QCOMPARE(answers({}), qMakePair(0.0, quint64(0)));
        // Without scaling, current speeds count; memory beyond 4 GiB must not wrap.
        QCOMPARE(answers({u"sys/devices/system/cpu/online=0-2\n"_qs,
                          u"proc/cpuinfo=processor\t: 0\ncpu MHz\t\t: 2596.118\n\nprocessor\t: 1\n"
                          "cpu MHz\t\t: 3100.5\nmodel name\t: cpu MHz : 9999\n"_qs,
                          u"proc/meminfo=MemFree:  2084448 kB\nMemTotal:       1073741824 kB\n"_qs}),
                 qMakePair(3100.5, quint64(1) << 40));
        // With it, the highest maximum of the online processors (kHz to MHz); an offline one does not count.
        const QString cpu = u"sys/devices/system/cpu/cpu%1/cpufreq/cpuinfo_max_freq=%2\n"_qs;
        QCOMPARE(answers({cpu.arg(0).arg(3400000), cpu.arg(1).arg(4950500), cpu.arg(2).arg(u"garbage"_qs),
                          cpu.arg(7).arg(9000000), u"proc/meminfo=MemTotal: many kB\n"_qs}),
                 qMakePair(4950.5, quint64(0)));
    }

    void graphicsAdaptersFromTheDisplaySubsystem() {
        QTemporaryDir root;
        const QString card0 = u"sys/class/drm/card0/device/"_qs,
                      card1 = u"sys/devices/pci0000:00/drm/card1/"_qs;
        const QStringList tree{
            // A PCI card with memory but no module version; connector and render node are no adapters.
            card0 + u"vendor=0x1002\n"_qs, card0 + u"device=0x73bf\n"_qs,
            card0 + u"uevent=DRIVER=amdgpu\n"_qs, card0 + u"mem_info_vram_total=17163091968\n"_qs,
            u"sys/class/drm/card0-DP-1/status=connected"_qs, u"sys/class/drm/renderD128/dev=226:128"_qs,
            // A card known through its driver link, with a versioned module.
            card1 + u"device/vendor=0x10de\n"_qs, card1 + u"device/device=0x2206\n"_qs,
            u"sys/bus/pci/drivers/nvidia/bind="_qs, u"sys/module/nvidia/version=535.129.03\n"_qs,
            // A firmware frame buffer without PCI ids; cards count in numeric order.
            u"sys/class/drm/card10/device/uevent=DRIVER=simple-framebuffer\n"_qs,
            // The PCI id database, where installed, names vendor and model.
            u"usr/share/hwdata/pci.ids=# comment\n1002  Advanced Micro Devices, Inc.\n\t73a5  Navi 21\n"
            "10de  NVIDIA Corporation\n\t1e07  TU102\n\t\t1043 866a  ROG Strix\n\t2206  GA102\n"_qs};
        retrieverFor(root, tree);
        // The class folder links to the device, as the kernel lays it out.
        QVERIFY(QFile::link(root.filePath(u"sys/bus/pci/drivers/nvidia"_qs),
                            root.filePath(card1 + u"device/driver"_qs)));
        QVERIFY(QFile::link(root.filePath(card1), root.filePath(u"sys/class/drm/card1"_qs)));
        QStringList gpus;
        for (const TGpuInfo& gpu : retrieverFor(root).getGpus()) {
            gpus << gpu.DeviceString +
                        QString::asprintf(" %x:%x %llu ", gpu.VendorId, gpu.DeviceId, gpu.VideoMemorySize) +
                        gpu.DriverVersion;
        }
        QCOMPARE(gpus, (QStringList{u"Advanced Micro Devices, Inc. 1002:73bf 17163091968 "_qs,
                                    u"NVIDIA Corporation GA102 10de:2206 0 535.129.03"_qs,
                                    u"simple-framebuffer 0:0 0 "_qs}));
    }

    void parseIdList() {
        const std::pair<const char*, QList<int>> cases[] = {{"0\n", {0}}, {"0-1,4,6-7\n", {0, 1, 4, 6, 7}},
                                                            {"\n", {}},   {"3-1", {}},
                                                            {"-1", {}},   {"0,a", {}},
                                                            {"0,,2", {}}, {"0-2147483647", {}}};
        for (const auto& [text, ids] : cases) {
            QCOMPARE(platform::TLinuxSystemSources::parseIdList(text), ids);
        }
    }

    void document() {
        // The exact bytes the service receives, members sorted, 64-bit integers, optional ids.
        const TSystemSurvey survey{{{2560, 1440, false, 143}, {1920, 1080, true, 60}},
                                   u"Linux"_qs,
                                   u"Debian GNU/Linux 12"_qs,
                                   u"6.1.0-18-amd64"_qs,
                                   quint64(68719476736),
                                   {u"AMD"_qs, u"AMD Ryzen 9"_qs, true, true, false, 1, 2, 16, 32, 5881.25},
                                   {{u"NVIDIA"_qs, quint64(25757220864), 0x10de, 0x2684, u"550.54.14"_qs},
                                    {u"Arc"_qs, 0, 0x8086, 0x56a0, QString()},
                                    {u"virtual"_qs, 1, 0, 0, u"1.2"_qs}}};
        const QByteArray expected =
            R"j({"clientID":"@ID@","cpu":{"64Bit":true,"NUMANumber":1,"brandName":"AMD Ryzen 9",)j"
            R"j("clockSpeed":5881.25,"coreNumber":16,"logicalCoreNumber":32,"manufacturer":"AMD","physicalNumber":2,)j"
            R"j("sse":true,"sse2":false},"dataType":0,"gpu":[{"deviceId":9860,"deviceString":"NVIDIA",)j"
            R"j("driverVersion":"550.54.14","vendorId":4318,"videoMemorySize":25757220864},)j"
            R"j({"deviceString":"Arc","vendorId":32902,"videoMemorySize":0},{"deviceId":0,"deviceString":)j"
            R"j("virtual","driverVersion":"1.2","videoMemorySize":1}],"mainMemorySize":68719476736,)j"
            R"j("monitors":[{"height":1440,"primary":false,"refreshRate":143,"width":2560},{"height":1080,)j"
            R"j("primary":true,"refreshRate":60,"width":1920}],"operatingSystem":{"baseSystem":"Linux",)j"
            R"j("name":"Debian GNU/Linux 12","release":"6.1.0-18-amd64"}})j";
        QCOMPARE(TSystemSurveyToJsonConverter().convert(survey).toJson(QJsonDocument::Compact),
                 QByteArray(expected).replace("@ID@", clientIdentifier().toLatin1()));
        // An empty survey is still a complete document, without a release.
        const QJsonObject empty = TSystemSurveyToJsonConverter().convert(TSystemSurvey()).object();
        QCOMPARE(
            empty.keys() + empty[u"operatingSystem"_qs].toObject().keys(),
            u"clientID cpu dataType gpu mainMemorySize monitors operatingSystem baseSystem name"_qs.split(
                u' '));
    }

    void clientIdentifierIsASaltedHash() {
        // Worked out independently: SHA-1 over the salt and the addresses as written, in their order.
        QCOMPARE(clientIdentifierFor({}), u"23d3b2ac37391d5d8f08648ffd4c4ea32c31f7a6"_qs);
        QCOMPARE(clientIdentifierFor({u"00:00:00:00:00:00"_qs, QString(), u"52:54:00:12:34:56"_qs, QString(),
                                      u"AA:BB:CC:DD:EE:FF"_qs}),
                 u"71157383ea18dc5f9b958261afcb40be9dddb616"_qs);
        QVERIFY(clientIdentifierFor({u"AA"_qs, u"BB"_qs}) != clientIdentifierFor({u"BB"_qs, u"AA"_qs}));
        QVERIFY(QRegularExpression(u"^[0-9a-f]{40}$"_qs).match(clientIdentifier()).hasMatch());
        QCOMPARE(clientIdentifier(), clientIdentifier());
    }

    // Posting and answers are the uploader's test; here this machine's survey goes out whole.
    void surveyOfThisMachineIsPosted() {
        QVERIFY(!startSystemSurveyUpload(QUrl()) && !startSystemSurveyUpload(QUrl(u"http://[::1"_qs)));
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        server.setAnswer(u"/taken"_qs, testsupport::TScriptedAnswer::ok(R"({"errorCode":0,"id":17})"));
        const std::unique_ptr<TSystemSurveyUploader> pUploader =
            startSystemSurveyUpload(server.url(u"/taken"_qs));
        QSignalSpy finished(pUploader.get(), &TSystemSurveyUploader::finished);
        QVERIFY(finished.wait(10000));
        QVERIFY(finished.first().at(0).toBool());
        const QJsonObject sent =
            QJsonDocument::fromJson(server.requestsFor(u"/taken"_qs).first().body).object();
        QCOMPARE(sent[u"clientID"_qs].toString() + sent[u"operatingSystem"_qs][u"baseSystem"_qs].toString(),
                 clientIdentifier() + u"Linux"_qs);
        QCOMPARE(sent.keys(), TSystemSurveyToJsonConverter().convert(TSystemSurvey()).object().keys());
    }
};

LAUNCHER_TEST(TestSystemSurvey)
#include "tst_systemsurvey.moc"
