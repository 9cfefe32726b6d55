#pragma once
// Connects the events of a search form's elements to the search logic: the mode buttons, the
// paging, clear and clip buttons, Enter and double click in the entry box, Enter in the first
// three lists, and the user's choice in each list. The search window and the control share it,
// and with it the keys a data-entry clerk expects:
// - PageDown and PageUp click 次候補 and 前候補 (when enabled), wherever the focus is on the form;
// - after a mouse click on a paging button the focus goes back to the entry box, so typing goes
//   on (Space or Enter on a focused paging button leaves the focus there, to page on);
// - Escape in the entry box empties it (an edit of the user's, which Ctrl+Z undoes);
// - Enter on a focused push button clicks it;
// - a list fires its choice only when the user picks an item from it, never from a text typed
//   or set by the program.
#include "form/search.h"

#include <QObject>
#include <functional>

class QComboBox;
class QLineEdit;
class QPushButton;
class QShortcut;
class QWidget;

namespace ubin::widgets {

class SearchEvents : public QObject {
    Q_OBJECT

public:
    // Runs one event's handler; the form decides what to do with a directory error.
    using Guard = std::function<void(const std::function<void()>& handler)>;

    // The elements are found below `form` by their names; missing ones are skipped.
    SearchEvents(QWidget* form, Search& search, Guard guard);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Run(const std::function<void()>& handler) { guard_(handler); }
    // A click on 前候補 (index 0) or 次候補 (index 1).
    void Page(int index);
    bool EntryEvent(QEvent* event);

    Search& search_;
    Guard guard_;
    QLineEdit* entry_ = nullptr;
    QComboBox* combos_[4] = {};
    QPushButton* paging_[2] = {};   // Command7, Command8
    QShortcut* pageKeys_[2] = {};   // PageUp, PageDown
    bool pressedByMouse_[2] = {};
};

} // namespace ubin::widgets
