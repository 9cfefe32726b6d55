// Piroshen's window with Marubeta's search window serving it in this process (under a service
// name of its own), as a user meets it: start-up with and without Marubeta, sending, clearing,
// and Marubeta going away. The last test starts the real Marubeta program.
#include "samples/piroshen/piroshen_window.h"
#include "tests/marubeta/marubeta_fixture.h"
#include "tests/qt/link/link_test_support.h"

#include "qt/widgets/colours.h"
#include "qt/widgets/twips.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

using ubin::piroshen::PiroshenSetup;
using ubin::piroshen::PiroshenWindow;

namespace {

std::string Utf8(const QString& s) { return s.toStdString(); }

struct Question {
    QString text;
    QString title;
};

class PiroshenTest : public ::testing::Test {
protected:
    PiroshenTest()
    {
        static int counter = 0;
        service = QStringLiteral("PiroshenTest%1x%2").arg(QCoreApplication::applicationPid()).arg(++counter);
        // A program file to find; it is never run (the start is replaced).
        ubin::test::WriteBytes(files / "marubeta", "#!/bin/sh\n");
        setup.marubetaProgram = QString::fromStdString((files / "marubeta").string());
        setup.linkService = service;
        setup.askYesNo = [this](const QString& text, const QString& title) {
            yesNo.push_back({text, title});
            return answerYes;
        };
        setup.askOkCancel = [this](const QString& text, const QString& title) {
            okCancel.push_back({text, title});
            return true;
        };
        setup.startProgram = [this](const QString& program) {
            started.push_back(program);
            return startSucceeds;
        };
    }

    // Marubeta's search window, serving the test's service name.
    ubin::MarubetaWindow& RunMarubeta()
    {
        marubeta = std::make_unique<ubin::test::MarubetaFixture>();
        ubin::MarubetaWindow& window = marubeta->Open();
        EXPECT_TRUE(window.StartLinkSource(service));
        return window;
    }

    PiroshenWindow& Open()
    {
        piroshen = std::make_unique<PiroshenWindow>(setup);
        QSignalSpy finished(piroshen.get(), &PiroshenWindow::startUpFinished);
        piroshen->Start();
        EXPECT_TRUE(finished.count() > 0 || finished.wait(20000)) << "start-up did not finish";
        piroshen->show();
        piroshen->activateWindow();
        QApplication::processEvents();
        return *piroshen;
    }

    template <class W>
    W* Find(const char* name) const
    {
        W* w = piroshen->findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    QString Text(const char* name) const
    {
        QWidget* w = Find<QWidget>(name);
        if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
        if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
        return QStringLiteral("<%1 has no text>").arg(QString::fromLatin1(name));
    }

    QString Status() const { return Text("Label1"); }

    // Types the code into Text8 and sends it as a user does: Enter, then Enter again on the
    // focused button.
    void TypeAndSend(const QString& code)
    {
        piroshen->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(piroshen.get()));
        auto* text8 = Find<QLineEdit>("Text8");
        text8->setFocus();
        text8->selectAll();
        QTest::keyClicks(text8, code);
        QTest::keyClick(text8, Qt::Key_Return);
        ASSERT_EQ(QApplication::focusWidget(), Find<QWidget>("Command9")) << "Enter moves to the send button";
        QTest::keyClick(Find<QWidget>("Command9"), Qt::Key_Return);
    }

    bool WaitForText(const char* name, const QString& text)
    {
        return QTest::qWaitFor([&] { return Text(name) == text; }, 10000);
    }

    ubin::test::TempDir files;
    QString service;
    PiroshenSetup setup;
    bool answerYes = false;
    bool startSucceeds = true;
    std::vector<Question> yesNo;
    std::vector<Question> okCancel;
    QStringList started;
    std::unique_ptr<ubin::test::MarubetaFixture> marubeta;
    std::unique_ptr<PiroshenWindow> piroshen;
};

} // namespace

