#pragma once
// Rows of Japan Post's CSV files, as bytes (code page 932 or UTF-8: neither puts a comma, a
// double quote or a line break inside a character) or as decoded text.
#include <algorithm>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

// The next line of `rest`, without its CR LF or LF; `rest` moves past it.
inline std::string_view TakeLine(std::string_view& rest)
{
    const std::size_t nl = rest.find('\n');
    std::string_view line = rest.substr(0, nl);
    rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

// Splits a row into its values, quotes removed: a value opened by a double quote runs to the
// next lone double quote and may hold commas, a doubled double quote stands for one, and
// anything between the closing quote and the comma belongs to the value. A value is a view of
// the line, or, when it had to be put together, of a copy kept in `scratch` (which the caller
// clears between rows). False when a quote is not closed.
template <class Char>
bool SplitCsvRow(std::basic_string_view<Char> line, std::vector<std::basic_string_view<Char>>& out,
                 std::deque<std::basic_string<Char>>& scratch)
{
    constexpr Char quoteChar = '"', commaChar = ',';
    out.clear();
    std::size_t i = 0;
    while (true) {
        std::basic_string_view<Char> value;
        if (i < line.size() && line[i] == quoteChar) {
            const std::size_t start = ++i;
            std::basic_string<Char>* copy = nullptr;
            while (true) {
                const std::size_t quote = line.find(quoteChar, i);
                if (quote == std::basic_string_view<Char>::npos) return false;
                if (quote + 1 < line.size() && line[quote + 1] == quoteChar) {
                    if (!copy) copy = &scratch.emplace_back(line.substr(start, quote - start));
                    else copy->append(line.substr(i, quote - i));
                    copy->push_back(quoteChar);
                    i = quote + 2;
                    continue;
                }
                if (copy) copy->append(line.substr(i, quote - i));
                value = copy ? std::basic_string_view<Char>(*copy) : line.substr(start, quote - start);
                i = quote + 1;
                break;
            }
            const std::size_t comma = std::min(line.find(commaChar, i), line.size());
            if (comma > i) {
                std::basic_string<Char>& joined = scratch.emplace_back(value);
                joined.append(line.substr(i, comma - i));
                value = joined;
            }
            i = comma;
        } else {
            const std::size_t comma = std::min(line.find(commaChar, i), line.size());
            value = line.substr(i, comma - i);
            i = comma;
        }
        out.push_back(value);
        if (i >= line.size()) return true;
        ++i; // the comma
    }
}

} // namespace ubin
