// The ubin command on the sample directory: its output lines, its JSON, where it finds its
// settings, and its errors.
#include "base/cp932.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/run_ubin.h"
#include "tools/ubin/cli.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <variant>

using namespace ubin;
using ubin::test::Ubin;
using ubin::test::UbinOutcome;
using ubin::test::ProgramRun;
using ubin::test::RunProgram;
using ubin::test::TempDir;

namespace {

const std::string kSample = UBIN_SAMPLE_DIR;

std::map<std::string, std::string> Lines(const std::string& text)
{
    std::map<std::string, std::string> m;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const auto tab = line.find('\t');
        m[line.substr(0, tab)] = tab == std::string::npos ? "" : line.substr(tab + 1);
    }
    return m;
}

// Just enough JSON to check the command's object: a parse error throws.
struct Json;
using JsonObject = std::map<std::string, Json>;
struct Json {
    std::variant<std::nullptr_t, bool, double, std::string, std::vector<Json>, JsonObject> v;
};

class JsonParser {
public:
    explicit JsonParser(const std::string& s) : s_(s) {}
    Json Document()
    {
        Json j = Value();
        Space();
        if (i_ != s_.size()) Fail();
        return j;
    }

private:
    [[noreturn]] void Fail() { throw std::runtime_error("bad JSON at " + std::to_string(i_)); }
    void Space()
    {
        while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
    }
    bool Eat(char c)
    {
        Space();
        if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
        return false;
    }
    bool Word(const char* w)
    {
        const std::string word(w);
        if (s_.compare(i_, word.size(), word) != 0) return false;
        i_ += word.size();
        return true;
    }
    std::string String()
    {
        if (!Eat('"')) Fail();
        std::string out;
        while (i_ < s_.size() && s_[i_] != '"') {
            char c = s_[i_++];
            if (static_cast<unsigned char>(c) < 0x20) Fail();
            if (c == '\\') {
                if (i_ >= s_.size()) Fail();
                c = s_[i_++];
                if (c == 'n') c = '\n';
                else if (c == 't') c = '\t';
                else if (c == 'r') c = '\r';
                else if (c == 'u') {
                    if (i_ + 4 > s_.size()) Fail();
                    c = static_cast<char>(std::stoi(s_.substr(i_, 4), nullptr, 16)); // control characters only
                    i_ += 4;
                } else if (c != '"' && c != '\\' && c != '/') Fail();
            }
            out += c;
        }
        if (i_++ >= s_.size()) Fail();
        return out;
    }
    Json Value()
    {
        Space();
        if (i_ >= s_.size()) Fail();
        if (s_[i_] == '"') return {String()};
        if (Eat('{')) {
            JsonObject o;
            if (Eat('}')) return {o};
            do {
                Space();
                std::string k = String();
                if (!Eat(':')) Fail();
                o[k] = Value();
            } while (Eat(','));
            if (!Eat('}')) Fail();
            return {o};
        }
        if (Eat('[')) {
            std::vector<Json> a;
            if (Eat(']')) return {a};
            do a.push_back(Value());
            while (Eat(','));
            if (!Eat(']')) Fail();
            return {a};
        }
        if (Word("true")) return {true};
        if (Word("false")) return {false};
        if (Word("null")) return {nullptr};
        std::size_t used = 0;
        const double d = std::stod(s_.substr(i_), &used);
        i_ += used;
        return {d};
    }
    const std::string& s_;
    std::size_t i_ = 0;
};

const std::string& Str(const JsonObject& o, const std::string& k) { return std::get<std::string>(o.at(k).v); }

} // namespace

TEST(UbinCommand, ThePostalStepPrintsTheEntryOfTheSampleDirectory)
{
    // The real program, as a script would run it.
    const ProgramRun run = RunProgram(UBIN_EXE, {"--data", kSample, "postal", "7300014"});
    EXPECT_EQ(run.status, 0);
    const auto m = Lines(run.out);
    EXPECT_EQ(m.at("IT1"), "730");
    EXPECT_EQ(m.at("IT2"), "0014");
    EXPECT_EQ(m.at("IT3"), "広島市中区");
    EXPECT_EQ(m.at("IT4"), "上幟町");
    EXPECT_EQ(m.at("IT5"), "ﾋﾛｼﾏｼﾅｶｸｶﾐﾉﾎﾞﾘﾁｮｳ");
    EXPECT_EQ(m.at("Command8"), "enabled");
    EXPECT_EQ(m.count("clipboard"), 0u); // nothing was copied

    // The program writes exactly what the command gives, on every platform: no line end is
    // changed on the way out (Windows would add a CR before each LF, and CSV ends its rows in
    // CR LF itself). Arguments in Japanese reach it whole (on Windows as a UTF-16 command line).
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--data", kSample, "kana", "ｷﾞﾝｻﾞ"},
                                                 {"find", "--data", kSample, "--csv", "中区上幟"}}) {
        const ProgramRun real = RunProgram(UBIN_EXE, args);
        const UbinOutcome inside = Ubin(args);
        EXPECT_EQ(real.status, inside.status) << args.back();
        EXPECT_EQ(real.out, inside.out) << args.back();
        EXPECT_NE(inside.out.find(args.back() == "ｷﾞﾝｻﾞ" ? "IT4\t銀座\n" : "広島市中区,上幟町"), std::string::npos)
            << inside.out;
    }
}

