// Directories built from small KEN_ALL texts and read back with the directory library.
#include "builder/builder.h"

#include "base/cp932.h"
#include "base/process.h"
#include "base/text.h"
#include "directory/directory.h"
#include "directory/keysearch.h"
#include "directory/manifest.h"
#include "base/path_text.h"
#include "settings/settings.h"
#include "tests/support/japan_post_rows.h"
#include "tests/support/temp_dir.h"
#include "builder/output_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace ubin;
using ubin::test::ReadBytes;
using ubin::test::TempDir;
using ubin::test::WriteBytes;
namespace fs = std::filesystem;

namespace {

struct Row {
    std::string code, postal, cityKana, townKana, city, town; // UTF-8
};

// One KEN_ALL row (UTF-8); the prefecture is Hokkaido, Fukushima or Tokyo by the code's first
// two digits, or a made-up one.
std::string KenRow(const Row& r)
{
    static const std::map<std::string, std::pair<std::string, std::string>> prefs = {
        {"01", {"ﾎｯｶｲﾄﾞｳ", "北海道"}}, {"07", {"ﾌｸｼﾏｹﾝ", "福島県"}}, {"13", {"ﾄｳｷｮｳﾄ", "東京都"}}};
    const auto it = prefs.find(r.code.substr(0, 2));
    const auto& [prefKana, pref] = it != prefs.end() ? it->second : std::pair<std::string, std::string>("ｹﾝ", "県");
    return r.code + ",\"" + r.postal.substr(0, 5) + "\",\"" + r.postal + "\",\"" + prefKana + "\",\"" + r.cityKana
           + "\",\"" + r.townKana + "\",\"" + pref + "\",\"" + r.city + "\",\"" + r.town + "\",0,0,0,0,0,0\r\n";
}

// Rows in an order KEN_ALL need not keep: Tokyo first, a town split by another town, a town
// over three rows, and one over two rows whose reading, without parentheses, is repeated on
// the second row (as Kyoto's are).
const std::vector<Row> kRows = {
    {"13101", "1000001", "ﾁﾖﾀﾞｸ", "ﾁﾖﾀﾞ", "千代田区", "千代田"},
    {"01101", "0600000", "ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ", "札幌市中央区", "以下に掲載がない場合"},
    {"01101", "0640820", "ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ", "ｵｵﾄﾞｵﾘﾆｼ(20-28ﾁｮｳﾒ)", "札幌市中央区", "大通西（２０～２８丁目）"},
    {"01101", "0640941", "ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ", "ｱｻﾋｶﾞｵｶ", "札幌市中央区", "旭ケ丘"},
    {"01101", "0600042", "ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ", "ｵｵﾄﾞｵﾘﾆｼ(1-19ﾁｮｳﾒ)", "札幌市中央区", "大通西（１～１９丁目）"},
    {"01224", "0660005", "ﾁﾄｾｼ", "ｷｮｳﾜ(88-2､271-10､", "千歳市", "協和（８８－２、２７１－１０、"},
    {"01224", "0660005", "ﾁﾄｾｼ", "", "千歳市", "３４３－２、"},
    {"01224", "0660005", "ﾁﾄｾｼ", "343-2ﾊﾞﾝﾁ)", "千歳市", "４０４－１番地）"},
    {"01224", "0660012", "ﾁﾄｾｼ", "ｷｮｳﾜ(ｿﾉﾀ)", "千歳市", "協和（その他）"},
    {"01224", "0660013", "ﾁﾄｾｼ", "1ｼﾞｮｳﾋｶﾞｼｻﾝﾁｮｳﾒ", "千歳市", "1条東三丁目"},
    {"07201", "9600000", "ﾌｸｼﾏｼ", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ", "福島市", "以下に掲載がない場合"},
    {"07201", "9601101", "ﾌｸｼﾏｼ", "ｵｵﾓﾘ", "福島市", "大森,東"},
    {"13101", "1000002", "ﾁﾖﾀﾞｸ", "ｲｯﾁｮｳﾒ", "千代田区", "一町目（上長者町通堀川東入、"},
    {"13101", "1000002", "ﾁﾖﾀﾞｸ", "ｲｯﾁｮｳﾒ", "千代田区", "東堀川通上長者町上る）"},
    {"13402", "1001701", "ｱｵｶﾞｼﾏﾑﾗ", "ｱｵｶﾞｼﾏﾑﾗｲﾁｴﾝ", "青ヶ島村", "青ヶ島村一円"},
};

std::string KenAll(const std::vector<Row>& rows)
{
    std::string text;
    for (const Row& r : rows) text += KenRow(r);
    return test::Cp932(text);
}

// The files of a folder; the manifest without its build number, which no two builds share,
// without the input files it names (the same data read from another file) and so without its
// own checksum over them.
std::map<std::string, std::string> FolderBytes(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& f : fs::directory_iterator(folder)) files[f.path().filename().string()] = ReadBytes(f.path());
    if (auto m = files.find("MANIFEST.TXT"); m != files.end()) {
        for (const char* line : {"\nxxh3 ", "\nbuild ", "\ninput ", "\ninput ", "\ninput "}) {
            const std::size_t at = m->second.find(line);
            if (at != std::string::npos) m->second.erase(at, m->second.find('\n', at + 1) - at);
        }
    }
    return files;
}

std::u16string DataFolderOf(const fs::path& folder) { return FromUtf8(folder.string()) + u"/"; }

// The characters of a text that an index key holds: as many as fit in 8 bytes.
std::u16string KeyOf(std::u16string_view text)
{
    std::u16string key;
    std::size_t bytes = 0;
    for (const char16_t c : text) {
        bytes += EncodeCp932(std::u16string(1, c)).size();
        if (bytes > 8) break;
        key.push_back(c);
    }
    return key;
}

// The entry numbers of every record whose key begins with `key`, found as the readers find
// them: FindKey, then back to the first match, then forward.
std::vector<std::int32_t> EntriesByKey(DirectoryState& d, int slot, const std::u16string& key)
{
    const std::int32_t count = d.RecordCount(slot);
    const std::optional<std::int32_t> met = FindKey(d, slot, 1, count, key);
    std::vector<std::int32_t> found;
    if (!met) return found;
    std::int32_t r = *met;
    while (r > 1 && KeyPrefix(d.ReadIndexRecord(slot, r - 1).key, key.size()) == key) --r;
    for (; r <= count; ++r) {
        const IndexRecord rec = d.ReadIndexRecord(slot, r);
        if (KeyPrefix(rec.key, key.size()) != key) break;
        found.push_back(rec.entryNumber);
    }
    return found;
}

// Opens a built directory as a program does and checks every file against the others.
std::vector<DirectoryLine> ReadBack(const fs::path& folder)
{
    DirectoryState d;
    d.dataFolder = DataFolderOf(folder);
    d.StartUp();
    EXPECT_EQ(d.cityTableSize, 47999);
    EXPECT_EQ(d.prefNames[1], u"北海道");
    EXPECT_EQ(d.prefKana[7], u"ﾌｸｼﾏｹﾝ");
    EXPECT_EQ(d.prefNames[47], u"沖縄県");

    std::vector<DirectoryLine> lines;
    for (std::int32_t n = 1; n <= d.entryCount; ++n) {
        const std::u16string raw = d.ReadLineAt(kSlotLines, d.ReadPointRecord(n).linePosition);
        EXPECT_EQ(std::count(raw.begin(), raw.end(), u','), 5) << ToUtf8(raw);
        lines.push_back(d.ReadPostalEntry(n));
    }
    for (int slot = 1; slot <= 5; ++slot) {
        EXPECT_EQ(d.RecordCount(slot), d.entryCount) << "UIND" << slot;
        std::set<std::int32_t> entries;
        for (std::int32_t r = 1; r <= d.RecordCount(slot); ++r) {
            const IndexRecord rec = d.ReadIndexRecord(slot, r);
            entries.insert(rec.entryNumber);
            if (r == 1) continue;
            const IndexRecord prev = d.ReadIndexRecord(slot, r - 1);
            const int c = CompareKeyPrefix(prev.key, rec.key);
            EXPECT_TRUE(c < 0 || (c == 0 && prev.entryNumber < rec.entryNumber)) << "UIND" << slot << " record " << r;
        }
        EXPECT_EQ(entries.size(), static_cast<std::size_t>(d.entryCount)) << "UIND" << slot;
    }
    for (std::int32_t n = 1; n <= d.entryCount; ++n) {
        const DirectoryLine& e = lines[static_cast<std::size_t>(n - 1)];
        const std::u16string keys[5] = {e.postalCode, e.cityCode, e.townKana, e.townName, e.postalCode};
        for (int slot = 1; slot <= 5; ++slot) {
            const auto found = EntriesByKey(d, slot, KeyOf(keys[slot - 1]));
            EXPECT_NE(std::find(found.begin(), found.end(), n), found.end())
                << "entry " << n << " not found through UIND" << slot << " by " << ToUtf8(keys[slot - 1]);
        }
        std::int32_t code = 0;
        EXPECT_TRUE(NumericValue32(e.cityCode, code));
        const std::optional<std::int32_t> position = d.ReadCityPosition(code);
        if (!position) {
            ADD_FAILURE() << "no city line for " << ToUtf8(e.cityCode);
            continue;
        }
        const std::u16string raw = d.ReadLineAt(kSlotCityLines, *position);
        EXPECT_EQ(std::count(raw.begin(), raw.end(), u','), 2) << ToUtf8(raw);
        EXPECT_TRUE(raw.starts_with(e.cityCode + u",")) << ToUtf8(raw);
    }
    for (std::int32_t p = 1; p <= kPrefectureCount; ++p) {
        std::vector<std::u16string> f(kAreaLineFields + 1);
        d.ReadFieldsAt(kSlotCityLines, d.ReadCityPosition(p).value(), f);
        EXPECT_EQ(f[2], d.prefNames[p]);
    }
    return lines;
}

const DirectoryLine* ByPostal(const std::vector<DirectoryLine>& lines, std::u16string_view postal)
{
    for (const auto& l : lines)
        if (l.postalCode == postal) return &l;
    return nullptr;
}

} // namespace