TEST_F(PiroshenTest, StartsLinkedToARunningMarubetaAndTakesItsTexts)
{
    RunMarubeta();
    marubeta->TypeAndEnter(QStringLiteral("730-0014"));
    ASSERT_EQ(marubeta->Text("IT4"), QStringLiteral("上幟町"));

    Open();
    EXPECT_TRUE(yesNo.empty()) << "nothing is asked when Marubeta answers";
    EXPECT_EQ(piroshen->LinkState(), 1);
    EXPECT_EQ(Status(), QStringLiteral("郵便番号検索 DDE　サンプル"));
    EXPECT_TRUE(Find<QWidget>("Command9")->isEnabled());
    EXPECT_EQ(Text("Text8"), QStringLiteral("730-0014")) << "the text of Marubeta's entry box";
    EXPECT_EQ(Text("Text10"), QStringLiteral("広島市中区"));
    EXPECT_EQ(Text("Text11"), QStringLiteral("上幟町"));
    EXPECT_EQ(Text("Text15"), QStringLiteral("ﾋﾛｼﾏｼﾅｶｸｶﾐﾉﾎﾞﾘﾁｮｳ"));
    EXPECT_EQ(Text("Text18"), QStringLiteral("34101"));
    // The labels are not asked for at start.
    EXPECT_EQ(Text("Label3"), QStringLiteral("L3"));
    EXPECT_EQ(Text("Label4"), QStringLiteral("L4"));
    for (const char* name : {"Label3", "Label4", "Text8", "Text10", "Text11", "Text15", "Text18"})
        EXPECT_EQ(piroshen->Linked(QString::fromLatin1(name))->LinkMode(), 3) << name << " has a notify link";
}

TEST_F(PiroshenTest, SendShowsMarubetasResult)
{
    ubin::MarubetaWindow& window = RunMarubeta();
    Open();
    ASSERT_EQ(piroshen->LinkState(), 1);

    TypeAndSend(QStringLiteral("7300014"));
    EXPECT_EQ(piroshen->LinkState(), 2);
    EXPECT_TRUE(WaitForText("Text18", QStringLiteral("34101")) && WaitForText("Label4", QStringLiteral("0014")))
        << Utf8(Text("Label3")) << "-" << Utf8(Text("Label4"));
    EXPECT_EQ(Text("Label3"), QStringLiteral("730"));
    EXPECT_EQ(Text("Text10"), QStringLiteral("広島市中区"));
    EXPECT_EQ(Text("Text11"), QStringLiteral("上幟町"));
    EXPECT_EQ(Text("Text15"), QStringLiteral("ﾋﾛｼﾏｼﾅｶｸｶﾐﾉﾎﾞﾘﾁｮｳ"));
    EXPECT_EQ(Text("Text8"), QStringLiteral("7300014")) << "the entry keeps what was typed";
    EXPECT_EQ(marubeta->Text("ITUbin"), QString()) << "Marubeta's entry box is not touched";
    EXPECT_EQ(window.search().searchMode(), 1);

}

// The notices of a lookup may reach Piroshen before the answer to its command does; they are
// acted on once the send has finished.
TEST_F(PiroshenTest, NoticesArrivingDuringTheSendAreActedOnAfterIt)
{
    ubin::link::test::ServedWindow served(service);
    for (const char* item : {"ITUbin", "IT3", "IT4", "IT5", "IT6"}) served.items[QString::fromLatin1(item)] = QString();
    ASSERT_TRUE(served.server.Listen()) << Utf8(served.server.ErrorString());
    Open();
    ASSERT_EQ(piroshen->LinkState(), 1);

    bool noticedBeforeAnswer = false;
    served.onExecute = [&](const QString&) {
        QSignalSpy notice(piroshen->Linked(QStringLiteral("Label3")), &ubin::link::LinkedElement::LinkNotify);
        served.Set(QStringLiteral("IT1"), QStringLiteral("100"));
        served.Set(QStringLiteral("IT2"), QStringLiteral("0001"));
        served.Set(QStringLiteral("IT4"), QStringLiteral("千代田"));
        noticedBeforeAnswer = notice.wait(5000);
    };
    TypeAndSend(QStringLiteral("1000001"));
    ASSERT_TRUE(noticedBeforeAnswer);
    EXPECT_EQ(served.commands, QStringList{QStringLiteral("1000001")});
    EXPECT_EQ(piroshen->LinkState(), 2);
    EXPECT_TRUE(WaitForText("Text11", QStringLiteral("千代田")));
    EXPECT_EQ(Text("Label3"), QStringLiteral("100"));
    EXPECT_EQ(Text("Label4"), QStringLiteral("0001"));
}

