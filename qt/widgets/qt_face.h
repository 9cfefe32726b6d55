#pragma once
// The search logic's face over a form's widgets, found by their object names (the element
// names: "ITUbin", "IT1", "Combo1", "Option1" ...). Labels, text boxes, buttons, option buttons
// and editable lists are supported; an element the form lacks is ignored on write and reads
// as empty, so a form may leave out what it does not show.
#include "form/search_face.h"

#include <QObject>
#include <QString>
#include <functional>

class QComboBox;
class QWidget;

namespace ubin::widgets {

QString ToQString(std::u16string_view text);
std::u16string ToU16(const QString& text);

class QtSearchFace : public ubin::SearchFace {
public:
    explicit QtSearchFace(QWidget* form);

    std::u16string Text(std::string_view element) const override;
    void SetEnabled(std::string_view element, bool enabled) override;
    bool IsEnabled(std::string_view element) const override;
    void SetBackColour(std::string_view element, std::uint32_t colour) override;
    void SetFocus(std::string_view element) override;
    void SetChecked(std::string_view option, bool checked) override;
    bool IsChecked(std::string_view option) const override;
    void ClearItems(std::string_view list) override;
    void AddItem(std::string_view list, std::u16string_view item) override;
    std::u16string EditText(std::string_view list) const override;
    void Beep() override;
    void SetClipboardText(std::u16string_view text) override;

    // The widget named `element`, or null.
    QWidget* Widget(std::string_view element) const;
    QWidget* form() const { return form_; }

    // Replaces the beep and the clipboard, for a control whose host wants to see them.
    std::function<void()> beepHook;

    // Told of every change the user makes to a text box of the form (typing, pasting, cutting,
    // undoing), with the box's element name and its new text. Texts the logic writes through
    // the face are not reported here: SetTextObserver sees those.
    using UserEditObserver = std::function<void(const QString& element, const QString& text)>;
    void SetUserEditObserver(UserEditObserver observer);

protected:
    void WriteText(std::string_view element, std::u16string_view text) override;
    void WriteEditText(std::string_view list, std::u16string_view text) override;

private:
    QComboBox* Combo(std::string_view list) const;

    QWidget* form_;
};

} // namespace ubin::widgets
