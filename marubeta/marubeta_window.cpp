#include "marubeta/marubeta_window.h"

#include "base/errors.h"
#include "marubeta/clip_items_dialog.h"
#include "qt/widgets/colours.h"
#include "qt/widgets/dialogs.h"
#include "qt/widgets/fonts.h"
#include "qt/widgets/messages.h"
#include "qt/widgets/program.h"
#include "qt/widgets/search_events.h"
#include "qt/widgets/search_guard.h"
#include "qt/widgets/twips.h"
#include "ui_marubeta_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cmath>
#include <cstdio>

namespace ubin {

namespace {

// The window's design fills its client area of 5880 by 5010 twips.
const QSize kClientTwips(5880, 5010);

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

QString SettingsNotFoundMessage(const SettingsNotFound& e)
{
    return widgets::SettingsNotFoundText(SettingsNotFoundMessage(), e.places, e.tried, e.userFolder);
}

QString SettingsSaveFailedMessage(const std::filesystem::path& file, const std::string& detail)
{
    return QStringLiteral("設定ファイルを保存できません。\nファイル: %1\n詳しく: %2\n\n"
                          "そのフォルダに書き込めるか確かめてください。"
                          "今回の窓の位置とクリップ項目は保存されていません。")
        .arg(widgets::PathText(file), QString::fromUtf8(detail));
}

MarubetaWindow::MarubetaWindow(const PlaceContext& places, QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::MarubetaWindow>())
{
    reportError = [this](const QString& message) { widgets::ShowWarning(this, message, windowTitle()); };
    ui_->setupUi(this);
    ApplyFont();

    LoadSettings(places);
    directory_.dataFolder = settings_.dataFolder;
    try {
        directory_.StartUp();
    } catch (const DirectoryError& e) {
        throw DirectoryStartUpError(e.what(), settings_.dataFolder);
    }
    lookup_ = std::make_unique<Lookup>(directory_);
    watch_.Opened(directory_);

    face_ = std::make_unique<widgets::QtSearchFace>(ui_->centralwidget);
    // The window's own lookups record where the window stands; the control's do not. After each
    // shown result the window copies it when 自動クリップ is on, as the control does.
    FormHooks hooks;
    hooks.entryLookupStarting = [this] { CaptureWindowPosition(); };
    hooks.resultShown = [this] { AfterDisplay(); };
    hooks.postalResultShown = [this](const ResultRecord& record) { PostalResultShown(record); };
    search_ = std::make_unique<Search>(*face_, *lookup_, settings_.clipFlags, std::move(hooks));

    const widgets::Dpi dpi = widgets::LogicalDpi(this);
    move(widgets::TwipsToPixels(settings_.windowLeft, dpi.x), widgets::TwipsToPixels(settings_.windowTop, dpi.y));
    search_->Start();
    ui_->ITUbin->setFocus(Qt::OtherFocusReason);
    ConnectEvents();
}

MarubetaWindow::~MarubetaWindow() = default;

void MarubetaWindow::LoadSettings(const PlaceContext& places)
{
    std::vector<std::string> tried;
    const std::vector<std::filesystem::path> searched = SettingsPlaces(Program::Marubeta, places);
    auto found = FindSettings(searched, &tried);
    if (!found) throw SettingsNotFound(searched, std::move(tried), places.windowsFolder);
    settings_ = std::move(found->settings);
    // Whichever place supplied them, the settings go back to the Windows folder at exit.
    savePath_ = SettingsSavePath(places);
}

void MarubetaWindow::ApplyFont()
{
    setFont(widgets::UiFont(QStringLiteral("ＭＳ Ｐゴシック"), 9));
    widgets::PlaceChildrenByTwips(ui_->centralwidget);
    ui_->centralwidget->setFixedSize(widgets::TwipsToPixels(kClientTwips, widgets::LogicalDpi(this)));
    for (QLabel* result : {ui_->IT1, ui_->IT2, ui_->IT3, ui_->IT4, ui_->IT5, ui_->IT6})
        widgets::SetBackColour(result, widgets::Rgb(255, 255, 255));
    adjustSize();
    setFixedSize(sizeHint());
}

void MarubetaWindow::ConnectEvents()
{
    new widgets::SearchEvents(ui_->centralwidget, *search_, [this](const std::function<void()>& h) { Guard(h); });
    connect(ui_->menuEnd, &QAction::triggered, this, &MarubetaWindow::ShutDownProgram);
    connect(ui_->menuClip, &QAction::triggered, this, &MarubetaWindow::ShowClipDialog);
    connect(ui_->menuVersion, &QAction::triggered, this, &MarubetaWindow::ShowVersionBox);
}

QString MarubetaWindow::VersionText() const
{
    return QStringLiteral("郵便番号簿 Ver.") + widgets::SuiteVersion() + QLatin1Char('\n')
           + widgets::DataEditionText(directory_.edition);
}

void MarubetaWindow::ShowVersionBox()
{
    // A build put in place since the last lookup is the one the box names.
    Guard([] {});
    QMessageBox box(QMessageBox::Information, QStringLiteral("郵便番号簿"), VersionText(), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("VersionBox"));
    box.exec();
}

void MarubetaWindow::TakeUpNewBuild()
{
    if (!watch_.Replaced(directory_)) return;
    DirectoryState fresh;
    fresh.dataFolder = directory_.dataFolder;
    try {
        fresh.StartUp();
    } catch (const Error&) {
        return;
    }
    directory_.Swap(fresh); // `fresh` holds the old build's files now and closes them
    watch_.Opened(directory_);
    search_->DirectoryReplaced();
}

void MarubetaWindow::Guard(const std::function<void()>& handler)
{
    widgets::RunEvent(
        [&] {
            TakeUpNewBuild();
            handler();
        },
        settings_.dataFolder, reportError);
}

void MarubetaWindow::AfterDisplay()
{
    if (IsOn(settings_.clipFlags, kAutoClip)) search_->CopyResultText();
}

void MarubetaWindow::PostalResultShown(const ResultRecord& record)
{
    ShownPostal shown;
    const bool cityFound = record.cityName != kBadCityCodeText && record.cityName != kNoSuchCityText;
    // The prefecture is the number in the first two digits of the city code.
    const auto digit = [&](std::size_t i) {
        return i < record.cityCode.size() && record.cityCode[i] >= u'0' && record.cityCode[i] <= u'9'
                   ? record.cityCode[i] - u'0'
                   : -1;
    };
    const int prefecture = digit(0) >= 0 && digit(1) >= 0 ? digit(0) * 10 + digit(1) : 0;
    shown.prefecture = cityFound && prefecture >= 1 && prefecture <= kPrefectureCount ? prefecture : 0;
    shown.prefixed = shown.prefecture != 0 && IsOn(settings_.clipFlags, kAddPrefecture);
    shown.cityName = record.cityName;
    shown.kana = record.kana;
    shownPostal_ = shown;
}

void MarubetaWindow::ApplyPrefectureChoice()
{
    const bool on = IsOn(settings_.clipFlags, kAddPrefecture);
    if (!shownPostal_ || shownPostal_->prefecture == 0 || shownPostal_->prefixed == on) return;
    ShownPostal& shown = *shownPostal_;
    // Only while the result is still on display as it was shown.
    if (face_->Text(element::kIT3) != shown.cityName || face_->Text(element::kIT5) != shown.kana) {
        shownPostal_.reset();
        return;
    }
    const std::u16string& name = directory_.prefNames[static_cast<std::size_t>(shown.prefecture)];
    const std::u16string& kana = directory_.prefKana[static_cast<std::size_t>(shown.prefecture)];
    if (on) {
        shown.cityName = name + shown.cityName;
        shown.kana = kana + shown.kana;
    } else {
        if (shown.cityName.starts_with(name)) shown.cityName.erase(0, name.size());
        if (shown.kana.starts_with(kana)) shown.kana.erase(0, kana.size());
    }
    shown.prefixed = on;
    face_->SetText(element::kIT3, shown.cityName);
    face_->SetText(element::kIT5, shown.kana);
}

bool MarubetaWindow::StartLinkSource(const QString& service, QString* reason)
{
    auto server = std::make_unique<link::LinkServer>(service, QStringLiteral("Form1"));
    server->SetItemProvider([this](const QString& item) { return ItemText(item); });
    // The link never waits on a user: a failed lookup is answered with an error frame, and the
    // window shows it in a box that does not stop the service.
    if (!reportLinkError)
        reportLinkError = [this](const QString& message) { widgets::ShowNotice(this, message, windowTitle()); };
    server->SetExecuteHandler([this](const QString& command) {
        try {
            TakeUpNewBuild();
            return static_cast<std::uint16_t>(search_->LinkExecute(widgets::ToU16(command)));
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
    // Every text the logic writes reaches the linked clients, and so does every change the user
    // makes to a text box (the entry box, Text6).
    face_->SetTextObserver([this](std::string_view element, std::u16string_view text) {
        if (link_) link_->NotifyItemChanged(QString::fromUtf8(element.data(), static_cast<qsizetype>(element.size())),
                                            widgets::ToQString(text));
    });
    face_->SetUserEditObserver([this](const QString& element, const QString& text) {
        if (link_) link_->NotifyItemChanged(element, text);
    });
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
    const widgets::Dpi dpi = widgets::LogicalDpi(this);
    const QPoint p = pos();
    // Positions beyond the 16 bits the settings file holds are clamped to its range.
    settings_.windowLeft = ClampToInt16(widgets::PixelsToTwips(p.x(), dpi.x));
    settings_.windowTop = ClampToInt16(widgets::PixelsToTwips(p.y(), dpi.y));
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
    // The flags are stored as the dialog closes; 都道府県付加 reaches the result on display.
    connect(clipDialog_, &QDialog::finished, this, [this] { ApplyPrefectureChoice(); });
    clipDialog_->setModal(false);
    clipDialog_->show();
}

void MarubetaWindow::ShutDownProgram() { ShutDown(true); }

void MarubetaWindow::ShutDownOnSignal() { ShutDown(false); }

void MarubetaWindow::ShutDown(bool withBoxes)
{
    if (shutDown_) return;
    shutDown_ = true;
    if (link_) link_->Close();
    directory_.CloseAll();
    // A box waits for a click; on a signal the message goes to standard error instead.
    const auto tell = [&](const QString& message, bool alsoOnStandardError) {
        if (alsoOnStandardError || !withBoxes) std::fprintf(stderr, "marubeta: %s\n", message.toLocal8Bit().constData());
        if (withBoxes) reportError(message);
    };
    try {
        // A settings file that could not be read at start-up is the user's, not ours to drop.
        const SavedSettings saved = SaveSettingsFile(savePath_, settings_);
        if (!saved.keptUnreadable.empty()) tell(UnreadableSettingsKeptMessage(saved, savePath_), true);
    } catch (const SettingsError& e) {
        tell(SettingsSaveFailedMessage(savePath_, e.what()), false);
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
