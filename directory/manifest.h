#pragma once
// The manifest of a directory folder (MANIFEST.TXT), written by ubin-build after every other
// file: the size and CRC-32 of each file of the build, and a build number that no other build
// shares. The programs compare the sizes when they open a directory, so a file cut short or
// left from another build is named at once instead of answering "not found"; `ubin check`
// compares the checksums; a program that runs for long notices a replaced folder by its build
// number.
//
//   ubin-build manifest 1
//   build 5f3a9c2e7d1b4a60
//   edition 2026-11
//   input KEN_ALL.CSV<TAB>12345678<TAB>(SHA-256 of the file, 64 hex digits)
//   UIND1.IDX<TAB>1491852<TAB>8d1f0a2c
//   ...
//
// The edition is the month of Japan Post's data; "edition-guessed" follows it when ubin-build
// took it from the input files' dates. The input lines name the files the build read (the base
// KEN_ALL.CSV, the month files, JIGYOSYO.CSV). A manifest without these lines (written before
// editions were recorded) reads as edition unknown; a line of a kind this reader does not know
// is passed over, so that a later ubin-build can add lines.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

extern const std::u16string kManifestFileName; // MANIFEST.TXT

struct ManifestFile {
    std::string name; // UTF-8
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
};

// A file ubin-build read: its name as given (UTF-8, without its folder), size and SHA-256.
struct ManifestInput {
    std::string name;
    std::uint64_t size = 0;
    std::string sha256; // 64 lowercase hexadecimal digits
};

struct Manifest {
    std::string build;
    std::string edition;          // "2026-11"; empty when unknown
    bool editionGuessed = false;
    std::vector<ManifestInput> inputs;
    std::vector<ManifestFile> files;
};

// CRC-32 (the polynomial of zip and PNG), continued from `crc`.
std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc = 0);

std::string FormatManifest(const Manifest& m);
// Throws DirectoryError naming the file and the line when the text is not a manifest.
Manifest ParseManifest(std::string_view text, const std::filesystem::path& file);
// The manifest of a folder, or none when it has none. Throws DirectoryError when it cannot be
// read or is not a manifest.
std::optional<Manifest> ReadManifest(const std::filesystem::path& file);

} // namespace ubin
