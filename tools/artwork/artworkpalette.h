#pragma once

#include <QColor>

namespace artwork::palette {

// The launcher's text, link and hover colours, set by its style sheets; every
// picture is drawn to sit well beside them.
constexpr QRgb Text = qRgb(0xDA, 0xDA, 0xBC);
constexpr QRgb Link = qRgb(0xC0, 0xC0, 0xC0);
constexpr QRgb Hover = qRgb(0x8E, 0xD8, 0x38);

// Night slate: the window, the panels and the recessed parts.
constexpr QRgb Night = qRgb(0x05, 0x07, 0x0C);
constexpr QRgb Slate900 = qRgb(0x0C, 0x10, 0x16);
constexpr QRgb Slate800 = qRgb(0x13, 0x19, 0x21);
constexpr QRgb Slate700 = qRgb(0x1C, 0x24, 0x2F);
constexpr QRgb Slate600 = qRgb(0x28, 0x33, 0x40);
constexpr QRgb Slate500 = qRgb(0x38, 0x46, 0x56);
constexpr QRgb Slate400 = qRgb(0x55, 0x64, 0x78);

// Bronze: rims, frames and the product's name.
constexpr QRgb BronzeShadow = qRgb(0x2E, 0x20, 0x10);
constexpr QRgb BronzeDark = qRgb(0x4E, 0x37, 0x1B);
constexpr QRgb Bronze = qRgb(0x8C, 0x6A, 0x3A);
constexpr QRgb BronzeLight = qRgb(0xC8, 0xA4, 0x63);
constexpr QRgb BronzeHighlight = qRgb(0xF2, 0xDE, 0xAA);

// The glow of the sky and of the package tags.
constexpr QRgb Aurora = qRgb(0x4F, 0xC2, 0xA6);
constexpr QRgb Ember = qRgb(0xD8, 0x8A, 0x3C);

// Light glyphs on coloured buttons.
constexpr QRgb Glyph = qRgb(0xF6, 0xF1, 0xDA);

} // namespace artwork::palette
