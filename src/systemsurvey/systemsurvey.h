#pragma once

#include "systemsurvey/cpuinfo.h"
#include "systemsurvey/gpuinfo.h"
#include "systemsurvey/monitorinfo.h"

#include <QString>

#include <vector>

namespace systemsurvey {

// Everything the hardware survey reports about this machine.
struct TSystemSurvey {
    std::vector<TMonitorInfo> Monitors;
    QString BaseSystem;
    QString OperatingSystemName;
    QString OperatingSystemRelease; // left out of the document when empty
    quint64 MainMemorySize = 0;     // bytes
    TCpuInfo Cpu;
    std::vector<TGpuInfo> Gpus;
};

} // namespace systemsurvey
