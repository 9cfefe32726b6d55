#include "directory/directory.h"
#include "directory/address_file.h"
#include "directory/address_table.h"
#include "directory/keysearch.h"
#include "directory/manifest.h"

#include "base/checksum.h"
#include "base/cp932.h"
#include "base/errors.h"
#include "base/file.h"
#include "base/path_text.h"
#include "base/text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <system_error>

namespace ubin {

const std::u16string kIndexFileNames[5] = {u"UIND1.IDX", u"UIND2.IDX", u"UIND3.IDX", u"UIND4.IDX",
                                           u"UIND5.IDX"};
const std::u16string kPointFileName = u"郵便Point.POI";
const std::u16string kLinesFileName = u"郵便番号.CSV";
const std::u16string kCityTableFileName = u"TOSHI1.TDB";
const std::u16string kCityLinesFileName = u"TOSHI2.TDB";
const std::u16string kOfficeLinesFileName = u"事業所.CSV";
const std::u16string kOfficeIndexFileName = u"事業所.IDX";
const std::u16string kFindIndexFileName = u"検索.IDX";

namespace {

std::int32_t ReadInt32(const unsigned char* p)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
                                     | (static_cast<std::uint32_t>(p[2]) << 16)
                                     | (static_cast<std::uint32_t>(p[3]) << 24));
}

std::string Name(const std::filesystem::path& p) { return PathToUtf8(p); }

} // namespace

DirectoryError ChangedInPlace(const std::filesystem::path& file)
{
    return DirectoryError(Name(file) + ": was cut short or overwritten while in use: a directory folder is replaced "
                          + "only as ubin-build does it (a new folder put in its place), never by copying files over it");
}

ReadCounts& ThisThreadReadCounts()
{
    thread_local ReadCounts counts;
    return counts;
}

std::int32_t RecordCountOf(std::uint64_t fileSize, int recordLength)
{
    const double count = std::nearbyint(static_cast<double>(fileSize) / recordLength);
    if (count > 2147483647.0) throw DirectoryError("a file of " + std::to_string(fileSize) + " bytes holds too many records");
    return static_cast<std::int32_t>(count);
}

DirectoryState::~DirectoryState() { CloseAll(); }

std::filesystem::path DirectoryState::FilePath(const std::u16string& name) const
{
#ifdef _WIN32
    return std::filesystem::path(std::wstring(dataFolder.begin(), dataFolder.end())
                                 + std::wstring(name.begin(), name.end()));
#else
    return std::filesystem::path(ToUtf8(dataFolder + name));
#endif
}

void DirectoryState::OpenSlot(int slot, const std::u16string& name, int recordLength)
{
    CloseSlot(slot);
    if (slot < 0 || slot >= kSlotCount) throw DirectoryError("there is no directory slot " + std::to_string(slot));
    OpenFile f{FilePath(name), platform::kNoFile, recordLength, 0, std::make_shared<SampleHolder>(), nullptr, nullptr};
    f.handle = platform::OpenReadShared(f.path);
    try {
        f.size = platform::FileSize(f.handle, f.path);
    } catch (...) {
        platform::CloseFile(f.handle);
        throw;
    }
    slots_[static_cast<std::size_t>(slot)] = std::move(f);
}

void DirectoryState::CloseSlot(int slot)
{
    if (!IsOpen(slot)) return;
    auto& f = slots_[static_cast<std::size_t>(slot)];
    platform::CloseFile(f->handle);
    f.reset();
}

void DirectoryState::Swap(DirectoryState& other) noexcept
{
    std::swap(dataFolder, other.dataFolder);
    std::swap(prefNames, other.prefNames);
    std::swap(prefKana, other.prefKana);
    std::swap(entryCount, other.entryCount);
    std::swap(cityTableSize, other.cityTableSize);
    std::swap(manifestBuild, other.manifestBuild);
    std::swap(findIndexListed, other.findIndexListed);
    std::swap(addressTableListed, other.addressTableListed);
    std::swap(edition, other.edition);
    std::swap(slots_, other.slots_);
    std::swap(mapped_, other.mapped_);
}