TEST(Builder, RoundTripFindsEveryEntryThroughEveryIndex)
{
    TempDir tmp;
    WriteBytes(tmp / "KEN_ALL.CSV", KenAll(kRows));
    BuildProgress last;
    BuildOptions options;
    options.progress = [&](const BuildProgress& p) { last = p; };
    const BuildReport report = BuildDirectory(tmp / "KEN_ALL.CSV", tmp / "dir", options);
    EXPECT_EQ(report.rowsRead, 15);
    EXPECT_EQ(report.rowsJoined, 3);
    EXPECT_EQ(report.entries, 12);
    EXPECT_EQ(report.cityCodes, 5);
    EXPECT_EQ(report.charactersReplaced, 1);
    EXPECT_EQ(last.entriesWritten, 12);

    const auto lines = ReadBack(tmp / "dir");
    ASSERT_EQ(lines.size(), 12u);
    // Code order; inside a code, towns in order of first appearance, each town's entries by postal code.
    std::vector<std::u16string> order;
    for (const auto& l : lines) order.push_back(l.postalCode);
    EXPECT_EQ(order, (std::vector<std::u16string>{u"0600000", u"0600042", u"0640820", u"0640941", u"0660005",
                                                   u"0660012", u"0660013", u"9600000", u"9601101", u"1000001",
                                                   u"1000002", u"1001701"}));

    const DirectoryLine* joined = ByPostal(lines, u"0660005");
    ASSERT_TRUE(joined);
    EXPECT_EQ(joined->townName, u"協和");
    EXPECT_EQ(joined->townKana, u"ｷｮｳﾜ");
    EXPECT_EQ(joined->detail, u"８８－２、２７１－１０、３４３－２、４０４－１番地");
    EXPECT_EQ(joined->detailFlag, u"1");
    EXPECT_EQ(ByPostal(lines, u"0660012")->detail, u"その他");
    const DirectoryLine* repeated = ByPostal(lines, u"1000002");
    EXPECT_EQ(repeated->townKana, u"ｲｯﾁｮｳﾒ");
    EXPECT_EQ(repeated->detail, u"上長者町通堀川東入、東堀川通上長者町上る");
    EXPECT_EQ(ByPostal(lines, u"0640820")->detailFlag, u"1");
    EXPECT_EQ(ByPostal(lines, u"0640941")->detailFlag, u"0");
    // The same town name under another code is another town.
    EXPECT_EQ(ByPostal(lines, u"0600000")->townName, u"以下に掲載がない場合");
    EXPECT_EQ(ByPostal(lines, u"9600000")->detailFlag, u"0");
    EXPECT_EQ(ByPostal(lines, u"1001701")->townName, u"青ヶ島村一円");
    EXPECT_EQ(ByPostal(lines, u"9601101")->townName, u"大森，東");
    EXPECT_EQ(ByPostal(lines, u"0600042")->cityCode, u"01101");
}

