#include "marubeta/marubeta_window.h"

#include "base/errors.h"
#include "marubeta/clip_items_dialog.h"
#include "platform/forms/colours.h"
#include "platform/forms/dialogs.h"
#include "platform/forms/fonts.h"
#include "platform/forms/search_events.h"
#include "platform/forms/twips.h"
#include "ui_marubeta_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cmath>
#include <cstdio>

namespace ubin {

namespace {

// The window's design fills its client area of 5880 by 5010 twips.
const QSize kClientTwips(5880, 5010);

// The window's own lookups record where the window stands; the control does not.
class WindowSearch : public Search {
public:
    WindowSearch(SearchFace& face, DirectoryState& dir, const ClipFlags& flags, MarubetaWindow& window)
        : Search(face, dir, flags), window_(window) {}

protected:
    void CaptureWindowPosition() override { window_.CaptureWindowPosition(); }

private:
    MarubetaWindow& window_;
};

QString UnreadableSettingsKeptMessage(const SavedSettings& saved, const std::filesystem::path& path)
{
    const QString file = QString::fromStdString(path.string());
    const QString kept = QString::fromStdString(saved.keptUnreadable.string());
    return QStringLiteral("設定ファイル %1 を読み取れなかったため、上書きせずに %2 として残しました。\n"
                          "理由: %3\n"
                          "今回の設定は新しい %1 に保存しました。残したファイルの値が必要なら、そこから写してください。")
        .arg(file, kept, QString::fromStdString(saved.whyUnreadable));
}

} // namespace

QString SettingsNotFoundMessage()
{
    return QStringLiteral("システム管理ファイルがみつかりません\n呼び出し元に Ubscon.def が必要です");
}

MarubetaWindow::MarubetaWindow(const PlaceContext& places, QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::MarubetaWindow>())
{
    reportError = [this](const QString& message) { forms::ShowInformation(this, message, windowTitle()); };
    ui_->setupUi(this);
    ApplyFont();

    LoadSettings(places);
    directory_.dataFolder = settings_.dataFolder;
    directory_.StartUp();

    face_ = std::make_unique<forms::QtSearchFace>(ui_->centralwidget);
    search_ = std::make_unique<WindowSearch>(*face_, directory_, settings_.clipFlags, *this);

    const forms::Dpi dpi = forms::LogicalDpi(this);
    move(forms::TwipsToPixels(settings_.windowLeft, dpi.x), forms::TwipsToPixels(settings_.windowTop, dpi.y));
    search_->Start();
    ui_->ITUbin->setFocus(Qt::OtherFocusReason);
    ConnectEvents();
}

MarubetaWindow::~MarubetaWindow() = default;

void MarubetaWindow::LoadSettings(const PlaceContext& places)
{
    std::vector<std::string> tried;
    auto found = FindSettings(SettingsPlaces(Program::Marubeta, places), &tried);
    if (!found) throw SettingsNotFound(std::move(tried));
    settings_ = std::move(found->settings);
    // Whichever place supplied them, the settings go back to the Windows folder at exit.
    savePath_ = SettingsSavePath(places);
}

void MarubetaWindow::ApplyFont()
{
    setFont(forms::UiFont(QStringLiteral("ＭＳ Ｐゴシック"), 9));
    forms::PlaceChildrenByTwips(ui_->centralwidget);
    ui_->centralwidget->setFixedSize(forms::TwipsToPixels(kClientTwips, forms::LogicalDpi(this)));
    for (QLabel* result : {ui_->IT1, ui_->IT2, ui_->IT3, ui_->IT4, ui_->IT5, ui_->IT6})
        forms::SetBackColour(result, forms::Rgb(255, 255, 255));
    adjustSize();
    setFixedSize(sizeHint());
}

void MarubetaWindow::ConnectEvents()
{
    new forms::SearchEvents(ui_->centralwidget, *search_, [this](const std::function<void()>& h) { Guard(h); });
    connect(ui_->menuEnd, &QAction::triggered, this, &MarubetaWindow::ShutDownProgram);
    connect(ui_->menuClip, &QAction::triggered, this, &MarubetaWindow::ShowClipDialog);
}

void MarubetaWindow::Guard(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const DirectoryError& e) {
        reportError(QString::fromUtf8(e.what()));
    } catch (const EncodingError& e) {
        reportError(QString::fromUtf8(e.what()));
    }
}

