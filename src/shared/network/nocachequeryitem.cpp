#include "shared/network/nocachequeryitem.h"

#include "shared/randomnumbergenerator/randomnumbergenerator.h"

#include <QUrlQuery>

namespace shared {

namespace {

const char NocacheAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const int NocacheAlphabetSize = int(sizeof(NocacheAlphabet)) - 1;
const int NocacheLength = 32;

} // namespace

QUrl addNocacheQueryItem(const QUrl& Url) {
    if (!Url.isValid())
        return Url;
    const std::shared_ptr<TRandomNumberGenerator> random = TRandomNumberGenerator::instance();
    QString value;
    value.reserve(NocacheLength);
    for (int i = 0; i < NocacheLength; ++i)
        value += QLatin1Char(NocacheAlphabet[random->uniformUnsigned(0, NocacheAlphabetSize - 1)]);
    QUrlQuery query(Url);
    query.addQueryItem(QStringLiteral("nocache"), value);
    QUrl result = Url;
    result.setQuery(query);
    return result;
}

} // namespace shared
