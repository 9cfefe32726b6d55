// ubin find --batch on the sample directory: the answers come back in the list's order whatever
// the threads, a bad line gives an error row and never a stop, code page 932 input, CSV columns
// with quoted fields, and the command's output and exit status.
#include "base/cp932.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/run_ubin.h"
#include "tools/ubin/batch_command.h"
#include "tools/ubin/cli.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <sstream>

using namespace ubin;
using ubin::test::Ubin;
using ubin::test::UbinOutcome;

namespace {

struct Directory {
    std::unique_ptr<Lookup> lookup = Lookup::Open(FromUtf8(UBIN_SAMPLE_DIR));
    Finder finder{*lookup};
};

Directory& Sample()
{
    static Directory d;
    return d;
}

// The answers of the lines on `threads` threads, as strings in the order they were handed back.
std::vector<std::string> Answers(const std::vector<BatchLine>& lines, unsigned threads)
{
    std::vector<std::string> out;
    AnswerInOrder(Sample().finder, lines, threads, [&](const BatchLine& line, const BatchAnswer& a) {
        out.push_back(BatchAnswerJson(line, a).dump());
    });
    return out;
}

UbinOutcome RunBatch(std::vector<std::string> args, std::string_view file)
{
    test::TempDir t;
    test::WriteBytes(t / "list.csv", file);
    args.insert(args.begin(), {"find", "--data", UBIN_SAMPLE_DIR, "--batch"});
    args.push_back((t / "list.csv").string());
    return Ubin(args);
}

} // namespace

// Many lines of every kind, answered on more threads than the machine has cores, in small
// chunks: the same answers in the same order as on one thread.
TEST(FindBatch, KeepsTheOrderOfTheLinesAcrossThreads)
{
    const Lookup& lookup = *Sample().lookup;
    std::vector<BatchLine> lines;
    for (std::int32_t n = 1; lines.size() < 3000; n = n % lookup.EntryCount() + 1) {
        const Entry e = lookup.ReadEntry(n);
        for (const std::u16string& q : {e.postalCode, e.city + e.town, e.townKana, std::u16string(u"ない町")})
            lines.push_back(DecodeBatchLine(lines.size() + 1, ToUtf8(q), false));
    }
    const std::vector<std::string> one = Answers(lines, 1);
    ASSERT_EQ(one.size(), lines.size());
    for (const unsigned threads : {2u, 7u, 0u}) {
        SCOPED_TRACE(threads);
        EXPECT_EQ(Answers(lines, threads), one);
    }
}

// Each kind of bad line gives its error and nothing else; the lines around it are answered.
TEST(FindBatch, BadLinesGiveErrorRowsAndTheRestIsAnswered)
{
    const struct {
        std::string bytes, error, shown;
    } cases[] = {
        {"広島\xFF\xFE市", batch_message::kNotUtf8, "広島\xEF\xBF\xBD市"},
        {"中区\x07上幟町", batch_message::kControl, "中区\x07上幟町"},
        {std::string(300, 'a'), batch_message::kTooLong, std::string(300, 'a')},
        {"", "", ""},
        {" \xE3\x80\x80 ", "", " \xE3\x80\x80 "}, // blanks alone, a full-width one among them
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        const BatchInput input = ReadBatchInput("7300014\n" + c.bytes + "\n宮内庁\n", 0, false);
        ASSERT_EQ(input.lines.size(), 3u);
        EXPECT_FALSE(input.cp932);
        std::vector<BatchAnswer> answers;
        AnswerInOrder(Sample().finder, input.lines, 2, [&](const BatchLine&, const BatchAnswer& a) { answers.push_back(a); });
        EXPECT_EQ(input.lines[1].input, c.shown);
        EXPECT_EQ(answers[1].error, c.error);
        EXPECT_EQ(answers[1].empty, c.error.empty());
        EXPECT_EQ(answers[1].postalCode + answers[1].match + answers[1].level + answers[1].address, "");
        EXPECT_EQ(answers[0].postalCode, "7300014");
        EXPECT_EQ(answers[2].postalCode, "1008111");
    }
}

