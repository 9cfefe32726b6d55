// Marubeta's link service as other programs meet it: a real Marubeta program on the sample
// directory, driven through the client library and through ubin-link; and, in this process, a
// search window in mode 5 receiving a command.
#include "tests/marubeta/marubeta_fixture.h"
#include "tests/support/run_tool.h"

#include "qt/link/link_client.h"

#include <QMessageBox>
#include <QProcess>
#include <QRadioButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <map>

using ubin::link::LinkClient;
using ubin::link::LinkMode;

namespace {

std::string Utf8(const QString& s) { return s.toStdString(); }

const QString kNotFound = QStringLiteral("*** 該当するものが見付からない **");

// A Marubeta program with folders of its own: the current folder holds the settings file that
// points at the sample directory, the settings folder and the socket folder (XDG_RUNTIME_DIR,
// and TMPDIR, which this process uses too while the program runs) are private, so the service
// name Marubeta meets no other Marubeta of the same user.
class RunningMarubeta {
public:
    RunningMarubeta()
    {
        const auto current = folders / "cur";
        std::filesystem::create_directories(current);
        std::filesystem::create_directories(folders / "config");
        std::filesystem::create_directories(folders / "tmp");
        std::filesystem::create_directories(folders / "run");
        std::filesystem::permissions(folders / "run", std::filesystem::perms::owner_all);
        ubin::test::WriteBytes(current / "ubscon.def", "\"r1\",\"r2\",\"" + std::string(UBIN_SAMPLE_DIR)
                                                           + "\",0,1200,900,0,1,1,1,0,0,0,7,8,\"END\"\r\n");
        savedTmp_ = qgetenv("TMPDIR");
        hadTmp_ = qEnvironmentVariableIsSet("TMPDIR");
        savedRuntime_ = qgetenv("XDG_RUNTIME_DIR");
        hadRuntime_ = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
        const QByteArray tmp = QByteArray::fromStdString((folders / "tmp").string());
        const QByteArray runtime = QByteArray::fromStdString((folders / "run").string());
        qputenv("TMPDIR", tmp);
        qputenv("XDG_RUNTIME_DIR", runtime);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), QString::fromUtf8(tmp));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromUtf8(runtime));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString((folders / "config").string()));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(QString::fromStdString(current.string()));
        process.start(QStringLiteral(UBIN_MARUBETA), {});
        process.waitForStarted(10000);
        ready = QTest::qWaitFor(
            [this] {
                if (process.state() == QProcess::NotRunning) return true;
                LinkClient probe;
                return probe.Connect(QStringLiteral("Marubeta"), QStringLiteral("Form1"), 1000);
            },
            20000)
                && process.state() == QProcess::Running;
    }

    ~RunningMarubeta()
    {
        process.terminate();
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished();
        }
        if (hadTmp_) qputenv("TMPDIR", savedTmp_);
        else qunsetenv("TMPDIR");
        if (hadRuntime_) qputenv("XDG_RUNTIME_DIR", savedRuntime_);
        else qunsetenv("XDG_RUNTIME_DIR");
    }

    QString Errors() { return QString::fromLocal8Bit(process.readAllStandardError()); }

    ubin::test::TempDir folders;
    QProcess process;
    bool ready = false;

private:
    QByteArray savedTmp_, savedRuntime_;
    bool hadTmp_ = false, hadRuntime_ = false;
};

using ubin::test::ToolRun;

ToolRun RunTool(const QStringList& args) { return ubin::test::RunTool(QStringLiteral(UBIN_LINK_TOOL), args); }

class MarubetaProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(marubeta.ready) << "Marubeta did not start its service: " << Utf8(marubeta.Errors());
        ASSERT_TRUE(client.Connect(QStringLiteral("Marubeta|Form1"))) << Utf8(client.ErrorString());
    }

    QString Item(const char* name)
    {
        const auto text = client.Request(QString::fromLatin1(name));
        return text ? *text : QStringLiteral("<no answer: %1>").arg(client.ErrorString());
    }

    RunningMarubeta marubeta;
    LinkClient client;
};

} // namespace