TEST(Builder, KeysHoldEightBytesAndNeverHalfACharacter)
{
    TempDir tmp;
    WriteBytes(tmp / "KEN_ALL.CSV", KenAll(kRows));
    BuildDirectory(tmp / "KEN_ALL.CSV", tmp / "dir");
    const std::string index = ReadBytes(tmp / "dir" / "UIND4.IDX");
    // "1条東三丁目": 1 + 2 + 2 + 2 bytes fit, the next kanji would not, a blank fills byte 8.
    EXPECT_NE(index.find(test::Cp932("1条東三") + " "), std::string::npos);
    EXPECT_NE(index.find(test::Cp932("以下に掲")), std::string::npos);
    EXPECT_NE(ReadBytes(tmp / "dir" / "UIND2.IDX").find("01101   "), std::string::npos);
}

TEST(Builder, Utf8EditionGivesTheSameDirectory)
{
    const std::vector<std::pair<Row, std::string>> rows = {
        {{"01101", "0640820", "ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ", "ｵｵﾄﾞｵﾘﾆｼ(20-28ﾁｮｳﾒ)", "札幌市中央区", "大通西（２０～２８丁目）"},
         "オオドオリニシ（２０－２８チョウメ）"},
        {{"01101", "0640941", "ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ", "ｱｻﾋｶﾞｵｶ", "札幌市中央区", "旭ケ丘"}, "アサヒガオカ"},
        {{"13101", "1000001", "ﾁﾖﾀﾞｸ", "ｳﾞｨﾗ･ﾊﾟｰｸ", "千代田区", "千代田"}, "ヴィラ・パーク"},
    };
    TempDir tmp;
    std::string cp932, utf8;
    for (const auto& [row, fullWidthKana] : rows) {
        cp932 += test::Cp932(KenRow(row));
        Row u = row;
        u.townKana = fullWidthKana;
        u.cityKana = ToUtf8(row.code == "13101" ? u"チヨダク" : u"サッポロシチュウオウク");
        utf8 += KenRow(u);
    }
    WriteBytes(tmp / "ken_all.csv", cp932);
    WriteBytes(tmp / "utf_ken_all.csv", utf8);
    EXPECT_EQ(BuildDirectory(tmp / "ken_all.csv", tmp / "a").encoding, InputEncoding::Cp932);
    EXPECT_EQ(BuildDirectory(tmp / "utf_ken_all.csv", tmp / "b").encoding, InputEncoding::Utf8);
    EXPECT_EQ(FolderBytes(tmp / "a"), FolderBytes(tmp / "b"));
}

