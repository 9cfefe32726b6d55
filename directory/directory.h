#pragma once
// The directory files, held open on numbered slots, and the tables read at start-up.
// One DirectoryState belongs to one program, or to the controls of one thread. Opening and
// closing change it; once open, every read is a positioned read on a file opened for reading,
// so any number of threads may read through one state at the same time.
#include "base/errors.h"
#include "base/file.h"
#include "directory/edition.h"
#include "directory/manifest.h"
#include "directory/sections.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ubin {

// Slot numbers. Search modes 1, 3 and 4 use their own number as the slot of their index.
enum Slot : std::int16_t {
    kSlotIndex1 = 1, kSlotIndex2 = 2, kSlotIndex3 = 3, kSlotIndex4 = 4, kSlotIndex5 = 5,
    kSlotSettings = 10,
    kSlotPoints = 30, kSlotLines = 31,
    kSlotCityTable = 40, kSlotCityLines = 41,
    kSlotOfficeIndex = 50, kSlotOfficeLines = 51, // only when the directory has offices
};

inline constexpr int kIndexRecordLength = 12;
inline constexpr int kPointRecordLength = 15;
inline constexpr int kCityRecordLength = 4;
inline constexpr int kKeyBytes = 8;
inline constexpr int kPrefectureCount = 47;
// The largest code the city table can hold: prefecture 47, city 999.
inline constexpr std::int32_t kMaxCityCode = 47999;

// Field counts of the lines, as their readers hold them.
inline constexpr int kDirectoryLineFields = 6;
inline constexpr int kAreaLineFields = 3;
inline constexpr int kOfficeLineFields = 13;

// File names inside DataFolder.
extern const std::u16string kIndexFileNames[5];   // UIND1.IDX .. UIND5.IDX
extern const std::u16string kPointFileName;       // 郵便Point.POI
extern const std::u16string kLinesFileName;       // 郵便番号.CSV
extern const std::u16string kCityTableFileName;   // TOSHI1.TDB
extern const std::u16string kCityLinesFileName;   // TOSHI2.TDB
// The files a directory may also hold: the offices with a postal code of their own and the
// free-text search index. A directory without them works as before.
extern const std::u16string kOfficeLinesFileName; // 事業所.CSV
extern const std::u16string kOfficeIndexFileName; // 事業所.IDX
extern const std::u16string kFindIndexFileName;   // 検索.IDX

struct IndexRecord {
    std::u16string key;        // 8 bytes decoded and blank-padded to 8 characters
    std::int32_t entryNumber;  // record number in 郵便Point.POI
};

struct PointRecord {
    std::string pointText;     // 7 bytes, not read by the search
    std::int32_t pointNumber;  // not read by the search
    std::int32_t linePosition; // 1-based byte position in 郵便番号.CSV
};

// The six fields of a line of 郵便番号.CSV, by name.
struct DirectoryLine {
    std::u16string postalCode, cityCode, townKana, townName, detail, detailFlag;
};

// The error of a file that changed under a program that had it open: someone copied another
// file over it instead of replacing the folder.
DirectoryError ChangedInPlace(const std::filesystem::path& file);

// A 1-based record count: file size / record length, rounded half to even.
std::int32_t RecordCountOf(std::uint64_t fileSize, int recordLength);

// Records and lines read, and the calls to the file system that read them, by the calling
// thread (for the benchmarks and the tests of how much a search reads). Each thread counts
// its own, so readers on several threads share nothing.
struct ReadCounts {
    std::uint64_t records = 0;
    std::uint64_t fileReads = 0;
};
ReadCounts& ThisThreadReadCounts();

struct KeySample; // keysearch.h

class DirectoryState {
public:
    DirectoryState() = default;
    ~DirectoryState();
    DirectoryState(const DirectoryState&) = delete;
    DirectoryState& operator=(const DirectoryState&) = delete;

    // The folder, exactly as stored in the settings: file names are appended to it directly.
    std::u16string dataFolder;
    std::array<std::u16string, kPrefectureCount + 1> prefNames; // index 0 stays empty
    std::array<std::u16string, kPrefectureCount + 1> prefKana;
    std::int32_t entryCount = 0;
    std::int32_t cityTableSize = 0;
    // The build number of the folder's manifest when it was opened; empty without one.
    std::string manifestBuild;
    // What the manifest gives for 検索.IDX (its XXH3, and its pieces where ubin-build wrote
    // them), which is checked when the index is mapped (at the first search), not at start;
    // none without a manifest of version 2.
    std::optional<ManifestFile> findIndexListed;
    // The same for the address tables (住所.IDX), checked when the finder first reads them.
    std::optional<ManifestFile> addressTableListed;
    // The edition of Japan Post's data the manifest records; unknown without one.
    DirectoryEdition edition;

