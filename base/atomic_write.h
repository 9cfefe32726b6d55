#pragma once
// Replacing a small file atomically: the new content goes to a temporary file in the same
// folder, which is then renamed over the old one. A failed write never loses the old file.
#include <filesystem>
#include <string_view>

namespace ubin {

// Creates the folder when missing; on failure the old file is left whole and FileWriteError
// names the file and says why. The temporary file is ".<name>.<process id>-XXXXXX"; those of
// the same name left by a killed process are removed first.
void WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes);

} // namespace ubin