void DirectoryState::CloseAll()
{
    for (auto& f : slots_) {
        if (f) platform::CloseFile(f->handle);
        f.reset();
    }
}

bool DirectoryState::IsOpen(int slot) const
{
    return slot >= 0 && slot < kSlotCount && slots_[static_cast<std::size_t>(slot)].has_value();
}

const DirectoryState::OpenFile& DirectoryState::SlotFile(int slot) const
{
    if (!IsOpen(slot)) throw DirectoryError("directory slot " + std::to_string(slot) + " is not open");
    return *slots_[static_cast<std::size_t>(slot)];
}

void DirectoryState::OpenIndexFiles()
{
    for (int i = 0; i < 5; ++i) OpenSlot(kSlotIndex1 + i, kIndexFileNames[i], kIndexRecordLength);
}

void DirectoryState::OpenCityFiles()
{
    OpenSlot(kSlotCityTable, kCityTableFileName, kCityRecordLength);
    OpenSlot(kSlotCityLines, kCityLinesFileName, 0);
}

void DirectoryState::OpenEntryFiles()
{
    OpenSlot(kSlotPoints, kPointFileName, kPointRecordLength);
    OpenSlot(kSlotLines, kLinesFileName, 0);
}

void DirectoryState::OpenOfficeFiles()
{
    CloseSlot(kSlotOfficeIndex);
    CloseSlot(kSlotOfficeLines);
    std::error_code ec;
    const bool index = std::filesystem::exists(FilePath(kOfficeIndexFileName), ec);
    const bool lines = std::filesystem::exists(FilePath(kOfficeLinesFileName), ec);
    if (!index && !lines) return;
    // One without the other: opening the missing one names it.
    OpenSlot(kSlotOfficeIndex, kOfficeIndexFileName, kIndexRecordLength);
    OpenSlot(kSlotOfficeLines, kOfficeLinesFileName, 0);
}

void DirectoryState::MapFiles()
{
    for (const int slot : {kSlotIndex1, kSlotIndex2, kSlotIndex3, kSlotIndex4, kSlotPoints, kSlotLines, kSlotCityTable,
                           kSlotCityLines, kSlotOfficeIndex, kSlotOfficeLines}) {
        if (!IsOpen(slot)) continue;
        auto& f = *slots_[static_cast<std::size_t>(slot)];
        if (!f.map) f.map = std::make_shared<platform::MappedFile>(f.handle, f.path);
    }
    mapped_ = true;
}

bool DirectoryState::Changed() const
{
    for (const auto& f : slots_)
        if (f && f->map && f->map->Changed()) return true;
    return false;
}

void DirectoryState::CheckUnchanged() const
{
    for (const auto& f : slots_)
        if (f && f->map && f->map->Changed()) throw ChangedInPlace(f->path);
}

std::size_t DirectoryState::Read(const OpenFile& f, std::uint64_t offset, void* out, std::size_t size) const
{
    if (f.verification) Verify(f, offset, size);
    if (!f.map) return platform::ReadAt(f.handle, offset, out, size, f.path);
    const auto bytes = f.map->bytes();
    if (offset >= bytes.size()) return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, bytes.size() - offset));
    std::memcpy(out, bytes.data() + offset, n);
    // A file cut short under the mapping reads as zeros past its end: never an answer.
    if (f.map->Changed()) throw ChangedInPlace(f.path);
    return n;
}

std::uint64_t DirectoryState::SizeOf(const std::u16string& name) const
{
    const auto path = FilePath(name);
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        if (ec == std::errc::no_such_file_or_directory) throw DirectoryError(Name(path) + ": file not found");
        throw DirectoryError(Name(path) + ": size cannot be read: " + ec.message());
    }
    return size;
}