    // Marubeta's start-up after the settings are read: the counts, the 47 prefecture lines,
    // then every file opened for the rest of the run, then what the files promise each other
    // (CheckFilesAgree).
    void StartUp();
    // The control's variant: the index files first, slot 41 closed before and after the
    // prefecture read, every open closing its slot first.
    void StartUpControl();

    // What the open files promise each other, so that a file cut short, damaged or left from
    // another build is named at start instead of answering wrong: each index holds 12 bytes per
    // entry of the point file, the point file whole records whose last line lies in
    // 郵便番号.CSV, the last city line of TOSHI1.TDB lies in TOSHI2.TDB, the text files end
    // with a whole line, the office index whole records whose
    // last line lies in 事業所.CSV; and, when the folder has a manifest, every file listed has
    // the size and checksum the manifest gives (a manifest of the builds before, with CRC-32,
    // has its sizes compared). A mismatch is a DirectoryError naming the file. The checksum of
    // TOSHI2.TDB, whose prefecture lines start-up keeps, and of a listed file no slot holds is
    // compared now; that of a file open on a slot at its first read after start-up (so the
    // window's start reads no more than before, and a file no lookup reads costs nothing); that
    // of 検索.IDX when it is mapped.
    void CheckFilesAgree();

    void OpenIndexFiles();
    void OpenCityFiles();
    void OpenEntryFiles();
    // 事業所.IDX on slot 50 and 事業所.CSV on slot 51 when the directory has them; a directory
    // without either has no offices, one with only one of them is damaged.
    void OpenOfficeFiles();
    void CloseSlot(int slot);
    void CloseAll();
    // Exchanges everything with another state: a program that opened a new build in a state of
    // its own makes it its own in one step (and the other closes the old files when it goes).
    void Swap(DirectoryState& other) noexcept;
    bool IsOpen(int slot) const;

    // Maps the files that lookups read by position (the point file, the two text files, the
    // city table, the office files) into memory, so that a read is a copy instead of a call to
    // the system: for programs that answer many lookups (the web service, ubin find). The
    // index files stay read by position. A mapped file must not be rewritten in place while it
    // is mapped; ubin-build never does (it replaces the folder).
    void MapFiles();
    // Whether MapFiles mapped the files: a program that maps them wants the finder's files
    // mapped too; one that does not, read into memory.
    bool IsMapped() const { return mapped_; }
    // DirectoryError naming a mapped file that was cut short under its mapping since it was
    // opened (platform::MappedFile::Changed): an answer read from it is refused, never given.
    void CheckUnchanged() const;
    bool Changed() const;

    // DataFolder followed directly by the name; on POSIX the text is the UTF-8 file name.
    std::filesystem::path FilePath(const std::u16string& name) const;

    // Record count of the file open on a slot of fixed records.
    std::int32_t RecordCount(int slot) const;
    // The records a slot's file holds whole, by its length at opening (RecordCount rounds a
    // cut-short last record up).
    std::int32_t WholeRecords(int slot) const;

    IndexRecord ReadIndexRecord(int slot, std::int32_t n) const;
    // The same record with its key decoded into a fixed buffer (8 characters, blank-padded),
    // without allocating; returns its EntryNumber. The key search reads records this way.
    std::int32_t ReadIndexKey(int slot, std::int32_t n, std::array<char16_t, kKeyBytes>& key) const;
    // Records first .. first + count - 1 of a slot of fixed records, read with one call into
    // `out` (count times the record length). A read costs the same for one record as for a few
    // kilobytes, so the key search reads the last stretch of its range this way. The records
    // count as read only as they are decoded (DecodeIndexKey).
    void ReadRecordBlock(int slot, std::int32_t first, std::int32_t count, unsigned char* out) const;
    // Decodes index record n from its 12 bytes as read; returns its EntryNumber.
    std::int32_t DecodeIndexKey(int slot, std::int32_t n, const unsigned char* record,
                                std::array<char16_t, kKeyBytes>& key) const;
    PointRecord ReadPointRecord(std::int32_t n) const;
    // City table record `code`: the position of its line in TOSHI2.TDB; none when the record is
    // 0 (no such city).
    std::optional<std::int32_t> ReadCityPosition(std::int32_t code) const;
    // The text line at a 1-based byte position of a text slot (31 or 41), without its CR LF.
    std::u16string ReadLineAt(int slot, std::int64_t position) const;
    // Reads the line at `position` into fields[0] and splits it into fields[1..]; a line with
    // more fields than the array holds is a DirectoryError naming the file and position.
    void ReadFieldsAt(int slot, std::int64_t position, std::vector<std::u16string>& fields) const;

