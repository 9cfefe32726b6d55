#include "directory/sections.h"

#include "base/checksum.h"
#include "base/errors.h"
#include "base/path_text.h"

#include <algorithm>
#include <bit>
#include <stdexcept>

namespace ubin {

static_assert(std::endian::native == std::endian::little, "the directory's numbers are little-endian");

namespace {

std::uint32_t U32At(const unsigned char* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

std::uint64_t U64At(const unsigned char* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

} // namespace

SectionWriter::SectionWriter(std::string_view magic, std::uint32_t count, std::uint32_t sections, bool sums)
    : out_(SectionHeaderBytes(sections + (sums ? 1 : 0)), '\0'), sections_(sections), sums_(sums)
{
    const std::uint32_t all = sections + (sums ? 1 : 0);
    std::memcpy(out_.data(), magic.data(), std::min<std::size_t>(magic.size(), 8));
    std::memcpy(out_.data() + 8, &count, 4);
    std::memcpy(out_.data() + 12, &all, 4);
}

void SectionWriter::Add(const void* items, std::size_t bytes)
{
    if (added_ >= sections_) throw std::logic_error("a section more than the file has");
    out_.resize((out_.size() + 7) / 8 * 8, '\0');
    const std::uint64_t offset = out_.size(), size = bytes;
    out_.append(static_cast<const char*>(items), bytes);
    std::memcpy(out_.data() + 16 + 16 * added_, &offset, 8);
    std::memcpy(out_.data() + 24 + 16 * added_, &size, 8);
    ++added_;
}

std::string SectionWriter::Finish()
{
    if (added_ != sections_) throw std::logic_error("a section is missing");
    if (sums_) {
        // Each section with the zeros after it, then the header and those checksums.
        out_.resize((out_.size() + 7) / 8 * 8, '\0');
        std::vector<std::uint64_t> sums;
        for (std::uint32_t i = 0; i < sections_; ++i) {
            const std::uint64_t from = U64At(reinterpret_cast<const unsigned char*>(out_.data()) + 16 + 16 * i);
            const std::uint64_t to = i + 1 < sections_
                                         ? U64At(reinterpret_cast<const unsigned char*>(out_.data()) + 16 + 16 * (i + 1))
                                         : out_.size();
            sums.push_back(Xxh3Of(std::string_view(out_).substr(from, to - from)));
        }
        const std::uint64_t offset = out_.size(), size = (sums.size() + 1) * 8;
        std::memcpy(out_.data() + 16 + 16 * sections_, &offset, 8);
        std::memcpy(out_.data() + 24 + 16 * sections_, &size, 8);
        Xxh3Stream header;
        header.Update(out_.data(), SectionChecksumOffset(sections_ + 1));
        header.Update(sums.data(), sums.size() * 8);
        sums.push_back(header.Digest());
        out_.append(reinterpret_cast<const char*>(sums.data()), sums.size() * 8);
    }
    // The checksum last, over every byte with its own field still zero.
    const std::uint64_t sum = Xxh3Of(out_);
    std::memcpy(out_.data() + SectionChecksumOffset(sections_ + (sums_ ? 1 : 0)), &sum, 8);
    return std::move(out_);
}

SectionReader::SectionReader(std::span<const unsigned char> bytes, const std::filesystem::path& file,
                             std::uint32_t sections, std::size_t headerEnd, bool sums)
    : bytes_(bytes), file_(file)
{
    const std::uint32_t all = sections + (sums ? 1 : 0);
    if (bytes.size() < headerEnd || bytes.size() < SectionChecksumOffset(all)) Fail("is cut short: it has no whole header");
    if (U32At(bytes.data() + 12) != all) Fail("has the wrong number of sections");
    for (std::uint32_t i = 0; i < all; ++i) {
        const std::uint64_t offset = U64At(bytes.data() + 16 + 16 * i);
        const std::uint64_t size = U64At(bytes.data() + 24 + 16 * i);
        if (offset % 8 != 0 || offset < headerEnd || offset > bytes.size() || size > bytes.size() - offset
            || (!offsets_.empty() && offset < offsets_.back()))
            Fail("section " + std::to_string(i + 1) + " lies outside the file");
        offsets_.push_back(offset);
        sections_.push_back(bytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(size)));
    }
    if (sums) {
        const auto last = sections_.back();
        if (last.size() != (std::size_t{sections} + 1) * 8 || offsets_.back() + last.size() != bytes.size())
            Fail("its section of checksums has the wrong size");
        sums_ = {reinterpret_cast<const std::uint64_t*>(last.data()), last.size() / 8};
        sections_.pop_back();
    }
}

void SectionReader::CheckHeader() const
{
    if (sums_.empty()) return;
    Xxh3Stream header;
    header.Update(bytes_.data(), SectionChecksumOffset(sections_.size() + 1));
    header.Update(sums_.data(), (sums_.size() - 1) * 8);
    if (header.Digest() != sums_.back()) Fail("its header is damaged (its checksum does not match)");
}

SectionReader::Checked SectionReader::CheckedRange(std::uint32_t section) const
{
    if (sums_.empty() || section >= sections_.size()) return {};
    return {offsets_[section], offsets_[section + 1] - offsets_[section], sums_[section]};
}

PieceChecks::PieceChecks(std::string name, std::uint64_t size, std::uint32_t pieceBytes, std::vector<std::uint64_t> sums)
    : name_(std::move(name)), size_(size), pieceBytes_(pieceBytes), sums_(std::move(sums)),
      checked_(std::make_unique<std::atomic<bool>[]>(sums_.size()))
{
    // The manifest's reader holds a pieces line to the size it lists; this is the same promise.
    if (!std::has_single_bit(pieceBytes_) || (size_ + pieceBytes_ - 1) / pieceBytes_ != sums_.size())
        throw std::logic_error(name_ + ": its piece checksums do not cover its size");
    shift_ = std::countr_zero(pieceBytes_);
}

std::size_t PieceChecks::Length(std::uint64_t p) const
{
    return static_cast<std::size_t>(std::min<std::uint64_t>(pieceBytes_, size_ - p * pieceBytes_));
}

void PieceChecks::Compare(std::uint64_t p, std::uint64_t sum) const
{
    const std::uint64_t begin = p * pieceBytes_;
    if (sum != sums_[p])
        throw DirectoryError(name_ + ": its checksum differs from the one the folder's manifest (MANIFEST.TXT) gives for "
                             + "bytes " + std::to_string(begin + 1) + " to " + std::to_string(begin + Length(p))
                             + ": the file is damaged or from another build");
    checked_[p].store(true, std::memory_order_release);
}

void PieceChecks::NeedInFile(std::span<const unsigned char> file, std::uint64_t offset, std::size_t size) const
{
    Need(offset, size, [&](std::uint64_t begin, std::size_t length) {
        // A file of another size than the manifest gives reads as damaged where it differs.
        if (begin > file.size() || length > file.size() - begin) return ~sums_[begin / pieceBytes_];
        return Xxh3Of(file.subspan(static_cast<std::size_t>(begin), length));
    });
}

void PartChecks::Fail(const std::string& error) { throw DirectoryError(error); }

std::uint32_t SectionReader::Count() const { return U32At(bytes_.data() + 8); }

void SectionReader::Fail(const std::string& what) const { throw DirectoryError(PathToUtf8(file_) + ": " + what); }

} // namespace ubin
