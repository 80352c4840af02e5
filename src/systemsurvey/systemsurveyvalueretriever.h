#pragma once

#include "systemsurvey/cpuinfo.h"
#include "systemsurvey/gpuinfo.h"
#include "systemsurvey/monitorinfo.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

namespace platform {
class TCpuIdInstruction;
class TLinuxSystemSources;
} // namespace platform

namespace systemsurvey {

// Asks the system about each part of the survey. Every answer degrades to
// empty or zero values when the system cannot tell, so a survey is always
// complete enough to send. Each operation may be replaced on its own.
class TSystemSurveyValueRetriever {
public:
    // Answers about this machine.
    TSystemSurveyValueRetriever();
    TSystemSurveyValueRetriever(std::shared_ptr<const platform::TCpuIdInstruction> pCpuIdInstruction,
                                std::shared_ptr<const platform::TLinuxSystemSources> pSystemSources);
    virtual ~TSystemSurveyValueRetriever();

    // The screens in the window system's order; none without a GUI application.
    virtual std::vector<TMonitorInfo> getMonitors() const;
    // Fills the counts and the clock speed through getProcessorCounts and getClockSpeed.
    virtual TCpuInfo getCpu() const;
    virtual void getOperatingSystem(QString& BaseSystem, QString& Name, QString& Release) const;
    virtual quint64 getMainMemorySize() const;
    virtual void getProcessorCounts(quint64& NumaNodeCount, quint64& PhysicalProcessorCount,
                                    quint64& CoreCount, quint64& LogicalProcessorCount) const;
    // The highest clock speed of the processors in MHz, 0 when unknown.
    virtual double getClockSpeed() const;
    virtual std::vector<TGpuInfo> getGpus() const;

    // The manufacturer named by the 12-character vendor text of the processor
    // identification instruction; "Unknown Manufacturer" for texts not known.
    static QString manufacturerFromVendorText(const QByteArray& VendorText);
    // The brand string as the instruction's 48 bytes hold it: up to the first
    // zero byte, white space trimmed and collapsed.
    static QString brandNameFromBytes(const QByteArray& BrandBytes);

private:
    QString brandName() const;

    std::shared_ptr<const platform::TCpuIdInstruction> m_pCpuIdInstruction;
    std::shared_ptr<const platform::TLinuxSystemSources> m_pSystemSources;
};

} // namespace systemsurvey
