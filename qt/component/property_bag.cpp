#include "qt/component/property_bag.h"

#include <QString>

#include <algorithm>

namespace ubin::component {

bool SameKey(std::u16string_view a, std::u16string_view b)
{
    return QString::compare(QString::fromUtf16(a.data(), static_cast<qsizetype>(a.size())),
                            QString::fromUtf16(b.data(), static_cast<qsizetype>(b.size())), Qt::CaseInsensitive) == 0;
}

const Value* PropertyBag::Find(std::u16string_view key) const
{
    for (const auto& e : entries_)
        if (SameKey(e.key, key)) return &e.value;
    return nullptr;
}

bool PropertyBag::Remove(std::u16string_view key)
{
    const auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return SameKey(e.key, key); });
    if (it == entries_.end()) return false;
    entries_.erase(it);
    return true;
}

Result<Value> PropertyBag::Read(std::u16string_view key, const Value& defaultValue) const
{
    const Value* stored = Find(key);
    if (!stored) return defaultValue;
    if (defaultValue.empty()) return *stored;
    Result<Value> converted = Coerce(*stored, defaultValue.type());
    if (!converted) return Status(kErrorTypeMismatch, "property \"" + ToUtf8(key) + "\": " + converted.message());
    return converted;
}

Result<std::int32_t> PropertyBag::ReadInt32(std::u16string_view key, std::int32_t defaultValue) const
{
    Result<Value> v = Read(key, Value(defaultValue));
    if (!v) return v.status();
    return v->int32();
}

Result<std::uint32_t> PropertyBag::ReadColour(std::u16string_view key, std::uint32_t defaultValue) const
{
    Result<Value> v = Read(key, Value::Colour(defaultValue));
    if (!v) return v.status();
    return v->colour();
}

Result<float> PropertyBag::ReadSingle(std::u16string_view key, float defaultValue) const
{
    Result<Value> v = Read(key, Value(defaultValue));
    if (!v) return v.status();
    return v->single();
}

Result<std::u16string> PropertyBag::ReadText(std::u16string_view key, std::u16string_view defaultValue) const
{
    Result<Value> v = Read(key, Value(defaultValue));
    if (!v) return v.status();
    return v->text();
}

Status PropertyBag::Write(std::u16string_view key, const Value& value, const Value& defaultValue)
{
    if (EqualsDefault(value, defaultValue)) {
        Remove(key);
        return Status::Ok();
    }
    return Set(key, value);
}

Status PropertyBag::Set(std::u16string_view key, const Value& value)
{
    if (key.empty()) return Status(kErrorInvalidArgument, "a property needs a name");
    if (value.empty()) return Status(kErrorTypeMismatch, "property \"" + ToUtf8(key) + "\": an empty value cannot be kept");
    for (auto& e : entries_) {
        if (SameKey(e.key, key)) {
            e.value = value;
            return Status::Ok();
        }
    }
    entries_.push_back({std::u16string(key), value});
    return Status::Ok();
}

} // namespace ubin::component
