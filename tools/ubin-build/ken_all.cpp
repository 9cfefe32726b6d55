#include "tools/ubin-build/ken_all.h"

#include "base/cp932.h"
#include "base/errors.h"
#include "tools/ubin-build/kana.h"

#include <algorithm>
#include <fstream>

namespace ubin {

namespace {

constexpr int kColumns = 15;
constexpr int kProgressEvery = 8192;
// KEN_ALL.CSV is about 12 MiB; a file many times that is not one (or is /dev/zero).
constexpr std::size_t kMaxInputSize = std::size_t{128} << 20;

// Columns, 0-based.
enum Column {
    kColCityCode = 0, kColPostalCode = 2,
    kColPrefKana = 3, kColCityKana = 4, kColTownKana = 5,
    kColPrefName = 6, kColCityName = 7, kColTownName = 8,
};

const char* ColumnName(int c)
{
    switch (c) {
    case kColCityCode: return "municipal code";
    case kColPostalCode: return "postal code";
    case kColCityKana: return "city reading";
    case kColTownKana: return "town reading";
    case kColCityName: return "city name";
    case kColTownName: return "town name";
    default: return nullptr;
    }
}

std::string ColumnText(int c)
{
    const char* name = ColumnName(c);
    return "column " + std::to_string(c + 1) + (name ? std::string(" (") + name + ")" : std::string());
}

std::string ReadWholeFile(const std::filesystem::path& file)
{
    namespace fs = std::filesystem;
    if (file.empty()) throw BuildError(file, 0, "the input file name is empty; give the path of KEN_ALL.CSV");
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (!fs::exists(status)) throw BuildError(file, 0, "file not found");
    if (fs::is_directory(status)) throw BuildError(file, 0, "is a folder, not a file");
    if (fs::is_character_file(status) || fs::is_block_file(status))
        throw BuildError(file, 0, "is a device, not a file");
    const std::string tooLarge = "is larger than " + std::to_string(kMaxInputSize >> 20)
                                 + " MiB; KEN_ALL.CSV is about 12 MiB (18 MiB in UTF-8)";
    // A regular file is measured first; a pipe is read up to the limit.
    if (fs::is_regular_file(status) && fs::file_size(file, ec) > kMaxInputSize) throw BuildError(file, 0, tooLarge);
    std::ifstream in(file, std::ios::binary);
    if (!in) throw BuildError(file, 0, "cannot be opened");
    std::string bytes;
    char chunk[1 << 16];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
        if (bytes.size() > kMaxInputSize) throw BuildError(file, 0, tooLarge);
    }
    if (in.bad()) throw BuildError(file, 0, "cannot be read");
    return bytes;
}

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

// Splits a CSV row: a value opened by a double quote runs to the next lone double quote and
// may hold commas, a doubled double quote stands for one. False when a quote is not closed.
bool SplitRow(std::u16string_view line, std::vector<std::u16string>& out)
{
    out.clear();
    std::size_t i = 0;
    while (true) {
        std::u16string value;
        if (i < line.size() && line[i] == u'"') {
            ++i;
            while (true) {
                if (i >= line.size()) return false;
                if (line[i] == u'"') {
                    if (i + 1 < line.size() && line[i + 1] == u'"') { value.push_back(u'"'); i += 2; continue; }
                    ++i;
                    break;
                }
                value.push_back(line[i++]);
            }
        }
        while (i < line.size() && line[i] != u',') value.push_back(line[i++]);
        out.push_back(std::move(value));
        if (i >= line.size()) return true;
        ++i; // the comma
    }
}

bool AllDigits(std::u16string_view s, std::size_t n)
{
    if (s.size() != n) return false;
    for (const char16_t c : s)
        if (c < u'0' || c > u'9') return false;
    return true;
}

// Characters the UTF-8 edition may write in their JIS form, as code page 932 holds them.
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

// The readers split lines on every comma and drop every double quote, so a value can hold
// neither: they become their full-width forms.
std::int64_t ReplaceSeparators(std::u16string& s)
{
    std::int64_t n = 0;
    for (char16_t& c : s) {
        if (c == u',') { c = u'，'; ++n; }
        else if (c == u'"') { c = u'＂'; ++n; }
    }
    return n;
}

int Balance(std::u16string_view s, char16_t open, char16_t close)
{
    int depth = 0;
    for (const char16_t c : s) {
        if (c == open) ++depth;
        else if (c == close) --depth;
    }
    return depth;
}

// A town whose rows are still being joined. The depths are the parentheses still open in the
// name and the reading joined so far, kept up to date row by row so that each row's text is
// looked at once.
struct PendingTown {
    std::int64_t line = 0;
    std::u16string cityCode, postalCode, kana, name;
    int nameDepth = 0, kanaDepth = 0;
    bool Open() const { return nameDepth > 0 || kanaDepth > 0; }
};

class Reader {
public:
    Reader(const std::filesystem::path& file, const BuildOptions& options, BuildProgress& progress)
        : file_(file), options_(options), progress_(progress)
    {
    }

