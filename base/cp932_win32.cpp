// Code page 932 through the Win32 conversion functions.
#include "base/cp932_platform.h"

#include <windows.h>

namespace ubin::platform {

bool DecodeDoubleByte(unsigned char lead, unsigned char trail, char16_t& out)
{
    const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    wchar_t w[2];
    const int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, in, 2, w, 2);
    if (n != 1) return false;
    out = static_cast<char16_t>(w[0]);
    return true;
}

std::uint16_t EncodeWide(char16_t c)
{
    const wchar_t w = static_cast<wchar_t>(c);
    char buf[4];
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, &w, 1, buf, sizeof buf, nullptr, &usedDefault);
    if (n <= 0 || usedDefault) return 0;
    if (n == 1) return static_cast<unsigned char>(buf[0]);
    return static_cast<std::uint16_t>((static_cast<unsigned char>(buf[0]) << 8) | static_cast<unsigned char>(buf[1]));
}

} // namespace ubin::platform
