#include "qt/component/value.h"

#include <QString>

#include <cmath>
#include <limits>

namespace ubin::component {

const char* ResultCodeText(int code)
{
    switch (code) {
    case kOk: return "success";
    case kFalse: return "success (false)";
    case kErrorFailed: return "failed";
    case kErrorClassNotAvailable: return "class not available";
    case kErrorRegistry: return "class registry error";
    case kErrorNotRegistered: return "class not registered";
    case kErrorLibrary: return "control library error";
    case kErrorMemberNotFound: return "member not found";
    case kErrorNotSupported: return "member does not support this kind of call";
    case kErrorArgumentCount: return "wrong number of arguments";
    case kErrorTypeMismatch: return "type mismatch";
    case kErrorInMember: return "error in member";
    case kErrorBadFile: return "damaged file";
    case kErrorInvalidArgument: return "invalid argument";
    default: return code >= 0 ? "success" : "unknown error";
    }
}

std::string Status::ToString() const
{
    if (message_.empty()) return ResultCodeText(code_);
    return message_ + " (" + ResultCodeText(code_) + ")";
}

const char* ValueTypeName(ValueType type)
{
    switch (type) {
    case ValueType::Empty: return "empty";
    case ValueType::Int32: return "int32";
    case ValueType::Single: return "single";
    case ValueType::Text: return "text";
    case ValueType::Colour: return "colour";
    }
    return "empty";
}

bool ValueTypeFromName(std::string_view name, ValueType& out)
{
    for (ValueType t : {ValueType::Empty, ValueType::Int32, ValueType::Single, ValueType::Text, ValueType::Colour}) {
        if (name == ValueTypeName(t)) {
            out = t;
            return true;
        }
    }
    return false;
}

std::int32_t Value::int32() const
{
    const auto* p = std::get_if<std::int32_t>(&v_);
    return p ? *p : 0;
}

float Value::single() const
{
    const auto* p = std::get_if<float>(&v_);
    return p ? *p : 0.0f;
}

const std::u16string& Value::text() const
{
    static const std::u16string kNone;
    const auto* p = std::get_if<std::u16string>(&v_);
    return p ? *p : kNone;
}

std::string ToUtf8(std::u16string_view text)
{
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())).toStdString();
}

std::u16string FromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toStdU16String();
}

namespace {

Status Mismatch(const Value& value, ValueType type)
{
    return Status(kErrorTypeMismatch, Describe(value) + " cannot be taken as " + ValueTypeName(type));
}

Result<Value> SingleToInt32(const Value& value)
{
    const double d = std::nearbyint(static_cast<double>(value.single())); // the default mode rounds halves to even
    if (!std::isfinite(d) || d < std::numeric_limits<std::int32_t>::min() || d > std::numeric_limits<std::int32_t>::max())
        return Status(kErrorTypeMismatch, Describe(value) + " does not fit a 32-bit integer");
    return Value(static_cast<std::int32_t>(d));
}

Result<Value> TextToNumber(const Value& value, ValueType type)
{
    const QString text = QString::fromStdU16String(value.text()).trimmed();
    bool ok = false;
    if (type == ValueType::Int32) {
        const int n = text.toInt(&ok);
        if (ok) return Value(static_cast<std::int32_t>(n));
    } else {
        const float f = text.toFloat(&ok);
        if (ok) return Value(f);
    }
    return Mismatch(value, type);
}

} // namespace

Result<Value> Coerce(const Value& value, ValueType type)
{
    if (type == ValueType::Colour) type = ValueType::Int32;
    if (value.type() == type) return value;
    switch (type) {
    case ValueType::Empty:
        return Mismatch(value, type);
    case ValueType::Int32:
        if (value.empty()) return Value(std::int32_t{0});
        if (value.type() == ValueType::Single) return SingleToInt32(value);
        return TextToNumber(value, type);
    case ValueType::Single:
        if (value.empty()) return Value(0.0f);
        if (value.type() == ValueType::Int32) return Value(static_cast<float>(value.int32()));
        return TextToNumber(value, type);
    case ValueType::Text:
        if (value.empty()) return Value(std::u16string());
        if (value.type() == ValueType::Int32) return Value(FromUtf8(std::to_string(value.int32())));
        return Value(QString::number(value.single(), 'g', 9).toStdU16String());
    case ValueType::Colour:
        break;
    }
    return Mismatch(value, type);
}

bool EqualsDefault(const Value& value, const Value& defaultValue)
{
    auto numeric = [](const Value& v) { return v.type() == ValueType::Int32 || v.type() == ValueType::Single; };
    auto number = [](const Value& v) {
        return v.type() == ValueType::Int32 ? static_cast<double>(v.int32()) : static_cast<double>(v.single());
    };
    if (numeric(value) && numeric(defaultValue)) return number(value) == number(defaultValue);
    return value == defaultValue;
}

std::string Describe(const Value& value)
{
    switch (value.type()) {
    case ValueType::Int32: return std::to_string(value.int32());
    case ValueType::Single: return QString::number(value.single(), 'g', 9).toStdString();
    case ValueType::Text: return "\"" + ToUtf8(value.text()) + "\"";
    default: return "empty";
    }
}

} // namespace ubin::component
