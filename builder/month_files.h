#pragma once
// Japan Post's monthly change files applied to a full file: ADD_YYMM.CSV and DEL_YYMM.CSV (the
// rows of KEN_ALL.CSV added and deleted that month, in KEN_ALL's own format), JADD_YYMM.CSV and
// JDEL_YYMM.CSV for JIGYOSYO.CSV. The result is a full file of the later month, rows in the
// base's order, in the base's edition (code page 932 or UTF-8).
//
// A long town of KEN_ALL spans several rows (continuation rows); a change file holds all of
// them, and they are added or deleted as one. Rows are the same when their values are, the
// last columns aside (KEN_ALL's update and reason columns, JIGYOSYO's change column), which
// Japan Post writes differently in the change files.
#include "builder/builder.h"
#include "builder/csv_rows.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ubin {

enum class ChangeFormat { KenAll, Jigyosyo };

// One month: its added rows and its deleted rows (either file may be empty).
struct MonthBytes {
    InputBytes add, del;
};

// Applies the months in order to the base: each month's deleted rows first, then its added
// rows. A deleted row the data does not hold stops with a BuildError naming the file and the
// line; so does an added row it holds already, unless `lenient`, which counts it instead.
// Where an added row goes: in the place of a row of the same municipal and postal code deleted
// that month (a renamed town, a new reading, a town split in several); else after the last row
// of the same town; else among its city's rows before the first with a later reading (after
// the city's 以下に掲載がない場合); else, for a new city, before the first city of a higher code.
// `origins`, when given, is filled with the file and line each line of the result came from
// (the base or an added file), so that a fault found when the result is read names them.
std::string ApplyMonths(ChangeFormat format, const InputBytes& base, const std::vector<MonthBytes>& months,
                        bool lenient, MonthReport& report, LineOrigins* origins = nullptr);

} // namespace ubin
