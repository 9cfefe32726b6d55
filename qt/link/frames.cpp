#include "qt/link/frames.h"

namespace ubin::link {

namespace {

void PutU16(std::string& out, std::uint16_t v)
{
    out.push_back(static_cast<char>(v >> 8));
    out.push_back(static_cast<char>(v & 0xFF));
}

void PutU32(std::string& out, std::uint32_t v)
{
    PutU16(out, static_cast<std::uint16_t>(v >> 16));
    PutU16(out, static_cast<std::uint16_t>(v & 0xFFFF));
}

std::uint16_t GetU16(const unsigned char* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t GetU32(const unsigned char* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

ParseResult Fail(ErrorCode code, std::string message)
{
    ParseResult r;
    r.status = ParseStatus::Invalid;
    r.error = code;
    r.message = std::move(message);
    return r;
}

} // namespace

bool IsKnownFrameType(std::uint8_t type)
{
    return type >= static_cast<std::uint8_t>(FrameType::Initiate) && type <= static_cast<std::uint8_t>(FrameType::Error);
}

bool IsValidUtf8(std::string_view bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t extra;
        std::uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;  // continuation byte, overlong lead (C0, C1) or beyond U+10FFFF
        }
        if (n - i <= extra) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000)) return false;  // overlong
        if (cp >= 0xD800 && cp <= 0xDFFF) return false;
        if (cp > 0x10FFFF) return false;
        i += extra + 1;
    }
    return true;
}

std::string EncodeFrame(const Frame& frame, std::string* why)
{
    auto refuse = [why](const char* reason) {
        if (why) *why = reason;
        return std::string();
    };
    if (frame.name.size() > kMaxNameSize) return refuse("the name is longer than 255 bytes");
    if (kFixedSize + frame.name.size() + frame.text.size() > kMaxFrameSize)
        return refuse("the frame would be larger than 64 KiB");
    if (!IsValidUtf8(frame.name)) return refuse("the name is not UTF-8");
    if (!IsValidUtf8(frame.text)) return refuse("the text is not UTF-8");

    std::string out;
    out.reserve(kFixedSize + frame.name.size() + frame.text.size());
    PutU32(out, static_cast<std::uint32_t>(kFixedSize - kLengthFieldSize + frame.name.size() + frame.text.size()));
    out.push_back(static_cast<char>(kFrameVersion));
    out.push_back(static_cast<char>(frame.type));
    PutU16(out, frame.value);
    PutU32(out, frame.id);
    PutU16(out, static_cast<std::uint16_t>(frame.name.size()));
    out += frame.name;
    PutU32(out, static_cast<std::uint32_t>(frame.text.size()));
    out += frame.text;
    return out;
}

ParseResult ParseFrame(std::string_view bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    ParseResult need;  // NeedMore
    if (bytes.size() < kLengthFieldSize) return need;

    const std::uint32_t length = GetU32(p);
    if (length > kMaxFrameSize - kLengthFieldSize)
        return Fail(ErrorCode::TooLarge, "frame length " + std::to_string(length) + " exceeds the limit of 65536 bytes");
    if (length < kFixedSize - kLengthFieldSize)
        return Fail(ErrorCode::Malformed, "frame length " + std::to_string(length) + " is shorter than a frame's fixed part");
    // The version is checked as soon as it has arrived, so that a peer speaking another version
    // hears about it without having to send a whole frame.
    if (bytes.size() > 4 && p[4] != kFrameVersion)
        return Fail(ErrorCode::BadVersion, "frame version " + std::to_string(p[4]) + " is not supported (this side speaks 1)");
    const std::size_t total = kLengthFieldSize + length;
    if (bytes.size() < total) return need;

    ParseResult r;
    r.frame.type = static_cast<FrameType>(p[5]);
    r.frame.value = GetU16(p + 6);
    r.frame.id = GetU32(p + 8);
    std::size_t pos = 12;
    const std::size_t nameSize = GetU16(p + pos);
    pos += 2;
    if (nameSize > kMaxNameSize) return Fail(ErrorCode::Malformed, "name longer than 255 bytes");
    // pos + nameSize + 4 <= total is needed for the text length field.
    if (nameSize + 4 > total - pos) return Fail(ErrorCode::Malformed, "name runs past the end of the frame");
    r.frame.name.assign(bytes.substr(pos, nameSize));
    pos += nameSize;
    const std::uint32_t textSize = GetU32(p + pos);
    pos += 4;
    if (textSize != total - pos) return Fail(ErrorCode::Malformed, "text length does not match the frame length");
    r.frame.text.assign(bytes.substr(pos, textSize));
    if (!IsValidUtf8(r.frame.name)) return Fail(ErrorCode::Malformed, "name is not UTF-8");
    if (!IsValidUtf8(r.frame.text)) return Fail(ErrorCode::Malformed, "text is not UTF-8");
    r.status = ParseStatus::Complete;
    r.consumed = total;
    return r;
}

void FrameReader::Append(std::string_view bytes)
{
    if (failed_) return;
    // Drop what earlier frames used before the buffer grows.
    if (start_ > 0 && start_ >= buffer_.size() / 2) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    buffer_.append(bytes);
}

ParseResult FrameReader::Next()
{
    if (failed_) return failure_;
    ParseResult r = ParseFrame(std::string_view(buffer_).substr(start_));
    if (r.status == ParseStatus::Complete) {
        start_ += r.consumed;
        if (start_ == buffer_.size()) {
            buffer_.clear();
            start_ = 0;
        }
    } else if (r.status == ParseStatus::Invalid) {
        failed_ = true;
        failure_ = r;
        buffer_.clear();
        start_ = 0;
    }
    return r;
}

const char* FrameTypeName(FrameType type)
{
    switch (type) {
    case FrameType::Initiate: return "Initiate";
    case FrameType::InitiateAck: return "InitiateAck";
    case FrameType::Terminate: return "Terminate";
    case FrameType::Request: return "Request";
    case FrameType::Data: return "Data";
    case FrameType::Advise: return "Advise";
    case FrameType::Unadvise: return "Unadvise";
    case FrameType::Ack: return "Ack";
    case FrameType::Execute: return "Execute";
    case FrameType::ExecuteResult: return "ExecuteResult";
    case FrameType::HotData: return "HotData";
    case FrameType::Changed: return "Changed";
    case FrameType::Error: return "Error";
    }
    return "unknown";
}

} // namespace ubin::link
