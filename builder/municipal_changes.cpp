#include "builder/municipal_changes.h"

#include "base/cp932.h"
#include "base/errors.h"
#include "base/path_text.h"
#include "builder/builder.h"
#include "builder/prefectures.h"

#include <charconv>
#include <set>
#include <tuple>

namespace ubin {

namespace {

constexpr char kShipped[] =
#include "municipal_changes.inc"
    ;

std::vector<std::string_view> Fields(std::string_view line)
{
    std::vector<std::string_view> out;
    for (std::size_t start = 0;;) {
        const std::size_t comma = line.find(',', start);
        out.push_back(line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (comma == std::string_view::npos) return out;
        start = comma + 1;
    }
}

// YYYY-MM-DD as YYYYMMDD; 0 when it is no such date.
std::int32_t DateOf(std::string_view text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return 0;
    std::int32_t y = 0, m = 0, d = 0;
    const auto number = [&](std::string_view part, std::int32_t& out) {
        const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), out);
        return ec == std::errc() && end == part.data() + part.size();
    };
    if (!number(text.substr(0, 4), y) || !number(text.substr(5, 2), m) || !number(text.substr(8, 2), d)) return 0;
    if (m < 1 || m > 12 || d < 1 || d > 31) return 0;
    return y * 10000 + m * 100 + d;
}

// A name without Japan Post's note in （）.
std::u16string WithoutNote(std::u16string_view name) { return std::u16string(name.substr(0, name.find(u'（'))); }

// The municipalities a `before` names: 西彼杵郡香焼町・伊王島町 is 西彼杵郡香焼町 and 西彼杵郡伊王島町.
std::vector<std::u16string> NamesOf(std::u16string_view before)
{
    const std::u16string names = WithoutNote(before);
    std::vector<std::u16string> out;
    std::u16string gun;
    for (std::size_t start = 0;;) {
        const std::size_t dot = names.find(u'・', start);
        std::u16string name = names.substr(start, dot == std::u16string::npos ? std::u16string::npos : dot - start);
        if (out.empty()) {
            if (const std::size_t g = name.find(u'郡'); g != std::u16string::npos) gun = name.substr(0, g + 1);
        } else if (name.find(u'郡') == std::u16string::npos) {
            name = gun + name;
        }
        if (!name.empty()) out.push_back(std::move(name));
        if (dot == std::u16string::npos) return out;
        start = dot + 1;
    }
}

} // namespace

std::string_view ShippedMunicipalChanges() { return {kShipped, sizeof kShipped - 1}; }

std::vector<MunicipalChange> ReadMunicipalChanges(std::string_view text, const std::filesystem::path& name)
{
    std::vector<MunicipalChange> out;
    std::int64_t lineNo = 0;
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || (lineNo == 1 && line.starts_with("prefecture,"))) continue;
        const auto fail = [&](const std::string& why) { throw BuildError(name, lineNo, why); };
        const auto f = Fields(line);
        if (f.size() != 4) fail("has " + std::to_string(f.size()) + " columns; a change has 4 (prefecture, before, after, date)");
        MunicipalChange c;
        c.line = lineNo;
        std::u16string prefecture;
        try {
            prefecture = FromUtf8(f[0]);
            c.before = FromUtf8(f[1]);
            c.after = FromUtf8(f[2]);
        } catch (const EncodingError&) {
            fail("is not UTF-8");
        }
        for (std::size_t p = 0; p < kPrefectures.size(); ++p)
            if (kPrefectures[p].name == prefecture) c.prefecture = static_cast<std::int32_t>(p + 1);
        if (c.prefecture == 0) fail("column 1 (prefecture) names no prefecture: " + std::string(f[0]));
        if (c.before.empty() || c.after.empty()) fail("the municipality before or after the change is empty");
        c.date = DateOf(f[3]);
        if (c.date == 0) fail("column 4 (date) is not YYYY-MM-DD: " + std::string(f[3]));
        out.push_back(std::move(c));
    }
    return out;
}

std::vector<AddressOldCity> OldMunicipalities(const std::vector<MunicipalChange>& changes,
                                              const std::map<std::int32_t, std::u16string>& cities)
{
    // A municipality of today by its prefecture and name.
    const auto today = [&](std::int32_t prefecture, const std::u16string& name) {
        for (const auto& [code, city] : cities)
            if (code / 1000 == prefecture && city == name) return code;
        return 0;
    };
    // Where a name went, change after change, until a municipality of today (at most as many
    // steps as there are changes, so a list that loops ends).
    const auto follow = [&](std::int32_t prefecture, std::u16string name, std::int32_t after) {
        for (std::size_t step = 0; step <= changes.size(); ++step) {
            if (const std::int32_t code = today(prefecture, name)) return code;
            const MunicipalChange* next = nullptr;
            for (const MunicipalChange& c : changes)
                if (c.prefecture == prefecture && c.date >= after && WithoutNote(c.after) != name)
                    for (const std::u16string& n : NamesOf(c.before))
                        if (n == name && (!next || c.date < next->date)) next = &c;
            if (!next) return 0;
            name = WithoutNote(next->after);
            after = next->date;
        }
        return 0;
    };
    std::vector<AddressOldCity> out;
    std::set<std::tuple<std::int32_t, std::u16string, std::int32_t>> seen;
    for (const MunicipalChange& c : changes) {
        const std::int32_t code = follow(c.prefecture, WithoutNote(c.after), c.date);
        if (code == 0) continue;
        for (const std::u16string& name : NamesOf(c.before)) {
            // A municipality that kept its name is read as it is today.
            if (today(c.prefecture, name) == code) continue;
            if (!seen.insert({c.prefecture, name, code}).second) continue;
            out.push_back({code, c.prefecture, c.date, name});
        }
    }
    return out;
}

} // namespace ubin
