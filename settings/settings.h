#pragma once
// The settings file ubscon.def: one line of 16 comma-separated values in code page 932.
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"

namespace ubin {

inline constexpr int kSettingsValueCount = 15; // END, the 16th, is written and never read
inline constexpr int kClipFlagCount = 9;

enum ClipFlag : int {
    kAutoClip = 0,
    kClipPostalCode = 1,
    kClipAddress1 = 2,
    kClipAddress2 = 3,
    kClipKana = 4,
    kClipCityCode = 5,
    kAddPrefecture = 6,
};

using ClipFlags = std::array<std::int16_t, kClipFlagCount>;

// A flag is on only when it holds exactly 1.
inline bool IsOn(const ClipFlags& flags, int i) { return flags[static_cast<std::size_t>(i)] == 1; }

// The settings as Marubeta and the control hold them.
struct Settings {
    std::u16string reserved1, reserved2;
    std::u16string dataFolder; // ends in the folder separator when set
    std::int16_t reserved3 = 0;
    std::int16_t windowLeft = 0, windowTop = 0; // twips
    ClipFlags clipFlags{};
};

// The settings as the editor holds them: values 1-6 as text.
struct EditorSettings {
    std::array<std::u16string, 6> texts; // Reserved1, Reserved2, DataFolder, Reserved3, WindowLeft, WindowTop
    ClipFlags clipFlags{};
};

// The first 15 values of the text, by the reading rules: blanks before a value skipped, a
// value opened by a double quote runs to the next double quote and may hold commas, an
// unquoted value runs to the next comma or line end. Throws SettingsError when fewer than 15.
std::array<std::u16string, kSettingsValueCount> SplitSettingsValues(std::u16string_view text);
// The same; `lastRanToEnd` tells whether the 15th value ran up to the end of the text (no
// separator after it).
std::array<std::u16string, kSettingsValueCount> SplitSettingsValues(std::u16string_view text, bool* lastRanToEnd);

// An integer value, quoted or not; false when it is not a number or outside 16 bits.
bool ParseSettingsInteger(std::u16string_view value, std::int16_t& out);

Settings ParseSettings(std::u16string_view text);
EditorSettings ParseEditorSettings(std::u16string_view text);

// The line each writer writes, in code page 932 with CR LF: Marubeta and the control write
// values 4-15 as integers; the editor writes values 1-6 quoted.
std::string FormatSettings(const Settings& s);
std::string FormatEditorSettings(const EditorSettings& s);

// Clamps a position to the 16 bits the file holds.
std::int16_t ClampToInt16(std::int64_t value);

// Read a whole settings file; SettingsError names the file and what is wrong.
Settings ReadSettingsFile(const std::filesystem::path& path);
EditorSettings ReadEditorSettingsFile(const std::filesystem::path& path);

// Replace the file atomically (a temporary file in the same folder, then a rename), creating
// the folder when missing; on failure the old file is left whole and SettingsError says why.
void WriteSettingsFile(const std::filesystem::path& path, const Settings& s);
void WriteEditorSettingsFile(const std::filesystem::path& path, const EditorSettings& s);

// The outcome of a search through the places, first to last.
template <class T>
struct FoundSettings {
    T settings;
    std::size_t placeIndex;
    std::filesystem::path path;
};

// Tries each place in order; the first that reads whole supplies every value. `tried`, when
// given, receives one line per place that failed, naming it and why.
std::optional<FoundSettings<Settings>> FindSettings(const std::vector<std::filesystem::path>& places,
                                                    std::vector<std::string>* tried = nullptr);
std::optional<FoundSettings<EditorSettings>> FindEditorSettings(const std::vector<std::filesystem::path>& places,
                                                                std::vector<std::string>* tried = nullptr);

} // namespace ubin
