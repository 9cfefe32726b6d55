#include "qt/widgets/twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace ubin::widgets {

namespace {

double Sane(double dpi) { return dpi > 0 && std::isfinite(dpi) ? dpi : kFallbackDpi; }

int Round(double v) { return static_cast<int>(std::nearbyint(v)); } // the default mode rounds halves to even

} // namespace

Dpi LogicalDpi(const QWidget* widget)
{
    if (widget) return {Sane(widget->logicalDpiX()), Sane(widget->logicalDpiY())};
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            return {Sane(screen->logicalDotsPerInchX()), Sane(screen->logicalDotsPerInchY())};
    }
    return {};
}

int TwipsToPixels(int twips, double dpi) { return Round(twips * Sane(dpi) / kTwipsPerInch); }

int PixelsToTwips(int pixels, double dpi) { return Round(pixels * double(kTwipsPerInch) / Sane(dpi)); }

QRect TwipsToPixels(const QRect& t, Dpi dpi)
{
    return {TwipsToPixels(t.x(), dpi.x), TwipsToPixels(t.y(), dpi.y), TwipsToPixels(t.width(), dpi.x),
            TwipsToPixels(t.height(), dpi.y)};
}

QRect PixelsToTwips(const QRect& p, Dpi dpi)
{
    return {PixelsToTwips(p.x(), dpi.x), PixelsToTwips(p.y(), dpi.y), PixelsToTwips(p.width(), dpi.x),
            PixelsToTwips(p.height(), dpi.y)};
}

QSize TwipsToPixels(const QSize& t, Dpi dpi) { return {TwipsToPixels(t.width(), dpi.x), TwipsToPixels(t.height(), dpi.y)}; }

void PlaceByTwips(QWidget* widget, const QRect& twips, Fit fit)
{
    QRect r = TwipsToPixels(twips, LogicalDpi(widget));
    if (fit == Fit::GrowToContent) {
        const QSize hint = widget->sizeHint();
        if (hint.isValid()) {
            if (hint.width() > r.width()) r.setWidth(hint.width());
            if (hint.height() > r.height()) {
                const int centre2 = 2 * r.top() + r.height();
                r.setTop(std::max(0, (centre2 - hint.height()) / 2));
                r.setHeight(hint.height());
            }
        }
    }
    widget->setGeometry(r);
}

QRect GeometryInTwips(const QWidget* widget) { return PixelsToTwips(widget->geometry(), LogicalDpi(widget)); }

int PlaceChildrenByTwips(QWidget* form, Fit fit)
{
    int placed = 0;
    for (QWidget* child : form->findChildren<QWidget*>()) {
        const QVariant v = child->property(kTwipsProperty);
        if (!v.isValid() || !v.canConvert<QRect>()) continue;
        PlaceByTwips(child, v.toRect(), fit);
        ++placed;
    }
    return placed;
}

void SetFixedSizeInTwips(QWidget* window, const QSize& twips)
{
    window->setFixedSize(TwipsToPixels(twips, LogicalDpi(window)));
}

} // namespace ubin::widgets
