#pragma once
// The page ubin-serve serves at /: each file of a folder, read once, kept as its reply.
#include "tools/ubin-serve/service.h"

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>

namespace ubin::serve {

class StaticFiles {
public:
    // The files of the folder (not its subfolders); none for an empty path.
    explicit StaticFiles(const std::filesystem::path& folder);
    // The reply for a request path ("/" is index.html, "/docs" docs.html), or none for a name
    // the folder does not hold.
    const Reply* Find(const std::string& path) const;
    std::size_t size() const { return files_.size(); }

private:
    std::map<std::string, Reply> files_;
};

} // namespace ubin::serve
