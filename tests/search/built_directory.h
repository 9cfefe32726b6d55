#pragma once
// A directory built by ubin-build from hand-made KEN_ALL (and JIGYOSYO) rows in a folder of its
// own, open for lookups and finds: the set-up the engine's tests over such rows share.
#include "search/find.h"
#include "tests/support/japan_post_rows.h"
#include "tests/support/temp_dir.h"

#include <memory>
#include <vector>

namespace ubin::test {

struct BuiltDirectory {
    TempDir temp;
    std::unique_ptr<Lookup> lookup;
    std::unique_ptr<Finder> finder;

    explicit BuiltDirectory(const std::vector<KenAllRow>& rows, const std::vector<JigyosyoRow>& offices = {});
};

} // namespace ubin::test