void DirectoryState::ReadPrefectureLines()
{
    std::vector<std::u16string> fields(kAreaLineFields + 1);
    const auto& f = SlotFile(kSlotCityLines);
    std::int64_t position = 1;
    for (int i = 1; i <= kPrefectureCount; ++i) {
        if (static_cast<std::uint64_t>(position) > f.size)
            throw DirectoryError(Name(f.path) + ": ends after " + std::to_string(i - 1)
                                 + " lines; the 47 prefecture lines are needed");
        const std::u16string line = ReadLineAt(kSlotCityLines, position);
        position += static_cast<std::int64_t>(EncodeCp932(line).size()) + 2;
        fields[0] = line;
        try {
            SplitCsvLine(fields);
        } catch (const FieldCountError& e) {
            throw DirectoryError(Name(f.path) + ": line " + std::to_string(i) + ": " + e.what());
        }
        prefNames[i] = fields[2];
        prefKana[i] = fields[3];
    }
}

void DirectoryState::TakeCounts()
{
    // A NUL would end the path the system is given: the files of another folder would be read.
    if (dataFolder.find(u'\0') != std::u16string::npos)
        throw DirectoryError("DataFolder " + ToUtf8(dataFolder) + ": the folder name holds a NUL character");
    const std::uint64_t tableBytes = SizeOf(kCityTableFileName);
    // The largest code a directory can hold is 47999: a larger table is not a city table.
    if (tableBytes / kCityRecordLength > kMaxCityCode || RecordCountOf(tableBytes, kCityRecordLength) > kMaxCityCode)
        throw DirectoryError(Name(FilePath(kCityTableFileName)) + ": holds " + std::to_string(tableBytes)
                             + " bytes; a city table holds at most 47,999 records of 4 bytes (191,996 bytes)");
    cityTableSize = RecordCountOf(tableBytes, kCityRecordLength);
    entryCount = RecordCountOf(SizeOf(kPointFileName), kPointRecordLength);
}

void DirectoryState::StartUp()
{
    TakeCounts();
    OpenSlot(kSlotCityLines, kCityLinesFileName, 0);
    ReadPrefectureLines();
    CloseSlot(kSlotCityLines);
    OpenIndexFiles();
    OpenCityFiles();
    OpenEntryFiles();
    OpenOfficeFiles();
    CheckFilesAgree();
}

