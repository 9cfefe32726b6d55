// ubin-serve started as a process on a free loopback port over the sample directory: each
// endpoint's exact JSON, the refusals, JSONP, requests cut off, many keep-alive connections at
// once, and SIGTERM with requests in flight.
#include "tests/tools/ubin-serve/serve_process.h"

#include "base/cp932.h"
#include "search/live.h"
#include "present/find_json.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

namespace ubin::test {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

json Body(const RawResponse& r) { return json::parse(r.body); }

class Serve : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(server.port(), 0) << "ubin-serve did not start"; }
    // Whatever a test sent, the server ends cleanly (under the sanitizers: with no report).
    void TearDown() override
    {
        if (server.port() == 0) return;
        EXPECT_EQ(server.StopWith(SIGTERM), 0);
        const std::vector<std::string> lines = server.Lines();
        EXPECT_EQ(lines.empty() ? "" : lines.back(), "ubin-serve: stopped");
    }
    ServeProcess server{SampleArgs()};
};

// --- /api/search --------------------------------------------------------------------------------

TEST_F(Serve, ApiSearchAnswersOneTownInTheFormsShape)
{
    const RawResponse r = Get(server.port(), "/api/search?zipcode=7300014");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.body,
              R"({"message":null,"results":[{"address1":"広島県","address2":"広島市中区","address3":"上幟町",)"
              R"("kana1":"ﾋﾛｼﾏｹﾝ","kana2":"ﾋﾛｼﾏｼﾅｶｸ","kana3":"ｶﾐﾉﾎﾞﾘﾁｮｳ","prefcode":"34","zipcode":"7300014"}],"status":200})");
    EXPECT_EQ(r.Header("content-type"), "application/json; charset=utf-8");
    EXPECT_EQ(r.Header("content-length"), std::to_string(r.body.size()));
    EXPECT_EQ(r.Header("cache-control"), "public, max-age=86400");
    EXPECT_EQ(r.Header("x-content-type-options"), "nosniff");
    EXPECT_EQ(r.headers.count("access-control-allow-origin"), 0u); // no --allow-origin given
}

TEST_F(Serve, ApiSearchListsEveryTownOfACodeUpToTheLimit)
{
    const json both = Body(Get(server.port(), "/api/search?zipcode=731-5143"));
    ASSERT_EQ(both["results"].size(), 2u);
    EXPECT_EQ(both["results"][0]["address3"], "三宅");
    EXPECT_EQ(both["results"][1]["address3"], "三宅町");
    EXPECT_EQ(both["results"][1]["kana3"], "ﾐﾔｹﾁｮｳ");
    EXPECT_EQ(both["results"][1]["zipcode"], "7315143");

    const json one = Body(Get(server.port(), "/api/search?zipcode=7315143&limit=1"));
    ASSERT_EQ(one["results"].size(), 1u);
    EXPECT_EQ(one["results"][0]["address3"], "三宅");
}

TEST_F(Serve, ApiSearchPrefcodeHasNoLeadingZeroAndUnlistedTownsAreEmpty)
{
    const json hokkaido = Body(Get(server.port(), "/api/search?zipcode=0470012"));
    EXPECT_EQ(hokkaido["results"][0]["prefcode"], "1");
    EXPECT_EQ(hokkaido["results"][0]["address1"], "北海道");
    EXPECT_EQ(hokkaido["results"][0]["address2"], "小樽市");

    // 以下に掲載がない場合 stands for the rest of the city: a form gets no town.
    const json rest = Body(Get(server.port(), "/api/search?zipcode=7300000"));
    EXPECT_EQ(rest, json::parse(R"({"message":null,"results":[{"address1":"広島県","address2":"広島市中区","address3":"",
        "kana1":"ﾋﾛｼﾏｹﾝ","kana2":"ﾋﾛｼﾏｼﾅｶｸ","kana3":"","prefcode":"34","zipcode":"7300000"}],"status":200})"));
}

TEST_F(Serve, ApiSearchGivesNullResultsWhenNothingMatches)
{
    const RawResponse r = Get(server.port(), "/api/search?zipcode=9999999");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, R"({"message":null,"results":null,"status":200})");
}

