#include "qt/widgets/colours.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QWidget>

#include <array>

namespace ubin::widgets {

namespace {

constexpr auto A = QPalette::Active;
constexpr auto I = QPalette::Inactive;
constexpr auto D = QPalette::Disabled;

// System colour numbers (the classic desktop's colour indexes) and the palette entry that plays
// the same part in a Qt style. Where Qt has no matching role the nearest neighbour in colour
// and purpose is used:
//   - the desktop (1) and the scroll bar track (0) have no roles; the desktop takes Dark, the
//     track the window background it is drawn on;
//   - window captions (2, 3, 9, 19) are drawn by the window manager; their colours follow the
//     selection colours, active and inactive, as most window managers do;
//   - window borders (6, 10, 11) take the 3D shades of the button face they were drawn in;
//   - grey text (17) is disabled text.
// Numbers 25 and above 30 are not defined; 26-30 are the later additions (hot-tracking link,
// caption gradients, menu highlight and menu bar).
constexpr std::array<std::optional<PaletteEntry>, 31> kSystemColours{{
    PaletteEntry{A, QPalette::Window},          //  0 scroll bar
    PaletteEntry{A, QPalette::Dark},            //  1 desktop background
    PaletteEntry{A, QPalette::Highlight},       //  2 active window caption
    PaletteEntry{I, QPalette::Highlight},       //  3 inactive window caption
    PaletteEntry{A, QPalette::Window},          //  4 menu background
    PaletteEntry{A, QPalette::Base},            //  5 window background (text boxes, lists)
    PaletteEntry{A, QPalette::Shadow},          //  6 window frame
    PaletteEntry{A, QPalette::WindowText},      //  7 menu text
    PaletteEntry{A, QPalette::Text},            //  8 window text
    PaletteEntry{A, QPalette::HighlightedText}, //  9 active caption text
    PaletteEntry{A, QPalette::Button},          // 10 active border
    PaletteEntry{I, QPalette::Button},          // 11 inactive border
    PaletteEntry{A, QPalette::Mid},             // 12 application workspace (MDI background)
    PaletteEntry{A, QPalette::Highlight},       // 13 selected item background
    PaletteEntry{A, QPalette::HighlightedText}, // 14 selected item text
    PaletteEntry{A, QPalette::Button},          // 15 button face (3D face)
    PaletteEntry{A, QPalette::Dark},            // 16 button shadow
    PaletteEntry{D, QPalette::Text},            // 17 grey (disabled) text
    PaletteEntry{A, QPalette::ButtonText},      // 18 button text
    PaletteEntry{I, QPalette::HighlightedText}, // 19 inactive caption text
    PaletteEntry{A, QPalette::Light},           // 20 button highlight (3D highlight)
    PaletteEntry{A, QPalette::Shadow},          // 21 3D dark shadow
    PaletteEntry{A, QPalette::Midlight},        // 22 3D light
    PaletteEntry{A, QPalette::ToolTipText},     // 23 tooltip text
    PaletteEntry{A, QPalette::ToolTipBase},     // 24 tooltip background
    std::nullopt,                               // 25 not defined
    PaletteEntry{A, QPalette::Link},            // 26 hot-tracked item
    PaletteEntry{A, QPalette::Highlight},       // 27 active caption gradient
    PaletteEntry{I, QPalette::Highlight},       // 28 inactive caption gradient
    PaletteEntry{A, QPalette::Highlight},       // 29 highlighted menu item
    PaletteEntry{A, QPalette::Window},          // 30 menu bar
}};

} // namespace

std::optional<PaletteEntry> SystemColourEntry(int index)
{
    if (index < 0 || index >= static_cast<int>(kSystemColours.size())) return std::nullopt;
    return kSystemColours[static_cast<std::size_t>(index)];
}

QColor ToQColor(BgrColour value, const QPalette& palette)
{
    if (IsSystemColour(value)) {
        const BgrColour index = value & ~kSystemColourBit;
        const auto entry = index <= 0xFFu ? SystemColourEntry(static_cast<int>(index)) : std::nullopt;
        return entry ? palette.color(entry->group, entry->role) : QColor(0, 0, 0);
    }
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>(value >> 8 & 0xFF), static_cast<int>(value >> 16 & 0xFF));
}

QColor ToQColor(BgrColour value) { return ToQColor(value, QGuiApplication::palette()); }

BgrColour ToBgr(const QColor& colour) { return Rgb(colour.red(), colour.green(), colour.blue()); }

void SetBackColour(QWidget* widget, BgrColour value)
{
    SetBackColour(widget, ToQColor(value, QApplication::palette(widget)));
}

void SetBackColour(QWidget* widget, const QColor& colour)
{
    QPalette p = widget->palette();
    // The fill uses the widget's background role (Window for labels and frames, Button for
    // check boxes and option buttons); text boxes and lists edit on Base, and a closed list is
    // drawn as a button. Base is left alone elsewhere: it is the inside of a check box's or
    // option button's mark, which the background colour does not reach.
    p.setColor(QPalette::Window, colour); // every group
    p.setColor(widget->backgroundRole(), colour);
    if (qobject_cast<QLineEdit*>(widget) || qobject_cast<QAbstractScrollArea*>(widget)) {
        p.setColor(QPalette::Base, colour);
    } else if (qobject_cast<QComboBox*>(widget)) {
        p.setColor(QPalette::Base, colour);
        p.setColor(QPalette::Button, colour);
    }
    widget->setPalette(p);
    widget->setAutoFillBackground(true);
}

} // namespace ubin::widgets
