#pragma once

#include <QString>

namespace systemsurvey {

// The processor: what the processor identification instruction tells about
// it, and how many units of it the system runs.
struct TCpuInfo {
    QString Manufacturer;
    QString BrandName;
    bool Is64Bit = false;
    bool Sse = false;
    bool Sse2 = false;
    quint64 NumaNodeCount = 0;
    quint64 PhysicalProcessorCount = 0;
    quint64 CoreCount = 0;
    quint64 LogicalProcessorCount = 0;
    double ClockSpeed = 0.0; // MHz
};

} // namespace systemsurvey
