#include "publisher/usageerror.h"

namespace publisher {

TUsageError::TUsageError(const QString& Message)
    : std::runtime_error(Message.toStdString()) {}

} // namespace publisher
