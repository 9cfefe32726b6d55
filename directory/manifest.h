#pragma once
// The manifest of a directory folder (MANIFEST.TXT), written by ubin-build after every other
// file: the size and checksum of each file of the build, and a build number that no other build
// shares. The programs compare sizes and checksums when they open a directory, so a file cut
// short, damaged or left from another build is named at once instead of answering wrong;
// `ubin check` compares them too; a program that runs for long notices a replaced folder by its
// build number.
//
//   ubin-build manifest 3
//   xxh3 0c5e2d9f41a7b803
//   build 5f3a9c2e7d1b4a60
//   edition 2026-11
//   input KEN_ALL.CSV<TAB>12345678<TAB>(SHA-256 of the file, 64 hex digits)
//   UIND1.IDX<TAB>1491852<TAB>9c1e0a2c8d1f0a2c
//   ...
//   pieces 65536 (16 hexadecimal digits per piece, without a space) UIND1.IDX
//   ...
//
// The second line is the XXH3 of every byte after it, so that a manifest cut anywhere or damaged
// is refused rather than read as one listing fewer files. Each file's checksum is its XXH3
// (base/checksum.h) as 16 hexadecimal digits. The builds before wrote version 2, the same
// without the second line, and version 1 with CRC-32 as 8 digits. A line with a tab lists a
// file of the folder, unless it starts with "input ": the files the build read (the base
// KEN_ALL.CSV, the month files, JIGYOSYO.CSV) with their SHA-256. A line without a tab is "word value": build, edition
// (the month of Japan Post's data; "edition-guessed" follows it when ubin-build took it from the
// input files' dates), and any that later builds add, which readers that do not know them
// skip. A manifest without an edition (written before editions were recorded) reads as
// edition unknown. A file's name is a plain name inside the folder: one that leaves it is
// refused.
//
// A "pieces" line gives a listed file's checksum piece by piece: the piece length, then the XXH3
// of each piece in turn (the last one shorter), then the file's name. A program checks the
// pieces a lookup reads, the first time it reads them, instead of the whole file: looking up one
// postal code then hashes a few pieces, not the 16 MB of the files it holds open. A file without
// one (a build before) is checked whole, or section by section where it carries a checksum for
// each (検索.IDX, 住所.IDX).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

extern const std::u16string kManifestFileName; // MANIFEST.TXT

// The version ubin-build writes.
inline constexpr int kManifestVersion = 3;

// The files a build lists in its manifest, by name: the nine, the office files, the search
// index and the address notes (a build without offices writes no office files). The one list
// of them: the manifest's rules and ubin-build's own files take it from here.
const std::vector<std::u16string>& DirectoryFileNames();

// The checksum a manifest gives for its files.
enum class ManifestSum { Crc32, Xxh3 };

struct ManifestFile {
    std::string name; // UTF-8
    std::uint64_t size = 0;
    std::uint64_t sum = 0; // CRC-32 or XXH3, as the manifest's kind
    // The XXH3 of each pieceBytes of the file in turn; none when the manifest gives no pieces.
    std::uint32_t pieceBytes = 0;
    std::vector<std::uint64_t> pieces;
};

// The piece length ubin-build writes for the files read a record or a line at a time.
inline constexpr std::uint32_t kPieceBytes = 64 * 1024;
// The same for 検索.IDX and 住所.IDX, whose rows, texts and lists a search reads all over the
// file: smaller pieces hash less for each of them (a search for a name reads a few hundred texts).
inline constexpr std::uint32_t kRowPieceBytes = 16 * 1024;

// The piece checksums of a file's bytes (ManifestFile::pieces): XXH3 of each pieceBytes in turn.
std::vector<std::uint64_t> PieceSums(std::string_view bytes, std::uint32_t pieceBytes = kPieceBytes);

// The number of pieces of pieceBytes a file of `size` bytes has.
std::uint64_t PieceCount(std::uint64_t size, std::uint32_t pieceBytes);

// A file ubin-build read: its name as given (UTF-8, without its folder), size and SHA-256.
struct ManifestInput {
    std::string name;
    std::uint64_t size = 0;
    std::string sha256; // 64 lowercase hexadecimal digits
};

struct Manifest {
    int version = kManifestVersion; // 1 .. kManifestVersion
    std::string build;
    std::string edition;          // "2026-11"; empty when unknown
    bool editionGuessed = false;
    std::vector<ManifestInput> inputs;
    std::vector<ManifestFile> files;

    // The file listed under this name; none when none is.
    std::optional<ManifestFile> Find(std::string_view name) const;
    // The checksum its files have: CRC-32 in version 1, XXH3 after.
    ManifestSum SumKind() const { return version == 1 ? ManifestSum::Crc32 : ManifestSum::Xxh3; }
};

// Whether a name in a manifest stays inside the folder: not empty, no separator, drive or NUL,
// not "." or "..".
bool IsPlainFileName(std::string_view name);

// CRC-32 (the polynomial of zip and PNG), continued from `crc`.
std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc = 0);

// The text of a manifest of m.version (its own checksum included from version 3 on).
std::string FormatManifest(const Manifest& m);
// Throws DirectoryError naming the file (and the line, where there is one) when the text is not
// a manifest, or one of version 3 or later whose own checksum differs from its lines.
Manifest ParseManifest(std::string_view text, const std::filesystem::path& file);
// The manifest of a folder, or none when it has none. Throws DirectoryError when it cannot be
// read or is not a manifest.
std::optional<Manifest> ReadManifest(const std::filesystem::path& file);

// The path of a file of the folder from its name (DirectoryState::FilePath).
using FolderPath = std::function<std::filesystem::path(const std::u16string& name)>;

// The directory files the folder holds (under any kind of entry: a file, a folder, a link) that
// a manifest of version 2 or later leaves out: a manifest cut short, or a file from elsewhere.
// None for version 1, whose builds listed fewer files.
std::vector<std::u16string> UnlistedFiles(const Manifest& m, const FolderPath& pathOf);

// The folder's manifest (ReadManifest), refused with a DirectoryError when it leaves out a
// directory file the folder holds (UnlistedFiles), so that a manifest cut short never leaves a
// file unchecked.
std::optional<Manifest> ReadFolderManifest(const FolderPath& pathOf);

} // namespace ubin
