#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <vector>

namespace platform {

// How many processing units of each kind the kernel reports as online.
struct TProcessorCounts {
    quint64 NumaNodes = 0;
    quint64 Packages = 0;
    quint64 Cores = 0;
    quint64 LogicalProcessors = 0;
};

// One graphics device of the kernel's display subsystem.
struct TDrmAdapter {
    QString Name;         // vendor and model from the PCI id database, empty when unknown
    QString Driver;       // name of the kernel driver bound to it, empty when unknown
    quint32 VendorId = 0; // PCI ids, 0 when the device is not on a PCI bus
    quint32 DeviceId = 0;
    quint64 VideoMemorySize = 0; // bytes, 0 unless the driver reports it
    QString DriverVersion;       // the driver module's version, empty when it has none
};

// The kernel's name for itself and its release, as uname reports them.
struct TKernelIdentity {
    QString Type;
    QString Release;
};

// Answers questions about this machine from the kernel's own files below
// sys/ and proc/. Every answer degrades to 0 or empty when the files are
// missing or unreadable (virtual machines lack frequency scaling and graphics
// devices; some kernels have no NUMA support). The files are read directly
// rather than through the launcher's file helper: they are the kernel's
// pseudo-files, and failing to read one is an answer, not an error.
class TLinuxSystemSources {
public:
    // RootDirectory is "/" for this machine; a prepared tree with its own sys/
    // and proc/ folders stands in for it elsewhere.
    explicit TLinuxSystemSources(const QString& RootDirectory = QStringLiteral("/"));

    // Total physical memory in bytes ("MemTotal" of proc/meminfo).
    quint64 totalMemorySize() const;
    TProcessorCounts processorCounts() const;
    // The highest maximum frequency of the online processors in MHz; where
    // frequency scaling is absent, the highest "cpu MHz" of proc/cpuinfo.
    double maximumClockSpeed() const;
    // The cards of sys/class/drm in the order of their numbers.
    std::vector<TDrmAdapter> graphicsAdapters() const;

    // Always about the running kernel.
    static TKernelIdentity kernelIdentity();

    // Parses the kernel's list format ("0-3,8,10-11"); an empty list for text
    // that is not such a list.
    static QList<int> parseIdList(const QByteArray& Text);

private:
    QString path(const QString& Relative) const;
    QByteArray read(const QString& Relative) const;
    QList<int> onlineCpus() const;
    quint64 numaNodeCount() const;
    double clockSpeedFromCpuInfo() const;
    TDrmAdapter graphicsAdapter(const QString& CardDirectory) const;
    QString pciDeviceName(quint32 VendorId, quint32 DeviceId) const;

    QString m_RootDirectory;
};

} // namespace platform
