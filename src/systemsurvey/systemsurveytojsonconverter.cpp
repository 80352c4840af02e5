#include "systemsurvey/systemsurveytojsonconverter.h"

#include "systemsurvey/clientidentifier.h"
#include "systemsurvey/systemsurvey.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace systemsurvey {

namespace {

// The service stores counts and monitor values as 32-bit integers.
int asInt(quint64 Value) {
    return static_cast<int>(Value);
}

// Memory sizes exceed 32 bits.
qint64 asInt64(quint64 Value) {
    return static_cast<qint64>(Value);
}

QJsonArray monitorsToJson(const std::vector<TMonitorInfo>& Monitors) {
    QJsonArray array;
    for (const TMonitorInfo& monitor : Monitors) {
        QJsonObject object;
        object.insert(QStringLiteral("width"), monitor.Width);
        object.insert(QStringLiteral("height"), monitor.Height);
        object.insert(QStringLiteral("primary"), monitor.Primary);
        object.insert(QStringLiteral("refreshRate"), asInt(monitor.RefreshRate));
        array.append(object);
    }
    return array;
}

QJsonObject operatingSystemToJson(const TSystemSurvey& Survey) {
    QJsonObject object;
    object.insert(QStringLiteral("baseSystem"), Survey.BaseSystem);
    object.insert(QStringLiteral("name"), Survey.OperatingSystemName);
    if (!Survey.OperatingSystemRelease.isEmpty()) {
        object.insert(QStringLiteral("release"), Survey.OperatingSystemRelease);
    }
    return object;
}

QJsonObject cpuToJson(const TCpuInfo& Cpu) {
    QJsonObject object;
    object.insert(QStringLiteral("manufacturer"), Cpu.Manufacturer);
    object.insert(QStringLiteral("brandName"), Cpu.BrandName);
    object.insert(QStringLiteral("64Bit"), Cpu.Is64Bit);
    object.insert(QStringLiteral("sse"), Cpu.Sse);
    object.insert(QStringLiteral("sse2"), Cpu.Sse2);
    object.insert(QStringLiteral("NUMANumber"), asInt(Cpu.NumaNodeCount));
    object.insert(QStringLiteral("physicalNumber"), asInt(Cpu.PhysicalProcessorCount));
    object.insert(QStringLiteral("coreNumber"), asInt(Cpu.CoreCount));
    object.insert(QStringLiteral("logicalCoreNumber"), asInt(Cpu.LogicalProcessorCount));
    object.insert(QStringLiteral("clockSpeed"), Cpu.ClockSpeed);
    return object;
}

QJsonArray gpusToJson(const std::vector<TGpuInfo>& Gpus) {
    QJsonArray array;
    for (const TGpuInfo& gpu : Gpus) {
        QJsonObject object;
        object.insert(QStringLiteral("deviceString"), gpu.DeviceString);
        object.insert(QStringLiteral("videoMemorySize"), asInt64(gpu.VideoMemorySize));
        if (gpu.VendorId != 0) {
            object.insert(QStringLiteral("vendorId"), static_cast<qint64>(gpu.VendorId));
        }
        if (!gpu.DriverVersion.isEmpty()) {
            object.insert(QStringLiteral("deviceId"), static_cast<qint64>(gpu.DeviceId));
            object.insert(QStringLiteral("driverVersion"), gpu.DriverVersion);
        }
        array.append(object);
    }
    return array;
}

} // namespace

TSystemSurveyToJsonConverter::~TSystemSurveyToJsonConverter() = default;

QJsonDocument TSystemSurveyToJsonConverter::convert(const TSystemSurvey& Survey) const {
    QJsonObject document;
    document.insert(QStringLiteral("dataType"), 0);
    document.insert(QStringLiteral("clientID"), clientIdentifier());
    document.insert(QStringLiteral("monitors"), monitorsToJson(Survey.Monitors));
    document.insert(QStringLiteral("operatingSystem"), operatingSystemToJson(Survey));
    document.insert(QStringLiteral("mainMemorySize"), asInt64(Survey.MainMemorySize));
    document.insert(QStringLiteral("cpu"), cpuToJson(Survey.Cpu));
    document.insert(QStringLiteral("gpu"), gpusToJson(Survey.Gpus));
    return QJsonDocument(document);
}

} // namespace systemsurvey
