// Finding any address over a directory built from hand-made KEN_ALL and JIGYOSYO rows: each
// kind of match, the search form of texts, the order of results, the resolution of an address
// with a house number, and the limits.
#include "base/cp932.h"
#include "search/find.h"
#include "tests/search/built_directory.h"
#include "tests/support/japan_post_rows.h"
#include "tests/support/temp_dir.h"
#include "builder/builder.h"

#include <gtest/gtest.h>

#include <limits>

#include <memory>
#include <optional>

using namespace ubin;
using test::JigyosyoRow;
using test::KenAllRow;

namespace {

const std::vector<KenAllRow> kFindRows = {
    {"13101", "1000000", "ﾄｳｷｮｳﾄ", "ﾁﾖﾀﾞｸ", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ", "東京都", "千代田区", "以下に掲載がない場合"},
    {"13101", "1000001", "ﾄｳｷｮｳﾄ", "ﾁﾖﾀﾞｸ", "ﾁﾖﾀﾞ", "東京都", "千代田区", "千代田"},
    {"13101", "1000013", "ﾄｳｷｮｳﾄ", "ﾁﾖﾀﾞｸ", "ｶｽﾐｶﾞｾｷ", "東京都", "千代田区", "霞が関"},
    {"13101", "1000014", "ﾄｳｷｮｳﾄ", "ﾁﾖﾀﾞｸ", "ﾅｶﾞﾀﾁｮｳ", "東京都", "千代田区", "永田町"},
    {"13102", "1040061", "ﾄｳｷｮｳﾄ", "ﾁｭｳｵｳｸ", "ｷﾞﾝｻﾞ", "東京都", "中央区", "銀座"},
    {"34101", "7300014", "ﾋﾛｼﾏｹﾝ", "ﾋﾛｼﾏｼﾅｶｸ", "ｶﾐﾉﾎﾞﾘﾁｮｳ", "広島県", "広島市中区", "上幟町"},
    {"34101", "7300012", "ﾋﾛｼﾏｹﾝ", "ﾋﾛｼﾏｼﾅｶｸ", "ｶﾐﾊｯﾁｮｳﾎﾞﾘ", "広島県", "広島市中区", "上八丁堀"},
    {"34101", "7300012", "ﾋﾛｼﾏｹﾝ", "ﾋﾛｼﾏｼﾅｶｸ", "ｶﾐﾊｯﾁｮｳﾎﾞﾘ(ﾍﾞｯｶﾝ)", "広島県", "広島市中区", "上八丁堀（別館）"},
    {"01101", "0600042", "ﾎｯｶｲﾄﾞｳ", "ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ", "ｵｵﾄﾞｵﾘﾆｼ(1-19ﾁｮｳﾒ)", "北海道", "札幌市中央区", "大通西（１～１９丁目）"},
    {"04101", "9800000", "ﾐﾔｷﾞｹﾝ", "ｾﾝﾀﾞｲｼｱｵﾊﾞｸ", "ﾆｼｷｶﾞｵｶ", "宮城県", "仙台市青葉区", "錦ケ丘"},
};

const std::vector<JigyosyoRow> kFindOffices = {
    {"13101", "", "農林水産省", "東京都", "千代田区", "霞が関", "１丁目２－１", "1008950"},
    {"13101", "", "宮内庁", "東京都", "千代田区", "千代田", "１－１", "1008111"},
    {"13101", "ｿﾆｰｼﾞﾑｼｮ", "株式会社　ソニー事務所", "東京都", "千代田区", "永田町", "２－３", "1000014"},
    {"34101", "", "中区郵便局私書箱", "広島県", "広島市中区", "上幟町", "１－１", "7308799", "1"},
};

class Find : public ::testing::Test {
protected:
    static void SetUpTestSuite() { built_ = new test::BuiltDirectory(kFindRows, kFindOffices); }
    static void TearDownTestSuite() { delete built_; }

    static FindResult Run(const std::string& query, std::size_t limit = 100) { return built_->finder->Find(FromUtf8(query), limit); }
    // The postal codes of the results (an office's code with its name).
    static std::vector<std::string> Codes(const std::string& query, std::size_t limit = 100)
    {
        std::vector<std::string> out;
        for (const Entry& e : Run(query, limit).results)
            out.push_back(ToUtf8(e.postalCode) + (e.IsOffice() ? " " + ToUtf8(e.office) : ""));
        return out;
    }

    static inline test::BuiltDirectory* built_ = nullptr;
};


using Strings = std::vector<std::string>;

} // namespace

TEST_F(Find, PostalCodesAndTheirBeginningsInAnyForm)
{
    for (const char* q : {"1000014", "100-0014", "〒100-0014", "１００－００１４", "100 0014", "100‐0014", "100−0014",
                          "100ー0014"}) {
        EXPECT_EQ(Run(q).match, FindMatch::Postal) << q;
        EXPECT_EQ(Codes(q), (Strings{"1000014", "1000014 株式会社　ソニー事務所"})) << q; // the area entry first
    }
    EXPECT_EQ(Codes("730"), (Strings{"7300012", "7300012", "7300014", "7308799 中区郵便局私書箱"}));
    EXPECT_EQ(Run("100").total, 7u);
    // Two digits, or eight, are no postal code: they are looked for as text.
    EXPECT_EQ(Run("10").match, FindMatch::Text);
    EXPECT_EQ(Run("10000140").match, FindMatch::Text);
}

TEST_F(Find, KanaInAnyFormFindsReadingsAddressesAndOfficeNames)
{
    for (const char* q : {"ぎんざ", "ギンザ", "ｷﾞﾝｻﾞ", "ぎん ざ"}) {
        const FindResult r = Run(q);
        EXPECT_EQ(r.match, FindMatch::Reading) << q;
        ASSERT_EQ(r.results.size(), 1u) << q;
        EXPECT_EQ(r.results[0].town, u"銀座") << q;
        EXPECT_EQ(r.results[0].townKana, u"ｷﾞﾝｻﾞ") << q; // as stored
    }
    // A katakana name holds it; so does the office's reading.
    EXPECT_EQ(Codes("ソニー"), (Strings{"1000014 株式会社　ソニー事務所"}));
    EXPECT_EQ(Codes("じむしょ"), (Strings{"1000014 株式会社　ソニー事務所"}));
    // The readings of prefecture and city count too, and ー is kana.
    EXPECT_EQ(Run("ひろしましなかく").total, 3u);
}

TEST_F(Find, TextFindsAddressesAndOfficeNames)
{
    const FindResult r = Run("中区上幟");
    EXPECT_EQ(r.match, FindMatch::Text);
    EXPECT_EQ(Codes("中区上幟"), (Strings{"7300014", "7308799 中区郵便局私書箱"}));
    EXPECT_EQ(Codes("宮内庁"), (Strings{"1008111 宮内庁"}));
    // The detail counts without its parentheses; full-width and half-width digits are one.
    EXPECT_EQ(Codes("大通西1～19"), (Strings{"0600042"}));
    EXPECT_EQ(Codes("別館"), (Strings{"7300012"}));
    // In names ヶ ケ ヵ が ガ are one.
    for (const char* q : {"霞ヶ関", "霞が関", "霞ケ関", "霞ガ関", "霞ヵ関"})
        EXPECT_EQ(Codes(q), (Strings{"1000013", "1008950 農林水産省"})) << q;
    EXPECT_EQ(Codes("錦が丘"), (Strings{"9800000"}));
    // One character is found too.
    EXPECT_EQ(Run("錦").total, 1u);
    EXPECT_EQ(Run("どこにもない").total, 0u);
}

TEST_F(Find, AnAddressWithAHouseNumberResolvesToItsLongestKnownBeginning)
{
    FindResult r = Run("東京都千代田区千代田９－９");
    EXPECT_EQ(r.match, FindMatch::Address);
    EXPECT_EQ(Codes("東京都千代田区千代田９－９"), (Strings{"1000001"}));
    EXPECT_EQ(Codes("千代田区永田町９９"), (Strings{"1000014"}));
    // The area entry first, then the office at that very address.
    r = Run("東京都千代田区千代田１－１");
    EXPECT_EQ(r.match, FindMatch::Address);
    EXPECT_EQ(Codes("東京都千代田区千代田１－１"), (Strings{"1000001", "1008111 宮内庁"}));
    // A town the list does not know falls back to the city's 以下に掲載がない場合.
    EXPECT_EQ(Codes("東京都千代田区丸の内１－１"), (Strings{"1000000"}));
    EXPECT_EQ(Codes("千代田区どこか５"), (Strings{"1000000"}));
}

TEST_F(Find, ResultsInCodeOrderComeByPostalCodeAreasBeforeOfficesThenSourceOrder)
{
    const FindResult r = built_->finder->Find(u"千代田区", 100, FindOrder::Code);
    std::vector<std::string> order;
    for (const Entry& e : r.results) order.push_back(ToUtf8(e.postalCode) + (e.IsOffice() ? "o" : "a"));
    EXPECT_EQ(order, (Strings{"1000000a", "1000001a", "1000013a", "1000014a", "1000014o", "1008111o", "1008950o"}));
    // Two entries of one code keep the order of their rows.
    const FindResult h = Run("上八丁堀");
    ASSERT_EQ(h.results.size(), 2u);
    EXPECT_EQ(h.results[0].detail, u"");
    EXPECT_EQ(h.results[1].detail, u"別館");
}

TEST_F(Find, ThePostalCodeLookupOfEveryProgramGivesTheIndexOrder)
{
    const auto describe = [](const Entry& e) {
        std::string text = ToUtf8(e.postalCode);
        if (e.IsOffice()) text.append(" ").append(ToUtf8(e.office));
        return text;
    };
    for (const char16_t* typed : {u"100", u"1000014", u"〒100-8111", u"730", u"7308799", u"999"}) {
        SCOPED_TRACE(ToUtf8(typed));
        std::vector<std::string> indexed, looked, areas;
        for (const std::uint32_t d : built_->finder->Match(typed).docs) indexed.push_back(describe(built_->finder->ReadDocument(d)));
        for (const Entry& e : built_->lookup->FindPostalEntries(typed)) looked.push_back(describe(e));
        EXPECT_EQ(looked, indexed);
        for (const Entry& e : built_->lookup->FindPostalEntries(typed, {.offices = false})) areas.push_back(describe(e));
        std::erase_if(indexed, [](const std::string& d) { return d.find(' ') != std::string::npos; });
        EXPECT_EQ(areas, indexed);
        const std::size_t two = std::min<std::size_t>(2, looked.size());
        EXPECT_EQ(built_->lookup->FindPostalEntries(typed, {.limit = 2}).size(), two);
    }
    // A document the index does not hold is refused, not read as some entry.
    // (Every entry and office has at most one document.)
    const auto beyond = static_cast<std::uint32_t>(built_->lookup->EntryCount() + built_->lookup->OfficeCount());
    for (const std::uint32_t doc : {beyond, std::numeric_limits<std::uint32_t>::max()})
        EXPECT_THROW(built_->finder->ReadDocument(doc), Error) << doc;
}

TEST_F(Find, LimitsCutTheResultsButNotTheTotal)
{
    EXPECT_EQ(Run("千代田区", 2).results.size(), 2u);
    EXPECT_EQ(Run("千代田区", 2).total, 7u);
    EXPECT_EQ(Run("千代田区", 0).results.size(), 7u);
    EXPECT_EQ(Run("  ").total, 0u);
}

TEST_F(Find, OfficesCarryTheirNameStreetAndKind)
{
    const FindResult r = Run("1008950");
    ASSERT_EQ(r.results.size(), 1u);
    const Entry& o = r.results[0];
    EXPECT_EQ(o.kind, EntryKind::Office);
    EXPECT_EQ(o.office, u"農林水産省");
    EXPECT_EQ(o.street, u"１丁目２－１");
    EXPECT_EQ(o.town, u"霞が関");
    EXPECT_EQ(o.city, u"千代田区");
    EXPECT_EQ(o.prefecture, u"東京都");
    EXPECT_EQ(o.cityCode, u"13101");
    EXPECT_EQ(o.cityKana, u"ﾁﾖﾀﾞｸ"); // from the city table
    EXPECT_EQ(Run("7308799").results.at(0).kind, EntryKind::PoBox);
}

// Every search has a bounded cost: a query longer than kMaxQueryLength characters of search
// form, or holding a control character, is refused before anything is searched. U+0001 stands
// between an office's address and its name, so it would otherwise find every office.
TEST_F(Find, QueriesTooLongOrWithControlCharactersAreRefused)
{
    const struct {
        std::u16string query;
        std::optional<QueryFault> fault;
    } cases[] = {
        {std::u16string(1 << 20, u'あ'), QueryFault::TooLong},
        {std::u16string(kMaxTypedQueryLength + 1, u' '), QueryFault::TooLong}, // measured as typed first
        {std::u16string(kMaxQueryLength + 1, u'a'), QueryFault::TooLong},
        {std::u16string(kMaxQueryLength, u'a'), std::nullopt},
        {std::u16string(kMaxQueryLength, u'ｶ') + u"ﾞ", std::nullopt}, // the mark joins its kana
        {std::u16string(kMaxQueryLength + 1, u'ｶ') + u"ﾞ", QueryFault::TooLong},
        {std::u16string(kMaxTypedQueryLength - 3, u'　') + u"銀座", std::nullopt}, // blanks are dropped
        {u"\u0001", QueryFault::ControlCharacter},
        {u"宮内庁\u0001", QueryFault::ControlCharacter},
        {u"銀\t座", QueryFault::ControlCharacter},
        {u"銀座\n", QueryFault::ControlCharacter},
        {std::u16string(1, u'\0'), QueryFault::ControlCharacter},
        {u"\u007F", QueryFault::ControlCharacter},
        {u"\u009F", QueryFault::ControlCharacter},
        {u"\u00A0銀座", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.query.substr(0, 8)) + " (" + std::to_string(c.query.size()) + " units)");
        try {
            built_->finder->Find(c.query);
            EXPECT_FALSE(c.fault) << "searched";
        } catch (const QueryError& e) {
            ASSERT_TRUE(c.fault) << e.what();
            EXPECT_EQ(e.fault(), *c.fault) << e.what();
        }
    }
    EXPECT_THROW(built_->finder->Match(u"\u0001"), QueryError);
    // The refusal names the limit.
    try {
        built_->finder->Find(std::u16string(300, u'a'));
    } catch (const QueryError& e) {
        EXPECT_NE(std::string(e.what()).find("300 characters long; a search takes at most 256"), std::string::npos)
            << e.what();
    }
}
