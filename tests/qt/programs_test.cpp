// Every program of the suite on its command line, as a user meets it in a terminal without a
// display: --help and --version on standard output, an unknown option refused, the windows
// saying that they need a display; and Marubeta's start-up messages on standard error.
#include "tests/support/temp_dir.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

std::string Utf8(const QString& s) { return s.toStdString(); }

struct Program {
    const char* name;
    const char* path;
    bool window;
};

const Program kPrograms[] = {
    {"marubeta", UBIN_MARUBETA, true},     {"tenzora", UBIN_TENZORA, true}, {"piroshen", UBIN_PIROSHEN, true},
    {"quillot", UBIN_QUILLOT, true},       {"ubin-build", UBIN_BUILD, false}, {"ubin-regsvr", UBIN_REGSVR, false},
    {"ubin", UBIN_UBIN, false},            {"ubin-link", UBIN_LINK, false},   {"ubin-serve", UBIN_SERVE, false},
};

struct Outcome {
    int status = -1;
    QString out, err;
};

// Runs a program without any display and without the toolkit's platform setting.
Outcome Start(const Program& p, const QStringList& args, const QString& folder = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QString::fromLatin1(name));
    QProcess process;
    process.setProcessEnvironment(env);
    if (!folder.isEmpty()) process.setWorkingDirectory(folder);
    process.start(QString::fromUtf8(p.path), args);
    Outcome r;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return r;
    }
    r.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = QString::fromUtf8(process.readAllStandardOutput());
    r.err = QString::fromUtf8(process.readAllStandardError());
    return r;
}

TEST(Programs, HelpAndVersionOnStandardOutputWithoutADisplay)
{
    for (const Program& p : kPrograms) {
        SCOPED_TRACE(p.name);
        const Outcome help = Start(p, {QStringLiteral("--help")});
        EXPECT_EQ(help.status, 0) << Utf8(help.err);
        EXPECT_TRUE(help.out.contains(QString::fromLatin1(p.name))) << Utf8(help.out);
        EXPECT_TRUE(help.err.isEmpty()) << Utf8(help.err);

        const Outcome version = Start(p, {QStringLiteral("--version")});
        EXPECT_EQ(version.status, 0) << Utf8(version.err);
        // The tools that read the directory name its data edition after the version.
        const QString line = QStringLiteral("%1 %2").arg(QString::fromLatin1(p.name), QStringLiteral(UBIN_VERSION));
        const std::string name = p.name;
        if (name == "ubin" || name == "ubin-build" || name == "ubin-serve")
            EXPECT_TRUE(version.out.startsWith(line + QStringLiteral(" (data edition ")) && version.out.endsWith(QStringLiteral(")\n")))
                << Utf8(version.out);
        else
            EXPECT_EQ(version.out, line + QLatin1Char('\n'));
    }
}

TEST(Programs, AnUnknownOptionIsRefusedWithOneLine)
{
    for (const Program& p : kPrograms) {
        SCOPED_TRACE(p.name);
        const Outcome r = Start(p, {QStringLiteral("--no-such-option")});
        EXPECT_EQ(r.status, 2) << Utf8(r.err);
        EXPECT_TRUE(r.out.isEmpty()) << Utf8(r.out);
        EXPECT_TRUE(r.err.startsWith(QString::fromLatin1(p.name) + QStringLiteral(": "))) << Utf8(r.err);
        EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << Utf8(r.err);
    }
}

TEST(Programs, AMissingValueOrABadNumberIsRefusedWithOneLine)
{
    const struct {
        const char* program;
        QStringList args;
        const char* says; // what the line names
    } cases[] = {
        {UBIN_UBIN, {"--data"}, "--data"},
        {UBIN_UBIN, {"find", "--limit", "-1", "x"}, "--limit"},
        {UBIN_UBIN, {"form", "--clip-flags", "9", "clear"}, "--clip-flags"},
        {UBIN_BUILD, {"in.csv", "out", "--offices"}, "--offices"},
        {UBIN_BUILD, {"in.csv", "out", "--edition", "2026-13"}, "2026-13"},
        {UBIN_BUILD, {"in.csv"}, "OUTDIR"},
        {UBIN_BUILD, {"--base", "in.csv", "--add", "a.csv", "out"}, "--del"},
        {UBIN_REGSVR, {"--registry"}, "--registry"},
        {UBIN_LINK, {"--timeout", "-5", "execute", "x"}, "--timeout"},
        {UBIN_LINK, {"--timeout", "soon", "execute", "x"}, "--timeout"},
        {UBIN_LINK, {"--service"}, "--service"},
        {UBIN_LINK, {"fetch", "IT1"}, "fetch"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf8(QString::fromUtf8(c.program) + QLatin1Char(' ') + c.args.join(QLatin1Char(' '))));
        const Outcome r = Start({"", c.program, false}, c.args);
        EXPECT_EQ(r.status, 2) << Utf8(r.err);
        EXPECT_TRUE(r.out.isEmpty()) << Utf8(r.out);
        EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << Utf8(r.err);
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.says))) << Utf8(r.err);
    }
}

TEST(Programs, WindowsWithoutADisplaySayHowToGetOne)
{
    for (const Program& p : kPrograms) {
        if (!p.window) continue;
        SCOPED_TRACE(p.name);
        const Outcome r = Start(p, {});
        EXPECT_EQ(r.status, 1) << "not aborted by the toolkit: " << Utf8(r.err);
        EXPECT_EQ(r.err, QStringLiteral("%1: no display (DISPLAY is not set); run it on a desktop, or under a virtual "
                                        "one: xvfb-run -a %1\n")
                             .arg(QString::fromLatin1(p.name)));
    }
}

// Marubeta with a settings file that is there but malformed: the message names the file and
// what is wrong, on standard error as well as in its box (which stays open: the test reads the
// error output and ends the program).
TEST(Programs, MarubetaNamesAMalformedSettingsFileOnStandardError)
{
    ubin::test::TempDir folders;
    std::filesystem::create_directories(folders / "config");
    std::filesystem::create_directories(folders / "cur");
    ubin::test::WriteBytes(folders / "cur/ubscon.def", "\"\",\"\",\"/nowhere/\",0,0,0,1,1,1,0,0,0,0\r\n");

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString((folders / "config").string()));
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(QString::fromStdString((folders / "cur").string()));
    process.start(QStringLiteral(UBIN_MARUBETA), {});
    QString err;
    for (int i = 0; i < 100 && !err.contains(QStringLiteral("tenzora")); ++i) {
        process.waitForReadyRead(200);
        err += QString::fromUtf8(process.readAllStandardError());
        if (process.state() == QProcess::NotRunning) break;
    }
    process.kill();
    process.waitForFinished();
    EXPECT_TRUE(err.contains(QStringLiteral("marubeta: システム管理ファイルがみつかりません\n呼び出し元に Ubscon.def が必要です\n")))
        << Utf8(err);
    EXPECT_TRUE(err.contains(QString::fromStdString((folders / "cur/ubscon.def").string())
                             + QStringLiteral("\n　→ 値が 13 個しかありません（15 個必要です）")))
        << Utf8(err);
}

} // namespace
