#pragma once

namespace shared {

// Makes QNetworkReply::NetworkError usable in queued connections under the
// name "QNetworkReply::NetworkError". Safe to call any number of times.
void registerNetworkMetaTypes();

} // namespace shared