void DirectoryState::CheckFilesAgree()
{
    const OpenFile& points = SlotFile(kSlotPoints);
    if (points.size % kPointRecordLength != 0)
        throw DirectoryError(Name(points.path) + ": holds " + std::to_string(points.size)
                             + " bytes, not a whole number of 15-byte records: the file is cut short or damaged");
    const std::uint64_t entries = points.size / kPointRecordLength;
    for (int slot = kSlotIndex1; slot <= kSlotIndex5; ++slot) {
        const OpenFile& index = SlotFile(slot);
        if (index.size != entries * kIndexRecordLength)
            throw DirectoryError(Name(index.path) + ": holds " + std::to_string(index.size / kIndexRecordLength)
                                 + " records (" + std::to_string(index.size) + " bytes), but " + Name(points.path)
                                 + " holds " + std::to_string(entries)
                                 + " entries: one of them is cut short or left from another build");
    }
    if (entries > 0) {
        // The last entry's line lies in 郵便番号.CSV: the two files belong together.
        const std::int32_t last = static_cast<std::int32_t>(std::min<std::uint64_t>(entries, 0x7FFFFFFF));
        CheckPosition(kSlotPoints, last, kSlotLines, ReadPointRecord(last).linePosition);
    }
    CheckEndsWithLine(kSlotLines);
    CheckEndsWithLine(kSlotCityLines);
    {
        // The last city line lies in TOSHI2.TDB: a city file cut at a line's end is named too.
        const std::vector<std::optional<std::int32_t>> positions = ReadCityPositions(1, WholeRecords(kSlotCityTable));
        const auto last = std::max_element(positions.begin(), positions.end()); // none sorts first
        if (last != positions.end() && *last)
            CheckPosition(kSlotCityTable, static_cast<std::int32_t>(last - positions.begin()) + 1, kSlotCityLines, **last);
    }
    if (IsOpen(kSlotOfficeIndex)) {
        const OpenFile& offices = SlotFile(kSlotOfficeIndex);
        if (offices.size % kIndexRecordLength != 0)
            throw DirectoryError(Name(offices.path) + ": holds " + std::to_string(offices.size)
                                 + " bytes, not a whole number of 12-byte records: the file is cut short or damaged");
        CheckEndsWithLine(kSlotOfficeLines);
        if (offices.size > 0) {
            const auto last = static_cast<std::int32_t>(std::min<std::uint64_t>(offices.size / kIndexRecordLength, 0x7FFFFFFF));
            CheckPosition(kSlotOfficeIndex, last, kSlotOfficeLines, ReadIndexRecord(kSlotOfficeIndex, last).entryNumber);
        }
    }
    findIndexListed.reset();
    addressTableListed.reset();
    // A manifest that leaves out a file the folder holds is refused: cut short, it would leave
    // that file unchecked.
    const auto manifest = ReadFolderManifest([this](const std::u16string& name) { return FilePath(name); });
    edition = {};
    if (!manifest) return;
    manifestBuild = manifest->build;
    const std::string findIndexName = ToUtf8(kFindIndexFileName), addressFileName = ToUtf8(kAddressFileName),
                      addressTableName = ToUtf8(kAddressTableFileName);
    edition = EditionOf(&*manifest);
    for (const ManifestFile& listed : manifest->files) {
        const std::filesystem::path path = FilePath(FromUtf8(listed.name));
        // A file open on a slot is taken as it was opened, so that files opened from two builds
        // (the folder replaced while it was being opened) do not pass for one.
        const auto open = std::find_if(slots_.begin(), slots_.end(), [&](const auto& f) { return f && f->path == path; });
        std::error_code ec;
        const std::uintmax_t size = open != slots_.end() ? (*open)->size : std::filesystem::file_size(path, ec);
        if (ec)
            throw DirectoryError(Name(path) + ": is missing, but the folder's manifest (MANIFEST.TXT) lists it: "
                                 + "the folder is not whole");
        if (size != listed.size)
            throw DirectoryError(Name(path) + ": holds " + std::to_string(size) + " bytes, but the folder's manifest "
                                 + "(MANIFEST.TXT) says " + std::to_string(listed.size)
                                 + ": the file is cut short, damaged or from another build");
        // A manifest of the builds before gives CRC-32, which is left to `ubin check`.
        if (manifest->SumKind() != ManifestSum::Xxh3) continue;
        if (listed.name == findIndexName) {
            findIndexListed = listed;
            continue;
        }
        if (listed.name == addressTableName) {
            addressTableListed = listed;
            continue;
        }
        // The address notes are read by a finder, not at start, and check their own checksum
        // when they are.
        if (listed.name == addressFileName) continue;
        std::uint64_t sum = 0;
        if (open != slots_.end() && (*open)->path != FilePath(kCityLinesFileName)) {
            auto verification = std::make_shared<Verification>();
            verification->expected = listed.sum;
            if (!listed.pieces.empty()) verification->pieces.emplace(Name(path), listed.size, listed.pieceBytes, listed.pieces);
            (*open)->verification = std::move(verification);
            continue;
        }
        if (open != slots_.end()) {
            sum = Xxh3OfSlot(**open);
        } else {
            OpenFile f{path, platform::OpenReadShared(path), 0, listed.size, nullptr, nullptr, nullptr};
            try {
                sum = Xxh3OfSlot(f);
            } catch (...) {
                platform::CloseFile(f.handle);
                throw;
            }
            platform::CloseFile(f.handle);
        }
        if (sum != listed.sum)
            throw DirectoryError(Name(path) + ": its checksum differs from the one the folder's manifest (MANIFEST.TXT) "
                                 + "gives: the file is damaged or from another build");
    }
}

