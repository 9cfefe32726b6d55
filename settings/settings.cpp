#include "settings/settings.h"

#include "base/atomic_write.h"
#include "base/cp932.h"
#include "base/errors.h"
#include "base/path_text.h"
#include "base/text.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>

namespace ubin {

namespace {

// One line of 16 values; even a long folder name leaves it far below this.
constexpr std::uintmax_t kMaxSettingsFileSize = 64 * 1024;

bool IsLineEnd(char16_t c) { return c == u'\r' || c == u'\n'; }

} // namespace

std::array<std::u16string, kSettingsValueCount> SplitSettingsValues(std::u16string_view text)
{
    return SplitSettingsValues(text, nullptr);
}

std::array<std::u16string, kSettingsValueCount> SplitSettingsValues(std::u16string_view text, bool* lastRanToEnd)
{
    std::array<std::u16string, kSettingsValueCount> values;
    std::size_t i = 0;
    for (int v = 0; v < kSettingsValueCount; ++v) {
        while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || IsLineEnd(text[i]))) ++i;
        if (i >= text.size())
            throw SettingsError("holds " + std::to_string(v) + " values; 15 are needed");
        std::u16string& value = values[static_cast<std::size_t>(v)];
        if (text[i] == u'"') {
            const std::size_t close = text.find(u'"', i + 1);
            const std::size_t end = close == std::u16string_view::npos ? text.size() : close;
            value.assign(text.substr(i + 1, end - i - 1));
            i = end == text.size() ? end : end + 1;
            // Whatever stands between the closing quote and the separator is not part of it.
            while (i < text.size() && text[i] != u',' && !IsLineEnd(text[i])) ++i;
        } else {
            const std::size_t start = i;
            while (i < text.size() && text[i] != u',' && !IsLineEnd(text[i])) ++i;
            value.assign(text.substr(start, i - start));
        }
        if (lastRanToEnd) *lastRanToEnd = i >= text.size();
        if (i < text.size() && text[i] == u',') ++i;
        else if (i < text.size() && text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') i += 2;
        else if (i < text.size()) ++i;
    }
    return values;
}

bool ParseSettingsInteger(std::u16string_view value, std::int16_t& out)
{
    std::size_t b = 0, e = value.size();
    while (b < e && (value[b] == u' ' || value[b] == u'\t')) ++b;
    while (e > b && (value[e - 1] == u' ' || value[e - 1] == u'\t')) --e;
    const std::u16string_view v = value.substr(b, e - b);
    if (v.empty()) { out = 0; return true; } // an empty value reads as 0
    std::size_t i = 0;
    if (v[i] == u'-' || v[i] == u'+') ++i;
    bool digits = false, point = false;
    for (; i < v.size(); ++i) {
        if (v[i] >= u'0' && v[i] <= u'9') digits = true;
        else if (v[i] == u'.' && !point) point = true;
        else return false;
    }
    if (!digits) return false;
    const double r = RoundHalfEven(NumericValue(v));
    if (r < std::numeric_limits<std::int16_t>::min() || r > std::numeric_limits<std::int16_t>::max()) return false;
    out = static_cast<std::int16_t>(r);
    return true;
}

