// The engine for Python: a Directory over Lookup and Finder, entries as objects whose attributes
// are made when they are read, and the engine's errors as ubin.Error and its kinds. Every lookup
// runs with the GIL released; the engine is safe from several threads, so Python threads
// sharing one Directory look up in parallel.
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

std::vector<Resolved> ResolveMany(const Finder& finder, const std::vector<std::u16string>& texts, unsigned threads)
{
    std::vector<Resolved> out(texts.size());
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, std::max<std::size_t>(texts.size() / 64, 1)));
    const auto part = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) out[i] = Resolve(finder, texts[i], true);
    };
    if (threads == 1) {
        part(0, texts.size());
        return out;
    }
    // Contiguous stretches, one per thread: the answers land in their own rows.
    std::vector<std::thread> workers;
    std::vector<std::exception_ptr> failures(threads);
    const std::size_t step = (texts.size() + threads - 1) / threads;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            try {
                part(std::min(texts.size(), t * step), std::min(texts.size(), (t + 1) * step));
            } catch (...) {
                failures[t] = std::current_exception();
            }
        });
    }
    for (std::thread& w : workers) w.join();
    for (const std::exception_ptr& f : failures)
        if (f) std::rethrow_exception(f);
    return out;
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

void BindEntry(py::module_& m)
{
    py::class_<Entry>(m, "Entry", "One address of the directory: an area of KEN_ALL or an office.")
        .def_property_readonly("postal_code", [](const Entry& e) { return e.postalCode; })
        .def_property_readonly("prefecture", [](const Entry& e) { return e.prefecture; })
        .def_property_readonly("city", [](const Entry& e) { return e.city; })
        .def_property_readonly("town", [](const Entry& e) { return std::u16string(e.TownProper()); },
                               "the town proper, without KEN_ALL's note")
        .def_property_readonly("town_raw", [](const Entry& e) { return TownRaw(e); })
        .def_property_readonly("detail", [](const Entry& e) { return e.detail; })
        .def_property_readonly("building", [](const Entry& e) { return OrNone(e.building); })
        .def_property_readonly("floor", [](const Entry& e) { return OrNone(e.floor); })
        .def_property_readonly("prefecture_kana", [](const Entry& e) { return e.prefectureKana; })
        .def_property_readonly("city_kana", [](const Entry& e) { return e.cityKana; })
        .def_property_readonly("town_kana", [](const Entry& e) { return e.townKana; })
        .def_property_readonly("city_code", [](const Entry& e) { return e.cityCode; })
        .def_property_readonly("type", [](const Entry& e) { return EntryTypeName(e.kind); })
        .def_property_readonly("is_office", &Entry::IsOffice)
        .def_property_readonly("office", [](const Entry& e) { return e.IsOffice() ? py::cast(e.office) : py::none(); })
        .def_property_readonly("office_kana", [](const Entry& e) { return e.IsOffice() ? py::cast(e.officeKana) : py::none(); })
        .def_property_readonly("street", [](const Entry& e) { return e.IsOffice() ? py::cast(e.street) : py::none(); })
        .def_property_readonly("address", [](const Entry& e) { return CleanAddress(e); },
                               "the whole address as `ubin find` prints it")
        .def_property_readonly("romaji", [](const Entry& e) { return Romaji(e); })
        .def("to_dict", [](const Entry& e) { return JsonLoads(FindResultJson(e)); },
             "the result as `ubin find --json` writes it")
        .def("__repr__", [](const Entry& e) {
            const std::u16string& c = e.postalCode;
            return "<ubin.Entry 〒" + ToUtf8(c.substr(0, 3)) + "-" + ToUtf8(c.substr(std::min<std::size_t>(3, c.size()))) + " " +
                   ToUtf8(CleanAddress(e)) + ">";
        });
}

