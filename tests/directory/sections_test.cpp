// A file's pieces checked where they are read: a read is compared with the pieces its bytes lie
// in (however many, the last one shorter), a damaged piece is refused at every read of it while
// its neighbours answer, and a read outside the file is left to the reader's own bounds.
#include "base/checksum.h"
#include "base/errors.h"
#include "directory/manifest.h"
#include "directory/sections.h"

#include <gtest/gtest.h>

#include <string>

using namespace ubin;

namespace {

constexpr std::uint32_t kPiece = 4096;

std::span<const unsigned char> Bytes(const std::string& s)
{
    return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}

TEST(PieceChecks, AReadIsRefusedExactlyWhenOneOfItsPiecesIsDamaged)
{
    // Three whole pieces and a short fourth; the third is damaged.
    std::string file(3 * kPiece + 100, '\0');
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<char>(i * 7 + 3);
    const std::vector<std::uint64_t> sums = PieceSums(file, kPiece);
    file[2 * kPiece + 5] ^= 0x20;
    const struct {
        std::size_t offset, size;
        bool refused;
    } cases[] = {
        {0, 1, false},
        {kPiece - 2, 4, false},              // across the first two pieces
        {2 * kPiece - 1, 1, false},          // the last byte before the damaged piece
        {2 * kPiece - 1, 2, true},           // that byte and the damaged piece's first
        {0, 3 * kPiece, true},               // three pieces, the middle ones unread before
        {kPiece + 10, 2 * kPiece, true},     // three pieces, only the middle one damaged
        {3 * kPiece, 100, false},            // the short last piece whole
        {3 * kPiece + 99, 1, false},
        {2 * kPiece + 5, 1, true},
        {0, 0, false},                       // nothing read, nothing checked
        {3 * kPiece + 100, 8, false},        // past the end: the reader's bounds refuse it
    };
    for (const bool warm : {false, true}) {
        // Cold, each read checks its pieces; warm, the pieces found sound are not hashed again
        // and the damaged one is refused again.
        const PieceChecks checks("f.idx", file.size(), kPiece, sums);
        if (warm)
            for (std::size_t p = 0; p < 4; ++p)
                if (p != 2) checks.Need(Bytes(file), file.data() + p * kPiece, 1);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(c.offset) + "+" + std::to_string(c.size) + (warm ? " warm" : " cold"));
            const auto read = [&] { checks.Need(Bytes(file), file.data() + c.offset, c.size); };
            if (!c.refused) {
                EXPECT_NO_THROW(read());
                continue;
            }
            for (int again = 0; again < 2; ++again) {
                try {
                    read();
                    ADD_FAILURE() << "a damaged piece was read";
                } catch (const DirectoryError& e) {
                    EXPECT_NE(std::string(e.what()).find("f.idx: its checksum differs from the one the folder's manifest "
                                                         "(MANIFEST.TXT) gives for bytes 8193 to 12288"),
                              std::string::npos)
                        << e.what();
                }
            }
        }
    }
}

TEST(PieceChecks, SumsThatDoNotCoverTheFileAreAFaultOfTheCaller)
{
    const std::string file(2 * kPiece + 1, 'x');
    EXPECT_THROW(PieceChecks("f", file.size(), kPiece, PieceSums(file.substr(0, 2 * kPiece), kPiece)), std::logic_error);
    EXPECT_THROW(PieceChecks("f", file.size(), 3000, PieceSums(file, 3000)), std::logic_error);
    EXPECT_NO_THROW(PieceChecks("f", file.size(), kPiece, PieceSums(file, kPiece)));
}

} // namespace
