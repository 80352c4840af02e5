#include "launcher/ui/launcherstyle.h"

namespace mirrel::launcher {

QString launcherTextStyle(int PixelSize) {
    return QStringLiteral("font-family: \"Liberation Sans\"; font-variant: small-caps; font-weight: bold; "
                          "color: #DADABC; font-size: %1px;")
        .arg(PixelSize);
}

} // namespace mirrel::launcher
