#include "base/checksum.h"
#include "base/cp932.h"
#include "base/errors.h"
#include "base/path_text.h"
#include "base/text.h"
#include "directory/directory.h"
#include "directory/manifest.h"
#include "tests/support/mini_directory.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace ubin;
using ubin::test::MiniDirectory;
using ubin::test::FileName;
using ubin::test::TempDir;

namespace {

MiniDirectory Hiroshima()
{
    MiniDirectory d;
    d.entries = {
        {"7300013", "34101", "ﾊｯﾁｮｳﾎﾞﾘ", "八丁堀", ""},
        {"7300014", "34101", "ｶﾐﾉﾎﾞﾘﾏﾁ", "上幟町", ""},
        {"1040061", "13102", "ｷﾞﾝｻﾞ", "銀座", ""},
    };
    d.cities = {{34101, "34101", "広島市中区", "ﾋﾛｼﾏｼﾅｶｸ"}, {13102, "13102", "中央区", "ﾁｭｳｵｳｸ"}, {1101, "1101", "中央区", "ﾁｭｳｵｳｸ"}};
    d.prefNames.assign(47, "");
    d.prefKana.assign(47, "");
    for (int p = 1; p <= 47; ++p) {
        d.prefNames[p - 1] = "県" + std::to_string(p);
        d.prefKana[p - 1] = "ｹﾝ" + std::to_string(p);
    }
    d.prefNames[33] = "広島県";
    d.prefKana[33] = "ﾋﾛｼﾏｹﾝ";
    return d;
}

// Opens every file of a folder for reading, without the start-up's checks of what the files
// promise each other: for tests of what a read does with a damaged file.
void OpenForReading(DirectoryState& dir, const TempDir& t)
{
    dir.dataFolder = t.DataFolder();
    dir.OpenIndexFiles();
    dir.OpenCityFiles();
    dir.OpenEntryFiles();
}

// The start-up's error, or "" when it started.
std::string StartUpError(const TempDir& t)
{
    DirectoryState dir;
    dir.dataFolder = t.DataFolder();
    try {
        dir.StartUp();
    } catch (const DirectoryError& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(Directory, StartUpReadsTablesAndOpensEverySlot)
{
    TempDir t;
    Hiroshima().Write(t.path());
    DirectoryState dir;
    dir.dataFolder = t.DataFolder();
    dir.StartUp();
    EXPECT_EQ(dir.cityTableSize, 47999);
    EXPECT_EQ(dir.entryCount, 3);
    EXPECT_EQ(dir.prefNames[34], U16("広島県"));
    EXPECT_EQ(dir.prefKana[34], U16("ﾋﾛｼﾏｹﾝ"));
    EXPECT_EQ(dir.prefNames[0], u"");
    for (int slot : {1, 2, 3, 4, 5, 30, 31, 40, 41}) EXPECT_TRUE(dir.IsOpen(slot)) << slot;
    EXPECT_FALSE(dir.IsOpen(10));

    DirectoryState control;
    control.dataFolder = t.DataFolder();
    control.StartUpControl();
    control.StartUpControl(); // a second control reopens the same slots
    EXPECT_EQ(control.entryCount, 3);
    EXPECT_TRUE(control.IsOpen(41));
}

TEST(Directory, PostalEntryAndCityAreReadThroughTheirRecords)
{
    TempDir t;
    Hiroshima().Write(t.path());
    DirectoryState dir;
    dir.dataFolder = t.DataFolder();
    dir.StartUp();

    const DirectoryLine e = dir.ReadPostalEntry(2);
    EXPECT_EQ(e.postalCode, u"7300014");
    EXPECT_EQ(e.cityCode, u"34101");
    EXPECT_EQ(e.townName, U16("上幟町"));
    EXPECT_EQ(e.detailFlag, u"0");

    const std::optional<std::int32_t> pos = dir.ReadCityPosition(34101);
    ASSERT_TRUE(pos);
    ASSERT_GT(*pos, 0);
    std::vector<std::u16string> f(4);
    dir.ReadFieldsAt(kSlotCityLines, *pos, f);
    EXPECT_EQ(f[1], u"34101");
    EXPECT_EQ(f[2], U16("広島市中区"));
    EXPECT_EQ(dir.ReadCityPosition(34102), std::nullopt); // no such city, and no line is read
    EXPECT_EQ(dir.ReadIndexRecord(1, 1).key, u"1040061 "); // the index is in key order
    EXPECT_EQ(dir.RecordCount(1), 3);
}

TEST(Directory, RecordCountsRoundHalfToEven)
{
    EXPECT_EQ(RecordCountOf(191996, 4), 47999);
    EXPECT_EQ(RecordCountOf(10, 4), 2); // 2.5
    EXPECT_EQ(RecordCountOf(11, 4), 3); // 2.75
    EXPECT_EQ(RecordCountOf(14, 4), 4); // 3.5
    EXPECT_EQ(RecordCountOf(6, 12), 0); // 0.5
    EXPECT_EQ(RecordCountOf(18, 12), 2); // 1.5
}

TEST(Directory, PrefectureNameIsFieldTwoWhateverFieldOneHolds)
{
    TempDir t;
    MiniDirectory d = Hiroshima();
    d.Write(t.path());
    // Rewrite line 34 with a nonsense code.
    std::string toshi2 = ubin::test::ReadBytes(t.path() / FileName(kCityLinesFileName));
    const std::string from = EncodeCp932(U16("34,広島県"));
    toshi2.replace(toshi2.find(from), from.size(), EncodeCp932(U16("xx,広島県")));
    ubin::test::WriteBytes(t.path() / FileName(kCityLinesFileName), toshi2);
    DirectoryState dir;
    dir.dataFolder = t.DataFolder();
    dir.StartUp();
    EXPECT_EQ(dir.prefNames[34], U16("広島県"));
}

TEST(Directory, MissingShortAndDamagedFilesAreNamedErrors)
{
    {
        TempDir t;
        Hiroshima().Write(t.path());
        std::filesystem::remove(t.path() / "UIND3.IDX");
        const std::string msg = StartUpError(t);
        EXPECT_NE(msg.find("UIND3.IDX"), std::string::npos) << msg;
        EXPECT_NE(msg.find("not found"), std::string::npos) << msg;
        EXPECT_FALSE(std::filesystem::exists(t.path() / "UIND3.IDX")); // the data folder is never written
    }
    {
        TempDir t;
        Hiroshima().Write(t.path());
        std::filesystem::remove(t.path() / FileName(kPointFileName));
        EXPECT_NE(StartUpError(t).find("Point.POI"), std::string::npos);
    }
    {
        TempDir t;
        Hiroshima().Write(t.path());
        ubin::test::WriteBytes(t.path() / "TOSHI2.TDB", EncodeCp932(U16("1,北海道,ﾎｯｶｲﾄﾞｳ\r\n2,青森県,ｱｵﾓﾘｹﾝ\r\n")));
        const std::string msg = StartUpError(t);
        EXPECT_NE(msg.find("TOSHI2.TDB"), std::string::npos) << msg;
        EXPECT_NE(msg.find("47"), std::string::npos) << msg;
    }
    {
        TempDir t;
        Hiroshima().Write(t.path());
        ubin::test::WriteBytes(t.path() / "TOSHI2.TDB", "1,a,b,c\r\n");
        const std::string msg = StartUpError(t);
        EXPECT_NE(msg.find("line 1"), std::string::npos) << msg;
    }
    {
        TempDir t;
        Hiroshima().Write(t.path());
        ubin::test::WriteBytes(t.path() / "TOSHI2.TDB", "1,\x80\r\n");
        const std::string msg = StartUpError(t);
        EXPECT_NE(msg.find("byte 3"), std::string::npos) << msg;
    }
}

TEST(Directory, ReadsOutsideTheFilesAreErrorsNotGarbage)
{
    TempDir t;
    Hiroshima().Write(t.path());
    DirectoryState dir;
    dir.dataFolder = t.DataFolder();
    dir.StartUp();
    EXPECT_THROW(dir.ReadIndexRecord(1, 4), DirectoryError);
    EXPECT_THROW(dir.ReadIndexRecord(1, 0), DirectoryError);
    EXPECT_THROW(dir.ReadPointRecord(-1), DirectoryError);
    EXPECT_THROW(dir.ReadCityPosition(48000), DirectoryError);
    EXPECT_THROW(dir.ReadLineAt(kSlotLines, 100000), DirectoryError);
    EXPECT_THROW(dir.ReadLineAt(kSlotLines, 0), DirectoryError);

    // A line with seven fields where six are held names the file and the position.
    std::vector<std::u16string> f(7);
    ubin::test::WriteBytes(t.path() / FileName(kLinesFileName), "1,2,3,4,5,6,7\r\n");
    DirectoryState again;
    OpenForReading(again, t);
    try {
        again.ReadPostalEntry(1, f);
        FAIL();
    } catch (const DirectoryError& e) {
        EXPECT_NE(std::string(e.what()).find("CSV"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("byte 1"), std::string::npos);
    }
}

TEST(Directory, LastLineWithoutLineEndAndOverlongLines)
{
    TempDir t;
    Hiroshima().Write(t.path());
    ubin::test::WriteBytes(t.path() / FileName(kLinesFileName), "a,b\r\nc,d");
    DirectoryState dir;
    OpenForReading(dir, t);
    EXPECT_EQ(dir.ReadLineAt(kSlotLines, 1), u"a,b");
    EXPECT_EQ(dir.ReadLineAt(kSlotLines, 6), u"c,d");

    ubin::test::WriteBytes(t.path() / FileName(kLinesFileName), std::string(40000, 'x') + "\r\n");
    DirectoryState longLines;
    OpenForReading(longLines, t);
    try {
        longLines.ReadLineAt(kSlotLines, 1);
        FAIL() << "read a line of 40,000 characters";
    } catch (const DirectoryError& e) {
        // Named for what it is, not as bytes that are not code page 932.
        EXPECT_NE(std::string(e.what()).find("longer than 32,767 characters"), std::string::npos) << e.what();
    }
    // Double-byte characters cut in half at the reading limit are still a line too long.
    std::string kanji = "a";
    for (int i = 0; i < 40000; ++i) kanji += "\x88\x9F";
    ubin::test::WriteBytes(t.path() / FileName(kLinesFileName), kanji + "\r\n");
    DirectoryState longKanji;
    OpenForReading(longKanji, t);
    try {
        longKanji.ReadLineAt(kSlotLines, 1);
        FAIL() << "read a line of 40,000 kanji";
    } catch (const DirectoryError& e) {
        EXPECT_NE(std::string(e.what()).find("longer than 32,767 characters"), std::string::npos) << e.what();
    }
}

TEST(Directory, AShortRecordAtTheEndIsAnError)
{
    TempDir t;
    Hiroshima().Write(t.path());
    // 3 records and 7 bytes: the count rounds up to 4, and record 4 is cut short.
    std::string idx = ubin::test::ReadBytes(t.path() / "UIND1.IDX");
    ubin::test::WriteBytes(t.path() / "UIND1.IDX", idx + "1234567");
    DirectoryState dir;
    OpenForReading(dir, t);
    EXPECT_EQ(dir.RecordCount(1), 4);
    EXPECT_THROW(dir.ReadIndexRecord(1, 4), DirectoryError);
}

TEST(Directory, FilesCutShortWhileOpenAreErrorsAndCountsFollowTheFile)
{
    TempDir t;
    Hiroshima().Write(t.path());
    DirectoryState dir;
    dir.dataFolder = t.DataFolder();
    dir.StartUp();
    std::filesystem::resize_file(t.path() / FileName(kLinesFileName), 5);
    EXPECT_THROW(dir.ReadPostalEntry(3), DirectoryError);
    std::filesystem::resize_file(t.path() / "UIND1.IDX", 12);
    EXPECT_NO_THROW(dir.ReadIndexRecord(1, 1));
    // The count follows the file as it is now; a read past its end names the file instead
    // of showing garbage.
    EXPECT_EQ(dir.RecordCount(1), 1);
    try {
        dir.ReadIndexRecord(1, 2);
        FAIL() << "a record beyond the end was read";
    } catch (const DirectoryError& e) {
        EXPECT_NE(std::string(e.what()).find("UIND1.IDX"), std::string::npos);
    }
}

TEST(DirectoryStartUp, FilesThatDoNotAgreeAreNamed)
{
    {
        // An index cut at a record boundary: it would answer "not found".
        TempDir t;
        Hiroshima().Write(t.path());
        ubin::test::WriteBytes(t.path() / "UIND1.IDX", "");
        const std::string msg = StartUpError(t);
        EXPECT_NE(msg.find("UIND1.IDX: holds 0 records"), std::string::npos) << msg;
        EXPECT_NE(msg.find("3 entries"), std::string::npos) << msg;
    }
    {
        TempDir t;
        Hiroshima().Write(t.path());
        const std::string idx = ubin::test::ReadBytes(t.path() / "UIND3.IDX");
        ubin::test::WriteBytes(t.path() / "UIND3.IDX", idx.substr(0, 24));
        EXPECT_NE(StartUpError(t).find("UIND3.IDX: holds 2 records"), std::string::npos);
    }
    {
        // A point file of 0xFF bytes blames itself, not the lines it points at.
        TempDir t;
        Hiroshima().Write(t.path());
        ubin::test::WriteBytes(t / "郵便Point.POI", std::string(45, '\xFF'));
        const std::string msg = StartUpError(t);
        EXPECT_NE(msg.find("郵便Point.POI: record 3 points at byte -1, outside"), std::string::npos) << msg;
    }
    {
        TempDir t;
        Hiroshima().Write(t.path());
        ubin::test::WriteBytes(t / "郵便Point.POI", std::string(44, '\0'));
        EXPECT_NE(StartUpError(t).find("not a whole number of 15-byte records"), std::string::npos);
    }
}

TEST(DirectoryStartUp, ACityTableRecordOutsideTheCityLinesBlamesTheTable)
{
    TempDir t;
    Hiroshima().Write(t.path());
    std::string table = ubin::test::ReadBytes(t.path() / "TOSHI1.TDB");
    table.replace((34101 - 1) * 4, 4, "\xFF\xFF\xFF\x7F");
    ubin::test::WriteBytes(t.path() / "TOSHI1.TDB", table);
    // Start-up looks at the last city line the table points at: this one.
    const std::string msg = StartUpError(t);
    EXPECT_NE(msg.find("TOSHI1.TDB: record 34101 points at byte 2147483647"), std::string::npos) << msg;
    // A read of the record names the table as well.
    DirectoryState dir;
    OpenForReading(dir, t);
    try {
        dir.ReadCityPosition(34101);
        FAIL() << "a position outside TOSHI2.TDB was taken";
    } catch (const DirectoryError& e) {
        EXPECT_NE(std::string(e.what()).find("TOSHI1.TDB: record 34101 points at byte 2147483647"), std::string::npos)
            << e.what();
    }
}

TEST(DirectoryStartUp, TheManifestsSizesAreCompared)
{
    TempDir t;
    Hiroshima().Write(t.path());
    const std::string lines = ubin::test::ReadBytes(t / "郵便番号.CSV");
    ubin::test::WriteBytes(t.path() / "MANIFEST.TXT", "ubin-build manifest 1\nbuild 42\n郵便番号.CSV\t"
                                                         + std::to_string(lines.size() + 1) + "\t0\n");
    const std::string msg = StartUpError(t);
    EXPECT_NE(msg.find("郵便番号.CSV: holds " + std::to_string(lines.size()) + " bytes, but the folder's manifest"),
              std::string::npos)
        << msg;
    ubin::test::WriteBytes(t.path() / "MANIFEST.TXT", "ubin-build manifest 1\nbuild 42\n事業所.CSV\t10\t0\n");
    EXPECT_NE(StartUpError(t).find("事業所.CSV: is missing, but the folder's manifest"), std::string::npos);
    ubin::test::WriteBytes(t.path() / "MANIFEST.TXT", "something else\n");
    EXPECT_NE(StartUpError(t).find("MANIFEST.TXT: line 1"), std::string::npos);
    ubin::test::WriteBytes(t.path() / "MANIFEST.TXT", "ubin-build manifest 1\nbuild 42\n郵便番号.CSV\t"
                                                         + std::to_string(lines.size()) + "\t0\n");
    DirectoryState dir;
    dir.dataFolder = t.DataFolder();
    dir.StartUp();
    EXPECT_EQ(dir.manifestBuild, "42");
}

TEST(DirectoryStartUp, ATableLargerThanAnyCityCodeOrAFileThatIsNoFileIsRefusedAtOnce)
{
    {
        TempDir t;
        Hiroshima().Write(t.path());
        // Eight gigabytes, sparse: a scan of its records would take hours.
        std::filesystem::resize_file(t.path() / "TOSHI1.TDB", std::uintmax_t{8} << 30);
        const std::string msg = StartUpError(t);
        EXPECT_NE(msg.find("TOSHI1.TDB: holds 8589934592 bytes; a city table holds at most 47,999 records"),
                  std::string::npos)
            << msg;
    }
#ifndef _WIN32
    {
        // A pipe where a directory file should be: opening it would wait for a writer forever.
        TempDir t;
        Hiroshima().Write(t.path());
        std::filesystem::remove(t.path() / "UIND2.IDX");
        ASSERT_EQ(::mkfifo((t.path() / "UIND2.IDX").c_str(), 0600), 0);
        const std::string msg = StartUpError(t);
        EXPECT_NE(msg.find("UIND2.IDX: is not a regular file"), std::string::npos) << msg;
    }
#endif
    {
        TempDir t;
        Hiroshima().Write(t.path());
        DirectoryState dir;
        dir.dataFolder = t.DataFolder() + u'\0' + u"x/";
        EXPECT_THROW(dir.StartUp(), DirectoryError);
    }
}

// The manifest's own checksum (version 3): the XXH3 of every byte after its second line.
std::string Sealed(const std::string& lines)
{
    return "ubin-build manifest 3\nxxh3 " + Xxh3Hex(Xxh3Of(lines)) + "\n" + lines;
}

// A manifest of any version is read; a later build's "word value" lines are skipped; a file
// name that leaves the folder, a checksum of the other version's width, a broken line, a
// version 3 without its own checksum or a later version is refused, naming the line.
TEST(Manifest, EveryVersionIsReadAndNamesThatLeaveTheFolderAreRefused)
{
    const std::string v1 = "ubin-build manifest 1\nbuild 42\n";
    const std::string v2 = "ubin-build manifest 2\nbuild 42\n";
    const struct {
        std::string text;
        const char* error; // nullptr: read
        int version = 2;
        std::uint64_t sum = 0;
    } cases[] = {
        {v1 + "UIND1.IDX\t12\t8d1f0a2c\n", nullptr, 1, 0x8d1f0a2c},
        {v2 + "UIND1.IDX\t12\t9c1e0a2c8d1f0a2c\n", nullptr, 2, 0x9c1e0a2c8d1f0a2c},
        {v2 + "edition 2023-09\nsomething new\nUIND1.IDX\t12\t1\n", nullptr, 2, 1},
        {Sealed("build 42\nUIND1.IDX\t12\t9c1e0a2c8d1f0a2c\n"), nullptr, 3, 0x9c1e0a2c8d1f0a2c},
        {"ubin-build manifest 3\nbuild 42\nUIND1.IDX\t12\t1\n", "line 2: is not the manifest's own checksum"},
        {"ubin-build manifest 3\nxxh3 " + Xxh3Hex(0) + "\nbuild 42\n", "line 2: the manifest's own checksum differs"},
        {"ubin-build manifest 3\n", "line 2: the manifest's own checksum is missing"},
        {"ubin-build manifest 4\nbuild 42\n", "line 1: is a manifest of a later ubin-build (version 4)"},
        {v1 + "UIND1.IDX\t12\t9c1e0a2c8d1f0a2c\n", "line 3: is not a file name"},
        {v2 + "UIND1.IDX\t12\n", "line 3: is not a file name"},
        {v2 + "UIND1.IDX\tx\t1\n", "line 3: is not a file name"},
        {v2 + "../UIND1.IDX\t12\t1\n", "line 3: names \"../UIND1.IDX\", which is not a file of the folder"},
        {v2 + "/etc/passwd\t12\t1\n", "which is not a file of the folder"},
        {v2 + "..\\UIND1.IDX\t12\t1\n", "which is not a file of the folder"},
        {v2 + "..\t12\t1\n", "which is not a file of the folder"},
        {v2 + "\t12\t1\n", "which is not a file of the folder"},
        {"ubin-build manifest 0\n", "line 1: is not"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            const Manifest m = ParseManifest(c.text, "MANIFEST.TXT");
            ASSERT_EQ(c.error, nullptr) << "read";
            EXPECT_EQ(m.version, c.version);
            EXPECT_EQ(m.SumKind(), c.version == 1 ? ManifestSum::Crc32 : ManifestSum::Xxh3);
            EXPECT_EQ(m.build, "42");
            ASSERT_EQ(m.files.size(), 1u);
            EXPECT_EQ(m.files[0].sum, c.sum);
            // Written back as it was read, version included.
            EXPECT_EQ(ParseManifest(FormatManifest(m), "MANIFEST.TXT").files[0].sum, c.sum);
        } catch (const DirectoryError& e) {
            ASSERT_NE(c.error, nullptr) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
        }
    }
}

// A file's piece checksums are read with it wherever their line stands, written back as read,
// and refused, naming the line, when they do not fit the file they name.
TEST(Manifest, PieceChecksumsFitTheFileTheyName)
{
    const std::string a = Xxh3Hex(0x0123456789abcdefu), b = Xxh3Hex(0xfedcba9876543210u);
    const std::string files = "UIND1.IDX\t5000\t1\nTOSHI2.TDB\t0\t2\n";
    const struct {
        std::string lines;
        const char* error; // nullptr: read
    } cases[] = {
        {"pieces 4096 " + a + b + " UIND1.IDX\n" + files, nullptr},
        {files + "pieces 4096 " + a + b + " UIND1.IDX\npieces 65536  TOSHI2.TDB\n", nullptr},
        {files + "pieces 4096 " + a + " UIND1.IDX\n", "line 6: gives 1 pieces of \"UIND1.IDX\", but its 5000 bytes make 2"},
        {files + "pieces 4096 " + a + b + a + " UIND1.IDX\n", "gives 3 pieces"},
        {files + "pieces 4096 " + a + b + " UIND2.IDX\n", "line 6: gives the pieces of \"UIND2.IDX\", which the manifest does not list"},
        {files + "pieces 4096 " + a + b + " UIND1.IDX\npieces 4096 " + a + b + " UIND1.IDX\n", "a second time"},
        {files + "pieces 3000 " + a + b + " UIND1.IDX\n", "gives pieces of 3000 bytes"},
        {files + "pieces 2048 " + a + b + " UIND1.IDX\n", "gives pieces of 2048 bytes"},
        {files + "pieces 0 " + a + b + " UIND1.IDX\n", "gives pieces of 0 bytes"},
        {files + "pieces 4096 " + a + b.substr(1) + " UIND1.IDX\n", "16 hexadecimal digits each"},
        {files + "pieces 4096 " + a + "x" + b.substr(1) + " UIND1.IDX\n", "16 hexadecimal digits each"},
        {files + "pieces 4096 " + a + b + "\n", "separated by spaces"},
        {files + "pieces x " + a + b + " UIND1.IDX\n", "separated by spaces"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        try {
            const Manifest m = ParseManifest(Sealed("build 42\n" + c.lines), "MANIFEST.TXT");
            ASSERT_EQ(c.error, nullptr) << "read";
            ASSERT_EQ(m.files.size(), 2u);
            EXPECT_EQ(m.files[0].pieceBytes, 4096u);
            EXPECT_EQ(m.files[0].pieces, (std::vector<std::uint64_t>{0x0123456789abcdefu, 0xfedcba9876543210u}));
            const Manifest again = ParseManifest(FormatManifest(m), "MANIFEST.TXT");
            EXPECT_EQ(again.files[0].pieces, m.files[0].pieces);
            EXPECT_EQ(again.files[1].pieceBytes, m.files[1].pieceBytes);
        } catch (const DirectoryError& e) {
            ASSERT_NE(c.error, nullptr) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
        }
    }
}

// The checksum of the directory files is XXH3 (64 bits, seed 0): a file's checksum given in
// parts or with its own field read as zeros is the one of the bytes whole.
TEST(Checksum, Xxh3WholeInPartsAndWithItsFieldZeroed)
{
    EXPECT_EQ(Xxh3Of(std::string_view()), 0x2D06800538D394C2u); // the published value for no bytes
    std::string bytes;
    for (int i = 0; i < 100000; ++i) bytes.push_back(static_cast<char>(i * 7919 % 251));
    Xxh3Stream parts;
    for (std::size_t at = 0; at < bytes.size(); at += 333) parts.Update(bytes.data() + at, std::min<std::size_t>(333, bytes.size() - at));
    EXPECT_EQ(parts.Digest(), Xxh3Of(bytes));
    std::string zeroed = bytes;
    std::fill(zeroed.begin() + 1000, zeroed.begin() + 1008, '\0');
    const auto span = std::span(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    EXPECT_EQ(Xxh3WithFieldZeroed(span, 1000), Xxh3Of(zeroed));
    EXPECT_NE(Xxh3WithFieldZeroed(span, 1000), Xxh3Of(bytes));
    EXPECT_EQ(Xxh3Hex(0x2D06800538D394C2u), "2d06800538d394c2");
}

// Writes the folder's manifest of `version` as ubin-build would: every directory file the folder
// holds with its size and checksum, the one named `damaged` with its checksum changed.
void WriteManifest(const TempDir& t, int version, const std::string& damaged = "")
{
    Manifest m;
    m.version = version;
    m.build = "42";
    for (const std::u16string& name : DirectoryFileNames()) {
        const auto path = t.path() / FileName(name);
        if (!std::filesystem::exists(path)) continue;
        const std::string bytes = ubin::test::ReadBytes(path);
        const std::uint64_t sum = version == 1 ? Crc32(bytes) : Xxh3Of(bytes);
        m.files.push_back({ToUtf8(name), bytes.size(), ToUtf8(name) == damaged ? sum ^ 1 : sum, 0, {}});
    }
    ubin::test::WriteBytes(t.path() / "MANIFEST.TXT", FormatManifest(m));
}

// With a manifest of version 2 or 3 a file whose bytes differ, size kept, is refused before its
// first answer, naming it: TOSHI2.TDB at opening (start-up keeps its prefecture lines), a file
// open on a slot at its first read.
TEST(DirectoryStartUp, AFileWhoseChecksumDiffersFromTheManifestIsRefused)
{
    TempDir t;
    Hiroshima().Write(t.path());
    const auto firstAnswer = [&] {
        DirectoryState dir;
        dir.dataFolder = t.DataFolder();
        dir.StartUp();
        try {
            dir.ReadPostalEntry(1);
        } catch (const DirectoryError& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    for (const int version : {2, 3}) {
        SCOPED_TRACE(version);
        WriteManifest(t, version);
        EXPECT_EQ(firstAnswer(), "");
        WriteManifest(t, version, "郵便番号.CSV");
        const std::string msg = firstAnswer();
        EXPECT_NE(msg.find("郵便番号.CSV: its checksum differs from the one the folder's manifest"), std::string::npos)
            << msg;
        WriteManifest(t, version, "TOSHI2.TDB");
        const std::string atStart = StartUpError(t);
        EXPECT_NE(atStart.find("TOSHI2.TDB: its checksum differs"), std::string::npos) << atStart;
    }
}

// A manifest cut short anywhere, or with any bit changed after its first line, is refused, naming
// it: read as a shorter list it would leave files unchecked. A bit of the first line may make it
// another version's manifest, which then holds the same files.
TEST(Manifest, ACutOrAChangedBitIsRefused)
{
    Manifest m;
    m.build = "18ef1de5c9e74f4924695488";
    m.edition = "2026-11";
    m.inputs = {{"KEN_ALL.CSV", 12345, std::string(64, 'a')}};
    m.files = {{"UIND1.IDX", 1491852, 0x9c1e0a2c8d1f0a2c, 0, {}}, {"TOSHI2.TDB", 84066, 0x1b13afc35b8a17b8, 0, {}}};
    const std::string text = FormatManifest(m);
    ASSERT_EQ(ParseManifest(text, "MANIFEST.TXT").files.size(), 2u);
    const std::size_t firstLine = text.find('\n') + 1;
    for (std::size_t cut = 0; cut < text.size(); ++cut)
        EXPECT_THROW(ParseManifest(text.substr(0, cut), "MANIFEST.TXT"), DirectoryError) << "cut at " << cut;
    for (std::size_t bit = 0; bit < text.size() * 8; ++bit) {
        std::string damaged = text;
        damaged[bit / 8] = static_cast<char>(damaged[bit / 8] ^ (1 << (bit % 8)));
        try {
            const Manifest read = ParseManifest(damaged, "MANIFEST.TXT");
            EXPECT_LT(bit / 8, firstLine) << "bit " << bit << " was not noticed";
            EXPECT_EQ(read.version, 2) << "bit " << bit;
            EXPECT_EQ(read.files.size(), 2u) << "bit " << bit;
        } catch (const DirectoryError& e) {
            EXPECT_NE(std::string(e.what()).find("MANIFEST.TXT"), std::string::npos) << e.what();
        }
    }
}

// A folder whose manifest is cut short is refused when it is opened, naming MANIFEST.TXT; one
// whose manifest (version 2 or 3) leaves out a directory file the folder holds, under any kind
// of entry, is refused naming that file, so a manifest of the builds before cut after its
// header cannot turn the checks off. A manifest of version 1 listed fewer files and is not held
// to it.
TEST(DirectoryStartUp, AManifestCutShortOrLeavingOutAFileIsRefused)
{
    TempDir t;
    Hiroshima().Write(t.path());
    WriteManifest(t, 3);
    const std::string whole = ubin::test::ReadBytes(t / "MANIFEST.TXT");
    ASSERT_EQ(StartUpError(t), "");
    const auto without = [&](const std::string& name) {
        const std::size_t at = whole.find("\n" + name + "\t") + 1;
        return whole.substr(0, at) + whole.substr(whole.find('\n', at) + 1);
    };
    const std::string v2 = "ubin-build manifest 2\nbuild 42\n";
    const struct {
        const char* name;
        std::string manifest;
        const char* says; // nullptr: opens
    } cases[] = {
        {"cut after the first line", whole.substr(0, whole.find('\n') + 1), "MANIFEST.TXT: line 2"},
        {"cut inside the list", whole.substr(0, whole.find("UIND3.IDX")), "MANIFEST.TXT: line 2"},
        {"a line left out, checksum kept", without("UIND3.IDX"), "MANIFEST.TXT: line 2"},
        {"version 2 cut after its header", v2, "UIND1.IDX: the folder's manifest"},
        {"version 2 cut inside the list", v2 + whole.substr(whole.find("UIND1.IDX"), whole.find("UIND3.IDX") - whole.find("UIND1.IDX")),
         "UIND3.IDX: the folder's manifest"},
        {"version 1 listing one file", "ubin-build manifest 1\nbuild 42\n", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ubin::test::WriteBytes(t.path() / "MANIFEST.TXT", c.manifest);
        const std::string msg = StartUpError(t);
        if (!c.says) {
            EXPECT_EQ(msg, "");
            continue;
        }
        EXPECT_NE(msg.find(c.says), std::string::npos) << msg;
        EXPECT_NE(msg.find("MANIFEST.TXT"), std::string::npos) << msg;
    }
    // A folder named as the search index, which this folder's manifest does not list.
    WriteManifest(t, 3);
    std::filesystem::create_directory(t.path() / FileName(kFindIndexFileName));
    const std::string msg = StartUpError(t);
    EXPECT_NE(msg.find("検索.IDX: the folder's manifest"), std::string::npos) << msg;
}
