#include "tenzora/tenzora_window.h"

#include "ui_tenzora_window.h"

#include "qt/widgets/colours.h"
#include "qt/widgets/dialogs.h"
#include "qt/widgets/fonts.h"
#include "qt/widgets/messages.h"
#include "qt/widgets/twips.h"

#include <QCloseEvent>
#include <QCoreApplication>

#include <cstdlib>
#include <string>
#include <vector>

namespace ubin {

namespace {

// The font the window is designed in, and its size in points.
const QString kDesignFont = QStringLiteral("ＭＳ Ｐゴシック");
constexpr qreal kDesignFontSize = 9;

constexpr widgets::BgrColour kHeadingColour = widgets::Rgb(192, 192, 192);

constexpr std::size_t kDataFolder = 2; // the index of DataFolder among the six texts

QString Q(const std::u16string& s) { return QString::fromStdU16String(s); }

} // namespace


PlaceContext TenzoraPlaces()
{
    const std::filesystem::path exeFolder(QCoreApplication::applicationDirPath().toStdU16String());
    return ProgramPlaces(Program::Tenzora, exeFolder);
}

QString TenzoraWindow::title() { return QStringLiteral("郵便番号検索定義"); }

TenzoraWindow::TenzoraWindow(PlaceContext places, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::TenzoraForm>()), places_(std::move(places))
{
    ui_->setupUi(this);
    checks_ = {ui_->Check1_0, ui_->Check1_1, ui_->Check1_2, ui_->Check1_3,
               ui_->Check1_4, ui_->Check1_5, ui_->Check1_6};
    // Both of Tenzora's messages tell of a failure that ends it.
    message_ = [](QWidget* parent, const QString& text) { widgets::ShowError(parent, text, title()); };

    setFont(widgets::UiFont(kDesignFont, kDesignFontSize));
    for (QWidget* heading : {ui_->Label1_0, ui_->Label1_1, ui_->Label1_2})
        widgets::SetBackColour(heading, kHeadingColour);
    // The substitute font may be taller than the one the form was drawn for: let a control grow
    // around its designed centre rather than cut its caption.
    widgets::PlaceChildrenByTwips(this, widgets::Fit::GrowToContent);
    widgets::SetFixedSizeInTwips(this, property(widgets::kTwipsProperty).toRect().size());
}

TenzoraWindow::~TenzoraWindow() = default;

void TenzoraWindow::showMessage(const QString& text)
{
    if (message_) message_(this, text);
}

bool TenzoraWindow::load()
{
    std::vector<std::string> tried;
    const std::vector<std::filesystem::path> searched = SettingsPlaces(Program::Tenzora, places_);
    const auto found = FindEditorSettings(searched, &tried);
    if (!found) {
        showMessage(widgets::SettingsNotFoundText(
            QStringLiteral("システム管理ファイルがみつかりません\n郵便番号検索定義は、今ある ubscon.def を書き換えます"), searched,
            tried, places_.windowsFolder));
        return false;
    }
    settings_ = found->settings;
    foundInWindowsFolder_ = found->placeIndex == 0;
    for (int i = 0; i < kCheckCount; ++i)
        checks_[static_cast<std::size_t>(i)]->setChecked(IsOn(settings_.clipFlags, i));
    ui_->Text1->setText(Q(settings_.texts[kDataFolder]));
    loaded_ = true;
    return true;
}

bool TenzoraWindow::save()
{
    if (!loaded_) return false; // nothing was read, so there is nothing to write back
    for (int i = 0; i < kCheckCount; ++i) {
        // Only a box that is checked sets its flag; a partly checked one counts as unchecked.
        const bool on = checks_[static_cast<std::size_t>(i)]->checkState() == Qt::Checked;
        settings_.clipFlags[static_cast<std::size_t>(i)] = on ? 1 : 0;
    }
    settings_.texts[kDataFolder] = WithFinalSeparator(ui_->Text1->text().toStdU16String());

    std::vector<std::filesystem::path> targets;
    if (foundInWindowsFolder_) targets.push_back(SettingsSavePath(places_));
    targets.push_back(places_.currentFolder / kSettingsFileName);
    for (const auto& path : targets) {
        try {
            WriteEditorSettingsFile(path, settings_);
        } catch (const std::exception& e) {
            saveFailed_ = true;
            showMessage(QStringLiteral("設定ファイルを書き込めません。\nファイル: %1\n詳しく: %2\n\n"
                                       "そのフォルダに書き込めるか、郵便番号辞書のパスにシフト JIS で書けない文字が"
                                       "ないか確かめてください。このファイルは元のままです。")
                            .arg(widgets::PathText(path), QString::fromUtf8(e.what())));
            return false;
        }
    }
    return true;
}

void TenzoraWindow::closeEvent(QCloseEvent* event)
{
    if (!closed_) {
        closed_ = true;
        save();
    }
    event->accept();
}

} // namespace ubin
