#pragma once
// Colours as the forms store them: a 32-bit value 0x00BBGGRR (red in the low byte), or
// 0x800000nn naming system colour nn, which here is a role of the widget style's palette.
#include <QColor>
#include <QPalette>

#include <cstdint>
#include <optional>

class QWidget;

namespace ubin::widgets {

using BgrColour = std::uint32_t;

inline constexpr BgrColour kSystemColourBit = 0x80000000u;

// The colour of red, green and blue components 0..255 (out-of-range parts are clamped).
constexpr BgrColour Rgb(int r, int g, int b)
{
    auto c = [](int v) { return static_cast<BgrColour>(v < 0 ? 0 : v > 255 ? 255 : v); };
    return c(r) | c(g) << 8 | c(b) << 16;
}

inline constexpr bool IsSystemColour(BgrColour value) { return (value & kSystemColourBit) != 0; }

struct PaletteEntry {
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};

// The palette entry standing for system colour number `index` (see the table in colours.cpp);
// nothing for a number the system does not define.
std::optional<PaletteEntry> SystemColourEntry(int index);

// The colour a value stands for. A system colour is looked up in `palette`; an unknown system
// colour number gives black. For any other value only the low 24 bits count.
QColor ToQColor(BgrColour value, const QPalette& palette);
QColor ToQColor(BgrColour value); // system colours from the application's palette

// The 0x00BBGGRR value of a colour (alpha is dropped).
BgrColour ToBgr(const QColor& colour);

// Paints the widget's background in the colour: labels, option buttons and check boxes fill
// with it, text boxes and lists use it as their editing background. System colours resolve
// against the application's palette for the widget's class.
void SetBackColour(QWidget* widget, BgrColour value);
void SetBackColour(QWidget* widget, const QColor& colour);

} // namespace ubin::widgets