    KenAllData Read(std::string_view bytes)
    {
        std::string_view rest = bytes;
        data_.encoding = DetectEncoding(bytes);
        if (data_.encoding == InputEncoding::Utf8 && rest.starts_with("\xEF\xBB\xBF")) {
            rest.remove_prefix(3);
            CheckMarkedUtf8(rest);
        }

        std::int64_t lineNo = 0;
        while (!rest.empty()) {
            const std::size_t nl = rest.find('\n');
            std::string_view line = rest.substr(0, nl);
            rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
            ++lineNo;
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (line.empty()) continue;
            Row(line, lineNo);
            if (++data_.rowsRead % kProgressEvery == 0) Tick();
        }
        if (pending_.line != 0)
            Fail(pending_.line, "the parenthesis opened on this line is not closed at the end of the file");
        if (data_.entries.empty()) Fail(0, "holds no rows");
        Tick();
        return std::move(data_);
    }

private:
    [[noreturn]] void Fail(std::int64_t line, const std::string& reason) const { throw BuildError(file_, line, reason); }

    // A byte order mark says UTF-8; a file saved in code page 932 by a program that added the
    // mark anyway is told so, rather than that it is not UTF-8 "like the rest".
    void CheckMarkedUtf8(std::string_view text) const
    {
        const std::size_t bad = FirstInvalidUtf8(text);
        if (bad == std::string_view::npos) return;
        std::u16string decoded;
        if (TryDecodeCp932(text, decoded) != text.size()) return; // neither: the row says what is wrong
        const auto line = 1 + static_cast<std::int64_t>(std::count(text.begin(), text.begin() + bad, '\n'));
        Fail(line, "the file begins with a UTF-8 byte order mark, but this line is code page 932 (Shift-JIS), "
                   "as is the whole file: remove the byte order mark, or save the file as UTF-8");
    }

    void Tick()
    {
        if (options_.cancel && options_.cancel->load()) Fail(0, "the build was interrupted");
        progress_.rowsRead = data_.rowsRead;
        if (options_.progress) options_.progress(progress_);
    }

    std::string Encode(const std::u16string& text, int column, std::int64_t line) const
    {
        try {
            return EncodeCp932(text);
        } catch (const EncodingError& e) {
            Fail(line, ColumnText(column) + ": " + e.what());
        }
    }

