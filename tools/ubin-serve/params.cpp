#include "tools/ubin-serve/params.h"

#include "base/cp932.h"
#include "base/text.h"
#include "search/query.h"
#include "tools/ubin-serve/request_text.h"

#include <algorithm>

namespace ubin::serve {

std::string U8(std::u16string_view text) { return ToUtf8(text); }

bool AllDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

const std::string* Param(const Params& params, const std::string& name)
{
    const auto it = params.find(name);
    return it == params.end() ? nullptr : &it->second;
}

std::optional<Reply> RefusedQuery(const std::string& q, std::u16string& query)
{
    if (!IsValidUtf8(q)) return ErrorReply(400, message::kBadUtf8);
    query = FromUtf8(q);
    try {
        CheckedSearchForm(query);
    } catch (const QueryError& e) {
        return ErrorReply(400, e.fault() == QueryFault::TooLong ? message::kQueryTooLong : message::kQueryControl);
    }
    return std::nullopt;
}

} // namespace ubin::serve
