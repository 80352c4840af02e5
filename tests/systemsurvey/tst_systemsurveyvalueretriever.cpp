#include "platform/cpuidinstruction.h"
#include "platform/linuxsystemsources.h"
#include "systemsurvey/systemsurveyvalueretriever.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMap>
#include <QScreen>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/sysinfo.h>
#include <unistd.h>

using namespace systemsurvey;
using platform::TCpuIdRegisters;
using testsupport::operator""_qs;

namespace {

// A processor recorded leaf by leaf; leaves it does not know answer zeros.
class TRecordedCpuId : public platform::TCpuIdInstruction {
public:
    TCpuIdRegisters query(quint32 Leaf) const override {
        m_QueriedLeaves.append(Leaf);
        return m_Leaves.value(Leaf);
    }

    void setLeaf(quint32 Leaf, const TCpuIdRegisters& Registers) { m_Leaves.insert(Leaf, Registers); }
    QList<quint32> queriedLeaves() const { return m_QueriedLeaves; }

private:
    QMap<quint32, TCpuIdRegisters> m_Leaves;
    mutable QList<quint32> m_QueriedLeaves;
};

quint32 registerFromText(const QByteArray& Text) {
    quint32 value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(Text.at(i));
    }
    return value;
}

// The processor lays out its vendor text as EBX, EDX, ECX of leaf 0.
TCpuIdRegisters vendorLeaf(const QByteArray& VendorText) {
    TCpuIdRegisters registers;
    registers.Eax = 0x16;
    registers.Ebx = registerFromText(VendorText.mid(0, 4));
    registers.Edx = registerFromText(VendorText.mid(4, 4));
    registers.Ecx = registerFromText(VendorText.mid(8, 4));
    return registers;
}

// A processor with the given vendor, 48 brand bytes and feature bits.
std::shared_ptr<TRecordedCpuId> recordedCpu(const QByteArray& VendorText, QByteArray BrandBytes,
                                            quint32 HighestExtendedLeaf = 0x80000008, quint32 FeatureEdx = 0,
                                            quint32 ExtendedFeatureEdx = 0) {
    auto pCpu = std::make_shared<TRecordedCpuId>();
    pCpu->setLeaf(0, vendorLeaf(VendorText));
    TCpuIdRegisters highest;
    highest.Eax = HighestExtendedLeaf;
    pCpu->setLeaf(0x80000000, highest);
    TCpuIdRegisters features;
    features.Edx = FeatureEdx;
    pCpu->setLeaf(1, features);
    TCpuIdRegisters extendedFeatures;
    extendedFeatures.Edx = ExtendedFeatureEdx;
    pCpu->setLeaf(0x80000001, extendedFeatures);
    if (BrandBytes.size() > 48) {
        qFatal("A brand string has at most 48 bytes");
    }
    BrandBytes = BrandBytes.leftJustified(48, '\0');
    for (int leaf = 0; leaf < 3; ++leaf) {
        const QByteArray part = BrandBytes.mid(leaf * 16, 16);
        TCpuIdRegisters brand;
        brand.Eax = registerFromText(part.mid(0, 4));
        brand.Ebx = registerFromText(part.mid(4, 4));
        brand.Ecx = registerFromText(part.mid(8, 4));
        brand.Edx = registerFromText(part.mid(12, 4));
        pCpu->setLeaf(0x80000002 + leaf, brand);
    }
    return pCpu;
}

// Writes a file of a fake system tree, creating its folders.
void writeFile(const QString& Root, const QString& Relative, const QByteArray& Content) {
    const QString path = QDir(Root).filePath(Relative);
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(Content), qint64(Content.size()));
}

// A fake system tree from "path=content" entries; an entry ending in '/' is an empty folder.
void makeTree(const QString& Root, const QStringList& Entries) {
    for (const QString& entry : Entries) {
        if (entry.endsWith(u'/')) {
            QVERIFY(QDir(Root).mkpath(entry));
        } else {
            writeFile(Root, entry.section(u'=', 0, 0), entry.section(u'=', 1).toUtf8());
        }
    }
}

// A logical processor with its place in the topology.
QStringList cpuTopology(int Cpu, int Package, int Die, int Core) {
    const QString topology = u"sys/devices/system/cpu/cpu%1/topology/"_qs.arg(Cpu);
    return {topology + u"physical_package_id=%1\n"_qs.arg(Package), topology + u"die_id=%1\n"_qs.arg(Die),
            topology + u"core_id=%1\n"_qs.arg(Core)};
}

