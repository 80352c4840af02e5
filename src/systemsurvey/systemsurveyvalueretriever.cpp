#include "systemsurvey/systemsurveyvalueretriever.h"

#include "platform/cpuidinstruction.h"
#include "platform/linuxsystemsources.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSysInfo>

#include <cmath>
#include <utility>

namespace systemsurvey {

namespace {

constexpr quint32 VendorLeaf = 0x0;
constexpr quint32 FeatureLeaf = 0x1;
constexpr quint32 HighestExtendedLeaf = 0x80000000;
constexpr quint32 ExtendedFeatureLeaf = 0x80000001;
constexpr quint32 FirstBrandLeaf = 0x80000002;
constexpr quint32 LastBrandLeaf = 0x80000004;

constexpr int LongModeBit = 29;
constexpr int SseBit = 25;
constexpr int Sse2Bit = 26;

const QString BrandNameNotSupported = QStringLiteral("Acquiring Brand Name not supported");

struct TVendor {
    const char* VendorText;
    const char* Manufacturer;
};

// The leading blanks of " Vortex" and " Xen HVM" are part of the names the
// survey service has always received for these processors.
const TVendor Vendors[] = {
    {"AMDisbetter!", "AMD"},       {"AuthenticAMD", "AMD"},
    {"CentaurHauls", "Centaur"},   {"CyrixInstead", "Cyrix"},
    {"GenuineIntel", "Intel"},     {"TransmetaCPU", "Transmeta"},
    {"GenuineTMx86", "Transmeta"}, {"Geode by NSC", "National Semiconductor"},
    {"NexGenDriven", "NexGen"},    {"RiseRiseRise", "Rise"},
    {"SiS SiS SiS ", "SiS"},       {"UMC UMC UMC ", "UMC"},
    {"VIA VIA VIA ", "VIA"},       {"Vortex86 SoC", " Vortex"},
    {"KVMKVMKVMKVM", "KVM"},       {"Microsoft Hv", "Microsoft Hyper-V or Windows Virtual PC"},
    {"VMwareVMware", "VMware"},    {"XenVMMXenVMM", " Xen HVM"},
};

// A register's four bytes in memory order, as the processor lays out its texts.
void appendRegister(QByteArray& Text, quint32 Register) {
    for (int shift = 0; shift < 32; shift += 8) {
        Text.append(static_cast<char>((Register >> shift) & 0xFF));
    }
}

bool bitSet(quint32 Register, int Bit) {
    return ((Register >> Bit) & 1U) != 0;
}

} // namespace

TSystemSurveyValueRetriever::TSystemSurveyValueRetriever()
    : TSystemSurveyValueRetriever(std::make_shared<platform::TCpuIdInstruction>(),
                                  std::make_shared<platform::TLinuxSystemSources>()) {}

TSystemSurveyValueRetriever::TSystemSurveyValueRetriever(
    std::shared_ptr<const platform::TCpuIdInstruction> pCpuIdInstruction,
    std::shared_ptr<const platform::TLinuxSystemSources> pSystemSources)
    : m_pCpuIdInstruction(std::move(pCpuIdInstruction))
    , m_pSystemSources(std::move(pSystemSources)) {}

TSystemSurveyValueRetriever::~TSystemSurveyValueRetriever() = default;

std::vector<TMonitorInfo> TSystemSurveyValueRetriever::getMonitors() const {
    std::vector<TMonitorInfo> monitors;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return monitors;
    }
    const QScreen* pPrimary = QGuiApplication::primaryScreen();
    for (const QScreen* pScreen : QGuiApplication::screens()) {
        TMonitorInfo monitor;
        monitor.Width = pScreen->geometry().width();
        monitor.Height = pScreen->geometry().height();
        monitor.Primary = pScreen == pPrimary;
        const qreal refreshRate = pScreen->refreshRate();
        monitor.RefreshRate =
            std::isfinite(refreshRate) && refreshRate > 0 ? static_cast<unsigned int>(refreshRate) : 0;
        monitors.push_back(monitor);
    }
    return monitors;
}

