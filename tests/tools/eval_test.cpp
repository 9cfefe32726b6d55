// ubin eval on gold files written here: every area entry of a directory written as an address
// from its own parts (its town, a number inside its range, a floor of its building, a street or
// named part), and every office of JIGYOSYO.CSV at its own address with its own code. On the
// sample directory always; on Japan Post's full files when they are here, printing the figures
// the README quotes.
#include "base/cp932.h"
#include "base/csv.h"
#include "base/path_text.h"
#include "builder/builder.h"
#include "search/find.h"
#include "tests/support/temp_dir.h"
#include "tests/support/written_address.h"
#include "tools/ubin/cli.h"
#include "tools/ubin/eval_command.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <sstream>

using namespace ubin;
namespace fs = std::filesystem;

namespace {


std::string Quoted(const std::string& v) { return "\"" + v + "\""; }

// Every fourth row of the full files' gold files, or every tenth in a sanitizer build, where they
// would take too long: the report's shares are as telling over a quarter of the rows, and every
// entry's own round trip is the AddressRoundTrip suite's.
#ifdef UBIN_SANITIZED
constexpr std::size_t kEvery = 10;
#else
constexpr std::size_t kEvery = 4;
#endif

// The gold file of the round trip over a directory's area entries (every `every`th); the count
// of its rows.
std::size_t WriteRoundTripGold(const fs::path& folder, const fs::path& gold, std::size_t every = 1)
{
    const auto lookup = Lookup::Open(FromUtf8(PathToUtf8(folder) + "/"), true);
    const Finder finder(*lookup);
    const bool hasAddresses = finder.HasAddresses();
    EXPECT_TRUE(hasAddresses);
    std::string out = "address,postal_code\r\n";
    std::size_t rows = 0;
    for (std::int32_t n = 1; hasAddresses && n <= lookup->EntryCount(); n += static_cast<std::int32_t>(every)) {
        const AddressResolver& book = finder.Addresses();
        const std::u16string address = test::WrittenAddress(book, *book.Record(n));
        if (address.empty()) continue;
        out += Quoted(ToUtf8(address)) + "," + ToUtf8(lookup->ReadEntry(n).postalCode) + "\r\n";
        ++rows;
    }
    test::WriteBytes(gold, out);
    return rows;
}

// The gold file of JIGYOSYO.CSV's offices: prefecture, city, town and street, and the office's
// own code; the count of its rows.
std::size_t WriteOfficeGold(const fs::path& jigyosyo, const fs::path& gold, std::size_t every = 1)
{
    const std::string bytes = test::ReadBytes(jigyosyo);
    std::string_view rest = bytes;
    std::vector<std::string_view> fields;
    std::deque<std::string> scratch;
    std::string out = "address,postal_code\r\n";
    std::size_t rows = 0;
    for (std::size_t n = 0; !rest.empty(); ++n) {
        const std::string_view line = TakeLine(rest);
        if (n % every != 0) continue;
        scratch.clear();
        if (!SplitCsvRow(line, fields, scratch) || fields.size() < 8) continue;
        std::string address;
        for (std::size_t i = 3; i <= 6; ++i) address += ToUtf8(DecodeCp932(fields[i]));
        out += Quoted(address) + "," + std::string(fields[7]) + "\r\n";
        ++rows;
    }
    test::WriteBytes(gold, out);
    return rows;
}

nlohmann::json Eval(const std::string& folder, const fs::path& gold, std::string* text = nullptr)
{
    std::ostringstream out, err;
    const int status = RunUbin({"eval", "--data", folder, "--json", PathToUtf8(gold)}, {}, out, err);
    EXPECT_EQ(status, 0) << err.str();
    if (text) {
        std::ostringstream shown;
        RunUbin({"eval", "--data", folder, PathToUtf8(gold)}, {}, shown, err);
        *text = shown.str();
    }
    return status == 0 ? nlohmann::json::parse(out.str()) : nlohmann::json();
}

// The rows of every level add up to all rows, and each part's figures are shares of its rows.
void ExpectConsistent(const nlohmann::json& j)
{
    std::size_t rows = 0;
    for (const auto& [level, f] : j["by_level"].items()) {
        rows += f["rows"].get<std::size_t>();
        EXPECT_LE(f["correct"], f["answered"]) << level;
        EXPECT_LE(f["answered"], f["rows"]) << level;
    }
    EXPECT_EQ(rows, j["all"]["rows"]);
}

} // namespace