    // Records first .. first + count - 1 of an index slot, read in blocks; the run stops
    // early at the end of the file.
    std::vector<IndexRecord> ReadIndexRecords(int slot, std::int32_t first, std::int32_t count) const;
    // City table records first .. first + count - 1 (clipped to the whole records the file
    // holds), read with one call: each ReadCityPosition's answer.
    std::vector<std::optional<std::int32_t>> ReadCityPositions(std::int32_t first, std::int32_t count) const;

    // The keys a search over a whole index tests first, taken from the file on first use
    // (keysearch.h). Safe to call from several threads.
    const KeySample& IndexSample(int slot) const;

    // A line position read from `fromSlot` (its record n) must lie in the text file on
    // `textSlot` at the start of a line; else the file that holds the position is damaged.
    void CheckPosition(int fromSlot, std::int32_t n, int textSlot, std::int64_t position) const;

    // The whole file on a slot, as long as it was at opening and checked as every read is (its
    // checksum, when the manifest gives one, before the first byte is taken). One longer than
    // maxBytes is refused before a byte is read.
    std::string ReadWholeFile(int slot, std::uint64_t maxBytes) const;

    // Postal entry n: record n of 郵便Point.POI, then its line of 郵便番号.CSV split into
    // fields[1..6] (the array must hold 7 elements).
    void ReadPostalEntry(std::int32_t n, std::vector<std::u16string>& fields) const;
    DirectoryLine ReadPostalEntry(std::int32_t n) const;

private:
    struct SampleHolder {
        std::once_flag taken;
        std::unique_ptr<KeySample> sample;
    };
    // The checksum a file must have, compared before the first read that answers from it: the
    // whole file once, or, when the manifest gives its pieces, each piece the first time a read
    // takes bytes of it.
    struct Verification {
        std::uint64_t expected = 0;
        std::once_flag done;
        std::string error; // empty: the file is the one the manifest lists
        std::optional<PieceChecks> pieces; // none: checked whole
    };
    struct OpenFile {
        std::filesystem::path path;
        std::intptr_t handle;
        int recordLength; // 0 for a text file
        std::uint64_t size;
        std::shared_ptr<SampleHolder> sample;
        std::shared_ptr<platform::MappedFile> map; // none: read by position
        std::shared_ptr<Verification> verification; // none: nothing to compare
    };
    // Compares the bytes offset .. offset + size of a file with their checksum the first time
    // they are read (DirectoryError naming the file when they differ, then and at every later
    // read of them).
    void Verify(const OpenFile& f, std::uint64_t offset, std::size_t size) const;
    // The XXH3 of bytes of a file as a read takes them (its mapping, or its handle).
    std::uint64_t Xxh3OfPiece(const OpenFile& f, std::uint64_t begin, std::size_t length) const;
    // Up to size bytes at a 0-based offset of a slot's file; the count read (0 at the end).
    std::size_t Read(const OpenFile& f, std::uint64_t offset, void* out, std::size_t size) const;
    static constexpr int kSlotCount = kSlotOfficeLines + 1;

    void OpenSlot(int slot, const std::u16string& name, int recordLength);
    const OpenFile& SlotFile(int slot) const;
    void ReadRecord(int slot, std::int32_t n, unsigned char* out) const;
    std::uint64_t SizeOf(const std::u16string& name) const;
    void TakeCounts();
    // The XXH3 of a slot's file as opened, read a block at a time.
    std::uint64_t Xxh3OfSlot(const OpenFile& f) const;
    // The file on a text slot ends with CR LF (a file cut short ends inside a line).
    void CheckEndsWithLine(int slot) const;
    void ReadPrefectureLines();

    bool mapped_ = false;
    // Indexed by slot number; a slot without a file holds none.
    std::array<std::optional<OpenFile>, kSlotCount> slots_;
};

} // namespace ubin
