#include "base/normalize.h"

#include "base/normalize_platform.h"

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

std::u16string FoldName(std::u16string_view searchForm)
{
    std::u16string out(searchForm);
    for (char16_t& c : out)
        if (c == u'ヶ' || c == u'ヵ' || c == u'ガ') c = u'ケ';
    return out;
}

std::u16string NameForm(std::u16string_view text) { return FoldName(SearchForm(text)); }

bool IsKanaOnly(std::u16string_view searchForm)
{
    if (searchForm.empty()) return false;
    for (const char16_t c : searchForm)
        if (!((c >= 0x30A1 && c <= 0x30FA) || c == 0x30FC || c == 0x30FD || c == 0x30FE)) return false;
    return true;
}

} // namespace ubin
