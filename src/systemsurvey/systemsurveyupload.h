#pragma once

#include <memory>

class QUrl;

namespace systemsurvey {

class TSystemSurveyUploader;

// Builds the survey chain for this machine (value retriever, survey creator,
// converter, document creator, post sender), starts the upload to the address
// and hands back the uploader, which must live until the answer has arrived;
// deleting it drops a pending answer. Null, and nothing sent, for an invalid
// address.
std::unique_ptr<TSystemSurveyUploader> startSystemSurveyUpload(const QUrl& Url);

} // namespace systemsurvey
