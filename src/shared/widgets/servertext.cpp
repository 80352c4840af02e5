#include "shared/widgets/servertext.h"

#include <QLabel>
#include <QTextDocument>
#include <QUrl>

namespace shared {

void setServerText(QLabel* pLabel, const QString& Text) {
    pLabel->setTextFormat(Qt::PlainText);
    pLabel->setText(Text);
}

QString serverToolTip(const QString& Text) {
    return Qt::mightBeRichText(Text) ? Qt::convertFromPlainText(Text, Qt::WhiteSpaceNormal) : Text;
}

bool isWebAddress(const QUrl& Address) {
    const QString scheme = Address.scheme().toLower();
    return Address.isValid() && !Address.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

} // namespace shared