TEST_F(Serve, ApiSearchRefusesMissingAndMalformedParameters)
{
    struct Case {
        std::string query;
        std::string message;
    } cases[] = {
        {"", "必須パラメータが指定されていません。"},
        {"?zipcode=", "必須パラメータが指定されていません。"},
        {"?zip=7300014", "必須パラメータが指定されていません。"},
        {"?zipcode=730001", "パラメータ「郵便番号」の桁数が不正です。"},
        {"?zipcode=73000141", "パラメータ「郵便番号」の桁数が不正です。"},
        {"?zipcode=730001a", "パラメータ「郵便番号」の桁数が不正です。"},
        {"?zipcode=%EF%BC%97300014", "パラメータ「郵便番号」の桁数が不正です。"}, // full-width 7
        {"?zipcode=7300014&limit=0", "パラメータ「limit」の値が不正です。"},
        {"?zipcode=7300014&limit=x", "パラメータ「limit」の値が不正です。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        const RawResponse r = Get(server.port(), "/api/search" + c.query);
        EXPECT_EQ(r.status, 400);
        EXPECT_EQ(r.Header("content-type"), "application/json; charset=utf-8");
        EXPECT_EQ(r.Header("cache-control"), "no-store");
        EXPECT_EQ(Body(r), (json{{"message", c.message}, {"results", nullptr}, {"status", 400}}));
    }
}

TEST_F(Serve, ApiSearchWrapsJsonpAndRefusesCallbacksThatAreNoIdentifier)
{
    const RawResponse r = Get(server.port(), "/api/search?zipcode=7300014&callback=jQuery_123$");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("content-type"), "text/javascript; charset=utf-8");
    const std::string plain = Get(server.port(), "/api/search?zipcode=7300014").body;
    EXPECT_EQ(r.body, "jQuery_123$(" + plain + ")");

    // The callback sees an error as the status in the body: a script cannot read HTTP's.
    const RawResponse error = Get(server.port(), "/api/search?callback=cb");
    EXPECT_EQ(error.status, 200);
    EXPECT_EQ(error.body, R"(cb({"message":"必須パラメータが指定されていません。","results":null,"status":400}))");

    for (const std::string& bad : std::vector<std::string>{"a.b", "alert(1)//", "1abc", "cb%0A", "%E5%BA%83", std::string(129, 'a')}) {
        SCOPED_TRACE(bad);
        const RawResponse refused = Get(server.port(), "/api/search?zipcode=7300014&callback=" + bad);
        EXPECT_EQ(refused.status, 400);
        EXPECT_EQ(refused.Header("content-type"), "application/json; charset=utf-8");
        EXPECT_EQ(Body(refused)["message"], "パラメータ「callback」の値が不正です。");
        EXPECT_EQ(refused.body.find("alert"), std::string::npos);
    }
}

// --- /v1/areas -----------------------------------------------------------------------------------

TEST_F(Serve, AreasListThePrefecturesInCodeOrder)
{
    const RawResponse r = Get(server.port(), "/v1/areas");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("cache-control"), "public, max-age=86400");
    const json list = Body(r)["prefectures"];
    ASSERT_EQ(list.size(), 47u);
    EXPECT_EQ(list[0], (json{{"code", 1}, {"name", "北海道"}, {"kana", "ﾎｯｶｲﾄﾞｳ"}}));
    EXPECT_EQ(list[33], (json{{"code", 34}, {"name", "広島県"}, {"kana", "ﾋﾛｼﾏｹﾝ"}}));
    EXPECT_EQ(list[46], (json{{"code", 47}, {"name", "沖縄県"}, {"kana", "ｵｷﾅﾜｹﾝ"}}));
    for (std::size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list[i]["code"], i + 1);
}

TEST_F(Serve, AreasListTheCitiesOfAPrefectureByNameOrNumber)
{
    const RawResponse byNumber = Get(server.port(), "/v1/areas/34");
    const RawResponse byName = Get(server.port(), "/v1/areas/%E5%BA%83%E5%B3%B6%E7%9C%8C"); // 広島県
    ASSERT_EQ(byNumber.status, 200);
    EXPECT_EQ(byNumber.body, byName.body);
    const json body = Body(byNumber);
    EXPECT_EQ(body["prefecture"], (json{{"code", 34}, {"name", "広島県"}, {"kana", "ﾋﾛｼﾏｹﾝ"}}));
    const json& cities = body["cities"];
    ASSERT_FALSE(cities.empty());
    EXPECT_EQ(cities[0], (json{{"code", "34101"}, {"name", "広島市中区"}, {"kana", "ﾋﾛｼﾏｼﾅｶｸ"}}));
    for (std::size_t i = 0; i < cities.size(); ++i) {
        EXPECT_EQ(cities[i]["code"].get<std::string>().substr(0, 2), "34");
        if (i > 0) {
            EXPECT_LT(cities[i - 1]["code"], cities[i]["code"]);
        }
    }
}

TEST_F(Serve, AreasListTheTownsOfACityWithTheirSubAreas)
{
    // 千代田区 by code under 東京都 by number; 一ツ橋 has two entries with a code each.
    const json body = Body(Get(server.port(), "/v1/areas/13/13101"));
    EXPECT_EQ(body["city"], (json{{"code", "13101"}, {"name", "千代田区"}, {"kana", "ﾁﾖﾀﾞｸ"}}));
    const json& towns = body["towns"];
    ASSERT_GE(towns.size(), 4u);
    EXPECT_EQ(towns[0], json::parse(R"({"name":"以下に掲載がない場合","kana":"ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ","postal_code":"1000000",
        "detail":"","sub_areas":[]})"));
    EXPECT_EQ(towns[3], json::parse(R"({"name":"一ツ橋","kana":"ﾋﾄﾂﾊﾞｼ","postal_code":null,"detail":null,"sub_areas":[
        {"name":"１丁目","detail":"１丁目","postal_code":"1000003"},{"name":"２丁目","detail":"２丁目","postal_code":"1010003"}]})"));
    // Each town once: the entries of a town with several are its sub-areas.
    std::set<std::string> names;
    for (const json& town : towns) EXPECT_TRUE(names.insert(town["name"].get<std::string>()).second) << town["name"];

    // 宮島町 of 廿日市市 (by names): its 40 entries are one town.
    const json hatsukaichi = Body(Get(server.port(), "/v1/areas/%E5%BA%83%E5%B3%B6%E7%9C%8C/%E5%BB%BF%E6%97%A5%E5%B8%82%E5%B8%82"));
    const json& miyajima = hatsukaichi["towns"][0];
    EXPECT_EQ(miyajima["name"], "宮島町");
    ASSERT_EQ(miyajima["sub_areas"].size(), 40u);
    EXPECT_EQ(miyajima["sub_areas"][0], (json{{"name", "杉之浦"}, {"detail", "杉之浦"}, {"postal_code", "7390501"}}));
    EXPECT_EQ(miyajima["sub_areas"][39]["postal_code"], "7390588");
}