TSystemSurveyValueRetriever retrieverFor(const QString& Root) {
    return TSystemSurveyValueRetriever(std::make_shared<TRecordedCpuId>(),
                                       std::make_shared<platform::TLinuxSystemSources>(Root));
}

QByteArray procCpuInfoValue(const QByteArray& Key) {
    QFile file(u"/proc/cpuinfo"_qs);
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray();
    }
    for (const QByteArray& line : file.readAll().split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed() == Key) {
            return line.mid(colon + 1).trimmed();
        }
    }
    return QByteArray();
}

// Stands in for the processor counts and the clock speed, to see that the
// processor answer takes them from these operations.
class TFixedCountsRetriever : public TSystemSurveyValueRetriever {
public:
    using TSystemSurveyValueRetriever::TSystemSurveyValueRetriever;
    void getProcessorCounts(quint64& Numa, quint64& Physical, quint64& Cores,
                            quint64& Logical) const override {
        Numa = 2;
        Physical = 3;
        Cores = 5;
        Logical = 7;
    }
    double getClockSpeed() const override { return 1234.5; }
};

} // namespace

class TestSystemSurveyValueRetriever : public QObject {
    Q_OBJECT
private slots:
    void manufacturerFromVendorText_data() {
        QTest::addColumn<QByteArray>("vendorText");
        QTest::addColumn<QString>("manufacturer");
        const QList<QPair<const char*, const char*>> table = {
            {"AMDisbetter!", "AMD"},
            {"AuthenticAMD", "AMD"},
            {"CentaurHauls", "Centaur"},
            {"CyrixInstead", "Cyrix"},
            {"GenuineIntel", "Intel"},
            {"TransmetaCPU", "Transmeta"},
            {"GenuineTMx86", "Transmeta"},
            {"Geode by NSC", "National Semiconductor"},
            {"NexGenDriven", "NexGen"},
            {"RiseRiseRise", "Rise"},
            {"SiS SiS SiS ", "SiS"},
            {"UMC UMC UMC ", "UMC"},
            {"VIA VIA VIA ", "VIA"},
            {"Vortex86 SoC", " Vortex"},
            {"KVMKVMKVMKVM", "KVM"},
            {"Microsoft Hv", "Microsoft Hyper-V or Windows Virtual PC"},
            {"VMwareVMware", "VMware"},
            {"XenVMMXenVMM", " Xen HVM"},
            // Exact comparison only: case, a trailing blank and near misses are unknown.
            {"genuineintel", "Unknown Manufacturer"},
            {"SiS SiS SiS!", "Unknown Manufacturer"},
            {"HygonGenuine", "Unknown Manufacturer"},
            {"AuthenticAMX", "Unknown Manufacturer"},
        };
        for (const auto& row : table) {
            QTest::newRow(row.first) << QByteArray(row.first) << QString::fromLatin1(row.second);
        }
        QTest::newRow("all zero registers") << QByteArray(12, '\0') << u"Unknown Manufacturer"_qs;
    }

    void manufacturerFromVendorText() {
        QFETCH(QByteArray, vendorText);
        QFETCH(QString, manufacturer);
        QCOMPARE(TSystemSurveyValueRetriever::manufacturerFromVendorText(vendorText), manufacturer);
        // The same through the instruction's registers, which hold the text as EBX, EDX, ECX.
        TSystemSurveyValueRetriever retriever(
            recordedCpu(vendorText, "x"), std::make_shared<platform::TLinuxSystemSources>(u"/nowhere"_qs));
        QCOMPARE(retriever.getCpu().Manufacturer, manufacturer);
    }

    void brandName_data() {
        QTest::addColumn<QByteArray>("brandBytes");
        QTest::addColumn<QString>("brandName");
        QTest::newRow("leading blanks") << QByteArray("       Intel(R) Xeon(R) CPU E5-2670 0 @ 2.60GHz")
                                        << u"Intel(R) Xeon(R) CPU E5-2670 0 @ 2.60GHz"_qs;
        QTest::newRow("trailing and inner blanks")
            << QByteArray("AMD Ryzen 7 5800X 8-Core Processor             ")
            << u"AMD Ryzen 7 5800X 8-Core Processor"_qs;
        QTest::newRow("runs of blanks and tabs")
            << QByteArray("AMD  EPYC \t 7B13   64-Core") << u"AMD EPYC 7B13 64-Core"_qs;
        QTest::newRow("all 48 bytes used") << QByteArray("0123456789abcdef0123456789abcdef0123456789abcdef")
                                           << u"0123456789abcdef0123456789abcdef0123456789abcdef"_qs;
        QTest::newRow("text after the terminator is ignored")
            << (QByteArray("Brand") + QByteArray(1, '\0') + QByteArray("left-over bytes")) << u"Brand"_qs;
        QTest::newRow("empty") << QByteArray() << QString();
    }

