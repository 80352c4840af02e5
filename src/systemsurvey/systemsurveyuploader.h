#pragma once

#include "shared/upload/jsondocumentuploaderbase.h"

#include <QUrl>

#include <memory>

namespace systemsurvey {

class TSystemSurveyAsJsonDocumentCreator;

// Sends this machine's survey to the survey service.
class TSystemSurveyUploader : public shared::TJsonDocumentUploaderBase {
    Q_OBJECT
public:
    TSystemSurveyUploader(QUrl Url, std::shared_ptr<TSystemSurveyAsJsonDocumentCreator> pDocumentCreator,
                          std::shared_ptr<shared::TJsonDocumentHttpPostSender> pSender,
                          QObject* parent = nullptr);
    ~TSystemSurveyUploader() override;

    using shared::TJsonDocumentUploaderBase::upload;
    // Surveys the machine now and posts the document to the service's address.
    virtual void upload();

    const QUrl& url() const { return m_Url; }

private:
    QUrl m_Url;
    std::shared_ptr<TSystemSurveyAsJsonDocumentCreator> m_pDocumentCreator;
};

} // namespace systemsurvey
