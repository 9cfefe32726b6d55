#include "builder/find_writer.h"

#include "base/checksum.h"
#include "base/normalize.h"
#include "directory/address_file.h"
#include "directory/sections.h"
#include "search/find_index.h"
#include "search/find_rank.h"

#include <algorithm>
#include <initializer_list>
#include <cstring>

namespace ubin {

namespace {


// The distinct pairs of neighbouring characters of a text, each as (gram << 32 | document);
// pairs across an office's address and name are left out. (A search for one character reads
// the texts themselves.)
void AddGrams(std::initializer_list<std::u16string_view> texts, std::uint32_t doc, std::vector<std::uint32_t>& scratch,
              std::vector<std::uint64_t>& out)
{
    scratch.clear();
    for (const std::u16string_view text : texts) {
        for (std::size_t i = 0; i + 1 < text.size(); ++i)
            if (text[i] != kFindNameSeparator && text[i + 1] != kFindNameSeparator)
                scratch.push_back(FindGram(text[i], text[i + 1]));
        // Each character alone too, so that a query of one character reads a list, not every text.
        for (const char16_t c : text)
            if (c != kFindNameSeparator) scratch.push_back(FindSingle(c));
    }
    std::sort(scratch.begin(), scratch.end());
    scratch.erase(std::unique(scratch.begin(), scratch.end()), scratch.end());
    for (const std::uint32_t g : scratch) out.push_back((static_cast<std::uint64_t>(g) << 32) | doc);
}

// Sorts (gram, document) pairs by gram, keeping the document order of each gram: the pairs
// come in document order, and a stable radix sort on the gram's two halves keeps it.
void SortByGram(std::vector<std::uint64_t>& pairs)
{
    std::vector<std::uint64_t> buffer;
    buffer.resize(pairs.size());
    std::vector<std::size_t> counts(0x10001);
    for (const int shift : {32, 48}) {
        std::fill(counts.begin(), counts.end(), 0);
        for (const std::uint64_t p : pairs) ++counts[((p >> shift) & 0xFFFF) + 1];
        for (std::size_t i = 0; i < 0x10000; ++i) counts[i + 1] += counts[i];
        for (const std::uint64_t p : pairs) buffer[counts[(p >> shift) & 0xFFFF]++] = p;
        pairs.swap(buffer);
    }
}

// The gram table and the lists of one index.
void WriteLists(std::vector<std::uint64_t>& pairs, std::vector<FindGramEntry>& grams, std::vector<unsigned char>& postings)
{
    SortByGram(pairs);
    for (std::size_t i = 0; i < pairs.size();) {
        const auto gram = static_cast<std::uint32_t>(pairs[i] >> 32);
        FindGramEntry e{gram, 0, static_cast<std::uint32_t>(postings.size())};
        std::uint32_t previous = 0;
        for (; i < pairs.size() && static_cast<std::uint32_t>(pairs[i] >> 32) == gram; ++i) {
            const auto doc = static_cast<std::uint32_t>(pairs[i]);
            PutVarint(postings, e.count == 0 ? doc : doc - previous);
            previous = doc;
            ++e.count;
        }
        grams.push_back(e);
    }
}

std::uint8_t Length(std::size_t n) { return static_cast<std::uint8_t>(std::min<std::size_t>(n, 255)); }

} // namespace

std::string FindIndexBytes(const std::vector<FindDocument>& documents, const FindRanker::Prefectures& prefectures)
{
    std::vector<const FindDocument*> docs;
    docs.reserve(documents.size());
    for (const FindDocument& d : documents) docs.push_back(&d);
    std::stable_sort(docs.begin(), docs.end(), [](const FindDocument* a, const FindDocument* b) {
        if (a->postal != b->postal) return a->postal < b->postal;
        if (a->office != b->office) return !a->office;
        return a->sourceLine < b->sourceLine;
    });
    const auto count = static_cast<std::uint32_t>(docs.size());
    std::vector<std::uint32_t> postal, refs, nameOffsets{0}, readOffsets{0};
    std::vector<char16_t> nameText, readText;
    std::vector<std::uint8_t> parts;
    std::vector<std::uint64_t> namePairs, readPairs;
    std::vector<std::uint32_t> scratch, literalOffsets{0};
    std::vector<char16_t> literalText;
    // At most one gram a character: reserved once, so the lists are not copied as they grow.
    std::size_t nameChars = 0, readChars = 0;
    for (const FindDocument& doc : documents) {
        nameChars += doc.prefecture.size() + doc.city.size() + doc.town.size() + doc.detail.size() + doc.street.size()
                     + doc.officeName.size() + 1;
        readChars += doc.reading.size();
    }
    namePairs.reserve(nameChars);
    readPairs.reserve(readChars);
    nameText.reserve(nameChars);
    readText.reserve(readChars);
    for (std::uint32_t d = 0; d < count; ++d) {
        const FindDocument& doc = *docs[d];
        postal.push_back(doc.postal);
        refs.push_back(doc.number | (doc.office ? kFindOfficeBit : 0));
        const std::u16string p = NameForm(doc.prefecture), c = NameForm(doc.city), t = NameForm(doc.town);
        std::u16string name = p + c + t;
        if (doc.office) name += NameForm(doc.street).str() + kFindNameSeparator + NameForm(doc.officeName).str();
        else name += NameForm(doc.detail);
        // The name with its kanji numerals as written, kept where it differs.
        std::u16string literal = LiteralNameForm(doc.prefecture).str() + LiteralNameForm(doc.city).str()
                                 + LiteralNameForm(doc.town).str();
        if (doc.office) literal += LiteralNameForm(doc.street).str() + kFindNameSeparator + LiteralNameForm(doc.officeName).str();
        else literal += LiteralNameForm(doc.detail);
        if (literal == name) literal.clear();
        literalText.insert(literalText.end(), literal.begin(), literal.end());
        literalOffsets.push_back(static_cast<std::uint32_t>(literalText.size()));
        const std::u16string reading = SearchForm(doc.reading);
        nameText.insert(nameText.end(), name.begin(), name.end());
        readText.insert(readText.end(), reading.begin(), reading.end());
        nameOffsets.push_back(static_cast<std::uint32_t>(nameText.size()));
        readOffsets.push_back(static_cast<std::uint32_t>(readText.size()));
        parts.insert(parts.end(), {Length(p.size()), Length(c.size()), Length(t.size()),
                                   static_cast<std::uint8_t>(!doc.office && doc.town == kRestOfCityTown ? kFindTownIsRest : 0)});
        AddGrams({name, literal}, d, scratch, namePairs);
        AddGrams({reading}, d, scratch, readPairs);
    }
    std::vector<FindGramEntry> nameGrams, readGrams;
    std::vector<unsigned char> namePostings, readPostings;
    WriteLists(namePairs, nameGrams, namePostings);
    WriteLists(readPairs, readGrams, readPostings);

    // The first sections, read back in memory to work out the ranking's from them; then all.
    const auto write = [&](const FindRankSections* rank) {
        SectionWriter out(std::string_view(rank ? kFindIndexMagic : kFindIndexMagicV2, 8), count,
                          rank ? kFindSums : kFindOldSectionCount, rank != nullptr);
        out.Add(postal);
        out.Add(refs);
        out.Add(nameOffsets);
        out.Add(nameText);
        out.Add(readOffsets);
        out.Add(readText);
        out.Add(parts);
        out.Add(nameGrams);
        out.Add(namePostings);
        out.Add(readGrams);
        out.Add(readPostings);
        if (rank) {
            out.Add(literalOffsets);
            out.Add(literalText);
            out.Add(rank->prominence);
            out.Add(rank->order);
            out.Add(rank->splits);
            out.Add(rank->entryDocs);
        }
        return out.Finish();
    };
    const FindIndex first(write(nullptr), "検索.IDX");
    const FindRankSections rank = ComputeRankSections(first, prefectures);
    return write(&rank);
}

} // namespace ubin
