// The engine for Python: a Directory over Lookup and Finder, entries as objects whose attributes
// are made when they are read, and the engine's errors as ubin.Error and its kinds. Every lookup
// runs with the GIL released; the engine is safe from several threads, so Python threads
// sharing one Directory look up in parallel. Docstrings begin with the call's signature in
// the form inspect.signature() and help() read ("name(self, /, a, b=1)\n--\n\n").
#include "python/bindings.h"

#include "base/cp932.h"
#include "base/errors.h"
#include "search/find.h"
#include "search/lookup.h"
#include "settings/tool_settings.h"
#include "present/find_batch.h"
#include "present/find_json.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace py = pybind11;
using namespace ubin;

namespace {

// A field that an entry may lack: None rather than "".
py::object OrNone(const std::u16string& text) { return text.empty() ? py::none() : py::cast(text); }

py::object JsonLoads(const nlohmann::ordered_json& j) { return py::module_::import("json").attr("loads")(j.dump()); }

struct Directory {
    std::unique_ptr<Lookup> lookup;
    std::unique_ptr<Finder> finder; // null for a folder built without the search index
    std::string finderError;

    const Finder& Find() const
    {
        if (!finder) throw DirectoryError(finderError);
        return *finder;
    }
};

// What a find answered, and what to-dict and to_json need to say it as `ubin find --json` does.
struct Found {
    FindResult result;
    std::string query;
    DirectoryEdition edition;
    py::object results; // the entries as Python objects, made at their first reading
};

// The best entry of a written address, by the rule of `ubin find --batch` (AnswerBatchLine).
struct Resolved {
    std::optional<Entry> entry;
    std::optional<FindMatch> match; // none for a blank text or a refused one
    AddressLevel level = AddressLevel::None;
    std::u16string rest;
    std::size_t total = 0;
    std::string error;
};

bool Blank(std::u16string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c == u' ' || c == u'\t' || c == u'　'; });
}

// `refusedAsRow`: a refused text (too long, a control character) is a row's error for a table,
// and an exception for one call.
Resolved Resolve(const Finder& finder, std::u16string_view text, bool refusedAsRow)
{
    Resolved r;
    if (Blank(text)) return r;
    try {
        FindResult found = finder.Best(text);
        r.match = found.match;
        r.total = found.total;
        if (found.match == FindMatch::Address) {
            r.level = found.level;
            r.rest = std::move(found.rest);
        }
        if (!found.results.empty()) r.entry = std::move(found.results.front());
    } catch (const QueryError& e) {
        if (!refusedAsRow) throw;
        r = Resolved();
        r.error = e.fault() == QueryFault::TooLong ? batch_message::kTooLong : batch_message::kControl;
    }
    return r;
}

// The texts of a table column: None, NaN and pd.NA (pandas' empty cells) are blank lines.
std::vector<std::u16string> ColumnTexts(const py::iterable& column)
{
    std::vector<std::u16string> texts;
    texts.reserve(py::len_hint(column));
    for (const py::handle item : column) {
        if (py::isinstance<py::str>(item)) texts.push_back(item.cast<std::u16string>());
        else if (item.is_none() || (py::isinstance<py::float_>(item) && item.cast<double>() != item.cast<double>()) ||
                 std::string(py::str(item.get_type().attr("__name__"))) == "NAType")
            texts.emplace_back();
        else
            throw py::type_error("resolve_many takes texts (str, None or NaN), not " +
                                 std::string(py::str(item.get_type().attr("__name__"))));
    }
    return texts;
}

// Lets Python handle the signals that came (Ctrl+C) at most every 50 ms, from a thread that holds
// no GIL meanwhile. Python handles signals only on its main thread; elsewhere there is nothing to
// check, and the GIL is not taken.
class SignalCheck {
public:
    // Called with the GIL held.
    SignalCheck()
        : onMainThread_(PyThread_get_thread_ident() ==
                        py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>())
    {
    }

