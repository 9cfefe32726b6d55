#include "base/checksum.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

// The header-only form: the same code on every platform (the Windows build has no xxHash
// library), compiled with optimisation even in a debug build (see CMakeLists.txt).
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace ubin {

struct Xxh3Stream::State {
    XXH3_state_t* s = XXH3_createState();
};

Xxh3Stream::Xxh3Stream() : state_(std::make_unique<State>())
{
    if (!state_->s) throw std::bad_alloc();
    XXH3_64bits_reset(state_->s);
}

Xxh3Stream::~Xxh3Stream() { XXH3_freeState(state_->s); }

void Xxh3Stream::Update(const void* bytes, std::size_t size)
{
    if (size > 0) XXH3_64bits_update(state_->s, bytes, size);
}

std::uint64_t Xxh3Stream::Digest() const { return XXH3_64bits_digest(state_->s); }

std::uint64_t Xxh3Of(std::span<const unsigned char> bytes) { return XXH3_64bits(bytes.data(), bytes.size()); }

std::uint64_t Xxh3Of(std::string_view bytes) { return XXH3_64bits(bytes.data(), bytes.size()); }

std::uint64_t Xxh3WithFieldZeroed(std::span<const unsigned char> bytes, std::size_t field)
{
    if (field > bytes.size() || bytes.size() - field < 8) throw std::out_of_range("the checksum field lies outside the bytes");
    static const unsigned char zeros[8] = {};
    Xxh3Stream s;
    s.Update(bytes.data(), field);
    s.Update(zeros, 8);
    s.Update(bytes.data() + field + 8, bytes.size() - field - 8);
    return s.Digest();
}

std::uint64_t Xxh3OfOpenFile(platform::FileHandle file, std::uint64_t size, const std::filesystem::path& path)
{
    Xxh3Stream sum;
    platform::ForEachPart(file, 0, size, path, [&](const unsigned char* bytes, std::size_t n) { sum.Update(bytes, n); });
    return sum.Digest();
}

std::uint64_t Xxh3OfMapped(const platform::MappedFile& map, std::optional<std::size_t> zeroedField)
{
    const auto bytes = map.bytes();
    if (zeroedField && (*zeroedField > bytes.size() || bytes.size() - *zeroedField < 8))
        throw std::out_of_range("the checksum field lies outside the bytes");
    if (map.handle() == platform::kNoFile)
        return zeroedField ? Xxh3WithFieldZeroed(bytes, *zeroedField) : Xxh3Of(bytes);
    Xxh3Stream sum;
    std::uint64_t at = 0;
    platform::ForEachPart(map.handle(), 0, bytes.size(), map.path(), [&](const unsigned char* part, std::size_t n) {
        std::size_t done = 0;
        if (zeroedField && at < *zeroedField + 8 && at + n > *zeroedField) {
            // The part holds some of the field: the bytes before it, zeros for it, the rest.
            static const unsigned char zeros[8] = {};
            const std::size_t begin = *zeroedField > at ? static_cast<std::size_t>(*zeroedField - at) : 0;
            const std::size_t end = std::min<std::size_t>(n, static_cast<std::size_t>(*zeroedField + 8 - at));
            sum.Update(part, begin);
            sum.Update(zeros, end - begin);
            done = end;
        }
        sum.Update(part + done, n - done);
        at += n;
    });
    return sum.Digest();
}

std::uint64_t Xxh3OfMappedRange(const platform::MappedFile& map, std::uint64_t offset, std::uint64_t size)
{
    const auto bytes = map.bytes();
    if (offset > bytes.size() || size > bytes.size() - offset) throw std::out_of_range("the range lies outside the file");
    if (map.handle() == platform::kNoFile) return Xxh3Of(bytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(size)));
    Xxh3Stream sum;
    platform::ForEachPart(map.handle(), offset, size, map.path(), [&](const unsigned char* part, std::size_t n) { sum.Update(part, n); });
    return sum.Digest();
}

std::string Xxh3Hex(std::uint64_t sum)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(sum));
    return text;
}

} // namespace ubin
