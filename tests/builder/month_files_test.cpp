// Japan Post's monthly change files applied to a full file: rows deleted and added as records
// (a long town's rows together), their errors, where added rows go, and, on the full
// KEN_ALL.CSV, a later month made by the test and reproduced row for row.
#include "builder/month_files.h"

#include "base/cp932.h"
#include "base/path_text.h"
#include "directory/entry_diff.h"
#include "tests/support/japan_post_rows.h"
#include "tests/support/temp_dir.h"
#include "builder/builder.h"
#include "builder/jigyosyo.h"
#include "builder/ken_all.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>

using namespace ubin;
namespace fs = std::filesystem;

namespace {

// A KEN_ALL row, code page 932: code, postal code, town reading, town name (Sapporo's Chuo ward
// unless the code says otherwise).
std::string Cp932Row(const std::string& code, const std::string& postal, const std::string& kana, const std::string& town,
                     const std::string& update = "0")
{
    return test::Cp932(code + ",\"" + postal.substr(0, 5) + "\",\"" + postal + "\",\"ﾎｯｶｲﾄﾞｳ\",\"ｼ\",\"" + kana
                 + "\",\"北海道\",\"市\",\"" + town + "\",0,0,0,0," + update + ",0\r\n");
}

std::string Apply(const std::string& base, const std::vector<std::pair<std::string, std::string>>& months,
                  bool lenient, MonthReport& report)
{
    std::vector<MonthBytes> m;
    for (std::size_t i = 0; i < months.size(); ++i) {
        const std::string yymm = std::to_string(2611 + i);
        m.push_back({{"ADD_" + yymm + ".CSV", months[i].first}, {"DEL_" + yymm + ".CSV", months[i].second}});
    }
    return ApplyMonths(ChangeFormat::KenAll, {"KEN_ALL.CSV", base}, m, lenient, report);
}

const std::string kCityWide = Cp932Row("01101", "0600000", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ", "以下に掲載がない場合");
const std::string kAsahi = Cp932Row("01101", "0640941", "ｱｻﾋｶﾞｵｶ", "旭ケ丘");
const std::string kOdori1 = Cp932Row("01101", "0600042", "ｵｵﾄﾞｵﾘﾆｼ(1-19ﾁｮｳﾒ)", "大通西（１～１９丁目）");
const std::string kOdori2 = Cp932Row("01101", "0640820", "ｵｵﾄﾞｵﾘﾆｼ(20-28ﾁｮｳﾒ)", "大通西（２０～２８丁目）");
const std::string kKita = Cp932Row("01101", "0600031", "ｷﾀ1ｼﾞｮｳﾋｶﾞｼ", "北一条東");
const std::string kLong = Cp932Row("01101", "0600099", "ﾅｶﾞｲ(1", "長い（１、") + Cp932Row("01101", "0600099", "", "２、")
                          + Cp932Row("01101", "0600099", "ﾊﾞﾝﾁ)", "３番地）");
const std::string kOther = Cp932Row("01102", "0010000", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ", "以下に掲載がない場合");
const std::string kBase = kCityWide + kAsahi + kOdori1 + kKita + kLong + kOther;

struct MonthCase {
    const char* name;
    std::string add, del;
    std::string expected;
};

TEST(MonthFiles, RowsGoWhereTheirCityAndTownPutThem)
{
    const std::string renamed = Cp932Row("01101", "0640941", "ｱｻﾋｶﾞｵｶﾐﾅﾐ", "旭ケ丘南");
    const std::string splitA = Cp932Row("01101", "0640941", "ｱｻﾋｶﾞｵｶ(1ﾁｮｳﾒ)", "旭ケ丘（１丁目）");
    const std::string splitB = Cp932Row("01101", "0640941", "ｱｻﾋｶﾞｵｶ(2ﾁｮｳﾒ)", "旭ケ丘（２丁目）");
    const std::string newTown = Cp932Row("01101", "0600050", "ｱｲｵｲ", "相生");
    const std::string lastTown = Cp932Row("01101", "0600060", "ﾜｶﾊﾞ", "若葉");
    const std::string newCity = Cp932Row("01104", "0030000", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ", "以下に掲載がない場合");
    const std::string firstCity = Cp932Row("01100", "0590000", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ", "以下に掲載がない場合");
    const std::string flagged = Cp932Row("01101", "0640941", "ｱｻﾋｶﾞｵｶ", "旭ケ丘", "2");
    const std::vector<MonthCase> cases = {
        {"nothing", "", "", kBase},
        {"renamed in place", renamed, kAsahi, kCityWide + renamed + kOdori1 + kKita + kLong + kOther},
        {"split in place", splitA + splitB, kAsahi, kCityWide + splitA + splitB + kOdori1 + kKita + kLong + kOther},
        {"after its town", kOdori2, "", kCityWide + kAsahi + kOdori1 + kOdori2 + kKita + kLong + kOther},
        {"by reading", newTown, "", kCityWide + newTown + kAsahi + kOdori1 + kKita + kLong + kOther},
        {"last by reading", lastTown, "", kCityWide + kAsahi + kOdori1 + kKita + kLong + lastTown + kOther},
        {"new city", newCity, "", kBase + newCity},
        {"first city", firstCity, "", firstCity + kBase},
        {"long town deleted whole", "", kLong, kCityWide + kAsahi + kOdori1 + kKita + kOther},
        {"update column differs", "", flagged, kCityWide + kOdori1 + kKita + kLong + kOther},
    };
    for (const MonthCase& c : cases) {
        MonthReport report;
        EXPECT_EQ(Apply(kBase, {{c.add, c.del}}, false, report), c.expected) << c.name;
    }
}

TEST(MonthFiles, MonthsApplyInOrderAndCountRecords)
{
    const std::string renamed = Cp932Row("01101", "0640941", "ｱｻﾋｶﾞｵｶﾐﾅﾐ", "旭ケ丘南");
    MonthReport report;
    // November renames the town, December takes it back and deletes the long town.
    const std::string result = Apply(kBase, {{renamed, kAsahi}, {kAsahi, renamed + kLong}}, false, report);
    EXPECT_EQ(result, kCityWide + kAsahi + kOdori1 + kKita + kOther);
    EXPECT_EQ(report.added, 2);
    EXPECT_EQ(report.deleted, 3); // the long town's three rows are one record
    EXPECT_EQ(report.alreadyPresent, 0);
}

TEST(MonthFiles, FaultsNameTheFileAndTheLine)
{
    const std::string absent = Cp932Row("01101", "0649999", "ﾅｲ", "無い");
    const std::vector<MonthCase> cases = {
        {"deleted row not held", "", kAsahi + absent, "DEL_2611.CSV: line 2: deletes a row that the data does not hold"},
        {"added row held", kOther + kKita, "", "ADD_2611.CSV: line 1: adds a row that the data holds already"},
        {"deleted twice", "", kAsahi + kAsahi, "DEL_2611.CSV: line 2: deletes a row"},
        {"columns", "1,2,3\r\n", "", "ADD_2611.CSV: line 1: has 3 columns; KEN_ALL rows have 15"},
        {"part of a long town", "", Cp932Row("01101", "0600099", "", "２、"), "DEL_2611.CSV: line 1: deletes a row"},
    };
    for (const MonthCase& c : cases) {
        MonthReport report;
        try {
            Apply(kBase, {{c.add, c.del}}, false, report);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const BuildError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.expected, 0), 0u) << c.name << ": " << e.what();
        }
    }
}

// What reading the months' result finds wrong, as its message gives it ("" when nothing).
std::string ReadResultError(ChangeFormat format, const std::string& base, const std::vector<std::pair<std::string, std::string>>& months)
{
    const bool kenAll = format == ChangeFormat::KenAll;
    std::vector<MonthBytes> m;
    for (std::size_t i = 0; i < months.size(); ++i) {
        const std::string yymm = std::to_string(2611 + i);
        m.push_back({{(kenAll ? "ADD_" : "JADD_") + yymm + ".CSV", months[i].first},
                     {(kenAll ? "DEL_" : "JDEL_") + yymm + ".CSV", months[i].second}});
    }
    const std::string baseName = kenAll ? "KEN_ALL.CSV" : "JIGYOSYO.CSV";
    MonthReport report;
    auto origins = std::make_shared<LineOrigins>();
    const InputBytes result{baseName + " (with the month files applied)",
                            ApplyMonths(format, {baseName, base}, m, false, report, origins.get()), origins};
    try {
        BuildProgress progress;
        if (kenAll) ReadKenAllInput(result, BuildOptions{}, progress);
        else ReadJigyosyoInput(result, BuildOptions{}, progress);
    } catch (const BuildError& e) {
        return e.what();
    }
    return "";
}

// A fault in a row a change file added is found when the result is read: it names the change
// file and the row's line there, not the line of the result; a fault in the base's row names
// the base's own line, rows added before it notwithstanding.
TEST(MonthFiles, FaultsInTheResultNameTheFileAndTheLineTheRowCameFrom)
{
    const std::string badCode = Cp932Row("01101", "06000x1", "ﾜﾙｲ", "悪い");
    const std::string open = Cp932Row("01101", "0600070", "ﾋﾗｷ(1", "開き（１、");
    const std::string newTown = Cp932Row("01101", "0600050", "ｱｲｵｲ", "相生");
    const std::string office = test::Cp932("13101,\"ｸﾅｲﾁｮｳ\",\"宮内庁\",\"東京都\",\"千代田区\",\"千代田\",\"１－１\",\"1008111\","
                                     "\"100  \",\"銀座\",0,0,0\r\n");
    const std::string badOffice = test::Cp932("13101,\"ｶﾞｲﾑｼｮｳ\",\"外務省\",\"東京都\",\"千代田区\",\"霞が関\",\"２－２\",\"100896\","
                                        "\"100  \",\"霞が関\",0,0,0\r\n");
    const struct {
        const char* name;
        ChangeFormat format;
        std::string base;
        std::vector<std::pair<std::string, std::string>> months;
        std::string expected;
    } cases[] = {
        {"added row", ChangeFormat::KenAll, kBase, {{kOdori2 + badCode, ""}},
         "ADD_2611.CSV: line 2: column 3 (postal code) is not 7 digits: 06000x1"},
        {"second month", ChangeFormat::KenAll, kBase, {{kOdori2, ""}, {badCode, ""}},
         "ADD_2612.CSV: line 1: column 3 (postal code) is not 7 digits"},
        {"parenthesis left open", ChangeFormat::KenAll, kBase, {{open, ""}},
         "ADD_2611.CSV: line 1: the parenthesis opened on this line is not closed (line 8 of KEN_ALL.CSV has another "
         "municipal or postal code)"},
        {"base row after an added one", ChangeFormat::KenAll, kCityWide + badCode + kOther, {{newTown, ""}},
         "KEN_ALL.CSV: line 2: column 3 (postal code) is not 7 digits"},
        {"office", ChangeFormat::Jigyosyo, office, {{badOffice, ""}},
         "JADD_2611.CSV: line 1: column 8 (postal code) is not 7 digits"},
        {"nothing wrong", ChangeFormat::KenAll, kBase, {{kOdori2, kAsahi}}, ""},
    };
    for (const auto& c : cases) {
        const std::string error = ReadResultError(c.format, c.base, c.months);
        if (c.expected.empty()) EXPECT_EQ(error, "") << c.name;
        else EXPECT_EQ(error.rfind(c.expected, 0), 0u) << c.name << ": " << error;
    }
}

TEST(MonthFiles, LenientCountsRowsThatAreThereAlready)
{
    MonthReport report;
    const std::string result = Apply(kBase, {{kKita + kOdori2, ""}}, true, report);
    EXPECT_EQ(result, kCityWide + kAsahi + kOdori1 + kOdori2 + kKita + kLong + kOther);
    EXPECT_EQ(report.alreadyPresent, 1);
    EXPECT_EQ(report.added, 1);
}

TEST(MonthFiles, ChangeFilesOfAnotherEditionAreRefused)
{
    MonthReport report;
    const std::string utf8 = "01101,\"060  \",\"0600050\",\"ホッカイドウ\",\"シ\",\"イチバン\",\"北海道\",\"市\",\"一番\",0,0,0,0,0,0\r\n";
    try {
        Apply(kBase, {{utf8, ""}}, false, report);
        ADD_FAILURE() << "no error";
    } catch (const BuildError& e) {
        EXPECT_NE(std::string(e.what()).find("ADD_2611.CSV: is UTF-8, but KEN_ALL.CSV is code page 932"), std::string::npos)
            << e.what();
    }
    // The UTF-8 edition with UTF-8 change files: one row per code.
    const std::string utf8Base = "\xEF\xBB\xBF" + utf8;
    const std::string renamed = "01101,\"060  \",\"0600050\",\"ホッカイドウ\",\"シ\",\"イチバンチョウ\",\"北海道\",\"市\",\"一番町\",0,0,0,0,1,1\r\n";
    std::vector<MonthBytes> m = {{{"utf_add.csv", renamed}, {"utf_del.csv", utf8}}};
    EXPECT_EQ(ApplyMonths(ChangeFormat::KenAll, {"utf_ken_all.csv", utf8Base}, m, false, report), "\xEF\xBB\xBF" + renamed);
}

TEST(MonthFiles, OfficesFollowTheirOwnColumns)
{
    const auto office = [](const std::string& postal, const std::string& name, const std::string& change) {
        return test::Cp932("13101,\"ｸﾅｲﾁｮｳ\",\"" + name + "\",\"東京都\",\"千代田区\",\"千代田\",\"１－１\",\"" + postal
                     + "\",\"100  \",\"銀座\",0,0," + change + "\r\n");
    };
    const std::string a = office("1008111", "宮内庁", "0"), b = office("1008968", "外務省", "0");
    MonthReport report;
    std::vector<MonthBytes> m = {{{"JADD_2611.CSV", office("1008111", "宮内庁新", "1")}, {"JDEL_2611.CSV", office("1008111", "宮内庁", "5")}}};
    EXPECT_EQ(ApplyMonths(ChangeFormat::Jigyosyo, {"JIGYOSYO.CSV", a + b}, m, false, report),
              office("1008111", "宮内庁新", "1") + b);
}

// ---- The full KEN_ALL.CSV: a later month made by the test, and the earlier file it came from.

struct FullRow {
    std::vector<std::string> values; // as they stand, quotes and all
    std::string Text() const
    {
        std::string t;
        for (std::size_t i = 0; i < values.size(); ++i) t += (i ? "," : "") + values[i];
        return t + "\r\n";
    }
    std::string Unquoted(std::size_t c) const { return values[c].substr(1, values[c].size() - 2); }
    std::string Town() const
    {
        const std::string name = Unquoted(8);
        return name.substr(0, name.find(test::Cp932("（")));
    }
};

std::vector<FullRow> ReadRows(const std::string& bytes)
{
    std::vector<FullRow> rows;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", start);
        const std::string line = bytes.substr(start, end - start);
        start = end + 2;
        FullRow r;
        std::size_t s = 0;
        while (true) {
            const std::size_t comma = line.find(',', s);
            r.values.push_back(line.substr(s, comma - s));
            if (comma == std::string::npos) break;
            s = comma + 1;
        }
        rows.push_back(std::move(r));
    }
    return rows;
}

std::string Join(const std::vector<FullRow>& rows)
{
    std::string t;
    for (const FullRow& r : rows) t += r.Text();
    return t;
}

bool SingleRow(const std::vector<FullRow>& rows, std::size_t i)
{
    const std::string name = rows[i].Unquoted(8), open = test::Cp932("（"), close = test::Cp932("）");
    const bool opens = name.find(open) != std::string::npos && name.find(close) == std::string::npos;
    const bool continues = i > 0 && rows[i - 1].Unquoted(8).find(open) != std::string::npos
                           && rows[i - 1].Unquoted(8).find(close) == std::string::npos;
    return !opens && !continues && rows[i].values[2] != (i > 0 ? rows[i - 1].values[2] : "")
           && rows[i].values[2] != (i + 1 < rows.size() ? rows[i + 1].values[2] : "");
}

TEST(MonthFiles, FullKenAllReproducedRowForRow)
{
    std::ifstream in(UBIN_FULL_KEN_ALL, std::ios::binary);
    if (!in) GTEST_SKIP() << UBIN_FULL_KEN_ALL << " is not there";
    const std::string later((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<FullRow> rows = ReadRows(later);
    ASSERT_GT(rows.size(), 100000u);

    // The earlier month: rows of the later one taken out (added by the month files), others
    // renamed or read differently (deleted and added), one made up (deleted).
    std::map<std::size_t, FullRow> replaced; // row of the later file -> its row in the earlier one
    std::set<std::size_t> takenOut;
    std::set<std::string> addedCodes, renamedCodes, readingCodes;
    std::map<std::string, int> codeRows;
    for (const FullRow& r : rows) ++codeRows[r.values[2]];
    std::string add1, del1, add2, del2;
    // The last row of a town of several rows, with a code of its own: a new floor or block.
    for (std::size_t i = 1; i + 1 < rows.size() && takenOut.size() < 20; i += 997) {
        std::size_t j = i;
        while (j + 1 < rows.size() && !(SingleRow(rows, j) && codeRows[rows[j].values[2]] == 1
                                         && rows[j - 1].values[0] == rows[j].values[0]
                                         && rows[j - 1].Town() == rows[j].Town() && rows[j + 1].Town() != rows[j].Town()))
            ++j;
        if (j + 1 >= rows.size()) break;
        takenOut.insert(j);
        addedCodes.insert(rows[j].Unquoted(2));
        (takenOut.size() % 2 ? add1 : add2) += rows[j].Text();
        i = j;
    }
    // Renamed and read differently: single rows, in November and December.
    for (std::size_t i = 5003; replaced.size() < 20; i += 4999) {
        while (!SingleRow(rows, i) || takenOut.count(i) || takenOut.count(i + 1) || takenOut.count(i - 1)) ++i;
        FullRow earlier = rows[i];
        const bool rename = replaced.size() % 2 == 0;
        if (rename) {
            const std::string name = rows[i].Unquoted(8), town = rows[i].Town();
            earlier.values[8] = "\"" + town + test::Cp932("旧") + name.substr(town.size()) + "\"";
            renamedCodes.insert(rows[i].Unquoted(2));
        } else {
            earlier.values[5] = "\"" + rows[i].Unquoted(5) + "\xB7\xAD\xB3" + "\""; // ｷｭｳ
            readingCodes.insert(rows[i].Unquoted(2));
        }
        replaced[i] = earlier;
        (replaced.size() % 4 < 2 ? add1 : add2) += rows[i].Text();
        (replaced.size() % 4 < 2 ? del1 : del2) += earlier.Text();
    }
    // A made-up town deleted in December, after the first row of a city.
    FullRow madeUp = rows[1000];
    madeUp.values[2] = "\"0009999\"";
    madeUp.values[8] = "\"" + test::Cp932("架空町") + "\"";
    del2 += madeUp.Text();

    std::vector<FullRow> earlierRows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (takenOut.count(i)) continue;
        earlierRows.push_back(replaced.count(i) ? replaced[i] : rows[i]);
        if (i == 1000) earlierRows.push_back(madeUp);
    }
    const std::string earlier = Join(earlierRows);

    MonthReport report;
    const std::string applied = ApplyMonths(ChangeFormat::KenAll, {"KEN_ALL.CSV", earlier},
                                            {{{"ADD_2611.CSV", add1}, {"DEL_2611.CSV", del1}},
                                             {{"ADD_2612.CSV", add2}, {"DEL_2612.CSV", del2}}},
                                            false, report);
    const std::vector<FullRow> result = ReadRows(applied);
    ASSERT_EQ(result.size(), rows.size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (result[i].Text() != rows[i].Text() && ++differing <= 5)
            ADD_FAILURE() << "row " << i + 1 << " differs: " << ToUtf8(DecodeCp932(result[i].Text()));
    EXPECT_EQ(differing, 0u);
    EXPECT_EQ(report.added, static_cast<std::int64_t>(takenOut.size() + replaced.size()));
    EXPECT_EQ(report.deleted, static_cast<std::int64_t>(replaced.size() + 1));

    // ubin diff's view of the two builds names exactly those codes.
    test::TempDir dir;
    BuildOptions quiet;
    test::WriteBytes(dir / "earlier.csv", earlier);
    BuildDirectory(dir / "earlier.csv", dir / "old", quiet);
    BuildOptions options;
    options.months = {{dir / "ADD_2611.CSV", dir / "DEL_2611.CSV"}, {dir / "ADD_2612.CSV", dir / "DEL_2612.CSV"}};
    options.edition = "2026-12";
    options.writeCsv = dir / "KEN_ALL_2612.CSV";
    test::WriteBytes(dir / "ADD_2611.CSV", add1);
    test::WriteBytes(dir / "DEL_2611.CSV", del1);
    test::WriteBytes(dir / "ADD_2612.CSV", add2);
    test::WriteBytes(dir / "DEL_2612.CSV", del2);
    fs::copy(dir / "old", dir / "new");
    const BuildReport built = BuildDirectory(dir / "earlier.csv", dir / "new", options);
    EXPECT_EQ(test::ReadBytes(dir / "KEN_ALL_2612.CSV"), later);
    EXPECT_EQ(built.edition, "2026-12");
    EXPECT_FALSE(built.editionGuessed);

    const EntryDiff diff = DiffEntryLines(test::ReadBytes(dir / "old" / PathFromUtf8("郵便番号.CSV")),
                                            test::ReadBytes(dir / "new" / PathFromUtf8("郵便番号.CSV")));
    std::set<std::string> added, removed, renamed, reading;
    for (const CodeChange& c : diff.added) added.insert(c.postalCode);
    for (const CodeChange& c : diff.removed) removed.insert(c.postalCode);
    for (const CodeChange& c : diff.changed) {
        if (c.kinds == kChangeRenamed) renamed.insert(c.postalCode);
        else if (c.kinds == kChangeReading) reading.insert(c.postalCode);
        else ADD_FAILURE() << c.postalCode << " changed in another way: " << c.kinds;
    }
    EXPECT_EQ(added, addedCodes);
    EXPECT_EQ(removed, std::set<std::string>{"0009999"});
    EXPECT_EQ(renamed, renamedCodes);
    EXPECT_EQ(reading, readingCodes);
    ASSERT_TRUE(built.changes);
    EXPECT_EQ(built.changes->added, static_cast<std::int64_t>(addedCodes.size()));
    EXPECT_EQ(built.changes->removed, 1);
    EXPECT_EQ(built.changes->changed, static_cast<std::int64_t>(renamedCodes.size() + readingCodes.size()));
}

} // namespace
