#include "directory/file_bytes.h"

#include <algorithm>
#include <cstring>

namespace ubin {

namespace {

bool IsLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

} // namespace

IndexKey MakeIndexKey(std::string_view cp932)
{
    IndexKey key;
    key.fill(' ');
    std::size_t n = 0;
    while (n < cp932.size()) {
        const std::size_t width = IsLeadByte(static_cast<unsigned char>(cp932[n])) ? 2 : 1;
        if (n + width > kKeyBytes) break;
        n += width;
    }
    // A lead byte at the very end of the text has no second byte to take.
    n = std::min(n, cp932.size());
    std::memcpy(key.data(), cp932.data(), n);
    return key;
}

std::size_t Cp932Length(std::string_view cp932)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < cp932.size(); i += IsLeadByte(static_cast<unsigned char>(cp932[i])) ? 2 : 1) ++n;
    return n;
}

void AppendInt32(std::string& out, std::int32_t value)
{
    const auto u = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
}

std::string IndexFileBytes(std::vector<IndexFileRecord>& records)
{
    std::sort(records.begin(), records.end(), [](const IndexFileRecord& a, const IndexFileRecord& b) {
        const int c = std::memcmp(a.key.data(), b.key.data(), kKeyBytes);
        return c != 0 ? c < 0 : a.entryNumber < b.entryNumber;
    });
    std::string out;
    out.reserve(records.size() * kIndexRecordLength);
    for (const IndexFileRecord& r : records) {
        out.append(r.key.data(), kKeyBytes);
        AppendInt32(out, r.entryNumber);
    }
    return out;
}

void AppendPointRecord(std::string& out, std::string_view postalCode, std::int32_t entryNumber, std::int32_t linePosition)
{
    std::string code(postalCode.substr(0, 7));
    code.resize(7, ' ');
    out.append(code);
    AppendInt32(out, entryNumber);
    AppendInt32(out, linePosition);
}

std::string CityTableBytes(const std::vector<std::int32_t>& positions)
{
    std::string out;
    out.reserve(positions.size() * kCityRecordLength);
    for (const std::int32_t v : positions) AppendInt32(out, v);
    return out;
}

std::string ZeroPadded(std::int32_t value, int width)
{
    std::string s = std::to_string(value);
    return std::string(static_cast<std::size_t>(std::max(0, width - static_cast<int>(s.size()))), '0') + s;
}

std::string DirectoryLineText(std::string_view postalCode, std::int32_t cityCode, std::string_view townKana,
                              std::string_view townName, std::string_view detail, bool severalCodes)
{
    std::string line;
    line.reserve(postalCode.size() + townKana.size() + townName.size() + detail.size() + 12);
    line.append(postalCode).append(",").append(ZeroPadded(cityCode, 5)).append(",").append(townKana).append(",");
    line.append(townName).append(",").append(detail).append(severalCodes ? ",1" : ",0");
    return line;
}

std::string PrefectureLineText(int prefecture, std::string_view name, std::string_view kana)
{
    std::string line = std::to_string(prefecture);
    line.append(",").append(name).append(",").append(kana);
    return line;
}

std::string CityLineText(std::int32_t cityCode, std::string_view name, std::string_view kana)
{
    std::string line = ZeroPadded(cityCode, 5);
    line.append(",").append(name).append(",").append(kana);
    return line;
}

} // namespace ubin
