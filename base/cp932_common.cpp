// The parts of the code page 932 conversion that need no platform call: the single-byte range,
// which is ASCII plus half-width katakana at fixed offsets, and UTF-8 for file names.
#include "base/cp932.h"
#include "base/cp932_platform.h"
#include "base/errors.h"

#include <atomic>

namespace ubin {

namespace {

// The platform converter's answers, remembered per code so that it is asked once per
// character for the life of the program: the key search and every line read decode and
// encode characters one at a time. 0 means not asked yet; kNone that the converter has no
// answer (neither 0xFFFF as a character nor as a Shift-JIS code exists in code page 932).
constexpr std::uint16_t kNone = 0xFFFF;
std::atomic<std::uint16_t> decoded[0x10000];
std::atomic<std::uint16_t> encoded[0x10000];

bool DecodeDoubleByte(unsigned char lead, unsigned char trail, char16_t& out)
{
    auto& slot = decoded[(lead << 8) | trail];
    std::uint16_t v = slot.load(std::memory_order_relaxed);
    if (v == 0) {
        char16_t c = 0;
        v = platform::DecodeDoubleByte(lead, trail, c) && c != 0 ? c : kNone;
        slot.store(v, std::memory_order_relaxed);
    }
    if (v == kNone) return false;
    out = v;
    return true;
}

std::uint16_t EncodeWide(char16_t c)
{
    auto& slot = encoded[c];
    std::uint16_t v = slot.load(std::memory_order_relaxed);
    if (v == 0) {
        const std::uint16_t code = platform::EncodeWide(c);
        v = code != 0 ? code : kNone;
        slot.store(v, std::memory_order_relaxed);
    }
    return v == kNone ? 0 : v;
}

bool IsHalfWidthKanaByte(unsigned char b) { return b >= 0xA1 && b <= 0xDF; }
bool IsLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Single-byte characters need no converter: 0x00-0x7F is ASCII and 0xA1-0xDF is U+FF61-U+FF9F.
bool DecodeSingleByte(unsigned char b, char16_t& out)
{
    if (b < 0x80) { out = b; return true; }
    if (IsHalfWidthKanaByte(b)) { out = static_cast<char16_t>(0xFF61 + (b - 0xA1)); return true; }
    return false;
}

} // namespace

namespace {

// Decodes bytes, handing each character to `put`; returns the offset of the first byte that
// does not decode, or bytes.size().
template <class Put>
std::size_t DecodeEach(std::string_view bytes, Put put)
{
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        char16_t c;
        if (DecodeSingleByte(b, c)) {
            if (!put(c)) return i;
            ++i;
            continue;
        }
        if (!IsLeadByte(b) || i + 1 >= bytes.size()
            || !DecodeDoubleByte(b, static_cast<unsigned char>(bytes[i + 1]), c) || !put(c))
            return i;
        i += 2;
    }
    return i;
}

} // namespace

std::size_t TryDecodeCp932(std::string_view bytes, std::u16string& out)
{
    out.clear();
    out.reserve(bytes.size());
    return DecodeEach(bytes, [&out](char16_t c) {
        out.push_back(c);
        return true;
    });
}

bool DecodeCp932Into(std::string_view bytes, char16_t* out, std::size_t capacity, std::size_t& length)
{
    length = 0;
    const std::size_t end = DecodeEach(bytes, [&](char16_t c) {
        if (length == capacity) return false;
        out[length++] = c;
        return true;
    });
    return end == bytes.size();
}

std::u16string DecodeCp932(std::string_view bytes)
{
    std::u16string out;
    const std::size_t bad = TryDecodeCp932(bytes, out);
    if (bad < bytes.size())
        throw EncodingError("byte " + std::to_string(bad + 1) + " (0x"
                            + HexByte(static_cast<unsigned char>(bytes[bad]))
                            + ") does not begin a code page 932 character");
    return out;
}

std::string EncodeCp932(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size() * 2);
    std::size_t character = 0; // counts characters, a surrogate pair as one
    for (std::size_t i = 0; i < text.size(); ++i) {
        ++character;
        const std::uint16_t code = ShiftJisCodeOrZero(text[i]);
        if (code == 0 && text[i] != 0) {
            // A character beyond U+FFFF (an emoji, say) is named by its code point, not by
            // the first half of its surrogate pair.
            char32_t c = text[i];
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
                c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            throw EncodingError("character " + std::to_string(character) + " (U+" + HexCodePoint(c)
                                + ") has no code page 932 form");
        }
        if (code > 0xFF) out.push_back(static_cast<char>(code >> 8));
        out.push_back(static_cast<char>(code & 0xFF));
    }
    return out;
}

std::uint16_t ShiftJisCodeOrZero(char16_t c)
{
    if (c < 0x80) return c;
    if (c >= 0xFF61 && c <= 0xFF9F) return static_cast<std::uint16_t>(0xA1 + (c - 0xFF61));
    return EncodeWide(c);
}

bool HasCp932Form(std::u16string_view text)
{
    for (const char16_t c : text)
        if (ShiftJisCodeOrZero(c) == 0 && c != 0) return false;
    return true;
}

std::uint16_t ShiftJisCode(char16_t c)
{
    const std::uint16_t code = ShiftJisCodeOrZero(c);
    if (code == 0 && c != 0)
        throw EncodingError("character U+" + HexUnit(c) + " has no code page 932 form");
    return code;
}

std::string HexByte(unsigned char b)
{
    static const char digits[] = "0123456789ABCDEF";
    return {digits[b >> 4], digits[b & 15]};
}

std::string HexUnit(char16_t c)
{
    return HexByte(static_cast<unsigned char>(c >> 8)) + HexByte(static_cast<unsigned char>(c & 0xFF));
}

std::string HexCodePoint(char32_t c)
{
    std::string out = c > 0xFFFF ? HexByte(static_cast<unsigned char>(c >> 16)) : std::string();
    if (out.size() == 2 && out[0] == '0') out.erase(0, 1); // U+1F600, not U+01F600
    return out + HexUnit(static_cast<char16_t>(c & 0xFFFF));
}

std::string ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size() * 3);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string FromUtf8(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    auto bad = [&] { throw EncodingError("byte " + std::to_string(i + 1) + " is not valid UTF-8"); };
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        char32_t c = 0;
        int extra = 0;
        if (b < 0x80) { c = b; extra = 0; }
        else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; extra = 1; }
        else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; extra = 2; }
        else if ((b & 0xF8) == 0xF0) { c = b & 0x07; extra = 3; }
        else bad();
        if (i + extra >= text.size() && extra > 0) bad();
        for (int k = 1; k <= extra; ++k) {
            const auto t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80) bad();
            c = (c << 6) | (t & 0x3F);
        }
        // A character written with more bytes than it needs, a UTF-16 surrogate or a value
        // beyond U+10FFFF is no UTF-8: it would pass for another text (an overlong "/" or NUL).
        static constexpr char32_t kLeast[4] = {0, 0x80, 0x800, 0x10000};
        if (c < kLeast[extra] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) bad();
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i += extra + 1;
    }
    return out;
}

} // namespace ubin
