#pragma once
// The fonts the forms are designed in are Japanese Windows fonts; where they are not installed
// the project's CJK font stands in.
#include <QFont>
#include <QString>

namespace ubin::widgets {

// The CJK font the project installs (package fonts-noto-cjk).
inline constexpr char kCjkFontFamily[] = "Noto Sans CJK JP";

// `preferred` when that family is installed, else kCjkFontFamily when installed, else the
// application's default family.
QString UiFontFamily(const QString& preferred);

// A font of that family and point size.
QFont UiFont(const QString& preferred, qreal pointSize);

} // namespace ubin::widgets
