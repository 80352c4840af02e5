#pragma once

#include <QDateTime>
#include <QString>

class QJsonObject;

namespace shared {

// One entry of the hints document: a tile of the hint box, shown in the
// section its category names ("cat1" left, "cat2" middle, "cat3" right).
struct THint {
    QString m_Title;
    // Stored with a style prefix that colours links like the rest of the launcher.
    QString m_RichText;
    QString m_ImageUrl;
    QString m_Category;
    // Where a click on the tile leads.
    QString m_Url;
    // Invalid when absent or not an ISO 8601 date and time.
    QDateTime m_DisplayAfter;
    QDateTime m_DisplayUntil;
    // An "emergency" key of any value takes the hint out of the date and random rules.
    bool m_HasEmergencyFlag = false;
    bool m_Emergency = false;

    static THint fromJson(const QJsonObject& Object);

    // The words of the hint's text without its markup: what a tile's caption shows. Pictures and
    // links named in the markup are dropped, never loaded.
    QString captionText() const;
};

} // namespace shared
