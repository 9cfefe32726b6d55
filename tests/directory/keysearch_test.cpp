#include "base/cp932.h"
#include "base/text.h"
#include "directory/directory.h"
#include "directory/keysearch.h"
#include "tests/support/mini_directory.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace ubin;
using ubin::test::TempDir;

namespace {

// A directory whose postal index holds exactly the given keys, in the order given.
struct IndexFixture {
    TempDir t;
    DirectoryState dir;

    explicit IndexFixture(const std::vector<std::string>& keys)
    {
        ubin::test::MiniDirectory d;
        d.entries.push_back({"0000000", "01101", "ｱ", "亜", ""});
        d.Write(t.path());
        std::vector<std::pair<std::string, std::int32_t>> recs;
        for (std::size_t i = 0; i < keys.size(); ++i) recs.emplace_back(keys[i], static_cast<std::int32_t>(i + 1));
        ubin::test::WriteIndex(t.path() / "UIND1.IDX", recs);
        dir.dataFolder = t.DataFolder();
        dir.OpenIndexFiles(); // the key search reads the index alone
    }

    std::optional<std::int32_t> Find(const std::string& key)
    {
        return FindKey(dir, 1, 1, dir.RecordCount(1), U16(key));
    }

    // The lowest record whose key begins with `key`, by the walk back from FindKey's answer.
    std::int32_t First(const std::string& key)
    {
        const std::u16string k = U16(key);
        std::int32_t r = FindKey(dir, 1, 1, dir.RecordCount(1), k).value_or(0), first = 0;
        while (r >= 1 && KeyPrefix(dir.ReadIndexRecord(1, r).key, k.size()) == k) first = r--;
        return first;
    }
};

} // namespace

TEST(MidRecord, TiesGoToTheEvenNeighbour)
{
    EXPECT_EQ(MidRecord(1, 4), 2);
    EXPECT_EQ(MidRecord(2, 5), 4);
    EXPECT_EQ(MidRecord(1, 3), 2);
    EXPECT_EQ(MidRecord(1, 100), 50);
    EXPECT_EQ(MidRecord(2, 101), 52);
    EXPECT_EQ(MidRecord(1, 2), std::nullopt);
    EXPECT_EQ(MidRecord(5, 5), std::nullopt);
    EXPECT_EQ(MidRecord(1, 2147483647), 1073741824);
    EXPECT_THROW(MidRecord(-2147483647, 2147483647), std::overflow_error);
}

TEST(CompareKeyPrefix, OrdersByTheHexTextOfShiftJisCodes)
{
    EXPECT_EQ(CompareKeyPrefix(u"730", u"730"), 0);
    EXPECT_EQ(CompareKeyPrefix(u"", u"730"), 0);
    EXPECT_EQ(CompareKeyPrefix(u"729", u"730"), -1);
    EXPECT_EQ(CompareKeyPrefix(u"731", u"730"), 1);
    EXPECT_EQ(CompareKeyPrefix(u" ", u"0"), -1);
    // Half-width kana (B1..DF) sort after digits and after kanji led by 0x81-0x9F ...
    EXPECT_EQ(CompareKeyPrefix(U16("ｷ"), u"9"), 1);
    EXPECT_EQ(CompareKeyPrefix(U16("ｷ"), U16("銀")), 1); // 8BE2
    // ... and before double-byte characters led by 0xE0-0xFC.
    EXPECT_EQ(CompareKeyPrefix(U16("ｷ"), U16("熙")), -1); // EAA4
    // Codes below 0x10 get one hex digit: a tab ("9") sorts after the digit 0 ("30").
    EXPECT_EQ(CompareKeyPrefix(u"\t", u"0"), 1);
    EXPECT_EQ(CompareKeyPrefix(u"\x02", u"\x10"), 1); // "2" after "10"
}

TEST(CompareKeyPrefix, AgreesWithComparingTheHexTextsAsText)
{
    // Every pair of characters of the kinds a key or a typed text can hold, compared by the
    // rule as written: the upper-case hexadecimal texts of their codes, compared as text.
    const auto hex = [](char16_t c) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(ShiftJisCode(c)));
        return std::string(buf);
    };
    const std::u16string chars = u"\t 0379AZaz-ｱｶﾞﾝﾟ｡ア漢上町幟一円〒ー－＿熙纊";
    for (const char16_t a : chars)
        for (const char16_t b : chars) {
            const int expected = hex(a).compare(hex(b));
            const int got = CompareKeyPrefix(std::u16string(1, a) + u"1", std::u16string(1, b) + u"2");
            EXPECT_EQ(got, expected < 0 ? -1 : expected > 0 ? 1 : -1) << hex(a) << " " << hex(b);
        }
    EXPECT_EQ(CompareKeyPrefix(u"73", u"7"), 1); // the key ends first
    EXPECT_EQ(CompareKeyPrefix(u"", u"7"), 0);
}

TEST(FindKey, OneAndTwoRecords)
{
    IndexFixture one({"7300014"});
    EXPECT_EQ(one.Find("730"), 1);
    EXPECT_EQ(one.Find("731"), std::nullopt);
    EXPECT_EQ(one.Find(""), 1);

    IndexFixture two({"7300013", "7300014"});
    EXPECT_EQ(two.Find("7300014"), 2);
    EXPECT_EQ(two.Find("7300013"), 1);
    EXPECT_EQ(two.Find("7300012"), std::nullopt); // the ends fail and (1, 2) leaves nothing between
}

