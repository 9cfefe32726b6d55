// Code page 932 through glibc's iconv ("CP932"). One converter per direction and thread, so
// the conversion is cheap enough to run per character inside the key comparison.
#include "base/cp932_platform.h"
#include "base/errors.h"

#include <iconv.h>

namespace ubin::platform {

namespace {

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from))
    {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw EncodingError(std::string("iconv cannot convert from ") + from + " to " + to);
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts in to out; false when iconv rejects the input or it does not fit.
    bool Convert(const char* in, std::size_t inLen, char* out, std::size_t& outLen)
    {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in);
        char* dst = out;
        std::size_t left = outLen;
        const std::size_t rc = iconv(cd_, &src, &inLen, &dst, &left);
        if (rc == static_cast<std::size_t>(-1) || inLen != 0) return false;
        outLen -= left;
        return true;
    }

private:
    iconv_t cd_;
};

Converter& Decoder()
{
    thread_local Converter c("UTF-16LE", "CP932");
    return c;
}

Converter& Encoder()
{
    thread_local Converter c("CP932", "UTF-16LE");
    return c;
}

} // namespace

bool DecodeDoubleByte(unsigned char lead, unsigned char trail, char16_t& out)
{
    const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    unsigned char buf[8];
    std::size_t len = sizeof buf;
    if (!Decoder().Convert(in, 2, reinterpret_cast<char*>(buf), len) || len != 2) return false;
    out = static_cast<char16_t>(buf[0] | (buf[1] << 8));
    return true;
}

std::uint16_t EncodeWide(char16_t c)
{
    if (c >= 0xD800 && c <= 0xDFFF) return 0;
    const char in[2] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    unsigned char buf[8];
    std::size_t len = sizeof buf;
    if (!Encoder().Convert(in, 2, reinterpret_cast<char*>(buf), len)) return 0;
    if (len == 1) return buf[0];
    if (len == 2) return static_cast<std::uint16_t>((buf[0] << 8) | buf[1]);
    return 0;
}

} // namespace ubin::platform
