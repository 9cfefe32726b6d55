#include "builder/csv_rows.h"

#include "base/cp932.h"
#include "base/csv.h"
#include "base/errors.h"
#include "base/path_text.h"

#include <algorithm>
#include <fstream>

namespace ubin {

namespace {

constexpr std::size_t kMaxInputSize = std::size_t{128} << 20;

} // namespace

const LineOrigins::Origin* LineOrigins::Of(std::int64_t n) const
{
    return n >= 1 && static_cast<std::uint64_t>(n) <= lines.size() ? &lines[static_cast<std::size_t>(n - 1)] : nullptr;
}

BuildError Located(const BuildError& e, const InputBytes& input)
{
    if (!input.origins || e.file() != input.name) return e;
    const LineOrigins::Origin* origin = input.origins->Of(e.line());
    if (!origin) return e;
    return BuildError(input.origins->files.at(origin->file), origin->line, e.reason());
}

std::string LineText(const InputBytes& input, std::int64_t n, std::int64_t beside)
{
    const LineOrigins::Origin* origin = input.origins ? input.origins->Of(n) : nullptr;
    if (!origin) return "line " + std::to_string(n);
    const LineOrigins::Origin* near = input.origins->Of(beside);
    std::string text = "line " + std::to_string(origin->line);
    if (!near || near->file != origin->file) text += " of " + PathToUtf8(input.origins->files.at(origin->file));
    return text;
}

std::string ReadInputFile(const std::filesystem::path& file, const std::string& kind)
{
    namespace fs = std::filesystem;
    if (file.empty()) throw BuildError(file, 0, "the input file name is empty; give the path of " + kind + ".CSV");
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (!fs::exists(status)) throw BuildError(file, 0, "file not found");
    if (fs::is_directory(status)) throw BuildError(file, 0, "is a folder, not a file");
    if (fs::is_character_file(status) || fs::is_block_file(status))
        throw BuildError(file, 0, "is a device, not a file");
    const std::string tooLarge = "is larger than " + std::to_string(kMaxInputSize >> 20) + " MiB; " + kind
                                 + ".CSV is about 12 MiB (18 MiB in UTF-8)";
    // A regular file is measured first; a pipe is read up to the limit.
    if (fs::is_regular_file(status) && fs::file_size(file, ec) > kMaxInputSize) throw BuildError(file, 0, tooLarge);
    std::ifstream in(file, std::ios::binary);
    if (!in) throw BuildError(file, 0, "cannot be opened");
    std::string bytes;
    if (fs::is_regular_file(status)) bytes.reserve(static_cast<std::size_t>(fs::file_size(file, ec)));
    char chunk[1 << 16];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
        if (bytes.size() > kMaxInputSize) throw BuildError(file, 0, tooLarge);
    }
    if (in.bad()) throw BuildError(file, 0, "cannot be read");
    return bytes;
}

namespace {

// The 0-based offset of the first byte that does not belong to well-formed UTF-8, or npos.
std::size_t FirstInvalidUtf8(std::string_view bytes)
{
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        int extra;
        char32_t min;
        if (b < 0x80) { ++i; continue; }
        if (b >= 0xC2 && b <= 0xDF) { extra = 1; min = 0x80; }
        else if ((b & 0xF0) == 0xE0) { extra = 2; min = 0x800; }
        else if (b >= 0xF0 && b <= 0xF4) { extra = 3; min = 0x10000; }
        else return i;
        if (i + static_cast<std::size_t>(extra) >= bytes.size()) return i;
        char32_t c = b & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            const auto t = static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]);
            if ((t & 0xC0) != 0x80) return i;
            c = (c << 6) | (t & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return i;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return std::string_view::npos;
}

bool IsWellFormedUtf8(std::string_view bytes) { return FirstInvalidUtf8(bytes) == std::string_view::npos; }

} // namespace

InputEncoding DetectEncoding(std::string_view bytes)
{
    if (bytes.starts_with("\xEF\xBB\xBF")) return InputEncoding::Utf8;
    bool high = false;
    for (const char b : bytes)
        if (static_cast<unsigned char>(b) >= 0x80) { high = true; break; }
    return high && IsWellFormedUtf8(bytes) ? InputEncoding::Utf8 : InputEncoding::Cp932;
}

CsvRows::CsvRows(const std::filesystem::path& file, int columns, std::string kind)
    : CsvRows(ReadInputFile(file, kind), file, columns, kind)
{
}

