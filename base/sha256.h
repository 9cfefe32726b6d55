#pragma once
// SHA-256 of bytes, as 64 lowercase hexadecimal digits. The manifest records each input file's
// digest so that a directory says exactly which KEN_ALL it was built from. The digest comes from
// the system's library (nettle on POSIX, CNG on Windows), never from code of our own.
#include <string>
#include <string_view>

namespace ubin {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Add(std::string_view bytes);
    // The digest of everything added; the object is not used afterwards.
    std::string HexDigest();

private:
    struct State;
    State* state_;
};

std::string Sha256Hex(std::string_view bytes);

} // namespace ubin
