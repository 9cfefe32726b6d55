// Feeds arbitrary bytes to the link's frame reader, as a client could send them to a server:
// every frame must come out whole or the stream be refused, never a crash or an overread. A
// frame that was read is written again and must read back the same, and the reader's buffer
// must stay within one frame.
#include "qt/link/frames.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace ubin::link;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    // The first byte chooses how the stream is cut into reads.
    const std::size_t chunk = 1 + data[0] % 64;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    FrameReader reader;
    for (std::size_t pos = 0; pos < bytes.size() && !reader.Failed(); pos += chunk) {
        reader.Append(bytes.substr(pos, chunk));
        for (;;) {
            const ParseResult r = reader.Next();
            if (r.status == ParseStatus::NeedMore) break;
            if (r.status == ParseStatus::Invalid) {
                if (r.error == ErrorCode::None || r.message.empty()) __builtin_trap();
                break;
            }
            const Frame& f = r.frame;
            if (!IsValidUtf8(f.name) || !IsValidUtf8(f.text) || f.name.size() > kMaxNameSize) __builtin_trap();
            const std::string again = EncodeFrame(f);
            if (again.size() != r.consumed) __builtin_trap();
            const ParseResult back = ParseFrame(again);
            if (back.status != ParseStatus::Complete || !(back.frame == f)) __builtin_trap();
        }
        if (reader.Buffered() > kMaxFrameSize + chunk) __builtin_trap();
    }

    // The same bytes read whole must give the same first answer.
    const ParseResult whole = ParseFrame(bytes);
    if (whole.status == ParseStatus::Complete && whole.consumed > bytes.size()) __builtin_trap();
    return 0;
}
