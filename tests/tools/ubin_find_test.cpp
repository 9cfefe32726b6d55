// ubin find on the sample directory: the JSON object, the CSV, the lines for people, and its
// errors.
#include "base/cp932.h"
#include "base/path_text.h"
#include "directory/manifest.h"
#include "tests/tools/run_ubin.h"
#include "tools/ubin/cli.h"
#include "tests/support/temp_dir.h"
#include "tools/ubin/find_command.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace ubin;
using ubin::test::Ubin;
using ubin::test::UbinOutcome;

namespace {

UbinOutcome Find(std::vector<std::string> args)
{
    args.insert(args.begin(), {"find", "--data", UBIN_SAMPLE_DIR});
    return Ubin(args);
}

nlohmann::ordered_json Json(std::vector<std::string> args)
{
    args.insert(args.begin(), "--json");
    const UbinOutcome o = Find(args);
    EXPECT_EQ(o.status, 0) << o.err;
    return nlohmann::ordered_json::parse(o.out);
}

} // namespace

TEST(UbinFind, JsonHoldsTheQueryTheMatchTheTotalAndEveryField)
{
    const nlohmann::ordered_json j = Json({"1008111"});
    EXPECT_EQ(j["query"], "1008111");
    EXPECT_EQ(j["match"], "postal");
    EXPECT_EQ(j["total"], 1);
    ASSERT_EQ(j["results"].size(), 1u);
    const nlohmann::ordered_json& o = j["results"][0];
    std::vector<std::string> keys;
    for (const auto& [k, v] : o.items()) keys.push_back(k);
    EXPECT_EQ(keys, kFindCsvColumns); // the same fields, in the same order
    EXPECT_EQ(o["postal_code"], "1008111");
    EXPECT_EQ(o["type"], "office");
    EXPECT_EQ(o["office"], "宮内庁");
    EXPECT_EQ(o["street"], "１－１");
    EXPECT_EQ(o["city_code"], "13101");

    const nlohmann::ordered_json area = Json({"上幟町"})["results"][0];
    EXPECT_EQ(area["type"], "area");
    EXPECT_EQ(area["prefecture"], "広島県");
    EXPECT_EQ(area["city_kana"], "ﾋﾛｼﾏｼﾅｶｸ"); // half-width, as stored
    EXPECT_TRUE(area["office"].is_null());
    EXPECT_TRUE(area["street"].is_null());
}

TEST(UbinFind, EachKindOfMatchAndTheQueryAsGiven)
{
    EXPECT_EQ(Json({"ぎんざ"})["match"], "reading");
    EXPECT_EQ(Json({"中区", "上幟"})["query"], "中区 上幟"); // words joined with a blank
    EXPECT_EQ(Json({"中区", "上幟"})["match"], "text");
    const nlohmann::ordered_json a = Json({"東京都千代田区千代田９－９"});
    EXPECT_EQ(a["match"], "address");
    EXPECT_EQ(a["results"][0]["postal_code"], "1000001");
    EXPECT_EQ(Json({"千代田区永田町９９"})["results"][0]["postal_code"], "1000014");
    // The area entry of the address first, then the offices at that very address.
    const nlohmann::ordered_json office = Json({"東京都千代田区千代田１－１"});
    EXPECT_EQ(office["results"][0]["postal_code"], "1000001");
    EXPECT_EQ(office["results"][1]["office"], "宮内庁");
}

TEST(UbinFind, NothingFoundExitsOneWithNamesNearTheQueryOrAHint)
{
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says; // in the lines for people
    } cases[] = {
        {{"銀坐"}, 1, "もしかして: 銀座"},
        {{"★★"}, 1, "記号だけでは"},
        {{"銀座"}, 0, "1 件"},
        {{"--sort", "code", "銀座"}, 0, "1 件"},
        {{"--sort", "size", "銀座"}, 2, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        const UbinOutcome o = Find(c.args);
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_NE(o.out.find(c.says), std::string::npos) << o.out;
    }
    std::vector<std::string> args = {"--json", "銀坐"};
    const UbinOutcome json = Find(args);
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(nlohmann::json::parse(json.out)["suggestions"][0], "銀座");
}

TEST(UbinFind, LimitCutsTheResultsAndTheLinesSayHowToSeeTheRest)
{
    const nlohmann::ordered_json all = Json({"--limit", "0", "730"});
    const nlohmann::ordered_json two = Json({"--limit", "2", "730"});
    EXPECT_EQ(all["total"], two["total"]);
    EXPECT_EQ(all["results"].size(), all["total"].get<std::size_t>());
    EXPECT_EQ(two["results"].size(), 2u);

    const UbinOutcome lines = Find({"--limit", "2", "730"});
    EXPECT_EQ(lines.status, 0);
    EXPECT_NE(lines.out.find("〒730-0000  "), std::string::npos);
    EXPECT_NE(lines.out.find(std::to_string(all["total"].get<int>()) + " 件（先頭の 2 件"), std::string::npos);
    EXPECT_NE(lines.out.find("--limit 0"), std::string::npos);
    EXPECT_NE(Find({"1008111"}).out.find("1 件\n"), std::string::npos);
}

