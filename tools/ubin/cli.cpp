#include "tools/ubin/cli.h"

#include "base/cp932.h"
#include "base/errors.h"
#include "base/path_text.h"
#include "directory/directory.h"
#include "form/memory_face.h"
#include "form/search.h"
#include "settings/places.h"
#include "settings/settings.h"
#include "tools/command_line/command_line.h"
#include "tools/ubin/check_command.h"
#include "tools/ubin/diff_command.h"
#include "tools/ubin/eval_command.h"
#include "tools/ubin/find_command.h"
#include "tools/ubin/subcommand.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>

namespace ubin {

namespace {

namespace el = element;

const char kUsage[] =
    "usage: ubin find [--settings FILE | --data DIR] [--json | --csv] [--limit N] [--sort code] QUERY...\n"
    "       ubin find --batch [--column COL [--header]] [--code-column COL] [--excel] [--report FILE]\n"
    "                 [--since DIR] [--json] FILE\n"
    "       ubin check [--settings FILE | --data DIR] [--max-age MONTHS]\n"
    "       ubin diff OLD_DIR NEW_DIR [--json | --csv]\n"
    "       ubin eval [--settings FILE | --data DIR] [--json] GOLD.csv\n"
    "       ubin form [--settings FILE | --data DIR] [--json] [--clip-flags LIST] STEP...\n"
    "       ubin --help | --version\n"
    "\n"
    "ubin find finds any address: a postal code or its beginning, a reading in any kana, any\n"
    "part of an address or an office name, or an address with a house number\n"
    "(ubin find --help says more). ubin check compares the directory's files with the\n"
    "manifest ubin-build wrote (size and checksum) and shows the data's edition; with\n"
    "--max-age it fails when the data is older. ubin diff lists the postal codes added,\n"
    "removed and changed between two builds. ubin eval measures the batch (ubin find --batch)\n"
    "on a CSV file of addresses and their expected postal codes: coverage and precision.\n"
    "\n"
    "ubin form, for scripts and tests, drives the search window's logic and prints its widgets\n"
    "by name; `ubin STEP...` without the word form does the same. Each step acts as a user\n"
    "would on the search window, in order:\n"
    "  postal TEXT   city TEXT   kana TEXT   kanji TEXT\n"
    "                switch to that search mode and press Enter with TEXT in the entry box\n"
    "  next, prev    the paging buttons 次候補 and 前候補 (nothing when disabled)\n"
    "  area PREF [CITY [TOWN [DETAIL]]]\n"
    "                switch to 選択検索 and choose those items of the four lists\n"
    "  link TEXT     the link service's execute command\n"
    "  control TEXT  the control's lookup Ubin_get_ocx\n"
    "  clear         the クリア button\n"
    "  clip          the クリップ button (the result text to the clipboard)\n"
    "\n"
    "Then prints the entry box, the result fields, the prompt and example, the paging\n"
    "buttons, the four lists, the beeps and the clipboard text, as NAME<TAB>value lines or\n"
    "with --json as one JSON object.\n"
    "\n"
    "  --settings FILE  read this ubscon.def\n"
    "  --data DIR       use this directory folder, clip flags 1, 2 and 3 on\n"
    "  --clip-flags LIST  the clip flags that are on, e.g. 1,2,3,6 (0 automatic copy,\n"
    "                   1 postal code, 2 city, 3 town, 4 reading, 5 city code, 6 prefecture)\n"
    "Without --settings or --data the settings are looked for as the search window does.\n"
    "Exit status: 0 done, 2 for a mistake in the arguments or settings or a directory that\n"
    "cannot be read (ubin find: 1 when nothing was found).\n";

struct Step {
    std::string name;
    std::vector<std::u16string> args;
};

const std::set<std::string> kSteps = {"postal", "city", "kana", "kanji", "next", "prev",
                                      "area", "link", "control", "clear", "clip"};

int ModeOf(const std::string& step)
{
    if (step == "postal") return kModePostal;
    if (step == "city") return kModeCity;
    if (step == "kana") return kModeTownKana;
    return kModeTownKanji;
}

ClipFlags ParseClipFlags(const std::string& list)
{
    ClipFlags flags{};
    std::size_t start = 0;
    while (start < list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string item = list.substr(start, comma - start);
        if (item.size() != 1 || item[0] < '0' || item[0] > '8')
            throw UsageError("--clip-flags takes flag numbers 0 to 8 separated by commas, not \"" + list + "\"");
        flags[static_cast<std::size_t>(item[0] - '0')] = 1;
        start = comma + 1;
    }
    return flags;
}

struct Options {
    std::string settingsFile, dataFolder, clipFlags;
    bool json = false;
    std::vector<std::string> words; // the steps and their texts, in order
};

std::vector<Step> ParseSteps(const std::vector<std::string>& args)
{
    std::vector<Step> steps;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!kSteps.count(a)) throw UsageError("unknown step \"" + a + "\"");
        Step s{a, {}};
        if (a == "area") {
            // Up to four items, ending at the next step's name.
            while (s.args.size() < 4 && i + 1 < args.size() && !kSteps.count(args[i + 1]))
                s.args.push_back(FromUtf8(args[++i]));
            if (s.args.empty()) throw UsageError("area needs at least a prefecture");
        } else if (a != "next" && a != "prev" && a != "clear" && a != "clip") {
            if (i + 1 >= args.size()) throw UsageError(a + " needs a TEXT");
            s.args.push_back(FromUtf8(args[++i]));
        }
        steps.push_back(std::move(s));
    }
    if (steps.empty()) throw UsageError("no step given");
    return steps;
}

} // namespace

