// The directory files as the builder writes them, read back by the directory's own readers.
#include "directory/file_bytes.h"

#include "base/cp932.h"
#include "base/path_text.h"
#include "directory/directory.h"
#include "tests/support/japan_post_rows.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

using namespace ubin;
using ubin::test::FileName;
using ubin::test::TempDir;
using ubin::test::WriteBytes;

namespace {

std::string KeyText(const IndexKey& key) { return std::string(key.data(), key.size()); }

} // namespace

TEST(FileBytes, IndexKeysTakeWholeCharactersOfEightBytes)
{
    const struct {
        std::string text, key;
    } cases[] = {
        {"7300014", "7300014 "},
        {"123456789", "12345678"},
        {"", "        "},
        {test::Cp932("上幟町"), test::Cp932("上幟町") + "  "},
        {test::Cp932("広島市中区"), test::Cp932("広島市中")},               // exactly 8 bytes
        {"a" + test::Cp932("広島市中区"), "a" + test::Cp932("広島市") + " "}, // the 4th character would be cut in half
        {test::Cp932("ｶﾐﾉﾎﾞﾘﾏﾁﾖ"), test::Cp932("ｶﾐﾉﾎﾞﾘﾏﾁ")},               // half-width kana are one byte
        {"ab\x81", "ab\x81     "},                              // a lead byte with no second byte
    };
    for (const auto& c : cases) EXPECT_EQ(KeyText(MakeIndexKey(c.text)), c.key) << c.text;
}

TEST(FileBytes, NumbersAreLittleEndianAndPaddedCodesKeepTheirZeros)
{
    std::string out;
    AppendInt32(out, 0x01020304);
    AppendInt32(out, -1);
    EXPECT_EQ(out, std::string("\x04\x03\x02\x01\xff\xff\xff\xff", 8));
    EXPECT_EQ(ZeroPadded(1101, 5), "01101");
    EXPECT_EQ(ZeroPadded(47999, 5), "47999");
    EXPECT_EQ(Cp932Length(test::Cp932("上幟町ｶﾐ8")), 6u);
}

