#pragma once
// Message boxes, the system beep and the clipboard.
#include <QString>

class QMessageBox;
class QWidget;

namespace ubin::forms {

// An empty title shows the application's name, as the system's message boxes do.

// Information icon, OK button.
void ShowInformation(QWidget* parent, const QString& text, const QString& title = {});
// Information icon, OK button, without waiting: the box stays open beside its parent while the
// program goes on serving. A parent has at most one such box; a later notice replaces the text
// of the open one, so a stream of notices leaves one box with the newest.
QMessageBox* ShowNotice(QWidget* parent, const QString& text, const QString& title = {});
// Question icon, Yes and No buttons (Yes is the default); true when Yes was chosen.
bool AskYesNo(QWidget* parent, const QString& text, const QString& title = {});
// Question icon, OK and Cancel buttons (OK is the default); true when OK was chosen.
bool AskOkCancel(QWidget* parent, const QString& text, const QString& title = {});

void Beep();

// Empties the clipboard, then puts the text on it as plain text.
void SetClipboardText(const QString& text);

} // namespace ubin::forms
