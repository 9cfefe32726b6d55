#include "samples/quillot/quillot_window.h"

#include "sorelto/ubin_bangou_ids.h"
#include "qt/widgets/colours.h"
#include "qt/widgets/controls.h"
#include "qt/widgets/fonts.h"
#include "qt/widgets/messages.h"
#include "qt/widgets/twips.h"
#include "ui_quillot_window.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include <sstream>
#include <vector>

namespace ubin::quillot {

namespace {

const QSize kClientTwips(6405, 8220);
const QRect kControlTwips(120, 2040, 6180, 5070);
constexpr widgets::BgrColour kWindowColour = 0x00FFC0C0;
constexpr widgets::BgrColour kResultLabelColour = 0x8000000E;

} // namespace

QuillotWindow::QuillotWindow(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::QuillotWindow>())
{
    ui_->setupUi(this);
    setFont(widgets::UiFont(QStringLiteral("ＭＳ Ｐゴシック"), 9));
    QFont heading = ui_->Label9->font();
    heading.setBold(true);
    ui_->Label9->setFont(heading);
    widgets::PlaceChildrenByTwips(this);
    // The separator ー of the CJK font is wider than the 135 twips designed for it: it grows
    // around its centre, into the gaps beside it, rather than lose its ends.
    const int separatorInk = QFontMetrics(ui_->Label7->font()).tightBoundingRect(ui_->Label7->text()).right() + 2;
    if (QRect r = ui_->Label7->geometry(); separatorInk > r.width()) {
        r.adjust(-(separatorInk - r.width()) / 2, 0, separatorInk - r.width() - (separatorInk - r.width()) / 2, 0);
        ui_->Label7->setGeometry(r);
    }
    widgets::SetFixedSizeInTwips(this, kClientTwips);
    widgets::SetBackColour(this, kWindowColour);
    for (QLabel* label : {ui_->Label1, ui_->Label2, ui_->Label3, ui_->Label4, ui_->Label5, ui_->Label6})
        widgets::SetBackColour(label, kResultLabelColour);

    ui_->Text1->installEventFilter(this);
    widgets::EnterClicksButtons(this);
    connect(ui_->Command1, &QPushButton::clicked, this, &QuillotWindow::LookUpTypedCode);
}

QuillotWindow::~QuillotWindow()
{
    control_.reset(); // the control goes before the window that holds its face
}

component::Status QuillotWindow::LoadControl(const std::filesystem::path& registryPath,
                                             const component::SavedForm& form)
{
    ownLoader_ = std::make_unique<component::ControlLoader>(registryPath);
    const component::SavedControl* saved = form.Find(kControlName);
    auto created = ownLoader_->Create(control::kProgramId, this, saved);
    if (!created) return created.status();
    control_ = std::move(*created);
    control_->setObjectName(QString::fromLatin1(kControlName));
    control_->move(widgets::TwipsToPixels(kControlTwips, widgets::LogicalDpi(this)).topLeft());
    control_->show();
    control_->Connect([this](component::MemberId event, std::span<const component::Value>) {
        if (event == control::kClickDisp) RefreshResultLabels();
    });
    return component::Status::Ok();
}

QString QuillotWindow::GetText(std::int32_t member)
{
    if (!control_) return {};
    component::Result<component::Value> v = control_->Get(member);
    if (!v) {
        Fail(v.status());
        return {};
    }
    return QString::fromStdU16String(v->text());
}

void QuillotWindow::RefreshResultLabels()
{
    ui_->Label1->setText(GetText(control::kUbin1));
    ui_->Label2->setText(GetText(control::kUbin2));
    ui_->Label3->setText(GetText(control::kUbin3));
    ui_->Label4->setText(GetText(control::kUbin4));
    ui_->Label5->setText(GetText(control::kUbin5));
    ui_->Label6->setText(GetText(control::kUbin6));
}

void QuillotWindow::LookUpTypedCode()
{
    if (!control_) return;
    component::Result<component::Value> r =
        control_->Call(control::kUbinGetOcx, {component::Value(ui_->Text1->text().toStdU16String())});
    if (!r) {
        Fail(r.status());
        return;
    }
    RefreshResultLabels();
}

void QuillotWindow::Fail(const component::Status& status)
{
    emit controlFailed(QString::fromStdString(status.ToString()));
}

bool QuillotWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui_->Text1) {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) LookUpTypedCode(); // the key goes on
        } else if (event->type() == QEvent::MouseButtonDblClick) {
            LookUpTypedCode();
        }
    }
    return QWidget::eventFilter(watched, event);
}