    void Now()
    {
        if (!onMainThread_) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::milliseconds(50)) return;
        last_ = now;
        const py::gil_scoped_acquire gil;
        // A handler that raised (KeyboardInterrupt) leaves its exception set.
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }

private:
    bool onMainThread_;
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

// Calls answer(i) for every row on `threads` threads (the calling one among them), which take
// rows a stretch at a time. A signal whose Python handler raises stops every thread after its
// current row, and its exception is raised.
template <class Answer>
void EachRow(std::size_t rows, unsigned threads, SignalCheck& signals, const Answer& answer)
{
    constexpr std::size_t kStretch = 16;
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, std::max<std::size_t>(rows / 64, 1)));
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    const auto work = [&](SignalCheck* check) {
        while (!stop.load(std::memory_order_relaxed)) {
            const std::size_t from = next.fetch_add(kStretch);
            if (from >= rows) return;
            for (std::size_t i = from; i < std::min(rows, from + kStretch); ++i) {
                answer(i);
                if (check) check->Now();
                if (stop.load(std::memory_order_relaxed)) return;
            }
        }
    };
    std::vector<std::thread> workers;
    std::vector<std::exception_ptr> failures(threads);
    try {
        for (unsigned t = 1; t < threads; ++t) {
            workers.emplace_back([&, t] {
                try {
                    work(nullptr);
                } catch (...) {
                    failures[t] = std::current_exception();
                    stop = true;
                }
            });
        }
        // The calling thread works too, and alone hears the signals.
        work(&signals);
    } catch (...) {
        failures[0] = std::current_exception();
        stop = true;
    }
    for (std::thread& w : workers) w.join();
    for (const std::exception_ptr& f : failures)
        if (f) std::rethrow_exception(f);
}

// Answers every text on `threads` threads; the answers land in their own rows.
std::vector<Resolved> ResolveMany(const Finder& finder, const std::vector<std::u16string>& texts, unsigned threads,
                                  SignalCheck& signals)
{
    std::vector<Resolved> out(texts.size());
    EachRow(texts.size(), threads, signals, [&](std::size_t i) { out[i] = Resolve(finder, texts[i], true); });
    return out;
}

// The codes of a table column: a code read as a number (7300014, or 7300014.0 beside empty
// cells) as its digits; empty cells as empty texts.
std::vector<std::u16string> CodeTexts(const py::iterable& column)
{
    std::vector<std::u16string> texts;
    for (const py::handle item : column) {
        if (py::isinstance<py::str>(item)) texts.push_back(item.cast<std::u16string>());
        else if (py::isinstance<py::bool_>(item)) texts.push_back(py::str(item).cast<std::u16string>());
        else if (py::isinstance<py::int_>(item)) texts.push_back(py::str(item).cast<std::u16string>());
        else if (py::isinstance<py::float_>(item)) {
            const double v = item.cast<double>();
            if (v != v) texts.emplace_back();
            else if (v == static_cast<double>(static_cast<long long>(v))) texts.push_back(FromUtf8(std::to_string(static_cast<long long>(v))));
            else texts.push_back(py::str(item).cast<std::u16string>());
        } else if (item.is_none() || std::string(py::str(item.get_type().attr("__name__"))) == "NAType") {
            texts.emplace_back();
        } else {
            texts.push_back(py::str(item).cast<std::u16string>());
        }
    }
    return texts;
}

bool IsDataFrame(const py::handle& object)
{
    const py::dict modules = py::module_::import("sys").attr("modules");
    if (!modules.contains("pandas")) return false;
    return py::isinstance(object, py::module_::import("pandas").attr("DataFrame"));
}

