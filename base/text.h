#pragma once
// The small text routines every reader of the directory shares.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

// Longest text the directory's 16-bit counters can hold.
inline constexpr std::size_t kMaxTextLength = 32767;

// Splits fields[0] into fields[1], fields[2], ...: every comma starts a new field and every
// double quote is dropped (a quote never protects a comma). The capacity is fields.size() - 1.
// Fields after the last one reached keep what they held. A line with more fields than the
// capacity throws FieldCountError and leaves fields[1..] in an unspecified state.
void SplitCsvLine(std::vector<std::u16string>& fields);

// Whether c is a half-width digit 0-9.
constexpr bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// The half-width digits 0-9 of text, in order; everything else is dropped.
std::u16string DigitsOnly(std::u16string_view text);

// The text up to, not including, its first half-width blank.
std::u16string FirstWord(std::u16string_view text);

// The last `width` characters of the decimal text of value + 10,000,000,000 (with its leading
// blank or minus sign): ZeroPad(2, 7) is "07", ZeroPad(2, -5) is "95".
std::u16string ZeroPad(std::int16_t width, std::int32_t value);

// The numeric value of a text: blanks anywhere are skipped, a leading decimal number (sign,
// digits, fraction, exponent) is read up to the first character that cannot continue it, and
// a text that does not begin with a number is 0.
double NumericValue(std::u16string_view text);

// Rounds to the nearest integer, halves to the even neighbour.
double RoundHalfEven(double x);

// NumericValue rounded half-to-even; false when the result is outside the 32-bit range.
bool NumericValue32(std::u16string_view text, std::int32_t& out);

// Convenience for tests and programs that hold UTF-8.
std::u16string U16(std::string_view utf8);

} // namespace ubin
