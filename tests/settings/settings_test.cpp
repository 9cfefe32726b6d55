#include "base/atomic_write.h"
#include "base/cp932.h"
#include "base/process.h"
#include "base/text.h"
#include "settings/places.h"
#include "settings/settings.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace ubin;
using ubin::test::ReadBytes;
using ubin::test::TempDir;
using ubin::test::WriteBytes;

namespace {

const std::string kMarubetaLine = "\"r1\",\"r2\",\"C:\\ZIPDATA\\\",0,1200,-300,0,1,1,1,0,0,1,7,8,\"END\"\r\n";

void WriteText(const std::filesystem::path& p, const std::string& utf8) { WriteBytes(p, EncodeCp932(U16(utf8))); }

} // namespace

TEST(SettingsRead, MarubetaLine)
{
    const Settings s = ParseSettings(U16(kMarubetaLine));
    EXPECT_EQ(s.reserved1, u"r1");
    EXPECT_EQ(s.dataFolder, u"C:\\ZIPDATA\\");
    EXPECT_EQ(s.windowLeft, 1200);
    EXPECT_EQ(s.windowTop, -300);
    EXPECT_EQ(s.clipFlags, (ClipFlags{0, 1, 1, 1, 0, 0, 1, 7, 8}));
    EXPECT_TRUE(IsOn(s.clipFlags, kClipPostalCode));
    EXPECT_FALSE(IsOn(s.clipFlags, kClipKana));
}

TEST(SettingsRead, QuotedNumbersFoldersWithCommasAndMissingEnd)
{
    // As the editor writes it: values 1-6 quoted; a folder holding a comma; no END at all.
    const Settings s = ParseSettings(U16("\"\",\"\",\"/data/a,b/\",\"0\",\"1200\",\" 45\",1,1,1,1,1,1,1,2,-1"));
    EXPECT_EQ(s.dataFolder, u"/data/a,b/");
    EXPECT_EQ(s.windowLeft, 1200);
    EXPECT_EQ(s.windowTop, 45);
    EXPECT_EQ(s.clipFlags[7], 2);
    EXPECT_EQ(s.clipFlags[8], -1);
    // Blanks before values are skipped; anything after the 15th value is ignored.
    const Settings t = ParseSettings(U16("  a, b ,c,1,2,3,0,0,0,0,0,0,0,0,0,\"END\",junk,more"));
    EXPECT_EQ(t.reserved1, u"a");
    EXPECT_EQ(t.reserved2, u"b ");
}

TEST(SettingsRead, UnreadableLines)
{
    // 14 values
    EXPECT_THROW(ParseSettings(u"a,b,c,1,2,3,0,0,0,0,0,0,0,0"), SettingsError);
    // a flag that is not a number
    EXPECT_THROW(ParseSettings(u"a,b,c,1,2,3,0,x,0,0,0,0,0,0,0"), SettingsError);
    // a position beyond 16 bits
    EXPECT_THROW(ParseSettings(u"a,b,c,1,40000,3,0,0,0,0,0,0,0,0,0"), SettingsError);
    // the editor keeps values 4-6 as text, but flags must still be numbers
    EXPECT_NO_THROW(ParseEditorSettings(u"a,b,c,x,y,z,0,0,0,0,0,0,0,0,0"));
    EXPECT_THROW(ParseEditorSettings(u"a,b,c,x,y,z,0,0,0,0,0,0,0,0,q"), SettingsError);
    std::int16_t v;
    EXPECT_TRUE(ParseSettingsInteger(u"\t-32768 ", v));
    EXPECT_EQ(v, -32768);
    EXPECT_FALSE(ParseSettingsInteger(u"32768", v));
    EXPECT_FALSE(ParseSettingsInteger(u"12a", v));
}