    void brandName() {
        QFETCH(QByteArray, brandBytes);
        QFETCH(QString, brandName);
        TSystemSurveyValueRetriever retriever(
            recordedCpu("GenuineIntel", brandBytes),
            std::make_shared<platform::TLinuxSystemSources>(u"/nowhere"_qs));
        QCOMPARE(retriever.getCpu().BrandName, brandName);
    }

    void brandNameNeedsAllThreeExtendedLeaves() {
        const auto sources = std::make_shared<platform::TLinuxSystemSources>(u"/nowhere"_qs);
        for (const quint32 highest : {0u, 0x80000001u, 0x80000003u}) {
            auto pCpu = recordedCpu("GenuineIntel", "Intel(R) Core(TM) i5", highest, 0, 1u << 29);
            const TCpuInfo cpu = TSystemSurveyValueRetriever(pCpu, sources).getCpu();
            QCOMPARE(cpu.BrandName, u"Acquiring Brand Name not supported"_qs);
            // Leaves beyond the highest one hold other data on real processors; they are not read.
            QVERIFY(!pCpu->queriedLeaves().contains(0x80000002));
            QVERIFY(!pCpu->queriedLeaves().contains(0x80000004));
            QCOMPARE(cpu.Is64Bit, highest >= 0x80000001u);
        }
        auto pCpu = recordedCpu("GenuineIntel", "Intel(R) Core(TM) i5", 0x80000004);
        QCOMPARE(TSystemSurveyValueRetriever(pCpu, sources).getCpu().BrandName, u"Intel(R) Core(TM) i5"_qs);
    }

    void featureBits() {
        const auto sources = std::make_shared<platform::TLinuxSystemSources>(u"/nowhere"_qs);
        struct TCase {
            quint32 FeatureEdx;
            quint32 ExtendedEdx;
            bool Sse;
            bool Sse2;
            bool Is64Bit;
        };
        const TCase cases[] = {
            {0, 0, false, false, false},
            {1u << 25, 0, true, false, false},
            {1u << 26, 0, false, true, false},
            {(1u << 25) | (1u << 26), 1u << 29, true, true, true},
            // Neighbouring bits mean other features.
            {(1u << 24) | (1u << 27), (1u << 28) | (1u << 30), false, false, false},
            // Bit 29 of leaf 1 is not the long mode bit.
            {1u << 29, 0, false, false, false},
            {0xFFFFFFFFu, 0xFFFFFFFFu, true, true, true},
        };
        for (const TCase& c : cases) {
            const TCpuInfo cpu =
                TSystemSurveyValueRetriever(
                    recordedCpu("AuthenticAMD", "AMD", 0x80000008, c.FeatureEdx, c.ExtendedEdx), sources)
                    .getCpu();
            QCOMPARE(cpu.Sse, c.Sse);
            QCOMPARE(cpu.Sse2, c.Sse2);
            QCOMPARE(cpu.Is64Bit, c.Is64Bit);
        }
    }

    void processorTakesCountsAndClockFromTheirOperations() {
        TFixedCountsRetriever retriever(recordedCpu("GenuineIntel", "Intel"),
                                        std::make_shared<platform::TLinuxSystemSources>(u"/nowhere"_qs));
        const TCpuInfo cpu = retriever.getCpu();
        QCOMPARE(cpu.NumaNodeCount, quint64(2));
        QCOMPARE(cpu.PhysicalProcessorCount, quint64(3));
        QCOMPARE(cpu.CoreCount, quint64(5));
        QCOMPARE(cpu.LogicalProcessorCount, quint64(7));
        QCOMPARE(cpu.ClockSpeed, 1234.5);
    }

