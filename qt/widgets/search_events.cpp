#include "qt/widgets/search_events.h"

#include "qt/widgets/controls.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>

namespace ubin::widgets {

namespace {

bool IsKey(QEvent* event, int key)
{
    return event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == key;
}

bool IsEnter(QEvent* event) { return IsKey(event, Qt::Key_Return) || IsKey(event, Qt::Key_Enter); }

template <class W>
W* Find(QWidget* form, std::string_view name)
{
    return form->findChild<W*>(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
}

} // namespace

SearchEvents::SearchEvents(QWidget* form, Search& search, Guard guard)
    : QObject(form), search_(search), guard_(std::move(guard))
{
    entry_ = Find<QLineEdit>(form, element::kITUbin);
    if (entry_) entry_->installEventFilter(this);
    for (int i = 0; i < 4; ++i) {
        combos_[i] = Find<QComboBox>(form, element::kCombos[i]);
        if (!combos_[i]) continue;
        if (i < 3) {
            combos_[i]->installEventFilter(this);
            if (combos_[i]->lineEdit()) combos_[i]->lineEdit()->installEventFilter(this);
        }
        // A choice is the user's pick from the list, never a text typed or set by the program.
        ChoiceOnlyFromList(combos_[i]);
        connect(combos_[i], &QComboBox::activated, this, [this, i] {
            Run([&] { search_.ComboClick(static_cast<int>(i)); });
        });
    }
    // Option button n selects search mode n.
    for (int mode = 1; mode <= 5; ++mode)
        if (auto* option = Find<QRadioButton>(form, element::kOptions[mode - 1]))
            connect(option, &QRadioButton::clicked, this, [this, mode] { Run([&] { search_.SwitchMode(mode); }); });
    auto button = [&](std::string_view name, std::function<void()> click) {
        if (auto* b = Find<QPushButton>(form, name))
            connect(b, &QPushButton::clicked, this, [this, click = std::move(click)] { Run(click); });
    };
    button(element::kCommand2, [this] { search_.Command2_Click(); });
    button(element::kCommand1, [this] { search_.Command1_Click(); });

    // The paging buttons, and PageUp and PageDown for them while they are enabled (otherwise
    // the keys keep their meaning in the focused element, as in a list).
    const std::string_view pagingNames[2] = {element::kCommand7, element::kCommand8};
    const QKeySequence pagingKeys[2] = {QKeySequence(Qt::Key_PageUp), QKeySequence(Qt::Key_PageDown)};
    for (int i = 0; i < 2; ++i) {
        paging_[i] = Find<QPushButton>(form, pagingNames[i]);
        if (!paging_[i]) continue;
        paging_[i]->installEventFilter(this);
        connect(paging_[i], &QPushButton::clicked, this, [this, i] { Page(i); });
        pageKeys_[i] = new QShortcut(pagingKeys[i], form, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
        pageKeys_[i]->setEnabled(paging_[i]->isEnabled());
        connect(pageKeys_[i], &QShortcut::activated, this, [this, i] {
            if (paging_[i]->isEnabled()) paging_[i]->click();
        });
    }

    EnterClicksButtons(form);
}

void SearchEvents::Page(int index)
{
    const bool byMouse = pressedByMouse_[index];
    pressedByMouse_[index] = false;
    Run([&] {
        if (index == 0) search_.Command7_Click();
        else search_.Command8_Click();
    });
    // Typing goes on in the entry box after a click with the mouse.
    if (byMouse && entry_ && entry_->isEnabled()) entry_->setFocus(Qt::MouseFocusReason);
}

bool SearchEvents::EntryEvent(QEvent* event)
{
    if (IsEnter(event)) {
        std::int16_t key = kKeyEnter;
        Run([&] { search_.ITUbin_KeyPress(key); });
        return key == 0;
    }
    if (IsKey(event, Qt::Key_Escape) && !entry_->text().isEmpty()) {
        // Emptied as the user would empty it, so the change reaches whoever watches the typing.
        entry_->selectAll();
        entry_->del();
        return true;
    }
    if (event->type() == QEvent::MouseButtonDblClick) Run([&] { search_.ITUbin_DblClick(); });
    return false;
}

bool SearchEvents::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == entry_) return EntryEvent(event);
    for (int i = 0; i < 2; ++i) {
        if (watched != paging_[i]) continue;
        if (event->type() == QEvent::MouseButtonPress) pressedByMouse_[i] = true;
        else if (event->type() == QEvent::KeyPress) pressedByMouse_[i] = false;
        else if (event->type() == QEvent::EnabledChange) pageKeys_[i]->setEnabled(paging_[i]->isEnabled());
        return false;
    }
    if (!IsEnter(event)) return false;
    // Enter in one of the first three lists moves the focus on to the next.
    std::int16_t key = kKeyEnter;
    for (int i = 0; i < 3; ++i) {
        QComboBox* c = combos_[i];
        if (!c || (watched != c && watched != c->lineEdit())) continue;
        if (i == 0) search_.Combo1_KeyPress(key);
        else if (i == 1) search_.Combo2_KeyPress(key);
        else search_.Combo3_KeyPress(key);
        break;
    }
    return key == 0;
}

} // namespace ubin::widgets
