#pragma once
// What the routes of ubin-serve read from a request's parameters, alike for every route.
#include "tools/ubin-serve/service.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ubin::serve {

// The most results one reply of the finder holds, whatever `limit` asks (0, "all", included): a
// reply of every match of one kana would be megabytes. `total` still counts them all.
inline constexpr std::size_t kMaxFindLimit = 1000;

std::string U8(std::u16string_view text);
bool AllDigits(std::string_view text);
// A parameter's value; null when the request has none.
const std::string* Param(const Params& params, const std::string& name);
// The query is checked before any search: text that is not UTF-8 (an overlong form, a
// surrogate), a control character or more than the longest query is refused with 400. Else
// none, and `query` holds the text.
std::optional<Reply> RefusedQuery(const std::string& q, std::u16string& query);

} // namespace ubin::serve
