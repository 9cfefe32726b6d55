#include "tools/ubin-serve/static_files.h"

#include "base/errors.h"
#include "base/path_text.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ubin::serve {

namespace {

// The page changes with a new version of the server; a short lifetime lets it reach browsers.
constexpr char kPageLifetime[] = "public, max-age=300";

std::string ContentTypeOf(const std::filesystem::path& file)
{
    const std::string ext = file.extension().string();
    if (ext == ".html") return "text/html; charset=utf-8";
    if (ext == ".css") return "text/css; charset=utf-8";
    if (ext == ".js" || ext == ".mjs") return kScriptType;
    if (ext == ".ts") return "text/plain; charset=utf-8";
    if (ext == ".json") return kJsonType;
    if (ext == ".svg") return "image/svg+xml; charset=utf-8";
    if (ext == ".txt") return "text/plain; charset=utf-8";
    if (ext == ".png") return "image/png";
    if (ext == ".ico") return "image/x-icon";
    return "application/octet-stream";
}

} // namespace

StaticFiles::StaticFiles(const std::filesystem::path& folder)
{
    if (folder.empty()) return;
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        if (!item.is_regular_file()) continue;
        std::ifstream in(item.path(), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        if (!in) throw ServiceError("cannot read " + PathToUtf8(item.path()));
        Reply r;
        r.contentType = ContentTypeOf(item.path());
        r.cacheControl = kPageLifetime;
        r.body = bytes.str();
        files_.emplace("/" + item.path().filename().string(), std::move(r));
    }
}

const Reply* StaticFiles::Find(const std::string& path) const
{
    const auto it = files_.find(path == "/" ? std::string("/index.html") : path);
    if (it != files_.end()) return &it->second;
    // A page is also named without its extension: /docs is docs.html.
    if (path.find('.') != std::string::npos) return nullptr;
    const auto page = files_.find(path + ".html");
    return page == files_.end() ? nullptr : &page->second;
}

} // namespace ubin::serve
