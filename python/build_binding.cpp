// ubin.build(): a directory folder from Japan Post's files, by the builder ubin-build runs, with
// its checks, its messages and its replacement of the folder. The build runs without the GIL;
// progress callbacks and Ctrl+C are heard between rows, and either stops the build with the
// folder left as it was.
#include "python/bindings.h"

#include "builder/builder.h"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>

namespace py = pybind11;

namespace ubin::python {

namespace {

// A path as Python names files (undecodable bytes kept as surrogates), or None for none.
py::object PathOrNone(const std::filesystem::path& p)
{
    if (p.empty()) return py::none();
    const std::string& bytes = p.native();
    PyObject* text = PyUnicode_DecodeFSDefaultAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
    if (!text) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(text);
}

// The build's progress hook: the caller's callback, then Python's signal handlers, both with the
// GIL taken. The first Python exception is kept, and the build is told to stop.
class ProgressHook {
public:
    explicit ProgressHook(py::object callback) : callback_(std::move(callback)) {}

    void operator()(const BuildProgress& progress)
    {
        if (cancel_.load()) return;
        const py::gil_scoped_acquire gil;
        try {
            if (!callback_.is_none()) callback_(progress);
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        } catch (py::error_already_set& e) {
            raised_ = std::move(e);
            cancel_ = true;
        }
    }

    const std::atomic<bool>* cancel() const { return &cancel_; }
    // The exception the callback or a signal handler raised, if any.
    std::optional<py::error_already_set>& raised() { return raised_; }

private:
    py::object callback_;
    std::atomic<bool> cancel_{false};
    std::optional<py::error_already_set> raised_;
};

BuildReport Build(const std::filesystem::path& kenAll, const std::filesystem::path& folder,
                  const std::optional<std::filesystem::path>& offices, const std::optional<std::filesystem::path>& changes,
                  const std::optional<std::string>& edition, const py::object& progress)
{
    if (!progress.is_none() && !PyCallable_Check(progress.ptr()))
        throw py::type_error("progress takes a callable, not " +
                             std::string(py::str(progress.get_type().attr("__name__"))));
    ProgressHook hook(progress);
    BuildOptions options;
    options.offices = offices;
    options.municipalChanges = changes;
    options.edition = edition.value_or("");
    options.progress = [&hook](const BuildProgress& p) { hook(p); };
    options.cancel = hook.cancel();
    BuildReport report;
    std::exception_ptr failure;
    {
        const py::gil_scoped_release release;
        try {
            report = BuildDirectory(kenAll, folder, options);
        } catch (...) {
            failure = std::current_exception();
        }
    }
    // What stopped the build on Python's side is what the caller sees, not "interrupted".
    if (hook.raised()) throw *hook.raised();
    if (failure) std::rethrow_exception(failure);
    return report;
}

void BindReport(py::module_& m)
{
    py::class_<BuildProgress>(m, "BuildProgress",
                              "How far a build has come: the rows of KEN_ALL read, then those of JIGYOSYO, then\n"
                              "the entries written. Each count only grows.")
        .def_property_readonly("rows_read", [](const BuildProgress& p) { return p.rowsRead; }, "Rows of KEN_ALL read.")
        .def_property_readonly("offices_read", [](const BuildProgress& p) { return p.officesRead; },
                               "Rows of JIGYOSYO read.")
        .def_property_readonly("entries_written", [](const BuildProgress& p) { return p.entriesWritten; },
                               "Entries written into the directory files.")
        .def("__repr__", [](const BuildProgress& p) {
            return "<ubin.BuildProgress rows_read=" + std::to_string(p.rowsRead) + " offices_read=" +
                   std::to_string(p.officesRead) + " entries_written=" + std::to_string(p.entriesWritten) + ">";
        });

    py::class_<BuildReport>(m, "BuildReport", "What ubin.build() made, as ubin-build reports it.")
        .def_property_readonly("entries", [](const BuildReport& r) { return r.entries; }, "Postal entries written.")
        .def_property_readonly("city_codes", [](const BuildReport& r) { return r.cityCodes; }, "Municipal codes.")
        .def_property_readonly("rows_read", [](const BuildReport& r) { return r.rowsRead; }, "Rows of KEN_ALL read.")
        .def_property_readonly("rows_joined", [](const BuildReport& r) { return r.rowsJoined; },
                               "Continuation rows joined to the row before them.")
        .def_property_readonly("offices", [](const BuildReport& r) { return r.offices; }, "Offices written (0 without JIGYOSYO).")
        .def_property_readonly("encoding", [](const BuildReport& r) { return r.encoding == InputEncoding::Utf8 ? "utf-8" : "cp932"; },
                               "The edition of KEN_ALL read: 'cp932' or 'utf-8'.")
        .def_property_readonly("edition", [](const BuildReport& r) { return r.edition.empty() ? py::none() : py::cast(r.edition); },
                               "The month recorded, '2026-11', or None when unknown.")
        .def_property_readonly("edition_guessed", [](const BuildReport& r) { return r.editionGuessed; },
                               "True when the month was taken from the input files' dates.")
        .def_property_readonly("changes",
                               [](const BuildReport& r) {
                                   if (!r.changes) return py::object(py::none());
                                   py::dict d;
                                   d["added"] = r.changes->added;
                                   d["removed"] = r.changes->removed;
                                   d["changed"] = r.changes->changed;
                                   return py::object(d);
                               },
                               "Postal codes added, removed and changed against the directory replaced (a dict),\n"
                               "or None when there was none to compare with.")
        .def_property_readonly("former_municipalities", [](const BuildReport& r) { return r.formerMunicipalities; },
                               "Names of municipalities merged or renamed since, recorded with the one of today.")
        .def_property_readonly("unread_notes", [](const BuildReport& r) { return r.unreadNotes; },
                               "Town notes holding words no rule reads.")
        .def_property_readonly("characters_replaced", [](const BuildReport& r) { return r.charactersReplaced; },
                               "Commas and double quotes in values written in their full-width form.")
        .def_property_readonly("kept_folder", [](const BuildReport& r) { return PathOrNone(r.keptFolder); },
                               "Where the old folder was kept whole because other files appeared in it during\n"
                               "the build; None normally.")
        .def("__repr__", [](const BuildReport& r) {
            return "<ubin.BuildReport entries=" + std::to_string(r.entries) + " offices=" + std::to_string(r.offices) +
                   " edition=" + (r.edition.empty() ? std::string("unknown") : r.edition) + ">";
        });
}

void BindBuildError(py::module_& m, const py::exception<Error>& error)
{
    static py::exception<BuildError> buildError(m, "BuildError", error);
    buildError.attr("__doc__") =
        "A build that stopped: an input file refused (its message names the file, the line and\n"
        "why), a folder that cannot be replaced, or an interrupted build. The output folder is left\n"
        "as it was. Attributes: file (str or None), line (int, 0 when not on a line), reason.";
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const BuildError& e) {
            py::object raised = py::reinterpret_borrow<py::object>(buildError.ptr())(e.what());
            raised.attr("file") = PathOrNone(e.file());
            raised.attr("line") = e.line();
            raised.attr("reason") = e.reason();
            PyErr_SetObject(buildError.ptr(), raised.ptr());
        }
    });
}

} // namespace