// resolve_many over a pandas DataFrame: a copy of it with the columns of `ubin find --batch`
// after its own, typed for pandas (empty cells None, candidates and text_used as Int64, review
// as bool).
py::object ResolveFrame(const Finder& finder, const py::object& frame, unsigned threads, const std::string& column,
                        const std::optional<std::string>& codeColumn)
{
    const py::object columns = frame.attr("columns");
    const auto has = [&](const std::string& name) { return columns.attr("__contains__")(name).cast<bool>(); };
    for (const std::optional<std::string>& name : {std::optional<std::string>(column), codeColumn})
        if (name && !has(*name)) throw py::key_error("resolve_many: the DataFrame has no column " + *name);
    for (const std::string& name : kBatchColumns)
        if (has(name)) throw py::value_error("resolve_many: the DataFrame has a column " + name + " already, which the answer adds");
    const std::vector<std::u16string> texts = ColumnTexts(frame[py::str(column)]);
    const std::vector<std::u16string> codes = codeColumn ? CodeTexts(frame[py::str(*codeColumn)]) : std::vector<std::u16string>();
    std::vector<BatchLine> lines(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        lines[i].number = i + 1;
        lines[i].query = texts[i];
        lines[i].input = ToUtf8(texts[i]);
        lines[i].codeGiven = codeColumn.has_value();
        if (codeColumn) lines[i].writtenCode = codes[i];
    }
    std::vector<BatchAnswer> answers(lines.size());
    SignalCheck signals;
    {
        const py::gil_scoped_release release;
        EachRow(lines.size(), threads, signals, [&](std::size_t i) { answers[i] = AnswerBatchLine(finder, lines[i]); });
    }
    std::vector<py::list> values(kBatchColumns.size());
    for (const BatchAnswer& a : answers) {
        const std::vector<std::string> row = BatchColumnValues(a);
        for (std::size_t c = 0; c < row.size(); ++c) {
            const std::string& name = kBatchColumns[c];
            if (name == "review") values[c].append(a.review);
            else if (row[c].empty()) values[c].append(py::none());
            else if (name == "candidates" || name == "text_used") values[c].append(std::stoll(row[c]));
            else values[c].append(py::str(row[c]));
        }
    }
    const py::object pandas = py::module_::import("pandas");
    py::object out = frame.attr("copy")();
    for (std::size_t c = 0; c < kBatchColumns.size(); ++c) {
        const std::string& name = kBatchColumns[c];
        const bool counted = name == "candidates" || name == "text_used";
        out[py::str(name)] = counted ? pandas.attr("array")(values[c], py::arg("dtype") = "Int64") : py::object(values[c]);
    }
    return out;
}

// The entries of a code with their notes, as find and resolve give them; a folder without the
// search index has no notes to give. A code with no digit names no postal code: nothing is found,
// as in the window and `ubin find` (the engine would take the empty prefix for every code).
std::vector<Entry> FindPostal(const Directory& d, std::u16string_view code, bool offices, std::size_t limit)
{
    if (d.finder) return d.finder->FindPostalEntries(code, {offices, limit});
    if (PostalKeyDigits(code).empty()) return {};
    return d.lookup->FindPostalEntries(code, {offices, limit});
}

std::unique_ptr<Directory> OpenDirectory(const std::filesystem::path& folder, bool mapped)
{
    const std::u8string bytes = folder.u8string();
    std::u16string text = FromUtf8(std::string(bytes.begin(), bytes.end()));
    // The engine appends file names to the folder's text.
    if (!text.empty() && text.back() != u'/' && text.back() != u'\\') text += u'/';
    auto d = std::make_unique<Directory>();
    try {
        d->lookup = Lookup::Open(text, mapped);
    } catch (const DirectoryError& e) {
        throw DirectoryError("cannot open the directory folder " + ToUtf8(text) + ": " + e.what());
    }
    try {
        d->finder = std::make_unique<Finder>(*d->lookup);
    } catch (const DirectoryError& e) {
        // Postal lookups still work in a folder built without the search index.
        d->finderError = e.what();
    }
    return d;
}

