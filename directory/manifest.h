#pragma once
// The manifest of a directory folder (MANIFEST.TXT), written by ubin-build after every other
// file: the size and checksum of each file of the build, and a build number that no other build
// shares. The programs compare sizes and checksums when they open a directory, so a file cut
// short, damaged or left from another build is named at once instead of answering wrong;
// `ubin check` compares them too; a program that runs for long notices a replaced folder by its
// build number.
//
//   ubin-build manifest 2
//   build 5f3a9c2e7d1b4a60
//   edition 2026-11
//   input KEN_ALL.CSV<TAB>12345678<TAB>(SHA-256 of the file, 64 hex digits)
//   UIND1.IDX<TAB>1491852<TAB>9c1e0a2c8d1f0a2c
//   ...
//
// Version 2 gives each file's XXH3 (base/checksum.h) as 16 hexadecimal digits; version 1, of
// the builds before, its CRC-32 as 8. A line with a tab lists a file of the folder, unless it
// starts with "input ": the files the build read (the base KEN_ALL.CSV, the month files,
// JIGYOSYO.CSV) with their SHA-256. A line without a tab is "word value": build, edition
// (the month of Japan Post's data; "edition-guessed" follows it when ubin-build took it from the
// input files' dates), and any that later builds add, which readers that do not know them
// skip. A manifest without an edition (written before editions were recorded) reads as
// edition unknown. A file's name is a plain name inside the folder: one that leaves it is
// refused.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

extern const std::u16string kManifestFileName; // MANIFEST.TXT

// The checksum a manifest gives for its files.
enum class ManifestSum { Crc32, Xxh3 };

struct ManifestFile {
    std::string name; // UTF-8
    std::uint64_t size = 0;
    std::uint64_t sum = 0; // CRC-32 or XXH3, as the manifest's kind
};

// A file ubin-build read: its name as given (UTF-8, without its folder), size and SHA-256.
struct ManifestInput {
    std::string name;
    std::uint64_t size = 0;
    std::string sha256; // 64 lowercase hexadecimal digits
};

struct Manifest {
    ManifestSum kind = ManifestSum::Xxh3;
    std::string build;
    std::string edition;          // "2026-11"; empty when unknown
    bool editionGuessed = false;
    std::vector<ManifestInput> inputs;
    std::vector<ManifestFile> files;

    // The file listed under this name, or none.
    const ManifestFile* Find(std::string_view name) const;
};

// Whether a name in a manifest stays inside the folder: not empty, no separator, drive or NUL,
// not "." or "..".
bool IsPlainFileName(std::string_view name);

// CRC-32 (the polynomial of zip and PNG), continued from `crc`.
std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc = 0);

// The text of a manifest (version 2 for XXH3, version 1 for CRC-32).
std::string FormatManifest(const Manifest& m);
// Throws DirectoryError naming the file and the line when the text is not a manifest.
Manifest ParseManifest(std::string_view text, const std::filesystem::path& file);
// The manifest of a folder, or none when it has none. Throws DirectoryError when it cannot be
// read or is not a manifest.
std::optional<Manifest> ReadManifest(const std::filesystem::path& file);

} // namespace ubin
