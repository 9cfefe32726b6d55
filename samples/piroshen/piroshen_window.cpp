#include "samples/piroshen/piroshen_window.h"

#include "ui_piroshen_window.h"

#include "qt/widgets/colours.h"
#include "qt/widgets/controls.h"
#include "qt/widgets/dialogs.h"
#include "qt/widgets/fonts.h"
#include "qt/widgets/twips.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QProcess>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace ubin::piroshen {

namespace {

// The window's design fills a client area of 7125 by 3300 twips.
constexpr QSize kClientTwips{7125, 3300};

// The order in which ConnectLinks links the elements.
const char* const kConnectOrder[] = {"Label3", "Label4", "Text8", "Text10", "Text11", "Text15", "Text18"};
// What RequestLinkedTexts and RefreshResults ask for, in order.
const char* const kStartTexts[] = {"Text8", "Text10", "Text11", "Text15", "Text18"};
const char* const kResultTexts[] = {"Label3", "Label4", "Text10", "Text11", "Text15", "Text18"};
// What "消去" empties.
const char* const kClearedTexts[] = {"Text8", "Text10", "Text11", "Text15", "Text18", "Label3", "Label4"};

void ShowText(QWidget* widget, const QString& text)
{
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget); edit && edit->text() != text) {
        edit->setText(text);
    }
}

} // namespace

const QString PiroshenWindow::kTitle = QStringLiteral("郵便番号検索 DDE　サンプル");
const QString PiroshenWindow::kNoProgram = QStringLiteral("郵便番号簿がありません");
const QString PiroshenWindow::kWithoutMarubeta = QStringLiteral("郵便番号簿なしのまま開始します");
const QString PiroshenWindow::kLinkLost = QStringLiteral("郵便番号簿との接続が切れました");
const QString PiroshenWindow::kAskStartText = QStringLiteral("郵便番号簿を起動しますか");
const QString PiroshenWindow::kAskStartTitle = QStringLiteral("郵便番号簿が動作していません");
const QString PiroshenWindow::kStartFailedText =
    QStringLiteral("郵便番号簿は異常です\n\n郵便番号簿なしのまま開始します");

QString MarubetaBeside(const QString& folder)
{
#ifdef Q_OS_WIN
    return QDir(folder).filePath(QStringLiteral("marubeta.exe"));
#else
    return QDir(folder).filePath(QStringLiteral("marubeta"));
#endif
}

bool StartMinimised(const QString& program, qint64* pid)
{
    QProcess process;
    process.setProgram(program);
#ifdef Q_OS_WIN
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* args) {
        args->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        args->startupInfo->wShowWindow = SW_SHOWMINIMIZED;
    });
#endif
    // Elsewhere a program cannot be asked from outside to open minimised; Marubeta opens its
    // window as it always does.
    return process.startDetached(pid);
}

PiroshenWindow::PiroshenWindow(PiroshenSetup setup, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::PiroshenWindow>()), setup_(std::move(setup))
{
    ui_->setupUi(this);
    setFont(widgets::UiFont(QStringLiteral("ＭＳ Ｐゴシック"), 9));
    widgets::PlaceChildrenByTwips(this);
    widgets::SetFixedSizeInTwips(this, kClientTwips);
    widgets::SetBackColour(this, widgets::Rgb(192, 192, 192));

    // The link items are part of the design and never change.
    LinkWidget(ui_->Text8, QStringLiteral("ITUbin"));
    LinkWidget(ui_->Label3, QStringLiteral("IT1"));
    LinkWidget(ui_->Label4, QStringLiteral("IT2"));
    LinkWidget(ui_->Text18, QStringLiteral("IT6"));
    LinkWidget(ui_->Text10, QStringLiteral("IT3"));
    LinkWidget(ui_->Text11, QStringLiteral("IT4"));
    LinkWidget(ui_->Text15, QStringLiteral("IT5"));

    // Only the two halves of the postal code are watched; the text boxes' notices are ignored.
    connect(Linked(QStringLiteral("Label3")), &link::LinkedElement::LinkNotify, this, &PiroshenWindow::OnResultNotice);
    connect(Linked(QStringLiteral("Label4")), &link::LinkedElement::LinkNotify, this, &PiroshenWindow::OnResultNotice);

    // Enter in Text8 moves to the send button; Enter there sends, as Space does.
    widgets::EnterClicksButtons(this);
    connect(ui_->Command9, &QPushButton::clicked, this, &PiroshenWindow::Send);
    connect(ui_->Command1, &QPushButton::clicked, this, &PiroshenWindow::Clear);
    ui_->Text8->installEventFilter(this);

    retryTimer_.setInterval(setup_.retryEveryMs);
    connect(&retryTimer_, &QTimer::timeout, this, &PiroshenWindow::RetryConnect);

    ui_->Text8->setFocus();
}

PiroshenWindow::~PiroshenWindow() = default;

void PiroshenWindow::LinkWidget(QWidget* widget, const QString& item)
{
    auto* element = new link::LinkedElement(item, this);
    element->setObjectName(widget->objectName());
    element->SetText(ShowTextOf(widget));
    connect(element, &link::LinkedElement::TextChanged, widget, [widget](const QString& text) { ShowText(widget, text); });
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        connect(edit, &QLineEdit::textChanged, element, &link::LinkedElement::SetText);
    links_.push_back({widget, element});
}

