#include "base/program.h"

#include "base/cp932.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

namespace ubin {

std::vector<std::string> ProgramArguments(int argc, char** argv)
{
    std::vector<std::string> args;
    int count = 0;
    if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i) {
            const std::wstring_view w(wide[i]);
            args.push_back(ToUtf8(std::u16string(w.begin(), w.end())));
        }
        LocalFree(wide);
        return args;
    }
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : args;
}

std::filesystem::path ExecutableFolder(const char* argv0)
{
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) break;
        if (n < buf.size()) {
            buf.resize(n);
            return std::filesystem::path(buf).parent_path();
        }
        buf.resize(buf.size() * 2);
    }
    std::error_code ec;
    return std::filesystem::absolute(argv0, ec).parent_path();
}

void UseUtf8Output()
{
    SetConsoleOutputCP(CP_UTF8);
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

} // namespace ubin
