#pragma once
// What the window and the control do with a failure inside an event of their search: the
// user is told in Japanese what failed, which file, in which folder, and what to do; the form
// stays usable, and nothing is thrown past the event loop.
#include <QString>

#include <functional>
#include <string>

namespace ubin::widgets {

// The message for a directory file that is missing or cannot be read: the file, the
// DataFolder of the settings, the reason as the core gave it, and how to mend it.
QString DirectoryErrorText(const std::string& detail, const std::u16string& dataFolder);

// Runs one event's handler; a failure (an error of the core, or any other) goes to `report`
// with the message the user should read. `dataFolder` names the folder in that message.
void RunEvent(const std::function<void()>& handler, const std::u16string& dataFolder,
              const std::function<void(const QString& message)>& report);

} // namespace ubin::widgets