TEST(FindKey, ManyRecordsPrefixesAndTheFirstMatch)
{
    std::vector<std::string> keys;
    for (int i = 0; i < 200; ++i) keys.push_back(std::to_string(1000000 + i * 37));
    keys.push_back("7300000");
    keys.push_back("7300013");
    keys.push_back("7300014");
    keys.push_back("7300014");
    keys.push_back("7310000");
    IndexFixture f(keys);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::optional<std::int32_t> r = f.Find(keys[i]);
        ASSERT_TRUE(r) << keys[i];
        EXPECT_EQ(ToUtf8(f.dir.ReadIndexRecord(1, *r).key).substr(0, 7), keys[i]);
    }
    EXPECT_EQ(f.First("7300014"), 203);
    EXPECT_EQ(f.First("730"), 201);
    EXPECT_EQ(f.First("73"), 201);
    EXPECT_EQ(f.First("7300015"), 0);
    EXPECT_EQ(f.First(""), 1);
    EXPECT_EQ(f.Find("0"), std::nullopt);
    EXPECT_EQ(f.Find("9"), std::nullopt);
}

TEST(FindKey, OnlyEightCharactersTakePart)
{
    IndexFixture f({"12345678", "12345679"});
    // A longer key is compared on its first 8 characters.
    EXPECT_EQ(f.Find("123456789999"), 1);
    // Four kanji fill a key; a fifth compares against a blank and is never found.
    IndexFixture kanji({"上幟町一", "上幟町二"});
    EXPECT_EQ(kanji.Find("上幟町一"), 1);
    // A key of four kanji reads as four kanji and four blanks: a fifth kanji meets a blank.
    EXPECT_EQ(kanji.Find("上幟町一丁目"), std::nullopt);
    EXPECT_EQ(kanji.Find("上幟町"), 1);
}

TEST(FindKey, KanaAfterKanjiLedBy81To9F)
{
    IndexFixture f({"1", "9", "亜", "銀座", "ｱｲ", "ｷﾞﾝｻﾞ", "ﾜ", "熙"});
    EXPECT_EQ(f.Find("ｷﾞﾝｻﾞ"), 6);
    EXPECT_EQ(f.Find("銀"), 4);
    EXPECT_EQ(f.Find("熙"), 8);
    EXPECT_EQ(f.Find("ｱ"), 5);
    EXPECT_EQ(f.Find("ﾝ"), std::nullopt);
}

TEST(FindKey, EmptyIndexIsNotFoundWithoutReading)
{
    IndexFixture f({});
    ThisThreadReadCounts() = {};
    EXPECT_EQ(f.Find(""), std::nullopt);
    EXPECT_EQ(ThisThreadReadCounts().records, 0u);
}

TEST(FindKey, ReadsAboutLogTwoRecords)
{
    std::vector<std::string> keys;
    for (int i = 0; i < 1024; ++i) keys.push_back(std::to_string(1000000 + i));
    IndexFixture f(keys);
    ThisThreadReadCounts() = {};
    EXPECT_NE(f.Find("1000500"), std::nullopt);
    EXPECT_LE(ThisThreadReadCounts().records, 13u);
}

TEST(FindKey, LargeIndexesGiveTheRecordsOfTheRecordByRecordSearch)
{
    // 6,000 keys: runs of one key longer than a read block, short runs and gaps.
    std::vector<std::string> keys;
    for (int i = 0; i < 1500; ++i) keys.push_back("1000000");
    for (int i = 0; i < 3000; ++i) keys.push_back(std::to_string(2000000 + i * 3));
    for (int i = 0; i < 1500; ++i) keys.push_back("7300014");
    IndexFixture f(keys);
    const std::int32_t n = f.dir.RecordCount(1);
    // The search as written: read one record per test.
    const auto reference = [&](const std::u16string& key) -> std::optional<std::int32_t> {
        const auto cmp = [&](std::int32_t r) {
            return CompareKeyPrefix(KeyPrefix(f.dir.ReadIndexRecord(1, r).key, key.size()), key);
        };
        std::int32_t low = 1, high = n;
        if (cmp(low) == 0) return low;
        if (cmp(high) == 0) return high;
        for (std::optional<std::int32_t> mid; (mid = MidRecord(low, high));) {
            const int c = cmp(*mid);
            if (c == 0) return mid;
            (c < 0 ? low : high) = *mid;
        }
        return std::nullopt;
    };
    const auto lowest = [&](const std::u16string& key) -> std::int32_t {
        for (std::int32_t r = 1; r <= n; ++r)
            if (f.dir.ReadIndexRecord(1, r).key.compare(0, key.size(), key) == 0) return r;
        return 0;
    };
    for (const char* k : {"1", "10", "1000000", "2", "20", "2000", "2004", "2004500", "2004501", "2008997",
                                 "5", "73", "7300014", "7300015", "0", "9", ""}) {
        const std::u16string key = U16(k);
        ThisThreadReadCounts() = {};
        EXPECT_EQ(f.Find(k), reference(key)) << k;
        const std::optional<FirstKeyMatch> m = FindFirstKey(f.dir, 1, 1, n, key);
        EXPECT_EQ(m ? m->record : 0, lowest(key)) << k;
        if (m) {
            EXPECT_EQ(m->entry, f.dir.ReadIndexRecord(1, m->record).entryNumber) << k;
        }
    }
    ThisThreadReadCounts() = {};
    f.Find("2004500");
    EXPECT_LT(ThisThreadReadCounts().fileReads, ThisThreadReadCounts().records); // the last stretch came with one read
}

TEST(FindFirstKey, AKeyLongerThanAnIndexKeyIsMetButNotAccepted)
{
    IndexFixture f({"12345670", "12345678"});
    const std::optional<FirstKeyMatch> m = FindFirstKey(f.dir, 1, 1, 2, U16("123456789"));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->record, 2);
    EXPECT_EQ(m->entry, std::nullopt);
    EXPECT_FALSE(FindFirstKey(f.dir, 1, 1, 2, U16("2")));
}
