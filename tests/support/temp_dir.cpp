#include "tests/support/temp_dir.h"

#include "base/cp932.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ubin::test {

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "ubin-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a temporary folder");
    path_ = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::u16string TempDir::DataFolder() const { return FromUtf8(path_.string() + "/"); }

void WriteBytes(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace ubin::test
