#pragma once

#include <QString>

class QLabel;
class QUrl;

namespace shared {

// Text that came from a server or a file (package names, versions, hint captions, messages that
// quote them) is only ever words: a label guessing rich text from it would load pictures named in
// it (a local device or pipe included), draw tables over the window or show links. These show it
// as it is.

// Sets the label's text in plain-text mode.
void setServerText(QLabel* pLabel, const QString& Text);

// A tooltip that shows the text literally (tooltips guess rich text like labels do).
QString serverToolTip(const QString& Text);

// Only web addresses are fetched or opened for a server's links and pictures: never a local file,
// a resource of the program or inline data.
bool isWebAddress(const QUrl& Address);

} // namespace shared
