#include "platform/linuxsystemsources.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <tuple>

#include <sys/utsname.h>

namespace platform {

namespace {

const QString CpuDirectory = QStringLiteral("sys/devices/system/cpu");
const QString NodeDirectory = QStringLiteral("sys/devices/system/node");
const QString DrmDirectory = QStringLiteral("sys/class/drm");

// "0x10de\n" -> 0x10de; 0 for anything else.
quint32 parseHexId(const QByteArray& Text) {
    bool ok = false;
    const quint32 value = Text.trimmed().toUInt(&ok, 16);
    return ok ? value : 0;
}

// Numbers of the entries named <prefix><number> in a folder, ascending.
QList<int> numberedEntries(const QString& Directory, const QString& Prefix) {
    const QRegularExpression pattern(QStringLiteral("^%1(\\d+)$").arg(Prefix));
    QList<int> numbers;
    const QStringList names = QDir(Directory).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& name : names) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (match.hasMatch()) {
            numbers.append(match.captured(1).toInt());
        }
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

} // namespace

TLinuxSystemSources::TLinuxSystemSources(const QString& RootDirectory)
    : m_RootDirectory(RootDirectory) {}

QString TLinuxSystemSources::path(const QString& Relative) const {
    return QDir(m_RootDirectory).filePath(Relative);
}

QByteArray TLinuxSystemSources::read(const QString& Relative) const {
    // Pseudo-files report a size of 0 or one page whatever they hold, so the
    // whole content is read rather than the reported size.
    QFile file(path(Relative));
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray();
    }
    return file.readAll();
}

quint64 TLinuxSystemSources::totalMemorySize() const {
    const QList<QByteArray> lines = read(QStringLiteral("proc/meminfo")).split('\n');
    for (const QByteArray& line : lines) {
        if (!line.startsWith("MemTotal:")) {
            continue;
        }
        const QList<QByteArray> fields = line.mid(9).simplified().split(' ');
        bool ok = false;
        const quint64 amount = fields.value(0).toULongLong(&ok);
        if (!ok) {
            return 0;
        }
        // The kernel writes "kB" and means units of 1024 bytes.
        return fields.value(1) == "kB" ? amount * 1024 : amount;
    }
    return 0;
}

QList<int> TLinuxSystemSources::parseIdList(const QByteArray& Text) {
    QList<int> ids;
    const QByteArray trimmed = Text.trimmed();
    if (trimmed.isEmpty()) {
        return ids;
    }
    for (const QByteArray& part : trimmed.split(',')) {
        const int dash = part.indexOf('-');
        bool firstOk = false;
        bool lastOk = true;
        const int first = (dash < 0 ? part : part.left(dash)).toInt(&firstOk);
        const int last = dash < 0 ? first : part.mid(dash + 1).toInt(&lastOk);
        // A malformed list is no list: half a count would be a wrong answer.
        if (!firstOk || !lastOk || first < 0 || last < first || last - first > 65535) {
            return QList<int>();
        }
        for (int id = first; id <= last; ++id) {
            ids.append(id);
        }
    }
    return ids;
}

QList<int> TLinuxSystemSources::onlineCpus() const {
    const QList<int> online = parseIdList(read(CpuDirectory + QStringLiteral("/online")));
    return online.isEmpty() ? numberedEntries(path(CpuDirectory), QStringLiteral("cpu")) : online;
}

quint64 TLinuxSystemSources::numaNodeCount() const {
    // Nodes holding processors, as a processor topology counts them; memory-only
    // nodes do not count.
    for (const QString& list : {QStringLiteral("/has_cpu"), QStringLiteral("/online")}) {
        const QList<int> nodes = parseIdList(read(NodeDirectory + list));
        if (!nodes.isEmpty()) {
            return static_cast<quint64>(nodes.size());
        }
    }
    return static_cast<quint64>(numberedEntries(path(NodeDirectory), QStringLiteral("node")).size());
}

TProcessorCounts TLinuxSystemSources::processorCounts() const {
    TProcessorCounts counts;
    counts.NumaNodes = numaNodeCount();
    QSet<int> packages;
    std::vector<std::tuple<int, int, int>> cores;
    for (const int cpu : onlineCpus()) {
        const QString topology = CpuDirectory + QStringLiteral("/cpu%1/topology/").arg(cpu);
        if (!QFileInfo::exists(path(CpuDirectory + QStringLiteral("/cpu%1").arg(cpu)))) {
            continue;
        }
        ++counts.LogicalProcessors;
        bool packageOk = false;
        bool coreOk = false;
        const int package =
            read(topology + QStringLiteral("physical_package_id")).trimmed().toInt(&packageOk);
        const int core = read(topology + QStringLiteral("core_id")).trimmed().toInt(&coreOk);
        // Core numbers repeat on every die of a package, and dies are absent on
        // older kernels (one die per package then).
        const int die = read(topology + QStringLiteral("die_id")).trimmed().toInt();
        if (packageOk) {
            packages.insert(package);
        }
        if (packageOk && coreOk) {
            const auto key = std::make_tuple(package, die, core);
            if (std::find(cores.begin(), cores.end(), key) == cores.end()) {
                cores.push_back(key);
            }
        }
    }
    counts.Packages = static_cast<quint64>(packages.size());
    counts.Cores = static_cast<quint64>(cores.size());
    return counts;
}

