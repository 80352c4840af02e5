#pragma once

#include <stdexcept>

class QString;

namespace mirrel::launcher {

// The launcher configuration could not be read; what() is the UTF-8 text of the message.
class TLauncherConfigurationException : public std::runtime_error {
public:
    explicit TLauncherConfigurationException(const QString& message);
};

} // namespace mirrel::launcher
