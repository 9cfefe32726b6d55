#pragma once
// Message boxes, the system beep and the clipboard.
//
// Every box is in Japanese: its buttons read OK, はい(Y), いいえ(N) and キャンセル whatever the
// toolkit's own language, and its text can be selected and copied (paths, file names). A box
// that reports a failure carries the warning or the error icon.
#include <QMessageBox>
#include <QString>

#include <memory>

class QWidget;

namespace ubin::widgets {

enum class MessageKind {
    Information, // information icon: nothing went wrong
    Warning,     // warning icon: something failed, the program goes on
    Error,       // error icon: something failed, the program cannot go on
    Question,    // question icon
};

// A box of that kind, not yet shown. An empty title shows the program's title (ProgramTitle()),
// as the system's message boxes show the application's name. The buttons get their Japanese
// texts; `defaultButton` is the one Enter presses.
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, MessageKind kind, const QString& text,
                                            const QString& title, QMessageBox::StandardButtons buttons,
                                            QMessageBox::StandardButton defaultButton);

// OK button; the box is modal and these return when it is closed.
void ShowInformation(QWidget* parent, const QString& text, const QString& title = {});
void ShowWarning(QWidget* parent, const QString& text, const QString& title = {});
void ShowError(QWidget* parent, const QString& text, const QString& title = {});
// A warning box that does not wait: it stays open beside its parent while the program goes on
// serving. A parent has at most one such box; a later notice replaces the text of the open one,
// so a stream of notices leaves one box with the newest.
QMessageBox* ShowNotice(QWidget* parent, const QString& text, const QString& title = {});
// Yes and No buttons (Yes is the default); true when Yes was chosen.
bool AskYesNo(QWidget* parent, const QString& text, const QString& title = {});
// OK and Cancel buttons (OK is the default); true when OK was chosen. The question icon, or
// `kind` (a failure that asks how to go on shows the warning icon).
bool AskOkCancel(QWidget* parent, const QString& text, const QString& title = {},
                 MessageKind kind = MessageKind::Question);

// The title of boxes that name none: the program's title, else the application's name.
QString ProgramTitle();
void SetProgramTitle(const QString& title);

void Beep();

// Empties the clipboard, then puts the text on it as plain text.
void SetClipboardText(const QString& text);

} // namespace ubin::widgets
