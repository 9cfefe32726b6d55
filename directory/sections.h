#pragma once
// The shape of the directory's binary files (検索.IDX, 住所.IDX), which the programs map and use
// where they lie: 8 bytes naming the file and its version, a count (4 bytes; what it counts is
// the file's own), the number of sections (4 bytes), each section's byte offset and length
// (8 bytes each), then the file's checksum (8 bytes): the XXH3 of the whole file with those 8
// bytes read as zeros. Every section starts at a multiple of 8 after the header. Numbers are
// little-endian; a section of items of a fixed size holds a whole number of them.
//
// The last section holds the sections' own checksums: for each other section the XXH3 of its
// bytes and of the zeros after it up to the next section, then the XXH3 of the header (up to
// its checksum field) followed by those checksums. A reader checks the header and the table at
// opening, which reads a few hundred bytes, and each section at its first use: a search reads
// and checks the sections it needs, never the whole file. Where the folder's manifest gives the
// file in pieces, a reader checks those instead, each at the first read that takes bytes of it
// (PieceChecks below), so that a search hashes the rows and texts it reads, not their sections.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

// Where the checksum lies in a file of `sections` sections, and where its first section may start.
constexpr std::size_t SectionChecksumOffset(std::size_t sections) { return 16 + 16 * sections; }
constexpr std::size_t SectionHeaderBytes(std::size_t sections) { return SectionChecksumOffset(sections) + 8; }

// Writes such a file, section after section.
class SectionWriter {
public:
    // `sections`: the sections the caller adds; the section of checksums follows them unless
    // `sums` is false (a file of the builds before, which had none).
    SectionWriter(std::string_view magic, std::uint32_t count, std::uint32_t sections, bool sums = true);

    void Add(const void* items, std::size_t bytes);
    template <class T>
    void Add(const std::vector<T>& items)
    {
        Add(items.data(), items.size() * sizeof(T));
    }
    // The bytes, with the checksum filled in; every section must have been added.
    std::string Finish();

private:
    std::string out_;
    std::uint32_t sections_ = 0, added_ = 0;
    bool sums_ = true;
};

// The header of such a file read, and its sections handed out. The constructor checks that the
// file has the magic, the section count and sections that lie inside it; it reads nothing else,
// so that opening costs nothing but the header (the checksum is the caller's to compare, at the
// first use). DirectoryError naming the file otherwise.
class SectionReader {
public:
    // `sections`: the sections the file holds besides its section of checksums, which it has
    // when `sums` is true. `headerEnd`: where sections may start (SectionHeaderBytes, or less for
    // a file of the builds before that had no checksum).
    SectionReader(std::span<const unsigned char> bytes, const std::filesystem::path& file, std::uint32_t sections,
                  std::size_t headerEnd, bool sums = true);

    // Compares the header and the section table with their checksum (DirectoryError otherwise).
    void CheckHeader() const;
    // Where section i lies with the zeros after it, and the checksum the file gives for that.
    struct Checked {
        std::uint64_t offset = 0, size = 0, sum = 0;
    };
    Checked CheckedRange(std::uint32_t section) const;

    std::uint32_t Count() const;
    std::span<const unsigned char> Bytes(std::uint32_t section) const { return sections_[section]; }
    // A section of items of a fixed size (a whole number of them, else the file is refused).
    template <class T>
    std::span<const T> Items(std::uint32_t section) const
    {
        const auto bytes = sections_[section];
        if (bytes.size() % sizeof(T) != 0) Fail("section " + std::to_string(section + 1) + " has the wrong size");
        return {reinterpret_cast<const T*>(bytes.data()), bytes.size() / sizeof(T)};
    }
    [[noreturn]] void Fail(const std::string& what) const;

private:
    std::span<const unsigned char> bytes_;
    std::filesystem::path file_;
    std::vector<std::span<const unsigned char>> sections_;
    std::vector<std::uint64_t> offsets_; // of each section, and of the section of checksums
    std::span<const std::uint64_t> sums_;
};

