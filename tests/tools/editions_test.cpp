// The data's edition as ubin check and ubin find show it, --max-age, a directory built before
// editions were recorded, and ubin diff between two builds.
#include "base/checksum.h"
#include "base/path_text.h"
#include "directory/edition.h"
#include "directory/manifest.h"
#include "tests/support/japan_post_rows.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/run_ubin.h"
#include "builder/builder.h"
#include "tools/ubin/cli.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <sstream>

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace ubin;
using ubin::test::Ubin;
using ubin::test::UbinOutcome;
namespace fs = std::filesystem;

namespace {

test::KenAllRow Town(const std::string& postal, const std::string& kana, const std::string& town,
                     const std::string& code = "01101", const std::string& city = "札幌市中央区")
{
    return {code, postal, "ﾎｯｶｲﾄﾞｳ", "ｼ", kana, "北海道", city, town};
}

const std::vector<test::KenAllRow> kOld = {
    Town("0600000", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ", "以下に掲載がない場合"),
    Town("0640941", "ｱｻﾋｶﾞｵｶ", "旭ケ丘"),
    Town("0600041", "ｵｵﾄﾞｵﾘﾋｶﾞｼ", "大通東"),
    Town("0600042", "ｵｵﾄﾞｵﾘﾆｼ", "大通西"),
    Town("0600031", "ｷﾀ1ｼﾞｮｳﾋｶﾞｼ", "北一条東"),
    Town("0600032", "ｷﾀ2ｼﾞｮｳﾋｶﾞｼ", "北二条東"),
};

// Builds rows into dir/name with the edition given (none: guessed).
std::string Build(const test::TempDir& dir, const std::string& name, const std::vector<test::KenAllRow>& rows,
                  const std::string& edition)
{
    test::WriteBytes(dir / (name + ".csv"), test::KenAllText(rows));
    BuildOptions options;
    options.edition = edition;
    BuildDirectory(dir / (name + ".csv"), dir / name, options);
    return PathToUtf8(dir / name);
}

std::string MonthsAgo(int months)
{
    YearMonth m = MonthOf(std::chrono::system_clock::now());
    const int total = m.year * 12 + (m.month - 1) - months;
    return FormatYearMonth({total / 12, total % 12 + 1});
}

} // namespace

TEST(Editions, CheckShowsTheEditionAndFailsPastMaxAge)
{
    test::TempDir dir;
    struct Case {
        const char* edition; // "" guessed; "-" the manifest of a build before editions were recorded
        std::vector<std::string> options;
        int status;
        std::string shown;
    };
    const std::string current = MonthsAgo(0), old = MonthsAgo(4), recent = MonthsAgo(3);
    const std::vector<Case> cases = {
        {"2026-11", {}, 0, "edition 2026-11\n"},
        {"", {}, 0, "edition " + current + " (guessed from the input files' dates)\n"},
        {"-", {}, 0, "edition unknown\n"},
        {recent.c_str(), {"--max-age", "3"}, 0, "edition " + recent + "\n"},
        {old.c_str(), {"--max-age", "3"}, 1, "the data is 4 months old, more than --max-age 3"},
        {"-", {"--max-age", "3"}, 1, "the edition is unknown"},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = "d" + std::to_string(++n);
        const std::string folder = Build(dir, name, kOld, c.edition == std::string("-") ? "" : c.edition);
        if (c.edition == std::string("-")) {
            // What an earlier ubin-build wrote: no edition and no input lines.
            Manifest m = *ReadManifest(dir / name / "MANIFEST.TXT");
            m.edition.clear();
            m.inputs.clear();
            test::WriteBytes(dir / name / "MANIFEST.TXT", FormatManifest(m));
            EXPECT_EQ(test::ReadBytes(dir / name / "MANIFEST.TXT").find("edition"), std::string::npos);
        }
        std::vector<std::string> args = {"check", "--data", folder};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const UbinOutcome o = Ubin(args);
        EXPECT_EQ(o.status, c.status) << c.edition << o.out << o.err;
        EXPECT_NE(o.out.find(c.shown), std::string::npos) << c.edition << ": " << o.out;

        // ubin find --json opens the same folder and names the same edition first.
        const UbinOutcome f = Ubin({"find", "--data", folder, "--json", "0640941"});
        ASSERT_EQ(f.status, 0) << f.err;
        const auto j = nlohmann::ordered_json::parse(f.out);
        EXPECT_EQ(j.begin().key(), "edition");
        if (c.edition == std::string("-")) EXPECT_TRUE(j["edition"].is_null());
        else EXPECT_EQ(j["edition"], c.edition[0] ? std::string(c.edition) : current);
        EXPECT_EQ(j["edition_guessed"], c.edition == std::string(""));
        EXPECT_EQ(j["total"], 1);
    }
}

TEST(Editions, ManifestRecordsTheInputsAndPassesOverLinesItDoesNotKnow)
{
    test::TempDir dir;
    Build(dir, "d", kOld, "2026-11");
    const std::string text = test::ReadBytes(dir / "d" / "MANIFEST.TXT");
    // A line of a later build, under the manifest's own checksum as that build would write it.
    const std::size_t lines = text.find('\n', text.find('\n') + 1) + 1;
    const std::string later = text.substr(lines) + "signed-by someone\n";
    const Manifest m = ParseManifest("ubin-build manifest 3\nxxh3 " + Xxh3Hex(Xxh3Of(later)) + "\n" + later,
                                     dir / "d" / "MANIFEST.TXT");
    ASSERT_EQ(m.inputs.size(), 1u);
    EXPECT_EQ(m.inputs[0].name, "d.csv");
    EXPECT_EQ(m.inputs[0].size, test::ReadBytes(dir / "d.csv").size());
    // SHA-256 of the file, as sha256sum gives it.
    EXPECT_EQ(m.inputs[0].sha256.size(), 64u);
    EXPECT_EQ(m.edition, "2026-11");
    EXPECT_FALSE(m.editionGuessed);
    EXPECT_EQ(FormatManifest(m), text);
    EXPECT_THROW(BuildDirectory(dir / "d.csv", dir / "e", [] { BuildOptions o; o.edition = "2026-13"; return o; }()),
                 BuildError);
}

TEST(Editions, DiffNamesTheCodesAddedRemovedAndChanged)
{
    test::TempDir dir;
    std::vector<test::KenAllRow> later = kOld;
    later[1] = Town("0640941", "ｱｻﾋｶﾞｵｶﾐﾅﾐ", "旭ケ丘南");                     // renamed
    later[2] = Town("0600041", "ｵｵﾄﾞｵﾘﾋｶﾞｼ", "大通東", "01102", "札幌市北区"); // moved to another city
    later[3].townKana = "ｵｵﾄﾞｵﾘﾆｼｷｭｳ";                                        // read differently
    later.erase(later.begin() + 5);                                            // removed
    later.push_back(Town("0600031", "ｷﾀ1ｼﾞｮｳﾋｶﾞｼ(1ﾁｮｳﾒ)", "北一条東（１丁目）")); // split in two
    later[4] = Town("0600031", "ｷﾀ1ｼﾞｮｳﾋｶﾞｼ(2ﾁｮｳﾒ)", "北一条東（２丁目）");
    later.push_back(Town("0600050", "ｱｲｵｲ", "相生"));                         // added
    const std::string before = Build(dir, "old", kOld, "2026-10");
    const std::string after = Build(dir, "new", later, "2026-11");

    const UbinOutcome text = Ubin({"diff", before, after});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out.substr(0, text.out.find('\n')), "1 codes added, 1 removed, 4 changed");
    EXPECT_NE(text.out.find("(edition 2026-10)"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("~ 0640941  renamed: 札幌市中央区旭ケ丘 ｱｻﾋｶﾞｵｶ → 札幌市中央区旭ケ丘南 ｱｻﾋｶﾞｵｶﾐﾅﾐ"), std::string::npos)
        << text.out;

    const UbinOutcome json = Ubin({"diff", before, after, "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    const auto j = nlohmann::ordered_json::parse(json.out);
    EXPECT_EQ(j.begin().key(), "counts");
    EXPECT_EQ(j["new"]["edition"], "2026-11");
    std::map<std::string, std::vector<std::string>> kinds;
    for (const auto& c : j["changed"]) kinds[c["postal_code"]] = c["changes"].get<std::vector<std::string>>();
    const std::map<std::string, std::vector<std::string>> expected = {
        {"0600031", {"split"}}, {"0600041", {"city"}}, {"0600042", {"reading"}}, {"0640941", {"renamed"}}};
    EXPECT_EQ(kinds, expected);
    ASSERT_EQ(j["added"].size(), 1u);
    EXPECT_EQ(j["added"][0]["postal_code"], "0600050");
    EXPECT_EQ(j["added"][0]["after"][0]["town"], "相生");
    ASSERT_EQ(j["removed"].size(), 1u);
    EXPECT_EQ(j["removed"][0]["postal_code"], "0600032");

    const UbinOutcome csv = Ubin({"diff", before, after, "--csv"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_NE(csv.out.find("\r\nremoved,0600032,,before,01101,札幌市中央区,北二条東,ｷﾀ2ｼﾞｮｳﾋｶﾞｼ,\r\n"), std::string::npos) << csv.out;

    EXPECT_EQ(Ubin({"diff", before}).status, 2);
    EXPECT_EQ(Ubin({"diff", before, PathToUtf8(dir / "none")}).status, 2);
}

// ubin diff opens both folders as ubin find does before comparing a line: a file damaged with its
// size kept, a manifest cut short, a pipe or a device in a file's place, or a file longer than
// the manifest says is refused (status 2), naming it, and never read or waited on.
TEST(Editions, DiffRefusesAFolderFindWouldRefuse)
{
#ifdef _WIN32
    constexpr bool kSparseFiles = false;
#else
    constexpr bool kSparseFiles = true;
#endif
    test::TempDir dir;
    const std::string before = Build(dir, "old", kOld, "2026-10");
    const std::string after = Build(dir, "new", kOld, "2026-11");
    ASSERT_EQ(Ubin({"diff", before, after}).status, 0);
    const fs::path lines = dir / "new" / PathFromUtf8("郵便番号.CSV");
    const std::string original = test::ReadBytes(lines);
    const std::string manifest = test::ReadBytes(dir / "new" / "MANIFEST.TXT");
    const struct {
        const char* name;
        std::function<void()> damage;
        const char* says;
    } cases[] = {
        {"a byte changed, size kept", [&] { test::WriteBytes(lines, std::string(original).replace(20, 1, "9")); },
         "郵便番号.CSV: its checksum differs"},
        {"a manifest cut after its first line",
         [&] { test::WriteBytes(dir / "new" / "MANIFEST.TXT", manifest.substr(0, manifest.find('\n') + 1)); },
         "MANIFEST.TXT: line 2"},
        // 64 GiB, sparse, where the file system allows it (Wine's does not: 64 MiB there).
        {"longer than the manifest says", [&] { fs::resize_file(lines, std::uintmax_t{64} << (kSparseFiles ? 30 : 20)); },
         "郵便番号.CSV: " /* its last bytes, or its size against the manifest's */},
#ifndef _WIN32
        {"a pipe", [&] { fs::remove(lines); ASSERT_EQ(::mkfifo(lines.c_str(), 0600), 0); }, "郵便番号.CSV: is not a regular file"},
        {"a device", [&] { fs::remove(dir / "new" / "TOSHI2.TDB"); fs::create_symlink("/dev/zero", dir / "new" / "TOSHI2.TDB"); },
         "TOSHI2.TDB: is not a regular file"},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir / "new");
        Build(dir, "new", kOld, "2026-11");
        c.damage();
        for (const auto& args : {std::vector<std::string>{"diff", before, after}, {"diff", after, before}}) {
            const UbinOutcome o = Ubin(args);
            EXPECT_EQ(o.status, 2) << o.out;
            EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
            EXPECT_EQ(o.out, "");
        }
    }
}

// The command line of ubin-build with month files: the --base form, the months paired in
// order, the summary lines, and what it refuses.
TEST(Editions, UbinBuildTakesMonthsOnItsCommandLine)
{
    test::TempDir dir;
    test::WriteBytes(dir / "KEN_ALL.CSV", test::KenAllText(kOld));
    test::WriteBytes(dir / "ADD_2611.CSV", test::KenAllText({Town("0600050", "ｱｲｵｲ", "相生")}));
    test::WriteBytes(dir / "DEL_2611.CSV", test::KenAllText({kOld[5]}));
    test::WriteBytes(dir / "ADD_2612.CSV", "");
    test::WriteBytes(dir / "DEL_2612.CSV", test::KenAllText({kOld[4]}));
    const std::string out = PathToUtf8(dir / "out");
    const auto path = [&](const char* name) { return PathToUtf8(dir / name); };
    ASSERT_EQ(test::RunProgram(UBIN_BUILD_EXE, {path("KEN_ALL.CSV"), out, "--quiet"}).status, 0);

    const test::ProgramRun run = test::RunProgram(
        UBIN_BUILD_EXE, {"--base", path("KEN_ALL.CSV"), "--add", path("ADD_2611.CSV"), "--del", path("DEL_2611.CSV"),
                         "--add", path("ADD_2612.CSV"), "--del", path("DEL_2612.CSV"), "--edition", "2026-12",
                         "--write-csv", path("KEN_ALL_2612.CSV"), out});
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("edition 2026-12\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("KEN_ALL change files: 1 added, 2 deleted\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("against the directory replaced: 1 codes added, 2 removed, 0 changed"), std::string::npos)
        << run.out;
    std::vector<test::KenAllRow> expected(kOld.begin(), kOld.begin() + 4);
    expected.insert(expected.begin() + 1, Town("0600050", "ｱｲｵｲ", "相生"));
    EXPECT_EQ(test::ReadBytes(dir / "KEN_ALL_2612.CSV"), test::KenAllText(expected));

    const std::vector<std::vector<std::string>> refused = {
        {"--base", path("KEN_ALL.CSV"), "--add", path("ADD_2611.CSV"), out},              // no --del
        {path("KEN_ALL.CSV"), out, "--edition", "2026-1"},                                 // not YYYY-MM
        {"--base", path("KEN_ALL.CSV"), path("KEN_ALL.CSV"), out},                         // two bases
    };
    for (const auto& args : refused) EXPECT_EQ(test::RunProgram(UBIN_BUILD_EXE, args).status, 2) << args.back();
    // A deleted row the data does not hold: status 1, the build's folder left as it was.
    EXPECT_EQ(test::RunProgram(UBIN_BUILD_EXE, {"--base", path("KEN_ALL.CSV"), "--add", path("ADD_2612.CSV"), "--del",
                                                path("DEL_2611.CSV"), "--del", path("DEL_2611.CSV"), "--add",
                                                path("ADD_2612.CSV"), out, "--quiet"})
                  .status,
              1);
    EXPECT_EQ(ReadManifest(dir / "out" / "MANIFEST.TXT")->edition, "2026-12");

    // The offices' month files, with and without the offices' full file.
    const auto office = [](const std::string& postal, const std::string& name) {
        return test::JigyosyoRow{"01101", "", name, "北海道", "札幌市中央区", "大通西", "１－１", postal};
    };
    test::WriteBytes(dir / "JIGYOSYO.CSV", test::JigyosyoText({office("0608601", "札幌庁舎"), office("0608602", "別館")}));
    test::WriteBytes(dir / "JADD_2611.CSV", test::JigyosyoText({office("0608603", "新館")}));
    test::WriteBytes(dir / "JDEL_2611.CSV", test::JigyosyoText({office("0608602", "別館")}));
    const test::ProgramRun offices = test::RunProgram(
        UBIN_BUILD_EXE, {path("KEN_ALL.CSV"), out, "--offices", path("JIGYOSYO.CSV"), "--jadd", path("JADD_2611.CSV"),
                         "--jdel", path("JDEL_2611.CSV")});
    ASSERT_EQ(offices.status, 0) << offices.out;
    EXPECT_NE(offices.out.find(": 2 offices\n"), std::string::npos) << offices.out;
    EXPECT_NE(offices.out.find("JIGYOSYO change files: 1 added, 1 deleted\n"), std::string::npos) << offices.out;
    EXPECT_EQ(ReadManifest(dir / "out" / "MANIFEST.TXT")->inputs.size(), 4u); // KEN_ALL, JIGYOSYO and its month
    EXPECT_EQ(test::RunProgram(UBIN_BUILD_EXE, {path("KEN_ALL.CSV"), out, "--jadd", path("JADD_2611.CSV"), "--jdel",
                                                path("JDEL_2611.CSV"), "--quiet"})
                  .status,
              1);
}

// ubin find --batch --since: a list kept for years against the older directory it was coded
// with. A town given a new code, a town gone (the city's catch-all answers now), and a town that
// kept its code; the report lists the changes.
TEST(Editions, BatchSinceMarksTheRowsWhoseCodeChanged)
{
    test::TempDir dir;
    std::vector<test::KenAllRow> later = kOld;
    later[1].postal = "0640945";  // 旭ケ丘 given a new code
    later.erase(later.begin() + 3); // 大通西 gone
    const std::string before = Build(dir, "old", kOld, "2026-10");
    const std::string after = Build(dir, "new", later, "2026-11");
    test::WriteBytes(dir / "list.csv", "北海道札幌市中央区旭ケ丘\n札幌市中央区大通西\n札幌市中央区大通東\n");

    const UbinOutcome run = Ubin({"find", "--data", after, "--batch", "--since", before, "--report", PathToUtf8(dir / "r.txt"),
                              PathToUtf8(dir / "list.csv")});
    ASSERT_EQ(run.status, 0) << run.err;
    std::map<std::string, std::vector<std::string>> rows; // input: postal_code, previous_code, reasons
    std::istringstream lines(run.out);
    std::string header;
    std::getline(lines, header);
    const auto at = [&](const std::string& name) {
        std::istringstream names(header.substr(0, header.find('\r')));
        std::size_t i = 0;
        for (std::string n; std::getline(names, n, ','); ++i)
            if (n == name) return i;
        return i;
    };
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream values(line.substr(0, line.find('\r')));
        for (std::string v; std::getline(values, v, ',');) fields.push_back(v);
        fields.resize(header.size());
        rows[fields[0]] = {fields[at("postal_code")], fields[at("previous_code")], fields[at("reasons")]};
    }
    EXPECT_EQ(rows["北海道札幌市中央区旭ケ丘"][0], "0640945");
    EXPECT_EQ(rows["北海道札幌市中央区旭ケ丘"][1], "0640941");
    EXPECT_NE(rows["北海道札幌市中央区旭ケ丘"][2].find("code_changed"), std::string::npos);
    EXPECT_EQ(rows["札幌市中央区大通西"][0], "0600000");
    EXPECT_EQ(rows["札幌市中央区大通西"][1], "0600042");
    EXPECT_NE(rows["札幌市中央区大通西"][2].find("code_changed"), std::string::npos);
    EXPECT_EQ(rows["札幌市中央区大通東"][1], "");
    EXPECT_EQ(rows["札幌市中央区大通東"][2].find("code_changed"), std::string::npos);

    const std::string report = test::ReadBytes(dir / "r.txt");
    EXPECT_NE(report.find("比べた以前の版: 2026-10"), std::string::npos) << report;
    EXPECT_NE(report.find("以前の版と郵便番号が変わった行: 2 行"), std::string::npos) << report;
    EXPECT_NE(report.find("1 行目  以前 064-0941  今 064-0945"), std::string::npos) << report;
    EXPECT_EQ(Ubin({"find", "--data", after, "--batch", "--since", PathToUtf8(dir / "none"), PathToUtf8(dir / "list.csv")}).status, 2);
}