void BindBuild(py::module_& m, const py::exception<Error>& error)
{
    BindBuildError(m, error);
    BindReport(m);
    m.def("build", &Build, py::arg("ken_all"), py::arg("folder"), py::arg("offices") = py::none(),
          py::arg("changes") = py::none(), py::arg("edition") = py::none(), py::arg("progress") = py::none(),
          "build(ken_all, folder, offices=None, changes=None, edition=None, progress=None)\n--\n\n"
          "Builds a directory folder from Japan Post's KEN_ALL.CSV (the code page 932 or the UTF-8\n"
          "edition) and, with `offices`, its JIGYOSYO.CSV, as ubin-build does: the same files, checks\n"
          "and messages. The files are written beside `folder`, which then takes its place whole; a\n"
          "`folder` that exists must be one ubin-build made. `edition` is the data's month, 'YYYY-MM'\n"
          "(default: the newest month an input file was changed in, recorded as guessed). `changes`\n"
          "is a list of the municipalities merged or renamed (UTF-8 CSV: prefecture,before,after,date)\n"
          "to record instead of the one built in. `progress`, when given, is called now and then with a BuildProgress; an\n"
          "exception it raises, or Ctrl+C, stops the build and is raised, the folder left as it was.\n"
          "Returns a BuildReport; raises BuildError.");
}

} // namespace ubin::python
