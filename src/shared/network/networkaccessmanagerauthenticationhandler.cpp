#include "shared/network/networkaccessmanagerauthenticationhandler.h"

namespace shared {

TNetworkAccessManagerAuthenticationHandler::TNetworkAccessManagerAuthenticationHandler(QObject* parent)
    : QObject(parent) {}

} // namespace shared