// A file in code page 932 is read as such and answers as its UTF-8 twin; a UTF-8 file with one
// damaged line stays UTF-8.
TEST(FindBatch, ReadsCodePage932AndKeepsUtf8WithADamagedLine)
{
    const std::u16string text = u"広島県広島市中区上幟町\r\nぎんざ\r\n宮内庁\r\n";
    const BatchInput sjis = ReadBatchInput(EncodeCp932(text), 0, false);
    const BatchInput utf8 = ReadBatchInput("\xEF\xBB\xBF" + ToUtf8(text), 0, false);
    EXPECT_TRUE(sjis.cp932);
    EXPECT_FALSE(utf8.cp932);
    EXPECT_EQ(Answers(sjis.lines, 2), Answers(utf8.lines, 2));
    EXPECT_EQ(sjis.lines[1].input, "ぎんざ");

    const BatchInput damaged = ReadBatchInput(ToUtf8(text) + EncodeCp932(u"銀座") + "\n", 0, false);
    EXPECT_FALSE(damaged.cp932);
    EXPECT_EQ(damaged.lines[3].error, batch_message::kNotUtf8);
    EXPECT_EQ(damaged.lines[0].input, "広島県広島市中区上幟町");
}

TEST(FindBatch, TakesOneColumnOfCsvWithQuotedFields)
{
    const std::string csv = "id,住所,memo\r\n"
                            "1,\"広島県広島市中区上幟町1-2\",x\r\n"
                            "2,\"永田町, \"\"本館\"\"\",\"y,z\"\r\n"
                            "3,\"宮内庁\n別館\",z\n"
                            "4\r\n"
                            "5,last";
    const struct {
        std::size_t column;
        bool header;
        std::vector<std::string> inputs;
        std::vector<std::size_t> numbers;
    } cases[] = {
        {2, true, {"広島県広島市中区上幟町1-2", "永田町, \"本館\"", "宮内庁\n別館", "", "last"}, {2, 3, 4, 5, 6}},
        {3, false, {"memo", "x", "y,z", "z", "", ""}, {1, 2, 3, 4, 5, 6}},
        {1, true, {"1", "2", "3", "4", "5"}, {2, 3, 4, 5, 6}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.column);
        const BatchInput input = ReadBatchInput(csv, c.column, c.header);
        std::vector<std::string> inputs;
        std::vector<std::size_t> numbers;
        for (const BatchLine& l : input.lines) {
            inputs.push_back(l.input);
            numbers.push_back(l.number);
        }
        EXPECT_EQ(inputs, c.inputs);
        EXPECT_EQ(numbers, c.numbers);
    }
}

// The command: CSV with its header row, JSON lines, the summary, the exit status.
TEST(FindBatch, CommandWritesRowsInOrderAndSaysHowManyFoundACode)
{
    const UbinOutcome all = RunBatch({"--column", "2", "--header"}, "no,address\n1,7300014\n2,\"宮内庁\"\n");
    EXPECT_EQ(all.status, 0) << all.err;
    // The input's columns, then the answer's.
    std::string header = "no,address";
    for (const std::string& c : kBatchColumns) header += "," + c;
    EXPECT_EQ(all.out.substr(0, all.out.find('\r')), header);
    EXPECT_NE(all.out.find("\r\n1,7300014,7300014,広島県,"), std::string::npos) << all.out;
    EXPECT_LT(all.out.find("1,7300014,7300014"), all.out.find("2,宮内庁,1008111,"));
    EXPECT_NE(all.err.find("2 件中 2 件で郵便番号が見つかりました"), std::string::npos) << all.err;
    EXPECT_EQ(all.err.find('\r'), std::string::npos); // no bar when err is no terminal

    const UbinOutcome some = RunBatch({"--json", "--threads", "2"}, "どこにもない町\n宮内庁\n\x01\n");
    EXPECT_EQ(some.status, 1);
    std::vector<nlohmann::json> rows;
    std::istringstream lines(some.out);
    for (std::string l; std::getline(lines, l);) rows.push_back(nlohmann::json::parse(l));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0]["postal_code"], "");
    EXPECT_EQ(rows[1]["line"], 2);
    EXPECT_EQ(rows[1]["postal_code"], "1008111");
    EXPECT_EQ(rows[2]["error"], batch_message::kControl);
    EXPECT_NE(some.err.find("3 件中 1 件で郵便番号が見つかりました（見つからなかったもの 1 件、エラー 1 件"), std::string::npos)
        << some.err;

    for (const std::vector<std::string>& usage : {std::vector<std::string>{"--csv"}, {"--column", "0"}}) {
        EXPECT_EQ(RunBatch(usage, "x\n").status, 2);
    }
    std::ostringstream out, err;
    EXPECT_EQ(RunUbin({"find", "--data", UBIN_SAMPLE_DIR, "--batch", "/nonexistent/list.txt"}, {}, out, err), 2);
    EXPECT_EQ(RunUbin({"find", "--data", UBIN_SAMPLE_DIR, "--header", "宮内庁"}, {}, out, err), 2);
}

