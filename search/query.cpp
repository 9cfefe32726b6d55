#include "search/query.h"

#include "base/romaji.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace ubin {

namespace {

// What may stand between the digits of a postal code: 〒, hyphens, every dash look-alike (a
// minus, the dashes of word processors, the long vowel mark, the wave dashes; ～ is ~ by then).
bool IsPostalFiller(char16_t c)
{
    switch (c) {
    case u'〒': case u'-': case u'~': case u'\u2010': case u'\u2011': case u'\u2012': case u'\u2013': case u'\u2014':
    case u'\u2015': case u'\u2212': case u'\u30FC': case u'\u301C': case u'\u2500': case u'\u2501':
        return true;
    default:
        return false;
    }
}

// The digits of a query that is a postal code once what may stand between them is dropped (the
// search form has no blanks and half-width digits); empty when it is not.
std::u16string PostalDigits(std::u16string_view searchForm)
{
    std::u16string digits;
    for (const char16_t c : searchForm) {
        if (IsPostalFiller(c)) continue;
        if (c < u'0' || c > u'9') return {};
        digits.push_back(c);
    }
    return digits.size() >= 3 && digits.size() <= 7 ? digits : std::u16string();
}

// A query typed in Latin letters, read as kana: the letters before any number (Ginza 4-chome:
// ginza). None when the query is not romaji.
std::optional<std::u16string> RomajiReading(std::u16string_view searchForm)
{
    std::u16string_view letters = searchForm.substr(0, searchForm.find_first_of(u"0123456789"));
    while (!letters.empty() && letters.back() == u'-') letters.remove_suffix(1);
    const auto latin = [](char16_t c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= 0x00C0 && c <= 0x017F) || c == u'-'
               || c == u'\'' || c == u'’';
    };
    if (letters.empty() || !std::all_of(letters.begin(), letters.end(), latin)) return std::nullopt;
    return KanaFromRomaji(letters);
}

QueryError TooLong(std::size_t length)
{
    return QueryError(QueryFault::TooLong, "the query is " + std::to_string(length)
                                               + " characters long; a search takes at most "
                                               + std::to_string(kMaxQueryLength));
}

// The typed text without the characters copied along unseen; QueryError for a control character.
std::u16string Visible(std::u16string_view typed)
{
    // Measured before anything else, so that a query of a megabyte costs no more than this.
    if (typed.size() > kMaxTypedQueryLength) throw TooLong(typed.size());
    std::u16string out;
    out.reserve(typed.size());
    for (std::size_t i = 0; i < typed.size(); ++i) {
        const char16_t c = typed[i];
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            char code[8];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
            throw QueryError(QueryFault::ControlCharacter, "the query holds a control character (" + std::string(code)
                                                               + ", character " + std::to_string(i + 1)
                                                               + "); a search takes none");
        }
        if (!IsInvisibleFormat(c)) out.push_back(c);
    }
    return out;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\u3000'; }

int DigitOf(char16_t c)
{
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'０' && c <= u'９') return c - u'０';
    return -1;
}

// A 〒 and a postal code (3 digits, a dash or not, 4 digits) at the start of a text, and the
// blanks around them; how much of the text they take, and the code's digits (empty for a 〒
// alone). Nothing when the text does not begin so, or holds nothing after them.
std::size_t CodeBefore(std::u16string_view text, std::u16string& digits)
{
    std::size_t i = 0;
    const auto blanks = [&] {
        while (i < text.size() && IsBlank(text[i])) ++i;
    };
    blanks();
    const bool mark = i < text.size() && text[i] == u'〒';
    if (mark) ++i;
    blanks();
    std::u16string code;
    for (; i < text.size() && code.size() < 7; ++i) {
        if (const int d = DigitOf(text[i]); d >= 0) code.push_back(static_cast<char16_t>(u'0' + d));
        else if (code.size() == 3 && (IsPostalFiller(text[i]) || text[i] == u'－' || text[i] == u'～')) continue;
        else break;
    }
    if (code.size() == 7 && (i == text.size() || DigitOf(text[i]) < 0)) {
        digits = std::move(code);
        blanks();
    } else if (mark) {
        // A 〒 alone before the address; digits that are not a whole code are the address's own.
        i = 0;
        blanks();
        ++i;
        blanks();
        digits.clear();
    } else {
        return 0;
    }
    return i < text.size() ? i : 0;
}

