#pragma once
// A control's saved properties: named, typed values. Keys compare without regard to case and
// keep the spelling and order in which they were first written.
#include "qt/component/value.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ubin::component {

class PropertyBag {
public:
    struct Entry {
        std::u16string key;
        Value value; // Int32, Single or Text
        friend bool operator==(const Entry&, const Entry&) = default;
    };

    // The stored value converted to the default's type (see Coerce), or the default when the key
    // is missing. A stored value that cannot be converted is kErrorTypeMismatch naming the key.
    Result<Value> Read(std::u16string_view key, const Value& defaultValue) const;
    Result<std::int32_t> ReadInt32(std::u16string_view key, std::int32_t defaultValue) const;
    Result<std::uint32_t> ReadColour(std::u16string_view key, std::uint32_t defaultValue) const;
    Result<float> ReadSingle(std::u16string_view key, float defaultValue) const;
    Result<std::u16string> ReadText(std::u16string_view key, std::u16string_view defaultValue) const;

    // Keeps the value under the key, unless it equals the default (EqualsDefault: 6180.0f equals
    // 6180): then the key is left out, and an entry already held under it is removed. A value
    // replacing an entry keeps the entry's place and spelling and takes the new type.
    // Empty values are kErrorTypeMismatch.
    Status Write(std::u16string_view key, const Value& value, const Value& defaultValue);
    // Keeps the value with no default (a saved form being read back).
    Status Set(std::u16string_view key, const Value& value);

    bool Contains(std::u16string_view key) const { return Find(key) != nullptr; }
    const Value* Find(std::u16string_view key) const;
    bool Remove(std::u16string_view key);
    const std::vector<Entry>& entries() const { return entries_; }
    bool empty() const { return entries_.empty(); }
    void clear() { entries_.clear(); }

    friend bool operator==(const PropertyBag&, const PropertyBag&) = default;

private:
    std::vector<Entry> entries_;
};

// Keys compare as the platform compares them: full Unicode case folding.
bool SameKey(std::u16string_view a, std::u16string_view b);

} // namespace ubin::component
