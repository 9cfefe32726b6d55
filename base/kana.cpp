#include "base/kana.h"

namespace ubin {

namespace {

// Half-width forms of U+30A1 (ァ) .. U+30FC (ー), in code order.
constexpr const char16_t* kKatakana[] = {
    u"ｧ", u"ｱ", u"ｨ", u"ｲ", u"ｩ", u"ｳ", u"ｪ", u"ｴ", u"ｫ", u"ｵ",                     // ァ..オ
    u"ｶ", u"ｶﾞ", u"ｷ", u"ｷﾞ", u"ｸ", u"ｸﾞ", u"ｹ", u"ｹﾞ", u"ｺ", u"ｺﾞ",               // カ..ゴ
    u"ｻ", u"ｻﾞ", u"ｼ", u"ｼﾞ", u"ｽ", u"ｽﾞ", u"ｾ", u"ｾﾞ", u"ｿ", u"ｿﾞ",               // サ..ゾ
    u"ﾀ", u"ﾀﾞ", u"ﾁ", u"ﾁﾞ", u"ｯ", u"ﾂ", u"ﾂﾞ", u"ﾃ", u"ﾃﾞ", u"ﾄ", u"ﾄﾞ",         // タ..ド
    u"ﾅ", u"ﾆ", u"ﾇ", u"ﾈ", u"ﾉ",                                                    // ナ..ノ
    u"ﾊ", u"ﾊﾞ", u"ﾊﾟ", u"ﾋ", u"ﾋﾞ", u"ﾋﾟ", u"ﾌ", u"ﾌﾞ", u"ﾌﾟ", u"ﾍ", u"ﾍﾞ", u"ﾍﾟ", // ハ..ペ
    u"ﾎ", u"ﾎﾞ", u"ﾎﾟ",                                                              // ホ..ポ
    u"ﾏ", u"ﾐ", u"ﾑ", u"ﾒ", u"ﾓ",                                                    // マ..モ
    u"ｬ", u"ﾔ", u"ｭ", u"ﾕ", u"ｮ", u"ﾖ",                                              // ャ..ヨ
    u"ﾗ", u"ﾘ", u"ﾙ", u"ﾚ", u"ﾛ",                                                    // ラ..ロ
    u"ﾜ", u"ﾜ", u"ｲ", u"ｴ", u"ｦ", u"ﾝ", u"ｳﾞ", u"ｶ", u"ｹ",                          // ヮ..ヶ
    u"ﾜﾞ", u"ｲﾞ", u"ｴﾞ", u"ｦﾞ", u"･", u"ｰ",                                          // ヷ..ー
};
static_assert(sizeof kKatakana / sizeof kKatakana[0] == 0x30FC - 0x30A1 + 1);

} // namespace

std::u16string ToHalfWidthKana(std::u16string_view text)
{
    std::u16string out;
    out.reserve(text.size() * 2);
    for (char16_t c : text) {
        if (c >= 0x3041 && c <= 0x3096) c = static_cast<char16_t>(c + 0x60); // hiragana as katakana
        if (c >= 0x30A1 && c <= 0x30FC) {
            out += kKatakana[c - 0x30A1];
        } else if (c >= 0xFF01 && c <= 0xFF5E) {
            out.push_back(static_cast<char16_t>(c - 0xFF01 + 0x21));
        } else {
            switch (c) {
            case u'\u3000': out.push_back(u' '); break;
            case u'、': out.push_back(u'､'); break;
            case u'。': out.push_back(u'｡'); break;
            case u'「': out.push_back(u'｢'); break;
            case u'」': out.push_back(u'｣'); break;
            case u'〈': out.push_back(u'<'); break;
            case u'〉': out.push_back(u'>'); break;
            case u'゛': out.push_back(u'ﾞ'); break;
            case u'゜': out.push_back(u'ﾟ'); break;
            case u'−': out.push_back(u'-'); break;
            default: out.push_back(c); break;
            }
        }
    }
    return out;
}

} // namespace ubin