// Three entries, their city and prefecture lines and five indexes, written with the encoders
// and opened as a directory: every record and line reads back as written.
TEST(FileBytes, WhatIsWrittenReadsBackThroughTheDirectory)
{
    struct Row {
        const char *postal, *kana, *town;
        std::int32_t city;
    };
    const Row rows[] = {{"7300014", "ｶﾐﾉﾎﾞﾘﾏﾁ", "上幟町", 34101},
                        {"7300013", "ﾊｯﾁｮｳﾎﾞﾘ", "八丁堀", 34101},
                        {"0600000", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ", "以下に掲載がない場合", 1101}};
    std::string points, lines;
    std::vector<IndexFileRecord> postal, kana;
    for (std::int32_t n = 1; n <= 3; ++n) {
        const Row& r = rows[n - 1];
        AppendPointRecord(points, r.postal, n, static_cast<std::int32_t>(lines.size() + 1));
        lines.append(DirectoryLineText(r.postal, r.city, test::Cp932(r.kana), test::Cp932(r.town), "", n == 2)).append(kLineEnd);
        postal.push_back({MakeIndexKey(r.postal), n});
        kana.push_back({MakeIndexKey(test::Cp932(r.kana)), n});
    }
    std::string cityLines;
    std::vector<std::int32_t> table(kMaxCityCode, 0);
    for (int p = 1; p <= kPrefectureCount; ++p) {
        table[p - 1] = static_cast<std::int32_t>(cityLines.size() + 1);
        cityLines.append(PrefectureLineText(p, test::Cp932(p == 34 ? "広島県" : "県"), test::Cp932("ｹﾝ"))).append(kLineEnd);
    }
    for (const auto& [code, name] : {std::pair{1101, "中央区"}, {34101, "広島市中区"}}) {
        table[code - 1] = static_cast<std::int32_t>(cityLines.size() + 1);
        cityLines.append(CityLineText(code, test::Cp932(name), test::Cp932("ｸ"))).append(kLineEnd);
    }

    TempDir t;
    const std::string postalIndex = IndexFileBytes(postal);
    WriteBytes(t.path() / FileName(kIndexFileNames[0]), postalIndex);
    WriteBytes(t.path() / FileName(kIndexFileNames[4]), postalIndex);
    WriteBytes(t.path() / FileName(kIndexFileNames[2]), IndexFileBytes(kana));
    for (int i : {1, 3}) WriteBytes(t.path() / FileName(kIndexFileNames[i]), postalIndex);
    WriteBytes(t.path() / FileName(kPointFileName), points);
    WriteBytes(t.path() / FileName(kLinesFileName), lines);
    WriteBytes(t.path() / FileName(kCityTableFileName), CityTableBytes(table));
    WriteBytes(t.path() / FileName(kCityLinesFileName), cityLines);

    DirectoryState dir;
    dir.dataFolder = t.DataFolder();
    dir.StartUp();
    ASSERT_EQ(dir.entryCount, 3);
    EXPECT_EQ(dir.prefNames[34], u"広島県");

    // Sorted by key bytes: 0600000, 7300013, 7300014; the kana index ｲ < ｶ < ﾊ.
    const std::vector<std::pair<std::u16string, std::int32_t>> byPostal = {
        {u"0600000 ", 3}, {u"7300013 ", 2}, {u"7300014 ", 1}};
    const std::vector<std::int32_t> byKana = {3, 1, 2};
    for (std::int32_t i = 0; i < 3; ++i) {
        const IndexRecord r = dir.ReadIndexRecord(kSlotIndex1, i + 1);
        EXPECT_EQ(r.key, byPostal[i].first);
        EXPECT_EQ(r.entryNumber, byPostal[i].second);
        EXPECT_EQ(dir.ReadIndexRecord(kSlotIndex3, i + 1).entryNumber, byKana[i]);
    }
    for (std::int32_t n = 1; n <= 3; ++n) {
        const DirectoryLine line = dir.ReadPostalEntry(n);
        EXPECT_EQ(line.postalCode, FromUtf8(rows[n - 1].postal));
        EXPECT_EQ(line.cityCode, rows[n - 1].city == 1101 ? u"01101" : u"34101");
        EXPECT_EQ(line.townKana, FromUtf8(rows[n - 1].kana));
        EXPECT_EQ(line.townName, FromUtf8(rows[n - 1].town));
        EXPECT_EQ(line.detailFlag, n == 2 ? u"1" : u"0");
        EXPECT_EQ(dir.ReadPointRecord(n).pointText, rows[n - 1].postal);
    }
    EXPECT_EQ(dir.ReadLineAt(kSlotCityLines, dir.ReadCityPosition(34101).value()), u"34101,広島市中区,ｸ");
    EXPECT_EQ(dir.ReadLineAt(kSlotCityLines, dir.ReadCityPosition(1101).value()), u"01101,中央区,ｸ");
    EXPECT_EQ(dir.ReadCityPosition(1102), std::nullopt);
}

TEST(FileBytes, EqualKeysKeepEntryOrder)
{
    std::vector<IndexFileRecord> records = {
        {MakeIndexKey("7300014"), 9}, {MakeIndexKey("7300014"), 2}, {MakeIndexKey("730001"), 5}};
    const std::string bytes = IndexFileBytes(records);
    ASSERT_EQ(bytes.size(), 3u * kIndexRecordLength);
    // "730001 " sorts before "7300014" (a blank is below every digit).
    EXPECT_EQ(static_cast<unsigned char>(bytes[8]), 5);
    EXPECT_EQ(static_cast<unsigned char>(bytes[12 + 8]), 2);
    EXPECT_EQ(static_cast<unsigned char>(bytes[24 + 8]), 9);
}
