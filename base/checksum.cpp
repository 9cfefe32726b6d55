#include "base/checksum.h"

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

std::string Xxh3Hex(std::uint64_t sum)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(sum));
    return text;
}

} // namespace ubin
