#include "base/sha256.h"

#include "base/errors.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <vector>

namespace ubin {

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha256::Sha256() : state_(new State)
{
    if (BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0
        || BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0) != 0) {
        if (state_->algorithm) BCryptCloseAlgorithmProvider(state_->algorithm, 0);
        delete state_;
        throw Error("the system's SHA-256 cannot be used");
    }
}

Sha256::~Sha256()
{
    if (state_->hash) BCryptDestroyHash(state_->hash);
    if (state_->algorithm) BCryptCloseAlgorithmProvider(state_->algorithm, 0);
    delete state_;
}

void Sha256::Add(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ULONG n = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), 1u << 30));
        BCryptHashData(state_->hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())), n, 0);
        bytes.remove_prefix(n);
    }
}

std::string Sha256::HexDigest()
{
    UCHAR digest[32];
    BCryptFinishHash(state_->hash, digest, sizeof digest, 0);
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (const UCHAR b : digest) {
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
