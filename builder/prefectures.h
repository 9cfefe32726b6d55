#pragma once
// The 47 prefectures, numbered as the first two digits of a municipal code: the first lines
// of TOSHI2.TDB come from this table, so a partial KEN_ALL still gives all 47.
#include <array>
#include <string_view>

namespace ubin {

struct Prefecture {
    std::u16string_view name; // kanji
    std::u16string_view kana; // half-width katakana
};

// Index 0 is prefecture 1 (北海道), index 46 prefecture 47 (沖縄県).
extern const std::array<Prefecture, 47> kPrefectures;

} // namespace ubin