std::filesystem::path FindFormFile(const std::filesystem::path& executableFolder)
{
    const std::filesystem::path beside = executableFolder / kFormFileName;
    if (std::filesystem::exists(beside)) return beside;
    const std::filesystem::path installed = executableFolder.parent_path() / "share" / "marubeta" / kFormFileName;
    if (std::filesystem::exists(installed)) return installed;
    return beside;
}

std::filesystem::path ControlLibraryPath(const std::filesystem::path& executableFolder)
{
    const std::filesystem::path installed =
        executableFolder.parent_path() / UBIN_INSTALL_LIBDIR / "marubeta" / UBIN_SORELTO_FILE_NAME;
    std::error_code ec;
    if (std::filesystem::exists(installed, ec)) return installed;
    const std::filesystem::path built = UBIN_SORELTO_BUILD_PATH;
    if (std::filesystem::exists(built, ec)) return built;
    return installed;
}

QString CreationFailedMessage(const component::Status& status, const std::filesystem::path& registryPath,
                              const std::filesystem::path& libraryPath)
{
    const QString program = QString::fromLatin1(control::kProgramId);
    const QString registry = QString::fromStdU16String(registryPath.u16string());
    const QString library = QString::fromStdU16String(libraryPath.u16string());
    const QString detail = QString::fromStdString(status.ToString());
    switch (status.code()) {
    case component::kErrorNotRegistered:
        return QStringLiteral("%1 コントロールが登録されていません。\nクラス登録ファイル: %2\n\n"
                              "次のコマンドでコントロールを登録してから、もう一度起動してください:\n"
                              "　ubin-regsvr %3")
            .arg(program, registry, library);
    case component::kErrorLibrary:
    case component::kErrorClassNotAvailable:
        return QStringLiteral("%1 コントロールのライブラリを読み込めません。\n詳しく: %2\n\n"
                              "次のコマンドで登録し直してから、もう一度起動してください:\n"
                              "　ubin-regsvr %3")
            .arg(program, detail, library);
    case component::kErrorRegistry:
    case component::kErrorBadFile:
        return QStringLiteral("%1 コントロールの登録を読めません。\nクラス登録ファイル: %2\n詳しく: %3\n\n"
                              "このファイルを消し、次のコマンドで登録し直してください:\n"
                              "　ubin-regsvr %4")
            .arg(program, registry, detail, library);
    default:
        break;
    }
    // The control's settings load lists the places it tried, one "<path>: <reason>" a line.
    const std::string settingsHead = "ubscon.def was not found:";
    if (status.message().rfind(settingsHead, 0) == 0) {
        std::vector<std::filesystem::path> places;
        std::vector<std::string> tried;
        std::istringstream lines(status.message().substr(settingsHead.size()));
        for (std::string line; std::getline(lines, line);) {
            const std::size_t end = line.find("ubscon.def: ");
            if (end == std::string::npos) continue;
            places.emplace_back(line.substr(0, end + 10));
            tried.push_back(line);
        }
        if (!places.empty())
            return widgets::SettingsNotFoundText(
                QStringLiteral("%1 コントロールを作成できません。\nコントロールの設定ファイル ubscon.def がみつかりません").arg(program),
                places, tried, places.front().parent_path());
    }
    return QStringLiteral("%1 コントロールを作成できません。\n詳しく: %2\n\n"
                          "コントロールは ubscon.def と郵便番号辞書を読みます。"
                          "marubeta が同じ場所から開始できるか確かめてください。")
        .arg(program, detail);
}

QString CallFailedMessage(const QString& detail)
{
    return QStringLiteral("コントロールの呼び出しに失敗しました。\n詳しく: %1\n\n"
                          "郵便番号辞書のファイルが壊れていないか確かめてください。").arg(detail);
}

} // namespace ubin::quillot