void DirectoryState::Verify(const OpenFile& f, std::uint64_t offset, std::size_t size) const
{
    Verification& v = *f.verification;
    if (v.pieces) {
        v.pieces->Need(offset, size, [&](std::uint64_t begin, std::size_t length) { return Xxh3OfPiece(f, begin, length); });
        return;
    }
    std::call_once(v.done, [&] {
        try {
            if (Xxh3OfSlot(f) != v.expected)
                v.error = Name(f.path) + ": its checksum differs from the one the folder's manifest (MANIFEST.TXT) "
                          + "gives: the file is damaged or from another build";
        } catch (const DirectoryError& e) {
            v.error = e.what();
        }
    });
    if (!v.error.empty()) throw DirectoryError(v.error);
}

std::uint64_t DirectoryState::Xxh3OfPiece(const OpenFile& f, std::uint64_t begin, std::size_t length) const
{
    if (f.map) {
        const auto bytes = f.map->bytes();
        if (bytes.size() < begin + length) throw ChangedInPlace(f.path);
        const std::uint64_t sum = Xxh3Of(bytes.subspan(static_cast<std::size_t>(begin), length));
        // A file cut short under the mapping reads as zeros past its end.
        if (f.map->Changed()) throw ChangedInPlace(f.path);
        return sum;
    }
    std::vector<unsigned char> piece(length);
    if (platform::ReadAt(f.handle, begin, piece.data(), length, f.path) != length) throw ChangedInPlace(f.path);
    return Xxh3Of(piece);
}

std::uint64_t DirectoryState::Xxh3OfSlot(const OpenFile& f) const
{
    // Read through the file, not through its mapping: the check keeps none of it in memory.
    return Xxh3OfOpenFile(f.handle, f.size, f.path);
}

void DirectoryState::CheckEndsWithLine(int slot) const
{
    const OpenFile& f = SlotFile(slot);
    if (f.size == 0) return;
    char end[2] = {};
    if (f.size < 2 || Read(f, f.size - 2, end, 2) != 2 || end[0] != '\r' || end[1] != '\n')
        throw DirectoryError(Name(f.path) + ": does not end with a whole line (CR LF): the file is cut short or damaged");
}

void DirectoryState::CheckPosition(int fromSlot, std::int32_t n, int textSlot, std::int64_t position) const
{
    const OpenFile& text = SlotFile(textSlot);
    if (position >= 1 && static_cast<std::uint64_t>(position) <= text.size) {
        // A line starts at the first byte or after a line's LF. (Nothing read: the text file is
        // shorter than when it was opened, and reading the line names it.)
        if (position == 1) return;
        char before = '\n';
        const std::size_t got = Read(text, static_cast<std::uint64_t>(position - 2), &before, 1);
        ++ThisThreadReadCounts().fileReads;
        if (got == 0 || before == '\n') return;
        throw DirectoryError(Name(SlotFile(fromSlot).path) + ": record " + std::to_string(n) + " points at byte "
                             + std::to_string(position) + " of " + Name(text.path)
                             + ", which is not the start of a line: the file is damaged");
    }
    throw DirectoryError(Name(SlotFile(fromSlot).path) + ": record " + std::to_string(n) + " points at byte "
                         + std::to_string(position) + ", outside " + Name(text.path) + " ("
                         + std::to_string(text.size) + " bytes): the file is damaged");
}

