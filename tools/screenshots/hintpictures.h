#pragma once

#include <QByteArray>

namespace screenshots {

// PNG pictures for the three hint tiles: a sunset over the sea, a night
// citadel and a forest shrine, drawn at twice the tile size.
QByteArray drawHintPicture(int Variant);

} // namespace screenshots
