#pragma once

#include "shared/network/qnetworkaccessmanagerwrapper.h"

#include <memory>

class QUrl;

namespace systemsurvey {

class TSystemSurveyUploader;

// Builds the survey chain for this machine (value retriever, survey creator,
// converter, document creator, post sender), starts the upload to the address
// and hands back the uploader, which must live until the answer has arrived;
// deleting it drops a pending answer. Null, and nothing sent, for an invalid
// address. The post fails after TransferStallTimeout milliseconds without an answer.
std::unique_ptr<TSystemSurveyUploader> startSystemSurveyUpload(
    const QUrl& Url,
    int TransferStallTimeout = shared::QNetworkAccessManagerWrapper::DefaultTransferStallTimeout);

} // namespace systemsurvey
