#include "base/atomic_write.h"
#include "base/errors.h"

#include <fstream>
#include <windows.h>

namespace ubin {

void WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes)
{
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) throw FileWriteError(path.string() + ": the folder cannot be created: " + ec.message());
    std::filesystem::path tmp = path;
    tmp += L".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            out.close();
            std::filesystem::remove(tmp, ec);
            throw FileWriteError(path.string() + ": cannot be written");
        }
    }
    if (!MoveFileExW(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        std::filesystem::remove(tmp, ec);
        throw FileWriteError(path.string() + ": cannot be replaced (error " + std::to_string(GetLastError()) + ")");
    }
}

} // namespace ubin
