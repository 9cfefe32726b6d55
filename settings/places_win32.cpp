#include "settings/places.h"

#include <windows.h>

namespace ubin {

namespace {

bool AnyFileMatches(const wchar_t* pattern)
{
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(pattern, &data);
    if (h == INVALID_HANDLE_VALUE) return false;
    FindClose(h);
    return true;
}

} // namespace

PlaceContext PlatformPlaces(Program program, const std::filesystem::path&, const std::filesystem::path&,
                            const std::filesystem::path& currentFolder)
{
    PlaceContext ctx;
    ctx.currentFolder = currentFolder;
    ctx.installFolder = L"c:\\Program Files\\Marubeta\\";
    switch (program) {
    case Program::Marubeta:
        ctx.windowsFolder = AnyFileMatches(L"c:\\WINNT\\*.BMP") ? L"C:\\WINNT\\" : L"C:\\WINDOWS\\";
        break;
    case Program::Tenzora:
        ctx.windowsFolder = AnyFileMatches(L"c:\\winNT\\*.sys") ? L"C:\\WinNT\\" : L"C:\\Windows\\";
        break;
    case Program::Control:
        ctx.windowsFolder = L"c:\\windows\\";
        break;
    }
    return ctx;
}

} // namespace ubin
