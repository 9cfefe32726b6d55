#include "cp932.h"
#include "directory.h"
#include "keysearch.h"
#include "mini_directory.h"
#include "temp_dir.h"
#include "text.h"

#include <gtest/gtest.h>

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
        dir.StartUp();
    }

    std::int32_t Find(const std::string& key)
    {
        return FindKey(dir, 1, 1, dir.RecordCount(1), U16(key));
    }

    // The lowest record whose key begins with `key`, by the walk back from FindKey's answer.
    std::int32_t First(const std::string& key)
    {
        const std::u16string k = U16(key);
        std::int32_t r = FindKey(dir, 1, 1, dir.RecordCount(1), k), first = 0;
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
    EXPECT_EQ(MidRecord(1, 2), 0);
    EXPECT_EQ(MidRecord(5, 5), 0);
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

TEST(FindKey, OneAndTwoRecords)
{
    IndexFixture one({"7300014"});
    EXPECT_EQ(one.Find("730"), 1);
    EXPECT_EQ(one.Find("731"), 0);
    EXPECT_EQ(one.Find(""), 1);

    IndexFixture two({"7300013", "7300014"});
    EXPECT_EQ(two.Find("7300014"), 2);
    EXPECT_EQ(two.Find("7300013"), 1);
    EXPECT_EQ(two.Find("7300012"), 0); // the ends fail and (1, 2) leaves nothing between
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
        const std::int32_t r = f.Find(keys[i]);
        ASSERT_NE(r, 0) << keys[i];
        EXPECT_EQ(ToUtf8(f.dir.ReadIndexRecord(1, r).key).substr(0, 7), keys[i]);
    }
    EXPECT_EQ(f.First("7300014"), 203);
    EXPECT_EQ(f.First("730"), 201);
    EXPECT_EQ(f.First("73"), 201);
    EXPECT_EQ(f.First("7300015"), 0);
    EXPECT_EQ(f.First(""), 1);
    EXPECT_EQ(f.Find("0"), 0);
    EXPECT_EQ(f.Find("9"), 0);
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
    EXPECT_EQ(kanji.Find("上幟町一丁目"), 0);
    EXPECT_EQ(kanji.Find("上幟町"), 1);
}

TEST(FindKey, KanaAfterKanjiLedBy81To9F)
{
    IndexFixture f({"1", "9", "亜", "銀座", "ｱｲ", "ｷﾞﾝｻﾞ", "ﾜ", "熙"});
    EXPECT_EQ(f.Find("ｷﾞﾝｻﾞ"), 6);
    EXPECT_EQ(f.Find("銀"), 4);
    EXPECT_EQ(f.Find("熙"), 8);
    EXPECT_EQ(f.Find("ｱ"), 5);
    EXPECT_EQ(f.Find("ﾝ"), 0);
}

TEST(FindKey, EmptyIndexIsNotFoundWithoutReading)
{
    IndexFixture f({});
    f.dir.readCount = 0;
    EXPECT_EQ(f.Find(""), 0);
    EXPECT_EQ(f.dir.readCount, 0u);
}

TEST(FindKey, ReadsAboutLogTwoRecords)
{
    std::vector<std::string> keys;
    for (int i = 0; i < 1024; ++i) keys.push_back(std::to_string(1000000 + i));
    IndexFixture f(keys);
    f.dir.readCount = 0;
    EXPECT_NE(f.Find("1000500"), 0);
    EXPECT_LE(f.dir.readCount, 13u);
}
