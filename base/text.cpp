#include "base/text.h"

#include "base/cp932.h"
#include "base/errors.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace ubin {

void SplitCsvLine(std::vector<std::u16string>& fields)
{
    if (fields.size() < 2)
        throw FieldCountError("a line is split into an array without room for a field");
    const std::size_t capacity = fields.size() - 1;
    const std::u16string& line = fields[0];
    std::size_t k = 1;
    fields[1].clear();
    for (const char16_t c : line) {
        if (c == u',') {
            if (++k > capacity)
                throw FieldCountError("the line has more than " + std::to_string(capacity) + " fields");
            fields[k].clear();
        } else if (c != u'"') {
            fields[k].push_back(c);
        }
    }
}

std::u16string DigitsOnly(std::u16string_view text)
{
    std::u16string out;
    for (const char16_t c : text)
        if (c >= u'0' && c <= u'9') out.push_back(c);
    return out;
}

std::u16string FirstWord(std::u16string_view text)
{
    return std::u16string(text.substr(0, text.find(u' ')));
}

std::u16string ZeroPad(std::int16_t width, std::int32_t value)
{
    // x is an integer below 2^53, so the double holds it exactly and %.0f prints all digits.
    const double x = static_cast<double>(value) + 10000000000.0;
    char buf[32];
    std::snprintf(buf, sizeof buf, x < 0 ? "%.0f" : " %.0f", x);
    const std::u16string t = U16(buf);
    if (width <= 0) return {};
    const auto w = static_cast<std::size_t>(width);
    return w >= t.size() ? t : t.substr(t.size() - w);
}

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

// For a number from_chars found out of range: whether it overflows (rather than underflows),
// from the place of its first significant digit and its exponent.
bool TooLarge(const std::string& num)
{
    std::size_t i = num[0] == '-' ? 1 : 0;
    long long magnitude = 0; // the power of ten of the first significant digit, plus one
    bool seenPoint = false, significant = false;
    for (; i < num.size() && num[i] != 'e'; ++i) {
        if (num[i] == '.') { seenPoint = true; continue; }
        if (!significant && num[i] == '0') {
            if (seenPoint) --magnitude;
            continue;
        }
        significant = true;
        if (!seenPoint) ++magnitude;
    }
    if (i < num.size()) {
        long long exp = 0;
        const char* from = num.data() + i + 1 + (num[i + 1] == '+');
        if (std::from_chars(from, num.data() + num.size(), exp).ec != std::errc()) {
            // An exponent beyond long long: its sign decides.
            exp = *from == '-' ? -1000000 : 1000000;
        }
        magnitude += std::clamp(exp, -1000000LL, 1000000LL);
    }
    return magnitude > 0;
}

} // namespace

double NumericValue(std::u16string_view text)
{
    // Gather the characters that are not blanks, then read the longest leading number.
    std::string s;
    for (const char16_t c : text) {
        if (IsBlank(c)) continue;
        if (c > 0x7F) break;
        s.push_back(static_cast<char>(c));
    }
    std::size_t i = 0;
    std::string num;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) num.push_back(s[i++]);
    bool digits = false;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') { num.push_back(s[i++]); digits = true; }
    if (i < s.size() && s[i] == '.') {
        num.push_back(s[i++]);
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') { num.push_back(s[i++]); digits = true; }
    }
    if (!digits) return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        std::string exp = "e";
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) exp.push_back(s[j++]);
        bool expDigits = false;
        while (j < s.size() && s[j] >= '0' && s[j] <= '9') { exp.push_back(s[j++]); expDigits = true; }
        if (expDigits) num += exp;
    }
    // from_chars ignores the locale, which a program's toolkit may have changed.
    if (num[0] == '+') num.erase(0, 1);
    double value = 0;
    const auto [end, ec] = std::from_chars(num.data(), num.data() + num.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // Too large for a double (400 digits, 1e999) is infinite, never 0; too small is 0.
        const bool negative = num[0] == '-';
        return TooLarge(num) ? (negative ? -HUGE_VAL : HUGE_VAL) : (negative ? -0.0 : 0.0);
    }
    return value;
}

double RoundHalfEven(double x)
{
    return std::nearbyint(x); // the default rounding mode is to nearest, ties to even
}

bool NumericValue32(std::u16string_view text, std::int32_t& out)
{
    const double r = RoundHalfEven(NumericValue(text));
    if (!(r >= std::numeric_limits<std::int32_t>::min() && r <= std::numeric_limits<std::int32_t>::max()))
        return false;
    out = static_cast<std::int32_t>(r);
    return true;
}

std::u16string U16(std::string_view utf8) { return FromUtf8(utf8); }

} // namespace ubin
