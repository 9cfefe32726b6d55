#pragma once
// Checks on the text of a request that the HTTP library lets through as it came: the
// percent-encoding of the target, UTF-8 after decoding, the JSONP callback name.
#include <optional>
#include <string>
#include <string_view>

namespace ubin::serve {

// The target with every %XX decoded (a '+' stays a '+'); none when a '%' is not followed by
// two hexadecimal digits.
std::optional<std::string> PercentDecode(std::string_view target);

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
