#pragma once
// Errors raised by the directory, settings and search libraries. Each message names the file
// and the record, line or byte position, so a program can show it to the user as it stands.
#include <stdexcept>
#include <string>

namespace ubin {

// A directory file that is missing, short, damaged or not code page 932.
class DirectoryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Text that cannot be converted between code page 932 and UTF-16.
class EncodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A line split into more fields than its reader holds.
class FieldCountError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace ubin