TEST(UbinCommand, JsonHoldsExactlyTheListedKeys)
{
    const UbinOutcome r = Ubin({"--json", "--data", kSample, "kana", "ｷﾞﾝｻﾞ", "next"});
    ASSERT_EQ(r.status, 0) << r.err;
    const JsonObject o = std::get<JsonObject>(JsonParser(r.out).Document().v);
    std::vector<std::string> keys;
    for (const auto& [k, v] : o) keys.push_back(k);
    EXPECT_EQ(keys, (std::vector<std::string>{"Combo1", "Combo2", "Combo3", "Combo4", "Command7", "Command8", "IT1",
                                              "IT2", "IT3", "IT4", "IT5", "IT6", "ITUbin", "Label1", "Label5", "Text6",
                                              "beeps", "clipboard"}));
    EXPECT_EQ(Str(o, "ITUbin"), "ｷﾞﾝｻﾞ");
    EXPECT_EQ(Str(o, "Label1"), "町／字");
    EXPECT_TRUE(std::get<bool>(o.at("Command7").v));
    EXPECT_TRUE(std::holds_alternative<std::nullptr_t>(o.at("clipboard").v));
    EXPECT_EQ(std::get<double>(o.at("beeps").v), 0);
    const JsonObject combo = std::get<JsonObject>(o.at("Combo1").v);
    EXPECT_TRUE(std::get<std::vector<Json>>(combo.at("items").v).empty());
    EXPECT_EQ(Str(combo, "text"), "");

    const UbinOutcome g = Ubin({"--json", "--data", kSample, "kana", "ｷﾞﾝｻﾞ"});
    EXPECT_EQ(Str(std::get<JsonObject>(JsonParser(g.out).Document().v), "IT4"), "銀座");
}

TEST(UbinCommand, JsonEscapesQuotesBackslashesAndControlCharacters)
{
    const std::string typed = "a\"b\\c\td\x01";
    const UbinOutcome r = Ubin({"--json", "--data", kSample, "--clip-flags", "1,2", "postal", typed, "clip"});
    ASSERT_EQ(r.status, 0) << r.err;
    const JsonObject o = std::get<JsonObject>(JsonParser(r.out).Document().v);
    EXPECT_EQ(Str(o, "ITUbin"), typed);
    EXPECT_EQ(Str(o, "clipboard"), Str(o, "IT1") + "-" + Str(o, "IT2") + "," + Str(o, "IT3"));
}

