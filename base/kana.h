#pragma once
// Kana in full-width katakana or hiragana (the UTF-8 edition of KEN_ALL, or what an input method
// types) turned into the half-width katakana the directory's readings and indexes hold.
#include <string>
#include <string_view>

namespace ubin {

// Full-width katakana (and hiragana) become half-width katakana with the voiced and
// semi-voiced marks as separate characters (ガ → ｶﾞ, パ → ﾊﾟ, ヴ → ｳﾞ); kana that have no
// half-width form take their nearest one (ヮ → ﾜ, ヰ → ｲ, ヶ → ｹ). Full-width ASCII becomes
// ASCII, the ideographic blank a blank, and 、。「」・ー〈〉 their half-width forms. Every
// other character is kept.
std::u16string ToHalfWidthKana(std::u16string_view text);

} // namespace ubin
