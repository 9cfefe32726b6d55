// The service without HTTP: the replies it keeps are the replies it makes; the edition it names.
#include "tools/ubin-serve/service.h"

#include "base/cp932.h"
#include "directory/manifest.h"
#include "tests/support/japan_post_rows.h"
#include "tests/support/temp_dir.h"
#include "builder/builder.h"

#include <gtest/gtest.h>

#include <thread>

namespace ubin::serve {
namespace {

TEST(ReplyCache, KeepsBodiesByKeyUpToItsCapacity)
{
    ReplyCache cache(64); // two per part
    EXPECT_EQ(cache.Find("a"), std::nullopt);
    cache.Insert("a", "body a");
    EXPECT_EQ(cache.Find("a"), "body a");
    // Many more keys than it holds: memory stays bounded, and what it still finds is right.
    for (int i = 0; i < 10000; ++i) cache.Insert("k" + std::to_string(i), "v" + std::to_string(i));
    int kept = 0;
    for (int i = 0; i < 10000; ++i) {
        if (const auto body = cache.Find("k" + std::to_string(i))) {
            EXPECT_EQ(*body, "v" + std::to_string(i));
            ++kept;
        }
    }
    EXPECT_GT(kept, 0);
    EXPECT_LE(kept, 64);

    ReplyCache none(0);
    none.Insert("a", "body a");
    EXPECT_EQ(none.Find("a"), std::nullopt);
}

TEST(ReplyCache, ServesManyThreadsAtOnce)
{
    ReplyCache cache(1024);
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5000; ++i) {
                const std::string key = std::to_string((i * 7 + t) % 2000);
                if (const auto body = cache.Find(key)) {
                    if (*body != "v" + key) ++wrong;
                } else {
                    cache.Insert(key, "v" + key);
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

// Each code of the sample twice through a service that keeps replies, and once through one
// that keeps none: the same bytes, for every limit and callback.
TEST(Service, KeptRepliesAreTheRepliesItMakes)
{
    LiveDirectory directory(FromUtf8(UBIN_SAMPLE_DIR), {.mapped = true, .find = true});
    const Service keeping(directory);
    const Service fresh(directory, 0);
    for (const std::string code : {"7300014", "7315143", "7300000", "9999999", "1000003"}) {
        for (const Params& extra : {Params{}, Params{{"limit", "1"}}, Params{{"callback", "cb"}}}) {
            Params params = extra;
            params.emplace("zipcode", code);
            const Reply made = fresh.ApiSearch(params);
            for (int round = 0; round < 2; ++round) {
                SCOPED_TRACE(code + " round " + std::to_string(round));
                const Reply r = keeping.ApiSearch(params);
                EXPECT_EQ(r.status, made.status);
                EXPECT_EQ(r.contentType, made.contentType);
                EXPECT_EQ(r.cacheControl, made.cacheControl);
                EXPECT_EQ(r.body, made.body);
            }
        }
    }
    for (const std::string prefix : {"730", "731", "000"}) {
        EXPECT_EQ(keeping.YubinbangoData(prefix).body, fresh.YubinbangoData(prefix).body);
        EXPECT_EQ(keeping.YubinbangoData(prefix).body, fresh.YubinbangoData(prefix).body);
    }
    // A limit is part of what is kept: the full list after the cut one.
    Params one{{"zipcode", "7315143"}, {"limit", "1"}}, all{{"zipcode", "7315143"}};
    EXPECT_NE(keeping.ApiSearch(one).body, keeping.ApiSearch(all).body);
}

// A query that is no text to search is refused with 400 and a message of its own before any
// search: too long after normalization, a control character, or bytes that are not UTF-8 (an
// overlong form or a surrogate, which a lenient decoder would take).
TEST(Service, FindRefusesQueriesItCannotSearch)
{
    LiveDirectory directory(FromUtf8(UBIN_SAMPLE_DIR), {.mapped = true, .find = true});
    const Service service(directory, 0);
    const struct {
        std::string q;
        const char* message;
    } cases[] = {
        {std::string(1 << 20, 'a'), message::kQueryTooLong},
        {std::string(257, 'a'), message::kQueryTooLong},
        {"\x01", message::kQueryControl},
        {"銀座\t", message::kQueryControl},
        {"\xC2\x85", message::kQueryControl}, // U+0085, a control character of Latin-1
        {"\xC0\xAF", message::kBadUtf8},
        {"\xED\xA0\x80", message::kBadUtf8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.q.substr(0, 20));
        const Reply r = service.Find({{"q", c.q}});
        EXPECT_EQ(r.status, 400);
        EXPECT_EQ(nlohmann::json::parse(r.body)["message"], c.message) << r.body;
    }
    // The longest query is taken, and blanks do not count towards it.
    EXPECT_EQ(service.Find({{"q", std::string(256, 'a')}}).status, 200);
    EXPECT_EQ(service.Find({{"q", std::string(600, ' ') + "ぎんざ"}}).status, 200);
}

} // namespace
} // namespace ubin::serve

namespace ubin::serve {
namespace {

// Directories of three editions, one of them from before editions were recorded: /healthz and
// the header every reply carries.
TEST(Service, HealthAndEveryReplyNameTheEditionAndSayWhenItIsStale)
{
    test::TempDir dir;
    const YearMonth now = MonthOf(std::chrono::system_clock::now());
    struct Case {
        std::string edition; // "-": a manifest without an edition
        std::optional<int> maxAge;
        bool stale;
        std::string header;
    };
    const std::vector<Case> cases = {
        {"2020-01", 3, true, "2020-01"},
        {"2020-01", std::nullopt, false, "2020-01"},
        {FormatYearMonth(now), 0, false, FormatYearMonth(now)},
        {"-", 3, true, "unknown"},
        {"-", std::nullopt, false, "unknown"},
    };
    test::WriteBytes(dir / "ken_all.csv",
                     test::KenAllText({{"01101", "0600000", "ﾎｯｶｲﾄﾞｳ", "ｻｯﾎﾟﾛｼ", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ", "北海道", "札幌市",
                                        "以下に掲載がない場合"}}));
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.edition);
        const auto folder = dir / ("d" + std::to_string(++n));
        BuildOptions options;
        if (c.edition != "-") options.edition = c.edition;
        BuildDirectory(dir / "ken_all.csv", folder, options);
        if (c.edition == "-") {
            Manifest m = *ReadManifest(folder / "MANIFEST.TXT");
            m.edition.clear();
            m.editionGuessed = false;
            test::WriteBytes(folder / "MANIFEST.TXT", FormatManifest(m));
        }
        LiveDirectory directory(FromUtf8(folder.string() + "/"), {});
        const Service service(directory, 0, c.maxAge);
        const auto health = nlohmann::json::parse(service.Health().body);
        EXPECT_EQ(health["stale"], c.stale);
        if (c.edition == "-") EXPECT_TRUE(health["edition"].is_null());
        else EXPECT_EQ(health["edition"], c.edition);
        EXPECT_EQ(health["edition_guessed"], false);
        EXPECT_EQ(service.Health().edition, c.header);
        EXPECT_EQ(service.CurrentEditionName(), c.header);
    }
}

} // namespace
} // namespace ubin::serve