TEST(SettingsRead, BytesAfterTheFifteenthValueAreNeverDecoded)
{
    TempDir t;
    const std::string good = "\"r1\",\"r2\",\"/zip/\",0,1,2,0,1,1,1,0,0,0,0,0,";
    // A byte that is not code page 932 in END or after it: the file reads normally.
    for (const std::string& tail : {std::string("\"END\xFF\"\r\n"), std::string("\"END\"\r\n\x80\xA0junk")}) {
        WriteBytes(t / "ubscon.def", good + tail);
        EXPECT_EQ(ReadSettingsFile(t / "ubscon.def").dataFolder, u"/zip/");
    }
    // One inside the 15 values, even in the last of them, makes it unreadable, named by its byte.
    const std::string bad = "\"r1\",\"r2\",\"/zip/\",0,1,2,0,1,1,1,0,0,0,0,0\xFF,\"END\"\r\n";
    WriteBytes(t / "ubscon.def", bad);
    try {
        ReadSettingsFile(t / "ubscon.def");
        ADD_FAILURE() << "read a file with a bad byte in value 15";
    } catch (const SettingsError& e) {
        EXPECT_NE(std::string(e.what()).find("byte " + std::to_string(bad.find('\xFF') + 1) + " (0xFF)"),
                  std::string::npos)
            << e.what();
    }
    WriteBytes(t / "ubscon.def", "\"r\xFF\",\"r2\"");
    EXPECT_THROW(ReadSettingsFile(t / "ubscon.def"), SettingsError);
}

TEST(SettingsRead, NumbersOutOfRangeMakeTheFileUnreadableHoweverLong)
{
    std::int16_t v = 5;
    for (const std::u16string& big : std::vector<std::u16string>{std::u16string(400, u'9'), u"-" + std::u16string(400, u'9'),
                                      u"99999", u"1" + std::u16string(309, u'0')}) {
        EXPECT_FALSE(ParseSettingsInteger(big, v)) << big.size() << " characters";
        EXPECT_EQ(v, 5);
    }
    // Leading zeros and long fractions are still the small numbers they are.
    EXPECT_TRUE(ParseSettingsInteger(std::u16string(400, u'0') + u"12", v));
    EXPECT_EQ(v, 12);
    EXPECT_TRUE(ParseSettingsInteger(u"0." + std::u16string(400, u'9'), v));
    EXPECT_EQ(v, 1);

    TempDir t;
    WriteText(t / "ubscon.def", "\"\",\"\",\"/data/\",0," + std::string(400, '9') + ",0,0,1,1,1,0,0,0,0,0,\"END\"\r\n");
    try {
        ReadSettingsFile(t / "ubscon.def");
        FAIL() << "a 400-digit window position was read";
    } catch (const SettingsError& e) {
        EXPECT_NE(std::string(e.what()).find("value 5"), std::string::npos) << e.what();
    }
}

TEST(SettingsRead, OnlyRegularFilesOfASettingsFileSizeAreRead)
{
    TempDir t;
#ifndef _WIN32
    // A device never ends, a pipe without a writer would block the program at start-up.
    ASSERT_EQ(::mkfifo((t / "fifo").c_str(), 0600), 0);
    for (const std::filesystem::path& p : {std::filesystem::path("/dev/zero"), t / "fifo"}) {
        try {
            ReadSettingsFile(p);
            ADD_FAILURE() << p << " was read";
        } catch (const SettingsError& e) {
            EXPECT_NE(std::string(e.what()).find("not a regular file"), std::string::npos) << e.what();
        }
    }
#endif
    WriteBytes(t / "big.def", kMarubetaLine + std::string(100 * 1024, ' '));
    try {
        ReadSettingsFile(t / "big.def");
        FAIL() << "a 100 KiB settings file was read";
    } catch (const SettingsError& e) {
        EXPECT_NE(std::string(e.what()).find("larger than a settings file"), std::string::npos) << e.what();
    }
    // Trailing text of an ordinary size is still ignored.
    WriteBytes(t / "ok.def", kMarubetaLine + std::string(1000, ' '));
    EXPECT_EQ(ReadSettingsFile(t / "ok.def").windowLeft, 1200);
}

TEST(SettingsWrite, EachWriterReadByEachReader)
{
    Settings s = ParseSettings(U16(kMarubetaLine));
    const std::string marubeta = FormatSettings(s);
    EXPECT_EQ(marubeta, kMarubetaLine);

    EditorSettings e = ParseEditorSettings(DecodeCp932(marubeta));
    const std::string editor = FormatEditorSettings(e);
    EXPECT_EQ(editor, "\"r1\",\"r2\",\"C:\\ZIPDATA\\\",\"0\",\"1200\",\"-300\",0,1,1,1,0,0,1,7,8,\"END\"\r\n");
    // Marubeta reads the editor's quoted numbers as the same numbers.
    const Settings back = ParseSettings(DecodeCp932(editor));
    EXPECT_EQ(back.windowLeft, 1200);
    EXPECT_EQ(back.clipFlags, s.clipFlags);
    EXPECT_EQ(FormatSettings(back), kMarubetaLine);

    // Japanese folder names are written in code page 932.
    s.dataFolder = U16("/データ/郵便/");
    EXPECT_EQ(ParseSettings(DecodeCp932(FormatSettings(s))).dataFolder, s.dataFolder);
    // Values that would read back differently are refused, not written.
    s.dataFolder = u"bad\nfolder";
    EXPECT_THROW(FormatSettings(s), SettingsError);
    s.dataFolder = u"say \"x\"";
    EXPECT_THROW(FormatSettings(s), SettingsError);
    s.dataFolder = u"say \"x\"";
    EXPECT_THROW(FormatSettings(s), SettingsError);
}