TEST(Builder, SettingsNameTheDirectoryWithClipFlagsOneToThreeOn)
{
    TempDir tmp;
    WriteBytes(tmp / "KEN_ALL.CSV", KenAll(kRows));
    BuildOptions options;
    options.writeSettings = true;
    BuildDirectory(tmp / "KEN_ALL.CSV", tmp / "dir", options);
    // The folder ends in the platform's separator: "/", or a backslash on Windows.
    const std::u16string separator(1, static_cast<char16_t>(fs::path::preferred_separator));
    const Settings s = ReadSettingsFile(tmp / "dir" / "ubscon.def");
    EXPECT_EQ(s.dataFolder, FromUtf8((tmp / "dir").string()) + separator);
    EXPECT_EQ(s.clipFlags, (ClipFlags{0, 1, 1, 1, 0, 0, 0, 0, 0}));

    options.settingsDataFolder = u"/usr/share/marubeta";
    BuildDirectory(tmp / "KEN_ALL.CSV", tmp / "dir", options);
    EXPECT_EQ(ReadSettingsFile(tmp / "dir" / "ubscon.def").dataFolder, u"/usr/share/marubeta" + separator);
}

TEST(Builder, ABuildReplacesTheOldDirectoryWhole)
{
    TempDir tmp;
    WriteBytes(tmp / "all.csv", KenAll(kRows));
    WriteBytes(tmp / "one.csv", KenAll({kRows[0]}));
    BuildOptions withSettings;
    withSettings.writeSettings = true;
    BuildDirectory(tmp / "all.csv", tmp / "dir", withSettings);
    EXPECT_EQ(BuildDirectory(tmp / "one.csv", tmp / "dir").entries, 1);
    EXPECT_FALSE(fs::exists(tmp / "dir" / "ubscon.def"));
    EXPECT_EQ(fs::file_size(tmp / "dir" / "UIND1.IDX"), 12u);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 3); // no leftovers

    // An old folder that an earlier build could not remove (a running program held its files,
    // as Windows allows; the build's process is gone) goes with the next build; folders merely
    // named alike stay. 4194305 is above the largest process id a system gives.
    for (const char* name : {".dir.old-4194305-0123abcd", ".dir.old-short", ".other.old-4194305-0123abcd"}) {
        fs::create_directory(tmp / name);
        WriteBytes(tmp / name / "UIND1.IDX", "x");
    }
    BuildDirectory(tmp / "one.csv", tmp / "dir");
    EXPECT_FALSE(fs::exists(tmp / ".dir.old-4194305-0123abcd"));
    EXPECT_TRUE(fs::exists(tmp / ".dir.old-short" / "UIND1.IDX"));
    EXPECT_TRUE(fs::exists(tmp / ".other.old-4194305-0123abcd" / "UIND1.IDX"));
    fs::remove_all(tmp / ".dir.old-short");
    fs::remove_all(tmp / ".other.old-4194305-0123abcd");

    // A folder holding anything else is not taken.
    WriteBytes(tmp / "dir" / "notes.txt", "mine");
    const auto before = FolderBytes(tmp / "dir");
    try {
        BuildDirectory(tmp / "all.csv", tmp / "dir");
        FAIL() << "a folder with other files was replaced";
    } catch (const BuildError& e) {
        EXPECT_NE(std::string(e.what()).find("notes.txt"), std::string::npos) << e.what();
    }
    EXPECT_EQ(FolderBytes(tmp / "dir"), before);
}

