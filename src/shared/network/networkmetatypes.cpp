#include "shared/network/networkmetatypes.h"

#include <QMetaType>
#include <QNetworkReply>

namespace shared {

void registerNetworkMetaTypes() {
    qRegisterMetaType<QNetworkReply::NetworkError>("QNetworkReply::NetworkError");
}

} // namespace shared
