#pragma once
// How the suite's controls behave where the toolkit's defaults differ from what users of the
// forms expect: Enter on a push button, and the choice event of an editable list.
class QComboBox;
class QWidget;

namespace ubin::widgets {

// Enter (Return, or Enter on the keypad) on a focused push button below `form` clicks it, as
// Space does. Outside a dialog a push button otherwise ignores Enter.
void EnterClicksButtons(QWidget* form);

// Makes the list's `activated` signal a choice by the user: it fires when an item is picked from
// the drop-down list or stepped to with the arrow keys on the closed list, never when the edit
// field holds a text equal to an item (typed by the user, or set by the program) and loses the
// focus or gets Enter, where the toolkit's editable list would otherwise pick that item. A typed
// text never becomes an item. Call it once the list is editable.
void ChoiceOnlyFromList(QComboBox* list);

} // namespace ubin::widgets
