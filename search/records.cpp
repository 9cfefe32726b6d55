#include "search/records.h"

#include "base/cp932.h"
#include "directory/directory.h"
#include "directory/keysearch.h"

namespace ubin {

namespace {

// A city line read while paging through cities holds 6 fields.
constexpr int kCityPagingFields = 6;

} // namespace

std::int32_t IndexRecords::RecordCount(KeyIndex index) const
{
    return lookup_.directory().RecordCount(static_cast<int>(index));
}

std::int32_t IndexRecords::EntryOfRecord(KeyIndex index, std::int32_t record) const
{
    return lookup_.directory().ReadIndexRecord(static_cast<int>(index), record).entryNumber;
}

FirstMatch IndexRecords::FindFirst(KeyIndex index, std::u16string_view key, std::int32_t low, std::int32_t high) const
{
    if (!HasCp932Form(key)) return {};
    const std::optional<FirstKeyMatch> m = FindFirstKey(lookup_.directory(), static_cast<int>(index), low, high, key);
    if (!m) return {};
    return {m->record, m->entry.value_or(0), m->entry.has_value()};
}

FirstMatch IndexRecords::FindFirst(KeyIndex index, std::u16string_view key) const
{
    return FindFirst(index, key, 1, RecordCount(index));
}

std::optional<Candidate> IndexRecords::Step(Cursor& c, int direction) const
{
    const bool back = direction < 0;
    std::int32_t low = c.low, high = c.high;
    if (c.cities) {
        low = 1;
        high = lookup_.CityTableSize();
        // Codes beyond the table are passed at once; the test comes before any step, so a
        // table of 2^31 - 1 records does not overflow.
        if (back && c.position > high) c.position = high + 1;
        if (!back && c.position < 0) c.position = 0;
    }
    while (true) {
        if (back ? c.position <= low : c.position >= high) return std::nullopt;
        c.position += back ? -1 : 1;
        if (!c.cities) return Candidate{EntryOfRecord(c.index, c.position), std::nullopt};
        const std::optional<std::int32_t> position = lookup_.CityPosition(c.position);
        if (!position) continue; // codes without a city are passed over for good
        return Candidate{0, lookup_.ReadAreaLine(c.position, *position, kCityPagingFields)};
    }
}

} // namespace ubin