TEST(UbinCommand, StepsRunInOrderAsOnTheWindow)
{
    UbinOutcome r = Ubin({"--data", kSample, "area", "広島県", "広島市中区", "上幟町", "clip", "postal", "730"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto m = Lines(r.out);
    EXPECT_EQ(m.at("clipboard"), "730-0014,広島市中区, 上幟町");
    EXPECT_EQ(m.at("Combo1"), ""); // the postal step switched the mode and cleared the lists' texts
    EXPECT_NE(m.at("Combo1.items").find("北海道"), std::string::npos);
    EXPECT_EQ(m.at("Label5"), "730-0014 / 730");

    r = Ubin({"--data", kSample, "postal", "", "prev", "prev"}); // at record 1: one beep, then disabled
    m = Lines(r.out);
    EXPECT_EQ(m.at("beeps"), "1");
    EXPECT_EQ(m.at("Command7"), "disabled");

    r = Ubin({"--data", kSample, "--clip-flags", "5,6", "postal", "7300014", "clip", "link", "9999999"});
    m = Lines(r.out);
    EXPECT_EQ(r.status, 0); // a lookup that finds nothing is no error
    EXPECT_EQ(m.at("clipboard"), "34101");
    EXPECT_EQ(m.at("Text6"), "*** 該当するものが見付からない **");
    EXPECT_EQ(m.at("ITUbin"), "7300014");

    r = Ubin({"--data", kSample, "--clip-flags", "", "control", "730", "clear", "clip"});
    m = Lines(r.out);
    EXPECT_EQ(m.at("clipboard"), "");
    EXPECT_EQ(m.at("IT1"), "");
}

TEST(UbinCommand, FindsItsSettingsAsTheWindowDoes)
{
    TempDir config, cwd;
#ifdef _WIN32
    // The Windows folder is the system's own (tests/windows writes there); the current folder
    // is a place on every platform.
    const auto file = cwd / "ubscon.def";
#else
    std::filesystem::create_directories(config / "marubeta");
    const auto file = config / "marubeta" / "ubscon.def";
#endif
    std::filesystem::copy_file(kSample + "ubscon.def", file);
    const ToolPlaces places{config.path(), cwd / "bin", cwd.path()};
    UbinOutcome r = Ubin({"postal", "7300014", "clip"}, places);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out).at("clipboard"), "730-0014,広島市中区, 上幟町"); // flags 1, 2, 3 from the file

    std::filesystem::remove(file);
    r = Ubin({"postal", "7300014"}, places);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("呼び出し元に ubscon.def が必要です"), std::string::npos) << "the file as it is named on disk";
    EXPECT_NE(r.err.find((cwd / "ubscon.def").string()), std::string::npos); // names the places tried

    r = Ubin({"--settings", (cwd / "missing.def").string(), "postal", "1"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("missing.def"), std::string::npos);
}

TEST(UbinCommand, ADamagedDirectoryOrBadArgumentsAreErrors)
{
    TempDir t;
    for (const auto& f : std::filesystem::directory_iterator(kSample))
        std::filesystem::copy_file(f.path(), t / f.path().filename().string());
    const std::string toshi2 = ToUtf8(u"TOSHI2.TDB");
    std::filesystem::resize_file(t / toshi2, 100); // fewer than the 47 prefecture lines
    UbinOutcome r = Ubin({"--data", t.path().string(), "postal", "7300014"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("TOSHI2.TDB"), std::string::npos);

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--data", kSample}, {"--data", kSample, "lookup", "1"}, {"--data", kSample, "postal"},
          {"--data", kSample, "--settings", "x", "clear"}, {"--data", kSample, "--clip-flags", "9", "clear"},
          {"--data", kSample, "area", "広島県", "どこか市"}, {"--data", kSample, "postal", "\xff"}}) {
        r = Ubin(args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(r.err.empty());
    }
}

TEST(UbinCommand, ANulInTheDataFolderIsShownInTheMessageNotCutAt)
{
    using namespace std::string_literals;
    TempDir t;
    ubin::test::WriteBytes(t / "folder-with-nul.def", "\"\",\"\",\"/no/such\0folder/\",0,0,0,0,1,1,1,0,0,0,0,0,\"END\"\r\n"s);
    const UbinOutcome r = Ubin({"--settings", (t / "folder-with-nul.def").string(), "postal", "7300014"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("/no/such\\0folder/"), std::string::npos) << r.err;
}

TEST(UbinCommand, TheStepsAnswerAsUbinFormToo)
{
    for (const std::vector<std::string>& steps :
         {std::vector<std::string>{"--data", kSample, "postal", "7300014", "clip"},
          {"--json", "--data", kSample, "kana", "ｷﾞﾝｻﾞ", "next"}, {"--data", kSample, "--clip-flags", "1,6", "kanji", "銀座"}}) {
        std::vector<std::string> form = {"form"};
        form.insert(form.end(), steps.begin(), steps.end());
        const UbinOutcome plain = Ubin(steps), named = Ubin(form);
        EXPECT_EQ(named.status, 0) << named.err;
        EXPECT_EQ(named.out, plain.out);
        EXPECT_NE(named.out, "");
    }
}

TEST(UbinCommand, HelpLeadsWithFindAndMistakesTakeOneLine)
{
    const UbinOutcome help = Ubin({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_LT(help.out.find("ubin find"), help.out.find("ubin form")) << help.out;
    EXPECT_EQ(Ubin({"form", "--help"}).out, help.out);

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--bogus"}, {"form"}, {"form", "--data"}, {"find", "--limit", "-1", "x"}}) {
        const UbinOutcome r = Ubin(args);
        EXPECT_EQ(r.status, 2) << args.front();
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find("--help"), std::string::npos) << r.err;
    }
}
