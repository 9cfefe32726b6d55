// The offices of JIGYOSYO.CSV in a directory: what ubin-build writes and refuses, and that the
// files other programs read stay what they are without offices.
#include "base/cp932.h"
#include "base/errors.h"
#include "base/path_text.h"
#include "search/lookup.h"
#include "tests/support/japan_post_rows.h"
#include "tests/support/temp_dir.h"
#include "builder/builder.h"

#include <gtest/gtest.h>

#include <map>

using namespace ubin;
using test::JigyosyoRow;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;
namespace fs = std::filesystem;

namespace {

const std::vector<test::KenAllRow> kRows = {
    {"13101", "1000001", "ﾄｳｷｮｳﾄ", "ﾁﾖﾀﾞｸ", "ﾁﾖﾀﾞ", "東京都", "千代田区", "千代田"},
    {"34101", "7300014", "ﾋﾛｼﾏｹﾝ", "ﾋﾛｼﾏｼﾅｶｸ", "ｶﾐﾉﾎﾞﾘﾁｮｳ", "広島県", "広島市中区", "上幟町"},
};

const JigyosyoRow kKunaicho = {"13101", "ｸﾅｲﾁｮｳ", "宮内庁", "東京都", "千代田区", "千代田", "１－１", "1008111"};

// The nine files every program reads.
const char* const kOldFiles[] = {"UIND1.IDX", "UIND2.IDX", "UIND3.IDX", "UIND4.IDX", "UIND5.IDX",
                                 "郵便Point.POI", "郵便番号.CSV", "TOSHI1.TDB", "TOSHI2.TDB"};

std::map<std::string, std::string> OldFiles(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const char* name : kOldFiles) files[name] = ReadBytes(folder / name);
    return files;
}