namespace {

// A settings file that cannot be replaced is a settings error to the programs that write it.
void WriteAtomically(const std::filesystem::path& path, std::string_view bytes)
{
    try {
        WriteFileAtomically(path, bytes);
    } catch (const FileWriteError& e) {
        throw SettingsError(e.what());
    }
}

std::int16_t IntegerValue(const std::array<std::u16string, kSettingsValueCount>& values, int index)
{
    std::int16_t out = 0;
    if (!ParseSettingsInteger(values[static_cast<std::size_t>(index)], out))
        throw SettingsError("value " + std::to_string(index + 1) + " (" + ToUtf8(values[static_cast<std::size_t>(index)])
                            + ") is not a 16-bit integer");
    return out;
}

ClipFlags FlagValues(const std::array<std::u16string, kSettingsValueCount>& values)
{
    ClipFlags flags{};
    for (int i = 0; i < kClipFlagCount; ++i) flags[static_cast<std::size_t>(i)] = IntegerValue(values, 6 + i);
    return flags;
}

// A text value is written inside double quotes unchanged, so it cannot itself hold a double
// quote or a line break: the file would read back differently.
std::u16string Quoted(const std::u16string& text)
{
    if (text.find_first_of(u"\"\r\n") != std::u16string::npos)
        throw SettingsError("the value \"" + ToUtf8(text) + "\" holds a double quote or a line break and cannot be written");
    return u"\"" + text + u"\"";
}

std::u16string Integer(std::int16_t v) { return U16(std::to_string(v)); }

std::string Finish(std::u16string line)
{
    line += u",\"END\"\r\n";
    try {
        return EncodeCp932(line);
    } catch (const EncodingError& e) {
        throw SettingsError(std::string("a value cannot be written in code page 932: ") + e.what());
    }
}

void AppendFlags(std::u16string& line, const ClipFlags& flags)
{
    for (const std::int16_t f : flags) line += u"," + Integer(f);
}

// The text of a settings file: its bytes decoded up to the first byte that is not code page
// 932 (`bad` names it then; the values after the 15th are never read, so such a byte there
// does no harm).
struct FileText {
    std::u16string text;
    std::optional<std::string> bad;
};

FileText ReadFileText(const std::filesystem::path& path)
{
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status)) throw SettingsError(PathToUtf8(path) + ": file not found");
    if (std::filesystem::is_directory(status)) throw SettingsError(PathToUtf8(path) + ": is a folder, not a file");
    // A device or a pipe could block the program or never end.
    if (!std::filesystem::is_regular_file(status))
        throw SettingsError(PathToUtf8(path) + ": is not a regular file (a device, pipe or socket)");
    if (std::filesystem::file_size(path, ec) > kMaxSettingsFileSize)
        throw SettingsError(PathToUtf8(path) + ": is larger than a settings file can be ("
                            + std::to_string(kMaxSettingsFileSize / 1024) + " KiB)");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw SettingsError(PathToUtf8(path) + ": cannot be opened");
    std::string bytes(kMaxSettingsFileSize + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad()) throw SettingsError(PathToUtf8(path) + ": cannot be read");
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (bytes.size() > kMaxSettingsFileSize)
        throw SettingsError(PathToUtf8(path) + ": is larger than a settings file can be ("
                            + std::to_string(kMaxSettingsFileSize / 1024) + " KiB)");
    FileText file;
    const std::size_t stop = TryDecodeCp932(bytes, file.text);
    if (stop < bytes.size()) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(bytes[stop]));
        file.bad = "byte " + std::to_string(stop + 1) + " (0x" + hex + ") does not begin a code page 932 character";
    }
    return file;
}

template <class T, class Parse>
T ReadWith(const std::filesystem::path& path, Parse parse)
{
    const FileText file = ReadFileText(path);
    if (file.bad) {
        // Only a byte inside the first 15 values makes the file unreadable: the text before it
        // must hold all 15, the last one ended by its separator.
        bool lastRanToEnd = true;
        try {
            SplitSettingsValues(file.text, &lastRanToEnd);
        } catch (const SettingsError&) {
            lastRanToEnd = true;
        }
        if (lastRanToEnd) throw SettingsError(PathToUtf8(path) + ": " + *file.bad);
    }
    try {
        return parse(file.text);
    } catch (const SettingsError& e) {
        throw SettingsError(PathToUtf8(path) + ": " + e.what());
    }
}

template <class T, class Read>
std::optional<FoundSettings<T>> FindWith(const std::vector<std::filesystem::path>& places,
                                         std::vector<std::string>* tried, Read read)
{
    for (std::size_t i = 0; i < places.size(); ++i) {
        try {
            return FoundSettings<T>{read(places[i]), i, places[i]};
        } catch (const SettingsError& e) {
            if (tried) tried->push_back(e.what());
        }
    }
    return std::nullopt;
}

} // namespace

