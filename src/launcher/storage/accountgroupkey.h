#pragma once

class QJsonObject;
class QString;

namespace mirrel::launcher {

// The account group key of an account group file's object: its string "Key".
// Anything else gives an empty key and exactly one warning naming the reason
// (Empty, KeyNotExists or KeyNoString).
QString accountGroupKeyFrom(const QJsonObject& accountGroup);

} // namespace mirrel::launcher