// The folder `ubin` would use without --data: the ubscon.def of the search window's places.
std::string SettingsFolder(const std::string& executableFolder)
{
    ToolPlaces places = ThisToolPlaces(nullptr);
    places.executableFolder = std::filesystem::u8path(executableFolder);
    return ToUtf8(LoadToolSettings(std::nullopt, std::nullopt, places).dataFolder);
}

// A read-only attribute with its docstring.
template <class C, class Get>
void Attribute(py::class_<C>& c, const char* name, Get get, const char* doc)
{
    c.def_property_readonly(name, get, doc);
}

void BindEntry(py::module_& m)
{
    py::class_<Entry> c(m, "Entry",
                        "One address of the directory: an area of KEN_ALL, or an office or post office box with a\n"
                        "postal code of its own. Texts the entry lacks are '' (None for an area's office fields).");
    Attribute(c, "postal_code", [](const Entry& e) { return e.postalCode; }, "The 7 digits, '7300014'.");
    Attribute(c, "prefecture", [](const Entry& e) { return e.prefecture; }, "'広島県'.");
    Attribute(c, "city", [](const Entry& e) { return e.city; }, "The city, ward, town or village, '広島市中区'.");
    Attribute(c, "town", [](const Entry& e) { return std::u16string(e.TownProper()); },
              "The town proper, without KEN_ALL's note: '上幟町'.");
    Attribute(c, "town_raw", [](const Entry& e) { return TownRaw(e); },
              "KEN_ALL's town text with its note in parentheses, as the data gives it.");
    Attribute(c, "detail", [](const Entry& e) { return e.detail; }, "KEN_ALL's note, as written there.");
    Attribute(c, "building", [](const Entry& e) { return OrNone(e.building); },
              "The building a note names (JPタワー), or None.");
    Attribute(c, "floor", [](const Entry& e) { return OrNone(e.floor); }, "The floor a note names (30階), or None.");
    Attribute(c, "prefecture_kana", [](const Entry& e) { return e.prefectureKana; },
              "Readings are half-width katakana, as the directory holds them.");
    Attribute(c, "city_kana", [](const Entry& e) { return e.cityKana; }, "The city's reading.");
    Attribute(c, "town_kana", [](const Entry& e) { return e.townKana; }, "The town's reading.");
    Attribute(c, "city_code", [](const Entry& e) { return e.cityCode; }, "The 5-digit municipal code, '34101'.");
    Attribute(c, "type", [](const Entry& e) { return EntryTypeName(e.kind); }, "'area', 'office' or 'pobox'.");
    Attribute(c, "is_office", [](const Entry& e) { return e.IsOffice(); }, "True for an office or a post office box.");
    Attribute(c, "office", [](const Entry& e) { return e.IsOffice() ? py::cast(e.office) : py::none(); },
              "An office's name; None for an area.");
    Attribute(c, "office_kana", [](const Entry& e) { return e.IsOffice() ? py::cast(e.officeKana) : py::none(); },
              "An office's reading ('' when the data has none); None for an area.");
    Attribute(c, "street", [](const Entry& e) { return e.IsOffice() ? py::cast(e.street) : py::none(); },
              "An office's street part (小字・丁目・番地 and building); None for an area.");
    Attribute(c, "address", [](const Entry& e) { return CleanAddress(e); },
              "The whole address as `ubin find` prints it: '広島県広島市中区上幟町'.");
    Attribute(c, "romaji", [](const Entry& e) { return Romaji(e); }, "The address in Latin letters: 'Ginza, Chuo-ku, Tokyo'.");
    c.def("to_dict", [](const Entry& e) { return JsonLoads(FindResultJson(e)); },
          "to_dict(self, /)\n--\n\nThe entry as one result of `ubin find --json`.");
    c.def("__repr__", [](const Entry& e) {
        const std::u16string& code = e.postalCode;
        return "<ubin.Entry 〒" + ToUtf8(code.substr(0, 3)) + "-" + ToUtf8(code.substr(std::min<std::size_t>(3, code.size()))) +
               " " + ToUtf8(CleanAddress(e)) + ">";
    });
}