    void processorCounts_data() {
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QList<quint64>>("counts"); // NUMA nodes, packages, cores, logical processors
        QStringList twoPackages{
            u"sys/devices/system/cpu/online=0-7\n"_qs, u"sys/devices/system/node/has_cpu=0-1\n"_qs,
            u"sys/devices/system/node/online=0-2\n"_qs, u"sys/devices/system/node/node0/"_qs};
        for (int cpu = 0; cpu < 8; ++cpu) {
            twoPackages << cpuTopology(cpu, cpu / 4, 0, (cpu / 2) % 2);
        }
        QTest::newRow("two packages, two cores of two threads each, a memory-only node")
            << twoPackages << QList<quint64>{2, 2, 4, 8};
        QStringList dies{u"sys/devices/system/cpu/online=0-3\n"_qs, u"sys/devices/system/node/online=0\n"_qs};
        for (int cpu = 0; cpu < 5; ++cpu) {
            dies << cpuTopology(cpu, 0, cpu / 2, cpu % 2);
        }
        QTest::newRow("two dies repeating core numbers, the last processor offline")
            << dies << QList<quint64>{1, 1, 4, 4};
        // Older or trimmed kernels: the numbered folders count, not their neighbours such as cpufreq;
        // a processor may lack its topology; a list the kernel would never write is no list.
        QStringList trimmed{u"sys/devices/system/cpu/cpu2/"_qs,       u"sys/devices/system/cpu/cpufreq/"_qs,
                            u"sys/devices/system/cpu/cpuidle/"_qs,    u"sys/devices/system/node/node0/"_qs,
                            u"sys/devices/system/node/node1/"_qs,     u"sys/devices/system/node/power/"_qs,
                            u"sys/devices/system/cpu/online=0-x\n"_qs};
        trimmed << cpuTopology(0, 0, 0, 0) << cpuTopology(1, 0, 0, 1) << cpuTopology(10, 0, 0, 2);
        QTest::newRow("no online lists, a processor without topology")
            << trimmed << QList<quint64>{2, 1, 3, 4};
        QTest::newRow("nothing at all") << QStringList() << QList<quint64>{0, 0, 0, 0};
    }

    void processorCounts() {
        QFETCH(QStringList, tree);
        QFETCH(QList<quint64>, counts);
        QTemporaryDir root;
        makeTree(root.path(), tree);
        quint64 numa = 99, physical = 99, cores = 99, logical = 99;
        retrieverFor(root.path()).getProcessorCounts(numa, physical, cores, logical);
        QCOMPARE((QList<quint64>{numa, physical, cores, logical}), counts);
    }

    void clockSpeedFromFrequencyScalingOrCpuInfo() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        writeFile(root.path(), u"sys/devices/system/cpu/online"_qs, "0-2\n");
        writeFile(root.path(), u"proc/cpuinfo"_qs,
                  "processor\t: 0\ncpu MHz\t\t: 2596.118\n\nprocessor\t: 1\ncpu MHz\t\t: 3100.5\n"
                  "model name\t: cpu MHz : 9999\n");
        // Without frequency scaling the processors' current speeds are all there is.
        QCOMPARE(retrieverFor(root.path()).getClockSpeed(), 3100.5);

