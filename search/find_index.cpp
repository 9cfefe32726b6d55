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

static_assert(kFindChecksumOffset == 16 + 16 * kFindSectionCount);

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

FindIndex::FindIndex(const std::filesystem::path& file, std::optional<std::uint64_t> expected) : map_(file)
{
    const auto bytes = map_.bytes();
    const auto fail = [&](const std::string& what) { throw DirectoryError(PathToUtf8(file) + ": " + what); };
    const bool checked = bytes.size() >= kFindHeaderBytes && std::memcmp(bytes.data(), kFindIndexMagic, 8) == 0;
    if (!checked && (bytes.size() < kFindChecksumOffset || std::memcmp(bytes.data(), kFindIndexMagicUnchecked, 8) != 0))
        fail("is not a search index of this version (it does not begin with UBFIND02 or UBFIND01)");
    // The checksum first: a damaged byte anywhere is refused before any of it is believed.
    if (expected) {
        if (Xxh3Of(bytes) != *expected)
            fail("its checksum differs from the one the folder's manifest (MANIFEST.TXT) gives: the file is damaged "
                 "or from another build");
    } else if (checked && Xxh3WithFieldZeroed(bytes, kFindChecksumOffset) != U64At(bytes.data() + kFindChecksumOffset)) {
        fail("its checksum differs from the one in its header: the file is damaged");
    }
    docs_ = U32At(bytes.data() + 8);
    if (U32At(bytes.data() + 12) != kFindSectionCount) fail("has the wrong number of sections");
    std::span<const unsigned char> sections[kFindSectionCount];
    for (int i = 0; i < kFindSectionCount; ++i) {
        const std::uint64_t offset = U64At(bytes.data() + 16 + 16 * i);
        const std::uint64_t size = U64At(bytes.data() + 24 + 16 * i);
        if (offset % 8 != 0 || offset < (checked ? kFindHeaderBytes : kFindChecksumOffset) || offset > bytes.size()
            || size > bytes.size() - offset)
            fail("section " + std::to_string(i + 1) + " lies outside the file");
        sections[i] = bytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(size));
    }
    // Each section is a whole number of its items, and the per-document ones hold one per document.
    const auto u32s = [&](int i, std::uint64_t expected) {
        if (sections[i].size() != expected * 4) fail("section " + std::to_string(i + 1) + " has the wrong size");
        return std::span<const std::uint32_t>(reinterpret_cast<const std::uint32_t*>(sections[i].data()),
                                              static_cast<std::size_t>(expected));
    };
    const auto chars = [&](int i) {
        if (sections[i].size() % 2 != 0) fail("section " + std::to_string(i + 1) + " has the wrong size");
        return std::span<const char16_t>(reinterpret_cast<const char16_t*>(sections[i].data()), sections[i].size() / 2);
    };
    const auto grams = [&](int i) {
        if (sections[i].size() % sizeof(FindGramEntry) != 0) fail("section " + std::to_string(i + 1) + " has the wrong size");
        return std::span<const FindGramEntry>(reinterpret_cast<const FindGramEntry*>(sections[i].data()),
                                              sections[i].size() / sizeof(FindGramEntry));
    };
    postal_ = u32s(kFindPostal, docs_);
    refs_ = u32s(kFindRefs, docs_);
    nameOffsets_ = u32s(kFindNameOffsets, std::uint64_t{docs_} + 1);
    readOffsets_ = u32s(kFindReadOffsets, std::uint64_t{docs_} + 1);
    nameText_ = chars(kFindNameText);
    readText_ = chars(kFindReadText);
    if (sections[kFindParts].size() != std::uint64_t{docs_} * 4) fail("section 7 has the wrong size");
    parts_ = sections[kFindParts];
    nameGrams_ = grams(kFindNameGrams);
    readGrams_ = grams(kFindReadGrams);
    namePostings_ = sections[kFindNamePostings];
    readPostings_ = sections[kFindReadPostings];
    // The offsets must rise within their texts, and every list must start inside its section:
    // a damaged file is refused here rather than read out of bounds later.
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

std::u16string_view FindIndex::NameText(std::uint32_t doc) const
{
    return {nameText_.data() + nameOffsets_[doc], nameOffsets_[doc + 1] - nameOffsets_[doc]};
}

std::u16string_view FindIndex::ReadText(std::uint32_t doc) const
{
    return {readText_.data() + readOffsets_[doc], readOffsets_[doc + 1] - readOffsets_[doc]};
}

std::span<const std::uint8_t, 4> FindIndex::Parts(std::uint32_t doc) const
{
    return std::span<const std::uint8_t, 4>(parts_.data() + 4 * static_cast<std::size_t>(doc), 4);
}

const FindGramEntry* FindIndex::Lookup(std::span<const FindGramEntry> grams, std::uint32_t gram)
{
    const auto it = std::lower_bound(grams.begin(), grams.end(), gram,
                                     [](const FindGramEntry& e, std::uint32_t g) { return e.gram < g; });
    return it != grams.end() && it->gram == gram ? &*it : nullptr;
}

std::uint32_t FindIndex::Count(std::span<const FindGramEntry> grams, std::uint32_t gram)
{
    const FindGramEntry* e = Lookup(grams, gram);
    return e ? e->count : 0;
}

std::vector<std::uint32_t> FindIndex::Postings(std::span<const FindGramEntry> grams,
                                               std::span<const unsigned char> postings, std::uint32_t gram) const
{
    std::vector<std::uint32_t> out;
    const FindGramEntry* e = Lookup(grams, gram);
    if (!e) return out;
    out.reserve(e->count);
    std::size_t at = e->offset;
    std::uint64_t doc = 0;
    for (std::uint32_t i = 0; i < e->count; ++i) {
        std::uint32_t delta = 0;
        for (int shift = 0;; shift += 7) {
            if (at >= postings.size() || shift > 28)
                throw DirectoryError(PathToUtf8(map_.path()) + ": the list of a character runs past its section");
            const unsigned char b = postings[at++];
            delta |= static_cast<std::uint32_t>(b & 0x7F) << shift;
            if (!(b & 0x80)) break;
        }
        doc = i == 0 ? delta : doc + delta;
        if (doc >= docs_) throw DirectoryError(PathToUtf8(map_.path()) + ": the list of a character names no document");
        out.push_back(static_cast<std::uint32_t>(doc));
    }
    return out;
}

std::uint32_t FindIndex::LowerBoundPostal(std::uint32_t code) const
{
    return static_cast<std::uint32_t>(std::lower_bound(postal_.begin(), postal_.end(), code) - postal_.begin());
}

} // namespace ubin
