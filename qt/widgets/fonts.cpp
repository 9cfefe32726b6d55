#include "qt/widgets/fonts.h"

#include <QApplication>
#include <QFontDatabase>

namespace ubin::widgets {

QString UiFontFamily(const QString& preferred)
{
    if (!preferred.isEmpty() && QFontDatabase::hasFamily(preferred)) return preferred;
    const QString cjk = QString::fromLatin1(kCjkFontFamily);
    if (QFontDatabase::hasFamily(cjk)) return cjk;
    return QApplication::font().family();
}

QFont UiFont(const QString& preferred, qreal pointSize)
{
    QFont font(UiFontFamily(preferred));
    font.setPointSizeF(pointSize);
    return font;
}

} // namespace ubin::widgets