namespace ubin::serve {
namespace {

// A reply names the edition its body was made from, as the server's X-Ubin-Edition sends it,
// however the folder changes after it was made.
TEST(Service, EachReplyNamesTheEditionThatMadeItsBody)
{
    test::TempDir dir;
    test::WriteBytes(dir / "ken_all.csv",
                     test::KenAllText({{"01101", "0600000", "ﾎｯｶｲﾄﾞｳ", "ｻｯﾎﾟﾛｼ", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ", "北海道", "札幌市",
                                        "以下に掲載がない場合"}}));
    const auto folder = dir / "data";
    BuildOptions options;
    options.edition = "2020-01";
    BuildDirectory(dir / "ken_all.csv", folder, options);
    LiveDirectory directory(FromUtf8(folder.string() + "/"), {.find = true, .checkEvery = std::chrono::milliseconds(0)});
    const Service service(directory, 0);
    const auto edition = [](const Reply& r) { return nlohmann::json::parse(r.body)["edition"]; };

    const Reply health = service.Health();
    const Reply find = service.Find({{"q", "札幌"}});
    options.edition = "2020-02";
    BuildDirectory(dir / "ken_all.csv", folder, options);
    const Reply after = service.Health();
    EXPECT_EQ(health.edition, "2020-01");
    EXPECT_EQ(edition(health), health.edition);
    EXPECT_EQ(find.edition, "2020-01");
    EXPECT_EQ(edition(find), find.edition);
    EXPECT_EQ(after.edition, "2020-02");
    EXPECT_EQ(edition(after), after.edition);
    // Every route of the directory names it too, its refusals included.
    for (const Reply& r : {service.ApiSearch({{"zipcode", "0600000"}}), service.Prefectures(), service.Cities("99"),
                           service.Towns("1", "nowhere"), service.YubinbangoData("060"), service.JpostalData("060")})
        EXPECT_EQ(r.edition, "2020-02") << r.body.substr(0, 60);
}

} // namespace
} // namespace ubin::serve
