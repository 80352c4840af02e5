#include "shared/randomhints/randomhints.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>

namespace shared {

namespace {

bool isInDisplayWindow(const THint& Hint, const QDateTime& NowUtc) {
    if (Hint.m_DisplayAfter.isValid() && Hint.m_DisplayAfter > NowUtc) {
        return false;
    }
    if (Hint.m_DisplayUntil.isValid() && Hint.m_DisplayUntil < NowUtc) {
        return false;
    }
    return true;
}

bool hasDisplayWindow(const THint& Hint) {
    return Hint.m_DisplayAfter.isValid() || Hint.m_DisplayUntil.isValid();
}

} // namespace

std::vector<THint> parseHints(const QByteArray& Data) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(Data, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        qWarning() << "Could not parse hints file at offset" << parseError.offset << ":"
                   << parseError.errorString();
        return {};
    }

    std::vector<THint> hints;
    const QJsonArray entries = document.array();
    for (const QJsonValue& entry : entries) {
        THint hint = THint::fromJson(entry.toObject());
        if (!hint.m_RichText.isEmpty()) {
            hints.push_back(std::move(hint));
        }
    }
    return hints;
}

std::optional<THint> selectCurrentHint(const std::vector<THint>& Hints, const QDateTime& NowUtc) {
    const auto emergency =
        std::find_if(Hints.begin(), Hints.end(), [](const THint& Hint) { return Hint.m_Emergency; });
    if (emergency != Hints.end()) {
        return *emergency;
    }

    std::vector<THint> candidates;
    std::copy_if(Hints.begin(), Hints.end(), std::back_inserter(candidates), [&](const THint& Hint) {
        return !Hint.m_HasEmergencyFlag && isInDisplayWindow(Hint, NowUtc);
    });
    if (candidates.empty()) {
        return std::nullopt;
    }

    const auto dated = std::find_if(candidates.begin(), candidates.end(), hasDisplayWindow);
    if (dated != candidates.end()) {
        return *dated;
    }
    const quint64 milliseconds = static_cast<quint64>(NowUtc.toMSecsSinceEpoch());
    return candidates[milliseconds % candidates.size()];
}

std::optional<THint> selectCurrentHint(const std::vector<THint>& Hints) {
    return selectCurrentHint(Hints, QDateTime::currentDateTimeUtc());
}

} // namespace shared