void BindFindResult(py::module_& m)
{
    py::class_<Found> c(m, "FindResult", "What Directory.find answered: how the query was taken, and the entries best first.");
    Attribute(c, "match", [](const Found& f) { return FindMatchName(f.result.match); },
              "How the query was taken: 'postal', 'reading', 'text' or 'address'.");
    Attribute(c, "total", [](const Found& f) { return f.result.total; }, "Every match, also those past the limit.");
    Attribute(c, "results",
              [](Found& f) {
                  if (!f.results) f.results = py::cast(f.result.results);
                  return f.results;
              },
              "The first `limit` entries (list of Entry), best first.");
    Attribute(c, "suggestions", [](const Found& f) { return f.result.suggestions; },
              "When nothing was found: names near the query, nearest first.");
    Attribute(c, "level",
              [](const Found& f) {
                  return f.result.match == FindMatch::Address ? py::cast(AddressLevelName(f.result.level)) : py::none();
              },
              "For an address, how far it was read: 'none', 'prefecture', 'city', 'town' or 'number'; else None.");
    Attribute(c, "rest", [](const Found& f) { return f.result.rest; }, "What of an address was not used ('' when all).");
    Attribute(c, "hint",
              [](const Found& f) {
                  const char* hint = FindHint(f.result);
                  return hint ? py::cast(std::string(hint)) : py::none();
              },
              "What to tell a person whose query found nothing and gave no suggestion; else None.");
    c.def("to_json", [](const Found& f) { return FindJson(f.query, f.result, f.edition).dump(); },
          "to_json(self, /)\n--\n\nThe answer as `ubin find --json` prints it.");
    c.def("to_dict", [](const Found& f) { return JsonLoads(FindJson(f.query, f.result, f.edition)); },
          "to_dict(self, /)\n--\n\nThe answer of to_json() as a dict.");
    c.def("__len__", [](const Found& f) { return f.result.results.size(); });
    c.def("__repr__", [](const Found& f) {
        return "<ubin.FindResult " + std::string(FindMatchName(f.result.match)) + " total=" + std::to_string(f.result.total) + ">";
    });
}

void BindResolved(py::module_& m)
{
    py::class_<Resolved> c(m, "Resolved",
                           "The best entry of a written address, as `ubin find --batch` answers a line. False when\n"
                           "nothing was found (or the text was empty or refused).");
    Attribute(c, "entry", [](const Resolved& r) { return r.entry; }, "The Entry, or None.");
    Attribute(c, "postal_code", [](const Resolved& r) { return r.entry ? py::cast(r.entry->postalCode) : py::none(); },
              "The entry's 7 digits, or None.");
    Attribute(c, "address", [](const Resolved& r) { return r.entry ? py::cast(CleanAddress(*r.entry)) : py::none(); },
              "The entry's address as `ubin find` prints it, or None.");
    Attribute(c, "match", [](const Resolved& r) { return r.match ? py::cast(FindMatchName(*r.match)) : py::none(); },
              "How the text was taken ('postal', 'reading', 'text', 'address'); None for an empty or refused text.");
    Attribute(c, "level",
              [](const Resolved& r) {
                  return r.match == FindMatch::Address ? py::cast(AddressLevelName(r.level)) : py::none();
              },
              "How far an address was read: 'none', 'prefecture', 'city', 'town' or 'number'; else None.");
    Attribute(c, "rest", [](const Resolved& r) { return r.rest; }, "What of the address was not used.");
    Attribute(c, "total", [](const Resolved& r) { return r.total; }, "How many entries matched.");
    Attribute(c, "error", [](const Resolved& r) { return r.error.empty() ? py::none() : py::cast(r.error); },
              "resolve_many only: why the finder refused the text (too long, a control character), else None.");
    c.def("__bool__", [](const Resolved& r) { return r.entry.has_value(); });
    c.def("to_dict",
          [](const Resolved& r) {
              py::dict d;
              d["postal_code"] = r.entry ? py::cast(r.entry->postalCode) : py::none();
              d["address"] = r.entry ? py::cast(CleanAddress(*r.entry)) : py::none();
              d["match"] = r.match ? py::cast(FindMatchName(*r.match)) : py::none();
              d["level"] = r.match == FindMatch::Address ? py::cast(AddressLevelName(r.level)) : py::none();
              d["rest"] = r.rest;
              d["candidates"] = r.total;
              d["error"] = r.error.empty() ? py::none() : py::cast(r.error);
              return d;
          },
          "to_dict(self, /)\n--\n\nThe answer as a row: postal_code, address, match, level, rest, candidates, error.");
    c.def("__repr__", [](const Resolved& r) {
        if (!r.error.empty()) return "<ubin.Resolved error=" + r.error + ">";
        if (!r.entry) return std::string("<ubin.Resolved nothing>");
        return "<ubin.Resolved " + ToUtf8(r.entry->postalCode) + " " + ToUtf8(CleanAddress(*r.entry)) + ">";
    });
}

