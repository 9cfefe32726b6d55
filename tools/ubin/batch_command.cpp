#include "tools/ubin/batch_command.h"

#include "base/atomic_write.h"
#include "base/cp932.h"
#include "base/errors.h"
#include "present/batch_report.h"
#include "tools/ubin/find_command.h"

#include <charconv>
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

// One row of the input: its fields as bytes (unquoted) and its 1-based number.
struct Row {
    std::size_t number;
    std::vector<std::string> fields;
};

// Whole lines, each one field; a line break at the end of the last line ends it rather than
// starting another.
std::vector<Row> SplitLines(std::string_view bytes)
{
    std::vector<Row> rows;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        std::string_view line = bytes.substr(0, end);
        if (line.ends_with('\r')) line.remove_suffix(1);
        rows.push_back({rows.size() + 1, {std::string(line)}});
        bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
    }
    return rows;
}

} // namespace

// Commas, quotes and line breaks are ASCII and never a trail byte of code page 932, so the bytes
// split the same in either encoding.
std::vector<std::vector<std::string>> SplitCsv(std::string_view bytes)
{
    std::vector<std::vector<std::string>> rows;
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::vector<std::string> fields;
        std::string current;
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
                fields.push_back(std::move(current));
                current.clear();
                rowEnd = c == '\n';
            } else if (c != '\r' || (i < bytes.size() && bytes[i] != '\n')) {
                current += c;
            }
        }
        if (!rowEnd) fields.push_back(std::move(current));
        rows.push_back(std::move(fields));
    }
    return rows;
}

