#pragma once

#include <memory>

class QJsonDocument;

namespace systemsurvey {

class TSystemSurveyCreator;
class TSystemSurveyToJsonConverter;

// Surveys the machine and writes the result as the survey document.
class TSystemSurveyAsJsonDocumentCreator {
public:
    TSystemSurveyAsJsonDocumentCreator(std::shared_ptr<TSystemSurveyCreator> pSurveyCreator,
                                       std::shared_ptr<TSystemSurveyToJsonConverter> pConverter);
    virtual ~TSystemSurveyAsJsonDocumentCreator();

    virtual QJsonDocument create() const;

private:
    std::shared_ptr<TSystemSurveyCreator> m_pSurveyCreator;
    std::shared_ptr<TSystemSurveyToJsonConverter> m_pConverter;
};

} // namespace systemsurvey
