#include "launcher/config/documenttrust.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace mirrel::launcher {

namespace {

const QLatin1String ExpiresKey("expires");
const QLatin1String SignatureSuffix(".sig");

QByteArray decodeBase64Strictly(const QByteArray& Text) {
    const QByteArray::FromBase64Result decoded = QByteArray::fromBase64Encoding(
        Text, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    return decoded ? decoded.decoded : QByteArray();
}

QByteArray withoutTrailingNewline(QByteArray Text) {
    if (Text.endsWith('\n')) {
        Text.chop(1);
    }
    if (Text.endsWith('\r')) {
        Text.chop(1);
    }
    return Text;
}

} // namespace

TDocumentTrust::TDocumentTrust(const QString& PublicKeyBase64)
    : m_Required(!PublicKeyBase64.trimmed().isEmpty())
    , m_Verifier(decodeBase64Strictly(PublicKeyBase64.trimmed().toLatin1())) {}

QString TDocumentTrust::signatureProblem(const QByteArray& Document, const QByteArray& SignatureText) const {
    if (!m_Required) {
        return QString();
    }
    // A key that cannot be used trusts nothing: a typing error must not switch the check off.
    if (!m_Verifier.isUsable()) {
        return QStringLiteral("the public key in the settings is not the base64 text of an Ed25519 key");
    }
    if (SignatureText.isEmpty()) {
        return QStringLiteral("the signature is missing");
    }
    const QByteArray signature = decodeBase64Strictly(withoutTrailingNewline(SignatureText));
    if (signature.size() != shared::TSignatureVerifier::SignatureSize) {
        return QStringLiteral("the signature is unreadable");
    }
    if (!m_Verifier.verify(Document, signature)) {
        return QStringLiteral("the signature does not match the document");
    }
    return QString();
}

QString TDocumentTrust::expiryProblem(const QByteArray& Document, const QDateTime& Now) const {
    if (!m_Required) {
        return QString();
    }
    const QJsonObject configuration = QJsonDocument::fromJson(Document).object();
    if (!configuration.contains(ExpiresKey)) {
        return QString();
    }
    const QString text = configuration.value(ExpiresKey).toString();
    QDateTime expires = QDateTime::fromString(text, Qt::ISODate);
    if (expires.timeSpec() == Qt::LocalTime) {
        // A time without an offset is UTC, never the player's own zone.
        expires.setTimeSpec(Qt::UTC);
    }
    if (!expires.isValid()) {
        return QStringLiteral("its expiry time \"%1\" is unreadable").arg(text);
    }
    if (Now >= expires) {
        return QStringLiteral("it expired at %1").arg(expires.toUTC().toString(Qt::ISODate));
    }
    return QString();
}

QUrl TDocumentTrust::signatureUrl(const QUrl& DocumentUrl) {
    QUrl url = DocumentUrl;
    url.setPath(DocumentUrl.path(QUrl::FullyEncoded) + SignatureSuffix, QUrl::TolerantMode);
    return url;
}

QString TDocumentTrust::signaturePath(const QString& DocumentPath) {
    return DocumentPath + SignatureSuffix;
}

} // namespace mirrel::launcher
