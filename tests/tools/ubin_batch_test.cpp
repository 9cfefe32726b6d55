// ubin find --batch on the sample directory: the answers come back in the list's order whatever
// the threads, a bad line gives an error row and never a stop, code page 932 input, CSV columns
// with quoted fields, and the command's output and exit status.
#include "base/cp932.h"
#include "tests/support/temp_dir.h"
#include "tools/ubin/batch_command.h"
#include "tools/ubin/cli.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

using namespace ubin;

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

struct Outcome {
    int status;
    std::string out, err;
};

Outcome RunBatch(std::vector<std::string> args, std::string_view file)
{
    test::TempDir t;
    test::WriteBytes(t / "list.csv", file);
    args.insert(args.begin(), {"find", "--data", UBIN_SAMPLE_DIR, "--batch"});
    args.push_back((t / "list.csv").string());
    std::ostringstream out, err;
    const int status = RunUbin(args, {}, out, err);
    return {status, out.str(), err.str()};
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
    const Outcome all = RunBatch({"--column", "2", "--header"}, "no,address\n1,7300014\n2,\"宮内庁\"\n");
    EXPECT_EQ(all.status, 0) << all.err;
    // The input's columns, then the answer's.
    std::string header = "no,address";
    for (const std::string& c : kBatchColumns) header += "," + c;
    EXPECT_EQ(all.out.substr(0, all.out.find('\r')), header);
    EXPECT_NE(all.out.find("\r\n1,7300014,7300014,広島県,"), std::string::npos) << all.out;
    EXPECT_LT(all.out.find("1,7300014,7300014"), all.out.find("2,宮内庁,1008111,"));
    EXPECT_NE(all.err.find("2 件中 2 件で郵便番号が見つかりました"), std::string::npos) << all.err;
    EXPECT_EQ(all.err.find('\r'), std::string::npos); // no bar when err is no terminal

    const Outcome some = RunBatch({"--json", "--threads", "2"}, "どこにもない町\n宮内庁\n\x01\n");
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
