#pragma once
// The errors of the core libraries. There is one style: an exception whose message names the
// file and the record, line or byte where the trouble is, so that a program can show it to
// the user as it stands. Programs catch ubin::Error (or a kind below) at their edge.
#include <stdexcept>
#include <string>
#include <string_view>

namespace ubin {

// The message as it can be shown: a NUL byte (a file name or a settings value may hold one)
// is written "\0", so that what() is never cut short at it.
inline std::string ShowableMessage(std::string_view message)
{
    std::string out;
    out.reserve(message.size());
    for (const char c : message) {
        if (c == '\0') out += "\\0";
        else out.push_back(c);
    }
    return out;
}

class Error : public std::runtime_error {
public:
    explicit Error(std::string_view message) : std::runtime_error(ShowableMessage(message)) {}
    explicit Error(const std::string& message) : Error(std::string_view(message)) {}
    explicit Error(const char* message) : Error(std::string_view(message)) {}
};

// A directory file that is missing, short, damaged or not code page 932.
class DirectoryError : public Error {
public:
    using Error::Error;
};

// Text that cannot be converted between code page 932 and UTF-16.
class EncodingError : public Error {
public:
    using Error::Error;
};

// A line split into more fields than its reader holds.
class FieldCountError : public Error {
public:
    using Error::Error;
};

// A settings file that cannot be read or written.
class SettingsError : public Error {
public:
    using Error::Error;
};

// A file that could not be replaced; the old one is still whole.
class FileWriteError : public Error {
public:
    using Error::Error;
};

} // namespace ubin