void DirectoryState::StartUpControl()
{
    OpenIndexFiles();
    TakeCounts();
    CloseSlot(kSlotCityLines);
    OpenSlot(kSlotCityLines, kCityLinesFileName, 0);
    ReadPrefectureLines();
    CloseSlot(kSlotCityLines);
    OpenCityFiles();
    OpenEntryFiles();
    OpenOfficeFiles();
    CheckFilesAgree();
}

std::int32_t DirectoryState::WholeRecords(int slot) const
{
    const auto& f = SlotFile(slot);
    const std::uint64_t whole = f.size / static_cast<std::uint64_t>(f.recordLength);
    return static_cast<std::int32_t>(std::min<std::uint64_t>(whole, 2147483647u));
}

std::int32_t DirectoryState::RecordCount(int slot) const
{
    // Taken afresh from the open file's length at each search: an index rewritten while it
    // is open is searched over the records it holds now, not past its new end.
    const auto& f = SlotFile(slot);
    return RecordCountOf(platform::FileSize(f.handle, f.path), f.recordLength);
}

void DirectoryState::ReadRecord(int slot, std::int32_t n, unsigned char* out) const
{
    const auto& f = SlotFile(slot);
    if (n < 1)
        throw DirectoryError(Name(f.path) + ": record " + std::to_string(n) + " does not exist (records count from 1)");
    const std::uint64_t offset = static_cast<std::uint64_t>(n - 1) * static_cast<std::uint64_t>(f.recordLength);
    const auto len = static_cast<std::size_t>(f.recordLength);
    const std::size_t got = Read(f, offset, out, len);
    ++ThisThreadReadCounts().fileReads;
    if (got == 0)
        throw DirectoryError(Name(f.path) + ": record " + std::to_string(n) + " lies beyond the end of the file");
    if (got != len)
        throw DirectoryError(Name(f.path) + ": record " + std::to_string(n) + " is cut short by the end of the file");
    ++ThisThreadReadCounts().records;
}

IndexRecord DirectoryState::ReadIndexRecord(int slot, std::int32_t n) const
{
    std::array<char16_t, kKeyBytes> key;
    IndexRecord r;
    r.entryNumber = ReadIndexKey(slot, n, key);
    r.key.assign(key.begin(), key.end());
    return r;
}

std::int32_t DirectoryState::ReadIndexKey(int slot, std::int32_t n, std::array<char16_t, kKeyBytes>& key) const
{
    unsigned char buf[kIndexRecordLength];
    ReadRecord(slot, n, buf);
    --ThisThreadReadCounts().records; // counted once, as it is decoded
    return DecodeIndexKey(slot, n, buf, key);
}

std::int32_t DirectoryState::DecodeIndexKey(int slot, std::int32_t n, const unsigned char* record,
                                            std::array<char16_t, kKeyBytes>& key) const
{
    const std::string_view keyBytes(reinterpret_cast<const char*>(record), kKeyBytes);
    std::size_t length = 0;
    if (!DecodeCp932Into(keyBytes, key.data(), key.size(), length))
        throw DirectoryError(Name(SlotFile(slot).path) + ": record " + std::to_string(n)
                             + ": the key is not code page 932 text");
    std::fill(key.begin() + static_cast<std::ptrdiff_t>(length), key.end(), u' ');
    ++ThisThreadReadCounts().records;
    return ReadInt32(record + kKeyBytes);
}

void DirectoryState::ReadRecordBlock(int slot, std::int32_t first, std::int32_t count, unsigned char* out) const
{
    const auto& f = SlotFile(slot);
    if (first < 1)
        throw DirectoryError(Name(f.path) + ": record " + std::to_string(first) + " does not exist (records count from 1)");
    if (count < 1) return;
    const auto recordLength = static_cast<std::size_t>(f.recordLength);
    const std::uint64_t offset = static_cast<std::uint64_t>(first - 1) * recordLength;
    const std::size_t len = static_cast<std::size_t>(count) * recordLength;
    const std::size_t got = Read(f, offset, out, len);
    ++ThisThreadReadCounts().fileReads;
    if (got != len) {
        // The first record that did not come whole.
        const std::string n = std::to_string(first + static_cast<std::int32_t>(got / recordLength));
        if (got % recordLength == 0)
            throw DirectoryError(Name(f.path) + ": record " + n + " lies beyond the end of the file");
        throw DirectoryError(Name(f.path) + ": record " + n + " is cut short by the end of the file");
    }
}

