#pragma once
// Window positions and sizes are kept in twips, 1440 to the inch, and turned into pixels at the
// logical resolution of the screen a widget is on (96 dots per inch when there is no screen).
#include <QRect>
#include <QSize>

class QWidget;

namespace ubin::widgets {

inline constexpr int kTwipsPerInch = 1440;
inline constexpr double kFallbackDpi = 96.0;

// The name of the dynamic property that holds a widget's designed rectangle in twips (a QRect:
// left, top, width, height). Forms set it in their .ui files.
inline constexpr char kTwipsProperty[] = "twips";

struct Dpi {
    double x = kFallbackDpi;
    double y = kFallbackDpi;
};

// The logical resolution of the widget's screen, or of the primary screen when the widget is
// null; kFallbackDpi when there is none.
Dpi LogicalDpi(const QWidget* widget = nullptr);

// One length at the given resolution, rounded to the nearest integer, halves to the even one.
int TwipsToPixels(int twips, double dpi);
int PixelsToTwips(int pixels, double dpi);

// Each of left, top, width and height converted on its own axis.
QRect TwipsToPixels(const QRect& twips, Dpi dpi);
QRect PixelsToTwips(const QRect& pixels, Dpi dpi);
QSize TwipsToPixels(const QSize& twips, Dpi dpi);

enum class Fit {
    Exact,         // the rectangle as designed
    GrowToContent, // wider or taller when the content needs it; the left edge and the vertical
                   // centre stay (text in a substitute font often needs more room than designed)
};

// Moves and sizes the widget (within its parent) to a rectangle given in twips.
void PlaceByTwips(QWidget* widget, const QRect& twips, Fit fit = Fit::Exact);

// The widget's current geometry in twips.
QRect GeometryInTwips(const QWidget* widget);

// Places every descendant of `form` that carries kTwipsProperty; returns how many were placed.
int PlaceChildrenByTwips(QWidget* form, Fit fit = Fit::Exact);

// Gives a top-level window a fixed client size in twips.
void SetFixedSizeInTwips(QWidget* window, const QSize& twips);

} // namespace ubin::widgets