TEST_F(Serve, AreasAnswer404ForWhatTheDirectoryDoesNotHold)
{
    const std::string noPrefecture = R"({"message":"該当する都道府県がありません。","status":404})";
    const std::string noCity = R"({"message":"該当する市区町村がありません。","status":404})";
    struct Case {
        std::string target, body;
    } cases[] = {
        {"/v1/areas/48", noPrefecture},
        {"/v1/areas/0", noPrefecture},
        {"/v1/areas/%E5%BA%83%E5%B3%B6", noPrefecture}, // 広島, not 広島県
        {"/v1/areas/13/34101", noCity},                 // a city of another prefecture
        {"/v1/areas/34/nowhere", noCity},
        {"/v1/areas/48/34101", noPrefecture},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const RawResponse r = Get(server.port(), c.target);
        EXPECT_EQ(r.status, 404);
        EXPECT_EQ(r.body, c.body);
        EXPECT_EQ(r.Header("content-type"), "application/json; charset=utf-8");
    }
}

// --- /yubinbango ---------------------------------------------------------------------------------

TEST_F(Serve, YubinbangoDataHoldsTheFirstTownOfEveryCodeUnderThePrefix)
{
    const RawResponse r = Get(server.port(), "/yubinbango/731.js");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("content-type"), "text/javascript; charset=utf-8");
    EXPECT_EQ(r.Header("cache-control"), "public, max-age=86400");
    ASSERT_TRUE(r.body.starts_with("$yubin({") && r.body.ends_with("})")) << r.body.substr(0, 40);
    const json data = json::parse(r.body.substr(7, r.body.size() - 8));
    EXPECT_EQ(data["7315143"], json::parse(R"([34,"広島市佐伯区","三宅",""])")); // 三宅 and 三宅町: the first
    EXPECT_EQ(data["7310100"], json::parse(R"([34,"広島市安佐南区","",""])"));  // 以下に掲載がない場合
    for (const auto& [code, record] : data.items()) {
        EXPECT_TRUE(code.size() == 7 && code.starts_with("731")) << code;
        EXPECT_EQ(record.size(), 4u);
    }
    EXPECT_GT(data.size(), 10u);

    EXPECT_EQ(Get(server.port(), "/yubinbango/730.js").body.find(R"("7300014":[34,"広島市中区","上幟町",""])") != std::string::npos, true);
}

TEST_F(Serve, YubinbangoDataOfAnEmptyPrefixIsAnEmptyObject)
{
    // The package answers its caller only when the script calls $yubin.
    const RawResponse r = Get(server.port(), "/yubinbango/000.js");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "$yubin({})");
    for (const std::string& target : std::vector<std::string>{"/yubinbango/73.js", "/yubinbango/7300.js", "/yubinbango/abc.js", "/yubinbango/730"}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(Get(server.port(), target).status, 404);
    }
}

// --- /healthz, the page, the errors of every path ------------------------------------------------

TEST_F(Serve, HealthTellsTheEntriesAndWhatTheServerOffers)
{
    const RawResponse r = Get(server.port(), "/healthz");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("cache-control"), "no-store");
    // One entry per line of the sample's 郵便番号.CSV.
    std::ifstream lines(std::filesystem::path(UBIN_SAMPLE_DIR) / u8"郵便番号.CSV", std::ios::binary);
    const auto count = std::count(std::istreambuf_iterator<char>(lines), std::istreambuf_iterator<char>(), '\n');
    // The sample directory holds offices and the search index.
    // The sample is built without --edition: the month of its input files, guessed.
    const DirectoryEdition edition = FolderEdition(FromUtf8(UBIN_SAMPLE_DIR));
    ASSERT_TRUE(edition.month);
    EXPECT_TRUE(edition.guessed);
    EXPECT_EQ(Body(r), (json{{"status", "ok"},
                             {"entries", count},
                             {"capabilities", {{"offices", true}, {"find", true}}},
                             {"edition", FormatYearMonth(*edition.month)},
                             {"edition_guessed", true},
                             {"stale", false}}));
    // Every reply names the edition, errors and the page too.
    for (const char* path : {"/healthz", "/", "/no-such-page", "/api/search?zipcode=1"})
        EXPECT_EQ(Get(server.port(), path).Header("x-ubin-edition"), FormatYearMonth(*edition.month)) << path;
}

