#include "base/sha256.h"

#include <nettle/sha2.h>

namespace ubin {

struct Sha256::State {
    sha256_ctx ctx;
};

Sha256::Sha256() : state_(new State)
{
    sha256_init(&state_->ctx);
}

Sha256::~Sha256() { delete state_; }

void Sha256::Add(std::string_view bytes)
{
    sha256_update(&state_->ctx, bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data()));
}

std::string Sha256::HexDigest()
{
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&state_->ctx, sizeof digest, digest);
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (const std::uint8_t b : digest) {
        out.push_back(hex[b >> 4]);
        out.push_back(hex[b & 15]);
    }
    return out;
}

std::string Sha256Hex(std::string_view bytes)
{
    Sha256 h;
    h.Add(bytes);
    return h.HexDigest();
}

} // namespace ubin
