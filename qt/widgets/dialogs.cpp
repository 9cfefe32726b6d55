#include "qt/widgets/dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>

namespace ubin::widgets {

namespace {

QString& StoredTitle()
{
    static QString title;
    return title;
}

QString TitleOr(const QString& title) { return title.isEmpty() ? ProgramTitle() : title; }

QMessageBox::Icon IconOf(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Information: return QMessageBox::Information;
    case MessageKind::Warning: return QMessageBox::Warning;
    case MessageKind::Error: return QMessageBox::Critical;
    case MessageKind::Question: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

// The captions of Japanese message boxes; the letter after & is the button's access key.
QString JapaneseCaption(QMessageBox::StandardButton button)
{
    switch (button) {
    case QMessageBox::Ok: return QStringLiteral("OK");
    case QMessageBox::Yes: return QStringLiteral("はい(&Y)");
    case QMessageBox::No: return QStringLiteral("いいえ(&N)");
    case QMessageBox::Cancel: return QStringLiteral("キャンセル");
    default: return {};
    }
}

QMessageBox::StandardButton Run(QWidget* parent, MessageKind kind, const QString& text, const QString& title,
                                QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    const std::unique_ptr<QMessageBox> box = MakeMessageBox(parent, kind, text, title, buttons, defaultButton);
    return static_cast<QMessageBox::StandardButton>(box->exec());
}

} // namespace

QString ProgramTitle()
{
    return StoredTitle().isEmpty() ? QCoreApplication::applicationName() : StoredTitle();
}

void SetProgramTitle(const QString& title) { StoredTitle() = title; }

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, MessageKind kind, const QString& text,
                                            const QString& title, QMessageBox::StandardButtons buttons,
                                            QMessageBox::StandardButton defaultButton)
{
    auto box = std::make_unique<QMessageBox>(IconOf(kind), TitleOr(title), text, buttons, parent);
    box->setTextFormat(Qt::PlainText); // file names and directory text are never markup
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->setDefaultButton(defaultButton);
    for (QAbstractButton* b : box->buttons()) {
        const QString caption = JapaneseCaption(box->standardButton(b));
        if (!caption.isEmpty()) b->setText(caption);
    }
    return box;
}

void ShowInformation(QWidget* parent, const QString& text, const QString& title)
{
    Run(parent, MessageKind::Information, text, title, QMessageBox::Ok, QMessageBox::Ok);
}

void ShowWarning(QWidget* parent, const QString& text, const QString& title)
{
    Run(parent, MessageKind::Warning, text, title, QMessageBox::Ok, QMessageBox::Ok);
}

void ShowError(QWidget* parent, const QString& text, const QString& title)
{
    Run(parent, MessageKind::Error, text, title, QMessageBox::Ok, QMessageBox::Ok);
}

QMessageBox* ShowNotice(QWidget* parent, const QString& text, const QString& title)
{
    static const QString kName = QStringLiteral("ubinNotice");
    QMessageBox* box = parent ? parent->findChild<QMessageBox*>(kName, Qt::FindDirectChildrenOnly) : nullptr;
    if (!box) {
        box = MakeMessageBox(parent, MessageKind::Warning, text, title, QMessageBox::Ok, QMessageBox::Ok).release();
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
    return Run(parent, MessageKind::Question, text, title, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
           == QMessageBox::Yes;
}

bool AskOkCancel(QWidget* parent, const QString& text, const QString& title, MessageKind kind)
{
    return Run(parent, kind, text, title, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) == QMessageBox::Ok;
}

void Beep() { QApplication::beep(); }

void SetClipboardText(const QString& text)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear(QClipboard::Clipboard);
    clipboard->setText(text, QClipboard::Clipboard);
}

} // namespace ubin::widgets
