#include "systemsurvey/systemsurveycreator.h"

#include "systemsurvey/systemsurveyvalueretriever.h"

#include <utility>

namespace systemsurvey {

TSystemSurveyCreator::TSystemSurveyCreator(std::shared_ptr<TSystemSurveyValueRetriever> pValueRetriever)
    : m_pValueRetriever(std::move(pValueRetriever)) {}

TSystemSurveyCreator::~TSystemSurveyCreator() = default;

TSystemSurvey TSystemSurveyCreator::create() const {
    TSystemSurvey survey;
    survey.Monitors = m_pValueRetriever->getMonitors();
    m_pValueRetriever->getOperatingSystem(survey.BaseSystem, survey.OperatingSystemName,
                                          survey.OperatingSystemRelease);
    survey.MainMemorySize = m_pValueRetriever->getMainMemorySize();
    survey.Cpu = m_pValueRetriever->getCpu();
    survey.Gpus = m_pValueRetriever->getGpus();
    return survey;
}

} // namespace systemsurvey