TEST(Builder, BadInputStopsWithFileLineAndReasonAndLeavesTheDirectory)
{
    const std::string good = KenRow(kRows[1]);
    struct Case {
        std::string name, text;
        std::int64_t line;
        std::string reason;
    };
    std::string badBytes = test::Cp932(good);
    badBytes.replace(badBytes.find(test::Cp932("以下")), 2, "\x81\x20");
    const std::vector<Case> cases = {
        {"columns", test::Cp932(good) + test::Cp932("01101,\"060  \",\"0600001\",\"ｱ\"\r\n"), 2, "has 4 columns"},
        {"code", test::Cp932(good) + test::Cp932(KenRow({"0110A", "0600001", "ｱ", "ｱ", "市", "町"})), 2, "not 5 digits: 0110A"},
        {"postal", test::Cp932(KenRow({"01101", "060-001", "ｱ", "ｱ", "市", "町"})), 1, "not 7 digits: 060-001"},
        {"prefecture", test::Cp932(KenRow({"48101", "0600001", "ｱ", "ｱ", "市", "町"})), 1, "names no prefecture"},
        {"bytes", test::Cp932(good) + test::Cp932(good) + badBytes, 3, "is not code page 932"},
        {"control", test::Cp932(KenRow({"01101", "0600001", "ｱ", "ｱ", "市", "町\t"})), 1, "control character"},
        {"quote", test::Cp932(good) + "01101,\"060\r\n", 2, "double quote is not closed"},
        {"unclosed", test::Cp932(good) + test::Cp932(KenRow(kRows[5]) + KenRow(kRows[6])), 2, "not closed at the end of the file"},
        {"interrupted", test::Cp932(KenRow(kRows[5]) + KenRow(kRows[8])), 1, "line 2 has another municipal or postal code"},
        {"empty", "", 0, "holds no rows"},
    };
    TempDir tmp;
    WriteBytes(tmp / "good.csv", KenAll(kRows));
    BuildOptions options;
    options.writeSettings = true;
    BuildDirectory(tmp / "good.csv", tmp / "dir", options);
    const auto before = FolderBytes(tmp / "dir");
    for (const Case& c : cases) {
        WriteBytes(tmp / "bad.csv", c.text);
        try {
            BuildDirectory(tmp / "bad.csv", tmp / "dir", options);
            ADD_FAILURE() << c.name << ": built";
        } catch (const BuildError& e) {
            EXPECT_EQ(e.file(), tmp / "bad.csv") << c.name;
            EXPECT_EQ(e.line(), c.line) << c.name << ": " << e.what();
            EXPECT_NE(e.reason().find(c.reason), std::string::npos) << c.name << ": " << e.what();
            const std::string where = c.line ? ": line " + std::to_string(c.line) + ": " : ": ";
            EXPECT_TRUE(std::string(e.what()).starts_with((tmp / "bad.csv").string() + where)) << e.what();
        }
        EXPECT_EQ(FolderBytes(tmp / "dir"), before) << c.name;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 3);

    // A build stopped from outside leaves the directory too.
    const std::atomic<bool> cancel{true};
    options.cancel = &cancel;
    EXPECT_THROW(BuildDirectory(tmp / "good.csv", tmp / "dir", options), BuildError);
    EXPECT_EQ(FolderBytes(tmp / "dir"), before);
    EXPECT_THROW(BuildDirectory(tmp / "missing.csv", tmp / "dir"), BuildError);
}

TEST(Builder, SampleDirectoryOfTheBuildFindsItsSettingsAndEntries)
{
    const fs::path sample = UBIN_SAMPLE_DIR;
    DirectoryState d;
    d.dataFolder = ReadSettingsFile(sample / "ubscon.def").dataFolder;
    d.StartUp();
    EXPECT_EQ(d.entryCount, 2197);
    const auto found = EntriesByKey(d, kSlotIndex1, u"7300014");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(d.ReadPostalEntry(found[0]).cityCode, u"34101");
}

TEST(Builder, FullKenAllJoinsEveryContinuationRow)
{
    const fs::path kenAll = UBIN_FULL_KEN_ALL;
    if (!fs::exists(kenAll)) GTEST_SKIP() << kenAll << " is not here";
    TempDir tmp;
    const BuildReport r = BuildDirectory(kenAll, tmp / "dir");
    EXPECT_EQ(r.entries, 124321);
    EXPECT_EQ(r.cityCodes, 1896);
    EXPECT_EQ(r.rowsRead - r.rowsJoined, 124321);

    DirectoryState d;
    d.dataFolder = DataFolderOf(tmp / "dir");
    d.StartUp();
    ASSERT_EQ(d.entryCount, 124321);
    // Every prefecture name of the input is the fixed table's name for its code.
    const std::u16string input = DecodeCp932(ReadBytes(kenAll));
    for (std::size_t at = 0; at < input.size(); at = input.find(u'\n', at) + 1) {
        std::vector<std::u16string> f(16);
        f[0] = input.substr(at, input.find(u'\r', at) - at);
        SplitCsvLine(f);
        ASSERT_EQ(f[7], d.prefNames[static_cast<std::size_t>(std::stoi(ToUtf8(f[1])) / 1000)]) << ToUtf8(f[0]);
    }
    // No parenthesis is left open or kept in a name, and a sample of entries is found by every key.
    for (std::int32_t n = 1; n <= d.entryCount; ++n) {
        const DirectoryLine e = d.ReadPostalEntry(n);
        ASSERT_EQ(e.townName.find_first_of(u"（）"), std::u16string::npos) << n;
        ASSERT_EQ(e.townKana.find_first_of(u"()"), std::u16string::npos) << n;
        if (n % 4999 != 1) continue;
        const std::u16string keys[4] = {e.postalCode, e.cityCode, e.townKana, e.townName};
        for (int slot = 1; slot <= 4; ++slot) {
            const auto found = EntriesByKey(d, slot, KeyOf(keys[slot - 1]));
            EXPECT_NE(std::find(found.begin(), found.end(), n), found.end()) << n << " UIND" << slot;
        }
    }
    const auto found = EntriesByKey(d, kSlotIndex1, u"8911275");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_TRUE(d.ReadPostalEntry(found[0]).detail.ends_with(u"４２４４番地"));
}

