#include "tests/support/mini_directory.h"

#include "base/cp932.h"
#include "base/path_text.h"
#include "directory/directory.h"
#include "tests/support/temp_dir.h"

#include <algorithm>
#include <cstring>

namespace ubin::test {

namespace {

void PutInt32(std::string& out, std::int32_t v)
{
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
}

std::string Sjis(const std::string& utf8) { return EncodeCp932(FromUtf8(utf8)); }

std::filesystem::path NameOf(const std::u16string& name) { return PathFromUtf8(ToUtf8(name)); }

} // namespace

std::string KeyBytes(const std::string& utf8)
{
    std::string key;
    for (const char16_t c : FromUtf8(utf8)) {
        const std::string b = EncodeCp932(std::u16string(1, c));
        if (key.size() + b.size() > 8) break;
        key += b;
    }
    key.resize(8, ' ');
    return key;
}

void WriteIndex(const std::filesystem::path& file, const std::vector<std::pair<std::string, std::int32_t>>& records)
{
    std::string out;
    for (const auto& [key, entry] : records) {
        out += KeyBytes(key);
        PutInt32(out, entry);
    }
    WriteBytes(file, out);
}

void MiniDirectory::Write(const std::filesystem::path& folder) const
{
    std::string lines, points;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const MiniEntry& e = entries[i];
        std::string pointText = e.postalCode.substr(0, 7);
        pointText.resize(7, ' ');
        points += pointText;
        PutInt32(points, static_cast<std::int32_t>(i + 1));
        PutInt32(points, static_cast<std::int32_t>(lines.size() + 1));
        lines += Sjis(e.postalCode + "," + e.cityCode + "," + e.townKana + "," + e.townName + "," + e.detail + ","
                      + e.detailFlag)
                 + "\r\n";
    }
    WriteBytes(folder / NameOf(kPointFileName), points);
    WriteBytes(folder / NameOf(kLinesFileName), lines);

    std::string toshi2;
    std::vector<std::int32_t> table(static_cast<std::size_t>(cityTableSize), 0);
    for (int p = 1; p <= kPrefectureCount; ++p) {
        const std::string name = p <= static_cast<int>(prefNames.size()) ? prefNames[p - 1] : "県" + std::to_string(p);
        const std::string kana = p <= static_cast<int>(prefKana.size()) ? prefKana[p - 1] : "ｹﾝ" + std::to_string(p);
        if (p <= cityTableSize) table[static_cast<std::size_t>(p - 1)] = static_cast<std::int32_t>(toshi2.size() + 1);
        toshi2 += Sjis(std::to_string(p) + "," + name + "," + kana) + "\r\n";
    }
    for (const MiniCity& c : cities) {
        if (c.code >= 1 && c.code <= cityTableSize)
            table[static_cast<std::size_t>(c.code - 1)] = static_cast<std::int32_t>(toshi2.size() + 1);
        toshi2 += Sjis(c.areaCode + "," + c.name + "," + c.kana) + "\r\n";
    }
    std::string toshi1;
    for (const std::int32_t v : table) PutInt32(toshi1, v);
    WriteBytes(folder / NameOf(kCityTableFileName), toshi1);
    WriteBytes(folder / NameOf(kCityLinesFileName), toshi2);

    for (int k = 1; k <= 5; ++k) {
        std::vector<std::pair<std::string, std::int32_t>> recs;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const MiniEntry& e = entries[i];
            const std::string& key = k == 2 ? e.cityCode : k == 3 ? e.townKana : k == 4 ? e.townName : e.postalCode;
            recs.emplace_back(key, static_cast<std::int32_t>(i + 1));
        }
        if (sortIndexes)
            std::stable_sort(recs.begin(), recs.end(), [](const auto& a, const auto& b) {
                const std::string ka = KeyBytes(a.first), kb = KeyBytes(b.first);
                const int c = std::memcmp(ka.data(), kb.data(), 8);
                return c != 0 ? c < 0 : a.second < b.second;
            });
        WriteIndex(folder / NameOf(kIndexFileNames[k - 1]), recs);
    }
}

} // namespace ubin::test
