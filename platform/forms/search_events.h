#pragma once
// Connects the events of a search form's elements to the search logic: the mode buttons, the
// paging, clear and clip buttons, Enter and double click in the entry box, Enter in the first
// three lists, and the user's choice in each list. The search window and the control share it.
#include "search/search.h"

#include <QObject>
#include <functional>

class QComboBox;
class QLineEdit;
class QWidget;

namespace ubin::forms {

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

    Search& search_;
    Guard guard_;
    QLineEdit* entry_ = nullptr;
    QComboBox* combos_[4] = {};
};

} // namespace ubin::forms