TEST(SettingsFind, SearchOrderAcrossPlaces)
{
    TempDir t;
    std::filesystem::create_directories(t / "win");
    std::filesystem::create_directories(t / "cur");
    std::filesystem::create_directories(t / "share");
    PlaceContext ctx{t / "win", t / "cur", t / "share"};
    const auto places = SettingsPlaces(Program::Marubeta, ctx);
    ASSERT_EQ(places.size(), 3u);
    EXPECT_EQ(SettingsPlaces(Program::Control, ctx).size(), 2u);

    std::vector<std::string> tried;
    EXPECT_FALSE(FindSettings(places, &tried));
    EXPECT_EQ(tried.size(), 3u);

    WriteText(t / "share" / "ubscon.def", "a,b,/share/,0,0,0,0,0,0,0,0,0,0,0,0");
    auto found = FindSettings(places);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->placeIndex, 2u);

    WriteText(t / "cur" / "ubscon.def", "a,b,/cur/,0,0,0,0,0,0,0,0,0,0,0,0");
    // A Windows-folder file with only 14 values is passed over.
    WriteText(t / "win" / "ubscon.def", "a,b,/win/,0,0,0,0,0,0,0,0,0,0,0");
    found = FindSettings(places);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->settings.dataFolder, u"/cur/");

    WriteText(t / "win" / "ubscon.def", "a,b,/win/,0,0,0,0,0,0,0,0,0,0,0,0");
    found = FindSettings(places);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->settings.dataFolder, u"/win/");
    EXPECT_EQ(found->path, places[0]);
}

TEST(SettingsWrite, AtomicReplaceCreatesTheFolderAndKeepsTheOldFileOnFailure)
{
    TempDir t;
    const auto path = t / "new" / "folder" / "ubscon.def";
    Settings s;
    s.dataFolder = u"/x/";
    WriteSettingsFile(path, s);
    EXPECT_EQ(ReadSettingsFile(path).dataFolder, u"/x/");

#ifndef _WIN32 // a read-only folder does not stop writes on Windows; tests/windows has its failures
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    ::chmod((t / "new" / "folder").c_str(), 0555);
    s.dataFolder = u"/y/";
    try {
        WriteSettingsFile(path, s);
        FAIL() << "the write into a read-only folder succeeded";
    } catch (const SettingsError& e) {
        EXPECT_NE(std::string(e.what()).find("ubscon.def"), std::string::npos);
    }
    ::chmod((t / "new" / "folder").c_str(), 0755);
    EXPECT_EQ(ReadSettingsFile(path).dataFolder, u"/x/");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t / "new" / "folder"), {}), 1);
#endif
}

TEST(SettingsWrite, AFailureHalfwayLeavesTheOldFileWhole)
{
    TempDir t;
    const auto path = t / "ubscon.def";
    WriteBytes(path, kMarubetaLine);
#ifndef _WIN32 // a file size limit is POSIX's; tests/windows has Windows' own failures
    // A file size limit smaller than the new line makes the write stop partway through.
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 16;
    ::setrlimit(RLIMIT_FSIZE, &small);
    Settings s = ParseSettings(U16(kMarubetaLine));
    s.dataFolder = u"/a/much/longer/folder/than/sixteen/bytes/";
    std::string error;
    try {
        WriteSettingsFile(path, s);
    } catch (const SettingsError& e) {
        error = e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_NE(error.find("ubscon.def"), std::string::npos) << error;
    EXPECT_EQ(ReadBytes(path), kMarubetaLine);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.path()), {}), 1); // no temporary file left