TEST(UbinFind, LinesAlignTheReadingsCountingFullWidthCharactersAsTwoColumns)
{
    const UbinOutcome o = Find({"--limit", "3", "730"});
    std::istringstream in(o.out);
    std::vector<std::size_t> columns;
    for (std::string line; std::getline(in, line) && line.starts_with("〒");) {
        const std::u16string text = FromUtf8(line);
        const std::size_t at = text.rfind(u"  ");
        columns.push_back(DisplayWidth(std::u16string_view(text).substr(0, at)));
    }
    ASSERT_EQ(columns.size(), 3u);
    EXPECT_EQ(columns[0], columns[1]);
    EXPECT_EQ(columns[1], columns[2]);
    EXPECT_EQ(DisplayWidth(u"〒ｱA漢"), 2u + 1 + 1 + 2);
}

TEST(UbinFind, CsvHasAHeaderRowAndQuotesWhereNeeded)
{
    const UbinOutcome o = Find({"--csv", "1008111"});
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(o.out.starts_with("postal_code,prefecture,city,town,town_raw,detail,note,building,floor,"
                                  "prefecture_kana,city_kana,town_kana,city_code,type,office,office_kana,street,romaji\r\n"));
    EXPECT_NE(o.out.find("\r\n1008111,東京都,千代田区,千代田,千代田,,"), std::string::npos);
    EXPECT_NE(o.out.find(",office,宮内庁,,１－１,\"Chiyoda-ku, Tokyo\"\r\n"), std::string::npos);
}

TEST(UbinFind, MistakesAreRefusedWithStatusTwo)
{
    EXPECT_EQ(Find({}).status, 2);                        // no query
    EXPECT_EQ(Find({"--json", "--csv", "x"}).status, 2);  // one output form
    EXPECT_EQ(Find({"--limit", "-1", "x"}).status, 2);
    EXPECT_EQ(Find({"--bogus", "x"}).status, 2);
    const UbinOutcome help = Find({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--limit"), std::string::npos);
    std::ostringstream out, err;
    EXPECT_EQ(RunUbin({"find", "--data", "/no/such/folder", "x"}, {}, out, err), 2);
    EXPECT_NE(err.str().find("/no/such/folder"), std::string::npos);
}

// What cannot be searched ends with status 2 and a message that says why, before the directory
// is opened: never a raw message of the JSON library, never a search over every document.
TEST(UbinFind, QueriesItCannotSearchAreRefusedWithStatusTwo)
{
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{std::string(1 << 20, 'a')}, "1048576 characters long; a search takes at most 256"},
        {{std::string(257, 'a')}, "257 characters long"},
        {{"\x01"}, "control character (U+0001"},
        {{"--json", "銀座\t"}, "control character (U+0009"},
        {{"--json", "\xC0\xAF"}, "the query is not UTF-8 text"},
        {{"--json", "\xED\xA0\x80"}, "the query is not UTF-8 text"},
        {{"--limit", "18446744073709551616", "銀座"}, "larger than any count of results"},
        {{"--limit", "1e3", "銀座"}, "not a count of results"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back().substr(0, 20));
        const UbinOutcome o = Find(c.args);
        EXPECT_EQ(o.status, 2);
        EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
        EXPECT_EQ(o.err.find("json.exception"), std::string::npos) << o.err;
        EXPECT_EQ(o.out, "");
    }
    EXPECT_EQ(Find({"--limit", "18446744073709551615", "銀座"}).status, 0);
}

TEST(UbinCheck, EveryFileAgreesWithTheManifestUntilOneIsDamaged)
{
    test::TempDir t;
    // Without the final separator: Windows cannot look at "folder\" as a folder.
    std::filesystem::copy(PathFromUtf8(UBIN_SAMPLE_DIR).parent_path(), t.path() / "dir");
    const std::string dir = PathToUtf8(t.path() / "dir");
    std::ostringstream out, err;
    EXPECT_EQ(RunUbin({"check", "--data", dir}, {}, out, err), 0) << err.str();
    EXPECT_NE(out.str().find("13 files agree with the manifest"), std::string::npos) << out.str();

    // One byte changed, size kept: only the checksum tells.
    std::string bytes = test::ReadBytes(t.path() / "dir" / "UIND4.IDX");
    bytes[5] ^= 1;
    test::WriteBytes(t.path() / "dir" / "UIND4.IDX", bytes);
    std::filesystem::resize_file(t / "dir" / PathFromUtf8("検索.IDX"), 100);
    std::ostringstream out2, err2;
    EXPECT_EQ(RunUbin({"check", "--data", dir}, {}, out2, err2), 1);
    EXPECT_NE(out2.str().find("UIND4.IDX: has another checksum"), std::string::npos) << out2.str();
    EXPECT_NE(out2.str().find("検索.IDX: holds 100 bytes"), std::string::npos) << out2.str();
}

