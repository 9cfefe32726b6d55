// Replacing a small file atomically: write the new content to a file of its own beside the old
// one, flush it to disk, then move it over the old one with MoveFileEx, which replaces the file
// in one step. A failure at any step deletes the new file and leaves the old one as it was.
#include "base/atomic_write.h"
#include "base/cp932.h"
#include "base/errors.h"
#include "base/leftovers.h"
#include "base/path_text.h"

#include <algorithm>
#include <random>
#include <windows.h>

namespace ubin {

namespace {

std::string SystemMessage(DWORD err)
{
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                       | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, err, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::u16string message;
    if (n > 0 && text) message.assign(text, text + n);
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == u'\r' || message.back() == u'\n' || message.back() == u' '
                                || message.back() == u'.'))
        message.pop_back();
    return (message.empty() ? std::string() : ToUtf8(message) + " ") + "(error " + std::to_string(err) + ")";
}

[[noreturn]] void Fail(const std::filesystem::path& path, const std::string& what, DWORD err)
{
    throw FileWriteError(PathToUtf8(path) + ": " + what + ": " + SystemMessage(err));
}

std::string Hex(std::uint64_t v)
{
    static const char digits[] = "0123456789abcdef";
    std::string out(6, '0');
    for (int i = 5; i >= 0; --i, v >>= 4) out[static_cast<std::size_t>(i)] = digits[v & 15];
    return out;
}

// The temporary files of the same name that a process no longer running left behind.
void RemoveStaleTemporaries(const std::filesystem::path& folder, const std::string& prefix)
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        std::error_code typeError;
        if (entry.is_regular_file(typeError) && IsStaleLeftover(entry, prefix)) {
            std::error_code ignored;
            std::filesystem::remove(entry.path(), ignored);
        }
    }
}

} // namespace

void WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes)
{
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(L".");
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) throw FileWriteError(PathToUtf8(path) + ": the folder cannot be created: " + ec.message());

    // A name of its own: CREATE_NEW refuses a name that is taken, so neither the leftover of an
    // earlier failed run nor a second writer's file is ever overwritten.
    static thread_local std::mt19937_64 random{std::random_device{}()};
    const std::string prefix = "." + PathToUtf8(path.filename()) + ".";
    RemoveStaleTemporaries(folder, prefix);
    std::filesystem::path tmp;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; h == INVALID_HANDLE_VALUE; ++attempt) {
        tmp = folder / PathFromUtf8(prefix + ProcessTag() + Hex(random()));
        h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) break;
        const DWORD err = GetLastError();
        if ((err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) || attempt == 100)
            Fail(path, "cannot be written", err);
    }
    auto abandon = [&](DWORD err) {
        CloseHandle(h);
        DeleteFileW(tmp.c_str());
        Fail(path, "cannot be written", err);
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD wrote = 0;
        if (!WriteFile(h, bytes.data() + done, chunk, &wrote, nullptr)) abandon(GetLastError());
        if (wrote == 0) abandon(ERROR_WRITE_FAULT);
        done += wrote;
    }
    if (!FlushFileBuffers(h)) abandon(GetLastError());
    if (!CloseHandle(h)) {
        const DWORD err = GetLastError();
        DeleteFileW(tmp.c_str());
        Fail(path, "cannot be written", err);
    }
    if (!MoveFileExW(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD err = GetLastError();
        DeleteFileW(tmp.c_str());
        Fail(path, "cannot be replaced", err);
    }
}

} // namespace ubin