TCpuInfo TSystemSurveyValueRetriever::getCpu() const {
    TCpuInfo cpu;
    const platform::TCpuIdRegisters vendor = m_pCpuIdInstruction->query(VendorLeaf);
    QByteArray vendorText;
    appendRegister(vendorText, vendor.Ebx);
    appendRegister(vendorText, vendor.Edx);
    appendRegister(vendorText, vendor.Ecx);
    cpu.Manufacturer = manufacturerFromVendorText(vendorText);

    const quint32 highestExtendedLeaf = m_pCpuIdInstruction->query(HighestExtendedLeaf).Eax;
    cpu.BrandName = highestExtendedLeaf < LastBrandLeaf ? BrandNameNotSupported : brandName();
    cpu.Is64Bit = highestExtendedLeaf >= ExtendedFeatureLeaf &&
                  bitSet(m_pCpuIdInstruction->query(ExtendedFeatureLeaf).Edx, LongModeBit);
    const platform::TCpuIdRegisters features = m_pCpuIdInstruction->query(FeatureLeaf);
    cpu.Sse = bitSet(features.Edx, SseBit);
    cpu.Sse2 = bitSet(features.Edx, Sse2Bit);

    getProcessorCounts(cpu.NumaNodeCount, cpu.PhysicalProcessorCount, cpu.CoreCount,
                       cpu.LogicalProcessorCount);
    cpu.ClockSpeed = getClockSpeed();
    return cpu;
}

QString TSystemSurveyValueRetriever::brandName() const {
    QByteArray bytes;
    for (quint32 leaf = FirstBrandLeaf; leaf <= LastBrandLeaf; ++leaf) {
        const platform::TCpuIdRegisters part = m_pCpuIdInstruction->query(leaf);
        appendRegister(bytes, part.Eax);
        appendRegister(bytes, part.Ebx);
        appendRegister(bytes, part.Ecx);
        appendRegister(bytes, part.Edx);
    }
    return brandNameFromBytes(bytes);
}

QString TSystemSurveyValueRetriever::manufacturerFromVendorText(const QByteArray& VendorText) {
    for (const TVendor& vendor : Vendors) {
        if (VendorText == vendor.VendorText) {
            return QString::fromLatin1(vendor.Manufacturer);
        }
    }
    return QStringLiteral("Unknown Manufacturer");
}

QString TSystemSurveyValueRetriever::brandNameFromBytes(const QByteArray& BrandBytes) {
    const int end = BrandBytes.indexOf('\0');
    return QString::fromLatin1(end < 0 ? BrandBytes : BrandBytes.left(end)).simplified();
}

void TSystemSurveyValueRetriever::getOperatingSystem(QString& BaseSystem, QString& Name,
                                                     QString& Release) const {
    const platform::TKernelIdentity kernel = platform::TLinuxSystemSources::kernelIdentity();
    BaseSystem = kernel.Type;
    Name = QSysInfo::prettyProductName();
    Release = kernel.Release;
}

quint64 TSystemSurveyValueRetriever::getMainMemorySize() const {
    return m_pSystemSources->totalMemorySize();
}

void TSystemSurveyValueRetriever::getProcessorCounts(quint64& NumaNodeCount, quint64& PhysicalProcessorCount,
                                                     quint64& CoreCount,
                                                     quint64& LogicalProcessorCount) const {
    const platform::TProcessorCounts counts = m_pSystemSources->processorCounts();
    NumaNodeCount = counts.NumaNodes;
    PhysicalProcessorCount = counts.Packages;
    CoreCount = counts.Cores;
    LogicalProcessorCount = counts.LogicalProcessors;
}

double TSystemSurveyValueRetriever::getClockSpeed() const {
    return m_pSystemSources->maximumClockSpeed();
}

std::vector<TGpuInfo> TSystemSurveyValueRetriever::getGpus() const {
    std::vector<TGpuInfo> gpus;
    for (const platform::TDrmAdapter& adapter : m_pSystemSources->graphicsAdapters()) {
        TGpuInfo gpu;
        // Without a model name the kernel driver's name is the best description.
        gpu.DeviceString = adapter.Name.isEmpty() ? adapter.Driver : adapter.Name;
        gpu.VideoMemorySize = adapter.VideoMemorySize;
        gpu.VendorId = adapter.VendorId;
        gpu.DeviceId = adapter.DeviceId;
        gpu.DriverVersion = adapter.DriverVersion;
        gpus.push_back(gpu);
    }
    return gpus;
}

} // namespace systemsurvey