TEST_F(PiroshenTest, ClearEmptiesTheFieldsAndIgnoresNoticesUntilTheNextSend)
{
    RunMarubeta();
    Open();
    TypeAndSend(QStringLiteral("730-0014"));
    ASSERT_TRUE(WaitForText("Text11", QStringLiteral("上幟町")));

    QTest::mouseClick(Find<QWidget>("Command1"), Qt::LeftButton);
    for (const char* name : {"Text8", "Text10", "Text11", "Text15", "Text18", "Label3", "Label4"})
        EXPECT_EQ(Text(name), QString()) << name;
    EXPECT_EQ(piroshen->LinkState(), 1);
    EXPECT_EQ(QApplication::focusWidget(), Find<QWidget>("Text8"));
    EXPECT_EQ(marubeta->Text("IT4"), QStringLiteral("上幟町")) << "nothing is sent to Marubeta";

    // A lookup in Marubeta's own window: its notices reach Piroshen and are ignored.
    QSignalSpy label3(piroshen->Linked(QStringLiteral("Label3")), &ubin::link::LinkedElement::LinkNotify);
    QSignalSpy label4(piroshen->Linked(QStringLiteral("Label4")), &ubin::link::LinkedElement::LinkNotify);
    marubeta->window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(marubeta->window.get()));
    marubeta->TypeAndEnter(QStringLiteral("0100043"));
    ASSERT_EQ(marubeta->Text("IT4"), QStringLiteral("桜ガ丘"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return label3.count() > 0 && label4.count() > 0; }, 10000));
    QApplication::processEvents();
    for (const char* name : {"Text10", "Text11", "Text15", "Text18", "Label3", "Label4"})
        EXPECT_EQ(Text(name), QString()) << name;
    EXPECT_EQ(piroshen->LinkState(), 1);

    // The next send acts on the notices again.
    TypeAndSend(QStringLiteral("730-0002"));
    EXPECT_TRUE(WaitForText("Text11", QStringLiteral("白島中町")));
    EXPECT_EQ(Text("Label4"), QStringLiteral("0002"));
}

TEST_F(PiroshenTest, MissingProgramFileDisablesSending)
{
    std::filesystem::remove(files / "marubeta");
    RunMarubeta(); // running, but its program file is not where Piroshen looks
    Open();
    EXPECT_EQ(Status(), QStringLiteral("郵便番号簿がありません"));
    EXPECT_FALSE(Find<QWidget>("Command9")->isEnabled());
    EXPECT_EQ(piroshen->LinkState(), 0);
    EXPECT_TRUE(yesNo.empty());
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(piroshen->Linked(QStringLiteral("Text8"))->LinkMode(), 0) << "no link is tried";

    // The entry is first in the tab order; with sending disabled, Enter in it does nothing.
    auto* text8 = Find<QLineEdit>("Text8");
    ASSERT_TRUE(QTest::qWaitForWindowActive(piroshen.get()));
    EXPECT_EQ(QApplication::focusWidget(), text8);
    QTest::keyClick(text8, Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), text8);

    // The design texts stay as they are.
    EXPECT_EQ(piroshen->windowTitle(), QStringLiteral("郵便番号検索 DDE　サンプル"));
    EXPECT_EQ(Text("Label6_1"), QStringLiteral("          2"));
    EXPECT_EQ(Text("Text11"), QStringLiteral("Text11"));
    EXPECT_EQ(ubin::widgets::ToBgr(piroshen->palette().color(QPalette::Window)), ubin::widgets::Rgb(192, 192, 192));
    const ubin::widgets::Dpi dpi = ubin::widgets::LogicalDpi(piroshen.get());
    EXPECT_EQ(piroshen->size(), ubin::widgets::TwipsToPixels(QSize(7125, 3300), dpi));

    // An empty program file counts as missing too.
    ubin::test::WriteBytes(files / "marubeta", "");
    piroshen.reset();
    Open();
    EXPECT_EQ(Status(), QStringLiteral("郵便番号簿がありません"));
    EXPECT_FALSE(Find<QWidget>("Command9")->isEnabled());
}

