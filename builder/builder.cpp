#include "builder/builder.h"

#include "base/cp932.h"
#include "base/atomic_write.h"
#include "base/path_text.h"
#include "base/sha256.h"
#include "base/text.h"
#include "base/normalize.h"
#include "directory/address_file.h"
#include "directory/address_table.h"
#include "directory/directory.h"
#include "base/checksum.h"
#include "directory/edition.h"
#include "directory/entry_diff.h"
#include "directory/file_bytes.h"
#include "directory/manifest.h"
#include "settings/places.h"
#include "settings/settings.h"
#include "builder/address_writer.h"
#include "builder/find_writer.h"
#include "builder/jigyosyo.h"
#include "builder/ken_all.h"
#include "builder/month_files.h"
#include "builder/municipal_changes.h"
#include "builder/output_folder.h"
#include "builder/prefectures.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <random>
#include <future>
#include <numeric>
#include <unordered_map>

namespace fs = std::filesystem;

namespace ubin {

namespace {

constexpr std::int32_t kCityTableRecords = kMaxCityCode;
constexpr int kProgressEvery = 8192;
constexpr char kSettingsName[] = "ubscon.def";

std::int32_t Position(const std::string& file, const fs::path& name)
{
    if (file.size() >= 0x7FFFFFFF) throw BuildError(name, 0, "grows beyond the 2 GB a line position can reach");
    return static_cast<std::int32_t>(file.size() + 1);
}

fs::path FileName(const std::u16string& name)
{
#ifdef _WIN32
    return fs::path(std::wstring(name.begin(), name.end()));
#else
    return fs::path(ToUtf8(name));
#endif
}

std::u16string FromPath(const fs::path& name)
{
#ifdef _WIN32
    const std::wstring w = name.wstring();
    return std::u16string(w.begin(), w.end());
#else
    return FromUtf8(name.string());
#endif
}

// A number no other build shares: the time and a random part.
std::string BuildNumber()
{
    std::random_device random;
    const auto now = std::chrono::system_clock::now().time_since_epoch().count();
    char text[40];
    std::snprintf(text, sizeof text, "%016llx%08x", static_cast<unsigned long long>(now), random());
    return text;
}

// The names of the files a directory folder holds: the directory files its manifest lists, the
// manifest and ubscon.def.
std::vector<fs::path> OwnFileNames()
{
    std::vector<fs::path> names;
    for (const std::u16string& n : DirectoryFileNames()) names.push_back(FileName(n));
    names.push_back(FileName(kManifestFileName));
    names.push_back(fs::path(kSettingsName));
    return names;
}

// Refuses to replace anything but a folder ubin-build made, so that a mistyped output folder
// cannot take other files with it. Every entry must be a regular file with the name of a
// directory file (a folder or a link under such a name is not one), and a folder that is not
// empty must hold a manifest that is whole and lists every directory file there: files that
// merely have the directory's names (a user's own 住所.TXT, or ubscon.def alone) are not
// replaced. `when` is told in the message ("" before the build, "during the build" before the
// swap).
void CheckReplaceable(const fs::path& outDir, const std::vector<fs::path>& known, const std::string& when)
{
    std::error_code ec;
    const auto status = fs::symlink_status(outDir, ec);
    if (!fs::exists(status)) return;
    if (!fs::is_directory(status))
        throw BuildError(outDir, 0, "exists and is not a folder; give a new folder or one made by ubin-build");
    const std::string advice = "; a build replaces the whole folder, so give a new folder or one made by ubin-build";
    std::vector<std::string> held;
    for (const auto& item : fs::directory_iterator(outDir, ec)) {
        const fs::path name = item.path().filename();
        if (std::find(known.begin(), known.end(), name) == known.end())
            throw BuildError(outDir, 0, "holds " + PathToUtf8(name) + when + ", which is not a directory file" + advice);
        std::error_code typeError;
        const auto type = item.symlink_status(typeError);
        if (!fs::is_regular_file(type)) {
            const std::string what = fs::is_directory(type) ? "a folder" : fs::is_symlink(type) ? "a symbolic link"
                                                                                                  : "not a regular file";
            throw BuildError(outDir, 0, "holds " + PathToUtf8(name) + when + ", which has a directory file's name but is "
                                            + what + advice);
        }
        held.push_back(PathToUtf8(name));
    }
    if (ec) throw BuildError(outDir, 0, "cannot be listed: " + ec.message());
    if (held.empty()) return;
    std::sort(held.begin(), held.end());
    std::string names;
    for (const std::string& n : held) names += (names.empty() ? "" : ", ") + n;
    const std::string own = "; ubin-build replaces only a folder it made, so these may be files of your own: move "
                            "them elsewhere (or remove them) and build again, or give another folder";
    try {
        if (!ReadFolderManifest([&](const std::u16string& name) { return outDir / FileName(name); }))
            throw BuildError(outDir, 0, "holds " + names + when + " but no manifest of ubin-build ("
                                            + PathToUtf8(FileName(kManifestFileName)) + ")" + own);
    } catch (const DirectoryError& e) {
        throw BuildError(outDir, 0, "holds " + names + when + ", but its manifest is not one ubin-build left whole ("
                                        + e.what() + ")" + own);
    }
}

// The readers take lines of at most kMaxTextLength characters; a longer one is refused here,
// naming the input line it comes from, rather than written and failing every lookup.
void CheckLineLength(std::string_view line, const InputBytes& input, std::int64_t inputLine, const fs::path& file)
{
    const std::size_t n = Cp932Length(line);
    if (n > kMaxTextLength)
        throw Located(BuildError(input.name, inputLine, "its line in " + PathToUtf8(file) + " would be " + std::to_string(n)
                                                            + " characters long; the programs read lines of at most "
                                                            + std::to_string(kMaxTextLength) + " characters"),
                      input);
}

// The offices in postal code order (the file's order for one code): 事業所.CSV, one line per
// office, and 事業所.IDX, keyed by postal code, whose record n is office n and holds the
// position of its line.
struct OfficeFiles {
    std::string lines, index;
    std::vector<std::size_t> order; // office number - 1 → position in the input
};

OfficeFiles WriteOffices(const std::vector<Office>& offices, const InputBytes& jigyosyo)
{
    OfficeFiles files;
    files.order.resize(offices.size());
    std::iota(files.order.begin(), files.order.end(), std::size_t{0});
    std::stable_sort(files.order.begin(), files.order.end(),
                     [&](std::size_t a, std::size_t b) { return offices[a].postalCode < offices[b].postalCode; });
    const fs::path linesName = FileName(kOfficeLinesFileName);
    for (const std::size_t i : files.order) {
        const Office& o = offices[i];
        files.index.append(MakeIndexKey(o.postalCode).data(), kKeyBytes);
        AppendInt32(files.index, Position(files.lines, linesName));
        const std::size_t start = files.lines.size();
        files.lines.append(o.postalCode);
        files.lines.append(",").append(ZeroPadded(o.cityCode, 5));
        for (const std::string* field : {&o.kana, &o.name, &o.prefecture, &o.city, &o.town, &o.street})
            files.lines.append(",").append(*field);
        files.lines.append(o.poBox ? ",1" : ",0");
        for (const std::string* field : {&o.severalCodes, &o.change, &o.oldCode, &o.postOffice})
            files.lines.append(",").append(*field);
        CheckLineLength(std::string_view(files.lines).substr(start), jigyosyo, o.line, linesName);
        files.lines.append(kLineEnd);
    }
    return files;
}

std::u16string Text(const std::string& cp932) { return DecodeCp932(cp932); }

// Every entry and office as the search index lists it.
std::vector<FindDocument> FindDocuments(const KenAllData& data, const std::vector<std::size_t>& entryOrder,
                                        const std::vector<Office>& offices, const std::vector<std::size_t>& officeOrder)
{
    std::vector<FindDocument> docs;
    docs.reserve(entryOrder.size() + offices.size());
    for (std::size_t k = 0; k < entryOrder.size(); ++k) {
        const KenAllEntry& e = data.entries[entryOrder[k]];
        const Prefecture& pref = kPrefectures[static_cast<std::size_t>(e.cityCode / 1000 - 1)];
        const KenAllCity& city = data.cities.at(e.cityCode);
        FindDocument d;
        d.postal = static_cast<std::uint32_t>(std::stoul(e.postalCode));
        d.number = static_cast<std::uint32_t>(k + 1);
        d.sourceLine = e.line;
        d.prefecture = pref.name;
        d.city = Text(city.name);
        d.town = Text(e.townName);
        d.detail = Text(e.detail);
        d.reading = std::u16string(pref.kana) + Text(city.kana) + Text(e.townKana);
        docs.push_back(std::move(d));
    }
    for (std::size_t k = 0; k < officeOrder.size(); ++k) {
        const Office& o = offices[officeOrder[k]];
        FindDocument d;
        d.postal = static_cast<std::uint32_t>(std::stoul(o.postalCode));
        d.office = true;
        d.number = static_cast<std::uint32_t>(k + 1);
        d.sourceLine = o.line;
        d.prefecture = Text(o.prefecture);
        d.city = Text(o.city);
        d.town = Text(o.town);
        d.street = Text(o.street);
        d.officeName = Text(o.name);
        d.reading = Text(o.kana);
        docs.push_back(std::move(d));
    }
    return docs;
}

// The files a build reads: their bytes, and what the manifest says of them.
class Inputs {
public:
    InputBytes Read(const fs::path& file, const std::string& kind)
    {
        InputBytes in{file, ReadInputFile(file, kind)};
        manifest_.push_back({PathToUtf8(file.filename()), in.bytes.size(), Sha256Hex(in.bytes)});
        std::error_code ec;
        if (fs::is_regular_file(file, ec)) {
            const auto time = fs::last_write_time(file, ec);
            if (!ec) {
                const YearMonth month = MonthOf(std::chrono::file_clock::to_sys(time));
                if (!newest_ || month > *newest_) newest_ = month;
            }
        }
        return in;
    }

