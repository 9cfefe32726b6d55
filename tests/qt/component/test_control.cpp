// A control library for the tests, built like a real one: a label face, a member of each kind,
// one event, saved properties, and a second class whose creation fails.
#include "qt/component/exports.h"
#include "tests/qt/component/test_control.h"

#include <QLabel>

#include <stdexcept>

namespace ubin::component::test {
namespace {

ClassInfo MakeInfo(const char* className, const char* programId, const char* classId)
{
    ClassInfo info;
    info.typeLibraryId = "{9E2D4C61-0B3A-4F57-8C19-6A7B5D3E2F01}";
    info.typeLibraryName = "Sample";
    info.typeLibraryDescription = "Sample controls";
    info.classId = classId;
    info.className = className;
    info.programId = programId;
    info.defaultInterface = {"{5A6B7C8D-1E2F-4A3B-9C4D-5E6F7A8B9C0D}", std::string("_") + className};
    info.eventInterface = {"{6B7C8D9E-2F3A-4B5C-8D6E-7F8A9B0C1D2E}", std::string("__") + className};
    const int method = static_cast<int>(InvokeKind::Method);
    const int get = static_cast<int>(InvokeKind::PropertyGet);
    const int getLet = get | static_cast<int>(InvokeKind::PropertyLet);
    info.members = {
        {"Greet", kGreet, method, ValueType::Text, {{"name", ValueType::Text, true}}, ""},
        {"Fire", kFire, method, ValueType::Empty, {}, ""},
        {"Fail", kFail, method, ValueType::Empty, {}, ""},
        {"Resize", kResize, method, ValueType::Empty, {{"width", ValueType::Int32}, {"height", ValueType::Int32}}, ""},
        {"About", kAbout, method, ValueType::Empty, {}, ""},
        {"Caption", kCaption, getLet, ValueType::Text, {}, "ｵﾌﾞｼﾞｪｸﾄの文字を設定します。"},
        {"Width", kWidth, getLet, ValueType::Single, {}, ""},
        {"Colour", kColour, getLet, ValueType::Colour, {}, ""},
        {"Count", kCount, get, ValueType::Int32, {}, ""},
        {"CanFocus", kCanFocus, get, ValueType::Int32, {}, ""},
    };
    info.events = {{"Clicked", kClicked, {}, ""}};
    return info;
}

const ClassInfo& TesterInfo()
{
    static const ClassInfo info = MakeInfo("Tester", kTesterProgramId, kTesterClassId);
    return info;
}

const ClassInfo& BrokenInfo()
{
    static const ClassInfo info = MakeInfo("Broken", kBrokenProgramId, "{4D2E1B63-8E5C-4F19-8B72-3C6F9D8EA021}");
    return info;
}

class Tester : public ControlBase {
public:
    Tester() : ControlBase(TesterInfo())
    {
        label_ = new QLabel;
        label_->resize(412, 338);
        SetFace(label_);

        BindMethod(kGreet, [](std::span<Value> a) -> Result<Value> {
            const std::u16string reply = u"Hello, " + a[0].text();
            a[0] = Value(a[0].text() + u"!");
            return Value(reply);
        });
        BindMethod(kFire, [this](std::span<Value>) -> Result<Value> {
            if (Status s = FireEvent(kClicked); !s.ok()) return s;
            ++count_;
            return Value();
        });
        BindMethod(kFail, [](std::span<Value>) -> Result<Value> {
            throw std::runtime_error("UIND1.IDX: read beyond the end of the file");
        });
        BindMethod(kResize, [this](std::span<Value> a) -> Result<Value> {
            if (site()) site()->SetExtent({TwipsToHimetric(a[0].int32()), TwipsToHimetric(a[1].int32())});
            return Value();
        });
        BindMethod(kAbout, [this](std::span<Value>) -> Result<Value> {
            ++count_;
            return Value();
        });
        BindGet(kCaption, [this]() -> Result<Value> { return Value(label_->text().toStdU16String()); });
        BindLet(kCaption, [this](const Value& v) {
            label_->setText(QString::fromStdU16String(v.text()));
            NotifyPropertyChanged(u"Caption");
            return Status::Ok();
        });
        BindGet(kWidth, [this]() -> Result<Value> { return Value(width_); });
        BindLet(kWidth, [this](const Value& v) {
            width_ = v.single();
            NotifyPropertyChanged(u"Width");
            return Status::Ok();
        });
        BindGet(kColour, [this]() -> Result<Value> { return Value::Colour(colour_); });
        BindLet(kColour, [this](const Value& v) {
            colour_ = v.colour();
            return Status::Ok();
        });
        BindGet(kCount, [this]() -> Result<Value> { return Value(count_); });
        BindGet(kCanFocus, [this]() -> Result<Value> { return Value(std::int32_t{site() && site()->CanTakeFocus()}); });
    }

    Status InitProperties() override
    {
        width_ = 412 * 15.0f;
        return Status::Ok();
    }

    Status ReadProperties(const PropertyBag& bag) override
    {
        Result<std::u16string> caption = bag.ReadText(u"Caption", u"Label1");
        Result<std::uint32_t> colour = bag.ReadColour(u"Colour", 0x80000013u);
        Result<float> width = bag.ReadSingle(u"Width", 6180.0f);
        if (!caption) return caption.status();
        if (!colour) return colour.status();
        if (!width) return width.status();
        label_->setText(QString::fromStdU16String(*caption));
        colour_ = *colour;
        width_ = *width;
        return Status::Ok();
    }

    Status WriteProperties(PropertyBag& bag) override
    {
        bag.Write(u"Colour", Value::Colour(colour_), Value::Colour(0x80000013u));
        bag.Write(u"Caption", Value(label_->text().toStdU16String()), Value(u"Label1"));
        bag.Write(u"Width", Value(width_), Value(std::int32_t{6180}));
        return Status::Ok();
    }

private:
    QLabel* label_ = nullptr;
    float width_ = 0;
    std::uint32_t colour_ = 0x80000013u;
    std::int32_t count_ = 0;
};

class Broken : public ControlBase {
public:
    Broken() : ControlBase(BrokenInfo()) {}
    Status Initialize() override { return Status(kErrorFailed, "/nowhere/ubscon.def: no such file"); }
};

} // namespace
} // namespace ubin::component::test

UBIN_CONTROL_LIBRARY({&ubin::component::test::TesterInfo, &ubin::component::CreateControl<ubin::component::test::Tester>},
                     {&ubin::component::test::BrokenInfo, &ubin::component::CreateControl<ubin::component::test::Broken>})
