#pragma once
// A folder written beside its final place and then put in that place whole.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

class OutputFolder {
public:
    // Creates an empty folder beside `finalPath` (its parent is created when missing), named
    // ".<final name>.build-<process id>-<random>". `ownNames` are the names of the files such a
    // folder holds: only regular files with these names are ever removed, from an old folder
    // that is replaced or from a folder a killed build left behind.
    OutputFolder(const std::filesystem::path& finalPath, std::vector<std::filesystem::path> ownNames);
    // Removes the folder unless it was committed.
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    const std::filesystem::path& path() const { return temp_; }

    // Writes one file into the folder and flushes it to disk.
    void WriteFile(const std::filesystem::path& name, std::string_view bytes);

    // Puts the folder in place of finalPath, which may exist: where the system can, the two
    // are exchanged in one step; otherwise the old folder is moved aside first and moved back
    // if the new one cannot take its place. The old folder's own files are then removed, and
    // the folder with them; when it holds anything else (written at the moment of the swap) it
    // is kept whole under keptPath() instead. Files another program holds open (Windows will
    // not remove them) stay in the moved-aside folder for the next build to remove.
    void Commit();
    // "<final>.kept-<process id>-<random>" when Commit kept the old folder; empty otherwise.
    const std::filesystem::path& keptPath() const { return kept_; }

    // Cleans up beside finalPath after builds that were killed: their ".build-" folders, and
    // ".old-" folders moved aside, whose process no longer runs. An old folder whose place is
    // empty (the build died between the two moves) is moved back instead. Folders that hold
    // anything but own files are left alone.
    static void RemoveLeftovers(const std::filesystem::path& finalPath,
                                const std::vector<std::filesystem::path>& ownNames);

private:
    // Removes the replaced folder, or keeps it under keptPath() when it holds other files.
    void DisposeOld(const std::filesystem::path& old);

    std::filesystem::path final_, temp_, kept_;
    std::vector<std::filesystem::path> own_;
    bool committed_ = false;
};

} // namespace ubin
