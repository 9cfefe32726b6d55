#include "builder/jigyosyo.h"

#include "base/cp932.h"
#include "base/errors.h"
#include "base/kana.h"
#include "builder/csv_rows.h"

namespace ubin {

namespace {

constexpr int kColumns = 13;

// Columns, 0-based.
enum Column {
    kColCityCode = 0, kColKana, kColName, kColPrefecture, kColCity, kColTown, kColStreet,
    kColPostalCode, kColOldCode, kColPostOffice, kColKind, kColSeveral, kColChange,
};

const char* ColumnName(int c)
{
    constexpr const char* names[kColumns] = {
        "municipal code", "office reading", "office name", "prefecture", "city", "town", "street",
        "postal code", "old code", "post office", "kind", "several codes", "change",
    };
    return names[c];
}

std::string ColumnText(int c) { return CsvRows::ColumnText(c, ColumnName(c)); }

// `progress` (may be null) hears of the rows read every 8192 rows and at the end.
OfficeData ReadOffices(CsvRows rows, const BuildOptions& options, BuildProgress* progress)
{
    const auto tick = [&](const OfficeData& data) {
        if (options.cancel && options.cancel->load()) rows.Fail(0, "the build was interrupted");
        if (!progress) return;
        progress->officesRead = data.rowsRead;
        if (options.progress) options.progress(*progress);
    };
    OfficeData data;
    data.encoding = rows.encoding();
    rows.ForEach([&](std::int64_t line, std::vector<std::u16string>& f) {
        const auto column = [&](int c) -> std::u16string& { return f[static_cast<std::size_t>(c)]; };
        if (!AllDigits(column(kColCityCode), 5))
            rows.Fail(line, ColumnText(kColCityCode) + " is not 5 digits: " + ToUtf8(column(kColCityCode)));
        if (!AllDigits(column(kColPostalCode), 7))
            rows.Fail(line, ColumnText(kColPostalCode) + " is not 7 digits: " + ToUtf8(column(kColPostalCode)));
        const std::int32_t cityCode = std::stoi(ToUtf8(column(kColCityCode)));
        if (cityCode / 1000 < 1 || cityCode / 1000 > 47)
            rows.Fail(line, ColumnText(kColCityCode) + " " + ToUtf8(column(kColCityCode))
                                + " names no prefecture (01-47)");
        const std::u16string& kind = column(kColKind);
        if (kind != u"0" && kind != u"1")
            rows.Fail(line, ColumnText(kColKind) + " is neither 0 (office) nor 1 (post office box): " + ToUtf8(kind));
        if (column(kColName).empty()) rows.Fail(line, ColumnText(kColName) + " is empty");

        for (int c = kColKana; c <= kColChange; ++c) {
            if (c == kColPostalCode || c == kColKind) continue;
            std::u16string& text = column(c);
            if (data.encoding == InputEncoding::Utf8) {
                if (c == kColKana) text = ToHalfWidthKana(text);
                else NormaliseName(text);
            }
            data.charactersReplaced += ReplaceSeparators(text);
        }
        const auto encode = [&](int c) {
            try {
                return EncodeCp932(column(c));
            } catch (const EncodingError& e) {
                rows.Fail(line, ColumnText(c) + ": " + e.what());
            }
        };
        Office o;
        o.cityCode = cityCode;
        o.postalCode = ToUtf8(column(kColPostalCode));
        o.kana = encode(kColKana);
        o.name = encode(kColName);
        o.prefecture = encode(kColPrefecture);
        o.city = encode(kColCity);
        o.town = encode(kColTown);
        o.street = encode(kColStreet);
        o.oldCode = encode(kColOldCode);
        o.postOffice = encode(kColPostOffice);
        o.poBox = kind == u"1";
        o.severalCodes = encode(kColSeveral);
        o.change = encode(kColChange);
        o.line = line;
        data.offices.push_back(std::move(o));
        if (++data.rowsRead % 8192 == 0) tick(data);
    });
    if (data.offices.empty()) rows.Fail(0, "holds no rows");
    tick(data);
    return data;
}

} // namespace

OfficeData ReadJigyosyo(const std::filesystem::path& file, const BuildOptions& options)
{
    return ReadOffices(CsvRows(file, kColumns, "JIGYOSYO"), options, nullptr);
}

OfficeData ReadJigyosyoBytes(std::string_view bytes, const std::filesystem::path& name, const BuildOptions& options,
                             BuildProgress& progress)
{
    return ReadOffices(CsvRows(std::string(bytes), name, kColumns, "JIGYOSYO"), options, &progress);
}

OfficeData ReadJigyosyoInput(const InputBytes& input, const BuildOptions& options, BuildProgress& progress)
{
    try {
        return ReadOffices(CsvRows(input.bytes, input.name, kColumns, "JIGYOSYO"), options, &progress);
    } catch (const BuildError& e) {
        throw Located(e, input);
    }
}

} // namespace ubin
