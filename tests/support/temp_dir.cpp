#include "tests/support/temp_dir.h"

#include "base/cp932.h"
#include "base/path_text.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace ubin::test {

TempDir::TempDir()
{
    // A new folder with a random name; create_directory says whether it was this call that
    // made it, so two tests never share one.
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate = base / ("ubin-test-" + std::to_string(random() % 1000000000000ULL));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder in " + PathToUtf8(base));
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempDir::operator/(std::string_view name) const { return path_ / PathFromUtf8(name); }

std::filesystem::path FileName(std::u16string_view name) { return PathFromUtf8(ToUtf8(name)); }

std::u16string TempDir::DataFolder() const
{
    return FromUtf8(PathToUtf8(path_)) + static_cast<char16_t>(std::filesystem::path::preferred_separator);
}

void WriteBytes(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + PathToUtf8(path));
}

std::string ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace ubin::test