namespace {

void Click(Search& search, SearchFace& face, std::string_view button, void (Search::*handler)())
{
    if (face.IsEnabled(button)) (search.*handler)();
}

void Choose(Search& search, MemoryFace& face, int list, const std::u16string& item)
{
    const std::string_view name = el::kCombos[list];
    const auto& items = face.Items(name);
    if (std::find(items.begin(), items.end(), item) == items.end())
        throw UsageError("\"" + ToUtf8(item) + "\" is not an item of " + std::string(name));
    face.SetEditText(name, item);
    search.ComboClick(list);
}

void RunStep(const Step& s, Search& search, MemoryFace& face)
{
    if (s.name == "postal" || s.name == "city" || s.name == "kana" || s.name == "kanji") {
        search.SwitchMode(ModeOf(s.name));
        face.SetText(el::kITUbin, s.args[0]);
        std::int16_t key = kKeyEnter;
        search.ITUbin_KeyPress(key);
    } else if (s.name == "next") {
        Click(search, face, el::kCommand8, &Search::Command8_Click);
    } else if (s.name == "prev") {
        Click(search, face, el::kCommand7, &Search::Command7_Click);
    } else if (s.name == "area") {
        search.SwitchMode(kModeArea);
        for (std::size_t i = 0; i < s.args.size(); ++i) Choose(search, face, static_cast<int>(i), s.args[i]);
    } else if (s.name == "link") {
        search.LinkExecute(s.args[0]);
    } else if (s.name == "control") {
        search.Ubin_get_ocx(s.args[0]);
    } else if (s.name == "clear") {
        search.Command2_Click();
    } else if (s.name == "clip") {
        search.Command1_Click();
    }
}

// Tabs and line breaks inside a value would break the line format: they are shown as blanks.
std::string LineValue(std::u16string_view text)
{
    std::string s = ToUtf8(text);
    std::replace_if(s.begin(), s.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    return s;
}

constexpr std::string_view kShownTexts[] = {el::kITUbin, el::kIT1, el::kIT2, el::kIT3, el::kIT4, el::kIT5,
                                            el::kIT6, el::kText6, el::kLabel1, el::kLabel5};

void PrintLines(const MemoryFace& face, std::ostream& out)
{
    for (const auto e : kShownTexts) out << e << '\t' << LineValue(face.Text(e)) << '\n';
    for (const auto b : {el::kCommand7, el::kCommand8})
        out << b << '\t' << (face.IsEnabled(b) ? "enabled" : "disabled") << '\n';
    for (const auto c : el::kCombos) {
        out << c << '\t' << LineValue(face.EditText(c)) << '\n';
        out << c << ".items";
        for (const auto& item : face.Items(c)) out << '\t' << LineValue(item);
        out << '\n';
    }
    out << "beeps\t" << face.beeps() << '\n';
    if (face.clipboard()) out << "clipboard\t" << LineValue(*face.clipboard()) << '\n';
}

void PrintJson(const MemoryFace& face, std::ostream& out)
{
    nlohmann::ordered_json j;
    for (const auto e : kShownTexts) j[std::string(e)] = ToUtf8(face.Text(e));
    for (const auto b : {el::kCommand7, el::kCommand8}) j[std::string(b)] = face.IsEnabled(b);
    for (const auto c : el::kCombos) {
        nlohmann::ordered_json list;
        list["text"] = ToUtf8(face.EditText(c));
        list["items"] = nlohmann::ordered_json::array();
        for (const auto& item : face.Items(c)) list["items"].push_back(ToUtf8(item));
        j[std::string(c)] = std::move(list);
    }
    j["beeps"] = face.beeps();
    j["clipboard"] = face.clipboard() ? nlohmann::ordered_json(ToUtf8(*face.clipboard())) : nlohmann::ordered_json();
    out << j.dump() << '\n';
}

} // namespace

int RunForm(const std::vector<std::string>& args, const std::string& program, const ToolPlaces& places,
            std::ostream& out, std::ostream& err)
{
    CLI::App app("Drives the search window's logic step by step and prints its widgets by name.", program);
    Options o;
    CLI::Option* settingsOption = app.add_option("--settings", o.settingsFile, "read this ubscon.def");
    app.add_option("--data", o.dataFolder, "use this directory folder")->excludes(settingsOption);
    app.add_flag("--json", o.json, "print one JSON object");
    app.add_option("--clip-flags", o.clipFlags, "the clip flags that are on, e.g. 1,2,3,6");
    app.add_option("step", o.words, "the steps, each with its texts");
    if (const auto status = ParseCommandLine(app, args, out, err, kUsage)) return *status;
    try {
        std::vector<Step> steps;
        std::optional<ClipFlags> clipFlags;
        try {
            steps = ParseSteps(o.words);
            if (app.count("--clip-flags")) clipFlags = ParseClipFlags(o.clipFlags);
        } catch (const EncodingError& e) {
            throw UsageError(std::string("a step's text is not UTF-8 (") + e.what() + ")");
        }
        const Settings settings = SubcommandSettings(o.settingsFile, o.dataFolder, places);
        const ClipFlags flags = clipFlags.value_or(settings.clipFlags);
        const std::unique_ptr<Lookup> lookup = Lookup::Open(settings.dataFolder);
        MemoryFace face;
        Search search(face, *lookup, flags);
        search.Start();
        for (const Step& s : steps) RunStep(s, search, face);
        if (o.json) PrintJson(face, out);
        else PrintLines(face, out);
        return 0;
    } catch (const UsageError& e) {
        err << UsageLine(program, e.what()) << '\n';
    } catch (const std::exception& e) {
        err << program << ": " << e.what() << '\n';
    }
    return kExitUsage;
}

int RunUbin(const std::vector<std::string>& args, const ToolPlaces& places, std::ostream& out, std::ostream& err)
{
    const std::string first = args.empty() ? std::string() : args[0];
    const std::vector<std::string> rest = args.empty() ? args : std::vector<std::string>(args.begin() + 1, args.end());
    if (first == "find") return RunFind(rest, places, out, err);
    if (first == "check") return RunCheck(rest, places, out, err);
    if (first == "diff") return RunDiff(rest, places, out, err);
    if (first == "eval") return RunEval(rest, places, out, err);
    if (first == "form") return RunForm(rest, "ubin form", places, out, err);
    // The steps without the word form: the scripts written before it was a subcommand.
    return RunForm(args, "ubin", places, out, err);
}

} // namespace ubin