namespace {

// A customer list as people keep one: extra columns, a line break and a comma inside quoted
// fields, an empty address, codes written in several ways (some wrong, one that lost its
// leading 0, one that is no code), a code written before an address.
const char kList[] = "id,name,address,code\r\n"
                     "1,\"山田\n太郎\",\"東京都千代田区永田町1-7-1 101号室\",100-0014\r\n"
                     "2,\"佐藤, 花子\",広島市中区上幟町8-1 上幟ビル3F,7300015\r\n"
                     "3,,広島県広島市中区存在しない町1,\r\n"
                     "4,x,千代田区丸の内2-7-2 JPタワー30階,〒1007030\r\n"
                     "5,,,\r\n"
                     "6,y,北海道小樽市天狗山1-2-3,470012\r\n"
                     "7,z,ぎんざ,abc\r\n"
                     "8,w,〒100-0015 東京都千代田区永田町１丁目７番１号,\r\n";

// Every column of every row of kList's answer, by name.
const std::vector<std::map<std::string, std::string>> kListAnswers = {
    {{"id", "1"}, {"name", "山田\n太郎"}, {"address", "東京都千代田区永田町1-7-1 101号室"}, {"code", "100-0014"},
     {"postal_code", "1000014"}, {"prefecture", "東京都"}, {"city", "千代田区"}, {"town", "永田町"}, {"chome", "1"},
     {"banchi", "7"}, {"go", "1"}, {"room", "101"}, {"normalized_address", "東京都千代田区永田町1丁目7-1 101号室"},
     {"match", "address"}, {"level", "number"}, {"reasons", "offices_at_address"}, {"candidates", "3"},
     {"text_used", "100"}, {"confidence", "high"}, {"review", "no"}, {"code_check", "same"}},
    {{"id", "2"}, {"name", "佐藤, 花子"}, {"address", "広島市中区上幟町8-1 上幟ビル3F"}, {"code", "7300015"},
     {"postal_code", "7300014"}, {"prefecture", "広島県"}, {"city", "広島市中区"}, {"town", "上幟町"}, {"banchi", "8"},
     {"go", "1"}, {"building", "上幟ビル"}, {"floor", "3"}, {"normalized_address", "広島県広島市中区上幟町8-1 上幟ビル3階"},
     {"match", "address"}, {"level", "number"}, {"reasons", "prefecture_omitted;code_mismatch"}, {"candidates", "1"},
     {"text_used", "100"}, {"confidence", "high"}, {"review", "yes"}, {"code_check", "differs"}},
    {{"id", "3"}, {"address", "広島県広島市中区存在しない町1"}, {"postal_code", "7300000"}, {"prefecture", "広島県"},
     {"city", "広島市中区"}, {"rest", "存在しない町1"}, {"normalized_address", "広島県広島市中区存在しない町1"},
     {"match", "address"}, {"level", "city"}, {"reasons", "city_catch_all;text_unused"}, {"candidates", "1"},
     {"text_used", "53"}, {"confidence", "low"}, {"review", "yes"}},
    {{"id", "4"}, {"name", "x"}, {"address", "千代田区丸の内2-7-2 JPタワー30階"}, {"code", "〒1007030"},
     {"postal_code", "1007030"}, {"prefecture", "東京都"}, {"city", "千代田区"}, {"town", "丸の内"}, {"chome", "2"},
     {"banchi", "7"}, {"go", "2"}, {"building", "JPタワー"}, {"floor", "30"},
     {"normalized_address", "東京都千代田区丸の内2丁目7-2 JPタワー30階"}, {"match", "address"}, {"level", "number"},
     {"reasons", "building_matched;prefecture_omitted;offices_at_address"}, {"candidates", "4"}, {"text_used", "100"},
     {"confidence", "high"}, {"review", "no"}, {"code_check", "same"}},
    {{"id", "5"}, {"review", "yes"}},
    {{"id", "6"}, {"name", "y"}, {"address", "北海道小樽市天狗山1-2-3"}, {"code", "470012"}, {"postal_code", "0470012"},
     {"prefecture", "北海道"}, {"city", "小樽市"}, {"town", "天狗山"}, {"chome", "1"}, {"banchi", "2"}, {"go", "3"},
     {"normalized_address", "北海道小樽市天狗山1丁目2-3"}, {"match", "address"}, {"level", "number"}, {"candidates", "1"},
     {"text_used", "100"}, {"confidence", "high"}, {"review", "no"}, {"code_check", "same"}},
    {{"id", "7"}, {"name", "z"}, {"address", "ぎんざ"}, {"code", "abc"}, {"postal_code", "1040061"}, {"prefecture", "東京都"},
     {"city", "中央区"}, {"town", "銀座"}, {"normalized_address", "東京都中央区銀座"}, {"match", "reading"},
     {"reasons", "reading;code_unreadable"}, {"candidates", "1"}, {"text_used", "100"}, {"confidence", "medium"},
     {"review", "yes"}, {"code_check", "unreadable"}},
    {{"id", "8"}, {"name", "w"}, {"address", "〒100-0015 東京都千代田区永田町１丁目７番１号"}, {"postal_code", "1000014"},
     {"prefecture", "東京都"}, {"city", "千代田区"}, {"town", "永田町"}, {"chome", "1"}, {"banchi", "7"}, {"go", "1"},
     {"normalized_address", "東京都千代田区永田町1丁目7-1"}, {"match", "address"}, {"level", "number"},
     {"reasons", "offices_at_address;code_before_address;code_mismatch"}, {"candidates", "3"}, {"text_used", "100"},
     {"confidence", "high"}, {"review", "yes"}},
};

std::string Utf8Text(const std::string& bytes, OutputEncoding encoding)
{
    if (encoding == OutputEncoding::Cp932) return ToUtf8(DecodeCp932(bytes));
    return encoding == OutputEncoding::Utf8Bom ? bytes.substr(3) : bytes;
}

} // namespace

