#pragma once
// The values that cross the dispatch entry point and live in property bags: empty, a 32-bit
// integer, a single-precision number or a text. Colours travel as 32-bit integers holding the
// bit pattern 0x00BBGGRR (or 0x800000nn for a system colour).
#include "qt/component/result.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace ubin::component {

enum class ValueType : int {
    Empty = 0,  // no value (a method without result, a property let's answer)
    Int32 = 1,
    Single = 2,
    Text = 3,
    Colour = 4, // declared type only: carried as Int32
};

// "empty", "int32", "single", "text", "colour": the names the registry and saved forms use.
const char* ValueTypeName(ValueType type);
// The type of a name above; false when unknown.
bool ValueTypeFromName(std::string_view name, ValueType& out);

class Value {
public:
    Value() = default;
    Value(std::int32_t v) : v_(v) {}
    Value(float v) : v_(v) {}
    Value(std::u16string v) : v_(std::move(v)) {}
    Value(const char16_t* v) : v_(std::u16string(v)) {}
    Value(std::u16string_view v) : v_(std::u16string(v)) {}
    static Value Colour(std::uint32_t bgr) { return Value(static_cast<std::int32_t>(bgr)); }

    // Empty, Int32, Single or Text (never Colour).
    ValueType type() const { return static_cast<ValueType>(v_.index()); }
    bool empty() const { return type() == ValueType::Empty; }

    // The held value; each asserts nothing and returns 0 / "" when the type differs.
    std::int32_t int32() const;
    float single() const;
    std::uint32_t colour() const { return static_cast<std::uint32_t>(int32()); }
    const std::u16string& text() const;

    // The same type and the same value.
    friend bool operator==(const Value&, const Value&) = default;

private:
    std::variant<std::monostate, std::int32_t, float, std::u16string> v_;
};

// The value converted to `type`, as a property let or a bag read converts:
// Empty gives 0 or ""; Int32 <-> Single (a single rounds to the nearest integer, halves to the
// even one, and must fit 32 bits); a number to Text gives its decimal text; a Text that holds a
// whole decimal number (blanks around it allowed) gives that number; Colour means Int32.
// Anything else is kErrorTypeMismatch.
Result<Value> Coerce(const Value& value, ValueType type);

// Whether a value equals a default as a property bag's omission rule sees it: numbers compare
// by numeric value whatever their type (6180.0f equals 6180), texts compare exactly, a number
// never equals a text, and Empty equals only Empty.
bool EqualsDefault(const Value& value, const Value& defaultValue);

// For messages: 12, 6180.5, "text" (quoted), empty.
std::string Describe(const Value& value);

// UTF-16 <-> UTF-8 for names, messages and files (lone surrogates become U+FFFD).
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

} // namespace ubin::component
