#pragma once
// File names as UTF-8 text. On POSIX a path's bytes are its UTF-8 text already; on Windows a
// path holds UTF-16 and a path made from a plain std::string is read in the C library's code
// page, which turns 郵便番号.CSV into other characters. Names held as UTF-8 text go through
// these on every platform.
#include <filesystem>
#include <string>
#include <string_view>

namespace ubin {

inline std::filesystem::path PathFromUtf8(std::string_view utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string PathToUtf8(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace ubin
