#pragma once

#include <QString>

namespace mirrel::launcher {

// The launcher's text look as style sheet declarations, at a pixel size of
// 11 (hints, footer) or 13 (package rows).
QString launcherTextStyle(int PixelSize);

} // namespace mirrel::launcher
