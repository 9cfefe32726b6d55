#pragma once
// The texts of the messages that tell the user about a missing or unreadable settings file:
// where the programs looked, what was wrong in each place, and how to make a settings file.
// Marubeta and Tenzora show them; Marubeta also prints them on standard error.
#include <QString>

#include <filesystem>
#include <string>
#include <vector>

namespace ubin::widgets {

// Why one place gave no settings, in Japanese, from the reason the settings reader gives in
// its "<path>: <reason>" line. A reason this does not know is kept as it is after 読めません.
struct SettingsPlaceFailure {
    QString path;
    QString reason;
    bool missing = false; // no file there (as opposed to a file that could not be read)
};
SettingsPlaceFailure DescribeSettingsFailure(const std::string& triedLine, const std::filesystem::path& place);

// The message when no place holds a readable settings file: `headline` (the program's own
// lines), then each place with what was wrong there, then how to make a settings file and
// where to put it (`userFolder`, the folder the program reads first and writes to).
// `tried` holds the reader's line for each of `places`, in order.
QString SettingsNotFoundText(const QString& headline, const std::vector<std::filesystem::path>& places,
                             const std::vector<std::string>& tried, const std::filesystem::path& userFolder);

// A path as the user reads it.
QString PathText(const std::filesystem::path& path);

} // namespace ubin::widgets
