#pragma once
// A small directory written by hand for the engine and form tests.
#include "tests/support/mini_directory.h"

namespace ubin::test {

// A few Hiroshima, Tokyo and Sapporo entries in the order of the national list, a building
// whose twelve floors each have a postal code, towns named 以下に掲載がない場合 and 一円, and
// entries whose city code is 00000 (no valid code) or has no city line.
MiniDirectory HandWritten();

} // namespace ubin::test
