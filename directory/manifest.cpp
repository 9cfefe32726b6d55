#include "directory/manifest.h"

#include "directory/address_table.h"

#include "base/checksum.h"
#include "base/cp932.h"
#include "base/errors.h"
#include "base/path_text.h"
#include "directory/address_file.h"
#include "directory/directory.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>

namespace ubin {

const std::u16string kManifestFileName = u"MANIFEST.TXT";

namespace {

constexpr std::string_view kFirstLinePrefix = "ubin-build manifest ";
// The word of the line that holds the manifest's own checksum (the second).
constexpr std::string_view kSelfSumWord = "xxh3 ";
// A manifest lists a dozen files and the piece checksums of some (16 digits for each 64 KB);
// anything much larger is not one.
constexpr std::uintmax_t kMaxManifestBytes = 1024 * 1024;
constexpr std::string_view kPiecesWord = "pieces ";
// The piece lengths a reader takes: powers of two from 4 KB to 16 MB.
constexpr std::uint32_t kMinPieceBytes = 4096, kMaxPieceBytes = 16 * 1024 * 1024;

// The table of the reflected polynomial 0xEDB88320, one entry per byte value. (Twenty lines
// here spare every platform a compression library for one checksum.)
constexpr std::array<std::uint32_t, 256> MakeCrcTable()
{
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
    }
    return t;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

template <class T>
bool ParseNumber(std::string_view text, T& out, int base = 10)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return ec == std::errc() && end == text.data() + text.size();
}

// The value of 16 lowercase hexadecimal digits; none when a character is not one. A manifest
// holds thousands of them, read at every opening: a table, and no branch per digit.
std::optional<std::uint64_t> Hex16(const char* digits)
{
    static constexpr auto kValues = [] {
        std::array<std::uint8_t, 256> v{};
        v.fill(0x10);
        for (int c = 0; c < 10; ++c) v['0' + c] = static_cast<std::uint8_t>(c);
        for (int c = 0; c < 6; ++c) v['a' + c] = static_cast<std::uint8_t>(10 + c);
        return v;
    }();
    std::uint64_t value = 0;
    unsigned bad = 0;
    for (int i = 0; i < 16; ++i) {
        const std::uint8_t d = kValues[static_cast<unsigned char>(digits[i])];
        bad |= d;
        value = value << 4 | (d & 0xF);
    }
    if (bad & 0x10) return std::nullopt;
    return value;
}

// "pieces <length> <digits> <name>": the pieces of a listed file (attached to it once every
// line is read); an empty string when the line is one, else what is wrong with it.
std::string ParsePiecesLine(std::string_view line, std::vector<ManifestFile>& pieces)
{
    std::string_view rest = line.substr(kPiecesWord.size());
    const std::size_t a = rest.find(' ');
    const std::size_t b = a == std::string_view::npos ? a : rest.find(' ', a + 1);
    ManifestFile f;
    if (b == std::string_view::npos || !ParseNumber(rest.substr(0, a), f.pieceBytes))
        return "is not \"pieces\", a piece length, the pieces' checksums and a file name separated by spaces";
    if (f.pieceBytes < kMinPieceBytes || f.pieceBytes > kMaxPieceBytes || (f.pieceBytes & (f.pieceBytes - 1)) != 0)
        return "gives pieces of " + std::to_string(f.pieceBytes) + " bytes; a piece is a power of two from 4096 to "
               + std::to_string(kMaxPieceBytes) + " bytes";
    const std::string_view digits = rest.substr(a + 1, b - a - 1);
    const auto bad = "the pieces' checksums are not 16 hexadecimal digits each";
    if (digits.size() % 16 != 0) return bad;
    f.pieces.reserve(digits.size() / 16);
    for (std::size_t at = 0; at < digits.size(); at += 16) {
        const std::optional<std::uint64_t> sum = Hex16(digits.data() + at);
        if (!sum) return bad;
        f.pieces.push_back(*sum);
    }
    f.name = rest.substr(b + 1);
    pieces.push_back(std::move(f));
    return {};
}

std::string FirstLine(int version) { return std::string(kFirstLinePrefix) + std::to_string(version); }

// The version a first line names: 0 when it is no manifest's first line.
int VersionOf(std::string_view line)
{
    int version = 0;
    if (!line.starts_with(kFirstLinePrefix) || !ParseNumber(line.substr(kFirstLinePrefix.size()), version)) return 0;
    return version >= 1 ? version : 0;
}

} // namespace

