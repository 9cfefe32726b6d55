#include "tests/search/built_directory.h"

#include "base/cp932.h"
#include "builder/builder.h"

namespace ubin::test {

BuiltDirectory::BuiltDirectory(const std::vector<KenAllRow>& rows, const std::vector<JigyosyoRow>& offices)
{
    WriteBytes(temp / "KEN_ALL.CSV", KenAllText(rows));
    BuildOptions options;
    if (!offices.empty()) {
        WriteBytes(temp / "JIGYOSYO.CSV", JigyosyoText(offices));
        options.offices = temp / "JIGYOSYO.CSV";
    }
    BuildDirectory(temp / "KEN_ALL.CSV", temp / "dir", options);
    lookup = Lookup::Open(FromUtf8((temp / "dir").string() + "/"));
    finder = std::make_unique<Finder>(*lookup);
}

} // namespace ubin::test
