#pragma once
// The platform half of the code page 932 conversion: only double-byte characters and the
// encoding of characters outside the fixed single-byte ranges go through it.
#include <cstdint>
#include <string>

namespace ubin {

std::uint16_t ShiftJisCodeOrZero(char16_t c);
std::string HexByte(unsigned char b);
std::string HexUnit(char16_t c);
// At least four hexadecimal digits, more for a code point beyond U+FFFF.
std::string HexCodePoint(char32_t c);

namespace platform {
// Decodes one double-byte character; false when code page 932 has no such character.
bool DecodeDoubleByte(unsigned char lead, unsigned char trail, char16_t& out);
// The code page 932 code of a character outside ASCII and half-width katakana; 0 when none.
std::uint16_t EncodeWide(char16_t c);
} // namespace platform

} // namespace ubin
