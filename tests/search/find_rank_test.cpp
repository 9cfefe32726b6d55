// The order of the free-text search's results and the names it offers when nothing is found,
// over a directory built from hand-made rows where each rule alone decides the order.
#include "base/cp932.h"
#include "directory/directory.h"
#include "search/find.h"
#include "tests/search/built_directory.h"
#include "tests/support/japan_post_rows.h"
#include "tests/support/temp_dir.h"
#include "builder/builder.h"

#include <gtest/gtest.h>

using namespace ubin;
using test::JigyosyoRow;
using test::KenAllRow;

namespace {

// The codes are chosen against every rule: the place each test expects first has the larger
// code, so code order alone never passes.
const std::vector<KenAllRow> kRankRows = {
    {"01427", "0691300", "ﾎｯｶｲﾄﾞｳ", "ﾕｳﾊﾞﾘｸﾞﾝﾅｶﾞﾇﾏﾁｮｳ", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ", "北海道", "夕張郡長沼町", "以下に掲載がない場合"},
    {"01427", "0691331", "ﾎｯｶｲﾄﾞｳ", "ﾕｳﾊﾞﾘｸﾞﾝﾅｶﾞﾇﾏﾁｮｳ", "ｷﾞﾝｻﾞ", "北海道", "夕張郡長沼町", "銀座"},
    {"01427", "0691332", "ﾎｯｶｲﾄﾞｳ", "ﾕｳﾊﾞﾘｸﾞﾝﾅｶﾞﾇﾏﾁｮｳ", "ｷﾞﾝｻﾞﾝ", "北海道", "夕張郡長沼町", "銀山"},
    {"01101", "0600000", "ﾎｯｶｲﾄﾞｳ", "ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ", "北海道", "札幌市中央区", "以下に掲載がない場合"},
    {"01101", "0600061", "ﾎｯｶｲﾄﾞｳ", "ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ", "ﾆｼｷﾞﾝｻﾞ", "北海道", "札幌市中央区", "西銀座"},
    {"01101", "0600062", "ﾎｯｶｲﾄﾞｳ", "ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ", "ｷﾞﾝｻﾞﾋｶﾞｼ", "北海道", "札幌市中央区", "銀座東"},
    // A city without a catch-all row, whose towns' readings cannot be parted: only their names
    // tell a whole name from a beginning.
    {"01395", "0481511", "ﾎｯｶｲﾄﾞｳ", "ｱﾌﾞﾀｸﾞﾝﾆｾｺﾁｮｳ", "ﾆｾｺｱﾝﾇﾌﾟﾘ", "北海道", "虻田郡ニセコ町", "ニセコアンヌプリ"},
    {"01395", "0481512", "ﾎｯｶｲﾄﾞｳ", "ｱﾌﾞﾀｸﾞﾝﾆｾｺﾁｮｳ", "ﾆｾｺ", "北海道", "虻田郡ニセコ町", "ニセコ"},
    {"13101", "1000000", "ﾄｳｷｮｳﾄ", "ﾁﾖﾀﾞｸ", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ", "東京都", "千代田区", "以下に掲載がない場合"},
    {"13102", "1030000", "ﾄｳｷｮｳﾄ", "ﾁｭｳｵｳｸ", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ", "東京都", "中央区", "以下に掲載がない場合"},
    {"13102", "1040061", "ﾄｳｷｮｳﾄ", "ﾁｭｳｵｳｸ", "ｷﾞﾝｻﾞ", "東京都", "中央区", "銀座"},
    {"13102", "1040045", "ﾄｳｷｮｳﾄ", "ﾁｭｳｵｳｸ", "ﾂｷｼﾞ", "東京都", "中央区", "築地"},
};

const std::vector<JigyosyoRow> kRankOffices = {
    {"13102", "ｷﾞﾝｻﾞｼｮｳｼﾞ", "銀座商事　株式会社", "東京都", "中央区", "銀座", "１－１", "1048001"},
    {"13102", "", "株式会社　中央出版", "東京都", "中央区", "銀座", "２－２", "1048002"},
    {"13102", "", "築地市場", "東京都", "中央区", "築地", "５－２", "1048003"},
    {"13102", "ﾄﾖﾀｼﾞﾄﾞｳｼｬｷｭｳｼｭｳ", "トヨタ自動車九州　株式会社", "東京都", "中央区", "銀座", "３－３", "1048004"},
    {"01427", "ﾄﾖﾀｼﾞﾄﾞｳｼｬ", "トヨタ自動車　株式会社", "北海道", "夕張郡長沼町", "銀山", "１", "0698001"},
};

class FindRank : public ::testing::Test {
protected:
    static void SetUpTestSuite() { built_ = new test::BuiltDirectory(kRankRows, kRankOffices); }
    static void TearDownTestSuite() { delete built_; }

    // The results as "code town" for areas and "code office" for offices.
    static std::vector<std::string> Order(const std::string& query, FindOrder order = FindOrder::Relevance)
    {
        std::vector<std::string> out;
        for (const Entry& e : built_->finder->Find(FromUtf8(query), 0, order).results)
            out.push_back(ToUtf8(e.postalCode) + " " + ToUtf8(e.IsOffice() ? e.office : std::u16string(e.TownProper())));
        return out;
    }

    static inline test::BuiltDirectory* built_ = nullptr;
};


using Strings = std::vector<std::string>;

} // namespace

TEST_F(FindRank, WholeNamesThenBeginningsThenAnywhereAreasBeforeOfficesAtTheAddress)
{
    // Among the two towns named 銀座, the one with offices of its own first; then the names
    // beginning with it (an office's name among them), then 西銀座; offices standing in 銀座 last.
    EXPECT_EQ(Order("銀座"), (Strings{"1040061 銀座", "0691331 銀座", "1048001 銀座商事　株式会社", "0600062 銀座東",
                                     "0600061 西銀座", "1048002 株式会社　中央出版", "1048004 トヨタ自動車九州　株式会社"}));
    // Readings follow the same rules: ギンザ before ギンザン and ギンザヒガシ, ニシギンザ last.
    const Strings reading = Order("ぎんざ");
    ASSERT_GE(reading.size(), 6u);
    EXPECT_EQ(Strings(reading.begin(), reading.begin() + 2), (Strings{"1040061 銀座", "0691331 銀座"}));
    EXPECT_EQ(reading.back(), "0600061 西銀座");
}

TEST_F(FindRank, RomajiIsReadAsKanaWithLongVowelsWrittenOrNot)
{
    const Strings kana = Order("ぎんざ");
    for (const char* typed : {"ginza", "GINZA", "Ginza 4-chome", "ｇｉｎｚａ"}) {
        SCOPED_TRACE(typed);
        EXPECT_EQ(built_->finder->Find(FromUtf8(typed)).match, FindMatch::Reading);
        EXPECT_EQ(Order(typed), kana);
    }
    for (const char* typed : {"chuo-ku", "Chūō-ku", "chuuouku", "tyuuouku", "CHUOKU"}) {
        SCOPED_TRACE(typed);
        const Strings order = Order(typed);
        ASSERT_GE(order.size(), 2u);
        EXPECT_EQ(order[0], "1030000 ");
        EXPECT_EQ(order[1], "0600000 ");
    }
    const FindResult typo = built_->finder->Find(u"ginzza");
    EXPECT_EQ(typo.total, 0u);
    ASSERT_FALSE(typo.suggestions.empty());
    EXPECT_EQ(typo.suggestions[0], u"銀座");
    // The best result alone (a batch row) looks for no suggestions, and is the first of Find's.
    EXPECT_TRUE(built_->finder->Best(u"ginzza").suggestions.empty());
    const FindResult best = built_->finder->Best(u"ぎんざ");
    ASSERT_EQ(best.results.size(), 1u);
    EXPECT_EQ(best.results[0].postalCode, built_->finder->Find(u"ぎんざ").results.at(0).postalCode);
}

TEST_F(FindRank, ATownNamedWholeInKanaComesFirstByItsNameAlone)
{
    // ニセコ is named whole and comes before ニセコアンヌプリ, whose code comes first; their
    // readings cannot be parted, so only the names tell them.
    for (const char* query : {"ニセコ", "にせこ"}) {
        SCOPED_TRACE(query);
        EXPECT_EQ(Order(query), (Strings{"0481512 ニセコ", "0481511 ニセコアンヌプリ"}));
    }
}

TEST_F(FindRank, KanaQueriesRankAlikeWhetherTheNamesHoldingThemAreKnownOrNot)
{
    // A kana query tells the ranking which documents' names hold it, so that the others' names
    // are not read; the order must be the one the names themselves give.
    const FindIndex index(built_->lookup->FilePath(kFindIndexFileName));
    const FindRanker ranker(index);
    bool someFoundByReadingAlone = false;
    for (const char* query : {"ぎんざ", "ギンザ", "にせこ", "とよた", "ちゅうおうく", "ginza", "niseko", "tsukiji"}) {
        SCOPED_TRACE(query);
        const Finder::Documents found = built_->finder->Match(FromUtf8(query));
        ASSERT_TRUE(found.rank.named.has_value());
        someFoundByReadingAlone = someFoundByReadingAlone || found.rank.named->size() < found.docs.size();
        RankQuery unnamed = found.rank;
        unnamed.named.reset();
        std::vector<std::uint32_t> told = found.docs, read = found.docs;
        ranker.Rank(told, found.rank, 0);
        ranker.Rank(read, unnamed, 0);
        EXPECT_EQ(told, read);
    }
    EXPECT_TRUE(someFoundByReadingAlone);
}

TEST_F(FindRank, AnOfficeNamedByTheQueryComesFirstWithoutItsLegalForm)
{
    EXPECT_EQ(Order("トヨタ自動車"), (Strings{"0698001 トヨタ自動車　株式会社", "1048004 トヨタ自動車九州　株式会社"}));
}

TEST_F(FindRank, ACityNamedAloneGivesItsCatchAllEntriesFirstWardsIncluded)
{
    const Strings order = Order("中央区");
    ASSERT_GE(order.size(), 4u);
    // Tokyo's ward holds offices, Sapporo's none: Tokyo first. (A catch-all has no town.)
    EXPECT_EQ(order[0], "1030000 ");
    EXPECT_EQ(order[1], "0600000 ");
    const Strings district = Order("長沼町");
    ASSERT_FALSE(district.empty());
    EXPECT_EQ(district[0], "0691300 ");
}

TEST_F(FindRank, CodeOrderAndPostalQueriesKeepTheIndexOrder)
{
    EXPECT_EQ(Order("銀座", FindOrder::Code),
              (Strings{"0600061 西銀座", "0600062 銀座東", "0691331 銀座", "1040061 銀座", "1048001 銀座商事　株式会社",
                       "1048002 株式会社　中央出版", "1048004 トヨタ自動車九州　株式会社"}));
    EXPECT_EQ(Order("104"), (Strings{"1040045 築地", "1040061 銀座", "1048001 銀座商事　株式会社", "1048002 株式会社　中央出版",
                                     "1048003 築地市場", "1048004 トヨタ自動車九州　株式会社"}));
}

TEST_F(FindRank, NothingFoundOffersNearNamesOrSaysTheQueryIsSymbols)
{
    struct Case {
        const char* query;
        std::vector<std::u16string> first; // the suggestions expected first, in order
        bool symbols;
    };
    const Case cases[] = {
        {"銀坐", {u"銀座"}, false},            // one kanji wrong
        {"ぎんぞ", {u"銀座"}, false},          // one kana wrong: the reading's name
        {"築池市場", {u"築地市場"}, false},    // an office's name
        {"★★！", {}, true},
        {"ｘｙｚｚｙ", {}, false},             // nothing near
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        const FindResult r = built_->finder->Find(FromUtf8(c.query));
        EXPECT_EQ(r.total, 0u);
        EXPECT_EQ(r.symbolsOnly, c.symbols);
        ASSERT_GE(r.suggestions.size(), c.first.size());
        EXPECT_EQ(std::vector<std::u16string>(r.suggestions.begin(), r.suggestions.begin() + c.first.size()), c.first);
        if (c.first.empty()) {
            EXPECT_TRUE(r.suggestions.empty());
        }
    }
}

TEST(FindRankText, EditDistanceAndLongVowels)
{
    EXPECT_EQ(EditDistance(u"銀坐", u"銀座"), 1u);
    EXPECT_EQ(EditDistance(u"", u"銀座"), 2u);
    EXPECT_EQ(EditDistance(u"霞ケ関", u"霞関"), 1u);
    EXPECT_EQ(EditDistance(u"kitten", u"sitting"), 3u);
    for (const auto& [written, folded] : std::vector<std::pair<std::u16string, std::u16string>>{
             {u"トウキョウ", u"トキョ"}, {u"オオサカ", u"オサカ"}, {u"チュウオウ", u"チュオ"}, {u"チュオ", u"チュオ"},
             {u"ギンザ", u"ギンザ"}, {u"ニイガタ", u"ニイガタ"}, {u"カイヅカ", u"カイズカ"}, {u"ケイオウ", u"ケイオ"}, {u"ユウバリ", u"ユバリ"}})
        EXPECT_EQ(RomajiKey(written), folded) << ToUtf8(written);
}
