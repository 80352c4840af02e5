#include "launcher/config/launcherconfigurationexception.h"

#include <QString>

namespace mirrel::launcher {

TLauncherConfigurationException::TLauncherConfigurationException(const QString& message)
    : std::runtime_error(message.toStdString()) {}

} // namespace mirrel::launcher
