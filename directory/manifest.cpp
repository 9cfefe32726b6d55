#include "directory/manifest.h"

#include "base/errors.h"
#include "base/path_text.h"

#include <array>
#include <charconv>
#include <fstream>
#include <sstream>

namespace ubin {

const std::u16string kManifestFileName = u"MANIFEST.TXT";

namespace {

constexpr std::string_view kFirstLineCrc32 = "ubin-build manifest 1";
constexpr std::string_view kFirstLine = "ubin-build manifest 2";
// A manifest lists a dozen files; anything much larger is not one.
constexpr std::uintmax_t kMaxManifestBytes = 64 * 1024;

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

} // namespace

std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc)
{
    crc = ~crc;
    for (const char b : bytes) crc = kCrcTable[(crc ^ static_cast<unsigned char>(b)) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

const ManifestFile* Manifest::Find(std::string_view name) const
{
    for (const ManifestFile& f : files)
        if (f.name == name) return &f;
    return nullptr;
}

bool IsPlainFileName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find_first_of(std::string_view("/\\:\0", 4)) == std::string_view::npos;
}

std::string FormatManifest(const Manifest& m)
{
    const bool crc = m.kind == ManifestSum::Crc32;
    std::string out = std::string(crc ? kFirstLineCrc32 : kFirstLine) + "\nbuild " + m.build + "\n";
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
    return out;
}

Manifest ParseManifest(std::string_view text, const std::filesystem::path& file)
{
    Manifest m;
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
            if (line == kFirstLineCrc32) m.kind = ManifestSum::Crc32;
            else if (line != kFirstLine)
                fail("is not \"" + std::string(kFirstLine) + "\"; the file is not a manifest of ubin-build");
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
            if (line.starts_with("build ")) m.build = line.substr(6);
            else if (line.starts_with("edition ")) m.edition = line.substr(8);
            else if (line == "edition-guessed") m.editionGuessed = true;
            continue;
        }
        const std::size_t t2 = line.find('\t', t1 + 1);
        const std::size_t digits = m.kind == ManifestSum::Crc32 ? 8 : 16;
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

} // namespace ubin
