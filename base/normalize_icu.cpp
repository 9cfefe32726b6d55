// NFKC through ICU.
#include "base/errors.h"
#include "base/normalize_platform.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

namespace ubin::platform {
namespace {

// The instance belongs to ICU and is safe to share between threads. It is
// fetched once behind a C++ static so that every thread that uses it is
// ordered after its creation in a way the thread sanitizer can see (ICU's own
// once-guard is not instrumented, and ubin-build normalizes on several threads).
const icu::Normalizer2* Instance()
{
    static const icu::Normalizer2* const nfkc = [] {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* instance = icu::Normalizer2::getNFKCInstance(status);
        if (U_FAILURE(status)) throw EncodingError(std::string("ICU has no NFKC normalizer: ") + u_errorName(status));
        return instance;
    }();
    return nfkc;
}

} // namespace

std::u16string Nfkc(std::u16string_view text)
{
    const icu::Normalizer2* nfkc = Instance();
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString in(false, text.data(), static_cast<int32_t>(text.size()));
    const icu::UnicodeString out = nfkc->normalize(in, status);
    if (U_FAILURE(status)) throw EncodingError(std::string("NFKC failed: ") + u_errorName(status));
    return std::u16string(out.getBuffer(), static_cast<std::size_t>(out.length()));
}

} // namespace ubin::platform
