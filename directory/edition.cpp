#include "directory/edition.h"

#include "directory/directory.h"
#include "directory/manifest.h"

#include <charconv>
#include <ctime>

namespace ubin {

namespace {

bool ParseInt(std::string_view text, int& out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

} // namespace

std::optional<YearMonth> ParseYearMonth(std::string_view text)
{
    if (text.size() != 7 || text[4] != '-') return std::nullopt;
    for (const std::size_t i : {0, 1, 2, 3, 5, 6})
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
    YearMonth m;
    if (!ParseInt(text.substr(0, 4), m.year) || !ParseInt(text.substr(5), m.month)) return std::nullopt;
    if (m.year < 1900 || m.month < 1 || m.month > 12) return std::nullopt;
    return m;
}

std::string FormatYearMonth(YearMonth m)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d", m.year, m.month);
    return text;
}

int MonthsBetween(YearMonth from, YearMonth to) { return (to.year - from.year) * 12 + (to.month - from.month); }

YearMonth MonthOf(std::chrono::system_clock::time_point t)
{
    const std::chrono::year_month_day day{std::chrono::floor<std::chrono::days>(t)};
    return {static_cast<int>(day.year()), static_cast<int>(static_cast<unsigned>(day.month()))};
}

std::string DirectoryEdition::Text() const
{
    if (!month) return "unknown";
    return FormatYearMonth(*month) + (guessed ? " (guessed from the input files' dates)" : "");
}

std::string DirectoryEdition::ShortText() const { return month ? FormatYearMonth(*month) : "unknown"; }

bool DirectoryEdition::OlderThan(int maxMonths, YearMonth today) const
{
    return !month || MonthsBetween(*month, today) > maxMonths;
}

DirectoryEdition EditionOf(const Manifest* manifest)
{
    DirectoryEdition e;
    if (!manifest) return e;
    e.month = ParseYearMonth(manifest->edition);
    e.guessed = e.month && manifest->editionGuessed;
    return e;
}

DirectoryEdition FolderEdition(const std::u16string& dataFolder)
{
    try {
        DirectoryState folder;
        folder.dataFolder = dataFolder;
        const auto manifest = ReadManifest(folder.FilePath(kManifestFileName));
        return EditionOf(manifest ? &*manifest : nullptr);
    } catch (const std::exception&) {
        return {};
    }
}

std::string VersionLine(std::string_view program, std::string_view version, const DirectoryEdition& edition)
{
    return std::string(program) + " " + std::string(version) + " (data edition " + edition.ShortText() + ")";
}

} // namespace ubin
