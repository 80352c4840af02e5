#pragma once

#include <QImage>
#include <QString>

#include <vector>

namespace artwork {

// One picture of the launcher's resources under the name the launcher loads
// it by (":/images/launcher/" + FileName).
struct TArtwork {
    QString FileName;
    QImage Image;
};

// Draws every picture the launcher uses, in a fixed order.
std::vector<TArtwork> drawLauncherArtwork();

} // namespace artwork