namespace {

BuildError BuildError_(const fs::path& kenAll, const fs::path& dir, const BuildOptions& options = {})
{
    try {
        BuildDirectory(kenAll, dir, options);
    } catch (const BuildError& e) {
        return e;
    }
    ADD_FAILURE() << "built " << dir;
    return BuildError(dir, 0, "built");
}

// The id of a process that does not run, as a killed build's: above every process id Linux
// gives, and not a multiple of 4 as Windows' are.
std::int64_t EndedProcess() { return 4194305; }

} // namespace

TEST(Builder, OnlyRegularFilesWithDirectoryNamesLetAFolderBeReplaced)
{
    TempDir tmp;
    WriteBytes(tmp / "all.csv", KenAll(kRows));
    // A folder under a directory file's name, holding the user's files.
    fs::create_directories(tmp / "x" / "UIND1.IDX");
    WriteBytes(tmp / "x" / "UIND1.IDX" / "mydata.txt", "hi");
    EXPECT_NE(BuildError_(tmp / "all.csv", tmp / "x").reason().find("UIND1.IDX, which has a directory file's name but is a folder"),
              std::string::npos);
    EXPECT_EQ(ReadBytes(tmp / "x" / "UIND1.IDX" / "mydata.txt"), "hi");

#ifndef _WIN32
    // A link under such a name, and a pipe.
    BuildDirectory(tmp / "all.csv", tmp / "y");
    WriteBytes(tmp / "mine.txt", "mine");
    fs::remove(tmp / "y" / "TOSHI2.TDB");
    fs::create_symlink(tmp / "mine.txt", tmp / "y" / "TOSHI2.TDB");
    EXPECT_NE(BuildError_(tmp / "all.csv", tmp / "y").reason().find("is a symbolic link"), std::string::npos);
    fs::remove(tmp / "y" / "TOSHI2.TDB");
    ASSERT_EQ(::mkfifo((tmp / "y" / "TOSHI2.TDB").c_str(), 0600), 0);
    EXPECT_NE(BuildError_(tmp / "all.csv", tmp / "y").reason().find("is not a regular file"), std::string::npos);
    EXPECT_EQ(ReadBytes(tmp / "mine.txt"), "mine");
    EXPECT_TRUE(fs::is_fifo(tmp / "y" / "TOSHI2.TDB"));
#endif
}

// Files that merely have the directory's names do not make a folder one ubin-build made: without
// a manifest that is whole and lists every directory file there, the folder is not replaced and
// keeps every byte. An empty folder, or one whose manifest is of the builds before, is replaced.
TEST(Builder, OnlyAFolderWithAManifestOfItsOwnIsReplaced)
{
    TempDir tmp;
    WriteBytes(tmp / "all.csv", KenAll(kRows));
    BuildDirectory(tmp / "all.csv", tmp / "made");
    const std::string manifest = ReadBytes(tmp / "made" / "MANIFEST.TXT");
    const struct {
        const char* name;
        bool madeFirst; // the folder starts as a copy of a build
        std::vector<std::pair<std::string, std::string>> files;
        const char* says;
    } cases[] = {
        {"the user's own address list and postal codes", false,
         {{"住所.TXT", "my addresses\n"}, {"郵便番号.CSV", "1000001,my office\r\n"}},
         "but no manifest of ubin-build"},
        {"the user's own ubscon.def alone", false, {{"ubscon.def", "[Marubeta]\r\n"}}, "holds ubscon.def but no manifest"},
        {"a manifest cut short", true, {{"MANIFEST.TXT", manifest.substr(0, manifest.size() / 2)}},
         "but its manifest is not one ubin-build left whole"},
        {"office files the build did not write", true, {{"事業所.CSV", "mine\r\n"}},
         "事業所.CSV: the folder's manifest"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = tmp / ("dir" + std::to_string(++n));
        if (c.madeFirst) fs::copy(tmp / "made", dir);
        else fs::create_directory(dir);
        for (const auto& [name, bytes] : c.files) WriteBytes(dir / PathFromUtf8(name), bytes);
        const auto before = FolderBytes(dir);
        const std::size_t entries = std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator());
        const std::string reason = BuildError_(tmp / "all.csv", dir).reason();
        EXPECT_NE(reason.find(c.says), std::string::npos) << reason;
        for (const auto& file : c.files) EXPECT_NE(reason.find(file.first), std::string::npos) << reason;
        EXPECT_EQ(FolderBytes(dir), before);
        EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), entries)
            << "nothing kept or left beside it";
    }

    // Replaced: an empty folder, and builds whose manifest is of version 1 or 2.
    fs::create_directory(tmp / "empty");
    EXPECT_EQ(BuildDirectory(tmp / "all.csv", tmp / "empty").entries, BuildDirectory(tmp / "all.csv", tmp / "made").entries);
    for (const int version : {1, 2}) {
        Manifest before = *ReadManifest(tmp / "made" / "MANIFEST.TXT");
        before.version = version;
        WriteBytes(tmp / "made" / "MANIFEST.TXT", FormatManifest(before));
        BuildDirectory(tmp / "all.csv", tmp / "made");
        EXPECT_EQ(ReadManifest(tmp / "made" / "MANIFEST.TXT")->version, kManifestVersion);
    }
}