// The parts of a file checked at their first use: a part is checked once, by whichever thread
// needs it first, and its failure is given to every later use as well.
class PartChecks {
public:
    explicit PartChecks(std::size_t parts) : parts_(std::make_unique<Part[]>(parts)) {}
    template <class Check>
    void Need(std::size_t part, Check check) const
    {
        Part& p = parts_[part];
        if (p.ok.load(std::memory_order_acquire)) return;
        std::call_once(p.once, [&] {
            try {
                check();
                p.ok.store(true, std::memory_order_release);
            } catch (const std::exception& e) {
                p.error = e.what();
            }
        });
        if (!p.ok.load(std::memory_order_acquire)) Fail(p.error);
    }

private:
    [[noreturn]] static void Fail(const std::string& error);
    struct Part {
        std::once_flag once;
        std::atomic<bool> ok{false};
        std::string error;
    };
    std::unique_ptr<Part[]> parts_;
};

// A file's checksums piece by piece, as a folder's manifest gives them (its `pieces` lines): each
// piece is compared the first time a read takes bytes of it, so a program hashes what it reads
// and no more. Two threads may hash the same piece at once; either finding stands. A damaged
// piece is refused at every read of it, while the pieces around it answer.
class PieceChecks {
public:
    // `name`: the file as messages name it; `size`: its size as the manifest gives it.
    PieceChecks(std::string name, std::uint64_t size, std::uint32_t pieceBytes, std::vector<std::uint64_t> sums);

    // Compares the pieces that bytes offset .. offset + size of the file lie in, those not yet
    // found sound; hash(begin, length) gives the XXH3 of those bytes of the file as it reads them.
    // DirectoryError naming the file and the piece's bytes when one differs.
    template <class Hash>
    void Need(std::uint64_t offset, std::uint64_t size, Hash hash) const
    {
        if (size == 0 || offset >= size_) return;
        const std::uint64_t last = std::min(offset + size, size_) - 1;
        for (std::uint64_t p = offset / pieceBytes_; p <= last / pieceBytes_; ++p)
            if (!checked_[p].load(std::memory_order_acquire)) Compare(p, hash(p * pieceBytes_, Length(p)));
    }
    // The same for bytes of the file mapped or held in memory, `file` being the whole file.
    void Need(std::span<const unsigned char> file, const void* at, std::size_t size) const
    {
        if (!Sound(file, at, size)) NeedInFile(file, Offset(file, at), size);
    }
    // Whether those bytes lie in pieces found sound before, as most reads' bytes do: told without
    // a call, so that the readers can keep the rest out of line.
    bool Sound(std::span<const unsigned char> file, const void* at, std::size_t size) const
    {
        const std::uint64_t offset = Offset(file, at);
        if (size == 0 || offset + size > size_) return false;
        const std::uint64_t first = offset >> shift_, last = (offset + size - 1) >> shift_;
        return last - first <= 1 && checked_[first].load(std::memory_order_acquire)
               && checked_[last].load(std::memory_order_acquire);
    }

    std::uint64_t size() const { return size_; }

private:
    std::size_t Length(std::uint64_t p) const;
    void Compare(std::uint64_t p, std::uint64_t sum) const;
    void NeedInFile(std::span<const unsigned char> file, std::uint64_t offset, std::size_t size) const;
    static std::uint64_t Offset(std::span<const unsigned char> file, const void* at)
    {
        return static_cast<std::uint64_t>(static_cast<const unsigned char*>(at) - file.data());
    }

    std::string name_;
    std::uint64_t size_;
    std::uint32_t pieceBytes_;
    int shift_ = 0; // pieceBytes_ is 1 << shift_
    std::vector<std::uint64_t> sums_;
    std::unique_ptr<std::atomic<bool>[]> checked_;
};

} // namespace ubin