TEST_F(MarubetaProgramTest, ExecuteLooksUpTheDigitsOfTheCommand)
{
    struct Case {
        QString command, it1, it2, it4;
    };
    const Case cases[] = {
        {QStringLiteral("730-0014"), QStringLiteral("730"), QStringLiteral("0014"), QStringLiteral("上幟町")},
        // Three digits get 0000 appended, counted among the digits only.
        {QStringLiteral("730"), QStringLiteral("730"), QStringLiteral("0000"), QStringLiteral("以下に掲載がない場合")},
        {QStringLiteral(" 730"), QStringLiteral("730"), QStringLiteral("0000"), QStringLiteral("以下に掲載がない場合")},
        // No digit at all: every key begins with the empty key, so the first index record
        // shows, the lowest postal code of the sample.
        {QStringLiteral("abc"), QStringLiteral("010"), QStringLiteral("0043"), QStringLiteral("桜ガ丘")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8(c.command));
        EXPECT_EQ(client.Execute(c.command), std::optional<std::uint16_t>(0));
        EXPECT_EQ(Item("IT1"), c.it1);
        EXPECT_EQ(Item("IT2"), c.it2);
        EXPECT_EQ(Item("IT4"), c.it4);
        EXPECT_EQ(Item("Text6"), QString());
    }
    EXPECT_EQ(Item("IT3"), QStringLiteral("秋田市"));
    EXPECT_EQ(Item("ITUbin"), QString()) << "the command is not echoed in the entry box";

    // A code that is not in the index is accepted too, and shows the not-found text.
    EXPECT_EQ(client.Execute(QStringLiteral("999-9999")), std::optional<std::uint16_t>(0));
    for (const char* item : {"IT1", "IT2", "IT3", "IT4", "IT5", "IT6"}) EXPECT_EQ(Item(item), QString()) << item;
    EXPECT_EQ(Item("Text6"), kNotFound);
}

TEST_F(MarubetaProgramTest, HotAndNotifyLinksReceiveEveryChangeOfTheResult)
{
    const char* items[] = {"IT1", "IT2", "IT3", "IT4", "IT5", "IT6"};
    LinkClient hot;
    LinkClient notify;
    ASSERT_TRUE(hot.Connect(QStringLiteral("Marubeta|form1"))) << Utf8(hot.ErrorString());
    ASSERT_TRUE(notify.Connect(QStringLiteral("Marubeta|form1"))) << Utf8(notify.ErrorString());
    std::map<QString, QString> pushed;
    QStringList noticed;
    QObject::connect(&hot, &LinkClient::ItemData, [&](const QString& item, const QString& text) { pushed[item] = text; });
    QObject::connect(&notify, &LinkClient::ItemChanged, [&](const QString& item) {
        if (!noticed.contains(item)) noticed.push_back(item);
    });
    for (const char* item : items) {
        ASSERT_TRUE(hot.Advise(QString::fromLatin1(item), LinkMode::Hot));
        ASSERT_TRUE(notify.Advise(QString::fromLatin1(item), LinkMode::Notify));
    }

    ASSERT_EQ(client.Execute(QStringLiteral("7300014")), std::optional<std::uint16_t>(0));
    const std::map<QString, QString> expected{
        {QStringLiteral("IT1"), QStringLiteral("730")},
        {QStringLiteral("IT2"), QStringLiteral("0014")},
        {QStringLiteral("IT3"), QStringLiteral("広島市中区")},
        {QStringLiteral("IT4"), QStringLiteral("上幟町")},
        {QStringLiteral("IT5"), QStringLiteral("ﾋﾛｼﾏｼﾅｶｸｶﾐﾉﾎﾞﾘﾁｮｳ")},
        {QStringLiteral("IT6"), QStringLiteral("34101")},
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return pushed == expected && noticed.size() == 6; }, 10000))
        << pushed.size() << " hot texts, " << noticed.size() << " notices";
    EXPECT_EQ(pushed, expected);
    for (const char* item : items) {
        EXPECT_TRUE(noticed.contains(QString::fromLatin1(item))) << item;
        EXPECT_EQ(notify.Request(QString::fromLatin1(item)), expected.at(QString::fromLatin1(item))) << item;
    }
}

TEST_F(MarubetaProgramTest, TopicIsComparedWithoutRegardToCase)
{
    for (const char* topic : {"form1", "FORM1", "Form1"}) {
        LinkClient other;
        EXPECT_TRUE(other.Connect(QStringLiteral("Marubeta"), QString::fromLatin1(topic))) << topic;
        EXPECT_TRUE(other.Execute(QStringLiteral("730")).has_value()) << topic;
    }
    LinkClient refused;
    EXPECT_FALSE(refused.Connect(QStringLiteral("Marubeta"), QStringLiteral("Form2")));
    EXPECT_EQ(refused.LastFailure(), LinkClient::Failure::Refused) << Utf8(refused.ErrorString());
    EXPECT_TRUE(client.IsConnected()) << "a refused conversation leaves the others alone";
    EXPECT_EQ(client.Execute(QStringLiteral("730-0014")), std::optional<std::uint16_t>(0));
}