Settings ParseSettings(std::u16string_view text)
{
    const auto v = SplitSettingsValues(text);
    Settings s;
    s.reserved1 = v[0];
    s.reserved2 = v[1];
    s.dataFolder = v[2];
    s.reserved3 = IntegerValue(v, 3);
    s.windowLeft = IntegerValue(v, 4);
    s.windowTop = IntegerValue(v, 5);
    s.clipFlags = FlagValues(v);
    return s;
}

EditorSettings ParseEditorSettings(std::u16string_view text)
{
    const auto v = SplitSettingsValues(text);
    EditorSettings s;
    for (std::size_t i = 0; i < 6; ++i) s.texts[i] = v[i];
    s.clipFlags = FlagValues(v);
    return s;
}

std::string FormatSettings(const Settings& s)
{
    std::u16string line = Quoted(s.reserved1) + u"," + Quoted(s.reserved2) + u"," + Quoted(s.dataFolder) + u","
                          + Integer(s.reserved3) + u"," + Integer(s.windowLeft) + u"," + Integer(s.windowTop);
    AppendFlags(line, s.clipFlags);
    return Finish(std::move(line));
}

std::string FormatEditorSettings(const EditorSettings& s)
{
    std::u16string line;
    for (std::size_t i = 0; i < s.texts.size(); ++i) line += (i ? u"," : u"") + Quoted(s.texts[i]);
    AppendFlags(line, s.clipFlags);
    return Finish(std::move(line));
}

std::int16_t ClampToInt16(std::int64_t value)
{
    if (value < std::numeric_limits<std::int16_t>::min()) return std::numeric_limits<std::int16_t>::min();
    if (value > std::numeric_limits<std::int16_t>::max()) return std::numeric_limits<std::int16_t>::max();
    return static_cast<std::int16_t>(value);
}

Settings ReadSettingsFile(const std::filesystem::path& path)
{
    return ReadWith<Settings>(path, [](std::u16string_view t) { return ParseSettings(t); });
}

EditorSettings ReadEditorSettingsFile(const std::filesystem::path& path)
{
    return ReadWith<EditorSettings>(path, [](std::u16string_view t) { return ParseEditorSettings(t); });
}

namespace {

// Formats first, so that a value that cannot be written leaves the old file as it was; the
// error names the file.
template <class T>
void WriteWith(const std::filesystem::path& path, const T& settings, std::string (*format)(const T&))
{
    std::string bytes;
    try {
        bytes = format(settings);
    } catch (const SettingsError& e) {
        throw SettingsError(PathToUtf8(path) + ": " + e.what());
    }
    WriteAtomically(path, bytes);
}

} // namespace

void WriteSettingsFile(const std::filesystem::path& path, const Settings& s)
{
    WriteWith(path, s, FormatSettings);
}

SavedSettings SaveSettingsFile(const std::filesystem::path& path, const Settings& s)
{
    SavedSettings saved;
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    if (std::filesystem::exists(status) && !std::filesystem::is_directory(status)) {
        try {
            ReadSettingsFile(path);
        } catch (const SettingsError& e) {
            std::filesystem::path kept = path;
            kept += kUnreadableSuffix;
            std::filesystem::rename(path, kept, ec);
            if (ec)
                throw SettingsError(PathToUtf8(path) + ": cannot be read (" + e.what() + ") and cannot be kept as "
                                    + kept.filename().string() + ": " + ec.message()
                                    + "; the settings were not saved, so that it is not lost");
            saved.keptUnreadable = kept;
            saved.whyUnreadable = e.what();
        }
    }
    WriteSettingsFile(path, s);
    return saved;
}

void WriteEditorSettingsFile(const std::filesystem::path& path, const EditorSettings& s)
{
    WriteWith(path, s, FormatEditorSettings);
}

std::optional<FoundSettings<Settings>> FindSettings(const std::vector<std::filesystem::path>& places,
                                                    std::vector<std::string>* tried)
{
    return FindWith<Settings>(places, tried, ReadSettingsFile);
}

std::optional<FoundSettings<EditorSettings>> FindEditorSettings(const std::vector<std::filesystem::path>& places,
                                                                std::vector<std::string>* tried)
{
    return FindWith<EditorSettings>(places, tried, ReadEditorSettingsFile);
}

} // namespace ubin