double TLinuxSystemSources::maximumClockSpeed() const {
    quint64 highestKilohertz = 0;
    for (const int cpu : onlineCpus()) {
        const QByteArray text =
            read(CpuDirectory + QStringLiteral("/cpu%1/cpufreq/cpuinfo_max_freq").arg(cpu)).trimmed();
        highestKilohertz = std::max(highestKilohertz, text.toULongLong());
    }
    if (highestKilohertz > 0) {
        return static_cast<double>(highestKilohertz) / 1000.0;
    }
    return clockSpeedFromCpuInfo();
}

double TLinuxSystemSources::clockSpeedFromCpuInfo() const {
    double highest = 0.0;
    const QList<QByteArray> lines = read(QStringLiteral("proc/cpuinfo")).split('\n');
    for (const QByteArray& line : lines) {
        const int colon = line.indexOf(':');
        if (colon < 0 || line.left(colon).trimmed() != "cpu MHz") {
            continue;
        }
        bool ok = false;
        const double value = line.mid(colon + 1).trimmed().toDouble(&ok);
        if (ok && value > highest) {
            highest = value;
        }
    }
    return highest;
}

std::vector<TDrmAdapter> TLinuxSystemSources::graphicsAdapters() const {
    std::vector<TDrmAdapter> adapters;
    // Only the cards themselves; their connectors ("card0-HDMI-A-1") and render
    // nodes are further entries of the same device.
    for (const int card : numberedEntries(path(DrmDirectory), QStringLiteral("card"))) {
        adapters.push_back(graphicsAdapter(DrmDirectory + QStringLiteral("/card%1/device/").arg(card)));
    }
    return adapters;
}

TDrmAdapter TLinuxSystemSources::graphicsAdapter(const QString& DeviceDirectory) const {
    TDrmAdapter adapter;
    adapter.VendorId = parseHexId(read(DeviceDirectory + QStringLiteral("vendor")));
    adapter.DeviceId = parseHexId(read(DeviceDirectory + QStringLiteral("device")));
    for (const QByteArray& line : read(DeviceDirectory + QStringLiteral("uevent")).split('\n')) {
        if (line.startsWith("DRIVER=")) {
            adapter.Driver = QString::fromUtf8(line.mid(7).trimmed());
        }
    }
    if (adapter.Driver.isEmpty()) {
        const QString target = QFileInfo(path(DeviceDirectory + QStringLiteral("driver"))).symLinkTarget();
        adapter.Driver = target.isEmpty() ? QString() : QFileInfo(target).fileName();
    }
    // Drivers with dedicated memory publish its size here (amdgpu does).
    adapter.VideoMemorySize =
        read(DeviceDirectory + QStringLiteral("mem_info_vram_total")).trimmed().toULongLong();
    adapter.Name = pciDeviceName(adapter.VendorId, adapter.DeviceId);
    if (!adapter.Driver.isEmpty() && !adapter.Driver.contains(QLatin1Char('/'))) {
        adapter.DriverVersion =
            QString::fromUtf8(read(QStringLiteral("sys/module/%1/version").arg(adapter.Driver)).trimmed());
    }
    return adapter;
}

QString TLinuxSystemSources::pciDeviceName(quint32 VendorId, quint32 DeviceId) const {
    if (VendorId == 0) {
        return QString();
    }
    // The database of the PCI utilities, where the distribution installs it:
    // vendors at the start of a line ("10de  NVIDIA Corporation"), their
    // devices below them after one tab ("\t2206  GA102 [GeForce RTX 3080]").
    for (const QString& database :
         {QStringLiteral("usr/share/misc/pci.ids"), QStringLiteral("usr/share/hwdata/pci.ids")}) {
        QFile file(path(database));
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QByteArray vendorKey = QByteArray::number(VendorId, 16).rightJustified(4, '0') + "  ";
        const QByteArray deviceKey = "\t" + QByteArray::number(DeviceId, 16).rightJustified(4, '0') + "  ";
        QString vendorName;
        while (!file.atEnd()) {
            const QByteArray line = file.readLine();
            if (vendorName.isEmpty()) {
                if (line.startsWith(vendorKey)) {
                    vendorName = QString::fromUtf8(line.mid(vendorKey.size()).trimmed());
                }
            } else if (line.startsWith(deviceKey)) {
                return vendorName + QLatin1Char(' ') +
                       QString::fromUtf8(line.mid(deviceKey.size()).trimmed());
            } else if (!line.startsWith('\t') && !line.startsWith('#') && !line.trimmed().isEmpty()) {
                return vendorName; // the next vendor begins: the model is not listed
            }
        }
        return vendorName;
    }
    return QString();
}

TKernelIdentity TLinuxSystemSources::kernelIdentity() {
    TKernelIdentity identity;
    utsname names{};
    if (::uname(&names) == 0) {
        identity.Type = QString::fromLocal8Bit(names.sysname);
        identity.Release = QString::fromLocal8Bit(names.release);
    }
    return identity;
}

} // namespace platform
