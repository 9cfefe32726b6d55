#include "builder/ken_all.h"

#include "base/cp932.h"
#include "base/errors.h"
#include "base/kana.h"
#include "builder/csv_rows.h"

namespace ubin {

namespace {

constexpr int kColumns = 15;
constexpr int kProgressEvery = 8192;

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

std::string ColumnText(int c) { return CsvRows::ColumnText(c, ColumnName(c)); }

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
    // `input`, when given, names the lines the messages mention beside the one they are about.
    Reader(const std::filesystem::path& file, const BuildOptions& options, BuildProgress& progress,
           const InputBytes* input = nullptr)
        : file_(file), options_(options), progress_(progress), input_(input)
    {
    }

    KenAllData Read(CsvRows rows)
    {
        data_.encoding = rows.encoding();
        rows.ForEach([this](std::int64_t lineNo, std::vector<std::u16string>& fields) {
            Row(fields, lineNo);
            if (++data_.rowsRead % kProgressEvery == 0) Tick();
        });
        if (pending_.line != 0)
            Fail(pending_.line, "the parenthesis opened on this line is not closed at the end of the file");
        if (data_.entries.empty()) Fail(0, "holds no rows");
        Tick();
        return std::move(data_);
    }

private:
    [[noreturn]] void Fail(std::int64_t line, const std::string& reason) const { throw BuildError(file_, line, reason); }

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

    void Row(std::vector<std::u16string>& fields, std::int64_t lineNo)
    {
        std::u16string& code = fields[kColCityCode];
        std::u16string& postal = fields[kColPostalCode];
        if (!AllDigits(code, 5)) Fail(lineNo, ColumnText(kColCityCode) + " is not 5 digits: " + ToUtf8(code));
        if (!AllDigits(postal, 7)) Fail(lineNo, ColumnText(kColPostalCode) + " is not 7 digits: " + ToUtf8(postal));
        const std::int32_t cityCode = std::stoi(ToUtf8(code));
        if (cityCode / 1000 < 1 || cityCode / 1000 > 47)
            Fail(lineNo, ColumnText(kColCityCode) + " " + ToUtf8(code) + " names no prefecture (01-47)");

        for (int c = kColPrefKana; c <= kColTownName; ++c) {
            std::u16string& f = fields[static_cast<std::size_t>(c)];
            if (data_.encoding == InputEncoding::Utf8) {
                if (c <= kColTownKana) f = ToHalfWidthKana(f);
                else NormaliseName(f);
            }
            data_.charactersReplaced += ReplaceSeparators(f);
        }

        if (!data_.cities.contains(cityCode))
            data_.cities.emplace(cityCode, KenAllCity{Encode(fields[kColCityName], kColCityName, lineNo),
                                                      Encode(fields[kColCityKana], kColCityKana, lineNo), lineNo});

        if (pending_.line != 0) {
            if (code != pending_.cityCode || postal != pending_.postalCode)
                Fail(pending_.line, "the parenthesis opened on this line is not closed ("
                                        + (input_ ? LineText(*input_, lineNo, pending_.line) : "line " + std::to_string(lineNo))
                                        + " has another municipal or postal code)");
            if (pending_.nameDepth > 0) {
                pending_.name += fields[kColTownName];
                pending_.nameDepth += Balance(fields[kColTownName], u'（', u'）');
            }
            if (pending_.kanaDepth > 0) {
                pending_.kana += fields[kColTownKana];
                pending_.kanaDepth += Balance(fields[kColTownKana], u'(', u')');
            }
            ++data_.rowsJoined;
        } else {
            pending_.line = lineNo;
            pending_.cityCode = code;
            pending_.postalCode = postal;
            pending_.kana = fields[kColTownKana];
            pending_.name = fields[kColTownName];
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
    const InputBytes* input_;
    KenAllData data_;
    PendingTown pending_;
};

} // namespace

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
    return Reader(file, options, progress).Read(CsvRows(file, kColumns, "KEN_ALL"));
}

KenAllData ReadKenAllBytes(std::string_view bytes, const std::filesystem::path& name, const BuildOptions& options,
                           BuildProgress& progress)
{
    return Reader(name, options, progress).Read(CsvRows(std::string(bytes), name, kColumns, "KEN_ALL"));
}

KenAllData ReadKenAllInput(const InputBytes& input, const BuildOptions& options, BuildProgress& progress)
{
    try {
        return Reader(input.name, options, progress, &input).Read(CsvRows(input.bytes, input.name, kColumns, "KEN_ALL"));
    } catch (const BuildError& e) {
        throw Located(e, input);
    }
}

} // namespace ubin
