#include "qt/widgets/qt_face.h"

#include "qt/widgets/colours.h"
#include "qt/widgets/dialogs.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTextEdit>
#include <QWidget>

#include <memory>

namespace ubin::widgets {

QString ToQString(std::u16string_view text)
{
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

std::u16string ToU16(const QString& text)
{
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size()));
}

QtSearchFace::QtSearchFace(QWidget* form) : form_(form) {}

QWidget* QtSearchFace::Widget(std::string_view element) const
{
    const QString name = QString::fromUtf8(element.data(), static_cast<qsizetype>(element.size()));
    if (form_->objectName() == name) return form_;
    return form_->findChild<QWidget*>(name);
}

QComboBox* QtSearchFace::Combo(std::string_view list) const { return qobject_cast<QComboBox*>(Widget(list)); }

std::u16string QtSearchFace::Text(std::string_view element) const
{
    QWidget* w = Widget(element);
    if (auto* label = qobject_cast<QLabel*>(w)) return ToU16(label->text());
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return ToU16(edit->text());
    if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) return ToU16(plain->toPlainText());
    if (auto* rich = qobject_cast<QTextEdit*>(w)) return ToU16(rich->toPlainText());
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return ToU16(button->text());
    if (auto* combo = qobject_cast<QComboBox*>(w)) return ToU16(combo->currentText());
    return {};
}

void QtSearchFace::WriteText(std::string_view element, std::u16string_view text)
{
    QWidget* w = Widget(element);
    const QString t = ToQString(text);
    if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setTextFormat(Qt::PlainText); // directory text is never markup
        label->setText(t);
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(t);
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
        // A multi-line box tells of every change of its text; one the logic writes is no edit
        // of the user's (see SetUserEditObserver).
        const QSignalBlocker block(plain);
        plain->setPlainText(t);
    } else if (auto* rich = qobject_cast<QTextEdit*>(w)) {
        const QSignalBlocker block(rich);
        rich->setPlainText(t);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(t);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        combo->setEditText(t);
    }
}

void QtSearchFace::SetEnabled(std::string_view element, bool enabled)
{
    if (QWidget* w = Widget(element)) w->setEnabled(enabled);
}

bool QtSearchFace::IsEnabled(std::string_view element) const
{
    QWidget* w = Widget(element);
    return w && w->isEnabled();
}

void QtSearchFace::SetBackColour(std::string_view element, std::uint32_t colour)
{
    if (QWidget* w = Widget(element)) widgets::SetBackColour(w, colour);
}

void QtSearchFace::SetFocus(std::string_view element)
{
    // A window that cannot take the focus yet (hidden, or not active) only records it.
    if (QWidget* w = Widget(element); w && w->isEnabled()) w->setFocus(Qt::OtherFocusReason);
}

void QtSearchFace::SetChecked(std::string_view option, bool checked)
{
    // Programmatic selection emits no click, so the mode switch runs only where the logic calls it.
    if (auto* b = qobject_cast<QAbstractButton*>(Widget(option))) {
        if (!checked && b->autoExclusive() && b->isChecked()) {
            b->setAutoExclusive(false);
            b->setChecked(false);
            b->setAutoExclusive(true);
        } else {
            b->setChecked(checked);
        }
    }
}

bool QtSearchFace::IsChecked(std::string_view option) const
{
    auto* b = qobject_cast<QAbstractButton*>(Widget(option));
    return b && b->isChecked();
}

void QtSearchFace::ClearItems(std::string_view list)
{
    QComboBox* c = Combo(list);
    if (!c) return;
    // Removing the items must leave the edit text as it is, and fire no choice.
    const QSignalBlocker block(c);
    const QString text = c->currentText();
    c->clear();
    if (c->isEditable()) c->setEditText(text);
}

void QtSearchFace::AddItem(std::string_view list, std::u16string_view item)
{
    QComboBox* c = Combo(list);
    if (!c) return;
    // Adding the first item would make it the current one and overwrite the edit text.
    const QSignalBlocker block(c);
    const QString text = c->currentText();
    c->addItem(ToQString(item));
    if (c->isEditable()) {
        c->setCurrentIndex(-1);
        c->setEditText(text);
    }
}

std::u16string QtSearchFace::EditText(std::string_view list) const
{
    QComboBox* c = Combo(list);
    return c ? ToU16(c->currentText()) : std::u16string();
}

void QtSearchFace::WriteEditText(std::string_view list, std::u16string_view text)
{
    QComboBox* c = Combo(list);
    if (!c) return;
    const QSignalBlocker block(c);
    if (c->isEditable()) c->setEditText(ToQString(text));
}

void QtSearchFace::SetUserEditObserver(UserEditObserver observer)
{
    // The connections outlive neither the form nor need the face: they hold the observer alone.
    auto shared = std::make_shared<UserEditObserver>(std::move(observer));
    for (QLineEdit* edit : form_->findChildren<QLineEdit*>()) {
        if (edit->objectName().isEmpty() || qobject_cast<QComboBox*>(edit->parentWidget())) continue;
        QObject::connect(edit, &QLineEdit::textEdited, edit, [shared, edit](const QString& text) {
            (*shared)(edit->objectName(), text);
        });
    }
    for (QPlainTextEdit* plain : form_->findChildren<QPlainTextEdit*>()) {
        QObject::connect(plain, &QPlainTextEdit::textChanged, plain, [shared, plain] {
            (*shared)(plain->objectName(), plain->toPlainText());
        });
    }
    for (QTextEdit* rich : form_->findChildren<QTextEdit*>()) {
        QObject::connect(rich, &QTextEdit::textChanged, rich, [shared, rich] {
            (*shared)(rich->objectName(), rich->toPlainText());
        });
    }
}

void QtSearchFace::Beep()
{
    if (beepHook) beepHook();
    else widgets::Beep();
}

void QtSearchFace::SetClipboardText(std::u16string_view text) { widgets::SetClipboardText(ToQString(text)); }

} // namespace ubin::widgets