TEST_F(PiroshenTest, DecliningToStartMarubetaDisablesSending)
{
    answerYes = false;
    Open();
    ASSERT_EQ(yesNo.size(), 1u);
    EXPECT_EQ(yesNo[0].text, QStringLiteral("郵便番号簿を起動しますか"));
    EXPECT_EQ(yesNo[0].title, QStringLiteral("郵便番号簿が動作していません"));
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(Status(), QStringLiteral("郵便番号簿なしのまま開始します"));
    EXPECT_FALSE(Find<QWidget>("Command9")->isEnabled());
    EXPECT_EQ(piroshen->LinkState(), 0);
}

TEST_F(PiroshenTest, MarubetaThatCannotBeStartedIsReported)
{
    answerYes = true;
    startSucceeds = false;
    Open();
    EXPECT_EQ(started, QStringList{setup.marubetaProgram});
    ASSERT_EQ(okCancel.size(), 1u);
    // The text as given, then the program that failed and how to find out why.
    EXPECT_TRUE(okCancel[0].text.startsWith(QStringLiteral("郵便番号簿は異常です\n\n郵便番号簿なしのまま開始します\n\n")))
        << Utf8(okCancel[0].text);
    EXPECT_TRUE(okCancel[0].text.contains(setup.marubetaProgram)) << Utf8(okCancel[0].text);
    EXPECT_EQ(okCancel[0].title, QString());
    EXPECT_EQ(Status(), QStringLiteral("Label1"));
    EXPECT_TRUE(Find<QWidget>("Command9")->isEnabled());
    EXPECT_EQ(piroshen->LinkState(), 0);
}

TEST_F(PiroshenTest, StartedMarubetaIsWaitedForUntilItServes)
{
    answerYes = true;
    // Marubeta opens its service a while after it was started.
    setup.startProgram = [this](const QString& program) {
        started.push_back(program);
        QTimer::singleShot(700, [this] { RunMarubeta(); });
        return true;
    };
    Open();
    EXPECT_EQ(started.size(), 1u);
    EXPECT_EQ(piroshen->LinkState(), 1);
    EXPECT_EQ(Status(), QStringLiteral("郵便番号検索 DDE　サンプル"));
    EXPECT_EQ(Text("Text8"), QString()) << "the texts were requested once linked";
    EXPECT_EQ(Text("Text10"), QString());
    EXPECT_TRUE(okCancel.empty());
}

TEST_F(PiroshenTest, StartedMarubetaThatNeverServesIsGivenUp)
{
    answerYes = true;
    setup.retryForMs = 600;
    Open();
    EXPECT_EQ(started.size(), 1u);
    EXPECT_FALSE(piroshen->IsStartingUp());
    EXPECT_EQ(piroshen->LinkState(), 0);
    EXPECT_EQ(Status(), QStringLiteral("Label1"));
    EXPECT_EQ(Text("Text8"), QStringLiteral("Text8"));
}

TEST_F(PiroshenTest, MarubetaEndedWhileLinked)
{
    RunMarubeta();
    Open();
    TypeAndSend(QStringLiteral("730-0014"));
    ASSERT_TRUE(WaitForText("Text11", QStringLiteral("上幟町")));
    ASSERT_EQ(piroshen->LinkState(), 2);

    marubeta->window.reset(); // Marubeta ends; its service with it
    piroshen->RefreshResults();
    EXPECT_EQ(piroshen->LinkState(), 0);
    EXPECT_EQ(Status(), QStringLiteral("郵便番号簿との接続が切れました"));
    EXPECT_EQ(Text("Label3"), QStringLiteral("730")) << "the last result stays";
    EXPECT_EQ(Text("Text11"), QStringLiteral("上幟町"));
    EXPECT_EQ(Text("Text8"), QStringLiteral("730-0014"));

    // A send now fails: the button stays usable and the state stays 0.
    QTest::mouseClick(Find<QWidget>("Command9"), Qt::LeftButton);
    EXPECT_EQ(piroshen->LinkState(), 0);
    EXPECT_TRUE(Find<QWidget>("Command9")->isEnabled());
}

