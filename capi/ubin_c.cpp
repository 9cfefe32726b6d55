// The C face of the engine: handles over Lookup and Finder, and the builder's build, every
// exception turned into a status and a message at the edge of each call (none may unwind into a
// C caller).
#include "ubin/ubin.h"

#include "base/cp932.h"
#include "base/errors.h"
#include "base/path_text.h"
#include "builder/builder.h"
#include "search/find.h"
#include "search/lookup.h"
#include "present/find_json.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

using ubin::Entry;

struct ubin_directory {
    std::unique_ptr<ubin::Lookup> lookup;
    std::unique_ptr<ubin::Finder> finder; // null for a folder without a search index
    std::string finderError;              // why there is none
    std::string edition;
};

struct ubin_results {
    ubin_match match = UBIN_MATCH_TEXT;
    std::size_t total = 0;
    ubin_level level = UBIN_LEVEL_NONE;
    std::string rest;
    std::vector<Entry> entries;
    std::vector<std::string> suggestions;
    // Each field in UTF-8, made on its first reading: a caller reading the postal codes of a
    // hundred results pays for no romaji.
    mutable std::vector<std::array<std::optional<std::string>, UBIN_FIELD_COUNT>> fields;
};

namespace {

// Each thread's message of its last call, and the kept folder of its last build.
thread_local std::string lastError;
thread_local std::string lastKeptFolder;

ubin_status Fail(ubin_status status, const char* message) noexcept
{
    try {
        lastError = message;
    } catch (...) {
        lastError.clear(); // no memory left for the message: the status says it
    }
    return status;
}
ubin_status Fail(ubin_status status, const std::string& message) noexcept { return Fail(status, message.c_str()); }

// Runs one call's body: its exceptions become a status, and a call that succeeds leaves no message.
template <typename Body>
ubin_status Guard(Body&& body) noexcept
{
    try {
        lastError.clear();
        return body();
    } catch (const ubin::BuildError& e) {
        return Fail(UBIN_ERROR_BUILD, e.what());
    } catch (const ubin::QueryError& e) {
        return Fail(UBIN_ERROR_QUERY, e.what());
    } catch (const ubin::EncodingError& e) {
        return Fail(UBIN_ERROR_ENCODING, e.what());
    } catch (const ubin::Error& e) {
        // Every other error of the core names a file of the directory: damaged, short, missing.
        return Fail(UBIN_ERROR_DIRECTORY, e.what());
    } catch (const std::bad_alloc&) {
        return Fail(UBIN_ERROR_MEMORY, "out of memory");
    } catch (const std::exception& e) {
        return Fail(UBIN_ERROR_INTERNAL, e.what());
    } catch (...) {
        return Fail(UBIN_ERROR_INTERNAL, "unknown error");
    }
}

ubin_status NullArgument(const char* name) { return Fail(UBIN_ERROR_ARGUMENT, std::string(name) + " is NULL"); }

// A text from the caller; bad UTF-8 is refused with the byte it fails at.
std::u16string Text(const char* text, const char* what)
{
    try {
        return ubin::FromUtf8(text);
    } catch (const ubin::EncodingError& e) {
        throw ubin::EncodingError(std::string(what) + ": " + e.what());
    }
}

const ubin::Finder& FinderOf(const ubin_directory* d)
{
    if (!d->finder) throw ubin::DirectoryError(d->finderError);
    return *d->finder;
}

// A path from the caller: UTF-8, as ubin-build takes its arguments.
std::filesystem::path PathArgument(const char* text, const char* what)
{
    return ubin::PathFromUtf8(ubin::ToUtf8(Text(text, what)));
}

void Report(const ubin::BuildReport& r, ubin_build_report* out)
{
    lastKeptFolder = ubin::PathToUtf8(r.keptFolder);
    if (!out) return;
    *out = ubin_build_report{};
    out->rows_read = r.rowsRead;
    out->rows_joined = r.rowsJoined;
    out->entries = r.entries;
    out->city_codes = r.cityCodes;
    out->offices = r.offices;
    std::snprintf(out->edition, sizeof out->edition, "%s", r.edition.size() < sizeof out->edition ? r.edition.c_str() : "");
    out->edition_guessed = r.editionGuessed ? 1 : 0;
    if (r.changes) {
        out->compared = 1;
        out->codes_added = r.changes->added;
        out->codes_removed = r.changes->removed;
        out->codes_changed = r.changes->changed;
    }
    out->kept_folder = lastKeptFolder.c_str();
}

static_assert(static_cast<int>(ubin::AddressLevel::Number) == UBIN_LEVEL_NUMBER &&
              static_cast<int>(ubin::AddressLevel::Town) == UBIN_LEVEL_TOWN, "ubin_level follows AddressLevel");

ubin_match MatchOf(ubin::FindMatch m)
{
    switch (m) {
    case ubin::FindMatch::Postal: return UBIN_MATCH_POSTAL;
    case ubin::FindMatch::Reading: return UBIN_MATCH_READING;
    case ubin::FindMatch::Text: return UBIN_MATCH_TEXT;
    case ubin::FindMatch::Address: return UBIN_MATCH_ADDRESS;
    }
    return UBIN_MATCH_TEXT;
}

ubin_status Hand(std::unique_ptr<ubin_results> r, ubin_results** out)
{
    r->fields.resize(r->entries.size());
    *out = r.release();
    return UBIN_OK;
}

std::string Field(const Entry& e, ubin_field field)
{
    using ubin::ToUtf8;
    switch (field) {
    case UBIN_FIELD_POSTAL_CODE: return ToUtf8(e.postalCode);
    case UBIN_FIELD_PREFECTURE: return ToUtf8(e.prefecture);
    case UBIN_FIELD_CITY: return ToUtf8(e.city);
    case UBIN_FIELD_TOWN: return ToUtf8(e.TownProper());
    case UBIN_FIELD_DETAIL: return ToUtf8(e.detail);
    case UBIN_FIELD_PREFECTURE_KANA: return ToUtf8(e.prefectureKana);
    case UBIN_FIELD_CITY_KANA: return ToUtf8(e.cityKana);
    case UBIN_FIELD_TOWN_KANA: return ToUtf8(e.townKana);
    case UBIN_FIELD_CITY_CODE: return ToUtf8(e.cityCode);
    case UBIN_FIELD_OFFICE: return ToUtf8(e.office);
    case UBIN_FIELD_OFFICE_KANA: return ToUtf8(e.officeKana);
    case UBIN_FIELD_STREET: return ToUtf8(e.street);
    case UBIN_FIELD_TYPE: return ubin::EntryTypeName(e.kind);
    case UBIN_FIELD_ADDRESS: return ToUtf8(ubin::CleanAddress(e));
    case UBIN_FIELD_ROMAJI: return ubin::Romaji(e);
    }
    return {};
}

// One attribute of a result set into *out, after both are checked.
template <class T, class Get>
ubin_status Attribute(const ubin_results* results, T* out, const char* name, Get get)
{
    return Guard([&] {
        if (!results) return NullArgument("results");
        if (!out) return NullArgument(name);
        *out = get(*results);
        return UBIN_OK;
    });
}

} // namespace

