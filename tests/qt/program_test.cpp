// What every program does before its windows: the command line, and the message about a
// missing or unreadable settings file.
#include "qt/widgets/messages.h"
#include "qt/widgets/program.h"

#include <gtest/gtest.h>

namespace ubin::widgets {
namespace {

std::string Utf8(const QString& s) { return s.toStdString(); }

ProgramInfo Sample() { return {QStringLiteral("sample"), QStringLiteral("見本"), QStringLiteral("A sample program.")}; }

CommandLine::Outcome ParseLine(QStringList args, bool withOption = false)
{
    CommandLine c(Sample());
    if (withOption) c.AddOption(QCommandLineOption(QStringLiteral("marubeta"), QStringLiteral("the program"), QStringLiteral("PATH")));
    args.prepend(QStringLiteral("/usr/bin/sample"));
    return c.Parse(args);
}

TEST(CommandLine, HelpAndVersionGoToStandardOutputAndEndWithStatus0)
{
    for (const char* help : {"--help", "-h", "--help-all"}) {
        const auto r = ParseLine({QString::fromLatin1(help)}, true);
        EXPECT_EQ(r.exitStatus, 0) << help;
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("Usage: sample [options]"))) << Utf8(r.out);
        EXPECT_TRUE(r.out.contains(QStringLiteral("A sample program."))) << help;
        EXPECT_TRUE(r.out.contains(QStringLiteral("--marubeta <PATH>"))) << Utf8(r.out);
        EXPECT_FALSE(r.out.contains(QStringLiteral("platform"))) << "the toolkit's options are not listed";
        EXPECT_TRUE(r.err.isEmpty());
    }
    for (const char* version : {"--version", "-v"}) {
        const auto r = ParseLine({QString::fromLatin1(version)});
        EXPECT_EQ(r.exitStatus, 0);
        EXPECT_EQ(r.out, QStringLiteral("sample ") + SuiteVersion() + QLatin1Char('\n'));
    }
    EXPECT_FALSE(SuiteVersion().isEmpty());
}

TEST(CommandLine, WhatItDoesNotKnowIsRefusedWithOneLineAndStatus2)
{
    const QStringList refused[] = {{QStringLiteral("--bogus")}, {QStringLiteral("-x")}, {QStringLiteral("extra")},
                                   {QStringLiteral("--marubeta")}};
    for (const QStringList& args : refused) {
        const auto r = ParseLine(args, true);
        EXPECT_EQ(r.exitStatus, 2) << Utf8(args.join(' '));
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("sample: "))) << Utf8(r.err);
        EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << Utf8(r.err);
        EXPECT_TRUE(r.err.contains(QStringLiteral("sample --help"))) << Utf8(r.err);
    }
}

TEST(CommandLine, TheProgramsOwnOptionsAndTheToolkitsAreAccepted)
{
    CommandLine c(Sample());
    const QCommandLineOption marubeta(QStringLiteral("marubeta"), QStringLiteral("the program"), QStringLiteral("PATH"));
    c.AddOption(marubeta);
    const auto r = c.Parse({QStringLiteral("sample"), QStringLiteral("--marubeta=/opt/m"), QStringLiteral("-platform"),
                            QStringLiteral("offscreen"), QStringLiteral("-style"), QStringLiteral("fusion"),
                            QStringLiteral("-reverse")});
    EXPECT_FALSE(r.exitStatus.has_value()) << Utf8(r.err);
    EXPECT_EQ(c.parser().value(marubeta), QStringLiteral("/opt/m"));
    EXPECT_FALSE(ParseLine({}).exitStatus.has_value());
}

TEST(SettingsNotFoundText, NamesEachPlaceWithWhatWasWrongAndSaysHowToMakeOne)
{
    const std::vector<std::filesystem::path> places{"/home/u/.config/marubeta/ubscon.def", "/work/ubscon.def",
                                                    "/usr/share/marubeta/ubscon.def"};
    const std::vector<std::string> tried{
        "/home/u/.config/marubeta/ubscon.def: value 5 (99999) is not a 16-bit integer",
        "/work/ubscon.def: file not found",
        "/usr/share/marubeta/ubscon.def: holds 3 values; 15 are needed",
    };
    const QString text = SettingsNotFoundText(QStringLiteral("一行目\n二行目"), places, tried, "/home/u/.config/marubeta");
    EXPECT_TRUE(text.startsWith(QStringLiteral("一行目\n二行目\n"))) << Utf8(text);
    // Each place in its order, with its reason in Japanese.
    const qsizetype first = text.indexOf(QStringLiteral("/home/u/.config/marubeta/ubscon.def"));
    const qsizetype second = text.indexOf(QStringLiteral("/work/ubscon.def"));
    const qsizetype third = text.indexOf(QStringLiteral("/usr/share/marubeta/ubscon.def"));
    ASSERT_GE(first, 0);
    EXPECT_LT(first, second);
    EXPECT_LT(second, third);
    EXPECT_TRUE(text.contains(QStringLiteral("5 番目の値「99999」が 16 ビットの整数"))) << Utf8(text);
    EXPECT_TRUE(text.contains(QStringLiteral("ファイルがありません")));
    EXPECT_TRUE(text.contains(QStringLiteral("値が 3 個しかありません（15 個必要です）")));
    EXPECT_TRUE(text.contains(QStringLiteral("テキストエディタで直すか"))) << "a file that is there but unreadable";
    // How to make one, and where to put it.
    EXPECT_TRUE(text.contains(QStringLiteral("ubin-build KEN_ALL.CSV 辞書のフォルダ --settings")));
    EXPECT_TRUE(text.contains(QStringLiteral("を /home/u/.config/marubeta に置いてください")));
    EXPECT_TRUE(text.contains(QStringLiteral("tenzora")));
    EXPECT_FALSE(text.contains(QStringLiteral("is not a 16-bit"))) << "no English where the reason is known";

    // Only missing files: nothing to mend, so no word about unreadable ones.
    const QString missing = SettingsNotFoundText(QStringLiteral("x"), {"/a/ubscon.def"}, {"/a/ubscon.def: file not found"},
                                                 "/a");
    EXPECT_FALSE(missing.contains(QStringLiteral("テキストエディタ")));
}

TEST(SettingsNotFoundText, AReasonItDoesNotKnowIsKeptAsTheReaderGaveIt)
{
    const SettingsPlaceFailure f =
        DescribeSettingsFailure("/a/ubscon.def: something new went wrong", "/a/ubscon.def");
    EXPECT_EQ(f.path, QStringLiteral("/a/ubscon.def"));
    EXPECT_EQ(f.reason, QStringLiteral("読めません: something new went wrong"));
    EXPECT_FALSE(f.missing);
    const SettingsPlaceFailure bytes = DescribeSettingsFailure(
        "/a/ubscon.def: byte 7 (0x81) does not begin a code page 932 character", "/a/ubscon.def");
    EXPECT_EQ(bytes.reason, QStringLiteral("7 バイト目 (0x81) がシフト JIS（コードページ 932）の文字ではありません"));
}

} // namespace
} // namespace ubin::widgets
