// ubin-link against a server in this process: its output lines and exit statuses.
#include "tests/qt/link/link_test_support.h"
#include "tests/support/run_tool.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace ubin::link;
using namespace ubin::link::test;

#ifdef UBIN_LINK_TOOL

namespace {

using ubin::test::ToolRun;

ToolRun RunTool(const QStringList& args) { return ubin::test::RunTool(QStringLiteral(UBIN_LINK_TOOL), args); }

class UbinLinkToolTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(window.server.Listen()); }
    QStringList Args(const QStringList& rest) const { return QStringList{QStringLiteral("--service"), service} + rest; }

    QString service = UniqueService();
    ServedWindow window{service};
};

} // namespace

TEST_F(UbinLinkToolTest, RequestPrintsOneLinePerItem)
{
    window.items[QStringLiteral("Text6")] = QStringLiteral("a\tb\\c");
    const ToolRun r = RunTool(Args({QStringLiteral("request"), QStringLiteral("IT1"), QStringLiteral("Text6")}));
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("IT1\t730\nText6\ta\\tb\\\\c\n"));

    const ToolRun missing = RunTool(Args({QStringLiteral("request"), QStringLiteral("IT9"), QStringLiteral("IT2")}));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, QStringLiteral("IT2\t0014\n")) << "the known item is still printed";
    EXPECT_TRUE(missing.err.contains(QStringLiteral("IT9")));
}

TEST_F(UbinLinkToolTest, ExecuteReportsTheAcceptanceFlagInItsStatus)
{
    ToolRun r = RunTool(Args({QStringLiteral("execute"), QStringLiteral("730-0014")}));
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(window.commands, QStringList{QStringLiteral("730-0014")});

    window.flag = 3;
    r = RunTool(Args({QStringLiteral("--topic"), QStringLiteral("form1"), QStringLiteral("execute"), QStringLiteral("x")}));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("3")));

    r = RunTool(Args({QStringLiteral("--topic"), QStringLiteral("Other"), QStringLiteral("execute"), QStringLiteral("x")}));
    EXPECT_EQ(r.status, 1) << "a refused topic is not a missing server";
    EXPECT_EQ(window.commands.size(), 2);

    r = RunTool(Args({QStringLiteral("execute")}));
    EXPECT_EQ(r.status, 2) << "a command line it does not understand, as in every tool";
    EXPECT_EQ(window.commands.size(), 2) << "nothing is sent";
}

TEST(UbinLinkToolNoServerTest, NoServerGivesOneLineAndStatusTwo)
{
    const QString service = UniqueService();
    for (const QString& command : {QStringLiteral("execute"), QStringLiteral("request"), QStringLiteral("watch")}) {
        const ToolRun r = RunTool({QStringLiteral("--service"), service, command, QStringLiteral("IT1")});
        EXPECT_EQ(r.status, 2) << command.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(service));
    }
}

TEST_F(UbinLinkToolTest, WatchPrintsTheTextsAndEveryChangeUntilTheLinkEnds)
{
    QProcess p;
    p.start(QStringLiteral(UBIN_LINK_TOOL), Args({QStringLiteral("watch"), QStringLiteral("IT1"), QStringLiteral("IT2")}));
    QString out;
    auto readLines = [&] {
        out += QString::fromUtf8(p.readAllStandardOutput());
        return out.count(QLatin1Char('\n'));
    };
    ASSERT_TRUE(Eventually([&] { return readLines() == 2; }, 10000)) << out.toStdString();
    ASSERT_TRUE(Eventually([&] { return window.server.ConversationCount() == 1; })) << window.server.ConversationCount();
    window.Set(QStringLiteral("IT1"), QStringLiteral("100"));
    window.Set(QStringLiteral("Text6"), QStringLiteral("not watched"));
    window.Set(QStringLiteral("IT2"), QStringLiteral("0001"));
    ASSERT_TRUE(Eventually([&] { return readLines() == 4; }, 10000)) << out.toStdString();
    EXPECT_EQ(out, QStringLiteral("IT1\t730\nIT2\t0014\nIT1\t100\nIT2\t0001\n"));

    // The server ends: the watch ends with status 1.
    QSignalSpy finished(&p, &QProcess::finished);
    window.server.Close();
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral("lost")));
}

#endif
