#include "tools/ubin/batch_command.h"

#include "base/cp932.h"
#include "base/errors.h"
#include "tools/ubin/find_command.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace ubin {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
// The progress bar is drawn again at most this often.
constexpr auto kProgressEvery = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;

// One row of the input: its bytes (a CSV row's chosen field, unquoted) and its 1-based number.
struct Row {
    std::size_t number;
    std::string bytes;
};

// Whole lines; a line break at the end of the last line ends it rather than starting another.
std::vector<Row> SplitLines(std::string_view bytes)
{
    std::vector<Row> rows;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        std::string_view line = bytes.substr(0, end);
        if (line.ends_with('\r')) line.remove_suffix(1);
        rows.push_back({rows.size() + 1, std::string(line)});
        bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
    }
    return rows;
}

// The field `column` (1-based) of every CSV row; a row with fewer fields gives an empty one.
// Commas, quotes and line breaks are ASCII and never a trail byte of code page 932, so the
// bytes split the same in either encoding.
std::vector<Row> SplitCsvColumn(std::string_view bytes, std::size_t column)
{
    std::vector<Row> rows;
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t field = 1;
        std::string value, current;
        bool quoted = false, rowEnd = false;
        while (i < bytes.size() && !rowEnd) {
            const char c = bytes[i++];
            if (quoted) {
                if (c != '"') current += c;
                else if (i < bytes.size() && bytes[i] == '"') current += bytes[i++];
                else quoted = false;
            } else if (c == '"') {
                quoted = true;
            } else if (c == ',' || c == '\n') {
                if (field == column) value = std::move(current);
                current.clear();
                ++field;
                rowEnd = c == '\n';
            } else if (c != '\r' || (i < bytes.size() && bytes[i] != '\n')) {
                current += c;
            }
        }
        if (!rowEnd && field == column) value = std::move(current);
        rows.push_back({rows.size() + 1, std::move(value)});
    }
    return rows;
}

bool IsUtf8(std::string_view bytes)
{
    try {
        FromUtf8(bytes);
        return true;
    } catch (const EncodingError&) {
        return false;
    }
}

bool HasNonAscii(std::string_view bytes)
{
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

// Code page 932 when most rows that hold anything but ASCII are not UTF-8: text in code page 932
// is hardly ever valid UTF-8, and a UTF-8 file with a damaged line stays UTF-8.
bool LooksCp932(const std::vector<Row>& rows)
{
    std::size_t nonAscii = 0, utf8 = 0;
    for (const Row& r : rows) {
        if (!HasNonAscii(r.bytes)) continue;
        ++nonAscii;
        if (IsUtf8(r.bytes)) ++utf8;
    }
    return utf8 * 2 < nonAscii;
}

std::string Encoding(bool cp932) { return cp932 ? "CP932" : "UTF-8"; }

// The bar on a terminal: how far, how many lines a second, and the input's encoding.
class Progress {
public:
    Progress(std::ostream& err, bool on, std::size_t total, bool cp932)
        : err_(err), on_(on), total_(total), cp932_(cp932), start_(Clock::now())
    {
    }
    void Step(std::size_t done)
    {
        if (!on_) return;
        const auto now = Clock::now();
        if (done < total_ && now - drawn_ < kProgressEvery) return;
        drawn_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const auto rate = static_cast<long long>(seconds > 0 ? static_cast<double>(done) / seconds : 0);
        const int filled = total_ ? static_cast<int>(kBarWidth * done / total_) : kBarWidth;
        err_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#') << std::string(static_cast<std::size_t>(kBarWidth - filled), '-')
             << "] " << done << '/' << total_ << " 行  " << rate << " 行/秒  入力 " << Encoding(cp932_) << "\x1b[K" << std::flush;
    }
    void End()
    {
        if (on_) err_ << '\n';
    }

private:
    using Clock = std::chrono::steady_clock;
    std::ostream& err_;
    bool on_;
    std::size_t total_;
    bool cp932_;
    Clock::time_point start_, drawn_{};
};

void WriteCsvHeader(std::ostream& out)
{
    for (std::size_t i = 0; i < kBatchCsvColumns.size(); ++i) out << (i ? "," : "") << kBatchCsvColumns[i];
    out << "\r\n";
}

void WriteCsvRow(std::ostream& out, const BatchLine& line, const BatchAnswer& a)
{
    const bool asked = a.error.empty() && !a.empty;
    out << CsvValue(line.input) << ',' << a.postalCode << ',' << a.match << ',' << a.level << ',' << CsvValue(a.address)
        << ',' << (asked ? std::to_string(a.candidates) : "") << ',' << CsvValue(a.error) << "\r\n";
}

bool ReadAll(const std::string& file, std::string& bytes)
{
    if (file == "-") {
        bytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return !std::cin.bad();
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    bytes = std::move(all).str();
    return !in.bad();
}

} // namespace

const std::vector<std::string> kBatchCsvColumns = {"input", "postal_code", "match", "level", "address", "candidates", "error"};

BatchInput ReadBatchInput(std::string_view bytes, std::size_t column, bool header)
{
    if (bytes.starts_with(kBom)) bytes.remove_prefix(kBom.size());
    std::vector<Row> rows = column ? SplitCsvColumn(bytes, column) : SplitLines(bytes);
    BatchInput input;
    input.cp932 = LooksCp932(rows);
    input.lines.reserve(rows.size());
    for (const Row& r : rows) {
        if (!header || r.number > 1) input.lines.push_back(DecodeBatchLine(r.number, r.bytes, input.cp932));
    }
    return input;
}

int RunFindBatch(const BatchOptions& o, const std::u16string& dataFolder, std::ostream& out, std::ostream& err)
{
    std::string bytes;
    if (!ReadAll(o.file, bytes)) {
        err << "ubin find: " << (o.file == "-" ? "標準入力" : o.file) << " を読めません\n";
        return 2;
    }
    const BatchInput input = ReadBatchInput(bytes, o.column, o.header);
    bytes = std::string();
    std::size_t found = 0, notFound = 0, errors = 0, empty = 0;
    try {
        const std::unique_ptr<Lookup> lookup = Lookup::Open(dataFolder, true);
        const Finder finder(*lookup);
        if (!o.json) WriteCsvHeader(out);
        Progress progress(err, o.progress, input.lines.size(), input.cp932);
        std::size_t done = 0;
        AnswerInOrder(finder, input.lines, o.threads, [&](const BatchLine& line, const BatchAnswer& a) {
            if (o.json) out << BatchAnswerJson(line, a).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
            else WriteCsvRow(out, line, a);
            if (!a.error.empty()) ++errors;
            else if (a.empty) ++empty;
            else if (a.Found()) ++found;
            else ++notFound;
            progress.Step(++done);
        });
        progress.End();
        out.flush();
    } catch (const std::exception& e) {
        err << "ubin find: " << e.what() << '\n';
        return 2;
    }
    const std::size_t asked = found + notFound + errors;
    err << asked << " 件中 " << found << " 件で郵便番号が見つかりました（見つからなかったもの " << notFound << " 件、エラー "
        << errors << " 件";
    if (empty) err << "、空行 " << empty << " 件";
    err << "、入力 " << Encoding(input.cp932) << "）\n";
    return notFound == 0 && errors == 0 ? 0 : 1;
}

} // namespace ubin