extern "C" {

void ubin_api_version(int* major, int* minor)
{
    if (major) *major = UBIN_API_VERSION_MAJOR;
    if (minor) *minor = UBIN_API_VERSION_MINOR;
}

const char* ubin_last_error(void) { return lastError.c_str(); }

const char* ubin_status_name(ubin_status status)
{
    switch (status) {
    case UBIN_OK: return "ok";
    case UBIN_ERROR_ARGUMENT: return "argument";
    case UBIN_ERROR_ENCODING: return "encoding";
    case UBIN_ERROR_QUERY: return "query";
    case UBIN_ERROR_DIRECTORY: return "directory";
    case UBIN_ERROR_MEMORY: return "memory";
    case UBIN_ERROR_INTERNAL: return "internal";
    case UBIN_ERROR_BUILD: return "build";
    }
    return "unknown";
}

ubin_status ubin_open(const char* folder, int mapped, ubin_directory** out)
{
    return Guard([&] {
        if (!folder) return NullArgument("folder");
        if (!out) return NullArgument("out");
        std::u16string path = Text(folder, "folder");
        // The engine appends file names to the folder's text.
        if (!path.empty() && path.back() != u'/' && path.back() != u'\\') path += u'/';
        auto d = std::make_unique<ubin_directory>();
        try {
            d->lookup = ubin::Lookup::Open(path, mapped != 0);
        } catch (const ubin::Error& e) {
            // The engine names the file it missed; the caller wants to know which folder too.
            throw ubin::DirectoryError(std::string("cannot open the directory folder ") + folder + ": " + e.what());
        }
        try {
            d->finder = std::make_unique<ubin::Finder>(*d->lookup);
        } catch (const ubin::DirectoryError& e) {
            // Postal lookups still work in a folder built without the search index.
            d->finderError = e.what();
        }
        d->edition = d->lookup->Edition().ShortText();
        *out = d.release();
        return UBIN_OK;
    });
}

void ubin_close(ubin_directory* directory) { delete directory; }

ubin_status ubin_edition(const ubin_directory* directory, const char** month, int* guessed)
{
    return Guard([&] {
        if (!directory) return NullArgument("directory");
        if (!month) return NullArgument("month");
        *month = directory->edition.c_str();
        if (guessed) *guessed = directory->lookup->Edition().guessed ? 1 : 0;
        return UBIN_OK;
    });
}

ubin_status ubin_postal(const ubin_directory* directory, const char* code, int offices, size_t limit, ubin_results** out)
{
    return Guard([&] {
        if (!directory) return NullArgument("directory");
        if (!code) return NullArgument("code");
        if (!out) return NullArgument("out");
        auto r = std::make_unique<ubin_results>();
        r->match = UBIN_MATCH_POSTAL;
        const std::u16string typed = Text(code, "code");
        // A code with no digit names no postal code: nothing is found, as in the window and
        // `ubin find` (the engine would take the empty prefix for every code).
        // The entries carry their notes, as ubin_find gives them, where the folder has them.
        if (directory->finder)
            r->entries = directory->finder->FindPostalEntries(typed, {offices != 0, limit});
        else if (!ubin::PostalKeyDigits(typed).empty())
            r->entries = directory->lookup->FindPostalEntries(typed, {offices != 0, limit});
        r->total = r->entries.size();
        return Hand(std::move(r), out);
    });
}

ubin_status ubin_find(const ubin_directory* directory, const char* text, size_t limit, ubin_results** out)
{
    return Guard([&] {
        if (!directory) return NullArgument("directory");
        if (!text) return NullArgument("text");
        if (!out) return NullArgument("out");
        ubin::FindResult found = FinderOf(directory).Find(Text(text, "text"), limit);
        auto r = std::make_unique<ubin_results>();
        r->match = MatchOf(found.match);
        r->total = found.total;
        r->level = static_cast<ubin_level>(found.level);
        r->rest = ubin::ToUtf8(found.rest);
        r->entries = std::move(found.results);
        for (const std::u16string& s : found.suggestions) r->suggestions.push_back(ubin::ToUtf8(s));
        return Hand(std::move(r), out);
    });
}

ubin_status ubin_resolve(const ubin_directory* directory, const char* address, ubin_results** out)
{
    return Guard([&] {
        if (!directory) return NullArgument("directory");
        if (!address) return NullArgument("address");
        if (!out) return NullArgument("out");
        // The rule of `ubin find --batch` (AnswerBatchLine): the finder's first result is the
        // best, and a level only means something for a written address.
        ubin::FindResult found = FinderOf(directory).Best(Text(address, "address"));
        auto r = std::make_unique<ubin_results>();
        r->match = MatchOf(found.match);
        r->total = found.total;
        if (found.match == ubin::FindMatch::Address) {
            r->level = static_cast<ubin_level>(found.level);
            r->rest = ubin::ToUtf8(found.rest);
        }
        r->entries = std::move(found.results);
        return Hand(std::move(r), out);
    });
}

void ubin_results_free(ubin_results* results) { delete results; }

ubin_status ubin_results_count(const ubin_results* results, size_t* count)
{
    return Attribute(results, count, "count", [](const ubin_results& r) { return r.entries.size(); });
}

ubin_status ubin_results_total(const ubin_results* results, size_t* total)
{
    return Attribute(results, total, "total", [](const ubin_results& r) { return r.total; });
}

ubin_status ubin_results_match(const ubin_results* results, ubin_match* match)
{
    return Attribute(results, match, "match", [](const ubin_results& r) { return r.match; });
}

ubin_status ubin_results_level(const ubin_results* results, ubin_level* level)
{
    return Attribute(results, level, "level", [](const ubin_results& r) { return r.level; });
}

ubin_status ubin_results_rest(const ubin_results* results, const char** rest)
{
    return Attribute(results, rest, "rest", [](const ubin_results& r) { return r.rest.c_str(); });
}

ubin_status ubin_results_field(const ubin_results* results, size_t index, ubin_field field, const char** value)
{
    return Guard([&] {
        if (!results) return NullArgument("results");
        if (!value) return NullArgument("value");
        if (index >= results->entries.size())
            return Fail(UBIN_ERROR_ARGUMENT, "result " + std::to_string(index) + " of " +
                                                 std::to_string(results->entries.size()) + " asked for");
        if (static_cast<int>(field) < 0 || static_cast<int>(field) >= UBIN_FIELD_COUNT)
            return Fail(UBIN_ERROR_ARGUMENT, "no field " + std::to_string(static_cast<int>(field)));
        std::optional<std::string>& slot = results->fields[index][static_cast<std::size_t>(field)];
        if (!slot) slot = Field(results->entries[index], field);
        *value = slot->c_str();
        return UBIN_OK;
    });
}

ubin_status ubin_results_is_office(const ubin_results* results, size_t index, int* office)
{
    return Guard([&] {
        if (!results) return NullArgument("results");
        if (!office) return NullArgument("office");
        if (index >= results->entries.size()) return Fail(UBIN_ERROR_ARGUMENT, "result " + std::to_string(index) + " asked for");
        *office = results->entries[index].IsOffice() ? 1 : 0;
        return UBIN_OK;
    });
}

ubin_status ubin_results_suggestion_count(const ubin_results* results, size_t* count)
{
    return Guard([&] {
        if (!results) return NullArgument("results");
        if (!count) return NullArgument("count");
        *count = results->suggestions.size();
        return UBIN_OK;
    });
}

ubin_status ubin_results_suggestion(const ubin_results* results, size_t index, const char** value)
{
    return Guard([&] {
        if (!results) return NullArgument("results");
        if (!value) return NullArgument("value");
        if (index >= results->suggestions.size())
            return Fail(UBIN_ERROR_ARGUMENT, "suggestion " + std::to_string(index) + " asked for");
        *value = results->suggestions[index].c_str();
        return UBIN_OK;
    });
}

ubin_status ubin_build(const char* ken_all, const char* folder, const char* offices, const char* changes,
                       const char* edition, ubin_build_callback progress, void* context, ubin_build_report* report)
{
    return Guard([&] {
        if (!ken_all) return NullArgument("ken_all");
        if (!folder) return NullArgument("folder");
        ubin::BuildOptions options;
        if (offices) options.offices = PathArgument(offices, "offices");
        if (changes) options.municipalChanges = PathArgument(changes, "changes");
        if (edition) options.edition = ubin::ToUtf8(Text(edition, "edition"));
        std::atomic<bool> stop{false};
        options.cancel = &stop;
        if (progress) {
            options.progress = [&](const ubin::BuildProgress& p) {
                const ubin_build_progress now{p.rowsRead, p.officesRead, p.entriesWritten};
                if (progress(&now, context) != 0) stop = true;
            };
        }
        const ubin::BuildReport r =
            ubin::BuildDirectory(PathArgument(ken_all, "ken_all"), PathArgument(folder, "folder"), options);
        Report(r, report);
        return UBIN_OK;
    });
}

} // extern "C"