void BindDirectory(py::module_& m)
{
    using Release = py::call_guard<py::gil_scoped_release>;
    py::class_<Directory> c(m, "Directory",
                            "A directory folder built by ubin-build (or ubin.build), opened for lookups.\n\n"
                            "One Directory may serve many threads at once; every lookup releases the GIL.\n"
                            "Errors are ubin.Error: DirectoryError for a folder missing or damaged, QueryError\n"
                            "for a text the finder refuses.");
    c.def(py::init(&OpenDirectory), py::arg("path"), py::arg("mapped") = true,
          "__init__(self, /, path, mapped=True)\n--\n\n"
          "Opens the folder `path` (str or os.PathLike). `mapped` maps the files lookups read into\n"
          "memory, best for many lookups. Raises DirectoryError naming the file that is missing or\n"
          "damaged.");
    Attribute(c, "edition", [](const Directory& d) { return d.lookup->Edition().ShortText(); },
              "The month of Japan Post's data, '2026-11', or 'unknown'.");
    Attribute(c, "edition_guessed", [](const Directory& d) { return d.lookup->Edition().guessed; },
              "True when the month was taken from the input files' dates rather than given.");
    c.def("postal",
          [](const Directory& d, const std::u16string& code, bool offices, std::size_t limit) {
              return FindPostal(d, code, offices, limit);
          },
          py::arg("code"), py::arg("offices") = true, py::arg("limit") = 0, Release(),
          "postal(self, /, code, offices=True, limit=0)\n--\n\n"
          "The entries (list of Entry) whose postal code begins with the digits of `code` ('730',\n"
          "'730-0014', '〒７３０－００１４'), by code, areas before the offices of a code. A code\n"
          "with no digit finds nothing. `offices` False leaves offices and post office boxes out;\n"
          "`limit` 0 gives every entry.");
    c.def("find",
          [](const Directory& d, const std::u16string& text, std::size_t limit) {
              return Found{d.Find().Find(text, limit), ToUtf8(text), d.lookup->Edition(), py::object()};
          },
          py::arg("text"), py::arg("limit") = 100, Release(),
          "find(self, /, text, limit=100)\n--\n\n"
          "Anything a person types: a postal code or its beginning, a reading in any kana or romaji,\n"
          "any part of an address or an office's name, or a whole address with its number. Returns\n"
          "a FindResult, best first, as `ubin find` ranks; `limit` 0 gives every result. Raises\n"
          "QueryError for a text that is too long or holds a control character.");
    c.def("resolve", [](const Directory& d, const std::u16string& address) { return Resolve(d.Find(), address, false); },
          py::arg("address"), Release(),
          "resolve(self, /, address)\n--\n\n"
          "The best entry of a written address (a Resolved), as `ubin find --batch` answers a line.\n"
          "Raises QueryError for a text the finder refuses.");
    c.def("resolve_many",
          [](const Directory& d, const py::object& addresses, unsigned threads, const std::optional<std::string>& column,
             const std::optional<std::string>& codeColumn) -> py::object {
              if (IsDataFrame(addresses)) {
                  if (!column) throw py::type_error("resolve_many: a DataFrame needs column=, the name of its address column");
                  return ResolveFrame(d.Find(), addresses, threads, *column, codeColumn);
              }
              if (column || codeColumn) throw py::type_error("resolve_many: column= and code_column= go with a pandas DataFrame");
              if (!py::isinstance<py::iterable>(addresses))
                  throw py::type_error("resolve_many takes an iterable of texts or a pandas DataFrame");
              const std::vector<std::u16string> texts = ColumnTexts(addresses);
              SignalCheck signals;
              std::vector<Resolved> answers;
              {
                  const py::gil_scoped_release release;
                  answers = ResolveMany(d.Find(), texts, threads, signals);
              }
              py::list out(answers.size());
              for (std::size_t i = 0; i < answers.size(); ++i) out[i] = py::cast(std::move(answers[i]));
              return out;
          },
          py::arg("addresses"), py::arg("threads") = 1, py::kw_only(), py::arg("column") = py::none(),
          py::arg("code_column") = py::none(),
          "resolve_many(self, /, addresses, threads=1, *, column=None, code_column=None)\n--\n\n"
          "resolve() of every text of an iterable (a list, a pandas column), answered in C++ on\n"
          "`threads` threads (0: one per core); a list of Resolved in the same order. None, NaN and\n"
          "pd.NA give an empty answer; a text the finder refuses gives an answer with its error.\n"
          "Given a pandas DataFrame and `column`, the name of its address column, it gives a copy\n"
          "of the frame with the columns `ubin find --batch` adds after its own (postal_code,\n"
          "prefecture, ... review, code_check, previous_code, error: docs/batch.md), empty cells\n"
          "None; `code_column` names a column of written codes to compare with the answers.\n"
          "Ctrl+C stops it between rows (KeyboardInterrupt).");
}

} // namespace