// A manifest cut short is a fault of the folder like a damaged file's (status 1, naming it), and
// so is each directory file a manifest of version 2 leaves out: one cut after its header checks
// nothing, and says so.
TEST(UbinCheck, AManifestCutShortFails)
{
    test::TempDir t;
    std::filesystem::copy(PathFromUtf8(UBIN_SAMPLE_DIR).parent_path(), t.path() / "dir");
    const std::string dir = PathToUtf8(t.path() / "dir");
    const std::string manifest = test::ReadBytes(t.path() / "dir" / "MANIFEST.TXT");
    Manifest v2 = *ReadManifest(t.path() / "dir" / "MANIFEST.TXT");
    v2.version = 2;
    // Pieces that do not agree with a sound file: programs would refuse it.
    Manifest wrongPiece = v2;
    for (ManifestFile& f : wrongPiece.files)
        if (f.name == "郵便番号.CSV") f.pieces.back() ^= 1;
    const struct {
        std::string text;
        std::vector<const char*> says; // none: the folder agrees
    } cases[] = {
        {manifest.substr(0, manifest.find('\n') + 1), {"MANIFEST.TXT: line 2"}},
        {"ubin-build manifest 2\nbuild 1\n", {"UIND1.IDX: is not listed in the manifest", "TOSHI2.TDB: is not listed"}},
        {FormatManifest(v2), {}},
        {FormatManifest(wrongPiece), {"郵便番号.CSV: bytes 65537 to ", "have another checksum than the manifest's pieces say"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        test::WriteBytes(t.path() / "dir" / "MANIFEST.TXT", c.text);
        std::ostringstream out, err;
        EXPECT_EQ(RunUbin({"check", "--data", dir}, {}, out, err), c.says.empty() ? 0 : 1) << out.str() << err.str();
        for (const char* says : c.says) EXPECT_NE(out.str().find(says), std::string::npos) << out.str();
    }
}

// ubin check reads only what the manifest lists inside the folder, never waits on a file that
// is no regular file, and compares a size before reading a byte.
TEST(UbinCheck, NamesOutsideTheFolderPipesAndHugeFilesAreRefusedWithoutReading)
{
    test::TempDir t;
    std::filesystem::copy(PathFromUtf8(UBIN_SAMPLE_DIR).parent_path(), t.path() / "dir");
    const std::string dir = PathToUtf8(t.path() / "dir");
    const std::string manifest = test::ReadBytes(t.path() / "dir" / "MANIFEST.TXT");
    const auto check = [&](std::string& outText, std::string& errText) {
        std::ostringstream out, err;
        const int status = RunUbin({"check", "--data", dir}, {}, out, err);
        outText = out.str();
        errText = err.str();
        return status;
    };
    std::string out, err;
    const Manifest whole = *ReadManifest(t.path() / "dir" / "MANIFEST.TXT");
    for (const char* name : {"../dir/UIND1.IDX", "/etc/passwd", "..", "sub/UIND1.IDX", "C:UIND1.IDX"}) {
        SCOPED_TRACE(name);
        // The name under the manifest's own checksum, as a build that wrote it would have.
        Manifest m = whole;
        m.files.push_back({name, 10, 0, 0, {}});
        test::WriteBytes(t.path() / "dir" / "MANIFEST.TXT", FormatManifest(m));
        EXPECT_EQ(check(out, err), 1);
        EXPECT_NE(out.find("which is not a file of the folder"), std::string::npos) << out << err;
    }
    test::WriteBytes(t.path() / "dir" / "MANIFEST.TXT", manifest);
#ifndef _WIN32
    // A pipe in a file's place: named at once, not waited on for a writer.
    std::filesystem::remove(t.path() / "dir" / "UIND2.IDX");
    ASSERT_EQ(::mkfifo((t.path() / "dir" / "UIND2.IDX").c_str(), 0600), 0);
    // A sparse file of 6 GiB in another's place: its size differs, nothing of it is read.
    std::filesystem::resize_file(t.path() / "dir" / "UIND3.IDX", std::uintmax_t{6} << 30);
    EXPECT_EQ(check(out, err), 1) << err;
    EXPECT_NE(out.find("UIND2.IDX: is not a regular file"), std::string::npos) << out;
    EXPECT_NE(out.find("UIND3.IDX: holds 6442450944 bytes; the manifest says 26364"), std::string::npos) << out;
#endif
}