TEST(Builder, AFileWrittenIntoTheFolderWhileTheBuildRunsStopsItBeforeTheSwap)
{
    TempDir tmp;
    WriteBytes(tmp / "all.csv", KenAll(kRows));
    BuildDirectory(tmp / "all.csv", tmp / "dir");
    const auto before = FolderBytes(tmp / "dir");
    // The progress calls come after the first check: the input is read by then.
    BuildOptions options;
    options.progress = [&](const BuildProgress&) {
        if (!fs::exists(tmp / "dir" / "notes.txt")) WriteBytes(tmp / "dir" / "notes.txt", "written meanwhile");
    };
    const BuildError e = BuildError_(tmp / "all.csv", tmp / "dir", options);
    EXPECT_NE(e.reason().find("notes.txt (put there during the build)"), std::string::npos) << e.what();
    EXPECT_EQ(ReadBytes(tmp / "dir" / "notes.txt"), "written meanwhile");
    auto after = FolderBytes(tmp / "dir");
    after.erase("notes.txt");
    EXPECT_EQ(after, before);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 2) << "no build folder left";
}

TEST(Builder, AFileThatSlipsInAtTheSwapKeepsTheOldFolderWhole)
{
    // The moment between the last check and the swap, played by hand on the output folder.
    TempDir tmp;
    fs::create_directories(tmp / "dir");
    WriteBytes(tmp / "dir" / "UIND1.IDX", "old");
    const std::vector<fs::path> own = {"UIND1.IDX", "TOSHI1.TDB"};
    {
        OutputFolder folder(tmp / "dir", own);
        folder.WriteFile("UIND1.IDX", "new");
        WriteBytes(tmp / "dir" / "late.txt", "late");
        folder.Commit();
        ASSERT_FALSE(folder.keptPath().empty());
        EXPECT_EQ(ReadBytes(folder.keptPath() / "late.txt"), "late");
        EXPECT_EQ(ReadBytes(folder.keptPath() / "UIND1.IDX"), "old");
        EXPECT_TRUE(folder.keptPath().filename().string().starts_with("dir.kept-")) << folder.keptPath();
    }
    EXPECT_EQ(ReadBytes(tmp / "dir" / "UIND1.IDX"), "new");
    EXPECT_FALSE(fs::exists(tmp / "dir" / "late.txt"));

    // Without a stranger the old folder goes.
    OutputFolder again(tmp / "dir", own);
    again.WriteFile("TOSHI1.TDB", "t");
    again.Commit();
    EXPECT_TRUE(again.keptPath().empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 2); // dir and the kept one
}

TEST(Builder, WhatKilledBuildsLeftIsCleanedUpAtTheNextBuild)
{
    TempDir tmp;
    WriteBytes(tmp / "all.csv", KenAll(kRows));
    const std::string gone = std::to_string(EndedProcess());
    const std::string me = std::to_string(platform::CurrentProcessId());
    auto folderWith = [&](const std::string& name, const std::string& file) {
        fs::create_directories(tmp / name);
        WriteBytes(tmp / name / file, "x");
        return tmp / name;
    };
    const fs::path killed = folderWith(".dir.build-" + gone + "-abcdefgh", "UIND1.IDX");
    const fs::path running = folderWith(".dir.build-" + me + "-abcdefgh", "UIND1.IDX");
    const fs::path legacyOld = folderWith(".dir.build-k3j4h5g6", "TOSHI1.TDB");
    const fs::path legacyNew = folderWith(".dir.build-a1b2c3d4", "TOSHI1.TDB");
    const fs::path withUserFile = folderWith(".dir.build-" + gone + "-zzzzzzzz", "mine.txt");
    const fs::path otherFolder = folderWith(".other.build-" + gone + "-abcdefgh", "UIND1.IDX");
    // The C library under Windows cannot set a folder's time; there the hours-old case is left out.
    std::error_code agedOrNot;
    fs::last_write_time(legacyOld, fs::file_time_type::clock::now() - std::chrono::hours(2), agedOrNot);

    BuildDirectory(tmp / "all.csv", tmp / "dir");
    EXPECT_FALSE(fs::exists(killed));
    if (!agedOrNot) {
        EXPECT_FALSE(fs::exists(legacyOld)) << "a build folder of the old naming, untouched for hours";
    }
    EXPECT_TRUE(fs::exists(running)) << "a running build's folder was taken";
    EXPECT_TRUE(fs::exists(legacyNew)) << "an old-style folder changed a moment ago may be a running build's";
    EXPECT_EQ(ReadBytes(withUserFile / "mine.txt"), "x") << "only directory files are ever removed";
    EXPECT_TRUE(fs::exists(otherFolder / "UIND1.IDX")) << "another output folder's leftovers are its own business";

    // A build killed between moving the old folder aside and moving the new one in: the old
    // folder comes back before it is replaced.
    fs::rename(tmp / "dir", tmp / (".dir.old-" + gone + "-abcdefgh"));
    WriteBytes(tmp / "one.csv", KenAll({kRows[0]}));
    BuildOptions withSettings;
    withSettings.writeSettings = true;
    EXPECT_EQ(BuildDirectory(tmp / "one.csv", tmp / "dir", withSettings).entries, 1);
    EXPECT_FALSE(fs::exists(tmp / (".dir.old-" + gone + "-abcdefgh")));
    EXPECT_TRUE(fs::exists(tmp / "dir" / "ubscon.def"));
}

