#include "builder/find_writer.h"

#include "base/checksum.h"
#include "base/normalize.h"
#include "directory/address_file.h"
#include "search/find_index.h"

#include <algorithm>
#include <cstring>

namespace ubin {

namespace {


// The distinct pairs of neighbouring characters of a text, each as (gram << 32 | document);
// pairs across an office's address and name are left out. (A search for one character reads
// the texts themselves.)
void AddGrams(std::u16string_view text, std::uint32_t doc, std::vector<std::uint32_t>& scratch,
              std::vector<std::uint64_t>& out)
{
    scratch.clear();
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] != kFindNameSeparator && text[i + 1] != kFindNameSeparator)
            scratch.push_back(FindGram(text[i], text[i + 1]));
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

template <class T>
void Append(std::string& out, const std::vector<T>& items)
{
    out.append(reinterpret_cast<const char*>(items.data()), items.size() * sizeof(T));
}

std::uint8_t Length(std::size_t n) { return static_cast<std::uint8_t>(std::min<std::size_t>(n, 255)); }

} // namespace

std::string FindIndexBytes(const std::vector<FindDocument>& documents)
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
    std::vector<std::uint32_t> scratch;
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
        if (doc.office) name += NameForm(doc.street) + kFindNameSeparator + NameForm(doc.officeName);
        else name += NameForm(doc.detail);
        const std::u16string reading = SearchForm(doc.reading);
        nameText.insert(nameText.end(), name.begin(), name.end());
        readText.insert(readText.end(), reading.begin(), reading.end());
        nameOffsets.push_back(static_cast<std::uint32_t>(nameText.size()));
        readOffsets.push_back(static_cast<std::uint32_t>(readText.size()));
        parts.insert(parts.end(), {Length(p.size()), Length(c.size()), Length(t.size()),
                                   static_cast<std::uint8_t>(!doc.office && doc.town == kRestOfCityTown ? kFindTownIsRest : 0)});
        AddGrams(name, d, scratch, namePairs);
        AddGrams(reading, d, scratch, readPairs);
    }
    std::vector<FindGramEntry> nameGrams, readGrams;
    std::vector<unsigned char> namePostings, readPostings;
    WriteLists(namePairs, nameGrams, namePostings);
    WriteLists(readPairs, readGrams, readPostings);

    // The header, then each section at an offset that is a multiple of 8.
    std::string out(kFindHeaderBytes, '\0');
    out.reserve(out.size() + 8 * kFindSectionCount + (postal.size() + refs.size() + nameOffsets.size() + readOffsets.size()) * 4
                + (nameText.size() + readText.size()) * 2 + parts.size()
                + (nameGrams.size() + readGrams.size()) * sizeof(FindGramEntry) + namePostings.size() + readPostings.size());
    std::memcpy(out.data(), kFindIndexMagic, 8);
    std::memcpy(out.data() + 8, &count, 4);
    const std::uint32_t sections = kFindSectionCount;
    std::memcpy(out.data() + 12, &sections, 4);
    int section = 0;
    const auto add = [&](const auto& items) {
        out.resize((out.size() + 7) / 8 * 8, '\0');
        const std::uint64_t offset = out.size();
        Append(out, items);
        const std::uint64_t size = out.size() - offset;
        std::memcpy(out.data() + 16 + 16 * section, &offset, 8);
        std::memcpy(out.data() + 24 + 16 * section, &size, 8);
        ++section;
    };
    add(postal);
    add(refs);
    add(nameOffsets);
    add(nameText);
    add(readOffsets);
    add(readText);
    add(parts);
    add(nameGrams);
    add(namePostings);
    add(readGrams);
    add(readPostings);
    // The checksum last, over every byte with its own field still zero.
    const std::uint64_t sum = Xxh3Of(out);
    std::memcpy(out.data() + kFindChecksumOffset, &sum, 8);
    return out;
}

} // namespace ubin