// An address written in Latin letters, in parts parted by commas or blanks (Ginza, Chuo-ku,
// Tokyo): the kana of each part that spells some (numbers are left out); none unless there are
// two such parts and nothing but letters, digits and the marks an address is written with.
std::vector<std::u16string> RomajiAddressParts(std::u16string_view typed)
{
    const std::u16string text = Nfkc(typed);
    const auto letter = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
    const auto parting = [](char16_t c) { return c == u' ' || c == u',' || c == u'\u3000' || c == u'.'; };
    for (const char16_t c : text)
        if (!letter(c) && !parting(c) && !(c >= u'0' && c <= u'9') && c != u'-' && c != u'\'') return {};
    std::vector<std::u16string> parts;
    for (std::size_t i = 0; i < text.size();) {
        while (i < text.size() && parting(text[i])) ++i;
        std::size_t end = i;
        while (end < text.size() && !parting(text[end])) ++end;
        const std::u16string_view part = std::u16string_view(text).substr(i, end - i);
        i = end;
        if (part.empty() || !std::any_of(part.begin(), part.end(), letter)) continue;
        if (std::any_of(part.begin(), part.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; })) continue;
        const std::optional<std::u16string> kana = KanaFromRomaji(part);
        if (!kana || kana->empty()) return {};
        parts.push_back(*kana);
    }
    return parts.size() >= 2 ? parts : std::vector<std::u16string>();
}

} // namespace

bool IsInvisibleFormat(char16_t c)
{
    return c == 0x00AD || (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x2064)
           || (c >= 0x2066 && c <= 0x206F) || c == 0xFEFF || c == 0x180E;
}

std::u16string CheckedSearchForm(std::u16string_view query)
{
    std::u16string form = SearchForm(Visible(query));
    if (form.size() > kMaxQueryLength) throw TooLong(form.size());
    return form;
}

Query Query::Read(std::u16string_view typed)
{
    Query q;
    q.typed = Visible(typed);
    q.search = SearchForm(q.typed);
    if (q.search.size() > kMaxQueryLength) throw TooLong(q.search.size());
    // The forms are those of what follows a postal code written before an address; a query that
    // is a postal code alone is one (its kind says so below).
    std::u16string_view text = q.typed;
    if (const std::size_t code = CodeBefore(text, q.writtenCode); code > 0) {
        text.remove_prefix(code);
        q.search = SearchForm(text);
    }
    q.name = FoldName(q.search);
    q.literal = HasKanjiNumeral(q.search) ? FoldName(q.search, false) : q.name;
    // Without a blank the address form is the name form; with one it is made from the text as
    // typed, where a blank between two numbers ends the house number.
    q.address = std::any_of(text.begin(), text.end(), IsBlank) ? AddressForm(text) : q.name;
    if (q.search.empty()) {
        q.kind = QueryKind::Empty;
    } else if (q.postalDigits = PostalDigits(q.search); !q.postalDigits.empty()) {
        q.kind = QueryKind::Postal;
    } else if (IsKanaOnly(q.search)) {
        q.kind = QueryKind::Kana;
    } else if (q.romajiParts = RomajiAddressParts(text); !q.romajiParts.empty()) {
        q.kind = QueryKind::RomajiAddress;
    } else if (const std::optional<std::u16string> kana = RomajiReading(q.search)) {
        q.kind = QueryKind::Romaji;
        q.romaji = *kana;
    } else {
        q.kind = QueryKind::Text;
    }
    return q;
}

} // namespace ubin