TEST_F(Serve, ThePageIsServedAtTheRootWithItsTypes)
{
    const RawResponse page = Get(server.port(), "/");
    ASSERT_EQ(page.status, 200);
    EXPECT_EQ(page.Header("content-type"), "text/html; charset=utf-8");
    EXPECT_EQ(page.Header("cache-control"), "public, max-age=300");
    EXPECT_NE(page.body.find("郵便番号"), std::string::npos);
    EXPECT_EQ(Get(server.port(), "/index.html").body, page.body);
    EXPECT_EQ(Get(server.port(), "/app.js").Header("content-type"), "text/javascript; charset=utf-8");
    EXPECT_EQ(Get(server.port(), "/style.css").Header("content-type"), "text/css; charset=utf-8");
    // HEAD: the length of the body, no body; the same connection then serves the next request.
    RawConnection c(server.port());
    c.Send("HEAD / HTTP/1.1\r\nHost: x\r\n\r\n");
    const RawResponse head = c.Receive(10s, true);
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.Header("content-length"), std::to_string(page.body.size()));
    c.Send(GetRequest("/healthz"));
    EXPECT_EQ(c.Receive().status, 200);
}

TEST_F(Serve, UnknownPathsAnswer404WithAJsonBody)
{
    for (const std::string& target : std::vector<std::string>{"/nothing", "/api/search/", "/v1/areas/34/34101/x", "/v1/finds?q=x", "/../etc/passwd"}) {
        SCOPED_TRACE(target);
        const RawResponse r = Get(server.port(), target);
        EXPECT_EQ(r.status, 404);
        EXPECT_EQ(r.Header("content-type"), "application/json; charset=utf-8");
        EXPECT_EQ(r.body, R"({"message":"指定されたURLはありません。","status":404})");
    }
}

TEST_F(Serve, BadPercentEncodingAndBadUtf8AreRefusedWith400)
{
    const std::string badPercent = R"({"message":"URLのパーセントエンコードが不正です。","status":400})";
    const std::string badUtf8 = R"({"message":"URLの文字がUTF-8として不正です。","status":400})";
    struct Case {
        std::string target, body;
    } cases[] = {
        {"/api/search?zipcode=%ZZ", badPercent},
        {"/api/search?zipcode=73%0", badPercent},
        {"/v1/areas/%", badPercent},
        {"/v1/areas/%E5%BA", badUtf8},       // a character cut short
        {"/v1/areas/%C0%AF", badUtf8},       // an overlong '/'
        {"/v1/areas/%ED%A0%80", badUtf8},    // a surrogate
        {"/api/search?callback=%FF", badUtf8},
        {"/v1/areas/\xff", badUtf8},         // a raw byte that is no UTF-8
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const RawResponse r = Get(server.port(), c.target);
        EXPECT_EQ(r.status, 400);
        EXPECT_EQ(r.body, c.body);
    }
}

TEST_F(Serve, RequestsOver8KBAreRefusedWith400)
{
    const std::string tooLarge = R"({"message":"リクエストが大きすぎます（8KBまで）。","status":400})";
    // A long target, many headers, a body announced: each past 8 KB.
    EXPECT_EQ(Get(server.port(), "/api/search?zipcode=7300014&pad=" + std::string(8200, 'x')).body, tooLarge);
    std::string headers;
    for (int i = 0; i < 10; ++i) headers += "X-Pad-" + std::to_string(i) + ": " + std::string(1000, 'y') + "\r\n";
    EXPECT_EQ(Get(server.port(), "/healthz", headers).body, tooLarge);
    RawConnection c(server.port());
    c.Send("GET /healthz HTTP/1.1\r\nHost: x\r\nContent-Length: 9000\r\n\r\n" + std::string(9000, 'z'));
    const RawResponse body = c.Receive();
    EXPECT_EQ(body.status, 400);
    EXPECT_EQ(body.body, tooLarge);
    // A header line the library cannot read whole is a bad request, still with a JSON body.
    const RawResponse line = Get(server.port(), "/healthz", "X-Long: " + std::string(9000, 'w') + "\r\n");
    EXPECT_EQ(line.status, 400);
    EXPECT_EQ(line.Header("content-type"), "application/json; charset=utf-8");
    // Just under the limit is served.
    EXPECT_EQ(Get(server.port(), "/api/search?zipcode=7300014&pad=" + std::string(7000, 'x')).status, 200);
}

TEST_F(Serve, OtherMethodsAnswer405AndGarbageAnswers400)
{
    RawConnection post(server.port());
    post.Send("POST /api/search HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc");
    const RawResponse r = post.Receive();
    EXPECT_EQ(r.status, 405);
    EXPECT_EQ(r.Header("allow"), "GET, HEAD");
    EXPECT_EQ(Body(r)["status"], 405);

    RawConnection garbage(server.port());
    garbage.Send("HELLO\r\n\r\n");
    const RawResponse g = garbage.Receive();
    EXPECT_EQ(g.status, 400);
    EXPECT_EQ(g.body, R"({"message":"リクエストの形式が不正です。","status":400})");
}

// --- the log --------------------------------------------------------------------------------------