namespace {

std::vector<Row> SplitCsvRows(std::string_view bytes)
{
    std::vector<Row> rows;
    for (std::vector<std::string>& fields : SplitCsv(bytes)) rows.push_back({rows.size() + 1, std::move(fields)});
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

// Code page 932 when most fields that hold anything but ASCII are not UTF-8: text in code page
// 932 is hardly ever valid UTF-8, and a UTF-8 file with a damaged line stays UTF-8.
bool LooksCp932(const std::vector<Row>& rows)
{
    std::size_t nonAscii = 0, utf8 = 0;
    for (const Row& r : rows)
        for (const std::string& f : r.fields) {
            if (!HasNonAscii(f)) continue;
            ++nonAscii;
            if (IsUtf8(f)) ++utf8;
        }
    return utf8 * 2 < nonAscii;
}

std::string EncodingName(bool cp932) { return cp932 ? "CP932" : "UTF-8"; }

// A column given as a 1-based number or, with a header row, by its name; 0 when `column` is empty.
std::size_t ColumnIndex(const std::string& column, const std::vector<std::string>& header, bool named, const char* option)
{
    if (column.empty()) return 0;
    std::size_t n = 0;
    const auto [end, ec] = std::from_chars(column.data(), column.data() + column.size(), n);
    if (ec == std::errc() && end == column.data() + column.size()) {
        if (n == 0) throw Error(std::string(option) + " は 1 から数えます: " + column);
        return n;
    }
    if (!named) throw Error(std::string(option) + " に列の名前 " + column + " を使うには --header が要ります");
    for (std::size_t i = 0; i < header.size(); ++i)
        if (header[i] == column) return i + 1;
    throw Error(std::string(option) + " の列 " + column + " が見出し行にありません");
}

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
             << "] " << done << '/' << total_ << " 行  " << rate << " 行/秒  入力 " << EncodingName(cp932_) << "\x1b[K" << std::flush;
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

std::string JoinCsv(const std::vector<std::string>& values)
{
    std::string row;
    for (std::size_t i = 0; i < values.size(); ++i) row += (i ? "," : "") + CsvValue(values[i]);
    return row + "\r\n";
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

struct Opened {
    std::unique_ptr<Lookup> lookup;
    std::unique_ptr<Finder> finder;
};

Opened Open(const std::u16string& folder)
{
    Opened o;
    o.lookup = Lookup::Open(folder, true);
    o.finder = std::make_unique<Finder>(*o.lookup);
    return o;
}

std::u16string FolderText(const std::string& folder)
{
    std::u16string text = FromUtf8(folder);
    if (!text.empty() && text.back() != u'/' && text.back() != u'\\') text += u'/';
    return text;
}

} // namespace

std::string Encoded(const std::string& utf8, OutputEncoding encoding, std::size_t& replaced)
{
    if (encoding != OutputEncoding::Cp932) return utf8;
    const std::u16string text = FromUtf8(utf8);
    try {
        return EncodeCp932(text);
    } catch (const EncodingError&) {
    }
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size();
        const std::u16string_view c(text.data() + i, pair ? 2 : 1);
        if (!pair && HasCp932Form(c)) {
            out += EncodeCp932(c);
        } else {
            out += EncodeCp932(u"〓");
            ++replaced;
        }
        i += pair ? 1 : 0;
    }
    return out;
}

BatchInput ReadBatchInput(std::string_view bytes, std::size_t column, bool header)
{
    BatchReading reading;
    if (column) reading.column = std::to_string(column);
    reading.header = header;
    return ReadBatchInput(bytes, reading);
}

BatchInput ReadBatchInput(std::string_view bytes, const BatchReading& how)
{
    if (bytes.starts_with(kBom)) bytes.remove_prefix(kBom.size());
    const bool csv = !how.column.empty();
    std::vector<Row> rows = csv ? SplitCsvRows(bytes) : SplitLines(bytes);
    BatchInput input;
    input.cp932 = how.encoding == InputEncoding::Cp932 || (how.encoding == InputEncoding::Auto && LooksCp932(rows));
    const auto text = [&](std::size_t number, const std::string& field) { return DecodeBatchLine(number, field, input.cp932).input; };

    std::size_t width = 1;
    for (const Row& r : rows) width = std::max(width, r.fields.size());
    if (how.header && !rows.empty()) {
        for (const std::string& f : rows.front().fields) input.header.push_back(text(1, f));
    }
    for (std::size_t i = input.header.size(); i < width; ++i)
        input.header.push_back(csv ? "column" + std::to_string(i + 1) : "input");
    const std::size_t column = csv ? ColumnIndex(how.column, input.header, how.header, "--column") : 1;
    const std::size_t codeColumn = ColumnIndex(how.codeColumn, input.header, how.header, "--code-column");
    if (!csv && codeColumn) throw Error("--code-column には --column が要ります");
    width = std::max({width, column, codeColumn});
    input.header.resize(width, "");
    for (std::size_t i = 0; i < width; ++i)
        if (input.header[i].empty()) input.header[i] = "column" + std::to_string(i + 1);

    input.lines.reserve(rows.size());
    for (Row& r : rows) {
        if (how.header && r.number == 1) continue;
        r.fields.resize(width);
        BatchLine line = DecodeBatchLine(r.number, r.fields[column - 1], input.cp932);
        if (csv) {
            line.fields.reserve(width);
            for (std::size_t i = 0; i < width; ++i) line.fields.push_back(i == column - 1 ? line.input : text(r.number, r.fields[i]));
        }
        if (codeColumn) {
            line.codeGiven = true;
            const BatchLine code = DecodeBatchLine(r.number, r.fields[codeColumn - 1], input.cp932);
            line.writtenCode = code.query;
        }
        input.lines.push_back(std::move(line));
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
    BatchInput input;
    try {
        input = ReadBatchInput(bytes, o.reading);
    } catch (const Error& e) {
        err << "ubin find: " << e.what() << '\n';
        return 2;
    }
    bytes = std::string();
    std::size_t found = 0, notFound = 0, errors = 0, empty = 0, review = 0, replaced = 0;
    const bool csvInput = !o.reading.column.empty();
    try {
        const Opened current = Open(dataFolder);
        const Opened older = o.since.empty() ? Opened() : Open(FolderText(o.since));
        BatchReport report({o.file == "-" ? "標準入力" : o.file, EncodingName(input.cp932), current.lookup->Edition().ShortText(),
                            older.lookup ? older.lookup->Edition().ShortText() : std::string()});
        if (o.output == OutputEncoding::Utf8Bom) out << kBom;
        if (!o.json) {
            std::vector<std::string> header = input.header;
            header.insert(header.end(), kBatchColumns.begin(), kBatchColumns.end());
            out << Encoded(JoinCsv(header), o.output, replaced);
        }
        Progress progress(err, o.progress, input.lines.size(), input.cp932);
        std::size_t done = 0;
        AnswerInOrder(
            *current.finder, input.lines, o.threads,
            [&](const BatchLine& line, const BatchAnswer& a) {
                if (o.json) {
                    nlohmann::ordered_json j = BatchAnswerJson(line, a);
                    if (csvInput) j["fields"] = line.fields;
                    out << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
                } else {
                    std::vector<std::string> values = csvInput ? line.fields : std::vector<std::string>{line.input};
                    const std::vector<std::string> answer = BatchColumnValues(a);
                    values.insert(values.end(), answer.begin(), answer.end());
                    out << Encoded(JoinCsv(values), o.output, replaced);
                }
                if (!o.report.empty()) report.Add(line, a);
                if (!a.error.empty()) ++errors;
                else if (a.empty) ++empty;
                else if (a.Found()) ++found;
                else ++notFound;
                review += a.review;
                progress.Step(++done);
            },
            older.finder.get());
        progress.End();
        out.flush();
        if (!o.report.empty()) {
            const bool html = o.report.ends_with(".html") || o.report.ends_with(".htm");
            WriteFileAtomically(std::filesystem::u8path(o.report), html ? report.Html() : report.Text());
        }
    } catch (const std::exception& e) {
        err << "ubin find: " << e.what() << '\n';
        return 2;
    }
    const std::size_t asked = found + notFound + errors;
    err << asked << " 件中 " << found << " 件で郵便番号が見つかりました（見つからなかったもの " << notFound << " 件、エラー "
        << errors << " 件";
    if (empty) err << "、空行 " << empty << " 件";
    err << "、入力 " << EncodingName(input.cp932) << "）\n";
    err << "要確認 " << review << " 行";
    if (replaced) err << "、CP932 にない文字 " << replaced << " 個を〓で書きました";
    if (!o.report.empty()) err << "、集計は " << o.report;
    err << '\n';
    return notFound == 0 && errors == 0 ? 0 : 1;
}

} // namespace ubin