TEST(Eval, FiguresOfASmallGoldFile)
{
    test::TempDir t;
    // Right, wrong (the office's own code is the second candidate), nothing found, no code
    // (left out), a code without its leading 0.
    test::WriteBytes(t / "gold.csv", "住所,郵便番号\n"
                                     "千代田区永田町1-7-1,1000014\n"
                                     "東京都千代田区永田町１丁目７番１号,100-8960\n"
                                     "どこにもない所,1234567\n"
                                     "宮内庁,\n"
                                     "北海道小樽市天狗山1-2-3,470012\n");
    const nlohmann::json j = Eval(UBIN_SAMPLE_DIR, t / "gold.csv");
    EXPECT_EQ(j["skipped"], 1);
    EXPECT_EQ(j["all"]["rows"], 4);
    EXPECT_EQ(j["all"]["answered"], 3);
    EXPECT_EQ(j["all"]["correct"], 2);
    EXPECT_EQ(j["all"]["in_candidates"], 3);
    EXPECT_DOUBLE_EQ(j["all"]["coverage"].get<double>(), 0.75);
    EXPECT_DOUBLE_EQ(j["all"]["precision"].get<double>(), 2.0 / 3);
    EXPECT_EQ(j["by_reason"]["offices_at_address"]["rows"], 2);
    EXPECT_EQ(j["by_reason"]["offices_at_address"]["correct"], 1);
    ExpectConsistent(j);

    // Without a header row, the first row is measured too.
    test::WriteBytes(t / "bare.csv", "千代田区永田町1-7-1,1000014\n");
    EXPECT_EQ(Eval(UBIN_SAMPLE_DIR, t / "bare.csv")["all"]["correct"], 1);
    std::ostringstream out, err;
    EXPECT_EQ(RunUbin({"eval", "--data", UBIN_SAMPLE_DIR, PathToUtf8(t / "none.csv")}, {}, out, err), 2);
}

TEST(Eval, RoundTripAndOfficesOverTheSample)
{
    test::TempDir t;
    const std::size_t areas = WriteRoundTripGold(UBIN_SAMPLE_DIR, t / "areas.csv");
    const std::size_t offices = WriteOfficeGold(UBIN_SAMPLE_JIGYOSYO, t / "offices.csv");
    ASSERT_GT(areas, 1000u);
    ASSERT_GT(offices, 500u);
    const nlohmann::json a = Eval(UBIN_SAMPLE_DIR, t / "areas.csv");
    EXPECT_EQ(a["all"]["rows"], areas);
    EXPECT_GE(a["all"]["precision"].get<double>(), 0.99);
    EXPECT_GE(a["all"]["coverage"].get<double>(), 0.99);
    ExpectConsistent(a);
    const nlohmann::json o = Eval(UBIN_SAMPLE_DIR, t / "offices.csv");
    EXPECT_EQ(o["all"]["rows"], offices);
    EXPECT_GE(o["all"]["coverage"].get<double>(), 0.95);
    EXPECT_GE(o["all"]["candidate_share"].get<double>(), 0.9);
    ExpectConsistent(o);
}

// The figures the README quotes, on Japan Post's full files.
TEST(Eval, RoundTripAndOfficesOverTheFullFiles)
{
    const fs::path kenAll = UBIN_FULL_KEN_ALL, jigyosyo = UBIN_FULL_JIGYOSYO;
    if (!fs::exists(kenAll) || !fs::exists(jigyosyo)) GTEST_SKIP() << "the full KEN_ALL.CSV and JIGYOSYO.CSV are not here";
    test::TempDir t;
    BuildOptions options;
    options.offices = jigyosyo;
    BuildDirectory(kenAll, t / "dir", options);
    const std::string folder = PathToUtf8(t / "dir");
    WriteRoundTripGold(t / "dir", t / "areas.csv", kEvery);
    WriteOfficeGold(jigyosyo, t / "offices.csv", kEvery);
    for (const char* gold : {"areas.csv", "offices.csv"}) {
        std::string text;
        const nlohmann::json j = Eval(folder, t / gold, &text);
        std::printf("%s\n", text.c_str());
        ExpectConsistent(j);
        EXPECT_GE(j["all"]["coverage"].get<double>(), 0.98) << gold;
        // An office's address answers first with its town's code, its own code after it.
        if (std::string(gold) == "areas.csv") EXPECT_GE(j["all"]["precision"].get<double>(), 0.99);
        else EXPECT_GE(j["all"]["candidate_share"].get<double>(), 0.85);
    }
}