#endif

    // A target that is a folder cannot be replaced by the rename, the last step.
    std::filesystem::create_directories(t / "blocked" / "ubscon.def" / "inside");
    EXPECT_THROW(WriteFileAtomically(t / "blocked" / "ubscon.def", "new"), FileWriteError);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t / "blocked"), {}), 1);
}

TEST(SettingsWrite, AFileThatCannotBeReadIsKeptBesideTheNewOneNeverReplaced)
{
    TempDir t;
    const auto path = t / "ubscon.def";
    const auto kept = t / "ubscon.def.unreadable";
    Settings s = ParseSettings(U16(kMarubetaLine));

    // No file, or one that reads: written as ever, nothing kept.
    EXPECT_TRUE(SaveSettingsFile(path, s).keptUnreadable.empty());
    s.windowLeft = 77;
    EXPECT_TRUE(SaveSettingsFile(path, s).keptUnreadable.empty());
    EXPECT_EQ(ReadSettingsFile(path).windowLeft, 77);
    EXPECT_FALSE(std::filesystem::exists(kept));

    // One value out of range: the user's file is kept under the new name, byte for byte.
    const std::string first = "\"\",\"\",\"/mine/\",0,99999,0,0,1,1,1,0,0,0,0,0,\"END\"\r\n";
    WriteBytes(path, first);
    SavedSettings saved = SaveSettingsFile(path, s);
    EXPECT_EQ(saved.keptUnreadable, kept);
    EXPECT_NE(saved.whyUnreadable.find("value 5"), std::string::npos) << saved.whyUnreadable;
    EXPECT_EQ(ReadBytes(kept), first);
    EXPECT_EQ(ReadSettingsFile(path).windowLeft, 77);

    // A second unreadable file replaces the first one kept: the newest is kept.
    const std::string second = "not a settings file\r\n";
    WriteBytes(path, second);
    saved = SaveSettingsFile(path, s);
    EXPECT_EQ(saved.keptUnreadable, kept);
    EXPECT_EQ(ReadBytes(kept), second);
    EXPECT_EQ(ReadSettingsFile(path).windowLeft, 77);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.path()), {}), 2);
}

TEST(SettingsWrite, AKilledWriteLeavesATemporaryFileTheNextWriteRemoves)
{
    TempDir t;
    // A process that is not running, as a killed writer's: 4194305 is above every process id
    // Linux gives, and not a multiple of 4 as Windows' are.
    const std::uint64_t gone = 4194305;
    const std::string stale = ".ubscon.def." + std::to_string(gone) + "-a1B2c3";
    const std::string running = ".ubscon.def." + std::to_string(platform::CurrentProcessId()) + "-x9Y8z7";
    const std::string others[] = {".ubscon.def.backup", ".other.def." + std::to_string(gone) + "-a1B2c3", "notes.txt"};
    WriteBytes(t / stale, "half a li");
    WriteBytes(t / running, "being written");
    for (const auto& name : others) WriteBytes(t / name, "keep");

    WriteSettingsFile(t / "ubscon.def", ParseSettings(U16(kMarubetaLine)));
    EXPECT_FALSE(std::filesystem::exists(t / stale)) << "the killed write's file is still there";
    EXPECT_TRUE(std::filesystem::exists(t / running)) << "a running writer's file was taken";
    for (const auto& name : others) EXPECT_TRUE(std::filesystem::exists(t / name)) << name;
    EXPECT_EQ(ReadSettingsFile(t / "ubscon.def").windowLeft, 1200);
}

TEST(SettingsPlaces, FinalSeparatorAndPositionClamp)
{
    EXPECT_EQ(WithFinalSeparator(u""), u"");
    EXPECT_EQ(WithFinalSeparator(u"/data/"), u"/data/");
    EXPECT_EQ(ClampToInt16(40000), 32767);
    EXPECT_EQ(ClampToInt16(-40000), -32768);
    EXPECT_EQ(ClampToInt16(1200), 1200);
#ifndef _WIN32 // tests/windows checks the Windows places and separator
    EXPECT_EQ(WithFinalSeparator(u"/data"), u"/data/");
    const PlaceContext ctx = PlatformPlaces(Program::Marubeta, "/home/u/.config", "/usr/bin", "/tmp");
    EXPECT_EQ(ctx.windowsFolder, std::filesystem::path("/home/u/.config/marubeta"));
    EXPECT_EQ(ctx.installFolder, std::filesystem::path("/usr/share/marubeta"));
#endif
}
