#pragma once
// Rows of Japan Post's KEN_ALL.CSV and JIGYOSYO.CSV written from a few values, for tests that
// build a directory from hand-made rows.
#include <string>
#include <vector>

namespace ubin::test {

struct KenAllRow {
    std::string code, postal;                // 5 and 7 digits
    std::string prefKana, cityKana, townKana; // half-width katakana (UTF-8)
    std::string pref, city, town;             // UTF-8
};

struct JigyosyoRow {
    std::string code, kana, name, pref, city, town, street, postal;
    std::string kind = "0"; // 0 office, 1 post office box
};

// UTF-8 text in code page 932, as Japan Post's files are written.
std::string Cp932(const std::string& utf8);

// The file's bytes: code page 932, quoted values, CR LF.
std::string KenAllText(const std::vector<KenAllRow>& rows);
std::string JigyosyoText(const std::vector<JigyosyoRow>& rows);

} // namespace ubin::test