TEST_F(Serve, LogsOneLinePerRequestWithMethodPathStatusAndMicroseconds)
{
    const std::size_t before = server.Lines().size(); // the start-up line
    Get(server.port(), "/api/search?zipcode=7300014");
    Get(server.port(), "/nothing");
    Get(server.port(), "/v1/areas/%E5%BA");
    RawConnection garbage(server.port());
    garbage.Send("HELLO\r\n\r\n");
    garbage.Receive();
    ASSERT_TRUE(server.WaitForLines(before + 4));
    std::this_thread::sleep_for(100ms);
    const std::vector<std::string> lines = server.Lines();
    ASSERT_EQ(lines.size(), before + 4);
    // Each line is written after its reply, so two workers' lines may come in either order.
    const std::regex line(R"((\S+) (\S+) (\d{3}) (\d+)us)");
    std::multiset<std::string> logged;
    for (std::size_t i = before; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, line)) << lines[i];
        logged.insert(m[1].str() + " " + m[2].str() + " " + m[3].str()); // the query is not logged
    }
    EXPECT_EQ(logged, (std::multiset<std::string>{"GET /api/search 200", "GET /nothing 404", "GET /v1/areas/%E5%BA 400",
                                                  "HELLO - 400"}));
}

TEST_F(Serve, LogLinesShowControlBytesEscaped)
{
    const std::size_t before = server.Lines().size();
    RawConnection c(server.port());
    c.Send("GET /a\x1b[31m HTTP/1.1\r\nHost: x\r\n\r\n");
    c.Receive();
    ASSERT_TRUE(server.WaitForLines(before + 1));
    const std::string line = server.Lines()[before];
    EXPECT_EQ(line.find('\x1b'), std::string::npos);
    EXPECT_NE(line.find("/a\\x1B[31m"), std::string::npos) << line;
}

// --- connections ----------------------------------------------------------------------------------

TEST_F(Serve, RequestsCutOffMidwayLeaveTheServerServing)
{
    {
        RawConnection c(server.port());
        c.Send("GET /api/sea");
    }
    {
        RawConnection c(server.port());
        c.Send("GET /api/search?zipcode=7300014 HTTP/1.1\r\nHost: x\r\n");
    }
    {
        // Gone before its reply is written.
        RawConnection c(server.port());
        c.Send(GetRequest("/yubinbango/730.js"));
    }
    {
        RawConnection c(server.port());
        c.Send("POST /api/search HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\nabc");
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(server.Running());
    const RawResponse r = Get(server.port(), "/api/search?zipcode=7300014");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(Body(r)["results"][0]["address3"], "上幟町");
}

TEST_F(Serve, TwoHundredKeepAliveConnectionsAtOnce)
{
    constexpr int kConnections = 200;
    constexpr int kRequestsEach = 3;
    std::vector<std::unique_ptr<RawConnection>> connections;
    for (int i = 0; i < kConnections; ++i) connections.push_back(std::make_unique<RawConnection>(server.port()));
    for (const auto& c : connections) ASSERT_TRUE(c->connected());

    // Every connection is open before any asks; each then asks on its own socket, in turn.
    const char* codes[] = {"7300014", "7315143", "1000001", "9999999"};
    std::mutex mutex;
    std::vector<std::string> faults;
    const auto fault = [&](int i, int k, const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex);
        faults.push_back("connection " + std::to_string(i) + ", request " + std::to_string(k) + ": " + what);
    };
    std::vector<std::thread> clients;
    for (int i = 0; i < kConnections; ++i) {
        clients.emplace_back([&, i] {
            for (int k = 0; k < kRequestsEach; ++k) {
                const std::string code = codes[(i + k) % 4];
                if (!connections[i]->Send(GetRequest("/api/search?zipcode=" + code))) return fault(i, k, "send failed");
                const RawResponse r = connections[i]->Receive(30s);
                if (r.status != 200) return fault(i, k, "status " + std::to_string(r.status));
                if (r.Header("connection") == "close") return fault(i, k, "closed by the server");
                const json body = json::parse(r.body);
                if (code == "9999999" ? !body["results"].is_null() : body["results"][0]["zipcode"] != code)
                    return fault(i, k, "answer for another code: " + r.body);
            }
            // Done: a worker serves a connection until the client closes it (or it stays idle
            // for the keep-alive time), and 200 are more than the workers.
            connections[i]->Close();
        });
    }
    for (auto& t : clients) t.join();
    EXPECT_TRUE(faults.empty()) << faults.size() << " faults, the first: " << faults.front();
}

// --- options --------------------------------------------------------------------------------------

TEST(ServeOptions, AllowOriginSendsTheCorsHeader)
{
    ServeProcess any(SampleArgs({"--allow-origin", "*"}));
    ASSERT_NE(any.port(), 0);
    EXPECT_EQ(Get(any.port(), "/api/search?zipcode=7300014").Header("access-control-allow-origin"), "*");
    EXPECT_EQ(Get(any.port(), "/nothing").Header("access-control-allow-origin"), "*");

    ServeProcess two(SampleArgs({"--allow-origin", "https://shop.example", "--allow-origin", "https://www.shop.example"}));
    ASSERT_NE(two.port(), 0);
    RawResponse r = Get(two.port(), "/v1/areas", "Origin: https://www.shop.example\r\n");
    EXPECT_EQ(r.Header("access-control-allow-origin"), "https://www.shop.example");
    EXPECT_EQ(r.Header("vary"), "Origin");
    r = Get(two.port(), "/v1/areas", "Origin: https://evil.example\r\n");
    EXPECT_EQ(r.headers.count("access-control-allow-origin"), 0u);
    EXPECT_EQ(r.Header("vary"), "Origin");
}

