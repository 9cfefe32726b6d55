#pragma once
// The errors of the engine, the builder and the programs, every one of them here: a ubin::Error whose message
// names the file and the record, line or byte where the trouble is (or, for a query, what in it
// is refused), so that a program can show it to the user as it stands. Programs catch
// ubin::Error (or a kind below) at their edge; one catch of ubin::Error takes them all.
#include "base/path_text.h"

#include <cstdint>
#include <filesystem>
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

// A mistake in what a program was given on its command line: an option, an argument, a step.
class UsageError : public Error {
public:
    using Error::Error;
};

// A service that cannot start: the socket it was handed or the address it would listen on, the
// files it serves.
class ServiceError : public Error {
public:
    using Error::Error;
};

// Why a query is refused.
enum class QueryFault {
    TooLong,          // longer than a search takes (search/query.h kMaxQueryLength)
    ControlCharacter, // holds a control character (U+0000..U+001F, U+007F..U+009F)
};

// A query refused before anything is searched (search/query.h Query::Read).
class QueryError : public Error {
public:
    QueryError(QueryFault fault, const std::string& message) : Error(message), fault_(fault) {}
    QueryFault fault() const { return fault_; }

private:
    QueryFault fault_;
};

// A build that stopped (builder/builder.h). The message names the file, the line (when there is
// one) and why: "KEN_ALL.CSV: line 12: column 3 (postal code) is not 7 digits: 73000a4".
class BuildError : public Error {
public:
    BuildError(const std::filesystem::path& file, std::int64_t line, const std::string& reason)
        : Error(file.empty() ? reason
                             : PathToUtf8(file) + (line > 0 ? ": line " + std::to_string(line) : std::string()) + ": "
                                   + reason),
          file_(file), line_(line), reason_(reason)
    {
    }

    const std::filesystem::path& file() const { return file_; }
    std::int64_t line() const { return line_; } // 1-based; 0 when the fault is not on a line
    const std::string& reason() const { return reason_; }

private:
    std::filesystem::path file_;
    std::int64_t line_;
    std::string reason_;
};

} // namespace ubin
