#include "platform/forms/dialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QMessageBox>

namespace ubin::forms {

namespace {

QString TitleOr(const QString& title) { return title.isEmpty() ? QCoreApplication::applicationName() : title; }

} // namespace

void ShowInformation(QWidget* parent, const QString& text, const QString& title)
{
    QMessageBox::information(parent, TitleOr(title), text, QMessageBox::Ok, QMessageBox::Ok);
}

QMessageBox* ShowNotice(QWidget* parent, const QString& text, const QString& title)
{
    static const QString kName = QStringLiteral("ubinNotice");
    QMessageBox* box = parent ? parent->findChild<QMessageBox*>(kName, Qt::FindDirectChildrenOnly) : nullptr;
    if (!box) {
        box = new QMessageBox(QMessageBox::Information, TitleOr(title), text, QMessageBox::Ok, parent);
        box->setObjectName(kName);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
    }
    box->setText(text);
    box->show();
    return box;
}

bool AskYesNo(QWidget* parent, const QString& text, const QString& title)
{
    return QMessageBox::question(parent, TitleOr(title), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
           == QMessageBox::Yes;
}

bool AskOkCancel(QWidget* parent, const QString& text, const QString& title)
{
    return QMessageBox::question(parent, TitleOr(title), text, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok)
           == QMessageBox::Ok;
}

void Beep() { QApplication::beep(); }

void SetClipboardText(const QString& text)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear(QClipboard::Clipboard);
    clipboard->setText(text, QClipboard::Clipboard);
}

} // namespace ubin::forms
