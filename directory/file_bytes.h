#pragma once
// The records and lines of the nine directory files as bytes: the writing side of what
// directory.h reads. Texts are code page 932 bytes as they go into the files; numbers are
// little-endian 32-bit values.
#include "directory/directory.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

using IndexKey = std::array<char, kKeyBytes>;

// The key of an index record: the first 8 bytes of a code page 932 text, never half a
// double-byte character, padded with blanks.
IndexKey MakeIndexKey(std::string_view cp932);

// The four bytes of a record's number or position.
void AppendInt32(std::string& out, std::int32_t value);

struct IndexFileRecord {
    IndexKey key;
    std::int32_t entryNumber;
};

// UIND1.IDX .. UIND5.IDX and 事業所.IDX: 12-byte records sorted by their key's bytes, which for
// every character a key holds is the order of the key search; equal keys keep entry order.
// Sorts `records` in place.
std::string IndexFileBytes(std::vector<IndexFileRecord>& records);

// A 15-byte record of 郵便Point.POI: the postal code's 7 bytes, the entry number and the
// 1-based byte position of the entry's line in 郵便番号.CSV.
void AppendPointRecord(std::string& out, std::string_view postalCode, std::int32_t entryNumber,
                       std::int32_t linePosition);

// TOSHI1.TDB: record n holds the 1-based position of city n's line in TOSHI2.TDB, 0 for no such
// city (records 1 .. 47 point at the prefecture lines).
std::string CityTableBytes(const std::vector<std::int32_t>& positions);

// A line of 郵便番号.CSV without its CR LF: postal code, municipal code (5 digits), town reading,
// town name, note, and 1 when the town has entries under several postal codes, else 0.
std::string DirectoryLineText(std::string_view postalCode, std::int32_t cityCode, std::string_view townKana,
                              std::string_view townName, std::string_view detail, bool severalCodes);

// The lines of TOSHI2.TDB without their CR LF: a prefecture's ("34,広島県,ﾋﾛｼﾏｹﾝ") and a city's
// ("34101,広島市中区,ﾋﾛｼﾏｼﾅｶｸ").
std::string PrefectureLineText(int prefecture, std::string_view name, std::string_view kana);
std::string CityLineText(std::int32_t cityCode, std::string_view name, std::string_view kana);

// The end of every line of the text files.
inline constexpr std::string_view kLineEnd = "\r\n";

// The characters of a code page 932 text, as the readers count a line's length (a double-byte
// character counts once).
std::size_t Cp932Length(std::string_view cp932);

// A number with leading zeros to `width` digits ("01101").
std::string ZeroPadded(std::int32_t value, int width);

} // namespace ubin
