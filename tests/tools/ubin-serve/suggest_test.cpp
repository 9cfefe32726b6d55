// /v1/suggest without HTTP: the fields a form fills, what was typed after the town, the nearest
// name when nothing was found, an address read only as far as its city; and what was typed
// after a name, on its own.
#include "tools/ubin-serve/service.h"

#include "base/cp932.h"
#include "builder/builder.h"
#include "tests/support/japan_post_rows.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/ubin-serve/serve_process.h"

#include <gtest/gtest.h>

#include <csignal>

namespace ubin::serve {
namespace {

using nlohmann::json;

TEST(TypedAfter, GivesWhatFollowsTheFirstPlaceOfTheNameAfterTheOuterName)
{
    const struct {
        std::u16string query, outer, name;
        std::optional<std::u16string> after;
    } cases[] = {
        // The first 六本木 after the city, not the one inside the building's name.
        {u"東京都港区六本木6-10-1 六本木ヒルズ森タワー 32F", u"港区", u"六本木", u"6-10-1 六本木ヒルズ森タワー 32F"},
        // A town named like the end of its city: looked for after the city.
        {u"千葉市中央区中央1-2", u"千葉市中央区", u"中央", u"1-2"},
        {u"中央1-2", u"千葉市中央区", u"中央", u"1-2"},
        // Written in another form of the same name; what follows stays as it was typed.
        {u"千代田区霞ヶ関２－１－２", u"千代田区", u"霞が関", u"２－１－２"},
        {u"銀座四丁目5番", u"中央区", u"銀座", u"四丁目5番"},
        {u"札幌市北区北二十四条西5", u"札幌市北区", u"北24条西", u"5"},
        {u"永田町　１－７－１　", u"千代田区", u"永田町", u"１－７－１"},
        {u"千代田区千代田", u"千代田区", u"千代田", u""},
        // Not written at all.
        {u"ぎんざ4", u"中央区", u"銀座", std::nullopt},
        {u"銀座", u"", u"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.query));
        const std::optional<std::u16string> after = TypedAfter(c.query, c.outer, c.name);
        ASSERT_EQ(after.has_value(), c.after.has_value());
        if (after) {
            EXPECT_EQ(ToUtf8(*after), ToUtf8(*c.after));
        }
    }
}

// A directory of a few rows: a building with floors in a town, a code of three towns, an office.
class Suggest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new test::TempDir;
        using Row = test::KenAllRow;
        const std::vector<Row> rows = {
            {"13102", "1040061", "ﾄｳｷｮｳﾄ", "ﾁｭｳｵｳｸ", "ｷﾞﾝｻﾞ", "東京都", "中央区", "銀座"},
            {"13103", "1050000", "ﾄｳｷｮｳﾄ", "ﾐﾅﾄｸ", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ", "東京都", "港区", "以下に掲載がない場合"},
            {"13103", "1060032", "ﾄｳｷｮｳﾄ", "ﾐﾅﾄｸ", "ﾛｯﾎﾟﾝｷﾞ(ﾂｷﾞﾉﾋﾞﾙｦﾉｿﾞｸ)", "東京都", "港区", "六本木（次のビルを除く）"},
            {"13103", "1066190", "ﾄｳｷｮｳﾄ", "ﾐﾅﾄｸ", "ﾛｯﾎﾟﾝｷﾞﾛｯﾎﾟﾝｷﾞﾋﾙｽﾞﾓﾘﾀﾜｰ(ﾁｶｲ･ｶｲｿｳﾌﾒｲ)", "東京都", "港区",
             "六本木六本木ヒルズ森タワー（地階・階層不明）"},
            {"13103", "1066132", "ﾄｳｷｮｳﾄ", "ﾐﾅﾄｸ", "ﾛｯﾎﾟﾝｷﾞﾛｯﾎﾟﾝｷﾞﾋﾙｽﾞﾓﾘﾀﾜｰ(32ｶｲ)", "東京都", "港区",
             "六本木六本木ヒルズ森タワー（３２階）"},
            {"23233", "4520961", "ｱｲﾁｹﾝ", "ｷﾖｽｼ", "ﾊﾙﾋﾐﾔｼｹﾞ", "愛知県", "清須市", "春日宮重"},
            {"23233", "4520961", "ｱｲﾁｹﾝ", "ｷﾖｽｼ", "ﾊﾙﾋﾐﾔｼｹﾞﾏﾁ", "愛知県", "清須市", "春日宮重町"},
            {"23233", "4520961", "ｱｲﾁｹﾝ", "ｷﾖｽｼ", "ﾊﾙﾋﾕﾒﾉﾓﾘ", "愛知県", "清須市", "春日夢の森"},
        };
        const std::vector<test::JigyosyoRow> offices = {
            {"13101", "ｸﾅｲﾁｮｳ", "宮内庁", "東京都", "千代田区", "千代田", "１－１", "1008111"},
        };
        test::WriteBytes(*dir_ / "KEN_ALL.CSV", test::KenAllText(rows));
        test::WriteBytes(*dir_ / "JIGYOSYO.CSV", test::JigyosyoText(offices));
        BuildOptions options;
        options.offices = *dir_ / "JIGYOSYO.CSV";
        BuildDirectory(*dir_ / "KEN_ALL.CSV", *dir_ / "dir", options);
        directory_ = new LiveDirectory(FromUtf8((*dir_ / "dir").string() + "/"), {.mapped = true, .find = true});
    }
    static void TearDownTestSuite()
    {
        delete directory_;
        delete dir_;
    }

    static json Ask(const std::string& q, const std::string& limit = "")
    {
        const Service service(*directory_, 0);
        Params params{{"q", q}};
        if (!limit.empty()) params.emplace("limit", limit);
        const Reply r = service.Suggest(params);
        EXPECT_EQ(r.status, 200) << r.body;
        return json::parse(r.body);
    }

    static test::TempDir* dir_;
    static LiveDirectory* directory_;
};

test::TempDir* Suggest::dir_ = nullptr;
LiveDirectory* Suggest::directory_ = nullptr;

TEST_F(Suggest, GivesTheFieldsAFormFillsAndWhatWasTypedAfterTheTown)
{
    const json floor = Ask("東京都港区六本木6-10-1 六本木ヒルズ森タワー 32F");
    EXPECT_EQ(floor["match"], "address");
    EXPECT_TRUE(floor["corrected"].is_null());
    ASSERT_FALSE(floor["results"].empty());
    EXPECT_EQ(floor["results"][0], json::parse(R"({"label":"東京都港区六本木六本木ヒルズ森タワー３２階","postal_code":"1066132",
        "prefecture":"東京都","prefecture_code":13,"city":"港区","town":"六本木","street":"","building":"六本木ヒルズ森タワー３２階",
        "company":"","prefecture_kana":"トウキョウト","city_kana":"ミナトク","town_kana":"ロッポンギロッポンギヒルズモリタワー",
        "company_kana":"","type":"area","rest":"6-10-1 六本木ヒルズ森タワー 32F"})"));

    // A building's code whose floor is not known names the building alone.
    const json basement = Ask("1066190");
    EXPECT_EQ(basement["match"], "postal");
    EXPECT_EQ(basement["results"][0]["building"], "六本木ヒルズ森タワー");
    EXPECT_EQ(basement["results"][0]["rest"], "");

    const json office = Ask("100-8111");
    ASSERT_EQ(office["results"].size(), 1u);
    const json& o = office["results"][0];
    EXPECT_EQ(o["type"], "office");
    EXPECT_EQ(o["town"], "千代田");
    EXPECT_EQ(o["street"], "１－１");
    EXPECT_EQ(o["company"], "宮内庁");
    EXPECT_EQ(o["company_kana"], "クナイチョウ");
    EXPECT_EQ(o["label"], "東京都千代田区千代田１－１ 宮内庁");
}

TEST_F(Suggest, GivesEveryTownOfACodeAndEachAddressOnce)
{
    const json towns = Ask("4520961");
    std::vector<std::string> names;
    for (const json& r : towns["results"]) names.push_back(r["town"]);
    EXPECT_EQ(names, (std::vector<std::string>{"春日宮重", "春日宮重町", "春日夢の森"}));
    EXPECT_EQ(Ask("4520961", "2")["results"].size(), 2u);
}

TEST_F(Suggest, LooksForTheNearestNameWhenNothingIsFoundKeepingTheHouseNumber)
{
    const json near = Ask("銀坐");
    EXPECT_EQ(near["corrected"], "銀座");
    ASSERT_FALSE(near["results"].empty());
    EXPECT_EQ(near["results"][0]["postal_code"], "1040061");

    const json numbered = Ask("銀坐5-1");
    EXPECT_EQ(numbered["corrected"], "銀座5-1");
    ASSERT_FALSE(numbered["results"].empty());
    EXPECT_EQ(numbered["results"][0]["town"], "銀座");
    EXPECT_EQ(numbered["results"][0]["rest"], "5-1");

    // Symbols alone: nothing, and the hint that says why.
    const json symbols = Ask("!!!");
    EXPECT_TRUE(symbols["results"].empty());
    EXPECT_TRUE(symbols["corrected"].is_null());
    EXPECT_TRUE(symbols["hint"].is_string());
}

// 港区六本 while 六本木 is being typed: the 六 reads as a house number after the city, which
// would leave the city's catch-all alone.
TEST_F(Suggest, LooksForTheNamesOfTheCityWhenAnAddressStopsAtItsCity)
{
    const json typing = Ask("東京都港区六本");
    ASSERT_FALSE(typing["results"].empty());
    for (const json& r : typing["results"]) {
        EXPECT_EQ(r["city"], "港区");
        EXPECT_EQ(r["town"], "六本木") << r;
    }
}

TEST_F(Suggest, RefusesWhatItCannotSearchAndKeepsItsLimits)
{
    const Service service(*directory_, 0);
    for (const Params& bad : {Params{}, Params{{"q", ""}}, Params{{"q", "a"}, {"limit", "0"}},
                              Params{{"q", "a"}, {"limit", "x"}}, Params{{"q", "a"}, {"limit", "-1"}},
                              Params{{"q", std::string(257, 'a')}}, Params{{"q", "\x01"}}, Params{{"q", "\xC0\xAF"}}}) {
        EXPECT_EQ(service.Suggest(bad).status, 400);
    }
    // Over the sample: however many are asked for, at most 100.
    LiveDirectory sample(FromUtf8(UBIN_SAMPLE_DIR), {.mapped = true, .find = true});
    const Service overSample(sample, 0);
    const json many = json::parse(overSample.Suggest({{"q", "区"}, {"limit", "999999"}}).body);
    EXPECT_EQ(many["results"].size(), 100u);
    EXPECT_EQ(json::parse(overSample.Suggest({{"q", "区"}}).body)["results"].size(), 10u);
}

TEST_F(Suggest, KeptRepliesAreTheRepliesItMakes)
{
    const Service keeping(*directory_);
    const Service fresh(*directory_, 0);
    for (const std::string q : {"4520961", "銀坐", "東京都港区六本", "!!!"}) {
        const std::string made = fresh.Suggest({{"q", q}}).body;
        EXPECT_EQ(keeping.Suggest({{"q", q}}).body, made) << q;
        EXPECT_EQ(keeping.Suggest({{"q", q}}).body, made) << q;
    }
    EXPECT_NE(keeping.Suggest({{"q", "4520961"}, {"limit", "1"}}).body, keeping.Suggest({{"q", "4520961"}}).body);
}

// jQuery 4 sends $.getJSON's JSONP placeholder as it is written: a plain JSON reply, with the
// reply's own status, as without a callback.
TEST_F(Suggest, ApiSearchReadsALiteralCallbackPlaceholderAsNoCallback)
{
    const Service service(*directory_, 0);
    for (const std::string code : {"1040061", "12"}) {
        const Reply plain = service.ApiSearch({{"zipcode", code}});
        const Reply placeholder = service.ApiSearch({{"zipcode", code}, {"callback", "?"}});
        EXPECT_EQ(placeholder.status, plain.status);
        EXPECT_EQ(placeholder.contentType, kJsonType);
        EXPECT_EQ(placeholder.body, plain.body);
    }
}

// Over HTTP: the route, and a literal callback placeholder answered as JSON with the CORS
// headers a page of another origin needs to read it.
TEST(SuggestServed, AnswersItsRouteAndTheCallbackPlaceholderWithCors)
{
    test::ServeProcess server(test::SampleArgs({"--allow-origin", "https://shop.example"}));
    ASSERT_NE(server.port(), 0);
    const test::RawResponse suggest = test::Get(server.port(), "/v1/suggest?q=%E3%81%8E%E3%82%93%E3%81%96&limit=3"); // ぎんざ
    ASSERT_EQ(suggest.status, 200);
    EXPECT_EQ(suggest.Header("content-type"), kJsonType);
    EXPECT_EQ(suggest.Header("cache-control"), kDataLifetime);
    const json body = json::parse(suggest.body);
    EXPECT_EQ(body["query"], "ぎんざ");
    ASSERT_FALSE(body["results"].empty());
    EXPECT_EQ(body["results"][0]["town"], "銀座");
    EXPECT_EQ(test::Get(server.port(), "/v1/suggest").status, 400);

    const test::RawResponse jquery4 =
        test::Get(server.port(), "/api/search?zipcode=7300014&callback=%3F", "Origin: https://shop.example\r\n");
    EXPECT_EQ(jquery4.status, 200);
    EXPECT_EQ(jquery4.Header("content-type"), kJsonType);
    EXPECT_EQ(jquery4.Header("access-control-allow-origin"), "https://shop.example");
    EXPECT_EQ(json::parse(jquery4.body)["results"][0]["address3"], "上幟町");
    // A question mark inside a name is still no identifier.
    EXPECT_EQ(test::Get(server.port(), "/api/search?zipcode=7300014&callback=a%3F").status, 400);
    EXPECT_EQ(server.StopWith(SIGTERM), 0);
}

} // namespace
} // namespace ubin::serve
