#pragma once
// The frames of the link between programs, as bytes on the wire. No Qt here: the codec is
// shared by the server, the client and the fuzz target, and docs/link-protocol.md describes
// the same layout for clients written in other languages.
//
// Layout (all numbers big-endian):
//   u32 length of the rest of the frame (so the whole frame is 4 + length bytes)
//   u8  version (kFrameVersion)
//   u8  type (FrameType)
//   u16 value   (link mode, acceptance flag or error code, by type)
//   u32 id      (chosen by the client, echoed in the answer; 0 in pushed frames)
//   u16 name length, name bytes (UTF-8)
//   u32 text length, text bytes (UTF-8)
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ubin::link {

inline constexpr std::uint8_t kFrameVersion = 1;
inline constexpr std::size_t kMaxFrameSize = 64 * 1024;  // the whole frame, length field included
inline constexpr std::size_t kMaxNameSize = 255;         // bytes of UTF-8
inline constexpr std::size_t kLengthFieldSize = 4;
inline constexpr std::size_t kFixedSize = 4 + 1 + 1 + 2 + 4 + 2 + 4;  // a frame with empty strings
inline constexpr std::size_t kMaxTextSize = kMaxFrameSize - kFixedSize - kMaxNameSize;

enum class FrameType : std::uint8_t {
    Initiate = 1,       // C→S name = topic, text = application (may be empty)
    InitiateAck = 2,    // S→C name = the server's topic, text = the service name
    Terminate = 3,      // either side: the conversation ends, the connection closes
    Request = 4,        // C→S name = item
    Data = 5,           // S→C name = item, text = current text (answer to Request)
    Advise = 6,         // C→S name = item, value = link mode (1 hot, 3 notify)
    Unadvise = 7,       // C→S name = item
    Ack = 8,            // S→C answer to Advise (text = current text) and Unadvise
    Execute = 9,        // C→S text = command
    ExecuteResult = 10, // S→C value = acceptance flag (0 = accepted)
    HotData = 11,       // S→C pushed: name = item, text = new text (hot link)
    Changed = 12,       // S→C pushed: name = item (notify link)
    Error = 13,         // S→C value = error code, text = message, id = the frame it answers
};

// Link modes as an element names them; Advise carries Hot or Notify.
enum class LinkMode : std::uint16_t { None = 0, Hot = 1, Manual = 2, Notify = 3 };

enum class ErrorCode : std::uint16_t {
    None = 0,
    Malformed = 1,      // the bytes do not form a frame; the connection is closed
    TooLarge = 2,       // the length field exceeds kMaxFrameSize; the connection is closed
    BadVersion = 3,     // a version this side does not speak; the connection is closed
    UnknownType = 4,    // a well-formed frame of a type this side does not know
    OutOfOrder = 5,     // a frame that the conversation's state does not allow
    UnknownTopic = 6,   // Initiate for a topic or application the server does not serve
    NoSuchItem = 7,     // Request or Advise for an item the server does not have
    BadValue = 8,       // Advise with a mode other than hot or notify
    TooManyLinks = 9,   // a conversation may hold kMaxAdvisesPerConversation links
    ExecuteFailed = 10, // the server could not carry out the command (a directory file could not
                        // be read, say); the text says why, the conversation goes on
    Timeout = 11,       // the server spent longer than its limit on one of the conversation's
                        // frames; the connection is closed
};

inline constexpr std::size_t kMaxAdvisesPerConversation = 1024;

struct Frame {
    FrameType type = FrameType::Error;
    std::uint16_t value = 0;
    std::uint32_t id = 0;
    std::string name;  // UTF-8
    std::string text;  // UTF-8

    bool operator==(const Frame&) const = default;
};

// True when the type is one of FrameType's values.
bool IsKnownFrameType(std::uint8_t type);

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// The frame's bytes. An empty result means the frame cannot be sent: the name or text is too
// long or not UTF-8 (`why`, when given, says which).
std::string EncodeFrame(const Frame& frame, std::string* why = nullptr);

enum class ParseStatus {
    Complete,   // `frame` holds a frame of `consumed` bytes
    NeedMore,   // the bytes are a valid beginning of a frame
    Invalid,    // `error` and `message` say what is wrong; nothing after this can be trusted
};

struct ParseResult {
    ParseStatus status = ParseStatus::NeedMore;
    Frame frame;
    std::size_t consumed = 0;
    ErrorCode error = ErrorCode::None;
    std::string message;
};

// Reads one frame from the beginning of `bytes`. A frame of an unknown type is Complete (its
// type field keeps the number it had), so that a receiver can refuse it and go on; every other
// fault makes the rest of the stream unreadable and is Invalid.
ParseResult ParseFrame(std::string_view bytes);

// A byte stream cut into frames. It holds at most one incomplete frame, so its buffer never
// grows past kMaxFrameSize plus what one Append brought.
class FrameReader {
public:
    void Append(std::string_view bytes);
    // The next frame, if a whole one has arrived. After an Invalid result every further call
    // gives the same result.
    ParseResult Next();
    bool Failed() const { return failed_; }
    std::size_t Buffered() const { return buffer_.size() - start_; }

private:
    std::string buffer_;
    std::size_t start_ = 0;
    bool failed_ = false;
    ParseResult failure_;
};

const char* FrameTypeName(FrameType type);

} // namespace ubin::link