CsvRows::CsvRows(std::string bytes, const std::filesystem::path& name, int columns, std::string kind)
    : file_(name), columns_(columns), kind_(std::move(kind)), bytes_(std::move(bytes)), encoding_(DetectEncoding(bytes_))
{
    CheckMarkedUtf8();
}

void CsvRows::CheckMarkedUtf8() const
{
    const std::string_view marked = bytes_;
    if (!marked.starts_with("\xEF\xBB\xBF")) return;
    const std::string_view text = marked.substr(3);
    const std::size_t bad = FirstInvalidUtf8(text);
    if (bad == std::string_view::npos) return;
    std::u16string decoded;
    if (TryDecodeCp932(text, decoded) != text.size()) return; // neither: the row says what is wrong
    const auto line = 1 + static_cast<std::int64_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(bad), '\n'));
    Fail(line, "the file begins with a UTF-8 byte order mark, but this line is code page 932 (Shift-JIS), "
               "as is the whole file: remove the byte order mark, or save the file as UTF-8");
}

std::string CsvRows::ColumnText(int column, const char* name)
{
    return "column " + std::to_string(column + 1) + (name ? std::string(" (") + name + ")" : std::string());
}

void CsvRows::ForEach(const std::function<void(std::int64_t, std::vector<std::u16string>&)>& row)
{
    std::string_view rest = bytes_;
    if (encoding_ == InputEncoding::Utf8 && rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);
    std::u16string text;
    std::vector<std::u16string> fields;
    std::vector<std::u16string_view> values;
    std::deque<std::u16string> scratch;
    std::int64_t lineNo = 0;
    while (!rest.empty()) {
        const std::string_view line = TakeLine(rest);
        ++lineNo;
        if (line.empty()) continue;
        if (encoding_ == InputEncoding::Cp932) {
            const std::size_t bad = TryDecodeCp932(line, text);
            if (bad < line.size()) {
                static const char* hex = "0123456789ABCDEF";
                const auto b = static_cast<unsigned char>(line[bad]);
                Fail(lineNo, "byte " + std::to_string(bad + 1) + " of the line (0x" + hex[b >> 4] + hex[b & 15]
                                 + ") is not code page 932");
            }
        } else {
            try {
                text = FromUtf8(line);
            } catch (const EncodingError& e) {
                Fail(lineNo, std::string("is not UTF-8 like the rest of the file (") + e.what() + ")");
            }
        }
        scratch.clear();
        if (!SplitCsvRow(std::u16string_view(text), values, scratch)) Fail(lineNo, "a double quote is not closed");
        fields.assign(values.begin(), values.end());
        if (fields.size() != static_cast<std::size_t>(columns_))
            Fail(lineNo, "has " + std::to_string(fields.size()) + " columns; " + kind_ + " rows have "
                             + std::to_string(columns_));
        for (int c = 0; c < columns_; ++c)
            for (const char16_t ch : fields[static_cast<std::size_t>(c)])
                if (ch < 0x20 || ch == 0x7F) Fail(lineNo, ColumnText(c, nullptr) + " holds a control character");
        row(lineNo, fields);
    }
}

bool AllDigits(std::u16string_view s, std::size_t n)
{
    if (s.size() != n) return false;
    for (const char16_t c : s)
        if (c < u'0' || c > u'9') return false;
    return true;
}

void NormaliseName(std::u16string& s)
{
    for (char16_t& c : s) {
        switch (c) {
        case u'\u301C': c = u'\uFF5E'; break; // WAVE DASH → FULLWIDTH TILDE
        case u'\u2212': c = u'\uFF0D'; break; // MINUS SIGN → FULLWIDTH HYPHEN-MINUS
        case u'\u2016': c = u'\u2225'; break; // DOUBLE VERTICAL LINE → PARALLEL TO
        case u'\u2014': c = u'\u2015'; break; // EM DASH → HORIZONTAL BAR
        case u'\u00A2': c = u'\uFFE0'; break;
        case u'\u00A3': c = u'\uFFE1'; break;
        case u'\u00AC': c = u'\uFFE2'; break;
        default: break;
        }
    }
}

std::int64_t ReplaceSeparators(std::u16string& s)
{
    std::int64_t n = 0;
    for (char16_t& c : s) {
        if (c == u',') { c = u'，'; ++n; }
        else if (c == u'"') { c = u'＂'; ++n; }
    }
    return n;
}

} // namespace ubin
