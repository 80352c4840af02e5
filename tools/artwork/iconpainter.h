#pragma once

#include <QImage>
#include <QPainterPath>

namespace artwork {

// Glyphs: the Download, Update and Play icons of the action button, and the
// round badges of the footer (About, news and community links). The footer
// badges use plain generic glyphs: a broadcast for the news feed, two speech
// bubbles for the community chat.
class TIconPainter {
public:
    static constexpr int ButtonIconSize = 28;
    static constexpr int AboutBadgeSize = 18;
    static constexpr int LinkBadgeSize = 24;

    QImage downloadIcon() const;
    QImage updateIcon() const;
    QImage playIcon() const;

    QImage aboutBadge() const;
    QImage newsBadge() const;
    QImage communityBadge() const;

private:
    // A light glyph with a dark edge and a soft shadow, readable on every
    // button colour.
    QImage buttonGlyph(const QPainterPath& Glyph) const;
    // Glyph (drawn for a badge of Size) inside a dark disc with a bronze ring.
    QImage badge(int Size, const QPainterPath& Glyph, const QPainterPath& FaintGlyph = QPainterPath()) const;
};

} // namespace artwork