std::vector<IndexRecord> DirectoryState::ReadIndexRecords(int slot, std::int32_t first, std::int32_t count) const
{
    std::vector<IndexRecord> out;
    constexpr std::int32_t kBlock = 16384 / kIndexRecordLength;
    unsigned char block[kBlock * kIndexRecordLength];
    std::array<char16_t, kKeyBytes> key;
    const std::int64_t available = static_cast<std::int64_t>(WholeRecords(slot)) - first + 1;
    if (first < 1 || count < 1 || available < 1) return out;
    count = static_cast<std::int32_t>(std::min<std::int64_t>(count, available));
    out.reserve(static_cast<std::size_t>(count));
    for (std::int32_t done = 0; done < count;) {
        const std::int32_t n = std::min(kBlock, count - done);
        ReadRecordBlock(slot, first + done, n, block);
        for (std::int32_t i = 0; i < n; ++i) {
            const std::int32_t entry = DecodeIndexKey(slot, first + done + i, block + i * kIndexRecordLength, key);
            out.push_back({std::u16string(key.begin(), key.end()), entry});
        }
        done += n;
    }
    return out;
}

std::vector<std::optional<std::int32_t>> DirectoryState::ReadCityPositions(std::int32_t first, std::int32_t count) const
{
    std::vector<std::optional<std::int32_t>> out;
    const std::int64_t available = static_cast<std::int64_t>(WholeRecords(kSlotCityTable)) - first + 1;
    if (first < 1 || count < 1 || available < 1) return out;
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, available));
    std::vector<unsigned char> bytes(static_cast<std::size_t>(n) * kCityRecordLength);
    ReadRecordBlock(kSlotCityTable, first, n, bytes.data());
    ThisThreadReadCounts().records += static_cast<std::uint64_t>(n);
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t position = ReadInt32(bytes.data() + static_cast<std::size_t>(i) * kCityRecordLength);
        out.push_back(position != 0 ? std::optional<std::int32_t>(position) : std::nullopt);
    }
    return out;
}

const KeySample& DirectoryState::IndexSample(int slot) const
{
    const OpenFile& f = SlotFile(slot);
    std::call_once(f.sample->taken, [&] { f.sample->sample = TakeKeySample(*this, slot); });
    return *f.sample->sample;
}

PointRecord DirectoryState::ReadPointRecord(std::int32_t n) const
{
    unsigned char buf[kPointRecordLength];
    ReadRecord(kSlotPoints, n, buf);
    return PointRecord{std::string(reinterpret_cast<const char*>(buf), 7), ReadInt32(buf + 7), ReadInt32(buf + 11)};
}

std::optional<std::int32_t> DirectoryState::ReadCityPosition(std::int32_t code) const
{
    unsigned char buf[kCityRecordLength];
    ReadRecord(kSlotCityTable, code, buf);
    const std::int32_t position = ReadInt32(buf);
    if (position == 0) return std::nullopt;
    if (IsOpen(kSlotCityLines)) CheckPosition(kSlotCityTable, code, kSlotCityLines, position);
    return position;
}

