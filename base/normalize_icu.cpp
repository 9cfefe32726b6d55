// NFKC through ICU.
#include "base/errors.h"
#include "base/normalize_platform.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

namespace ubin::platform {

std::u16string Nfkc(std::u16string_view text)
{
    UErrorCode status = U_ZERO_ERROR;
    // The instance belongs to ICU and is safe to share between threads.
    const icu::Normalizer2* nfkc = icu::Normalizer2::getNFKCInstance(status);
    if (U_FAILURE(status)) throw EncodingError(std::string("ICU has no NFKC normalizer: ") + u_errorName(status));
    const icu::UnicodeString in(false, text.data(), static_cast<int32_t>(text.size()));
    const icu::UnicodeString out = nfkc->normalize(in, status);
    if (U_FAILURE(status)) throw EncodingError(std::string("NFKC failed: ") + u_errorName(status));
    return std::u16string(out.getBuffer(), static_cast<std::size_t>(out.length()));
}

} // namespace ubin::platform
