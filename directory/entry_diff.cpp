#include "directory/entry_diff.h"

#include "base/errors.h"

#include <algorithm>
#include <unordered_map>

namespace ubin {

namespace {

using Codes = std::unordered_map<std::string_view, std::vector<DiffEntry>>;

Codes ByCode(std::string_view lines, const char* which)
{
    Codes codes;
    codes.reserve(lines.size() / 48);
    std::int64_t lineNo = 0;
    while (!lines.empty()) {
        const std::size_t nl = lines.find('\n');
        std::string_view line = lines.substr(0, nl);
        lines.remove_prefix(nl == std::string_view::npos ? lines.size() : nl + 1);
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        std::string_view v[6];
        int n = 0;
        for (std::size_t start = 0; n < 6; ++n) {
            const std::size_t comma = line.find(',', start);
            v[n] = line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
            if (comma == std::string_view::npos) { ++n; break; }
            start = comma + 1;
        }
        if (n != 6) throw DirectoryError(std::string(which) + " 郵便番号.CSV: line " + std::to_string(lineNo)
                                         + ": is not an entry line of six values");
        codes[v[0]].push_back({std::string(v[1]), std::string(v[2]), std::string(v[3]), std::string(v[4])});
    }
    return codes;
}

template <class F>
std::vector<std::string> Sorted(const std::vector<DiffEntry>& entries, F field)
{
    std::vector<std::string> out;
    for (const DiffEntry& e : entries) out.push_back(field(e));
    std::sort(out.begin(), out.end());
    return out;
}

unsigned Kinds(const std::vector<DiffEntry>& before, const std::vector<DiffEntry>& after)
{
    unsigned kinds = 0;
    auto cities = [](const std::vector<DiffEntry>& es) {
        auto v = Sorted(es, [](const DiffEntry& e) { return e.cityCode; });
        v.erase(std::unique(v.begin(), v.end()), v.end());
        return v;
    };
    if (cities(before) != cities(after)) kinds |= kChangeCity;
    if (after.size() > before.size()) kinds |= kChangeSplit;
    if (after.size() < before.size()) kinds |= kChangeMerged;
    const auto names = [](const DiffEntry& e) { return e.townName; };
    const auto readings = [](const DiffEntry& e) { return e.townKana; };
    if (before.size() == after.size()) {
        if (Sorted(before, names) != Sorted(after, names)) kinds |= kChangeRenamed;
        else if (Sorted(before, readings) != Sorted(after, readings)) kinds |= kChangeReading;
        else if (!(kinds & kChangeCity)) kinds |= kChangeDetail;
    }
    return kinds;
}

} // namespace

EntryDiff DiffEntryLines(std::string_view oldLines, std::string_view newLines)
{
    const Codes before = ByCode(oldLines, "the old");
    const Codes after = ByCode(newLines, "the new");
    EntryDiff diff;
    for (const auto& [code, entries] : after) {
        const auto old = before.find(code);
        if (old == before.end()) {
            diff.added.push_back({std::string(code), {}, entries, 0});
            continue;
        }
        std::vector<DiffEntry> a = old->second, b = entries;
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        if (a != b) diff.changed.push_back({std::string(code), old->second, entries, Kinds(old->second, entries)});
    }
    for (const auto& [code, entries] : before)
        if (!after.contains(code)) diff.removed.push_back({std::string(code), entries, {}, 0});
    for (auto* list : {&diff.added, &diff.removed, &diff.changed})
        std::sort(list->begin(), list->end(),
                  [](const CodeChange& x, const CodeChange& y) { return x.postalCode < y.postalCode; });
    return diff;
}

std::vector<std::string> ChangeKindNames(unsigned kinds)
{
    static const std::pair<unsigned, const char*> names[] = {
        {kChangeCity, "city"},     {kChangeRenamed, "renamed"}, {kChangeReading, "reading"},
        {kChangeDetail, "detail"}, {kChangeSplit, "split"},     {kChangeMerged, "merged"}};
    std::vector<std::string> out;
    for (const auto& [bit, name] : names)
        if (kinds & bit) out.push_back(name);
    return out;
}

} // namespace ubin