std::u16string DirectoryState::ReadLineAt(int slot, std::int64_t position) const
{
    const auto& f = SlotFile(slot);
    if (position < 1 || static_cast<std::uint64_t>(position) > f.size)
        throw DirectoryError(Name(f.path) + ": line position " + std::to_string(position)
                             + " is outside the file (" + std::to_string(f.size) + " bytes)");
    // A line holds at most 32,767 characters of at most two bytes each, then CR LF.
    constexpr std::size_t kMaxLineBytes = kMaxTextLength * 2 + 2;
    std::string bytes;
    char chunk[256];
    std::uint64_t offset = static_cast<std::uint64_t>(position - 1);
    std::size_t end = std::string::npos;
    while (end == std::string::npos) {
        const std::size_t n = Read(f, offset, chunk, sizeof chunk);
        ++ThisThreadReadCounts().fileReads;
        if (n == 0) break; // the last line may lack its CR LF
        const std::size_t searchFrom = bytes.empty() ? 0 : bytes.size() - 1;
        bytes.append(chunk, n);
        offset += n;
        const std::size_t crlf = bytes.find("\r\n", searchFrom);
        if (crlf != std::string::npos) end = crlf;
        else if (bytes.size() > kMaxLineBytes) break;
    }
    if (bytes.empty())
        throw DirectoryError(Name(f.path) + ": the file ends before byte " + std::to_string(position)
                             + " (it is shorter than when it was opened)");
    if (end == std::string::npos && bytes.size() > kMaxLineBytes)
        throw DirectoryError(Name(f.path) + ": the line at byte " + std::to_string(position)
                             + " is longer than 32,767 characters");
    if (end != std::string::npos) bytes.resize(end);
    ++ThisThreadReadCounts().records;
    std::u16string line;
    const std::size_t bad = TryDecodeCp932(bytes, line);
    if (bad < bytes.size())
        throw DirectoryError(Name(f.path) + ": byte " + std::to_string(position + static_cast<std::int64_t>(bad))
                             + " is not code page 932 text");
    if (line.size() > kMaxTextLength)
        throw DirectoryError(Name(f.path) + ": the line at byte " + std::to_string(position)
                             + " is longer than 32,767 characters");
    return line;
}

void DirectoryState::ReadFieldsAt(int slot, std::int64_t position, std::vector<std::u16string>& fields) const
{
    if (fields.empty()) fields.resize(1);
    fields[0] = ReadLineAt(slot, position);
    try {
        SplitCsvLine(fields);
    } catch (const FieldCountError& e) {
        throw DirectoryError(Name(SlotFile(slot).path) + ": the line at byte " + std::to_string(position) + ": "
                             + e.what());
    }
}

std::string DirectoryState::ReadWholeFile(int slot, std::uint64_t maxBytes) const
{
    const OpenFile& f = SlotFile(slot);
    if (f.size > maxBytes)
        throw DirectoryError(Name(f.path) + ": holds " + std::to_string(f.size) + " bytes, more than such a file of a "
                             + "directory holds (" + std::to_string(maxBytes) + "): the file is damaged");
    std::string bytes(static_cast<std::size_t>(f.size), '\0');
    for (std::uint64_t offset = 0; offset < f.size;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(std::uint64_t{1} << 20, f.size - offset));
        const std::size_t got = Read(f, offset, bytes.data() + offset, want);
        ++ThisThreadReadCounts().fileReads;
        if (got == 0)
            throw DirectoryError(Name(f.path) + ": the file ends at byte " + std::to_string(offset)
                                 + " (it is shorter than when it was opened)");
        offset += got;
    }
    return bytes;
}

void DirectoryState::ReadPostalEntry(std::int32_t n, std::vector<std::u16string>& fields) const
{
    const PointRecord p = ReadPointRecord(n);
    CheckPosition(kSlotPoints, n, kSlotLines, p.linePosition);
    ReadFieldsAt(kSlotLines, p.linePosition, fields);
}

DirectoryLine DirectoryState::ReadPostalEntry(std::int32_t n) const
{
    std::vector<std::u16string> f(kDirectoryLineFields + 1);
    ReadPostalEntry(n, f);
    return DirectoryLine{f[1], f[2], f[3], f[4], f[5], f[6]};
}

} // namespace ubin
