#pragma once
// POST /v1/find/batch made a slice of lines at a time: each line gets the best result of the
// finder (present/find_batch.h), for at most a budget of time in all.
#include "tools/ubin-serve/work.h"

#include <string>
#include <string_view>
#include <vector>

namespace ubin::serve {

namespace message {
inline constexpr char kBatchBudget[] = "時間の上限を超えたため検索していません。";
} // namespace message

// The lines of a batch body as `ubin find --batch` reads them: a BOM dropped, lines ended by
// "\n" or "\r\n", and the line break after the last line ending it rather than starting another
// (so "a\n\n" and "a\r\n\r\n" are two lines, the second empty).
std::vector<std::string_view> SplitBatchBody(std::string_view body);

// {"edition", "results": [one row per line]} from the edition current when the work begins;
// 413 for more than kMaxBatchLines lines, 404 for a directory without a search index. The lines
// are answered in order until `budget` of time has gone into them; each line after it gets
// message::kBatchBudget as its error instead of a lookup, so the reply still has a row per line.
std::unique_ptr<Work> BatchWork(const Service& service, std::string body, WorkClock::duration budget);

} // namespace ubin::serve
