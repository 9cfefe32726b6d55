#pragma once
// The edition of a directory: the month of Japan Post's KEN_ALL.CSV it was built from, as
// ubin-build recorded it in the manifest ("edition 2026-11"), given on its command line or
// guessed from the input files' dates. A directory built before editions were recorded reads as
// edition unknown, which is never an error.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace ubin {

struct YearMonth {
    int year = 0;
    int month = 0; // 1 .. 12
    bool operator==(const YearMonth& o) const { return year == o.year && month == o.month; }
    bool operator<(const YearMonth& o) const { return year != o.year ? year < o.year : month < o.month; }
    bool operator>(const YearMonth& o) const { return o < *this; }
};

// "2026-11"; none for anything else (months 01 .. 12, years 1900 .. 9999).
std::optional<YearMonth> ParseYearMonth(std::string_view text);
std::string FormatYearMonth(YearMonth m);
// How many months `to` is after `from` (negative when before).
int MonthsBetween(YearMonth from, YearMonth to);
// The month of a point in time, in UTC.
YearMonth MonthOf(std::chrono::system_clock::time_point t);

struct Manifest;

struct DirectoryEdition {
    std::optional<YearMonth> month; // none: unknown
    bool guessed = false;           // taken from the input files' dates, not given

    // "2026-11", "2026-11 (guessed from the input files' dates)" or "unknown".
    std::string Text() const;
    // "2026-11" or "unknown": the short form for headers and --version.
    std::string ShortText() const;
    // Older than `maxMonths` months before `today`; an unknown edition cannot be shown to be
    // recent, so it counts as old.
    bool OlderThan(int maxMonths, YearMonth today) const;
};

// The edition a manifest records; unknown without a manifest or without an edition line.
DirectoryEdition EditionOf(const Manifest* manifest);
// The edition of a directory folder (a DataFolder text, file names appended to it); unknown when
// the folder has no manifest or it cannot be read.
DirectoryEdition FolderEdition(const std::u16string& dataFolder);

// The line --version prints: "ubin 2.0 (data edition 2026-11)"; "(data edition unknown)" when
// the directory has none or no directory was found.
std::string VersionLine(std::string_view program, std::string_view version, const DirectoryEdition& edition);

} // namespace ubin