bool MarubetaWindow::StartLinkSource(const QString& service, QString* reason)
{
    auto server = std::make_unique<link::LinkServer>(service, QStringLiteral("Form1"));
    server->SetItemProvider([this](const QString& item) { return ItemText(item); });
    // The link never waits on a user: a failed lookup is answered with an error frame, and the
    // window shows it in a box that does not stop the service.
    if (!reportLinkError)
        reportLinkError = [this](const QString& message) { forms::ShowNotice(this, message, windowTitle()); };
    server->SetExecuteHandler([this](const QString& command) {
        try {
            return static_cast<std::uint16_t>(search_->LinkExecute(forms::ToU16(command)));
        } catch (const DirectoryError& e) {
            reportLinkError(QString::fromUtf8(e.what()));
            throw;
        } catch (const EncodingError& e) {
            reportLinkError(QString::fromUtf8(e.what()));
            throw;
        }
    });
    if (!server->Listen()) {
        if (reason) *reason = server->ErrorString();
        return false;
    }
    link_ = std::move(server);
    // Every text the logic writes reaches the linked clients, and so does typing in the entry box.
    face_->SetTextObserver([this](std::string_view element, std::u16string_view text) {
        if (link_) link_->NotifyItemChanged(QString::fromUtf8(element.data(), static_cast<qsizetype>(element.size())),
                                            forms::ToQString(text));
    });
    connect(ui_->ITUbin, &QLineEdit::textEdited, this,
            [this](const QString& text) { link_->NotifyItemChanged(QStringLiteral("ITUbin"), text); });
    return true;
}

std::optional<QString> MarubetaWindow::ItemText(const QString& item) const
{
    for (QWidget* w : ui_->centralwidget->findChildren<QWidget*>()) {
        if (w->objectName().compare(item, Qt::CaseInsensitive) != 0) continue;
        if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
        if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
        if (auto* text = qobject_cast<QPlainTextEdit*>(w)) return text->toPlainText();
    }
    return std::nullopt;
}

void MarubetaWindow::CaptureWindowPosition()
{
    const forms::Dpi dpi = forms::LogicalDpi(this);
    const QPoint p = pos();
    // Positions beyond the 16 bits the settings file holds are clamped to its range.
    settings_.windowLeft = ClampToInt16(forms::PixelsToTwips(p.x(), dpi.x));
    settings_.windowTop = ClampToInt16(forms::PixelsToTwips(p.y(), dpi.y));
}

void MarubetaWindow::ShowClipDialog()
{
    if (clipDialog_) {
        clipDialog_->raise();
        clipDialog_->activateWindow();
        return;
    }
    clipDialog_ = new ClipItemsDialog(settings_.clipFlags, this);
    clipDialog_->setAttribute(Qt::WA_DeleteOnClose);
    clipDialog_->setModal(false);
    clipDialog_->show();
}

void MarubetaWindow::ShutDownProgram()
{
    if (shutDown_) return;
    shutDown_ = true;
    if (link_) link_->Close();
    directory_.CloseAll();
    try {
        // A settings file that could not be read at start-up is the user's, not ours to drop.
        const SavedSettings saved = SaveSettingsFile(savePath_, settings_);
        if (!saved.keptUnreadable.empty()) {
            const QString message = UnreadableSettingsKeptMessage(saved, savePath_);
            std::fprintf(stderr, "marubeta: %s\n", message.toLocal8Bit().constData());
            reportError(message);
        }
    } catch (const SettingsError& e) {
        reportError(QStringLiteral("設定を保存できません: %1").arg(QString::fromUtf8(e.what())));
    }
    // Nothing else runs: an open clip dialog is not closed, so its changes are not stored.
    emit shutDownRequested();
}

void MarubetaWindow::closeEvent(QCloseEvent* event)
{
    ShutDownProgram();
    event->accept();
}

} // namespace ubin