TEST_F(MarubetaProgramTest, UbinLinkExecutesRequestsAndWatches)
{
    // Hot links from another program: the current texts first, then each change.
    QProcess watch;
    watch.start(QStringLiteral(UBIN_LINK_TOOL), {QStringLiteral("watch"), QStringLiteral("IT1"), QStringLiteral("IT2")});
    QString watched;
    auto readWatch = [&] {
        watched += QString::fromUtf8(watch.readAllStandardOutput());
        return watched;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return readWatch().count(QLatin1Char('\n')) >= 2; }, 10000)) << Utf8(watched);
    EXPECT_EQ(watched, QStringLiteral("IT1\t\nIT2\t\n"));

    const ToolRun exec = RunTool({QStringLiteral("execute"), QStringLiteral("730-0014")});
    EXPECT_EQ(exec.status, 0) << Utf8(exec.err);
    const ToolRun req = RunTool({QStringLiteral("request"), QStringLiteral("IT1"), QStringLiteral("IT2"),
                                 QStringLiteral("IT6")});
    EXPECT_EQ(req.status, 0) << Utf8(req.err);
    EXPECT_EQ(req.out, QStringLiteral("IT1\t730\nIT2\t0014\nIT6\t34101\n"));

    EXPECT_TRUE(QTest::qWaitFor([&] { return readWatch().contains(QStringLiteral("IT2\t0014\n")); }, 10000))
        << Utf8(watched);
    EXPECT_EQ(watched, QStringLiteral("IT1\t\nIT2\t\nIT1\t730\nIT2\t0014\n"));
    watch.terminate();
    watch.waitForFinished(5000);

    const ToolRun refused = RunTool({QStringLiteral("--topic"), QStringLiteral("Other"), QStringLiteral("execute"),
                                     QStringLiteral("730")});
    EXPECT_EQ(refused.status, 1) << "a refused topic, not a missing server";
    const ToolRun unknown = RunTool({QStringLiteral("request"), QStringLiteral("NoSuchElement")});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(Item("IT2"), QStringLiteral("0014")) << "the service goes on after refusals";
}

// Mode 5 cannot be chosen from outside the program, so this case drives a search window here.
TEST(MarubetaLinkWindowTest, CommandInModeFiveLeavesTheModeButtonsAlone)
{
    ubin::test::MarubetaFixture f;
    ubin::MarubetaWindow& window = f.Open();
    const QString service = QStringLiteral("MarubetaLinkTest%1").arg(QCoreApplication::applicationPid());
    ASSERT_TRUE(window.StartLinkSource(service));
    QTest::mouseClick(f.Find<QRadioButton>("Option5"), Qt::LeftButton);
    ASSERT_EQ(window.search().searchMode(), 5);

    LinkClient client;
    ASSERT_TRUE(client.Connect(service, QStringLiteral("form1"))) << Utf8(client.ErrorString());
    EXPECT_EQ(client.Execute(QStringLiteral("730-0014")), std::optional<std::uint16_t>(0));
    EXPECT_EQ(f.Text("IT1"), QStringLiteral("730"));
    EXPECT_EQ(f.Text("IT4"), QStringLiteral("上幟町"));
    EXPECT_EQ(window.search().searchMode(), 1);
    EXPECT_TRUE(f.Find<QRadioButton>("Option5")->isChecked());
    EXPECT_FALSE(f.Find<QWidget>("ITUbin")->isEnabled());
    EXPECT_TRUE(f.errors.empty());
}