        // With it, the highest maximum of the online processors (kHz to MHz); a
        // processor that is offline does not count.
        const QString cpu = u"sys/devices/system/cpu/cpu%1/cpufreq/cpuinfo_max_freq=%2\n"_qs;
        makeTree(root.path(), {cpu.arg(0).arg(3400000), cpu.arg(1).arg(4950500),
                               cpu.arg(2).arg(u"garbage"_qs), cpu.arg(7).arg(9000000)});
        QCOMPARE(retrieverFor(root.path()).getClockSpeed(), 4950.5);
    }

    void mainMemoryFromMemInfo() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        writeFile(root.path(), u"proc/meminfo"_qs,
                  "MemFree:         2084448 kB\nMemTotal:       24683772 kB\nSwapTotal: 0 kB\n");
        QCOMPARE(retrieverFor(root.path()).getMainMemorySize(), quint64(24683772) * 1024);
        // Memory beyond 4 GiB must not wrap.
        writeFile(root.path(), u"proc/meminfo"_qs, "MemTotal:       1073741824 kB\n");
        QCOMPARE(retrieverFor(root.path()).getMainMemorySize(), quint64(1) << 40);
        writeFile(root.path(), u"proc/meminfo"_qs, "MemTotal: many kB\n");
        QCOMPARE(retrieverFor(root.path()).getMainMemorySize(), quint64(0));
    }

    void graphicsAdaptersFromTheDisplaySubsystem() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString drm = u"sys/class/drm/"_qs;
        // A PCI card whose driver reports its memory but has no module version.
        writeFile(root.path(), drm + u"card0/device/vendor"_qs, "0x1002\n");
        writeFile(root.path(), drm + u"card0/device/device"_qs, "0x73bf\n");
        writeFile(root.path(), drm + u"card0/device/uevent"_qs, "PCI_ID=1002:73BF\nDRIVER=amdgpu\n");
        writeFile(root.path(), drm + u"card0/device/mem_info_vram_total"_qs, "17163091968\n");
        // Its connector and render node are not further adapters.
        writeFile(root.path(), drm + u"card0-DP-1/status"_qs, "connected\n");
        writeFile(root.path(), drm + u"renderD128/dev"_qs, "226:128\n");
        // A card known only through its driver link, with a versioned module; the
        // class folder links to the device, as the kernel lays it out.
        const QString card1 = u"sys/devices/pci0000:00/0000:01:00.0/drm/card1/"_qs;
        writeFile(root.path(), card1 + u"device/vendor"_qs, "0x10de\n");
        writeFile(root.path(), card1 + u"device/device"_qs, "0x2206\n");
        writeFile(root.path(), u"sys/bus/pci/drivers/nvidia/bind"_qs, "");
        QVERIFY(QFile::link(QDir(root.path()).filePath(u"sys/bus/pci/drivers/nvidia"_qs),
                            QDir(root.path()).filePath(card1 + u"device/driver"_qs)));
        QVERIFY(
            QFile::link(QDir(root.path()).filePath(card1), QDir(root.path()).filePath(drm + u"card1"_qs)));
        writeFile(root.path(), u"sys/module/nvidia/version"_qs, "535.129.03\n");
        // A firmware frame buffer: no PCI ids at all.
        writeFile(root.path(), drm + u"card2/device/uevent"_qs, "DRIVER=simple-framebuffer\n");
        // Numbered in numeric, not alphabetic order.
        writeFile(root.path(), drm + u"card10/device/uevent"_qs, "DRIVER=virtio-pci\n");
        writeFile(root.path(), drm + u"card10/device/vendor"_qs, "0x1af4\n");

        std::vector<TGpuInfo> gpus = retrieverFor(root.path()).getGpus();
        QCOMPARE(gpus.size(), size_t(4));
        QCOMPARE(gpus[0].DeviceString, u"amdgpu"_qs);
        QCOMPARE(gpus[0].VendorId, quint32(0x1002));
        QCOMPARE(gpus[0].DeviceId, quint32(0x73bf));
        QCOMPARE(gpus[0].VideoMemorySize, quint64(17163091968));
        QCOMPARE(gpus[0].DriverVersion, QString());
        QCOMPARE(gpus[1].DeviceString, u"nvidia"_qs);
        QCOMPARE(gpus[1].VendorId, quint32(0x10de));
        QCOMPARE(gpus[1].DeviceId, quint32(0x2206));
        QCOMPARE(gpus[1].VideoMemorySize, quint64(0));
        QCOMPARE(gpus[1].DriverVersion, u"535.129.03"_qs);
        QCOMPARE(gpus[2].DeviceString, u"simple-framebuffer"_qs);
        QCOMPARE(gpus[2].VendorId, quint32(0));
        QCOMPARE(gpus[3].DeviceString, u"virtio-pci"_qs);

        // Where the PCI id database is installed, vendor and model replace the driver's name.
        writeFile(
            root.path(), u"usr/share/hwdata/pci.ids"_qs,
            "# comment\n1002  Advanced Micro Devices, Inc. [AMD/ATI]\n\t73a5  Navi 21 [Radeon RX 6950 XT]\n"
            "10de  NVIDIA Corporation\n\t1e07  TU102 [GeForce RTX 2080 Ti Rev. A]\n"
            "\t\t1043 866a  ROG Strix\n\t2206  GA102 [GeForce RTX 3080]\n1af4  Red Hat, Inc.\n");
        gpus = retrieverFor(root.path()).getGpus();
        QCOMPARE(gpus[0].DeviceString, u"Advanced Micro Devices, Inc. [AMD/ATI]"_qs);
        QCOMPARE(gpus[1].DeviceString, u"NVIDIA Corporation GA102 [GeForce RTX 3080]"_qs);
        QCOMPARE(gpus[2].DeviceString, u"simple-framebuffer"_qs);
        QCOMPARE(gpus[3].DeviceString, u"Red Hat, Inc."_qs);
    }

    void missingSourcesGiveEmptyAnswers() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const TSystemSurveyValueRetriever retriever = retrieverFor(root.path());
        QCOMPARE(retriever.getClockSpeed(), 0.0);
        QCOMPARE(retriever.getMainMemorySize(), quint64(0));
        QVERIFY(retriever.getGpus().empty());
        // A processor that answers nothing at all.
        const TCpuInfo cpu = retriever.getCpu();
        QCOMPARE(cpu.Manufacturer, u"Unknown Manufacturer"_qs);
        QCOMPARE(cpu.BrandName, u"Acquiring Brand Name not supported"_qs);
        QVERIFY(!cpu.Is64Bit && !cpu.Sse && !cpu.Sse2);
    }

    void parseIdList_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QList<int>>("ids");
        QTest::newRow("single") << QByteArray("0\n") << QList<int>{0};
        QTest::newRow("range") << QByteArray("0-3") << QList<int>{0, 1, 2, 3};
        QTest::newRow("mixed") << QByteArray("0-1,4,6-7\n") << QList<int>{0, 1, 4, 6, 7};
        QTest::newRow("empty") << QByteArray("\n") << QList<int>{};
        QTest::newRow("reversed range") << QByteArray("3-1") << QList<int>{};
        QTest::newRow("negative") << QByteArray("-1") << QList<int>{};
        QTest::newRow("letters") << QByteArray("0,a") << QList<int>{};
        QTest::newRow("empty part") << QByteArray("0,,2") << QList<int>{};
        QTest::newRow("absurd range") << QByteArray("0-2147483647") << QList<int>{};
    }

    void parseIdList() {
        QFETCH(QByteArray, text);
        QFETCH(QList<int>, ids);
        QCOMPARE(platform::TLinuxSystemSources::parseIdList(text), ids);
    }

    void thisMachine() {
        // The real sources against the kernel's other ways of telling the same.
        const TSystemSurveyValueRetriever retriever;
        quint64 numa = 0, physical = 0, cores = 0, logical = 0;
        retriever.getProcessorCounts(numa, physical, cores, logical);
        QCOMPARE(logical, quint64(::sysconf(_SC_NPROCESSORS_ONLN)));
        QVERIFY(cores >= 1 && cores <= logical);
        QVERIFY(physical >= 1 && physical <= cores);

        struct sysinfo info {};
        QCOMPARE(::sysinfo(&info), 0);
        QCOMPARE(retriever.getMainMemorySize(), quint64(info.totalram) * info.mem_unit);

        QString baseSystem, name, release;
        retriever.getOperatingSystem(baseSystem, name, release);
        QCOMPARE(baseSystem, u"Linux"_qs);
        QCOMPARE(name, QSysInfo::prettyProductName());
        QCOMPARE(release, QSysInfo::kernelVersion());
        QVERIFY(!release.isEmpty());

#if defined(__x86_64__)
        // The kernel reads the same instruction for its processor description.
        const TCpuInfo cpu = retriever.getCpu();
        QCOMPARE(cpu.Manufacturer,
                 TSystemSurveyValueRetriever::manufacturerFromVendorText(procCpuInfoValue("vendor_id")));
        QCOMPARE(cpu.BrandName, QString::fromLatin1(procCpuInfoValue("model name")).simplified());
        QVERIFY(cpu.Is64Bit);
        QVERIFY(cpu.Sse);
        QVERIFY(cpu.Sse2);
        QVERIFY(cpu.ClockSpeed > 0.0);
#else
        QSKIP("The processor identification instruction exists on x86 only");
#endif
    }

    void monitorsFromTheScreenList() {
        const std::vector<TMonitorInfo> monitors = TSystemSurveyValueRetriever().getMonitors();
        const QList<QScreen*> screens = QGuiApplication::screens();
        QCOMPARE(int(monitors.size()), screens.size());
        QVERIFY(!monitors.empty());
        int primaries = 0;
        for (int i = 0; i < screens.size(); ++i) {
            QCOMPARE(monitors[size_t(i)].Width, screens[i]->geometry().width());
            QCOMPARE(monitors[size_t(i)].Height, screens[i]->geometry().height());
            QCOMPARE(monitors[size_t(i)].Primary, screens[i] == QGuiApplication::primaryScreen());
            QCOMPARE(monitors[size_t(i)].RefreshRate, static_cast<unsigned int>(screens[i]->refreshRate()));
            primaries += monitors[size_t(i)].Primary ? 1 : 0;
        }
        QCOMPARE(primaries, 1);
    }
};

LAUNCHER_TEST(TestSystemSurveyValueRetriever)
#include "tst_systemsurveyvalueretriever.moc"