// The whole list in each input encoding and each output encoding: every input column kept in
// order, every answer column as kListAnswers says, the texts of the reasons beside their codes.
TEST(FindBatch, KeepsEveryColumnAndAnswersInEachOfItsOwn)
{
    const std::string utf8 = std::string("\xEF\xBB\xBF") + kList;
    const std::string sjis = EncodeCp932(FromUtf8(kList));
    const struct {
        std::string input;
        std::vector<std::string> options;
        OutputEncoding output;
    } cases[] = {
        {utf8, {}, OutputEncoding::Utf8},
        {utf8, {"--excel"}, OutputEncoding::Utf8Bom},
        {sjis, {}, OutputEncoding::Utf8},
        {sjis, {"--input-encoding", "cp932", "--output-encoding", "cp932"}, OutputEncoding::Cp932},
    };
    std::string first;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options) + (c.input == sjis ? " from CP932" : " from UTF-8"));
        std::vector<std::string> args = {"--column", "address", "--header", "--code-column", "code", "--threads", "2"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const UbinOutcome run = RunBatch(args, c.input);
        EXPECT_EQ(run.status, 0) << run.err; // the empty row is no failure
        EXPECT_EQ(run.out.starts_with("\xEF\xBB\xBF"), c.output == OutputEncoding::Utf8Bom);
        const std::string text = Utf8Text(run.out, c.output);
        if (first.empty()) first = text;
        EXPECT_EQ(text, first); // the same answer whatever the encodings
        const std::vector<std::vector<std::string>> rows = SplitCsv(text);
        ASSERT_EQ(rows.size(), kListAnswers.size() + 1);
        std::vector<std::string> header = {"id", "name", "address", "code"};
        header.insert(header.end(), kBatchColumns.begin(), kBatchColumns.end());
        EXPECT_EQ(rows[0], header);
        for (std::size_t r = 0; r < kListAnswers.size(); ++r) {
            ASSERT_EQ(rows[r + 1].size(), header.size()) << r;
            for (std::size_t i = 0; i < header.size(); ++i) {
                const auto want = kListAnswers[r].find(header[i]);
                const std::string& got = rows[r + 1][i];
                if (header[i] == "reason_texts") {
                    std::string texts;
                    std::istringstream codes(rows[r + 1][i - 1]);
                    for (std::string code; std::getline(codes, code, ';');) {
                        Reason reason;
                        EXPECT_TRUE(ReasonOfCode(code, reason)) << code;
                        texts += Info(reason).text;
                    }
                    EXPECT_EQ(got, texts) << "row " << r + 1;
                } else {
                    EXPECT_EQ(got, want == kListAnswers[r].end() ? "" : want->second) << "row " << r + 1 << " column " << header[i];
                }
            }
        }
    }
}

