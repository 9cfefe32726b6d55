// Feeds arbitrary bytes to the line splitter and the settings reader: both must either give a
// result or throw their own error, never crash or read out of bounds.
#include "base/cp932.h"
#include "base/errors.h"
#include "base/text.h"
#include "settings/settings.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    std::u16string text;
    ubin::TryDecodeCp932(bytes, text);

    std::vector<std::u16string> fields(1 + data[0] % 10, u"x");
    fields[0] = text;
    try {
        ubin::SplitCsvLine(fields);
    } catch (const ubin::FieldCountError&) {
    }

    try {
        const ubin::Settings s = ubin::ParseSettings(text);
        // Whatever is written must read back unchanged.
        const ubin::Settings back = ubin::ParseSettings(ubin::DecodeCp932(ubin::FormatSettings(s)));
        if (back.dataFolder != s.dataFolder || back.clipFlags != s.clipFlags || back.windowLeft != s.windowLeft)
            __builtin_trap();
    } catch (const ubin::SettingsError&) {
    }
    try {
        ubin::ParseEditorSettings(text);
    } catch (const ubin::SettingsError&) {
    }
    ubin::DigitsOnly(text);
    ubin::FirstWord(text);
    ubin::NumericValue(text);
    return 0;
}