const std::vector<std::u16string>& DirectoryFileNames()
{
    static const std::vector<std::u16string> names = [] {
        std::vector<std::u16string> n(std::begin(kIndexFileNames), std::end(kIndexFileNames));
        n.insert(n.end(), {kPointFileName, kLinesFileName, kCityTableFileName, kCityLinesFileName, kOfficeLinesFileName,
                           kOfficeIndexFileName, kFindIndexFileName, kAddressTableFileName, kAddressFileName});
        return n;
    }();
    return names;
}

std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc)
{
    crc = ~crc;
    for (const char b : bytes) crc = kCrcTable[(crc ^ static_cast<unsigned char>(b)) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::optional<ManifestFile> Manifest::Find(std::string_view name) const
{
    for (const ManifestFile& f : files)
        if (f.name == name) return f;
    return std::nullopt;
}

std::uint64_t PieceCount(std::uint64_t size, std::uint32_t pieceBytes)
{
    return (size + pieceBytes - 1) / pieceBytes;
}

std::vector<std::uint64_t> PieceSums(std::string_view bytes, std::uint32_t pieceBytes)
{
    std::vector<std::uint64_t> sums;
    for (std::size_t at = 0; at < bytes.size(); at += pieceBytes) sums.push_back(Xxh3Of(bytes.substr(at, pieceBytes)));
    return sums;
}

bool IsPlainFileName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find_first_of(std::string_view("/\\:\0", 4)) == std::string_view::npos;
}

std::string FormatManifest(const Manifest& m)
{
    const bool crc = m.SumKind() == ManifestSum::Crc32;
    std::string out = "build " + m.build + "\n";
    if (!m.edition.empty()) out += "edition " + m.edition + "\n";
    if (!m.edition.empty() && m.editionGuessed) out += "edition-guessed\n";
    for (const ManifestInput& in : m.inputs)
        out += "input " + in.name + "\t" + std::to_string(in.size) + "\t" + in.sha256 + "\n";
    for (const ManifestFile& f : m.files) {
        char sum[17];
        if (crc) std::snprintf(sum, sizeof sum, "%08x", static_cast<unsigned>(f.sum));
        else std::snprintf(sum, sizeof sum, "%016llx", static_cast<unsigned long long>(f.sum));
        out += f.name + "\t" + std::to_string(f.size) + "\t" + sum + "\n";
    }
    for (const ManifestFile& f : m.files) {
        if (f.pieceBytes == 0) continue;
        out += std::string(kPiecesWord) + std::to_string(f.pieceBytes) + " ";
        for (const std::uint64_t piece : f.pieces) out += Xxh3Hex(piece);
        out += " " + f.name + "\n";
    }
    const std::string head = FirstLine(m.version) + "\n";
    if (m.version < 3) return head + out;
    return head + std::string(kSelfSumWord) + Xxh3Hex(Xxh3Of(out)) + "\n" + out;
}

Manifest ParseManifest(std::string_view text, const std::filesystem::path& file)
{
    Manifest m;
    std::vector<ManifestFile> pieces; // by the "pieces" lines, attached to the files at the end
    std::vector<std::int64_t> pieceLines;
    std::int64_t lineNo = 0;
    const auto fail = [&](const std::string& what) {
        throw DirectoryError(PathToUtf8(file) + ": line " + std::to_string(lineNo) + ": " + what);
    };
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (lineNo == 1) {
            m.version = VersionOf(line);
            if (m.version > kManifestVersion)
                fail("is a manifest of a later ubin-build (version " + std::to_string(m.version) + "); this program reads "
                     "versions 1 to " + std::to_string(kManifestVersion) + ": take the programs of that build");
            if (m.version == 0)
                fail("is not \"" + FirstLine(kManifestVersion) + "\"; the file is not a manifest of ubin-build");
            continue;
        }
        if (lineNo == 2 && m.version >= 3) {
            // Its own checksum, over every byte after this line: a manifest cut anywhere or
            // damaged is refused here, before a line of it is believed.
            std::uint64_t sum = 0;
            const std::string_view digits = line.substr(std::min(line.size(), kSelfSumWord.size()));
            if (!line.starts_with(kSelfSumWord) || digits.size() != 16
                || digits.find_first_not_of("0123456789abcdef") != std::string_view::npos
                || !ParseNumber(digits, sum, 16))
                fail("is not the manifest's own checksum (xxh3 and 16 hexadecimal digits): the manifest is cut short "
                     "or damaged");
            if (sum != Xxh3Of(text))
                fail("the manifest's own checksum differs from its lines: the manifest is cut short or damaged");
            continue;
        }
        if (line.empty()) continue;
        if (line.starts_with("input ")) {
            // What the build read is told, not checked: a line this reader cannot take is
            // passed over rather than making the directory unreadable.
            const std::string_view rest = line.substr(6);
            const std::size_t a = rest.find('\t');
            const std::size_t b = a == std::string_view::npos ? a : rest.find('\t', a + 1);
            ManifestInput in;
            if (b != std::string_view::npos && ParseNumber(rest.substr(a + 1, b - a - 1), in.size)) {
                in.name = rest.substr(0, a);
                in.sha256 = rest.substr(b + 1);
                m.inputs.push_back(std::move(in));
            }
            continue;
        }
        const std::size_t t1 = line.find('\t');
        if (t1 == std::string_view::npos) {
            // "word value": the build number, the edition, or a line of a later build that is
            // not needed here.
            if (line.starts_with(kPiecesWord) && m.SumKind() == ManifestSum::Xxh3) {
                if (std::string problem = ParsePiecesLine(line, pieces); !problem.empty()) fail(problem);
                pieceLines.push_back(lineNo);
            } else if (line.starts_with("build ")) m.build = line.substr(6);
            else if (line.starts_with("edition ")) m.edition = line.substr(8);
            else if (line == "edition-guessed") m.editionGuessed = true;
            continue;
        }
        const std::size_t t2 = line.find('\t', t1 + 1);
        const std::size_t digits = m.SumKind() == ManifestSum::Crc32 ? 8 : 16;
        ManifestFile f;
        if (t2 == std::string_view::npos || !ParseNumber(line.substr(t1 + 1, t2 - t1 - 1), f.size)
            || line.size() - t2 - 1 > digits || !ParseNumber(line.substr(t2 + 1), f.sum, 16))
            fail("is not a file name, a size and a checksum separated by tabs");
        f.name = line.substr(0, t1);
        if (!IsPlainFileName(f.name))
            fail("names \"" + f.name + "\", which is not a file of the folder (a name holds no folder)");
        m.files.push_back(std::move(f));
    }
    if (lineNo == 0) fail("is empty; the file is not a manifest of ubin-build");
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        lineNo = pieceLines[i];
        const auto listed = std::find_if(m.files.begin(), m.files.end(), [&](const ManifestFile& f) { return f.name == pieces[i].name; });
        if (listed == m.files.end()) fail("gives the pieces of \"" + pieces[i].name + "\", which the manifest does not list");
        if (!listed->pieces.empty()) fail("gives the pieces of \"" + pieces[i].name + "\" a second time");
        if (pieces[i].pieces.size() != PieceCount(listed->size, pieces[i].pieceBytes))
            fail("gives " + std::to_string(pieces[i].pieces.size()) + " pieces of \"" + pieces[i].name + "\", but its "
                 + std::to_string(listed->size) + " bytes make " + std::to_string(PieceCount(listed->size, pieces[i].pieceBytes)));
        listed->pieceBytes = pieces[i].pieceBytes;
        listed->pieces = std::move(pieces[i].pieces);
    }
    if (lineNo == 1 && m.version >= 3) {
        lineNo = 2;
        fail("the manifest's own checksum is missing: the manifest ends after its first line, so it is cut short");
    }
    return m;
}