// JSON lines carry the row's own fields beside the answer; JSON is UTF-8 alone.
TEST(FindBatch, JsonLinesCarryTheFieldsAndTheReasons)
{
    const UbinOutcome run = RunBatch({"--json", "--column", "3", "--header", "--code-column", "4"}, kList);
    std::vector<nlohmann::json> rows;
    std::istringstream lines(run.out);
    for (std::string l; std::getline(lines, l);) rows.push_back(nlohmann::json::parse(l));
    ASSERT_EQ(rows.size(), kListAnswers.size());
    EXPECT_EQ(rows[0]["fields"], nlohmann::json({"1", "山田\n太郎", "東京都千代田区永田町1-7-1 101号室", "100-0014"}));
    EXPECT_EQ(rows[1]["reasons"][1]["code"], "code_mismatch");
    EXPECT_EQ(rows[1]["reasons"][1]["text"], Info(Reason::CodeMismatch).text);
    EXPECT_EQ(rows[1]["review"], true);
    EXPECT_EQ(rows[1]["building"], "上幟ビル");
    EXPECT_EQ(RunBatch({"--json", "--excel"}, kList).status, 2);
    EXPECT_EQ(RunBatch({"--column", "住所", "--header"}, kList).status, 2); // no such column
    EXPECT_EQ(RunBatch({"--column", "address"}, kList).status, 2);          // a name needs --header
    EXPECT_EQ(RunBatch({"--code-column", "2"}, kList).status, 2);           // a code column needs --column
}

// The summary a person reads: the rows per level and reason, the town not found (twice, and
// written with markup that the page must not run), the codes that disagreed; the same figures
// on the HTML page, marked for scripts.
TEST(FindBatch, ReportCountsLevelsReasonsTownsAndDisagreeingCodes)
{
    test::TempDir t;
    const std::string list = std::string(kList) + "9,,広島県広島市中区<b>町 1-2,\r\n10,,広島県広島市中区<b>町,\r\n";
    test::WriteBytes(t / "list.csv", list);
    for (const std::string name : {"report.txt", "report.html"}) {
        SCOPED_TRACE(name);
        std::ostringstream out, err;
        const int status = RunUbin({"find", "--data", UBIN_SAMPLE_DIR, "--batch", "--column", "address", "--header",
                                    "--code-column", "code", "--report", (t / name).string(), (t / "list.csv").string()},
                                   {}, out, err);
        EXPECT_EQ(status, 0) << err.str();
        const std::string report = test::ReadBytes(t / name);
        if (name == "report.txt") {
            EXPECT_NE(report.find("郵便番号が見つかった行: 9 / 10（90.0%）、要確認: 7 行"), std::string::npos) << report;
            EXPECT_NE(report.find("        5   50.0%  ###############                 番地まで一致 (number)"), std::string::npos) << report;
            EXPECT_NE(report.find("        2   20.0%  ######                          広島県広島市中区 <b>町"), std::string::npos) << report;
            EXPECT_NE(report.find("書かれた郵便番号と違った行: 2 行"), std::string::npos) << report;
            // Rows as the file counts them, its header row first.
            EXPECT_NE(report.find("3 行目  書かれた 730-0015  答え 730-0014  広島県広島市中区上幟町8-1 上幟ビル3階"), std::string::npos)
                << report;
            EXPECT_NE(report.find("9 行目  書かれた 100-0015  答え 100-0014"), std::string::npos); // written before the address
        } else {
            EXPECT_TRUE(report.starts_with("<!DOCTYPE html>"));
            EXPECT_EQ(report.find("<b>町"), std::string::npos); // the town's markup is text
            EXPECT_NE(report.find("&lt;b&gt;町"), std::string::npos);
            EXPECT_NE(report.find("data-key=\"number\" data-rows=\"5\""), std::string::npos);
            EXPECT_NE(report.find("data-key=\"city_catch_all\" data-rows=\"3\""), std::string::npos);
            EXPECT_NE(report.find("id=\"mismatches\" data-rows=\"2\""), std::string::npos);
            EXPECT_NE(report.find("<span style=\"width:50.0%\">"), std::string::npos);
            // Nothing to fetch: no script, style sheet or image from elsewhere.
            for (const char* outside : {"src=", "href=", "@import", "url("}) EXPECT_EQ(report.find(outside), std::string::npos) << outside;
        }
    }
    std::ostringstream out, err;
    EXPECT_EQ(RunUbin({"find", "--data", UBIN_SAMPLE_DIR, "--batch", "--report", (t / "list.csv" / "r.txt").string(),
                       (t / "list.csv").string()},
                      {}, out, err),
              2);
}
