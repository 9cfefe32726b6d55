#pragma once
// Where each program looks for ubscon.def. The lists are computed by the programs from their
// environment and passed to FindSettings, so the library itself reads no environment.
#include <filesystem>
#include <string>
#include <vector>

namespace ubin {

inline constexpr char kSettingsFileName[] = "ubscon.def";

// What a program knows about where it runs.
struct PlaceContext {
    std::filesystem::path windowsFolder;   // see WindowsFolder below
    std::filesystem::path currentFolder;   // the current working folder
    std::filesystem::path installFolder;   // "c:\Program Files\Marubeta\" or <prefix>/share/marubeta/
};

enum class Program { Marubeta, Control, Tenzora };

// Marubeta: the Windows folder, the current folder, the installation folder.
// The control: "c:\windows\" (its own fixed place), the current folder.
// Tenzora: its Windows folder, the current folder.
std::vector<std::filesystem::path> SettingsPlaces(Program program, const PlaceContext& ctx);

// Where each program writes: Marubeta and the control to their Windows folder; Tenzora to
// its Windows folder (only when the settings came from there) and to the current folder.
std::filesystem::path SettingsSavePath(const PlaceContext& ctx);

// The platform's places for a program. On Windows: the probes ("c:\WINNT\*.BMP" for
// Marubeta, "c:\winNT\*.sys" for Tenzora, none for the control). Elsewhere the per-user
// folder <configHome>/marubeta/ stands for every Windows folder, and the installation folder
// is <prefix>/share/marubeta/ found from the executable's own folder <prefix>/bin.
// `configHome` is $XDG_CONFIG_HOME, or $HOME/.config when that is unset (the caller decides).
PlaceContext PlatformPlaces(Program program, const std::filesystem::path& configHome,
                            const std::filesystem::path& executableFolder,
                            const std::filesystem::path& currentFolder);

// PlatformPlaces for the running program: the settings folder's parent from the environment
// (base/program.h's ConfigHome) and the current folder. Every window and the control start
// from it.
PlaceContext ProgramPlaces(Program program, const std::filesystem::path& executableFolder);

// The folder text with the native separator appended when it does not already end in one
// (empty stays empty). On Windows a final "\" or "/" counts; elsewhere only "/".
std::u16string WithFinalSeparator(const std::u16string& folder);

} // namespace ubin
