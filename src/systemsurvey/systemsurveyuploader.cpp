#include "systemsurvey/systemsurveyuploader.h"

#include "systemsurvey/systemsurveyasjsondocumentcreator.h"

#include <QJsonDocument>

#include <utility>

namespace systemsurvey {

TSystemSurveyUploader::TSystemSurveyUploader(
    QUrl Url, std::shared_ptr<TSystemSurveyAsJsonDocumentCreator> pDocumentCreator,
    std::shared_ptr<shared::TJsonDocumentHttpPostSender> pSender, QObject* parent)
    : shared::TJsonDocumentUploaderBase(std::move(pSender), parent)
    , m_Url(std::move(Url))
    , m_pDocumentCreator(std::move(pDocumentCreator)) {}

TSystemSurveyUploader::~TSystemSurveyUploader() = default;

void TSystemSurveyUploader::upload() {
    upload(m_Url, m_pDocumentCreator->create());
}

} // namespace systemsurvey
