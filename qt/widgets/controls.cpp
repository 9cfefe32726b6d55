#include "qt/widgets/controls.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

namespace ubin::widgets {

void EnterClicksButtons(QWidget* form)
{
    // An auto-default push button clicks on Enter when it has the focus, in a dialog or not.
    for (QPushButton* button : form->findChildren<QPushButton*>()) button->setAutoDefault(true);
}

void ChoiceOnlyFromList(QComboBox* list)
{
    // The editable list picks the item equal to its edit text, and fires `activated`, when the
    // edit field finishes editing (loses the focus, or gets Enter). Only that link is cut: a pick
    // from the drop-down or with the arrow keys still fires.
    if (QLineEdit* edit = list->lineEdit()) QObject::disconnect(edit, &QLineEdit::editingFinished, list, nullptr);
    // Enter would also add the typed text as an item, or pick the item it equals.
    list->setInsertPolicy(QComboBox::NoInsert);
}

} // namespace ubin::widgets