// Builds with the offices given; the error's message when the build stops, else "".
std::string BuildWith(const TempDir& t, const std::vector<JigyosyoRow>& offices, const std::string& extra = {})
{
    WriteBytes(t / "KEN_ALL.CSV", test::KenAllText(kRows));
    WriteBytes(t / "JIGYOSYO.CSV", test::JigyosyoText(offices) + extra);
    BuildOptions options;
    options.offices = t / "JIGYOSYO.CSV";
    try {
        BuildDirectory(t / "KEN_ALL.CSV", t / "dir", options);
    } catch (const BuildError& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(Offices, AreWrittenInPostalCodeOrderAndReadBack)
{
    TempDir t;
    JigyosyoRow box = {"34101", "", "中区郵便局私書箱", "広島県", "広島市中区", "上幟町", "１－１", "7308799", "1"};
    JigyosyoRow comma = {"13101", "", "株式会社,カンマ", "東京都", "千代田区", "千代田", "２－２", "1000099"};
    ASSERT_EQ(BuildWith(t, {box, kKunaicho, comma}), "");
    const auto lookup = Lookup::Open(FromUtf8((t / "dir").string() + "/"));
    ASSERT_TRUE(lookup->HasOffices());
    const Entry first = lookup->ReadOffice(1);
    EXPECT_EQ(first.postalCode, u"1000099");
    EXPECT_EQ(first.office, u"株式会社，カンマ"); // a comma is written in its full-width form
    const Entry o = lookup->ReadOffice(2);
    EXPECT_EQ(o.postalCode, u"1008111");
    EXPECT_EQ(o.officeKana, u"ｸﾅｲﾁｮｳ");
    EXPECT_EQ(o.kind, EntryKind::Office);
    EXPECT_EQ(lookup->ReadOffice(3).kind, EntryKind::PoBox);
    EXPECT_EQ(lookup->FindOffices(u"100").size(), 2u);
    EXPECT_EQ(lookup->FindOffices(u"〒100-8111").size(), 1u);
    EXPECT_TRUE(lookup->FindOffices(u"9999999").empty());
}

TEST(Offices, BadRowsStopTheBuildNamingFileLineAndReason)
{
    struct Case {
        std::string row, reason;
    };
    const std::vector<Case> cases = {
        {"1310,\"\",\"x\",\"東京都\",\"千代田区\",\"千代田\",\"\",\"1008111\",\"100  \",\"\",0,0,0\r\n", "is not 5 digits"},
        {"13101,\"\",\"x\",\"東京都\",\"千代田区\",\"千代田\",\"\",\"100811\",\"100  \",\"\",0,0,0\r\n", "is not 7 digits"},
        {"13101,\"\",\"x\",\"東京都\",\"千代田区\",\"千代田\",\"\",\"1008111\",\"100  \",\"\",2,0,0\r\n", "neither 0"},
        {"13101,\"\",\"\",\"東京都\",\"千代田区\",\"千代田\",\"\",\"1008111\",\"100  \",\"\",0,0,0\r\n", "is empty"},
        {"13101,\"\",\"x\",\"東京都\",\"千代田区\",\"千代田\",\"\",\"1008111\"\r\n", "columns; JIGYOSYO rows have 13"},
        {"49101,\"\",\"x\",\"県\",\"市\",\"町\",\"\",\"1008111\",\"100  \",\"\",0,0,0\r\n", "names no prefecture"},
    };
    for (const Case& c : cases) {
        TempDir t;
        const std::string message = BuildWith(t, {kKunaicho}, EncodeCp932(FromUtf8(c.row)));
        EXPECT_NE(message.find("JIGYOSYO.CSV: line 2: "), std::string::npos) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        EXPECT_FALSE(fs::exists(t / "dir")) << c.reason; // nothing half written
    }
    TempDir t;
    const std::string message = BuildWith(t, {kKunaicho}, "13101,\"\x82\"\r\n");
    EXPECT_NE(message.find("line 2: byte"), std::string::npos) << message;
}

TEST(Offices, TheNineFilesOtherProgramsReadAreTheSameWithoutThem)
{
    TempDir t;
    ASSERT_EQ(BuildWith(t, {kKunaicho}), "");
    const auto with = OldFiles(t / "dir");
    BuildDirectory(t / "KEN_ALL.CSV", t / "plain");
    EXPECT_EQ(OldFiles(t / "plain"), with);
    EXPECT_FALSE(fs::exists(t / "plain" / PathFromUtf8("事業所.CSV")));
    EXPECT_TRUE(fs::exists(t / "plain" / PathFromUtf8("検索.IDX"))); // the search index is always written
    // A directory without office files looks up as before: no offices.
    EXPECT_FALSE(Lookup::Open(FromUtf8((t / "plain").string() + "/"))->HasOffices());
}

TEST(Offices, OneOfficeFileWithoutTheOtherIsADamagedDirectory)
{
    TempDir t;
    ASSERT_EQ(BuildWith(t, {kKunaicho}), "");
    fs::remove(t / "dir" / PathFromUtf8("事業所.CSV"));
    try {
        Lookup::Open(FromUtf8((t / "dir").string() + "/"));
        ADD_FAILURE() << "opened a directory missing 事業所.CSV";
    } catch (const DirectoryError& e) {
        EXPECT_NE(std::string(e.what()).find("事業所.CSV"), std::string::npos) << e.what();
    }
}

TEST(Offices, TheFullListsGiveEveryOfficeAndLeaveTheNineFilesAsTheyWere)
{
    const fs::path kenAll = UBIN_FULL_KEN_ALL, jigyosyo = UBIN_FULL_JIGYOSYO;
    if (!fs::exists(kenAll) || !fs::exists(jigyosyo)) GTEST_SKIP() << "the full KEN_ALL.CSV and JIGYOSYO.CSV are not here";
    TempDir t;
    BuildOptions options;
    options.offices = jigyosyo;
    const BuildReport r = BuildDirectory(kenAll, t / "with", options);
    EXPECT_EQ(r.entries, 124321);
    EXPECT_EQ(r.offices, 22316);
    BuildDirectory(kenAll, t / "without");
    EXPECT_TRUE(OldFiles(t / "with") == OldFiles(t / "without"));
    const auto lookup = Lookup::Open(FromUtf8((t / "with").string() + "/"));
    const auto kunaicho = lookup->FindOffices(u"1008111");
    ASSERT_EQ(kunaicho.size(), 1u);
    EXPECT_EQ(kunaicho[0].office, u"宮内庁");
}
