#include "systemsurvey/systemsurveyasjsondocumentcreator.h"

#include "systemsurvey/systemsurveycreator.h"
#include "systemsurvey/systemsurveytojsonconverter.h"

#include <QJsonDocument>

#include <utility>

namespace systemsurvey {

TSystemSurveyAsJsonDocumentCreator::TSystemSurveyAsJsonDocumentCreator(
    std::shared_ptr<TSystemSurveyCreator> pSurveyCreator,
    std::shared_ptr<TSystemSurveyToJsonConverter> pConverter)
    : m_pSurveyCreator(std::move(pSurveyCreator))
    , m_pConverter(std::move(pConverter)) {}

TSystemSurveyAsJsonDocumentCreator::~TSystemSurveyAsJsonDocumentCreator() = default;

QJsonDocument TSystemSurveyAsJsonDocumentCreator::create() const {
    return m_pConverter->convert(m_pSurveyCreator->create());
}

} // namespace systemsurvey
