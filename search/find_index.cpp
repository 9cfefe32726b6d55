#include "search/find_index.h"

#include "base/checksum.h"
#include "base/errors.h"
#include "base/path_text.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace ubin {

static_assert(std::endian::native == std::endian::little, "the directory's numbers are little-endian");

namespace {

std::uint64_t U64At(const unsigned char* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

std::uint32_t U32At(const unsigned char* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

} // namespace

FindIndex::FindIndex(const std::filesystem::path& file, platform::MappedFile::Mode mode) : map_(file, mode), name_(file)
{
    bytes_ = map_.bytes();
    Read();
}

FindIndex::FindIndex(std::string bytes, const std::filesystem::path& file)
    : memory_(std::move(bytes)), trusted_(true), name_(file)
{
    bytes_ = {reinterpret_cast<const unsigned char*>(memory_.data()), memory_.size()};
    Read();
}

void FindIndex::Read()
{
    const auto fail = [&](const std::string& what) { throw DirectoryError(PathToUtf8(name_) + ": " + what); };
    if (bytes_.size() < 16) fail("is not a search index (it is cut short before the end of its header)");
    if (std::memcmp(bytes_.data(), kFindIndexMagic, 8) == 0) version_ = 3;
    else if (std::memcmp(bytes_.data(), kFindIndexMagicV2, 8) == 0) version_ = 2;
    else if (std::memcmp(bytes_.data(), kFindIndexMagicUnchecked, 8) == 0) version_ = 1;
    else fail("is not a search index of this version (it does not begin with UBFIND03, UBFIND02 or UBFIND01)");
    // The builds before wrote the first eleven sections and checked no section alone.
    sectionCount_ = U32At(bytes_.data() + 12);
    if (version_ == 3 ? sectionCount_ != kFindSectionCount
                      : sectionCount_ != kFindOldSectionCount && sectionCount_ != kFindSectionCount)
        fail("has the wrong number of sections");
    const bool sums = version_ == 3;
    const std::size_t headerEnd = version_ == 1 ? SectionChecksumOffset(sectionCount_) : SectionHeaderBytes(sectionCount_);
    sections_.emplace(bytes_, name_, sums ? sectionCount_ - 1 : sectionCount_, headerEnd, sums);
    if (!trusted_) sections_->CheckHeader();
    const SectionReader& s = *sections_;
    docs_ = s.Count();
    // Each section is a whole number of its items, and the per-document ones hold one per document.
    const auto perDocument = [&](int i, std::uint64_t extra) {
        const auto items = s.Items<std::uint32_t>(static_cast<std::uint32_t>(i));
        if (items.size() != std::uint64_t{docs_} + extra) s.Fail("section " + std::to_string(i + 1) + " has the wrong size");
        return items;
    };
    postal_ = perDocument(kFindPostal, 0);
    refs_ = perDocument(kFindRefs, 0);
    nameOffsets_ = perDocument(kFindNameOffsets, 1);
    readOffsets_ = perDocument(kFindReadOffsets, 1);
    nameText_ = s.Items<char16_t>(kFindNameText);
    readText_ = s.Items<char16_t>(kFindReadText);
    parts_ = s.Bytes(kFindParts);
    if (parts_.size() != std::uint64_t{docs_} * 4) s.Fail("section 7 has the wrong size");
    nameGrams_ = s.Items<FindGramEntry>(kFindNameGrams);
    readGrams_ = s.Items<FindGramEntry>(kFindReadGrams);
    namePostings_ = s.Bytes(kFindNamePostings);
    readPostings_ = s.Bytes(kFindReadPostings);
    rankFromFile_ = sectionCount_ == kFindSectionCount;
    if (rankFromFile_) {
        literalOffsets_ = perDocument(kFindLiteralOffsets, 1);
        literalText_ = s.Items<char16_t>(kFindLiteralText);
        prominence_ = perDocument(kFindProminence, 0);
        order_ = perDocument(kFindOrder, 0);
        splits_ = s.Items<ReadingSplit>(kFindReadingSplits);
        if (splits_.size() != docs_) s.Fail("section " + std::to_string(kFindReadingSplits + 1) + " has the wrong size");
        entryDocs_ = s.Items<std::uint32_t>(kFindEntryDocs);
    }
}

void FindIndex::CheckPart(Part part) const
{
    const auto fail = [&](const std::string& what) { throw DirectoryError(PathToUtf8(name_) + ": " + what); };
    const bool mapped = memory_.empty();
    if (version_ < 3) {
        // The whole file, as the builds before were checked.
        if (expected_) {
            if ((mapped ? Xxh3OfMapped(map_) : Xxh3Of(bytes_)) != *expected_)
                fail("its checksum differs from the one the folder's manifest (MANIFEST.TXT) gives: the file is damaged "
                     "or from another build");
        } else if (version_ == 2) {
            const std::size_t field = SectionChecksumOffset(sectionCount_);
            const std::uint64_t sum = mapped ? Xxh3OfMapped(map_, field) : Xxh3WithFieldZeroed(bytes_, field);
            if (sum != U64At(bytes_.data() + field)) fail("its checksum differs from the one in its header: the file is damaged");
        }
        if (version_ == 1) CheckStructure();
        return;
    }
    static const std::vector<int> kParts[kPartCount] = {
        {kFindPostal, kFindRefs},           {kFindNameOffsets, kFindNameText, kFindLiteralOffsets, kFindLiteralText}, {kFindParts},
        {kFindNameGrams, kFindNamePostings}, {kFindReadOffsets, kFindReadText}, {kFindReadGrams, kFindReadPostings},
        {kFindProminence, kFindOrder},      {kFindReadingSplits},              {kFindEntryDocs},
    };
    for (const int section : kParts[part]) {
        const SectionReader::Checked c = sections_->CheckedRange(static_cast<std::uint32_t>(section));
        const std::uint64_t sum = mapped ? Xxh3OfMappedRange(map_, c.offset, c.size)
                                         : Xxh3Of(bytes_.subspan(static_cast<std::size_t>(c.offset), static_cast<std::size_t>(c.size)));
        if (sum != c.sum)
            fail("section " + std::to_string(section + 1) + " is damaged (its checksum does not match): build the "
                 "directory again");
    }
}

// An index without a checksum is checked for what it promises: rising offsets within its texts,
// lists that start inside their section, documents in postal code order.
void FindIndex::CheckStructure() const
{
    const auto fail = [&](const std::string& what) { throw DirectoryError(PathToUtf8(name_) + ": " + what); };
    for (const auto& [offsets, text] : {std::pair{nameOffsets_, nameText_.size()}, std::pair{readOffsets_, readText_.size()}}) {
        if (offsets.front() != 0 || offsets.back() != text) fail("its text offsets do not match its texts");
        for (std::size_t i = 1; i < offsets.size(); ++i)
            if (offsets[i] < offsets[i - 1]) fail("its text offsets do not rise");
    }
    for (const auto& [list, postings] : {std::pair{nameGrams_, namePostings_.size()}, std::pair{readGrams_, readPostings_.size()}}) {
        for (std::size_t i = 0; i < list.size(); ++i)
            if (list[i].offset > postings || list[i].count > docs_ || (i > 0 && list[i].gram <= list[i - 1].gram))
                fail("its lists of characters are damaged");
    }
    for (std::size_t i = 1; i < postal_.size(); ++i)
        if (postal_[i] < postal_[i - 1]) fail("its documents are not in postal code order");
}

void FindIndex::UseManifest(const std::optional<ManifestFile>& listed)
{
    expected_.reset();
    pieces_.reset();
    if (!listed) return;
    expected_ = listed->sum;
    // The builds before wrote no pieces for this file: an index of theirs is checked whole.
    if (version_ == 3 && !listed->pieces.empty() && !trusted_) {
        if (listed->size != bytes_.size())
            throw DirectoryError(PathToUtf8(name_) + ": holds " + std::to_string(bytes_.size()) + " bytes, but the "
                                 + "folder's manifest (MANIFEST.TXT) says " + std::to_string(listed->size)
                                 + ": the file is cut short, damaged or from another build");
        pieces_.emplace(PathToUtf8(name_), listed->size, listed->pieceBytes, listed->pieces);
    }
}

void FindIndex::TakePieces(const void* at, std::size_t bytes) const
{
    try {
        pieces_->Need(bytes_, at, bytes);
    } catch (const DirectoryError&) {
        // A file cut short under its mapping reads as zeros: say so rather than "damaged".
        CheckUnchanged();
        throw;
    }
}

void FindIndex::CheckUnchanged() const
{
    if (map_.Changed()) throw DirectoryError(PathToUtf8(name_) + ": was cut short or overwritten while in use");
}

void FindIndex::UseRankSections(FindRankSections computed)
{
    computed_ = std::move(computed);
    prominence_ = computed_->prominence;
    order_ = computed_->order;
    splits_ = computed_->splits;
    entryDocs_ = computed_->entryDocs;
}

std::uint32_t FindIndex::DocumentOfEntry(std::int32_t entry) const
{
    if (entry < 0) return kNoDocument;
    const std::uint32_t doc = Item(kEntryDocs, entryDocs_, static_cast<std::uint32_t>(entry), kNoDocument);
    return doc < docs_ ? doc : kNoDocument;
}

std::u16string_view FindIndex::TextAt(Part part, std::span<const char16_t> text, std::span<const std::uint32_t> offsets,
                                      std::uint32_t doc) const
{
    if (std::size_t{doc} + 1 >= offsets.size()) return {};
    Take(part, &offsets[doc], 2 * sizeof(std::uint32_t));
    const std::uint32_t begin = offsets[doc], end = offsets[doc + 1];
    if (begin > end || end > text.size()) return {};
    Take(part, text.data() + begin, (end - begin) * sizeof(char16_t));
    return {text.data() + begin, end - begin};
}

std::span<const std::uint8_t, 4> FindIndex::Parts(std::uint32_t doc) const
{
    static const std::uint8_t kNone[4] = {};
    if (doc >= docs_) return std::span<const std::uint8_t, 4>(kNone, 4);
    Take(kNameParts, parts_.data() + 4 * static_cast<std::size_t>(doc), 4);
    return std::span<const std::uint8_t, 4>(parts_.data() + 4 * static_cast<std::size_t>(doc), 4);
}

const FindGramEntry* FindIndex::Lookup(Part part, std::span<const FindGramEntry> grams, std::uint32_t gram) const
{
    // Each row the search looks at is checked before it is compared.
    const auto it = std::lower_bound(grams.begin(), grams.end(), gram, [&](const FindGramEntry& e, std::uint32_t g) {
        Take(part, &e, sizeof e);
        return e.gram < g;
    });
    if (it == grams.end()) return nullptr;
    Take(part, &*it, sizeof *it);
    return it->gram == gram ? &*it : nullptr;
}

std::uint32_t FindIndex::Count(Part part, std::span<const FindGramEntry> grams, std::uint32_t gram) const
{
    const FindGramEntry* e = Lookup(part, grams, gram);
    return e ? e->count : 0;
}

std::vector<std::uint32_t> FindIndex::Postings(Part part, std::span<const FindGramEntry> grams,
                                               std::span<const unsigned char> postings, std::uint32_t gram) const
{
    std::vector<std::uint32_t> out;
    const FindGramEntry* e = Lookup(part, grams, gram);
    if (!e) return out;
    out.reserve(std::min(e->count, docs_));
    std::size_t at = e->offset, taken = at;
    std::uint64_t doc = 0;
    for (std::uint32_t i = 0; i < e->count; ++i) {
        std::uint32_t delta = 0;
        for (int shift = 0;; shift += 7) {
            if (at >= postings.size() || shift > 28)
                throw DirectoryError(PathToUtf8(name_) + ": the list of a character runs past its section");
            if (at == taken) {
                // The list's length in bytes is known only once it is read: it is checked a
                // few kilobytes ahead of the reading.
                taken = std::min(postings.size(), at + 4096);
                Take(part, postings.data() + at, taken - at);
            }
            const unsigned char b = postings[at++];
            delta |= static_cast<std::uint32_t>(b & 0x7F) << shift;
            if (!(b & 0x80)) break;
        }
        doc = i == 0 ? delta : doc + delta;
        if (doc >= docs_) throw DirectoryError(PathToUtf8(name_) + ": the list of a character names no document");
        out.push_back(static_cast<std::uint32_t>(doc));
    }
    return out;
}

std::uint32_t FindIndex::LowerBoundPostal(std::uint32_t code) const
{
    const auto it = std::lower_bound(postal_.begin(), postal_.end(), code, [&](const std::uint32_t& v, std::uint32_t c) {
        Take(kDocuments, &v, sizeof v);
        return v < c;
    });
    return static_cast<std::uint32_t>(it - postal_.begin());
}

} // namespace ubin
