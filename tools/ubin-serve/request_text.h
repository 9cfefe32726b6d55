#pragma once
// The text of a request that the HTTP library lets through as it came: the percent-encoding of
// the target, UTF-8 after decoding, the JSONP callback name, and what the log shows of it.
#include <optional>
#include <string>
#include <string_view>

namespace ubin::serve {

// The text with every %XX decoded, and with `plusIsSpace` (a query's names and values) each '+'
// as a blank; else a '+' stays a '+'. None when a '%' is not followed by two hexadecimal digits.
// The one decoder of the server: the path and every parameter go through it once.
std::optional<std::string> PercentDecode(std::string_view text, bool plusIsSpace = false);

// Whether the bytes are well-formed UTF-8: no stray continuation bytes, no overlong forms,
// no surrogates, nothing beyond U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

// Whether a JSONP callback is a plain JavaScript identifier: a letter, '_' or '$', then
// letters, digits, '_' or '$', at most 128 characters. Nothing else reaches the reply.
bool IsJavaScriptIdentifier(std::string_view name);

// A text of a request as the log shows it: bytes outside printable ASCII (and the backslash)
// as \xNN, so a request cannot forge a log line; "-" for an empty text.
std::string LogSafe(std::string_view text);

} // namespace ubin::serve
