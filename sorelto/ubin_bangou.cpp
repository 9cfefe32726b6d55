#include "sorelto/ubin_bangou.h"

#include "base/errors.h"
#include "sorelto/version_dialog.h"
#include "qt/component/saved_form.h" // TwipsToHimetric
#include "qt/widgets/colours.h"
#include "qt/widgets/dialogs.h"
#include "qt/widgets/fonts.h"
#include "qt/widgets/search_events.h"
#include "qt/widgets/search_guard.h"
#include "qt/widgets/twips.h"
#include "ui_ubin_bangou_face.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtGlobal>

#include <cmath>
#include <stdexcept>

namespace ubin::control {

using component::InvokeKind;
using component::MemberInfo;
using component::PropertyBag;
using component::Result;
using component::Status;
using component::Value;
using component::ValueType;

namespace {

constexpr int kMethod = static_cast<int>(InvokeKind::Method);
constexpr int kGet = static_cast<int>(InvokeKind::PropertyGet);
constexpr int kGetLet = kGet | static_cast<int>(InvokeKind::PropertyLet);

constexpr char kBackColorText[] =
    "ｵﾌﾞｼﾞｪｸﾄ内の文字やｸﾞﾗﾌｨｯｸの表示で使用する背景色を設定します。値の取得も可能です。";
constexpr char kForeColorText[] =
    "ｵﾌﾞｼﾞｪｸﾄ内の文字やｸﾞﾗﾌｨｯｸの表示で使用する前景色を設定します。値の取得も可能です。";
constexpr char kCaptionText[] =
    "ｵﾌﾞｼﾞｪｸﾄのﾀｲﾄﾙ ﾊﾞｰ、またはｵﾌﾞｼﾞｪｸﾄのｱｲｺﾝの下に表示される文字を設定します。値の取得も可能です。";
constexpr char kClearText[] = "ｺﾝﾄﾛｰﾙまたはｼｽﾃﾑ ｸﾘｯﾌﾟﾎﾞｰﾄﾞの内容をｸﾘｱします。";

// Saved properties and their defaults.
constexpr std::uint32_t kDefaultColour = 0x80000013;
constexpr float kDefaultSWidth = 6180;
constexpr float kDefaultSHeight = 1000;

// The result properties: member id, element, default in a property bag, change notice (none
// for the two a host cannot set).
struct ResultProperty {
    std::int32_t id;
    std::string_view element;
    std::u16string_view key;
    bool settable;
};
constexpr ResultProperty kResultProperties[6] = {
    {kUbin1, element::kIT1, u"Ubin1", true}, {kUbin2, element::kIT2, u"Ubin2", true},
    {kUbin3, element::kIT3, u"Ubin3", false}, {kUbin4, element::kIT4, u"Ubin4", false},
    {kUbin5, element::kIT5, u"Ubin5", true}, {kUbin6, element::kIT6, u"Ubin6", true},
};

component::ClassInfo MakeClassInfo()
{
    component::ClassInfo info;
    info.typeLibraryId = kTypeLibraryId;
    info.typeLibraryName = kTypeLibraryName;
    info.typeLibraryDescription = "Marubeta";
    info.classId = kClassId;
    info.className = kClassName;
    info.programId = kProgramId;
    info.defaultInterface = {kDefaultInterfaceId, kDefaultInterfaceName};
    info.eventInterface = {kEventInterfaceId, kEventInterfaceName};
    info.members = {
        {"SconLoad", kSconLoad, kMethod, ValueType::Empty, {}, ""},
        {"SconSave", kSconSave, kMethod, ValueType::Empty, {}, ""},
        {"Ubin_get_ocx", kUbinGetOcx, kMethod, ValueType::Empty, {{"ubinReq", ValueType::Text, true}}, ""},
        {"BackColor", kBackColor, kGetLet, ValueType::Colour, {}, kBackColorText},
        {"OptionBackColor", kOptionBackColor, kGetLet, ValueType::Colour, {}, ""},
        {"ForeColor", kForeColor, kGetLet, ValueType::Colour, {}, kForeColorText},
        {"Ubin1", kUbin1, kGetLet, ValueType::Text, {}, kCaptionText},
        {"Ubin2", kUbin2, kGetLet, ValueType::Text, {}, ""},
        {"Ubin3", kUbin3, kGet, ValueType::Text, {}, ""},
        {"Ubin4", kUbin4, kGet, ValueType::Text, {}, ""},
        {"Ubin5", kUbin5, kGetLet, ValueType::Text, {}, kCaptionText},
        {"Ubin6", kUbin6, kGetLet, ValueType::Text, {}, kCaptionText},
        {"clear", kClear, kMethod, ValueType::Empty, {}, kClearText},
        {"ShowVerDlg", kShowVerDlg, kMethod, ValueType::Empty, {}, ""},
        {"SWidth", kSWidth, kGetLet, ValueType::Single, {}, ""},
        {"SHeight", kSHeight, kGetLet, ValueType::Single, {}, ""},
    };
    info.events = {{"ClickDisp", kClickDisp, {}, ""}};
    return info;
}

std::int32_t RoundToInt32(float v) { return static_cast<std::int32_t>(std::nearbyint(v)); }

} // namespace

const component::ClassInfo& UbinBangouClass()
{
    static const component::ClassInfo info = MakeClassInfo();
    return info;
}

// --- the control's display steps --------------------------------------------------------------

void UbinBangou::AfterDisplay()
{
    // The host's handlers run now and may read the result or start another lookup; the copy
    // follows them, so it holds what they left.
    FireEvent(kClickDisp);
    if (IsOn(shared_.clipFlags, kAutoClip)) search_->CopyResultText();
}

void ControlFace::SetFocus(std::string_view element)
{
    // A host window that is not shown yet cannot take the focus: the move is left out.
    if (control_.CanTakeFocus()) QtSearchFace::SetFocus(element);
}

// --- creation and initialisation --------------------------------------------------------------

UbinBangou::UbinBangou()
    : ControlBase(UbinBangouClass()), ui_(std::make_unique<Ui::UbinBangouFace>()), shared_(ThisThreadShared())
{
    face_ = new QWidget;
    ui_->setupUi(face_);
    SetFace(face_);
    face_->setFont(widgets::UiFont(QStringLiteral("ＭＳ Ｐゴシック"), 9));
    widgets::PlaceChildrenByTwips(face_);
    face_->resize(widgets::TwipsToPixels(QSize(kDesignWidthTwips, kDesignHeightTwips), widgets::LogicalDpi(face_)));
    for (QLabel* result : {ui_->IT1, ui_->IT2, ui_->IT3, ui_->IT4, ui_->IT5, ui_->IT6})
        widgets::SetBackColour(result, widgets::Rgb(255, 255, 255));
    SetBackColour(kDesignBackColour);
    for (int i = 0; i < 5; ++i) SetOptionColour(i, kDesignOptionColours[i]);

    searchFace_ = std::make_unique<ControlFace>(face_, *this);
    FormHooks hooks;
    hooks.resultShown = [this] { AfterDisplay(); };
    // A key longer than an index key holds leaves the result as it was.
    hooks.longKey = FormHooks::LongKey::KeepResult;
    search_ = std::make_unique<Search>(*searchFace_, shared_.lookup, shared_.clipFlags, std::move(hooks));
    BindMembers();
    ConnectEvents();
}

UbinBangou::~UbinBangou()
{
    search_.reset();
    searchFace_.reset();
    delete face_; // before the event filter (this) goes
}

Status UbinBangou::Initialize()
{
    if (Status s = LoadSettings(); !s.ok()) return s;
    try {
        const std::string before = shared_.directory.manifestBuild;
        shared_.directory.StartUpControl();
        shared_.watch.Opened(shared_.directory);
        // Another build opened for the thread: the other controls' lists name nothing in it.
        if (shared_.directory.manifestBuild != before) ++shared_.build;
        build_ = shared_.build;
        search_->Start();
    } catch (const std::exception& e) {
        return Status(component::kErrorFailed, e.what());
    }
    return Status::Ok();
}

Status UbinBangou::LoadSettings()
{
    const PlaceContext places = ControlPlaces();
    std::vector<std::string> tried;
    auto found = FindSettings(SettingsPlaces(Program::Control, places), &tried);
    if (!found) {
        std::string message = "ubscon.def was not found:";
        for (const std::string& t : tried) message += "\n" + t;
        return Status(component::kErrorFailed, message);
    }
    const Settings& s = found->settings;
    reserved1_ = s.reserved1;
    reserved2_ = s.reserved2;
    reserved3_ = s.reserved3;
    windowLeft_ = s.windowLeft;
    windowTop_ = s.windowTop;
    shared_.directory.dataFolder = s.dataFolder;
    shared_.clipFlags = s.clipFlags;
    shared_.settingsFoundAt = found->path;
    return Status::Ok();
}

Status UbinBangou::SaveSettings()
{
    Settings s;
    s.reserved1 = reserved1_;
    s.reserved2 = reserved2_;
    s.reserved3 = reserved3_;
    s.windowLeft = windowLeft_;
    s.windowTop = windowTop_;
    s.dataFolder = shared_.directory.dataFolder;
    s.clipFlags = shared_.clipFlags;
    try {
        WriteSettingsFile(SettingsSavePath(ControlPlaces()), s);
    } catch (const SettingsError& e) {
        return Status(component::kErrorFailed, e.what());
    }
    return Status::Ok();
}

// --- members ----------------------------------------------------------------------------------

void UbinBangou::BindMembers()
{
    auto method = [this](std::int32_t id, std::function<Status(std::span<Value>)> body) {
        BindMethod(id, [body = std::move(body)](std::span<Value> a) -> Result<Value> {
            if (Status s = body(a); !s.ok()) return s;
            return Value();
        });
    };
    method(kSconLoad, [this](std::span<Value>) { return LoadSettings(); });
    method(kSconSave, [this](std::span<Value>) { return SaveSettings(); });
    method(kUbinGetOcx, [this](std::span<Value> a) {
        TakeUpBuild();
        search_->Ubin_get_ocx(a[0].text());
        return Status::Ok();
    });
    method(kClear, [this](std::span<Value>) {
        search_->ClearSearch();
        return Status::Ok();
    });
    method(kShowVerDlg, [this](std::span<Value>) {
        TakeUpBuild();
        ShowVersionDialog(face_, shared_.directory.edition);
        return Status::Ok();
    });

    BindGet(kBackColor, [this]() -> Result<Value> { return Value::Colour(backColour_); });
    BindLet(kBackColor, [this](const Value& v) {
        SetBackColour(v.colour());
        NotifyPropertyChanged(u"BackColor");
        return Status::Ok();
    });
    BindGet(kOptionBackColor, [this]() -> Result<Value> { return Value::Colour(optionColours_[0]); });
    BindLet(kOptionBackColor, [this](const Value& v) {
        for (int i = 0; i < 5; ++i) SetOptionColour(i, v.colour());
        return Status::Ok(); // no change notice
    });
    BindGet(kForeColor, [this]() -> Result<Value> { return Value::Colour(foreColour_); });
    BindLet(kForeColor, [this](const Value& v) {
        foreColour_ = v.colour(); // kept only; no element shows it
        NotifyPropertyChanged(u"ForeColor");
        return Status::Ok();
    });

    for (const ResultProperty& p : kResultProperties) {
        BindGet(p.id, [this, p]() -> Result<Value> { return Value(searchFace_->Text(p.element)); });
        if (!p.settable) continue;
        BindLet(p.id, [this, p](const Value& v) {
            searchFace_->SetText(p.element, v.text());
            NotifyPropertyChanged(p.key);
            return Status::Ok();
        });
    }

    // The stored sizes move into the real size only when they are read.
    BindGet(kSWidth, [this]() -> Result<Value> {
        const std::int32_t width = component::TwipsToHimetric(RoundToInt32(sWidth_));
        if (site()) site()->SetExtent({width, site()->GetExtent().height});
        else face_->resize(widgets::TwipsToPixels(RoundToInt32(sWidth_), widgets::LogicalDpi(face_).x), face_->height());
        return Value(sWidth_);
    });
    BindLet(kSWidth, [this](const Value& v) {
        sWidth_ = v.single();
        NotifyPropertyChanged(u"SWidth");
        return Status::Ok();
    });
    BindGet(kSHeight, [this]() -> Result<Value> {
        const std::int32_t height = component::TwipsToHimetric(RoundToInt32(sHeight_));
        if (site()) site()->SetExtent({site()->GetExtent().width, height});
        else face_->resize(face_->width(), widgets::TwipsToPixels(RoundToInt32(sHeight_), widgets::LogicalDpi(face_).y));
        return Value(sHeight_);
    });
    BindLet(kSHeight, [this](const Value& v) {
        sHeight_ = v.single();
        NotifyPropertyChanged(u"SHeight");
        return Status::Ok();
    });
}

// --- saved properties -------------------------------------------------------------------------

QSize UbinBangou::SizeInTwips() const
{
    if (site()) {
        const component::Extent e = site()->GetExtent();
        return {component::HimetricToTwips(e.width), component::HimetricToTwips(e.height)};
    }
    return widgets::PixelsToTwips(QRect(QPoint(), face_->size()), widgets::LogicalDpi(face_)).size();
}

Status UbinBangou::InitProperties()
{
    foreColour_ = 0;
    const QSize size = SizeInTwips();
    sWidth_ = static_cast<float>(size.width());
    sHeight_ = static_cast<float>(size.height());
    return Status::Ok();
}

Status UbinBangou::ReadProperties(const PropertyBag& bag)
{
    Result<std::uint32_t> back = bag.ReadColour(u"BackColor", kDefaultColour);
    if (!back) return back.status();
    SetBackColour(*back);
    for (int i = 0; i < 5; ++i) {
        Result<std::uint32_t> option = bag.ReadColour(u"OptionBackColor", kDefaultColour);
        if (!option) return option.status();
        SetOptionColour(i, *option);
    }
    Result<std::uint32_t> fore = bag.ReadColour(u"ForeColor", 0);
    if (!fore) return fore.status();
    foreColour_ = *fore;
    for (const ResultProperty& p : kResultProperties) {
        // The default is the element's design text: "IT1" for Ubin1.
        Result<std::u16string> text = bag.ReadText(p.key, std::u16string(u"IT") + p.key.back());
        if (!text) return text.status();
        searchFace_->SetText(p.element, *text);
    }
    Result<float> width = bag.ReadSingle(u"SWidth", kDefaultSWidth);
    if (!width) return width.status();
    Result<float> height = bag.ReadSingle(u"Sheight", kDefaultSHeight);
    if (!height) return height.status();
    sWidth_ = *width;
    sHeight_ = *height;
    return Status::Ok();
}

Status UbinBangou::WriteProperties(PropertyBag& bag)
{
    const auto write = [&bag](std::u16string_view key, const Value& value, const Value& defaultValue) {
        return bag.Write(key, value, defaultValue);
    };
    if (Status s = write(u"BackColor", Value::Colour(backColour_), Value::Colour(kDefaultColour)); !s.ok()) return s;
    if (Status s = write(u"OptionBackColor", Value::Colour(optionColours_[0]), Value::Colour(kDefaultColour)); !s.ok())
        return s;
    if (Status s = write(u"ForeColor", Value::Colour(foreColour_), Value::Colour(0)); !s.ok()) return s;
    for (const ResultProperty& p : kResultProperties) {
        const Value text(searchFace_->Text(p.element));
        if (Status s = write(p.key, text, Value(std::u16string(u"IT") + p.key.back())); !s.ok()) return s;
    }
    if (Status s = write(u"SWidth", Value(sWidth_), Value(std::int32_t{6180})); !s.ok()) return s;
    // The height is kept under "Sheight", as it always was.
    if (Status s = write(u"Sheight", Value(sHeight_), Value(std::int32_t{1000})); !s.ok()) return s;
    return Status::Ok();
}

void UbinBangou::SetBackColour(std::uint32_t colour)
{
    backColour_ = colour;
    widgets::SetBackColour(face_, colour);
}

void UbinBangou::SetOptionColour(int index, std::uint32_t colour)
{
    QRadioButton* const options[5] = {ui_->Option1, ui_->Option2, ui_->Option3, ui_->Option4, ui_->Option5};
    optionColours_[static_cast<std::size_t>(index)] = colour;
    widgets::SetBackColour(options[index], colour);
}

// --- face events ------------------------------------------------------------------------------

void UbinBangou::ConnectEvents()
{
    new widgets::SearchEvents(face_, *search_, [this](const std::function<void()>& h) { Guard(h); });
}

void UbinBangou::TakeUpBuild()
{
    TakeUpNewBuild(shared_);
    if (build_ == shared_.build) return;
    build_ = shared_.build;
    search_->DirectoryReplaced();
}

void UbinBangou::Guard(const std::function<void()>& handler)
{
    widgets::RunEvent(
        [&] {
            TakeUpBuild();
            handler();
        },
        shared_.directory.dataFolder, [this](const QString& message) { widgets::ShowNotice(face_, message); });
}

} // namespace ubin::control
