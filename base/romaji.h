#pragma once
// Readings typed in Latin letters. Users type a place as a road sign writes it (Ginza, Chuo-ku,
// Tōkyō) or as they type kana on a keyboard (tyuuou, sinjuku, kasumigaseki); the directory's
// readings are katakana. These routines turn one into the other, and give the Latin form of a
// reading for the programs to show.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

// The kana a romaji text spells: full-width katakana with no long-vowel marks. Letters in any
// case; macron vowels (āīūēō and capitals, also âîûêô) are the vowel written twice (ō = ou
// for o, ū = uu); hyphens, apostrophes (as n' separator) and blanks between syllables are
// dropped. Empty optional when the text is not romaji (a letter sequence no kana spells, such
// as "xyz" or "qq", digits, any non-Latin character) or has no letters.
std::optional<std::u16string> KanaFromRomaji(std::u16string_view text);

// The ways a reading may be written with its long vowels spelled out or not: every o may be
// followed by ウ or オ or nothing, every u by ウ or nothing (チュオ -> チュオ, チュウオ,
// チュオウ, チュウオウ, ...), in a stable order with the text itself first; at most `most`
// forms (the rest are left out, shortest changes first).
std::vector<std::u16string> LongVowelForms(std::u16string_view kana, std::size_t most = 64);

// The Hepburn romanization of a katakana (or hiragana, or half-width kana) reading, in lower
// case: long vowels dropped (トウキョウ -> tokyo, チュウオウ -> chuo, オオサカ -> osaka, but
// イイ/エイ kept as ii/ei), ン as n (n' before a vowel or y), ッ doubling the next consonant
// (ッチ -> tch), ー dropped, digits and other characters kept as they are; anything in
// parentheses (a note) dropped.
std::string HepburnOf(std::u16string_view kana);

// "Ginza, Chuo-ku, Tokyo": the town, city and prefecture readings romanized, each word
// capitalized, the prefecture without its 都/府/県 (トウキョウト -> Tokyo, but 北海道 stays
// Hokkaido), the city with a hyphen before its 市/区/町/村/郡 suffix when the kanji name ends in
// it and the reading ends in that suffix's reading (shi, ku, cho/machi, mura/son, gun:
// ユウバリグンナガヌマチョウ, 夕張郡長沼町 -> Yubari-gun Naganuma-cho), an empty part left out
// (no town: "Chuo-ku, Tokyo"). Names are the kanji names (used only to find suffixes).
std::string RomanizedAddress(std::u16string_view prefectureKana, std::u16string_view prefecture,
                             std::u16string_view cityKana, std::u16string_view city,
                             std::u16string_view townKana, std::u16string_view town);

} // namespace ubin