    void Row(std::string_view bytes, std::int64_t lineNo)
    {
        if (data_.encoding == InputEncoding::Cp932) {
            const std::size_t bad = TryDecodeCp932(bytes, text_);
            if (bad < bytes.size()) {
                static const char* hex = "0123456789ABCDEF";
                const auto b = static_cast<unsigned char>(bytes[bad]);
                Fail(lineNo, "byte " + std::to_string(bad + 1) + " of the line (0x" + hex[b >> 4] + hex[b & 15]
                                 + ") is not code page 932");
            }
        } else {
            try {
                text_ = FromUtf8(bytes);
            } catch (const EncodingError& e) {
                Fail(lineNo, std::string("is not UTF-8 like the rest of the file (") + e.what() + ")");
            }
        }
        if (!SplitRow(text_, fields_)) Fail(lineNo, "a double quote is not closed");
        if (fields_.size() != kColumns)
            Fail(lineNo, "has " + std::to_string(fields_.size()) + " columns; KEN_ALL rows have 15");
        for (int c = 0; c < kColumns; ++c)
            for (const char16_t ch : fields_[static_cast<std::size_t>(c)])
                if (ch < 0x20 || ch == 0x7F) Fail(lineNo, ColumnText(c) + " holds a control character");

        std::u16string& code = fields_[kColCityCode];
        std::u16string& postal = fields_[kColPostalCode];
        if (!AllDigits(code, 5)) Fail(lineNo, ColumnText(kColCityCode) + " is not 5 digits: " + ToUtf8(code));
        if (!AllDigits(postal, 7)) Fail(lineNo, ColumnText(kColPostalCode) + " is not 7 digits: " + ToUtf8(postal));
        const std::int32_t cityCode = std::stoi(ToUtf8(code));
        if (cityCode / 1000 < 1 || cityCode / 1000 > 47)
            Fail(lineNo, ColumnText(kColCityCode) + " " + ToUtf8(code) + " names no prefecture (01-47)");

        for (int c = kColPrefKana; c <= kColTownName; ++c) {
            std::u16string& f = fields_[static_cast<std::size_t>(c)];
            if (data_.encoding == InputEncoding::Utf8) {
                if (c <= kColTownKana) f = ToHalfWidthKana(f);
                else NormaliseName(f);
            }
            data_.charactersReplaced += ReplaceSeparators(f);
        }

        if (!data_.cities.contains(cityCode))
            data_.cities.emplace(cityCode, KenAllCity{Encode(fields_[kColCityName], kColCityName, lineNo),
                                                      Encode(fields_[kColCityKana], kColCityKana, lineNo), lineNo});

        if (pending_.line != 0) {
            if (code != pending_.cityCode || postal != pending_.postalCode)
                Fail(pending_.line, "the parenthesis opened on this line is not closed (line " + std::to_string(lineNo)
                                        + " has another municipal or postal code)");
            if (pending_.nameDepth > 0) {
                pending_.name += fields_[kColTownName];
                pending_.nameDepth += Balance(fields_[kColTownName], u'（', u'）');
            }
            if (pending_.kanaDepth > 0) {
                pending_.kana += fields_[kColTownKana];
                pending_.kanaDepth += Balance(fields_[kColTownKana], u'(', u')');
            }
            ++data_.rowsJoined;
        } else {
            pending_.line = lineNo;
            pending_.cityCode = code;
            pending_.postalCode = postal;
            pending_.kana = fields_[kColTownKana];
            pending_.name = fields_[kColTownName];
            pending_.nameDepth = Balance(pending_.name, u'（', u'）');
            pending_.kanaDepth = Balance(pending_.kana, u'(', u')');
        }
        if (!pending_.Open()) Finish(cityCode);
    }

    void Finish(std::int32_t cityCode)
    {
        KenAllEntry e;
        e.cityCode = cityCode;
        e.line = pending_.line;
        e.postalCode = ToUtf8(pending_.postalCode);
        std::u16string name, detail, kana;
        SplitTownName(pending_.name, u'（', u'）', name, &detail);
        SplitTownName(pending_.kana, u'(', u')', kana, nullptr);
        e.townName = Encode(name, kColTownName, e.line);
        e.detail = Encode(detail, kColTownName, e.line);
        e.townKana = Encode(kana, kColTownKana, e.line);
        data_.entries.push_back(std::move(e));
        pending_.line = 0;
    }

    const std::filesystem::path& file_;
    const BuildOptions& options_;
    BuildProgress& progress_;
    KenAllData data_;
    PendingTown pending_;
    std::u16string text_;
    std::vector<std::u16string> fields_;
};

} // namespace

InputEncoding DetectEncoding(std::string_view bytes)
{
    if (bytes.starts_with("\xEF\xBB\xBF")) return InputEncoding::Utf8;
    bool high = false;
    for (const char b : bytes)
        if (static_cast<unsigned char>(b) >= 0x80) { high = true; break; }
    return high && IsWellFormedUtf8(bytes) ? InputEncoding::Utf8 : InputEncoding::Cp932;
}

void SplitTownName(std::u16string_view text, char16_t open, char16_t close, std::u16string& name,
                   std::u16string* detail)
{
    const std::size_t first = text.find(open);
    name.assign(text.substr(0, first));
    if (!detail) return;
    detail->clear();
    if (first == std::u16string_view::npos) return;
    int depth = 0;
    bool afterGroup = false;
    for (const char16_t c : text.substr(first)) {
        if (c == open) {
            if (depth++ > 0) { detail->push_back(c); continue; }
            if (afterGroup) detail->push_back(u'\u3000');
        } else if (c == close && depth > 0) {
            if (--depth > 0) { detail->push_back(c); continue; }
            afterGroup = true;
        } else {
            detail->push_back(c);
            if (depth == 0) afterGroup = false;
        }
    }
}

KenAllData ReadKenAll(const std::filesystem::path& file, const BuildOptions& options, BuildProgress& progress)
{
    const std::string bytes = ReadWholeFile(file);
    return Reader(file, options, progress).Read(bytes);
}

KenAllData ReadKenAllBytes(std::string_view bytes, const std::filesystem::path& name, const BuildOptions& options,
                           BuildProgress& progress)
{
    return Reader(name, options, progress).Read(bytes);
}

} // namespace ubin