// What the user types into a text box of the window reaches the clients linked to it, as the
// logic's own writes do: Text6 (a several-line box) as well as the entry box, also when Escape
// empties the entry box.
TEST(MarubetaLinkWindowTest, TypingInTextBoxesReachesHotAndNotifyLinks)
{
    ubin::test::MarubetaFixture f;
    ubin::MarubetaWindow& window = f.Open();
    const QString service = QStringLiteral("MarubetaTypingTest%1").arg(QCoreApplication::applicationPid());
    ASSERT_TRUE(window.StartLinkSource(service));
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    LinkClient hot;
    LinkClient notify;
    ASSERT_TRUE(hot.Connect(service, QStringLiteral("Form1"))) << Utf8(hot.ErrorString());
    ASSERT_TRUE(notify.Connect(service, QStringLiteral("Form1"))) << Utf8(notify.ErrorString());
    std::map<QString, QString> pushed;
    QStringList noticed;
    QObject::connect(&hot, &LinkClient::ItemData, [&](const QString& item, const QString& text) { pushed[item] = text; });
    QObject::connect(&notify, &LinkClient::ItemChanged, [&](const QString& item) { noticed.push_back(item); });
    for (const char* item : {"Text6", "ITUbin"}) {
        ASSERT_TRUE(hot.Advise(QString::fromLatin1(item), LinkMode::Hot));
        ASSERT_TRUE(notify.Advise(QString::fromLatin1(item), LinkMode::Notify));
    }

    auto* text6 = f.Find<QWidget>("Text6");
    text6->setFocus();
    QTest::keyClicks(text6, QStringLiteral("memo"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return pushed[QStringLiteral("Text6")] == QStringLiteral("memo"); }, 5000))
        << Utf8(pushed[QStringLiteral("Text6")]);
    EXPECT_TRUE(noticed.contains(QStringLiteral("Text6")));
    EXPECT_EQ(notify.Request(QStringLiteral("Text6")), QStringLiteral("memo"));

    auto* entry = f.Find<QWidget>("ITUbin");
    entry->setFocus();
    QTest::keyClicks(entry, QStringLiteral("730"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return pushed[QStringLiteral("ITUbin")] == QStringLiteral("730"); }, 5000));
    QTest::keyClick(entry, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return pushed[QStringLiteral("ITUbin")].isEmpty(); }, 5000))
        << Utf8(pushed[QStringLiteral("ITUbin")]);

    // A shown result writes Text6 once through the logic: one notice, not a second one as if
    // the user had typed it.
    noticed.clear();
    f.TypeAndEnter(QStringLiteral("7300014"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return pushed[QStringLiteral("Text6")].isEmpty(); }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(noticed.count(QStringLiteral("Text6")), 1) << Utf8(noticed.join(' '));
}

// A lookup from the link that cannot read the directory: the client hears why, the window
// shows it in a box that waits for nobody, and the service goes on.
TEST(MarubetaLinkWindowTest, AReadErrorInACommandIsAnsweredAsAnErrorAndShownWithoutBlocking)
{
    ubin::test::TempDir copy;
    for (const auto& e : std::filesystem::directory_iterator(UBIN_SAMPLE_DIR))
        std::filesystem::copy(e.path(), copy.path() / e.path().filename());
    ubin::test::MarubetaFixture f;
    ubin::test::WriteBytes(f.places.currentFolder / "ubscon.def",
                           "\"\",\"\",\"" + copy.path().string() + "/\",0,0,0,0,1,1,1,0,0,0,0,0,\"END\"\r\n");
    ubin::MarubetaWindow& window = f.Open();
    const QString service = QStringLiteral("MarubetaLinkTest%1x2").arg(QCoreApplication::applicationPid());
    ASSERT_TRUE(window.StartLinkSource(service));
    std::filesystem::resize_file(copy / "郵便番号.CSV", 10);

    LinkClient client;
    ASSERT_TRUE(client.Connect(service, QStringLiteral("form1"))) << Utf8(client.ErrorString());
    for (const char* command : {"730-0014", "730"}) {
        EXPECT_FALSE(client.Execute(QString::fromLatin1(command), 3000).has_value()) << command;
        EXPECT_EQ(client.LastFailure(), LinkClient::Failure::Refused) << Utf8(client.ErrorString());
        EXPECT_TRUE(client.ErrorString().contains(QStringLiteral("郵便番号.CSV"))) << Utf8(client.ErrorString());
    }
    EXPECT_TRUE(f.errors.empty()) << "the blocking message box was used: " << Utf8(f.errors.front());

    // One box, not modal, showing the newest message; the service answers meanwhile.
    const auto boxes = window.findChildren<QMessageBox*>();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0]->isVisible());
    EXPECT_FALSE(boxes[0]->isModal());
    EXPECT_TRUE(boxes[0]->text().contains(QStringLiteral("郵便番号.CSV"))) << Utf8(boxes[0]->text());
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(client.Request(QStringLiteral("ITUbin")), QString());
    boxes[0]->close();
}

// SIGTERM ends Marubeta even when its settings cannot be written (a folder stands where the file
// goes): the message goes to standard error, no box waits for a click that never comes.
TEST(MarubetaSignal, SigtermEndsTheProgramEvenWhenTheSettingsCannotBeSaved)
{
    RunningMarubeta marubeta;
    ASSERT_TRUE(marubeta.ready) << "Marubeta did not start its service: " << Utf8(marubeta.Errors());
    std::filesystem::create_directories(marubeta.folders.path() / "config" / "marubeta" / "ubscon.def" / "in-the-way");
    marubeta.process.terminate();
    EXPECT_TRUE(marubeta.process.waitForFinished(10000)) << "Marubeta did not end within 10 s of SIGTERM";
    EXPECT_EQ(marubeta.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(marubeta.process.exitCode(), 0);
    EXPECT_NE(Utf8(marubeta.Errors()).find("設定ファイルを保存できません"), std::string::npos) << Utf8(marubeta.Errors());
}
