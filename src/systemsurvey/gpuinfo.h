#pragma once

#include <QString>

namespace systemsurvey {

// One graphics adapter.
struct TGpuInfo {
    QString DeviceString;
    quint64 VideoMemorySize = 0; // bytes, 0 when unknown
    quint32 VendorId = 0;        // 0 when unknown
    quint32 DeviceId = 0;
    QString DriverVersion; // empty when unknown; the device id is only reported beside it
};

} // namespace systemsurvey
