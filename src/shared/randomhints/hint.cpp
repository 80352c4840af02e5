#include "shared/randomhints/hint.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QTextDocumentFragment>

namespace shared {

namespace {

const QString RichTextPrefix = QStringLiteral("<style>a { color: #c0c0c0; }</style>");

QDateTime readDateTime(const QJsonObject& Object, const QString& Key) {
    const QString text = Object.value(Key).toString();
    if (text.isEmpty()) {
        return {};
    }
    return QDateTime::fromString(text, Qt::ISODate);
}

} // namespace

THint THint::fromJson(const QJsonObject& Object) {
    THint hint;
    hint.m_Title = Object.value(QStringLiteral("title")).toString();
    const QString richText = Object.value(QStringLiteral("richText")).toString();
    if (!richText.isEmpty()) {
        hint.m_RichText = RichTextPrefix + richText;
    }
    hint.m_ImageUrl = Object.value(QStringLiteral("imageUrl")).toString();
    hint.m_Category = Object.value(QStringLiteral("category")).toString();
    hint.m_Url = Object.value(QStringLiteral("url")).toString();
    hint.m_DisplayAfter = readDateTime(Object, QStringLiteral("displayAfter"));
    hint.m_DisplayUntil = readDateTime(Object, QStringLiteral("displayUntil"));
    hint.m_HasEmergencyFlag = Object.contains(QStringLiteral("emergency"));
    hint.m_Emergency = Object.value(QStringLiteral("emergency")).toBool(false);
    return hint;
}

QString THint::captionText() const {
    QString words = QTextDocumentFragment::fromHtml(m_RichText).toPlainText();
    words.remove(QChar::ObjectReplacementCharacter);
    return words.simplified();
}

} // namespace shared
