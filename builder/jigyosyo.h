#pragma once
// Reading JIGYOSYO.CSV, Japan Post's list of the offices with a postal code of their own
// (大口事業所個別番号), code page 932 or the UTF-8 edition, 13 columns a row.
#include "builder/builder.h"
#include "builder/csv_rows.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

// One office as read; the texts are code page 932 bytes as they go into the files.
struct Office {
    std::int32_t cityCode = 0;   // the JIS municipal code, 1001 .. 47999
    std::string postalCode;      // 7 digits
    std::string kana;            // the office name's reading, half-width katakana (often empty)
    std::string name;
    std::string prefecture, city, town;
    std::string street;          // 小字・丁目・番地 and the building
    std::string oldCode;         // the old 3- or 5-digit code, as given
    std::string postOffice;      // the office that delivers, as given
    bool poBox = false;          // kind 1: a post office box (私書箱)
    std::string severalCodes;    // as given: 0 one code, 1 one of several codes of the office
    std::string change;          // as given: 0 none, 1 new, 5 abolished
    std::int64_t line = 0;
};

struct OfficeData {
    InputEncoding encoding = InputEncoding::Cp932;
    std::int64_t rowsRead = 0;
    std::int64_t charactersReplaced = 0;
    std::vector<Office> offices; // in input order
};

// Reads the whole file. Throws BuildError naming the file, the line and the fault. The file may
// be a pipe; a device, or anything larger than 128 MiB, is refused.
OfficeData ReadJigyosyo(const std::filesystem::path& file, const BuildOptions& options);

// The same for bytes held in memory; `name` is the file the messages name. The rows read are
// reported as progress.officesRead.
OfficeData ReadJigyosyoBytes(std::string_view bytes, const std::filesystem::path& name, const BuildOptions& options,
                             BuildProgress& progress);

// The same for an input put together from several files (InputBytes::origins): a fault names
// the file its line came from and its own line there.
OfficeData ReadJigyosyoInput(const InputBytes& input, const BuildOptions& options, BuildProgress& progress);

} // namespace ubin
