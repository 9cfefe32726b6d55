#pragma once
// Text as the free-text search compares it. Addresses, names and readings are written in many
// ways (全角 and half-width letters and digits, half-width kana, hiragana or katakana, blanks
// or none, 霞が関 or 霞ヶ関), and a search should find them whichever way the user types.
#include <string>
#include <string_view>

namespace ubin {

// Unicode normalization form KC: full-width letters and digits become half-width, half-width
// kana full-width with their voiced marks combined (ｶﾞ → ガ), compatibility characters their
// plain forms. Done by the platform (ICU, or Windows' NormalizeString); the common characters
// of addresses, which NFKC leaves as they are, never reach it.
std::u16string Nfkc(std::u16string_view text);

// The search form of a text: NFKC, hiragana as katakana, every blank (U+0020, U+3000) dropped.
std::u16string SearchForm(std::u16string_view text);

// The search form of a name: as SearchForm, and ヶ ケ ヵ ガ (and が) as one character, since
// names are written with any of them (霞ヶ関, 霞が関, 霞ケ関).
std::u16string NameForm(std::u16string_view text);
// The same for a text already in search form.
std::u16string FoldName(std::u16string_view searchForm);

// True when the text in search form is kana alone: katakana and the long vowel mark ー
// (hiragana are katakana by then). An empty text is not.
bool IsKanaOnly(std::u16string_view searchForm);

} // namespace ubin