    // The file with its month files applied; the file as read without any.
    InputBytes Apply(ChangeFormat format, const fs::path& file, const std::string& kind,
                     const std::vector<MonthFiles>& months, const BuildOptions& options, MonthReport& report)
    {
        InputBytes base = Read(file, kind);
        if (months.empty()) return base;
        std::vector<MonthBytes> read;
        for (const MonthFiles& m : months)
            read.push_back({m.add.empty() ? InputBytes{} : Read(m.add, kind), m.del.empty() ? InputBytes{} : Read(m.del, kind)});
        auto origins = std::make_shared<LineOrigins>();
        std::string applied = ApplyMonths(format, base, read, options.lenient, report, origins.get());
        // The rows are the base's and the month files': a fault on one names its own file and line.
        return {fs::path(PathToUtf8(file) + " (with the month files applied)"), std::move(applied), std::move(origins)};
    }

    const std::vector<ManifestInput>& manifest() const { return manifest_; }
    const std::optional<YearMonth>& newest() const { return newest_; }

private:
    std::vector<ManifestInput> manifest_;
    std::optional<YearMonth> newest_;
};

} // namespace

// The old municipality names to record: from the given list, or the one the suite ships.
std::vector<AddressOldCity> FormerMunicipalities(const KenAllData& data, const BuildOptions& options)
{
    if (options.withoutMunicipalChanges) return {};
    std::vector<MunicipalChange> changes;
    if (options.municipalChanges) {
        const std::string text = ReadInputFile(*options.municipalChanges, "municipal_changes");
        changes = ReadMunicipalChanges(text, *options.municipalChanges);
    } else {
        changes = ReadMunicipalChanges(ShippedMunicipalChanges(), "municipal_changes.csv");
    }
    std::map<std::int32_t, std::u16string> cities;
    for (const auto& [code, city] : data.cities) cities.emplace(code, DecodeCp932(city.name));
    return OldMunicipalities(changes, cities);
}

BuildReport BuildDirectory(const fs::path& kenAll, const fs::path& outDir, const BuildOptions& options)
{
    if (outDir.empty()) throw BuildError({}, 0, "the output folder name is empty; give the folder to write the directory into");
    fs::path target = fs::absolute(outDir).lexically_normal();
    if (!target.has_filename()) target = target.parent_path();
    if (target == target.root_path()) throw BuildError(outDir, 0, "the root folder cannot be the output folder");
    const std::vector<fs::path> ownNames = OwnFileNames();
    OutputFolder::RemoveLeftovers(target, ownNames);
    CheckReplaceable(target, ownNames, "");

    if (!options.edition.empty() && !ParseYearMonth(options.edition))
        throw BuildError({}, 0, "the edition \"" + options.edition + "\" is not a year and a month (YYYY-MM, as 2026-11)");
    if (!options.officeMonths.empty() && !options.offices)
        throw BuildError({}, 0, "the offices' change files need the offices' full file (--offices JIGYOSYO.CSV)");

    BuildProgress progress;
    BuildReport report;
    Inputs inputs;
    const InputBytes kenAllText =
        inputs.Apply(ChangeFormat::KenAll, kenAll, "KEN_ALL", options.months, options, report.months);
    KenAllData data = ReadKenAllInput(kenAllText, options, progress);
    OfficeData offices;
    InputBytes officesText;
    if (options.offices) {
        officesText = inputs.Apply(ChangeFormat::Jigyosyo, *options.offices, "JIGYOSYO", options.officeMonths, options,
                                   report.officeMonths);
        offices = ReadJigyosyoInput(officesText, options, progress);
        officesText.bytes = std::string(); // only its name and line origins are needed from here on
    }

    // Entry order: municipal code, then the town's first appearance, then postal code.
    const std::size_t n = data.entries.size();
    if (n > 0x7FFFFFFF) throw BuildError(kenAll, 0, "holds more entries than an entry number can count");
    std::unordered_map<std::string, std::size_t> townFirst;
    std::vector<std::size_t> townOf(n);
    std::vector<std::int32_t> townSize(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const KenAllEntry& e = data.entries[i];
        std::string key = std::to_string(e.cityCode);
        key.push_back('\0');
        key += e.townName;
        const std::size_t first = townFirst.try_emplace(std::move(key), i).first->second;
        townOf[i] = first;
        ++townSize[first];
    }
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const KenAllEntry& x = data.entries[a];
        const KenAllEntry& y = data.entries[b];
        if (x.cityCode != y.cityCode) return x.cityCode < y.cityCode;
        if (townOf[a] != townOf[b]) return townOf[a] < townOf[b];
        return x.postalCode < y.postalCode;
    });

    // The search index takes as long as all the other files together: it is made on a second
    // thread meanwhile.
    const OfficeFiles officeFiles = WriteOffices(offices.offices, officesText);
    std::future<std::string> findIndex = std::async(std::launch::async, [&] {
        FindRanker::Prefectures prefectures;
        for (const Prefecture& p : kPrefectures) prefectures.emplace_back(NameForm(p.name), SearchForm(p.kana));
        return FindIndexBytes(FindDocuments(data, order, offices.offices, officeFiles.order), prefectures);
    });

    AddressNotes notes = MakeAddressNotes(data, order);
    notes.file.oldCities = FormerMunicipalities(data, options);

    const fs::path linesName = FileName(kLinesFileName);
    std::string lines, points;
    lines.reserve(n * 64);
    points.reserve(n * kPointRecordLength);
    std::array<std::vector<IndexFileRecord>, 5> indexes;
    for (auto& index : indexes) index.reserve(n);
    for (std::size_t k = 0; k < n; ++k) {
        const KenAllEntry& e = data.entries[order[k]];
        const auto entryNumber = static_cast<std::int32_t>(k + 1);
        AppendPointRecord(points, e.postalCode, entryNumber, Position(lines, linesName));
        const std::string line = DirectoryLineText(e.postalCode, e.cityCode, e.townKana, e.townName, e.detail,
                                                   townSize[townOf[order[k]]] > 1);
        CheckLineLength(line, kenAllText, e.line, linesName);
        lines.append(line).append(kLineEnd);
        indexes[0].push_back({MakeIndexKey(e.postalCode), entryNumber});
        indexes[1].push_back({MakeIndexKey(ZeroPadded(e.cityCode, 5)), entryNumber});
        indexes[2].push_back({MakeIndexKey(e.townKana), entryNumber});
        indexes[3].push_back({MakeIndexKey(e.townName), entryNumber});
        indexes[4].push_back({MakeIndexKey(e.postalCode), entryNumber});
        if ((k + 1) % kProgressEvery == 0) {
            progress.entriesWritten = entryNumber;
            if (options.progress) options.progress(progress);
            if (options.cancel && options.cancel->load()) throw BuildError(outDir, 0, "the build was interrupted");
        }
    }

    // The prefecture lines, then one line per municipal code; TOSHI1.TDB points at each.
    const fs::path cityLinesName = FileName(kCityLinesFileName);
    std::string cityLines;
    std::vector<std::int32_t> cityTable(kCityTableRecords, 0);
    for (std::size_t p = 0; p < kPrefectures.size(); ++p) {
        cityTable[p] = Position(cityLines, cityLinesName);
        cityLines.append(PrefectureLineText(static_cast<int>(p + 1), EncodeCp932(kPrefectures[p].name),
                                            EncodeCp932(kPrefectures[p].kana)));
        cityLines.append(kLineEnd);
    }
    for (const auto& [code, city] : data.cities) {
        cityTable[static_cast<std::size_t>(code - 1)] = Position(cityLines, cityLinesName);
        const std::string line = CityLineText(code, city.name, city.kana);
        CheckLineLength(line, kenAllText, city.line, cityLinesName);
        cityLines.append(line).append(kLineEnd);
    }

    OutputFolder folder(target, ownNames);
    // Every file goes into the manifest with its size and checksum; the manifest is written
    // last, so a folder with a manifest is whole.
    Manifest manifest;
    manifest.build = BuildNumber();
    if (!options.edition.empty()) {
        manifest.edition = options.edition;
    } else if (inputs.newest()) {
        manifest.edition = FormatYearMonth(*inputs.newest());
        manifest.editionGuessed = true;
    }
    manifest.inputs = inputs.manifest();
    // Every file carries piece checksums, so that a program checks what it reads instead of
    // every byte (the search index and the address tables also check their own sections, for a
    // folder without its manifest).
    const auto write = [&](const fs::path& name, const std::string& bytes, std::uint32_t pieceBytes = kPieceBytes) {
        folder.WriteFile(name, bytes);
        manifest.files.push_back({ToUtf8(FromPath(name)), bytes.size(), Xxh3Of(bytes), pieceBytes, PieceSums(bytes, pieceBytes)});
    };
    for (int i = 0; i < 5; ++i) write(FileName(kIndexFileNames[i]), IndexFileBytes(indexes[static_cast<std::size_t>(i)]));
    write(FileName(kPointFileName), points);
    write(linesName, lines);
    write(FileName(kCityTableFileName), CityTableBytes(cityTable));
    write(cityLinesName, cityLines);
    if (options.offices) {
        write(FileName(kOfficeLinesFileName), officeFiles.lines);
        write(FileName(kOfficeIndexFileName), officeFiles.index);
    }
    write(FileName(kFindIndexFileName), findIndex.get(), kRowPieceBytes);
    write(FileName(kAddressTableFileName), AddressTableBytes(notes.file), kRowPieceBytes);
    folder.WriteFile(FileName(kManifestFileName), FormatManifest(manifest));
    if (options.writeSettings) {
        Settings s;
        s.dataFolder = WithFinalSeparator(options.settingsDataFolder ? *options.settingsDataFolder
                                                                     : FromUtf8(PathToUtf8(target)));
        s.clipFlags[kClipPostalCode] = s.clipFlags[kClipAddress1] = s.clipFlags[kClipAddress2] = 1;
        try {
            WriteSettingsFile(folder.path() / kSettingsName, s);
        } catch (const SettingsError& e) {
            throw BuildError(target / kSettingsName, 0, std::string("cannot be written: ") + e.what());
        }
    }
    if (options.cancel && options.cancel->load()) throw BuildError(outDir, 0, "the build was interrupted");
    // Whatever was put into the folder while the build ran is checked by the same rule.
    CheckReplaceable(target, ownNames, " (put there during the build)");
    // What changed against the build this one replaces, when there is one that can be read.
    {
        std::error_code ec;
        const fs::path oldLines = target / linesName;
        if (fs::is_regular_file(oldLines, ec)) {
            try {
                const EntryDiff diff = DiffEntryLines(ReadInputFile(oldLines, "郵便番号"), lines);
                report.changes = ChangeCounts{static_cast<std::int64_t>(diff.added.size()),
                                              static_cast<std::int64_t>(diff.removed.size()),
                                              static_cast<std::int64_t>(diff.changed.size())};
            } catch (const Error&) {
                // A damaged old folder is replaced all the same; there is nothing to count against.
            }
        }
    }
    folder.Commit();
    if (options.writeCsv) {
        try {
            WriteFileAtomically(*options.writeCsv, kenAllText.bytes);
        } catch (const Error& e) {
            throw BuildError(*options.writeCsv, 0, std::string("cannot be written: ") + e.what());
        }
    }

    progress.entriesWritten = static_cast<std::int64_t>(n);
    if (options.progress) options.progress(progress);

    report.encoding = data.encoding;
    report.edition = manifest.edition;
    report.editionGuessed = manifest.editionGuessed;
    report.rowsRead = data.rowsRead;
    report.rowsJoined = data.rowsJoined;
    report.entries = static_cast<std::int32_t>(n);
    report.formerMunicipalities = static_cast<std::int32_t>(notes.file.oldCities.size());
    report.cityCodes = static_cast<std::int32_t>(data.cities.size());
    report.charactersReplaced = data.charactersReplaced + offices.charactersReplaced;
    report.offices = static_cast<std::int32_t>(offices.offices.size());
    report.unreadNotes = notes.unread;
    report.keptFolder = folder.keptPath();
    return report;
}

} // namespace ubin
