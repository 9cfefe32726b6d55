#pragma once
// A folder written beside its final place and then put in that place whole.
#include <filesystem>
#include <string>
#include <string_view>

namespace ubin {

class OutputFolder {
public:
    // Creates an empty folder beside `finalPath` (its parent is created when missing).
    explicit OutputFolder(const std::filesystem::path& finalPath);
    // Removes the folder unless it was committed.
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    const std::filesystem::path& path() const { return temp_; }

    // Writes one file into the folder and flushes it to disk.
    void WriteFile(const std::filesystem::path& name, std::string_view bytes);

    // Puts the folder in place of finalPath, which may exist: where the system can, the two
    // are exchanged in one step; otherwise the old folder is moved aside first and moved back
    // if the new one cannot take its place. The old folder is then removed.
    void Commit();

private:
    std::filesystem::path final_, temp_;
    bool committed_ = false;
};

} // namespace ubin
