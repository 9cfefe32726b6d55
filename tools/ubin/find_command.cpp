#include "tools/ubin/find_command.h"

#include "base/cp932.h"
#include "base/errors.h"
#include "tools/ubin/batch_command.h"
#include "tools/ubin/cli.h"
#include "tools/ubin/subcommand.h"
#include "present/find_json.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <iostream>
#include <memory>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

namespace ubin {

namespace {

std::string U8(std::u16string_view text) { return ToUtf8(text); }

std::u16string Address(const Entry& e) { return CleanAddress(e); }

std::u16string Reading(const Entry& e)
{
    if (!e.IsOffice()) return e.prefectureKana + e.cityKana + e.townKana;
    return e.officeKana.empty() ? e.office : e.office + u" " + e.officeKana;
}

void PrintLines(const FindResult& r, std::ostream& out)
{
    std::size_t width = 0;
    for (const Entry& e : r.results) width = std::max(width, DisplayWidth(Address(e)));
    for (const Entry& e : r.results) {
        const std::u16string address = Address(e);
        const std::u16string_view code = e.postalCode;
        out << "〒" << U8(code.substr(0, 3)) << '-' << U8(code.substr(3)) << "  " << U8(address)
            << std::string(width - DisplayWidth(address), ' ') << "  " << U8(Reading(e)) << '\n';
    }
    out << r.total << " 件";
    if (r.results.size() < r.total)
        out << "（先頭の " << r.results.size() << " 件を表示。すべて表示するには --limit 0、件数を変えるには --limit N）";
    out << '\n';
    // How far an address was read, when it was not read to its town.
    if (r.match == FindMatch::Address && r.level < AddressLevel::Town && !r.results.empty())
        out << "町域が見つからないため、" << U8(r.results.front().prefecture + r.results.front().city)
            << " まで一致した結果です" << (r.rest.empty() ? "" : "（使われなかった部分: " + U8(r.rest) + "）") << '\n';
    if (r.total != 0) return;
    if (!r.suggestions.empty()) {
        out << "もしかして:";
        for (std::size_t i = 0; i < r.suggestions.size(); ++i) out << (i ? "、" : " ") << U8(r.suggestions[i]);
        out << '\n';
    } else if (const char* hint = FindHint(r)) {
        out << hint << '\n';
    }
}

} // namespace

// A value for CSV: quoted when it holds a comma, a double quote or a line break.
std::string CsvValue(const std::string& v)
{
    if (v.find_first_of(",\"\r\n") == std::string::npos) return v;
    std::string out = "\"";
    for (const char c : v) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::size_t DisplayWidth(std::u16string_view text)
{
    std::size_t w = 0;
    for (const char16_t c : text) {
        const bool narrow = c < 0x1100 || (c >= 0xFF61 && c <= 0xFF9F) || (c >= 0xD800 && c <= 0xDBFF);
        // The second half of a surrogate pair was counted with the first.
        if (c >= 0xDC00 && c <= 0xDFFF) continue;
        w += narrow ? 1 : 2;
    }
    return w;
}

const std::vector<std::string> kFindCsvColumns = {
    "postal_code", "prefecture", "city", "town", "town_raw", "detail", "note", "building", "floor",
    "prefecture_kana", "city_kana", "town_kana", "city_code", "type", "office", "office_kana", "street", "romaji",
};

std::vector<std::string> FindCsvRow(const Entry& e)
{
    return {U8(e.postalCode),     U8(e.prefecture), U8(e.city),       U8(e.TownProper()),
            U8(TownRaw(e)),       U8(e.detail),     U8(e.noteKind == NoteKind::Floor ? e.floor : e.noteText),
            U8(e.building),       U8(e.floor),      U8(e.prefectureKana), U8(e.cityKana), U8(e.townKana),
            U8(e.cityCode),       EntryTypeName(e.kind), U8(e.office), U8(e.officeKana), U8(e.street), Romaji(e)};
}

int RunFind(const std::vector<std::string>& args, const ToolPlaces& places, std::ostream& out, std::ostream& err)
{
    CLI::App app("Finds any address: a postal code or its beginning (730, 100-8111), a reading in any kana "
                 "(ぎんざ, ギンザ), any part of an address or an office's name (中区上幟, 宮内庁), or a whole address "
                 "with a house number (千代田区永田町９９).",
                 "ubin find");
    std::string settingsFile, dataFolder;
    bool json = false, csv = false;
    std::size_t limit = 100;
    FindOrder order = FindOrder::Relevance;
    std::vector<std::string> words;
    CLI::Option* settingsOption = app.add_option("--settings", settingsFile, "read this ubscon.def");
    app.add_option("--data", dataFolder, "use this directory folder")->excludes(settingsOption);
    CLI::Option* jsonOption = app.add_flag("--json", json, "print one JSON object");
    app.add_flag("--csv", csv, "print CSV with a header row")->excludes(jsonOption);
    // Checked as typed: a number past the largest count would otherwise wrap round to another.
    const CLI::Validator count(
        [](std::string& text) -> std::string {
            std::size_t n = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
            if (ec == std::errc::result_out_of_range) return "is larger than any count of results: " + text;
            if (ec != std::errc() || end != text.data() + text.size()) return "is not a count of results: " + text;
            return {};
        },
        "COUNT");
    app.add_option("--limit", limit, "print at most N results (default 100; 0 prints all)")->check(count);
    app.add_option("--sort", order, "result order: relevance (best first; postal codes by code) or code")
        ->transform(CLI::CheckedTransformer(std::map<std::string, FindOrder>{{"relevance", FindOrder::Relevance},
                                                                             {"code", FindOrder::Code}}));
    BatchOptions batch;
    bool batchMode = false, excel = false;
    app.add_flag("--batch", batchMode,
                 "find the best postal code of every line of FILE (- for standard input): CSV with the input's columns "
                 "and the answer's (docs/batch.md), or JSON lines with --json");
    std::vector<CLI::Option*> batchOnly;
    batchOnly.push_back(app.add_option("--column", batch.reading.column,
                                       "with --batch: FILE is CSV and this field (1-based, or its name with --header) "
                                       "holds the address; every field is kept"));
    batchOnly.push_back(app.add_option("--code-column", batch.reading.codeColumn,
                                       "with --batch: this field holds a postal code to compare with the answer's"));
    batchOnly.push_back(app.add_flag("--header", batch.reading.header, "with --batch: the first row names the columns"));
    batchOnly.push_back(app.add_option("--input-encoding", batch.reading.encoding,
                                       "with --batch: auto (default: UTF-8 with or without a BOM, or CP932 as the bytes say), "
                                       "utf-8 or cp932")
                            ->transform(CLI::CheckedTransformer(std::map<std::string, InputEncoding>{
                                {"auto", InputEncoding::Auto}, {"utf-8", InputEncoding::Utf8}, {"cp932", InputEncoding::Cp932}})));
    CLI::Option* outputOption =
        app.add_option("--output-encoding", batch.output, "with --batch: utf-8 (default), utf-8-bom or cp932")
            ->transform(CLI::CheckedTransformer(std::map<std::string, OutputEncoding>{
                {"utf-8", OutputEncoding::Utf8}, {"utf-8-bom", OutputEncoding::Utf8Bom}, {"cp932", OutputEncoding::Cp932}}));
    batchOnly.push_back(outputOption);
    batchOnly.push_back(app.add_flag("--excel", excel, "with --batch: UTF-8 with a BOM, as Excel opens it (--output-encoding utf-8-bom)")
                            ->excludes(outputOption));
    batchOnly.push_back(app.add_option("--report", batch.report,
                                       "with --batch: write a summary to FILE (an HTML page when it ends in .html)"));
    batchOnly.push_back(app.add_option("--since", batch.since,
                                       "with --batch: also answer with the older directory FOLDER and mark the rows "
                                       "whose code it answered otherwise"));
    batchOnly.push_back(app.add_option("--threads", batch.threads, "with --batch: threads to answer on (default: one per core)"));
    app.add_option("query", words, "what to find; several words are joined with a blank (with --batch: FILE)")->required();
    if (const auto status = ParseSubcommand(app, args, out, err)) return *status;
    const bool batchOption = std::any_of(batchOnly.begin(), batchOnly.end(), [](const CLI::Option* o) { return o->count() > 0; });
    if (!batchMode && batchOption) {
        err << "ubin find: --column, --code-column, --header, --input-encoding, --output-encoding, --excel, --report, "
               "--since and --threads go with --batch\n";
        return 2;
    }
    if (batchMode) {
        if (words.size() != 1 || csv) {
            err << "ubin find: --batch reads one FILE (or -) and writes CSV, or JSON lines with --json\n";
            return 2;
        }
        if (excel) batch.output = OutputEncoding::Utf8Bom;
        if (json && batch.output != OutputEncoding::Utf8) {
            err << "ubin find: JSON lines are UTF-8 without a BOM: --excel and --output-encoding go with CSV\n";
            return 2;
        }
        batch.file = words[0];
        batch.json = json;
        // A bar only for a person watching: a pipe or a log gets the summary alone.
        batch.progress = &err == &std::cerr && isatty(2);
        try {
            const Settings settings = SubcommandSettings(settingsFile, dataFolder, places);
            return RunFindBatch(batch, settings.dataFolder, out, err);
        } catch (const std::exception& e) {
            err << "ubin find: " << e.what() << '\n';
            return 2;
        }
    }
    std::string query;
    for (const std::string& w : words) query += (query.empty() ? "" : " ") + w;
    std::u16string typed;
    try {
        typed = FromUtf8(query);
        // Refused before the directory is opened: its cost does not grow with the query.
        CheckedSearchForm(typed);
    } catch (const EncodingError& e) {
        err << "ubin find: the query is not UTF-8 text (" << e.what() << ")\n";
        return 2;
    } catch (const QueryError& e) {
        err << "ubin find: " << e.what() << '\n';
        return 2;
    }
    try {
        const Settings settings = SubcommandSettings(settingsFile, dataFolder, places);
        // Mapped: a find reads a few pages of each file where they lie.
        const std::unique_ptr<Lookup> lookup = Lookup::Open(settings.dataFolder, true);
        const Finder finder(*lookup);
        const FindResult r = finder.Find(typed, limit, order);
        if (json) {
            out << FindJson(query, r, lookup->Edition()).dump() << '\n';
        } else if (csv) {
            for (std::size_t i = 0; i < kFindCsvColumns.size(); ++i) out << (i ? "," : "") << kFindCsvColumns[i];
            out << "\r\n";
            for (const Entry& e : r.results) {
                const std::vector<std::string> row = FindCsvRow(e);
                for (std::size_t i = 0; i < row.size(); ++i) out << (i ? "," : "") << CsvValue(row[i]);
                out << "\r\n";
            }
        } else {
            PrintLines(r, out);
        }
        // Scripts tell "nothing found" from an answer by the status, whatever the format.
        return r.total == 0 ? 1 : 0;
    } catch (const std::exception& e) {
        err << "ubin find: " << e.what() << '\n';
        return 2;
    }
}

} // namespace ubin