// A CORS preflight from a page of another origin, as a browser sends it before a fetch with a
// header of its own.
RawResponse Preflight(int port, const std::string& origin, const std::string& askedHeaders,
                      const std::string& target = "/api/search?zipcode=7300014", const std::string& method = "GET")
{
    RawConnection c(port);
    c.Send("OPTIONS " + target + " HTTP/1.1\r\nHost: x\r\nOrigin: " + origin + "\r\nAccess-Control-Request-Method: " + method
           + "\r\nAccess-Control-Request-Headers: " + askedHeaders + "\r\n\r\n");
    RawResponse r = c.Receive();
    // The connection serves the next request: a 204 has no body to skip.
    if (r.status == 204 && (!c.Send(GetRequest("/healthz")) || c.Receive().status != 200)) r.status = -1;
    return r;
}

TEST(ServeOptions, PreflightsAreAnsweredOnlyForAllowedOrigins)
{
    struct Case {
        std::vector<std::string> origins;
        std::string origin, askedHeaders;
        int status;
        std::string allowOrigin, allowHeaders;
    };
    const std::vector<Case> cases = {
        {{}, "https://shop.example", "x-token", 405, "", ""},
        {{"*"}, "https://shop.example", "x-token, content-type", 204, "*", "x-token, content-type"},
        {{"https://a.example", "https://shop.example"}, "https://shop.example", "x-token", 204, "https://shop.example", "x-token"},
        {{"https://a.example", "https://shop.example"}, "https://evil.example", "x-token", 204, "", "x-token"},
        // A header list that is not names is not written back into the reply.
        {{"*"}, "https://shop.example", "x-token; evil=1", 204, "*", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.origin + " " + std::to_string(c.origins.size()));
        std::vector<std::string> args = SampleArgs();
        for (const std::string& o : c.origins) args.insert(args.end(), {"--allow-origin", o});
        ServeProcess server(args);
        ASSERT_NE(server.port(), 0);
        const RawResponse r = Preflight(server.port(), c.origin, c.askedHeaders);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.Header("access-control-allow-origin"), c.allowOrigin);
        EXPECT_EQ(r.Header("access-control-allow-headers"), c.allowHeaders);
        if (c.status != 204) {
            EXPECT_EQ(r.headers.count("vary"), 0u); // no CORS at all without --allow-origin
            continue;
        }
        EXPECT_EQ(r.headers.count("content-length"), 0u);
        EXPECT_NE(r.Header("access-control-allow-methods").find("GET"), std::string::npos);
        EXPECT_EQ(r.Header("access-control-max-age"), "86400");
        EXPECT_EQ(r.Header("vary"), "Origin");
        // The lookups then carry the same headers.
        const RawResponse get = Get(server.port(), "/api/search?zipcode=7300014", "Origin: " + c.origin + "\r\n");
        EXPECT_EQ(get.Header("access-control-allow-origin"), c.allowOrigin);
        EXPECT_EQ(get.Header("vary"), "Origin");
    }
    // The batch route, which takes POST alone, is preflighted too.
    ServeProcess server(SampleArgs({"--allow-origin", "*"}));
    ASSERT_NE(server.port(), 0);
    const RawResponse batch = Preflight(server.port(), "https://shop.example", "content-type", "/v1/find/batch", "POST");
    EXPECT_EQ(batch.status, 204);
    EXPECT_NE(batch.Header("access-control-allow-methods").find("POST"), std::string::npos);
}

TEST(ServeOptions, SettingsFileNamesTheDirectory)
{
    ServeProcess s({"--settings", std::string(UBIN_SAMPLE_DIR) + "ubscon.def", "--listen", "127.0.0.1:0", "--threads", "2"});
    ASSERT_NE(s.port(), 0);
    EXPECT_EQ(json::parse(Get(s.port(), "/api/search?zipcode=7300014").body)["results"][0]["address3"], "上幟町");
    EXPECT_NE(s.Lines()[0].find("with 2 threads"), std::string::npos) << s.Lines()[0];
}

TEST(ServeOptions, WrongArgumentsAndMissingDirectoriesEndWithAMessage)
{
    ServeProcess both({"--data", UBIN_SAMPLE_DIR, "--settings", "x.def"});
    EXPECT_EQ(both.Wait(10s), 2);
    ServeProcess listen({"--data", UBIN_SAMPLE_DIR, "--listen", "nowhere"});
    EXPECT_EQ(listen.Wait(10s), 2);
    ServeProcess missing({"--data", "/nonexistent/folder", "--listen", "127.0.0.1:0"});
    EXPECT_EQ(missing.Wait(10s), 1);
    EXPECT_FALSE(missing.Lines().empty());
}

// --- stopping -------------------------------------------------------------------------------------

