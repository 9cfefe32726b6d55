// The frame codec: what it writes it reads back, from any cut of the stream, and every kind of
// damaged input is refused with the right error.
#include "qt/link/frames.h"

#include <gtest/gtest.h>

#include <vector>

using namespace ubin::link;

namespace {

std::vector<Frame> SampleFrames()
{
    return {
        Frame{FrameType::Initiate, 0, 1, "Form1", "Marubeta"},
        Frame{FrameType::Data, 0, 0xFFFFFFFFu, "IT3", "広島県広島市中区"},
        Frame{FrameType::Advise, 3, 7, std::string(kMaxNameSize, 'n'), ""},
        Frame{FrameType::ExecuteResult, 0xFFFF, 2, "", ""},
        Frame{FrameType::HotData, 0, 0, "Text6", "*** 該当するものが見付からない **\t\n"},
        Frame{FrameType::Error, static_cast<std::uint16_t>(ErrorCode::NoSuchItem), 9, "", "no item"},
    };
}

std::string Corrupt(std::string bytes, std::size_t at, unsigned char value)
{
    bytes[at] = static_cast<char>(value);
    return bytes;
}

} // namespace

TEST(FramesTest, WhatIsWrittenIsReadBackWhereverTheStreamIsCut)
{
    std::string stream;
    for (const Frame& f : SampleFrames()) stream += EncodeFrame(f);

    // Every strict prefix of a frame asks for more.
    const std::string first = EncodeFrame(SampleFrames()[1]);
    for (std::size_t n = 0; n < first.size(); ++n)
        EXPECT_EQ(ParseFrame(std::string_view(first).substr(0, n)).status, ParseStatus::NeedMore) << n;

    for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, stream.size()}) {
        FrameReader reader;
        std::vector<Frame> got;
        for (std::size_t pos = 0; pos < stream.size(); pos += chunk) {
            reader.Append(std::string_view(stream).substr(pos, chunk));
            for (ParseResult r = reader.Next(); r.status == ParseStatus::Complete; r = reader.Next())
                got.push_back(r.frame);
        }
        EXPECT_EQ(got, SampleFrames()) << "chunk " << chunk;
        EXPECT_EQ(reader.Buffered(), 0u);
        EXPECT_FALSE(reader.Failed());
    }
}

TEST(FramesTest, SizeLimitsHoldOnBothSides)
{
    // The largest frame there is: a full name and the text that fills it to 64 KiB.
    Frame big{FrameType::HotData, 0, 0, std::string(kMaxNameSize, 'a'), std::string(kMaxTextSize, 'b')};
    const std::string bytes = EncodeFrame(big);
    ASSERT_EQ(bytes.size(), kMaxFrameSize);
    const ParseResult r = ParseFrame(bytes);
    ASSERT_EQ(r.status, ParseStatus::Complete) << r.message;
    EXPECT_EQ(r.frame, big);

    std::string why;
    big.text.push_back('c');
    EXPECT_TRUE(EncodeFrame(big, &why).empty());
    EXPECT_FALSE(why.empty());
    EXPECT_TRUE(EncodeFrame(Frame{FrameType::Request, 0, 1, std::string(kMaxNameSize + 1, 'a'), ""}).empty());

    // A length field beyond the limit is refused from its four bytes alone.
    const ParseResult tooLarge = ParseFrame(std::string("\x00\x01\x00\x00", 4));
    EXPECT_EQ(tooLarge.status, ParseStatus::Invalid);
    EXPECT_EQ(tooLarge.error, ErrorCode::TooLarge);
    EXPECT_EQ(ParseFrame(std::string("\xFF\xFF\xFF\xFF", 4)).error, ErrorCode::TooLarge);
    // So is one too short to hold the fixed part.
    EXPECT_EQ(ParseFrame(std::string("\x00\x00\x00\x05\x01\x04\x00\x00\x00", 9)).error, ErrorCode::Malformed);
}

TEST(FramesTest, DamagedFramesAreRefusedAndTheReaderStaysFailed)
{
    const std::string good = EncodeFrame(Frame{FrameType::Request, 0, 3, "IT1", "ab"});
    // Offsets: 4 version, 5 type, 12-13 name length, 14.. name, 17-20 text length, 21.. text.
    struct Case {
        std::string bytes;
        ErrorCode error;
    };
    const std::vector<Case> cases = {
        {Corrupt(good, 4, 2), ErrorCode::BadVersion},
        {Corrupt(good, 4, 0), ErrorCode::BadVersion},
        {Corrupt(good, 13, 200), ErrorCode::Malformed},  // name runs past the end
        {Corrupt(good, 20, 1), ErrorCode::Malformed},    // text length disagrees with the frame
        {Corrupt(good, 15, 0xFF), ErrorCode::Malformed}, // name not UTF-8
        {Corrupt(good, 22, 0x80), ErrorCode::Malformed}, // text not UTF-8
    };
    for (const Case& c : cases) {
        const ParseResult r = ParseFrame(c.bytes);
        EXPECT_EQ(r.status, ParseStatus::Invalid);
        EXPECT_EQ(r.error, c.error) << r.message;
        EXPECT_FALSE(r.message.empty());
    }
    // A wrong version is reported as soon as its byte is there.
    EXPECT_EQ(ParseFrame(Corrupt(good, 4, 9).substr(0, 5)).error, ErrorCode::BadVersion);

    FrameReader reader;
    reader.Append(Corrupt(good, 4, 2));
    reader.Append(good);
    EXPECT_EQ(reader.Next().status, ParseStatus::Invalid);
    EXPECT_EQ(reader.Next().status, ParseStatus::Invalid);
    EXPECT_TRUE(reader.Failed());
}

TEST(FramesTest, UnknownTypesAreWholeFramesSoThatAReceiverCanRefuseThemAndGoOn)
{
    const std::string unknown = Corrupt(EncodeFrame(Frame{FrameType::Request, 0, 5, "x", ""}), 5, 99);
    FrameReader reader;
    reader.Append(unknown + EncodeFrame(Frame{FrameType::Terminate, 0, 0, "", ""}));
    const ParseResult r = reader.Next();
    ASSERT_EQ(r.status, ParseStatus::Complete);
    EXPECT_FALSE(IsKnownFrameType(static_cast<std::uint8_t>(r.frame.type)));
    EXPECT_EQ(r.frame.id, 5u);
    EXPECT_EQ(reader.Next().frame.type, FrameType::Terminate);
}

TEST(FramesTest, Utf8CheckRefusesOverlongSurrogatesAndCutSequences)
{
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("a\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80"));  // a é あ 😀
    EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF"));                       // U+10FFFF
    for (const char* bad : {"\xC0\x80", "\xE0\x80\x80", "\xF0\x80\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                            "\xE3\x81", "\x80", "\xF8\x88\x80\x80\x80"})
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
}
