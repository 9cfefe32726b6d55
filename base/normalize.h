#pragma once
// Text as the free-text search compares it. Addresses, names and readings are written in many
// ways (全角 and half-width letters and digits, half-width kana, hiragana or katakana, blanks
// or none, 霞が関 or 霞ヶ関), and a search should find them whichever way the user types.
#include <string>
#include <string_view>
#include <utility>

namespace ubin {

// Unicode normalization form KC: full-width letters and digits become half-width, half-width
// kana full-width with their voiced marks combined (ｶﾞ → ガ), compatibility characters their
// plain forms. Done by the platform (ICU, or Windows' NormalizeString); the common characters
// of addresses, which NFKC leaves as they are, never reach it.
std::u16string Nfkc(std::u16string_view text);

// The search form of a text: NFKC, hiragana as katakana, every blank (U+0020, U+3000) dropped.
std::u16string SearchForm(std::u16string_view text);

// A text in name form (NameForm below): the one form in which the search index and the address
// tables hold their names and in which a query is compared with them. Only NameForm,
// AddressForm and FoldName make one, so that the two sides cannot be written in different forms.
class NameText {
public:
    NameText() = default;
    const std::u16string& str() const { return text_; }
    operator const std::u16string&() const { return text_; }
    operator std::u16string_view() const { return text_; }
    bool empty() const { return text_.empty(); }
    std::size_t size() const { return text_.size(); }
    char16_t operator[](std::size_t i) const { return text_[i]; }
    friend bool operator==(const NameText&, const NameText&) = default;
    friend bool operator==(const NameText& a, std::u16string_view b) { return a.text_ == b; }

private:
    explicit NameText(std::u16string text) : text_(std::move(text)) {}
    friend NameText FoldName(std::u16string_view searchForm);
    friend NameText FoldName(std::u16string_view searchForm, bool numerals);
    std::u16string text_;
};

// The search form of a name: as SearchForm, and further
//  - ヶ ケ ヵ ガ (and が) as one character, since names are written with any of them (霞ヶ関,
//    霞が関, 霞ケ関);
//  - numbers in kanji as decimal digits (北二十四条 = 北24条, 三〇 = 30; 壱 弐 参 too), so a
//    town and a house number read the same whichever way they were written; where digits stand
//    right beside them, a kNumberBreak keeps the two numbers apart (十三1-2 = 13・1-2);
//  - after a digit, every dash look-alike (‐ ‑ – — ― − ー ─ ━ and the hyphen) as '-', and の
//    between two numbers as '-' (５３の１ = 53-1);
//  - Latin letters in upper case (ｊｐタワー = JPタワー).
// The index and the query both take this form, so whatever it folds is found either way.
NameText NameForm(std::u16string_view text);
inline constexpr char16_t kNumberBreak = u'・';
// The name form of a written address: as NameForm, but a blank between two numerals stays as a
// kNumberBreak, since what follows it is no part of the house number (梅田3-1-1 3F,
// 永田町1-7-1 101号室).
NameText AddressForm(std::u16string_view text);
// The same for a text already in search form.
NameText FoldName(std::u16string_view searchForm);
// The same, with kanji numerals made digits or kept as they are written (`numerals` false).
NameText FoldName(std::u16string_view searchForm, bool numerals);
// The name form with kanji numerals kept as they are written: 六千石町 holds 千石町 as written,
// which its name form 6000石町 does not hold as 1000石町. The search index keeps a name in this
// form too where it differs, so that any text is found in every name that holds it.
NameText LiteralNameForm(std::u16string_view text);
// Whether a text in search form holds a kanji numeral (its name forms then differ).
bool HasKanjiNumeral(std::u16string_view searchForm);

// The old and the common form of a kanji as one (澤 沢, 濱 浜, 髙 高, 﨑 崎, 條 条 ...), and ノ
// between two kanji as の (虎ノ門 = 虎の門), for a name in name form. Two names that are one
// in this form may still be two places (鹿嶋市 and 鹿島市): a search tries it only when the
// exact form finds nothing. The pairs come from Unicode's Unihan variant data (its Z variants:
// one character drawn two ways) and a list of the Japanese old and new forms that data lacks
// (base/variants_extra.txt).
std::u16string VariantForm(std::u16string_view nameForm);
// The value of one digit, kanji or decimal; -1 for any other character.
int NumeralValue(char16_t c);

// True when the text in search form is kana alone: katakana and the long vowel mark ー
// (hiragana are katakana by then). An empty text is not.
bool IsKanaOnly(std::u16string_view searchForm);

} // namespace ubin