PYBIND11_MODULE(_ubin, m)
{
    // The docstrings carry the signatures, written for inspect.signature() and help().
    py::options options;
    options.disable_function_signatures();
    m.doc() = "Japanese postal-code directory lookups over the ubin engine.";
    m.attr("__version__") = UBIN_VERSION;
    const py::exception<Error>& error = py::register_exception<Error>(m, "Error");
    // Registered after their base, so that they are tried before it.
    py::register_exception<DirectoryError>(m, "DirectoryError", error);
    py::register_exception<QueryError>(m, "QueryError", error);
    py::register_exception<EncodingError>(m, "EncodingError", error);
    py::register_exception<SettingsError>(m, "SettingsError", error);
    m.attr("Error").attr("__doc__") = "An error of the ubin engine; its message names the file, record or line.";
    m.attr("DirectoryError").attr("__doc__") = "A directory folder or file missing, short or damaged.";
    m.attr("QueryError").attr("__doc__") = "A text the finder refuses: too long, or holding a control character.";
    m.attr("EncodingError").attr("__doc__") = "A text that code page 932 cannot hold.";
    m.attr("SettingsError").attr("__doc__") = "A settings file (ubscon.def) that cannot be read.";
    BindEntry(m);
    BindFindResult(m);
    BindResolved(m);
    BindDirectory(m);
    ubin::python::BindBuild(m, error);
    m.def("_settings_folder", &SettingsFolder, py::arg("executable_folder"));
}
