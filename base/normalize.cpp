#include "base/normalize.h"

#include "base/normalize_platform.h"
#include "base/text.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <utility>

namespace ubin {

namespace {

// Characters NFKC leaves as they are and that make up nearly all of an address: ASCII letters
// and digits, hiragana, katakana and the CJK unified ideographs. A text made of these alone
// needs no call to the platform.
bool NfkcStable(char16_t c)
{
    return (c >= 0x20 && c < 0x7F) || (c >= 0x3041 && c <= 0x3096) || (c >= 0x30A1 && c <= 0x30FA)
           || c == 0x30FC || (c >= 0x4E00 && c <= 0x9FFF);
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\u3000'; }

} // namespace

std::u16string Nfkc(std::u16string_view text)
{
    for (const char16_t c : text)
        if (!NfkcStable(c)) return platform::Nfkc(text);
    return std::u16string(text);
}

std::u16string SearchForm(std::u16string_view text)
{
    const std::u16string nfkc = Nfkc(text);
    std::u16string out;
    out.reserve(nfkc.size());
    for (char16_t c : nfkc) {
        if (IsBlank(c)) continue;
        if ((c >= 0x3041 && c <= 0x3096) || c == 0x309D || c == 0x309E) c = static_cast<char16_t>(c + 0x60);
        out.push_back(c);
    }
    return out;
}

namespace {

// The variant kanji pairs (from, to), sorted by `from`: made from the Unihan data when the
// suite is built (scripts/make_variants.py).
constexpr std::pair<char16_t, char16_t> kVariants[] = {
#include "variants_table.inc"
};

bool IsDashAfterDigit(char16_t c)
{
    switch (c) {
    case u'-': case u'\u2010': case u'\u2011': case u'\u2012': case u'\u2013': case u'\u2014':
    case u'\u2015': case u'\u2212': case u'\u30FC': case u'\u2500': case u'\u2501': case u'\uFF70':
        return true;
    default:
        return false;
    }
}

bool IsMultiplier(char16_t c) { return c == u'十' || c == u'百' || c == u'千'; }
bool IsKanjiNumeral(char16_t c) { return IsMultiplier(c) || (NumeralValue(c) >= 0 && !IsDigit(c)); }

// A run of kanji numerals as a decimal number: 二十四 → 24, 千二百 → 1200, and digits alone
// by position (二〇 → 20).
std::u16string RunAsDigits(std::u16string_view run)
{
    const bool counted = std::any_of(run.begin(), run.end(), IsMultiplier);
    std::u16string out;
    if (!counted) {
        for (const char16_t c : run) out.push_back(static_cast<char16_t>(u'0' + NumeralValue(c)));
        return out;
    }
    std::uint64_t total = 0, pending = 0;
    bool anyPending = false;
    for (const char16_t c : run) {
        if (IsMultiplier(c)) {
            const std::uint64_t scale = c == u'十' ? 10 : c == u'百' ? 100 : 1000;
            total += (anyPending ? pending : 1) * scale;
            pending = 0;
            anyPending = false;
        } else {
            pending = pending * 10 + static_cast<std::uint64_t>(NumeralValue(c));
            anyPending = true;
        }
    }
    total += pending;
    std::u16string digits;
    do {
        digits.push_back(static_cast<char16_t>(u'0' + total % 10));
        total /= 10;
    } while (total > 0);
    return {digits.rbegin(), digits.rend()};
}

bool IsKanji(char16_t c) { return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0xF900 && c <= 0xFAFF); }

} // namespace

int NumeralValue(char16_t c)
{
    if (IsDigit(c)) return c - u'0';
    switch (c) {
    case u'〇': return 0;
    case u'一': case u'壱': return 1;
    case u'二': case u'弐': return 2;
    case u'三': case u'参': return 3;
    case u'四': return 4;
    case u'五': return 5;
    case u'六': return 6;
    case u'七': return 7;
    case u'八': return 8;
    case u'九': return 9;
    default: return -1;
    }
}

NameText FoldName(std::u16string_view searchForm) { return FoldName(searchForm, true); }

NameText FoldName(std::u16string_view searchForm, bool numerals)
{
    std::u16string out;
    out.reserve(searchForm.size());
    const std::size_t n = searchForm.size();
    for (std::size_t i = 0; i < n; ++i) {
        char16_t c = searchForm[i];
        if (numerals && IsKanjiNumeral(c)) {
            std::size_t end = i;
            while (end < n && IsKanjiNumeral(searchForm[end])) ++end;
            // Kanji numerals next to digits are a word, not a part of that number (十三1-2 is
            // 十三 then 1-2, 1-1六本木 is 1-1 then 六本木): a dot keeps the two apart.
            if (!out.empty() && IsDigit(out.back())) out.push_back(kNumberBreak);
            out += RunAsDigits(searchForm.substr(i, end - i));
            if (end < n && IsDigit(searchForm[end])) out.push_back(kNumberBreak);
            i = end - 1;
            continue;
        }
        const bool afterDigit = !out.empty() && IsDigit(out.back());
        if (afterDigit && IsDashAfterDigit(c)) c = u'-';
        else if (afterDigit && (c == u'の' || c == u'ノ') && i + 1 < n && NumeralValue(searchForm[i + 1]) >= 0) c = u'-';
        else if (c == u'ヶ' || c == u'ヵ' || c == u'ガ') c = u'ケ';
        else if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
        out.push_back(c);
    }
    return NameText(std::move(out));
}

std::u16string VariantForm(std::u16string_view nameForm)
{
    std::u16string out(nameForm);
    for (std::size_t i = 0; i < out.size(); ++i) {
        char16_t& c = out[i];
        if (c == u'ノ' && i > 0 && i + 1 < out.size() && IsKanji(out[i - 1]) && IsKanji(out[i + 1])) {
            c = u'の';
            continue;
        }
        const auto* it = std::lower_bound(std::begin(kVariants), std::end(kVariants), c,
                                          [](const std::pair<char16_t, char16_t>& p, char16_t k) { return p.first < k; });
        if (it != std::end(kVariants) && it->first == c) c = it->second;
    }
    return out;
}

NameText NameForm(std::u16string_view text) { return FoldName(SearchForm(text)); }

NameText LiteralNameForm(std::u16string_view text) { return FoldName(SearchForm(text), false); }

bool HasKanjiNumeral(std::u16string_view searchForm)
{
    return std::any_of(searchForm.begin(), searchForm.end(), IsKanjiNumeral);
}

NameText AddressForm(std::u16string_view text)
{
    const auto numeral = [](char16_t c) { return NumeralValue(c) >= 0 || (c >= u'０' && c <= u'９'); };
    std::u16string marked;
    marked.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (!IsBlank(text[i])) {
            marked.push_back(text[i++]);
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && IsBlank(text[end])) ++end;
        if (i > 0 && end < text.size() && numeral(text[i - 1]) && numeral(text[end])) marked.push_back(kNumberBreak);
        i = end;
    }
    return NameForm(marked);
}

bool IsKanaOnly(std::u16string_view searchForm)
{
    if (searchForm.empty()) return false;
    for (const char16_t c : searchForm)
        if (!((c >= 0x30A1 && c <= 0x30FA) || c == 0x30FC || c == 0x30FD || c == 0x30FE)) return false;
    return true;
}

} // namespace ubin
