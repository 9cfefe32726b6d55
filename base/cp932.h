#pragma once
// Code page 932 (Shift-JIS as Windows writes it) to UTF-16 and back. Every character of code
// page 932 is one UTF-16 unit, so lengths and positions count characters.
#include <cstdint>
#include <string>
#include <string_view>

namespace ubin {

// Decodes bytes; a byte sequence that is not code page 932 throws EncodingError naming the
// byte offset within `bytes`.
std::u16string DecodeCp932(std::string_view bytes);

// Decodes bytes into out; returns the 0-based offset of the first byte that does not decode,
// or bytes.size() when all of it did.
std::size_t TryDecodeCp932(std::string_view bytes, std::u16string& out);

// Decodes bytes into a buffer of `capacity` characters without allocating; false when a byte
// sequence is not code page 932 or the characters do not fit. `length` is the count written.
bool DecodeCp932Into(std::string_view bytes, char16_t* out, std::size_t capacity, std::size_t& length);

// Encodes text; a character that code page 932 cannot hold throws EncodingError.
std::string EncodeCp932(std::u16string_view text);

// Whether every character of the text has a code page 932 form.
bool HasCp932Form(std::u16string_view text);

// The Shift-JIS code of one character: a single byte's value (0x30 for "0", 0xB1 for "ｱ"),
// or lead byte * 256 + trail byte for a double-byte character (0x8341 for "ア").
std::uint16_t ShiftJisCode(char16_t c);

// UTF-8 <-> UTF-16 for file names and program output.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

} // namespace ubin
