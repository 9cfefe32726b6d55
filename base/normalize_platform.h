#pragma once
// The platform half of the text normalization.
#include <string>
#include <string_view>

namespace ubin::platform {

// Unicode NFKC of the text.
std::u16string Nfkc(std::u16string_view text);

} // namespace ubin::platform
