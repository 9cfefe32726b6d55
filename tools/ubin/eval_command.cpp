#include "tools/ubin/eval_command.h"

#include "base/cp932.h"
#include "base/errors.h"
#include "present/batch_report.h"
#include "tools/ubin/batch_command.h"
#include "tools/ubin/subcommand.h"

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace ubin {

namespace {

// The most candidates looked through for the expected code when the first answer is another.
constexpr std::size_t kCandidatesLooked = 100;

double Share(std::size_t part, std::size_t whole) { return whole ? static_cast<double>(part) / static_cast<double>(whole) : 0.0; }

// The expected code's 7 digits (a 6-digit one lost its leading 0 in a spreadsheet); empty when
// the field holds no code.
std::string ExpectedCode(std::u16string_view written)
{
    std::string digits;
    for (const char16_t c : written) {
        if (c >= u'0' && c <= u'9') digits += static_cast<char>(c);
        else if (c >= u'０' && c <= u'９') digits += static_cast<char>('0' + (c - u'０'));
    }
    if (digits.size() == 6) digits.insert(digits.begin(), '0');
    return digits.size() == 7 ? digits : std::string();
}

// Whether the first row names the columns: its second field holds no digit (address,postal_code).
bool HasHeader(std::string_view bytes)
{
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    const std::vector<std::vector<std::string>> first = SplitCsv(bytes.substr(0, bytes.find('\n')));
    if (first.empty() || first[0].size() < 2) return false;
    return first[0][1].find_first_of("0123456789") == std::string::npos;
}

bool Among(const Finder& finder, const std::u16string& query, const std::string& expected)
{
    const FindResult r = finder.Find(query, kCandidatesLooked);
    for (const Entry& e : r.results)
        if (ToUtf8(e.postalCode) == expected) return true;
    return false;
}

std::string Percent(double share)
{
    char text[16];
    std::snprintf(text, sizeof text, "%.2f%%", 100 * share);
    return text;
}

void PrintLine(std::ostream& out, const std::string& label, const EvalFigures& f)
{
    char line[160];
    std::snprintf(line, sizeof line, "  %-22s %9zu %9s %9s %9s\n", label.c_str(), f.rows, Percent(f.Coverage()).c_str(),
                  Percent(f.Precision()).c_str(), Percent(f.CandidateShare()).c_str());
    out << line;
}

nlohmann::ordered_json FiguresJson(const EvalFigures& f)
{
    return {{"rows", f.rows},         {"answered", f.answered},       {"correct", f.correct},
            {"in_candidates", f.inCandidates}, {"coverage", f.Coverage()}, {"precision", f.Precision()},
            {"candidate_share", f.CandidateShare()}};
}

} // namespace

double EvalFigures::Coverage() const { return Share(answered, rows); }
double EvalFigures::Precision() const { return Share(correct, answered); }
double EvalFigures::CandidateShare() const { return Share(inCandidates, rows); }

void EvalTally::Add(const BatchAnswer& a, bool correct, bool inCandidates)
{
    const auto add = [&](EvalFigures& f) {
        ++f.rows;
        f.answered += a.Found();
        f.correct += correct;
        f.inCandidates += correct || inCandidates;
    };
    add(all_);
    add(levels_[LevelKey(a)]);
    for (const Reason r : a.reasons.List()) add(reasons_[Info(r).code]);
}

std::vector<std::pair<std::string, EvalFigures>> EvalTally::ByLevel() const
{
    std::vector<std::pair<std::string, EvalFigures>> out;
    for (const std::string& key : LevelKeys())
        if (const auto it = levels_.find(key); it != levels_.end()) out.emplace_back(key, it->second);
    return out;
}

std::vector<std::pair<std::string, EvalFigures>> EvalTally::ByReason() const
{
    std::vector<std::pair<std::string, EvalFigures>> out;
    for (const ReasonInfo& info : AllReasons())
        if (const auto it = reasons_.find(info.code); it != reasons_.end()) out.emplace_back(info.code, it->second);
    return out;
}

int RunEval(const std::vector<std::string>& args, const ToolPlaces& places, std::ostream& out, std::ostream& err)
{
    CLI::App app("Measures the batch (ubin find --batch) on GOLD, a CSV file whose rows give an address and its "
                 "expected postal code (a first row without digits in its second field names the columns): the coverage "
                 "(rows that got a code), the precision of the first answer (of those, the rows given the expected code) "
                 "and the share of rows whose expected code is among the candidates, in all, by level and by reason.",
                 "ubin eval");
    std::string settingsFile, dataFolder, gold;
    bool json = false;
    unsigned threads = 0;
    CLI::Option* settingsOption = app.add_option("--settings", settingsFile, "read this ubscon.def");
    app.add_option("--data", dataFolder, "use this directory folder")->excludes(settingsOption);
    app.add_flag("--json", json, "print the figures as one JSON object");
    app.add_option("--threads", threads, "threads to answer on (default: one per core)");
    app.add_option("gold", gold, "the CSV file (- for standard input)")->required();
    if (const auto status = ParseSubcommand(app, args, out, err)) return *status;

    std::string bytes;
    if (gold == "-") {
        std::ostringstream all;
        all << std::cin.rdbuf();
        bytes = std::move(all).str();
    } else {
        std::ifstream in(gold, std::ios::binary);
        std::ostringstream all;
        if (in) all << in.rdbuf();
        if (!in || in.bad()) {
            err << "ubin eval: " << gold << " を読めません\n";
            return 2;
        }
        bytes = std::move(all).str();
    }
    BatchInput input = ReadBatchInput(bytes, BatchReading{"1", "2", HasHeader(bytes), InputEncoding::Auto});
    bytes = std::string();
    std::vector<BatchLine> lines;
    std::vector<std::string> expected;
    std::size_t skipped = 0;
    for (BatchLine& line : input.lines) {
        std::string code = ExpectedCode(line.writtenCode);
        if (code.empty() || (line.error.empty() && line.query.empty())) {
            ++skipped;
            continue;
        }
        // The expected code is what is measured against, not a code the row wrote.
        line.codeGiven = false;
        line.writtenCode.clear();
        line.fields.clear();
        lines.push_back(std::move(line));
        expected.push_back(std::move(code));
    }

    EvalTally tally;
    std::string edition;
    try {
        const Settings settings = SubcommandSettings(settingsFile, dataFolder, places);
        const std::unique_ptr<Lookup> lookup = Lookup::Open(settings.dataFolder, true);
        const Finder finder(*lookup);
        edition = lookup->Edition().ShortText();
        std::size_t i = 0;
        AnswerInOrder(finder, lines, threads, [&](const BatchLine& line, const BatchAnswer& a) {
            const std::string& want = expected[i++];
            const bool correct = a.postalCode == want;
            const bool among = !correct && a.Found() && a.candidates > 1 && Among(finder, line.query, want);
            tally.Add(a, correct, among);
        });
    } catch (const std::exception& e) {
        err << "ubin eval: " << e.what() << '\n';
        return 2;
    }

    if (json) {
        nlohmann::ordered_json j = FiguresJson(tally.All());
        j = {{"file", gold}, {"edition", edition}, {"encoding", input.cp932 ? "CP932" : "UTF-8"}, {"skipped", skipped},
             {"all", j}, {"by_level", nlohmann::ordered_json::object()}, {"by_reason", nlohmann::ordered_json::object()}};
        for (const auto& [key, f] : tally.ByLevel()) j["by_level"][key] = FiguresJson(f);
        for (const auto& [key, f] : tally.ByReason()) j["by_reason"][key] = FiguresJson(f);
        out << j.dump(2) << '\n';
        return 0;
    }
    out << "評価: " << gold << "（" << tally.All().rows << " 行、" << (input.cp932 ? "CP932" : "UTF-8") << "、データ " << edition;
    if (skipped) out << "、期待する郵便番号のない " << skipped << " 行は除外";
    out << "）\n";
    char head[160];
    std::snprintf(head, sizeof head, "  %-22s %9s %9s %9s %9s\n", "", "rows", "coverage", "precision", "in_cands");
    out << "  coverage: 郵便番号が答えられた行の割合  precision: そのうち最初の答えが期待どおりの割合\n"
           "  in_cands: 期待する郵便番号が候補のどこかにあった行の割合\n\n"
        << head;
    PrintLine(out, "全体", tally.All());
    out << "\n照合の深さ\n";
    for (const auto& [key, f] : tally.ByLevel()) PrintLine(out, key, f);
    out << "\n理由（1 行に複数あり）\n";
    for (const auto& [key, f] : tally.ByReason()) PrintLine(out, key, f);
    return 0;
}

} // namespace ubin