TEST(ServeStop, SigtermFinishesTheRequestInFlightAndExitsZero)
{
    ServeProcess server(SampleArgs());
    ASSERT_NE(server.port(), 0);
    RawConnection c(server.port());
    c.Send(GetRequest("/healthz"));
    ASSERT_EQ(c.Receive().status, 200); // a worker serves this connection now
    std::this_thread::sleep_for(50ms);

    // Half a request, then the signal, then the rest: the reply still comes whole.
    c.Send("GET /api/search?zipcode=7300014 HTTP/1.1\r\nHost: x\r\n");
    server.Signal(SIGTERM);
    // The listening socket closes: new connections are refused.
    bool refused = false;
    for (int i = 0; i < 200 && !refused; ++i) {
        refused = !RawConnection(server.port()).connected();
        if (!refused) std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(refused);
    EXPECT_TRUE(server.Running());
    c.Send("\r\n");
    const RawResponse r = c.Receive();
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(json::parse(r.body)["results"][0]["address3"], "上幟町");
    EXPECT_EQ(server.Wait(15s), 0);
    EXPECT_EQ(server.Lines().back(), "ubin-serve: stopped");
}

TEST(ServeStop, SigtermUnderLoadAnswersEveryRequestWholeOrNotAtAll)
{
    ServeProcess server(SampleArgs({"--threads", "4"}));
    ASSERT_NE(server.port(), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> whole{0}, partial{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 4; ++i) {
        clients.emplace_back([&] {
            while (!stop) {
                RawConnection c(server.port());
                if (!c.connected()) break; // the server no longer listens
                if (!c.Send(GetRequest("/api/search?zipcode=7300014", "Connection: close\r\n"))) continue;
                const RawResponse r = c.Receive(10s);
                if (r.status == 200 && json::parse(r.body)["results"][0]["zipcode"] == "7300014") ++whole;
                else if (r.status != 0) ++partial; // a reply that is not the right one
            }
        });
    }
    std::this_thread::sleep_for(300ms);
    const std::optional<int> status = server.StopWith(SIGTERM, 15s);
    stop = true;
    for (auto& t : clients) t.join();
    EXPECT_EQ(status, 0);
    EXPECT_GT(whole.load(), 0);
    EXPECT_EQ(partial.load(), 0);
}

// --- offices and /v1/find ----------------------------------------------------------------------

TEST_F(Serve, OfficesAnswerWithTheirTownStreetAndName)
{
    const json r = Body(Get(server.port(), "/api/search?zipcode=1008111"));
    ASSERT_EQ(r["results"].size(), 1u);
    EXPECT_EQ(r["results"][0], json::parse(R"({"address1":"東京都","address2":"千代田区","address3":"千代田１－１宮内庁",
        "kana1":"ﾄｳｷｮｳﾄ","kana2":"ﾁﾖﾀﾞｸ","kana3":"","prefcode":"13","zipcode":"1008111"})"));
    const RawResponse js = Get(server.port(), "/yubinbango/100.js");
    const json data = json::parse(js.body.substr(7, js.body.size() - 8));
    EXPECT_EQ(data["1008950"], json::parse(R"([13,"千代田区","霞が関","１丁目２－１"])"));
    EXPECT_EQ(data["1000001"], json::parse(R"([13,"千代田区","千代田",""])")); // an area code stays an area
}

// jQuery_jpostal_callback([...]); as jquery.jpostal's script reads it.
json JpostalRecords(const RawResponse& r)
{
    const std::string prefix = "jQuery_jpostal_callback(";
    if (!r.body.starts_with(prefix) || !r.body.ends_with(");")) return json();
    return json::parse(r.body.substr(prefix.size(), r.body.size() - prefix.size() - 2));
}

json JpostalRecordOf(const json& records, const std::string& key)
{
    for (const json& record : records)
        if (record[0] == key) return record;
    return json();
}

TEST_F(Serve, JpostalDataHoldsEveryCodeUnderThePrefixAndThePrefixItself)
{
    const RawResponse r = Get(server.port(), "/jpostal/731.json?referer=x&callback=jQuery_jpostal_callback&_=1");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("content-type"), "text/javascript; charset=utf-8");
    const json records = JpostalRecords(r);
    ASSERT_TRUE(records.is_array()) << r.body.substr(0, 60);
    // Each code once, as yubinbango's data: the first of 三宅 and 三宅町.
    const std::string script = Get(server.port(), "/yubinbango/731.js").body;
    const json yubinbango = json::parse(script.substr(7, script.size() - 8));
    EXPECT_EQ(records.size(), yubinbango.size() + 1);
    for (const auto& [code, record] : yubinbango.items()) {
        SCOPED_TRACE(code);
        const json j = JpostalRecordOf(records, "_" + code);
        ASSERT_EQ(j.size(), 9u);
        EXPECT_EQ(j[1], "広島県");
        EXPECT_EQ(j[2], record[1]);
        EXPECT_EQ(j[3], record[2]);
    }
    EXPECT_EQ(JpostalRecordOf(records, "_7315143")[8], "ﾐﾔｹ");
    // The prefix's own record, last: 731 spans several cities, so only the prefecture.
    EXPECT_EQ(records.back(), json::parse(R"(["_731","広島県","","","","","ﾋﾛｼﾏｹﾝ","",""])"));
    EXPECT_EQ(JpostalRecords(Get(server.port(), "/jpostal/000.json")), json::array());
    for (const std::string& target : std::vector<std::string>{"/jpostal/73.json", "/jpostal/730.js", "/jpostal/abc.json"}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(Get(server.port(), target).status, 404);
    }
}

// Every byte outside the unreserved ASCII characters as %XX.
std::string PercentEncode(const std::string& text)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (std::isalnum(b) || c == '-' || c == '_' || c == '.' || c == '~') out += c;
        else out += std::string("%") + hex[b >> 4] + hex[b & 15];
    }
    return out;
}

