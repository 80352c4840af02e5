#include "systemsurvey/systemsurveyupload.h"

#include "shared/upload/jsondocumenthttppostsender.h"
#include "systemsurvey/systemsurveyasjsondocumentcreator.h"
#include "systemsurvey/systemsurveycreator.h"
#include "systemsurvey/systemsurveytojsonconverter.h"
#include "systemsurvey/systemsurveyuploader.h"
#include "systemsurvey/systemsurveyvalueretriever.h"

#include <QThread>
#include <QUrl>

namespace systemsurvey {

std::unique_ptr<TSystemSurveyUploader> startSystemSurveyUpload(const QUrl& Url, int TransferStallTimeout) {
    if (!Url.isValid()) {
        return nullptr;
    }
    auto pDocumentCreator = std::make_shared<TSystemSurveyAsJsonDocumentCreator>(
        std::make_shared<TSystemSurveyCreator>(std::make_shared<TSystemSurveyValueRetriever>()),
        std::make_shared<TSystemSurveyToJsonConverter>());
    auto pSender = std::make_shared<shared::TJsonDocumentHttpPostSender>();
    pSender->setTransferStallTimeout(TransferStallTimeout);
    auto pUploader = std::make_unique<TSystemSurveyUploader>(Url, pDocumentCreator, pSender);
    qInfo().noquote() << QStringLiteral("startSystemSurveyUpload: ") +
                             Url.toDisplayString(QUrl::RemoveQuery) + QStringLiteral(" Thread: 0x") +
                             QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()), 16);
    pUploader->upload();
    return pUploader;
}

} // namespace systemsurvey