void BindResults(py::module_& m)
{
    py::class_<Found>(m, "FindResult", "What Directory.find answered.")
        .def_property_readonly("match", [](const Found& f) { return FindMatchName(f.result.match); },
                               "how the query was taken: postal, reading, text or address")
        .def_property_readonly("total", [](const Found& f) { return f.result.total; }, "every match, also past the limit")
        .def_property_readonly("results",
                               [](Found& f) {
                                   if (!f.results) f.results = py::cast(f.result.results);
                                   return f.results;
                               },
                               "the first `limit`, best first")
        .def_property_readonly("suggestions", [](const Found& f) { return f.result.suggestions; },
                               "when nothing was found: names near the query")
        .def_property_readonly("level", [](const Found& f) {
            return f.result.match == FindMatch::Address ? py::cast(AddressLevelName(f.result.level)) : py::none();
        })
        .def_property_readonly("rest", [](const Found& f) { return f.result.rest; })
        .def_property_readonly("hint", [](const Found& f) {
            const char* hint = FindHint(f.result);
            return hint ? py::cast(std::string(hint)) : py::none();
        })
        .def("to_json", [](const Found& f) { return FindJson(f.query, f.result, f.edition).dump(); },
             "the answer as `ubin find --json` prints it")
        .def("to_dict", [](const Found& f) { return JsonLoads(FindJson(f.query, f.result, f.edition)); })
        .def("__len__", [](const Found& f) { return f.result.results.size(); })
        .def("__repr__", [](const Found& f) {
            return "<ubin.FindResult " + std::string(FindMatchName(f.result.match)) + " total=" + std::to_string(f.result.total) + ">";
        });

    py::class_<Resolved>(m, "Resolved", "The best entry of a written address.")
        .def_property_readonly("entry", [](const Resolved& r) { return r.entry; })
        .def_property_readonly("postal_code", [](const Resolved& r) { return r.entry ? py::cast(r.entry->postalCode) : py::none(); })
        .def_property_readonly("address", [](const Resolved& r) { return r.entry ? py::cast(CleanAddress(*r.entry)) : py::none(); })
        .def_property_readonly("match", [](const Resolved& r) { return r.match ? py::cast(FindMatchName(*r.match)) : py::none(); })
        .def_property_readonly("level", [](const Resolved& r) {
            return r.match == FindMatch::Address ? py::cast(AddressLevelName(r.level)) : py::none();
        }, "how far an address was read: prefecture, city, town or number")
        .def_property_readonly("rest", [](const Resolved& r) { return r.rest; }, "what of the address was not used")
        .def_property_readonly("total", [](const Resolved& r) { return r.total; }, "how many entries matched")
        .def_property_readonly("error", [](const Resolved& r) { return r.error.empty() ? py::none() : py::cast(r.error); })
        .def("__bool__", [](const Resolved& r) { return r.entry.has_value(); })
        .def("to_dict", [](const Resolved& r) {
            py::dict d;
            d["postal_code"] = r.entry ? py::cast(r.entry->postalCode) : py::none();
            d["address"] = r.entry ? py::cast(CleanAddress(*r.entry)) : py::none();
            d["match"] = r.match ? py::cast(FindMatchName(*r.match)) : py::none();
            d["level"] = r.match == FindMatch::Address ? py::cast(AddressLevelName(r.level)) : py::none();
            d["rest"] = r.rest;
            d["candidates"] = r.total;
            d["error"] = r.error.empty() ? py::none() : py::cast(r.error);
            return d;
        })
        .def("__repr__", [](const Resolved& r) {
            if (!r.error.empty()) return "<ubin.Resolved error=" + r.error + ">";
            if (!r.entry) return std::string("<ubin.Resolved nothing>");
            return "<ubin.Resolved " + ToUtf8(r.entry->postalCode) + " " + ToUtf8(CleanAddress(*r.entry)) + ">";
        });
}

void BindDirectory(py::module_& m)
{
    using Release = py::call_guard<py::gil_scoped_release>;
    py::class_<Directory>(m, "Directory", "A directory folder built by ubin-build, safe to share between threads.")
        .def(py::init(&OpenDirectory), py::arg("path"), py::arg("mapped") = true,
             "Opens the folder; `mapped` maps the files lookups read (best for many lookups).")
        .def_property_readonly("edition", [](const Directory& d) { return d.lookup->Edition().ShortText(); },
                               "the data's edition, '2023-09', or 'unknown'")
        .def_property_readonly("edition_guessed", [](const Directory& d) { return d.lookup->Edition().guessed; })
        .def("postal",
             [](const Directory& d, const std::u16string& code, bool offices, std::size_t limit) {
                 return d.lookup->FindByPostal(code, {offices, limit});
             },
             py::arg("code"), py::arg("offices") = true, py::arg("limit") = 0, Release(),
             "The entries whose postal code begins with `code`, areas before the offices of a code.")
        .def("find",
             [](const Directory& d, const std::u16string& text, std::size_t limit) {
                 return Found{d.Find().Find(text, limit), ToUtf8(text), d.lookup->Edition(), py::object()};
             },
             py::arg("text"), py::arg("limit") = 100, Release(),
             "Anything a person types (code, reading, name, address), best first, as `ubin find`.")
        .def("resolve", [](const Directory& d, const std::u16string& address) { return Resolve(d.Find(), address, false); },
             py::arg("address"), Release(), "The best entry of a written address, as `ubin find --batch`.")
        .def("resolve_many",
             [](const Directory& d, const py::iterable& addresses, unsigned threads) {
                 const std::vector<std::u16string> texts = ColumnTexts(addresses);
                 std::vector<Resolved> answers;
                 {
                     const py::gil_scoped_release release;
                     answers = ResolveMany(d.Find(), texts, threads);
                 }
                 py::list out(answers.size());
                 for (std::size_t i = 0; i < answers.size(); ++i) out[i] = py::cast(std::move(answers[i]));
                 return out;
             },
             py::arg("addresses"), py::arg("threads") = 1,
             "resolve() of every text of a list, the list answered in C++ (`threads` 0: one per core). "
             "None, NaN and pd.NA give an empty answer; a text the finder refuses gives an answer with its error.");
}

} // namespace

PYBIND11_MODULE(_ubin, m)
{
    m.doc() = "Japanese postal-code directory lookups over the ubin engine.";
    m.attr("__version__") = UBIN_VERSION;
    const py::exception<Error>& error = py::register_exception<Error>(m, "Error");
    // Registered after their base, so that they are tried before it.
    py::register_exception<DirectoryError>(m, "DirectoryError", error);
    py::register_exception<QueryError>(m, "QueryError", error);
    py::register_exception<EncodingError>(m, "EncodingError", error);
    py::register_exception<SettingsError>(m, "SettingsError", error);
    BindEntry(m);
    BindResults(m);
    BindDirectory(m);
    m.def("_settings_folder", &SettingsFolder, py::arg("executable_folder"));
}