TEST_F(Serve, FindAnswersExactlyWhatUbinFindPrints)
{
    LiveDirectory directory(FromUtf8(UBIN_SAMPLE_DIR), {.find = true});
    for (const std::string& q : std::vector<std::string>{"ぎんざ", "宮内庁", "730", "千代田区永田町９９", "どこにもない"}) {
        SCOPED_TRACE(q);
        const auto current = directory.Current();
        const std::string expected =
            FindJson(q, current->finder->Find(FromUtf8(q), 100), current->lookup->Edition()).dump();
        const RawResponse r = Get(server.port(), "/v1/find?q=" + PercentEncode(q));
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.Header("content-type"), "application/json; charset=utf-8");
        EXPECT_EQ(r.body, expected);
    }
    const json limited = Body(Get(server.port(), "/v1/find?q=730&limit=2"));
    EXPECT_EQ(limited["results"].size(), 2u);
    EXPECT_GT(limited["total"].get<int>(), 2);
    EXPECT_EQ(limited["truncated"], true);
    EXPECT_EQ(Body(Get(server.port(), "/v1/find?q=730&limit=0"))["results"].size(), limited["total"].get<std::size_t>());
    // However many are asked for, a reply holds at most 1,000 results; total counts them all.
    for (const char* limit : {"0", "1001", "999999999"}) {
        const json capped = Body(Get(server.port(), "/v1/find?q=" + PercentEncode("区") + "&limit=" + std::string(limit)));
        EXPECT_EQ(capped["results"].size(), 1000u) << limit;
        EXPECT_GT(capped["total"].get<std::size_t>(), 1000u);
        EXPECT_EQ(capped["truncated"], true);
    }
    for (const std::string& bad : std::vector<std::string>{"/v1/find", "/v1/find?q=", "/v1/find?q=x&limit=-1"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(Get(server.port(), bad).status, 400);
    }
}

} // namespace
} // namespace ubin::test

namespace ubin::test {
namespace {

RawResponse PostBatch(int port, const std::string& body, const std::string& method = "POST")
{
    RawConnection c(port);
    c.Send(method + " /v1/find/batch HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body);
    return c.Receive(std::chrono::seconds(60));
}

TEST_F(Serve, FindBatchAnswersEveryLineWithTheBestResultOfFind)
{
    LiveDirectory directory(FromUtf8(UBIN_SAMPLE_DIR), {.find = true});
    const auto current = directory.Current();
    const std::vector<std::string> queries = {"千代田区永田町９９", "", "ぎんざ", "どこにもない", "宮内庁", "730"};
    std::string body = "\xEF\xBB\xBF";
    for (const std::string& q : queries) body += q + "\r\n";
    const RawResponse r = PostBatch(server.port(), body + "bad\x01line\n\xC3\x28\n");
    ASSERT_EQ(r.status, 200);
    const json j = Body(r);
    EXPECT_EQ(j["edition"], json(current->lookup->Edition().ShortText()));
    ASSERT_EQ(j["results"].size(), queries.size() + 2);
    for (std::size_t i = 0; i < queries.size(); ++i) {
        SCOPED_TRACE(queries[i]);
        const json& row = j["results"][i];
        EXPECT_EQ(row["line"], i + 1);
        EXPECT_EQ(row["input"], queries[i]);
        const FindResult found = current->finder->Find(FromUtf8(queries[i]), 1);
        const std::string code = queries[i].empty() || found.results.empty() ? "" : ToUtf8(found.results[0].postalCode);
        EXPECT_EQ(row["postal_code"], code);
        EXPECT_EQ(row["candidates"], queries[i].empty() ? 0 : found.total);
        EXPECT_FALSE(row.contains("error"));
    }
    for (std::size_t i = queries.size(); i < queries.size() + 2; ++i) {
        EXPECT_TRUE(j["results"][i].contains("error")) << j["results"][i];
        EXPECT_FALSE(j["results"][i].contains("postal_code"));
    }
}

TEST_F(Serve, FindBatchRefusesOtherMethodsAndBodiesPastItsLimits)
{
    const RawResponse get = Get(server.port(), "/v1/find/batch");
    EXPECT_EQ(get.status, 405);
    EXPECT_EQ(get.Header("allow"), "POST");
    EXPECT_EQ(Body(get)["status"], 405);

    std::string lines;
    for (int i = 0; i < 10000; ++i) lines += "7300014\n";
    EXPECT_EQ(PostBatch(server.port(), lines).status, 200); // exactly the most lines
    const RawResponse tooMany = PostBatch(server.port(), lines + "7300014\n");
    EXPECT_EQ(tooMany.status, 413);
    EXPECT_EQ(Body(tooMany)["status"], 413);
    // A body past 1 MiB, announced (refused before it is read) and chunked (refused as it comes).
    EXPECT_EQ(PostBatch(server.port(), std::string((1 << 20) + 1, 'a')).status, 413);
    RawConnection chunked(server.port());
    std::string request = "POST /v1/find/batch HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 20; ++i) request += "10000\r\n" + std::string(0x10000, 'b') + "\r\n";
    chunked.Send(request + "0\r\n\r\n");
    EXPECT_EQ(chunked.Receive().status, 413);
    // Other routes still refuse a body as before.
    EXPECT_EQ(PostBatch(server.port(), "x").status, 200);
    RawConnection post(server.port());
    post.Send("POST /v1/find HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc");
    EXPECT_EQ(post.Receive().status, 405);
}

} // namespace
} // namespace ubin::test