std::optional<Manifest> ReadManifest(const std::filesystem::path& file)
{
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    if (!std::filesystem::exists(status)) return std::nullopt;
    if (!std::filesystem::is_regular_file(status) || std::filesystem::file_size(file, ec) > kMaxManifestBytes)
        throw DirectoryError(PathToUtf8(file) + ": is not a manifest of ubin-build (not a small regular file)");
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    if (!in && !in.eof()) throw DirectoryError(PathToUtf8(file) + ": cannot be read");
    return ParseManifest(s.str(), file);
}

std::vector<std::u16string> UnlistedFiles(const Manifest& m, const FolderPath& pathOf)
{
    std::vector<std::u16string> unlisted;
    if (m.version < 2) return unlisted;
    for (const std::u16string& name : DirectoryFileNames()) {
        if (m.Find(ToUtf8(name))) continue;
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::symlink_status(pathOf(name), ec))) unlisted.push_back(name);
    }
    return unlisted;
}

std::optional<Manifest> ReadFolderManifest(const FolderPath& pathOf)
{
    const std::filesystem::path file = pathOf(kManifestFileName);
    auto manifest = ReadManifest(file);
    if (!manifest) return manifest;
    const std::vector<std::u16string> unlisted = UnlistedFiles(*manifest, pathOf);
    if (!unlisted.empty())
        throw DirectoryError(PathToUtf8(pathOf(unlisted.front())) + ": the folder's manifest (" + PathToUtf8(file)
                             + ") does not list it: the manifest is cut short or damaged, or the file is not of "
                               "this build");
    return manifest;
}

} // namespace ubin
