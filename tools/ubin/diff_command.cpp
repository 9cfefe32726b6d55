#include "tools/ubin/diff_command.h"

#include "base/cp932.h"
#include "base/path_text.h"
#include "directory/directory.h"
#include "directory/edition.h"
#include "directory/entry_diff.h"
#include "tools/ubin/find_command.h"
#include "tools/ubin/subcommand.h"

#include <nlohmann/json.hpp>

#include <map>

namespace ubin {

namespace {

namespace fs = std::filesystem;

// The entry lines of a build from KEN_ALL.CSV (at most 128 MiB) take less than this; a longer
// file is refused before it is read.
constexpr std::uint64_t kMaxLinesBytes = std::uint64_t{256} << 20;

std::string U8(std::string_view cp932) { return ToUtf8(DecodeCp932(cp932)); }

// One build: its entry lines, its cities' names (TOSHI2.TDB) and its edition.
struct Build {
    fs::path folder;
    std::string lines;
    std::map<std::string, std::string> cities; // code → name, UTF-8
    DirectoryEdition edition;

    explicit Build(const std::string& name) : folder(PathFromUtf8(name))
    {
        // Opened as ubin find opens a folder: a file missing, cut short, damaged, left from
        // another build or not a regular file (a pipe, a device) is refused, naming it, before a
        // byte of the entry lines is compared.
        DirectoryState state;
        state.dataFolder = FromUtf8(PathToUtf8(folder / ""));
        state.StartUp();
        edition = state.edition;
        lines = state.ReadWholeFile(kSlotLines, kMaxLinesBytes);
        const std::string cityLines = state.ReadWholeFile(kSlotCityLines, kMaxLinesBytes);
        std::size_t start = 0;
        while (start < cityLines.size()) {
            const std::size_t end = std::min(cityLines.find('\n', start), cityLines.size());
            const std::string_view line = std::string_view(cityLines).substr(start, end - start);
            start = end + 1;
            const std::size_t a = line.find(','), b = line.find(',', a + 1);
            if (a == 5 && b != std::string_view::npos) cities[std::string(line.substr(0, 5))] = U8(line.substr(6, b - 6));
        }
    }

    std::string City(const std::string& code) const
    {
        const auto found = cities.find(code);
        return found == cities.end() ? std::string() : found->second;
    }
};

std::string Town(const DiffEntry& e)
{
    return U8(e.townName) + (e.detail.empty() ? std::string() : "（" + U8(e.detail) + "）");
}

std::string Entries(const std::vector<DiffEntry>& entries, const Build& build)
{
    std::string out;
    for (const DiffEntry& e : entries) {
        if (!out.empty()) out += " / ";
        out += build.City(e.cityCode) + Town(e) + " " + U8(e.townKana);
    }
    return out;
}

nlohmann::ordered_json EntriesJson(const std::vector<DiffEntry>& entries, const Build& build)
{
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const DiffEntry& e : entries)
        list.push_back({{"city_code", e.cityCode}, {"city", build.City(e.cityCode)}, {"town", U8(e.townName)},
                        {"town_kana", U8(e.townKana)}, {"detail", U8(e.detail)}});
    return list;
}

nlohmann::ordered_json EditionJson(const Build& b)
{
    return {{"folder", PathToUtf8(b.folder)},
            {"edition", b.edition.month ? nlohmann::ordered_json(FormatYearMonth(*b.edition.month)) : nlohmann::ordered_json()}};
}

std::string Joined(const std::vector<std::string>& words, const char* separator)
{
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : separator) + w;
    return out;
}

} // namespace

int RunDiff(const std::vector<std::string>& args, const ToolPlaces&, std::ostream& out, std::ostream& err)
{
    CLI::App app("Lists the postal codes added, removed and changed between two directory folders built by "
                 "ubin-build (a town renamed, moved to another city, read differently, split into several towns), "
                 "the counts first.",
                 "ubin diff");
    std::string oldDir, newDir;
    bool json = false, csv = false;
    app.add_option("OLD_DIR", oldDir, "the earlier directory folder")->required();
    app.add_option("NEW_DIR", newDir, "the later directory folder")->required();
    CLI::Option* jsonOption = app.add_flag("--json", json, "print one JSON object");
    app.add_flag("--csv", csv, "print CSV with a header row, one row per entry")->excludes(jsonOption);
    if (const auto status = ParseSubcommand(app, args, out, err)) return *status;
    try {
        const Build before(oldDir), after(newDir);
        const EntryDiff diff = DiffEntryLines(before.lines, after.lines);
        if (json) {
            nlohmann::ordered_json j;
            j["counts"] = {{"added", diff.added.size()}, {"removed", diff.removed.size()}, {"changed", diff.changed.size()}};
            j["old"] = EditionJson(before);
            j["new"] = EditionJson(after);
            j["added"] = nlohmann::ordered_json::array();
            for (const CodeChange& c : diff.added)
                j["added"].push_back({{"postal_code", c.postalCode}, {"after", EntriesJson(c.after, after)}});
            j["removed"] = nlohmann::ordered_json::array();
            for (const CodeChange& c : diff.removed)
                j["removed"].push_back({{"postal_code", c.postalCode}, {"before", EntriesJson(c.before, before)}});
            j["changed"] = nlohmann::ordered_json::array();
            for (const CodeChange& c : diff.changed)
                j["changed"].push_back({{"postal_code", c.postalCode},
                                        {"changes", ChangeKindNames(c.kinds)},
                                        {"before", EntriesJson(c.before, before)},
                                        {"after", EntriesJson(c.after, after)}});
            out << j.dump() << '\n';
        } else if (csv) {
            out << "change,postal_code,what,side,city_code,city,town,town_kana,detail\r\n";
            const auto rows = [&](const char* change, const CodeChange& c, const char* side,
                                  const std::vector<DiffEntry>& entries, const Build& b) {
                for (const DiffEntry& e : entries)
                    out << change << ',' << c.postalCode << ',' << Joined(ChangeKindNames(c.kinds), " ") << ',' << side
                        << ',' << e.cityCode << ',' << CsvValue(b.City(e.cityCode)) << ',' << CsvValue(U8(e.townName))
                        << ',' << CsvValue(U8(e.townKana)) << ',' << CsvValue(U8(e.detail)) << "\r\n";
            };
            for (const CodeChange& c : diff.added) rows("added", c, "after", c.after, after);
            for (const CodeChange& c : diff.removed) rows("removed", c, "before", c.before, before);
            for (const CodeChange& c : diff.changed) {
                rows("changed", c, "before", c.before, before);
                rows("changed", c, "after", c.after, after);
            }
        } else {
            out << diff.added.size() << " codes added, " << diff.removed.size() << " removed, " << diff.changed.size()
                << " changed\n";
            out << "old: " << PathToUtf8(before.folder) << " (edition " << before.edition.ShortText() << ")\n";
            out << "new: " << PathToUtf8(after.folder) << " (edition " << after.edition.ShortText() << ")\n";
            for (const CodeChange& c : diff.added) out << "+ " << c.postalCode << "  " << Entries(c.after, after) << '\n';
            for (const CodeChange& c : diff.removed) out << "- " << c.postalCode << "  " << Entries(c.before, before) << '\n';
            for (const CodeChange& c : diff.changed)
                out << "~ " << c.postalCode << "  " << Joined(ChangeKindNames(c.kinds), ", ") << ": "
                    << Entries(c.before, before) << " → " << Entries(c.after, after) << '\n';
        }
        return 0;
    } catch (const std::exception& e) {
        err << "ubin diff: " << e.what() << '\n';
        return 2;
    }
}

} // namespace ubin