// The real Marubeta program, started by Piroshen from the program file beside it, in folders of
// its own (current folder with the settings file, settings folder, socket folder).
TEST(PiroshenWithMarubetaProgramTest, StartsMarubetaAndLooksUpThroughIt)
{
    ubin::test::TempDir folders;
    const auto current = folders / "cur";
    std::filesystem::create_directories(current);
    std::filesystem::create_directories(folders / "config");
    std::filesystem::create_directories(folders / "tmp");
    std::filesystem::create_directories(folders / "run");
    std::filesystem::permissions(folders / "run", std::filesystem::perms::owner_all);
    ubin::test::WriteBytes(current / "ubscon.def", "\"r1\",\"r2\",\"" + std::string(UBIN_SAMPLE_DIR)
                                                       + "\",0,1200,900,0,1,1,1,0,0,0,7,8,\"END\"\r\n");
    const QString oldCurrent = QDir::currentPath();
    const QByteArray oldTmp = qgetenv("TMPDIR");
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    QDir::setCurrent(QString::fromStdString(current.string()));
    qputenv("TMPDIR", QByteArray::fromStdString((folders / "tmp").string()));
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString((folders / "run").string()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((folders / "config").string()));

    const QString program = QStringLiteral(UBIN_MARUBETA);
    PiroshenSetup setup;
    setup.marubetaProgram = ubin::piroshen::MarubetaBeside(QFileInfo(program).absolutePath());
    EXPECT_EQ(setup.marubetaProgram, program);
    int questions = 0;
    setup.askYesNo = [&](const QString&, const QString&) { return ++questions, true; };
    setup.askOkCancel = [&](const QString& text, const QString&) {
        ADD_FAILURE() << Utf8(text);
        return true;
    };
    qint64 pid = 0;
    setup.startProgram = [&](const QString& file) { return ubin::piroshen::StartMinimised(file, &pid); };

    {
        PiroshenWindow piroshen(setup);
        QSignalSpy finished(&piroshen, &PiroshenWindow::startUpFinished);
        piroshen.Start();
        EXPECT_TRUE(finished.count() > 0 || finished.wait(20000));
        piroshen.show();
        EXPECT_EQ(questions, 1);
        EXPECT_GT(pid, 0);
        EXPECT_EQ(piroshen.LinkState(), 1);
        EXPECT_EQ(piroshen.findChild<QLabel*>(QStringLiteral("Label1"))->text(),
                  QStringLiteral("郵便番号検索 DDE　サンプル"));

        auto* text8 = piroshen.findChild<QLineEdit*>(QStringLiteral("Text8"));
        auto* text11 = piroshen.findChild<QLineEdit*>(QStringLiteral("Text11"));
        auto* command9 = piroshen.findChild<QPushButton*>(QStringLiteral("Command9"));
        text8->setText(QStringLiteral("730-0014"));
        QTest::mouseClick(command9, Qt::LeftButton);
        EXPECT_EQ(piroshen.LinkState(), 2);
        EXPECT_TRUE(QTest::qWaitFor([&] { return text11->text() == QStringLiteral("上幟町"); }, 10000))
            << Utf8(text11->text());

        // Marubeta ends: the next send fails.
        if (pid > 0) ::kill(static_cast<pid_t>(pid), SIGTERM);
        EXPECT_TRUE(QTest::qWaitFor([&] { return piroshen.Linked(QStringLiteral("Text8"))->LinkMode() == 0; }, 10000));
        QTest::mouseClick(command9, Qt::LeftButton);
        EXPECT_EQ(piroshen.LinkState(), 0);
    }

    // Marubeta shuts down on SIGTERM; one that does not is ended for good.
    if (pid > 0 && !QTest::qWaitFor([&] { return ::kill(static_cast<pid_t>(pid), 0) != 0; }, 10000)) {
        ADD_FAILURE() << "Marubeta did not end on SIGTERM";
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
    QDir::setCurrent(oldCurrent);
    qputenv("TMPDIR", oldTmp);
    qputenv("XDG_RUNTIME_DIR", oldRuntime);
    qputenv("XDG_CONFIG_HOME", oldConfig);
}