QString PiroshenWindow::ShowTextOf(const QWidget* widget)
{
    if (auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
    if (auto* edit = qobject_cast<const QLineEdit*>(widget)) return edit->text();
    return {};
}

link::LinkedElement* PiroshenWindow::Linked(const QString& element) const
{
    for (const Link& l : links_)
        if (l.widget->objectName() == element) return l.element;
    return nullptr;
}

void PiroshenWindow::SetStatus(const QString& text) { ui_->Label1->setText(text); }

bool PiroshenWindow::Ask(const std::function<bool(const QString&, const QString&)>& hook, bool yesNo,
                         const QString& text, const QString& title)
{
    if (hook) return hook(text, title);
    QWidget* parent = isVisible() ? this : nullptr;
    // The OK/Cancel box tells that Marubeta could not be started: a failure.
    return yesNo ? widgets::AskYesNo(parent, text, title)
                 : widgets::AskOkCancel(parent, text, title, widgets::MessageKind::Warning);
}

QString PiroshenWindow::StartFailedMessage(const QString& program)
{
    return kStartFailedText
           + QStringLiteral("\n\n起動できなかったプログラム: %1\n"
                            "端末からこのプログラムを起動すると、起動できない理由が表示されます。")
                 .arg(QDir::toNativeSeparators(program));
}

void PiroshenWindow::Start()
{
    startingUp_ = true;
    linkState_ = 0;

    const QFileInfo program(setup_.marubetaProgram);
    if (!program.isFile() || program.size() == 0) {
        SetStatus(kNoProgram);
        ui_->Command9->setEnabled(false);
        startingUp_ = false;
        emit startUpFinished();
        return;
    }

    ConnectLinks();
    if (linkState_ == 0) {
        if (!Ask(setup_.askYesNo, true, kAskStartText, kAskStartTitle)) {
            SetStatus(kWithoutMarubeta);
            ui_->Command9->setEnabled(false);
            startingUp_ = false;
            emit startUpFinished();
            return;
        }
        const bool started = setup_.startProgram ? setup_.startProgram(setup_.marubetaProgram)
                                                 : StartMinimised(setup_.marubetaProgram);
        if (!started) {
            // The answer does not matter: the window goes on without Marubeta.
            Ask(setup_.askOkCancel, false, StartFailedMessage(setup_.marubetaProgram), QString());
            startingUp_ = false;
            emit startUpFinished();
            return;
        }
        ConnectLinks();
        if (linkState_ == 0) {
            // Marubeta is still starting: it is given some time to open its service.
            retryDeadline_ = QDateTime::currentMSecsSinceEpoch() + setup_.retryForMs;
            retryTimer_.start();
            return;
        }
    }
    FinishStartUp();
}

void PiroshenWindow::RetryConnect()
{
    ConnectLinks();
    if (linkState_ == 0 && QDateTime::currentMSecsSinceEpoch() < retryDeadline_) return;
    retryTimer_.stop();
    FinishStartUp();
}

void PiroshenWindow::FinishStartUp()
{
    RequestLinkedTexts();
    startingUp_ = false;
    emit startUpFinished();
}

void PiroshenWindow::ConnectLinks()
{
    ++busy_;
    const QString topic = setup_.linkService + QStringLiteral("|form1");
    for (const char* name : kConnectOrder) Linked(QString::fromLatin1(name))->SetLinkTopic(topic);
    bool linked = true;
    for (const char* name : kConnectOrder) {
        if (!Linked(QString::fromLatin1(name))->SetLinkMode(3)) {
            linked = false;
            break;
        }
    }
    EndBusy();
    if (!linked) {
        linkState_ = 0;
        return;
    }
    linkState_ = 1;
    SetStatus(kTitle);
    ui_->Command9->setEnabled(true);
}

bool PiroshenWindow::RequestLinkedTexts()
{
    ++busy_;
    bool ok = true;
    for (const char* name : kStartTexts) {
        if (!Linked(QString::fromLatin1(name))->LinkRequest()) {
            ok = false;
            break;
        }
    }
    EndBusy();
    return ok;
}

void PiroshenWindow::RefreshResults()
{
    ++busy_;
    bool ok = true;
    for (const char* name : kResultTexts) {
        if (!Linked(QString::fromLatin1(name))->LinkRequest()) {
            ok = false;
            break;
        }
    }
    EndBusy();
    if (!ok) {
        // Marubeta has gone: later notices are ignored until a send succeeds again.
        linkState_ = 0;
        SetStatus(kLinkLost);
    }
}

void PiroshenWindow::Send()
{
    ++busy_;
    const bool sent = Linked(QStringLiteral("Text8"))->LinkExecute(ui_->Text8->text());
    EndBusy();
    linkState_ = sent ? 2 : 0;
}

void PiroshenWindow::Clear()
{
    // Only the window's own texts: nothing is sent to Marubeta.
    for (const char* name : kClearedTexts) Linked(QString::fromLatin1(name))->SetText(QString());
    if (linkState_ > 0) linkState_ = 1;
    ui_->Text8->setFocus();
}

void PiroshenWindow::OnResultNotice()
{
    if (busy_ > 0) {
        noticePending_ = true;
        return;
    }
    if (linkState_ == 2) RefreshResults();
}

void PiroshenWindow::EndBusy()
{
    if (--busy_ > 0 || !noticePending_) return;
    noticePending_ = false;
    // Handled as a new event, once the handler that made the call has finished.
    QMetaObject::invokeMethod(this, &PiroshenWindow::OnResultNotice, Qt::QueuedConnection);
}

bool PiroshenWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui_->Text8 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        // The key itself goes on to the text box.
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && ui_->Command9->isEnabled()) ui_->Command9->setFocus();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace ubin::piroshen
