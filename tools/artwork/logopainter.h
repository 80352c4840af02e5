#pragma once

#include <QColor>
#include <QImage>
#include <QString>

class QPainter;

namespace artwork {

// The product's logo ("VANTOR" in bronze inside an orbit, "ONLINE" below)
// and the maker's logo.
class TLogoPainter {
public:
    // The package logos share this size with the small splash, whose size the
    // package rows use for their logo label.
    static constexpr int LogoWidth = 176;
    static constexpr int LogoHeight = 80;

    // The logo on a transparent ground, Scale times LogoWidth x LogoHeight.
    // Tag names a package variant ("CLASSIC", "BETA", ...) shown on a pill
    // under the name in TagColour; the main game has none.
    QImage vantorLogo(const QString& Tag, QRgb TagColour, qreal Scale = 1.0) const;

    // The logo of a package that cannot be started yet: grey and dimmed.
    static QImage disabled(const QImage& Logo);

    // The maker's logo for the footer: a ring with a tail and the name.
    QImage quorvaneLogo() const;

private:
    void paintOrbit(QPainter& Painter, bool Front) const;
    void paintName(QPainter& Painter) const;
    void paintSubtitle(QPainter& Painter) const;
    void paintTag(QPainter& Painter, const QString& Tag, QRgb TagColour) const;
};

} // namespace artwork
