#pragma once
// The build of a directory folder, for ubin-build, the C API and the Python module: the directory
// files (UIND1.IDX .. UIND5.IDX, 郵便Point.POI, 郵便番号.CSV, TOSHI1.TDB, TOSHI2.TDB) from Japan
// Post's KEN_ALL.CSV, the office files (事業所.CSV, 事業所.IDX) from JIGYOSYO.CSV when it is
// given, and the search index 検索.IDX over both. The bytes of each record and line are
// directory/file_bytes.h's; the rules are written down in docs/directory-format.md.
#include "base/errors.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ubin {

// How far a build has come, told to BuildOptions::progress now and then (every few thousand
// rows or entries) on the thread that called BuildDirectory: the rows of KEN_ALL read, then the
// rows of JIGYOSYO, then the entries written. Each count only grows.
struct BuildProgress {
    std::int64_t rowsRead = 0;
    std::int64_t officesRead = 0;
    std::int64_t entriesWritten = 0;
};

// Japan Post's change files of one month, for KEN_ALL.CSV (ADD_YYMM.CSV, DEL_YYMM.CSV) or for
// JIGYOSYO.CSV (JADD_YYMM.CSV, JDEL_YYMM.CSV).
struct MonthFiles {
    std::filesystem::path add, del;
};

// What the change files did: records (a long town's continuation rows count once).
struct MonthReport {
    std::int64_t added = 0;
    std::int64_t deleted = 0;
    std::int64_t alreadyPresent = 0; // added records that were there already (lenient)
};

// The postal codes that differ from the directory the build replaced.
struct ChangeCounts {
    std::int64_t added = 0, removed = 0, changed = 0;
};

struct BuildOptions {
    // Also write ubscon.def into the directory: DataFolder is the directory with its final
    // separator, clip flags 1, 2 and 3 on, the rest off.
    bool writeSettings = false;
    // The DataFolder written to ubscon.def instead of the absolute output folder, for a
    // directory built in one place and installed in another.
    std::optional<std::u16string> settingsDataFolder;
    // Japan Post's JIGYOSYO.CSV: the offices with a postal code of their own.
    std::optional<std::filesystem::path> offices;
    // The edition of the data, "YYYY-MM"; when empty, the newest month in which an input file
    // was changed, marked in the manifest as guessed.
    std::string edition;
    // Change files applied, month by month, to KEN_ALL.CSV and to JIGYOSYO.CSV before the
    // build reads them.
    std::vector<MonthFiles> months;
    std::vector<MonthFiles> officeMonths;
    // An added row that is there already is counted instead of stopping the build.
    bool lenient = false;
    // Also write the KEN_ALL.CSV that the change files made (the base's edition and order).
    std::optional<std::filesystem::path> writeCsv;
    // The municipalities others replaced (prefecture, before, after, date; UTF-8 CSV), recorded
    // so that addresses written with an old name are read; without it, the list the suite ships.
    std::optional<std::filesystem::path> municipalChanges;
    // Record none at all (a directory for programs that want today's names only).
    bool withoutMunicipalChanges = false;
    // Called now and then while rows are read and entries written; may be empty. It may set
    // *cancel; an exception it throws stops the build as a BuildError does.
    std::function<void(const BuildProgress&)> progress;
    // When it becomes true the build stops with a BuildError ("the build was interrupted") and
    // leaves the output folder as it was.
    const std::atomic<bool>* cancel = nullptr;
};

enum class InputEncoding { Cp932, Utf8 };

struct BuildReport {
    InputEncoding encoding = InputEncoding::Cp932;
    std::int64_t rowsRead = 0;
    std::int64_t rowsJoined = 0;      // continuation rows joined to the row before them
    std::int32_t entries = 0;
    std::int32_t cityCodes = 0;
    std::int64_t charactersReplaced = 0; // commas and double quotes in values, see the format doc
    std::int32_t offices = 0;
    std::int32_t unreadNotes = 0; // town notes holding words the note grammar does not read
    std::int32_t formerMunicipalities = 0; // old names recorded with the municipality of today
    MonthReport months, officeMonths;
    std::string edition;        // as recorded: "2026-11"; empty when unknown
    bool editionGuessed = false;
    // Against the directory the build replaced; none when there was none.
    std::optional<ChangeCounts> changes;
    // Set when something other than directory files appeared in the old folder at the very
    // moment of the swap: the old folder is kept here, whole, instead of being removed.
    std::filesystem::path keptFolder;
};

// Reads kenAll (and the offices) and writes the directory into outDir. The files are written
// into a new folder beside outDir, which then takes outDir's place: on any failure outDir is
// left as it was.
// An existing outDir is replaced whole; it must be empty or a folder ubin-build made: nothing
// but directory files and ubscon.def (regular files with those names) and a manifest that is
// whole and lists every directory file there, so that a mistyped folder name cannot wipe other
// files, nor files of the user's own that happen to have the directory's names. It is checked
// before the input is read and again right before the swap.
// What killed builds left beside outDir is cleaned up first.
BuildReport BuildDirectory(const std::filesystem::path& kenAll, const std::filesystem::path& outDir,
                           const BuildOptions& options = {});

} // namespace ubin
