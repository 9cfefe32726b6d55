#pragma once
// Types any text into a widget as a keyboard with an input method would, one character at a
// time (QTest::keyClicks takes ASCII only). Header-only: only the Qt tests include it.
#include <QString>
#include <QTest>
#include <QWidget>

namespace ubin::test {

inline void TypeText(QWidget* widget, const QString& text)
{
    for (const QChar c : text) QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

} // namespace ubin::test