TEST(Builder, ALineLongerThanTheReadersTakeIsRefusedWithItsKenAllLine)
{
    TempDir tmp;
    // The line "0600001,01101,ｱ,<name>,,0" holds 19 characters besides the name.
    auto build = [&](std::size_t nameLength, const std::string& city) {
        std::string name;
        for (std::size_t i = 0; i < nameLength; ++i) name += "町";
        WriteBytes(tmp / "long.csv", KenAll({kRows[0], {"01101", "0600001", "ｻｯﾎﾟﾛｼ", "ｱ", city, name}}));
        return BuildDirectory(tmp / "long.csv", tmp / "dir");
    };
    // 32,767 characters are read back whole.
    build(kMaxTextLength - 19, "札幌市");
    DirectoryState d;
    d.dataFolder = DataFolderOf(tmp / "dir");
    d.StartUp();
    std::int32_t longest = 0;
    for (std::int32_t n = 1; n <= d.entryCount; ++n)
        longest = std::max(longest, static_cast<std::int32_t>(d.ReadLineAt(kSlotLines, d.ReadPointRecord(n).linePosition).size()));
    EXPECT_EQ(longest, static_cast<std::int32_t>(kMaxTextLength));
    d.CloseAll();

    // One more is refused, naming the KEN_ALL line and the file it would have gone to.
    try {
        build(kMaxTextLength - 18, "札幌市");
        ADD_FAILURE() << "a line of 32,768 characters was written";
    } catch (const BuildError& err) {
        EXPECT_EQ(err.file(), tmp / "long.csv");
        EXPECT_EQ(err.line(), 2);
        EXPECT_NE(err.reason().find("郵便番号.CSV would be 32768 characters"), std::string::npos) << err.what();
    }
    // A city name too long for its TOSHI2.TDB line.
    try {
        build(1, std::string(kMaxTextLength, 'a'));
        ADD_FAILURE() << "a city line of more than 32,767 characters was written";
    } catch (const BuildError& err) {
        EXPECT_EQ(err.line(), 2);
        EXPECT_NE(err.reason().find("TOSHI2.TDB"), std::string::npos) << err.what();
    }
}

TEST(Builder, InputAndOutputThatAreNoFilesAreRefusedWithAClearMessage)
{
    TempDir tmp;
    WriteBytes(tmp / "all.csv", KenAll(kRows));
    EXPECT_NE(BuildError_(tmp / "all.csv", "").reason().find("output folder name is empty"), std::string::npos);
    EXPECT_EQ(std::string(BuildError_(tmp / "all.csv", "").what()).find("absolute"), std::string::npos);
    EXPECT_NE(BuildError_("", tmp / "dir").reason().find("input file name is empty"), std::string::npos);
#ifndef _WIN32
    EXPECT_NE(BuildError_("/dev/zero", tmp / "dir").reason().find("is a device"), std::string::npos);
#endif
    EXPECT_NE(BuildError_(tmp.path(), tmp / "dir").reason().find("is a folder"), std::string::npos);
    // A file far larger than KEN_ALL is refused before it is read (a sparse file costs nothing).
    {
        std::ofstream big(tmp / "big.csv", std::ios::binary);
    }
    fs::resize_file(tmp / "big.csv", std::uintmax_t{129} << 20);
    EXPECT_NE(BuildError_(tmp / "big.csv", tmp / "dir").reason().find("is larger than 128 MiB"), std::string::npos);
    EXPECT_FALSE(fs::exists(tmp / "dir"));

#ifndef _WIN32
    // A pipe is read to its end: the text can come from another program.
    ASSERT_EQ(::mkfifo((tmp / "pipe").c_str(), 0600), 0);
    std::thread writer([&] { WriteBytes(tmp / "pipe", KenAll(kRows)); });
    const BuildReport r = BuildDirectory(tmp / "pipe", tmp / "dir");
    writer.join();
    EXPECT_EQ(r.entries, 12);
#endif
}
