// NFKC through Windows' NormalizeString.
#include "base/errors.h"
#include "base/normalize_platform.h"

#include <windows.h>

namespace ubin::platform {

std::u16string Nfkc(std::u16string_view text)
{
    if (text.empty()) return {};
    const auto* in = reinterpret_cast<LPCWSTR>(text.data());
    const int inLength = static_cast<int>(text.size());
    int size = NormalizeString(NormalizationKC, in, inLength, nullptr, 0);
    // The first answer is an estimate; a buffer that proves too small is grown and tried again.
    for (int attempt = 0; attempt < 10 && size > 0; ++attempt) {
        std::u16string out(static_cast<std::size_t>(size), u'\0');
        const int written = NormalizeString(NormalizationKC, in, inLength, reinterpret_cast<LPWSTR>(out.data()), size);
        if (written > 0) {
            out.resize(static_cast<std::size_t>(written));
            return out;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
        size = -written;
    }
    throw EncodingError("NFKC failed (error " + std::to_string(GetLastError()) + ")");
}

} // namespace ubin::platform
