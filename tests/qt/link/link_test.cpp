// The server and the client over real local sockets, in one thread: conversations, requests,
// execute commands, hot and notify links, refusals, and clients that misbehave.
#include "qt/link/link_client.h"
#include "qt/link/link_server.h"
#include "qt/link/linked_element.h"
#include "tests/qt/link/link_test_support.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QSignalSpy>
#include <QTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

#if defined(Q_OS_LINUX)
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

using namespace ubin::link;
using namespace ubin::link::test;

namespace {

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(window.server.Listen()) << window.server.ErrorString().toStdString(); }

    QString service = UniqueService();
    ServedWindow window{service};
};

QStringList Texts(const QSignalSpy& spy, int arg)
{
    QStringList out;
    for (const auto& call : spy) out << call.at(arg).toString();
    return out;
}

} // namespace

TEST_F(LinkTest, RequestAndExecuteOverOneConversation)
{
    QSignalSpy opened(&window.server, &LinkServer::ConversationOpened);
    LinkClient client;
    ASSERT_TRUE(client.Connect(service + QStringLiteral("|Form1"))) << client.ErrorString().toStdString();
    EXPECT_EQ(opened.count(), 1);

    EXPECT_EQ(client.Request(QStringLiteral("Text6")), QStringLiteral("広島県"));
    EXPECT_EQ(client.Request(QStringLiteral("it1")), QStringLiteral("730"));
    EXPECT_FALSE(client.Request(QStringLiteral("IT9")).has_value());
    EXPECT_EQ(client.LastFailure(), LinkClient::Failure::Refused);
    EXPECT_TRUE(client.ErrorString().contains(QStringLiteral("IT9")));
    EXPECT_TRUE(client.IsConnected()) << "an unknown item does not end the conversation";

    EXPECT_EQ(client.Execute(QStringLiteral("730-0014")), std::optional<std::uint16_t>(0));
    window.flag = 5;
    EXPECT_EQ(client.Execute(QStringLiteral(" 730")), std::optional<std::uint16_t>(5));
    EXPECT_EQ(window.commands, (QStringList{QStringLiteral("730-0014"), QStringLiteral(" 730")}));

    // The same through the asynchronous calls.
    QSignalSpy requested(&client, &LinkClient::RequestFinished);
    QSignalSpy executed(&client, &LinkClient::ExecuteFinished);
    const auto r1 = client.RequestAsync(QStringLiteral("IT2"));
    const auto r2 = client.RequestAsync(QStringLiteral("nothing"));
    const auto e1 = client.ExecuteAsync(QStringLiteral("1000001"));
    ASSERT_TRUE(Eventually([&] { return requested.count() == 2; })) << requested.count();
    ASSERT_TRUE(Eventually([&] { return executed.count() == 1; })) << executed.count();
    EXPECT_EQ(requested.at(0).at(0).toUInt(), r1);
    EXPECT_TRUE(requested.at(0).at(1).toBool());
    EXPECT_EQ(requested.at(0).at(3).toString(), QStringLiteral("0014"));
    EXPECT_EQ(requested.at(1).at(0).toUInt(), r2);
    EXPECT_FALSE(requested.at(1).at(1).toBool());
    EXPECT_EQ(executed.at(0).at(0).toUInt(), e1);
    EXPECT_EQ(executed.at(0).at(2).toUInt(), 5u);

    QSignalSpy closed(&window.server, &LinkServer::ConversationClosed);
    client.Disconnect();
    EXPECT_TRUE(closed.wait(5000));
}

TEST_F(LinkTest, HotAndNotifyLinksSeeEveryChangeInOrder)
{
    LinkClient hot;
    LinkClient notify;
    ASSERT_TRUE(hot.Connect(service, QStringLiteral("Form1")));
    ASSERT_TRUE(notify.Connect(service, QStringLiteral("Form1")));
    QString current;
    ASSERT_TRUE(hot.Advise(QStringLiteral("IT1"), LinkMode::Hot, &current));
    EXPECT_EQ(current, QStringLiteral("730"));
    ASSERT_TRUE(hot.Advise(QStringLiteral("IT2"), LinkMode::Hot));
    ASSERT_TRUE(notify.Advise(QStringLiteral("it1"), LinkMode::Notify));
    EXPECT_FALSE(notify.Advise(QStringLiteral("IT9"), LinkMode::Notify));
    EXPECT_FALSE(notify.Advise(QStringLiteral("IT2"), LinkMode::Manual)) << "only hot and notify are links";

    QSignalSpy data(&hot, &LinkClient::ItemData);
    QSignalSpy notices(&notify, &LinkClient::ItemChanged);
    QStringList seenByNotify;
    QObject::connect(&notify, &LinkClient::ItemChanged, &notify, [&](const QString& item) {
        // A notify link fetches the text when told; it sees the newest text.
        seenByNotify << notify.Request(item).value_or(QStringLiteral("?"));
    });

    // An execute command changes the items as a window does, before it answers.
    window.onExecute = [&](const QString&) {
        window.Set(QStringLiteral("IT1"), QStringLiteral("100"));
        window.Set(QStringLiteral("IT2"), QStringLiteral("0001"));
        window.Set(QStringLiteral("Text6"), QStringLiteral("not linked"));
    };
    EXPECT_EQ(hot.Execute(QStringLiteral("1000001")), std::optional<std::uint16_t>(0));
    for (int i = 0; i < 5; ++i) window.Set(QStringLiteral("IT1"), QString::number(i));

    ASSERT_TRUE(Eventually([&] { return data.count() == 7; })) << data.count();
    ASSERT_TRUE(Eventually([&] { return notices.count() == 6; })) << notices.count();
    EXPECT_EQ(Texts(data, 0), (QStringList{"IT1", "IT2", "IT1", "IT1", "IT1", "IT1", "IT1"}));
    EXPECT_EQ(Texts(data, 1), (QStringList{"100", "0001", "0", "1", "2", "3", "4"}));
    EXPECT_EQ(Texts(notices, 0), QStringList(6, QStringLiteral("it1"))) << "notices name the item as it was linked";
    EXPECT_EQ(seenByNotify.size(), 6);
    EXPECT_EQ(seenByNotify.last(), QStringLiteral("4"));

    ASSERT_TRUE(hot.Unadvise(QStringLiteral("IT1")));
    window.Set(QStringLiteral("IT1"), QStringLiteral("after"));
    window.Set(QStringLiteral("IT2"), QStringLiteral("last"));
    ASSERT_TRUE(Eventually([&] { return data.count() == 8; })) << data.count();
    EXPECT_EQ(data.last().at(1).toString(), QStringLiteral("last")) << "IT1 is no longer linked";
}

TEST_F(LinkTest, TopicIsComparedWithoutCaseAndUnknownTopicsAreRefused)
{
    LinkClient client;
    EXPECT_TRUE(client.Connect(service.toUpper() + QStringLiteral("|form1"))) << client.ErrorString().toStdString();
    EXPECT_EQ(client.Request(QStringLiteral("IT1")), QStringLiteral("730"));

    QSignalSpy errors(&window.server, &LinkServer::LinkError);
    LinkClient other;
    EXPECT_FALSE(other.Connect(service, QStringLiteral("Form2")));
    EXPECT_EQ(other.LastFailure(), LinkClient::Failure::Refused);
    EXPECT_TRUE(other.ErrorString().contains(QStringLiteral("Form2"))) << other.ErrorString().toStdString();
    EXPECT_FALSE(other.IsConnected());
    EXPECT_GE(errors.count(), 1);
    EXPECT_FALSE(other.Connect(service + QStringLiteral("Form1"))) << "no bar between application and topic";
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(window.server.ConversationCount(), 1);
}

TEST(LinkNoServerTest, ConnectingFailsWhenNobodyServes)
{
    const QString service = UniqueService();
    LinkClient client;
    EXPECT_FALSE(client.Connect(service, QStringLiteral("Form1")));
    EXPECT_EQ(client.LastFailure(), LinkClient::Failure::NoServer);
    EXPECT_FALSE(client.Request(QStringLiteral("IT1")).has_value());
    EXPECT_FALSE(client.Execute(QStringLiteral("1")).has_value());

    LinkedElement element(QStringLiteral("IT1"));
    element.SetLinkTopic(service + QStringLiteral("|form1"));
    EXPECT_FALSE(element.SetLinkMode(3));
    EXPECT_EQ(element.LinkMode(), 0);
    EXPECT_FALSE(element.ErrorString().isEmpty());
    EXPECT_FALSE(element.LinkRequest());
    EXPECT_FALSE(element.LinkExecute(QStringLiteral("7300014")));
    EXPECT_FALSE(element.LastAcceptanceFlag().has_value());
}

TEST_F(LinkTest, ASecondServerOnTheNameIsRefusedAndTheFirstKeepsItsConversations)
{
    LinkClient client;
    ASSERT_TRUE(client.Connect(service, QStringLiteral("Form1")));
    ASSERT_TRUE(client.Advise(QStringLiteral("IT1"), LinkMode::Hot));
    QSignalSpy data(&client, &LinkClient::ItemData);
    {
        ServedWindow second(service);
        second.items[QStringLiteral("IT1")] = QStringLiteral("second");
        EXPECT_FALSE(second.server.Listen());
        EXPECT_FALSE(second.server.IsListening());
        EXPECT_TRUE(second.server.ErrorString().contains(QStringLiteral("already served")))
            << second.server.ErrorString().toStdString();
    }
    // The second server is gone; the first one still serves old and new clients.
    window.Set(QStringLiteral("IT1"), QStringLiteral("still here"));
    ASSERT_TRUE(Eventually([&] { return data.count() == 1; })) << data.count();
    EXPECT_EQ(data.at(0).at(1).toString(), QStringLiteral("still here"));
    LinkClient late;
    ASSERT_TRUE(late.Connect(service, QStringLiteral("Form1"))) << late.ErrorString().toStdString();
    EXPECT_EQ(late.Request(QStringLiteral("IT1")), QStringLiteral("still here"));
}

#if defined(Q_OS_LINUX)
TEST(LinkStaleSocketTest, ASocketFileNobodyListensOnIsTakenOver)
{
    const QString service = UniqueService();
    ASSERT_TRUE(CheckLinkSocketFolder(true, nullptr));
    const QByteArray path = QFile::encodeName(LinkSocketName(service));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(static_cast<std::size_t>(path.size()), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);  // the file stays, as after a crash

    ServedWindow window(service);
    ASSERT_TRUE(window.server.Listen()) << window.server.ErrorString().toStdString();
    LinkClient client;
    ASSERT_TRUE(client.Connect(service, QStringLiteral("Form1")));
    EXPECT_EQ(client.Request(QStringLiteral("IT2")), QStringLiteral("0014"));
}
#endif

TEST_F(LinkTest, FramesOutOfOrderAreAnsweredWithErrorsAndBadBytesCloseTheConnection)
{
    QSignalSpy errors(&window.server, &LinkServer::LinkError);
    RawPeer peer(service);
    ASSERT_TRUE(peer.Connected());

    peer.Send(Frame{FrameType::Request, 0, 11, "IT1", ""});
    auto f = peer.Next();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->type, FrameType::Error);
    EXPECT_EQ(f->value, static_cast<std::uint16_t>(ErrorCode::OutOfOrder));
    EXPECT_EQ(f->id, 11u);

    peer.Send(Frame{FrameType::Initiate, 0, 12, "FORM1", ""});
    f = peer.Next();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->type, FrameType::InitiateAck);
    EXPECT_EQ(f->name, "Form1");
    EXPECT_EQ(f->id, 12u);

    peer.Send(Frame{FrameType::Initiate, 0, 13, "Form1", ""});
    f = peer.Next();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->value, static_cast<std::uint16_t>(ErrorCode::OutOfOrder));

    peer.Send(Frame{FrameType::HotData, 0, 14, "IT1", "x"});
    f = peer.Next();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->value, static_cast<std::uint16_t>(ErrorCode::OutOfOrder)) << "HotData is the server's to send";

    std::string unknown = EncodeFrame(Frame{FrameType::Request, 0, 15, "IT1", ""});
    unknown[5] = 77;
    peer.Write(unknown);
    f = peer.Next();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->value, static_cast<std::uint16_t>(ErrorCode::UnknownType));
    EXPECT_EQ(f->id, 15u);

    peer.Send(Frame{FrameType::Request, 0, 16, "IT1", ""});
    f = peer.Next();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->type, FrameType::Data) << "the conversation went on after every refusal";
    EXPECT_EQ(f->text, "730");

    // A length beyond the limit: an error, then the connection is closed.
    peer.Write(std::string("\x00\x10\x00\x00", 4));
    f = peer.Next();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->value, static_cast<std::uint16_t>(ErrorCode::TooLarge));
    EXPECT_TRUE(peer.ClosedByServer());
    EXPECT_EQ(errors.count(), 5);
    ASSERT_TRUE(Eventually([&] { return window.server.ConversationCount() == 0; })) << window.server.ConversationCount();
}

TEST_F(LinkTest, LinkedElementsBehaveAsLinkedLabelsAndTextBoxes)
{
    const QString topic = service + QStringLiteral("|form1");
    LinkedElement hot(QStringLiteral("IT1"));
    LinkedElement notify(QStringLiteral("IT2"));
    LinkedElement manual(QStringLiteral("ITUbin"));
    hot.SetLinkTopic(topic);
    notify.SetLinkTopic(topic);
    manual.SetLinkTopic(topic);
    window.items[QStringLiteral("ITUbin")] = QStringLiteral("typed");

    ASSERT_TRUE(hot.SetLinkMode(1)) << hot.ErrorString().toStdString();
    EXPECT_EQ(hot.Text(), QStringLiteral("730")) << "a hot link takes the text at once";
    ASSERT_TRUE(notify.SetLinkMode(3));
    EXPECT_EQ(notify.Text(), QString()) << "a notify link waits for a request";
    ASSERT_TRUE(manual.SetLinkMode(2));
    EXPECT_FALSE(manual.SetLinkMode(4));
    EXPECT_EQ(manual.LinkMode(), 0);
    ASSERT_TRUE(manual.SetLinkMode(2));

    QSignalSpy hotText(&hot, &LinkedElement::TextChanged);
    QSignalSpy notices(&notify, &LinkedElement::LinkNotify);
    window.onExecute = [&](const QString& command) {
        window.Set(QStringLiteral("IT1"), command.left(3));
        window.Set(QStringLiteral("IT2"), command.mid(3));
    };
    EXPECT_TRUE(manual.LinkExecute(QStringLiteral("1000001")));
    EXPECT_EQ(manual.LastAcceptanceFlag(), std::optional<std::uint16_t>(0));
    ASSERT_TRUE(Eventually([&] { return hotText.count() == 1; })) << hotText.count();
    EXPECT_EQ(hot.Text(), QStringLiteral("100"));
    ASSERT_TRUE(Eventually([&] { return notices.count() == 1; })) << notices.count();
    EXPECT_EQ(notify.Text(), QString()) << "a notice alone does not change the text";
    EXPECT_TRUE(notify.LinkRequest());
    EXPECT_EQ(notify.Text(), QStringLiteral("0001"));
    EXPECT_TRUE(manual.LinkRequest());
    EXPECT_EQ(manual.Text(), QStringLiteral("typed"));

    window.flag = 1;
    EXPECT_FALSE(manual.LinkExecute(QStringLiteral("1")));
    EXPECT_EQ(manual.LastAcceptanceFlag(), std::optional<std::uint16_t>(1));

    // An unknown item cannot be linked hot or notify.
    LinkedElement missing(QStringLiteral("IT9"));
    missing.SetLinkTopic(topic);
    EXPECT_FALSE(missing.SetLinkMode(3));
    EXPECT_EQ(missing.LinkMode(), 0);

    // Changing the topic closes the link.
    hot.SetLinkTopic(service + QStringLiteral("|other"));
    EXPECT_EQ(hot.LinkMode(), 0);
    EXPECT_FALSE(hot.SetLinkMode(1));

    // The server goes away: every linked element hears it and is unlinked.
    QSignalSpy closed(&notify, &LinkedElement::LinkClosed);
    window.server.Close();
    EXPECT_TRUE(closed.wait(5000));
    EXPECT_EQ(notify.LinkMode(), 0);
    ASSERT_TRUE(Eventually([&] { return manual.LinkMode() == 0; }));
    EXPECT_FALSE(manual.LinkExecute(QStringLiteral("7300014")));
}

TEST_F(LinkTest, TwentyClientsKeepTheirLinksWhileOneSendsGarbageAndOneLeavesMidFrame)
{
    constexpr int kGood = 18;
    std::vector<std::unique_ptr<LinkClient>> clients;
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (int i = 0; i < kGood; ++i) {
        auto c = std::make_unique<LinkClient>();
        ASSERT_TRUE(c->Connect(service, QStringLiteral("Form1"))) << i << c->ErrorString().toStdString();
        // Half hot, half notify, on IT1 and Text6.
        const LinkMode mode = i % 2 ? LinkMode::Notify : LinkMode::Hot;
        ASSERT_TRUE(c->Advise(QStringLiteral("IT1"), mode));
        ASSERT_TRUE(c->Advise(QStringLiteral("Text6"), mode));
        spies.push_back(std::make_unique<QSignalSpy>(
            c.get(), mode == LinkMode::Hot ? QMetaMethod::fromSignal(&LinkClient::ItemData)
                                           : QMetaMethod::fromSignal(&LinkClient::ItemChanged)));
        clients.push_back(std::move(c));
    }
    RawPeer garbage(service);
    RawPeer leaver(service);
    ASSERT_TRUE(garbage.Connected());
    ASSERT_TRUE(leaver.Connected());
    leaver.Send(Frame{FrameType::Initiate, 0, 1, "Form1", ""});
    ASSERT_TRUE(leaver.Next());
    leaver.Send(Frame{FrameType::Advise, 1, 2, "IT1", ""});
    ASSERT_TRUE(leaver.Next());
    ASSERT_TRUE(Eventually([&] { return window.server.ConversationCount() == kGood + 1; })) << window.server.ConversationCount();

    constexpr int kChanges = 40;
    for (int n = 0; n < kChanges; ++n) {
        window.Set(n % 2 ? QStringLiteral("Text6") : QStringLiteral("IT1"), QStringLiteral("change %1").arg(n));
        if (n == 10) {
            garbage.Write(std::string("\x00\x00\x00\x20 this is not a frame at all....", 36));
        }
        if (n == 20) {
            const std::string half = EncodeFrame(Frame{FrameType::Request, 0, 3, "IT1", ""});
            leaver.Write(half.substr(0, half.size() / 2));
            leaver.socket.abort();
        }
        if (n % 8 == 0) QCoreApplication::processEvents();
    }

    EXPECT_TRUE(garbage.ClosedByServer());
    ASSERT_TRUE(Eventually([&] { return window.server.ConversationCount() == kGood; })) << window.server.ConversationCount();
    for (int i = 0; i < kGood; ++i) {
        QSignalSpy& spy = *spies[static_cast<std::size_t>(i)];
        ASSERT_TRUE(Eventually([&] { return spy.count() == kChanges; })) << spy.count();
        for (int n = 0; n < kChanges; ++n) {
            EXPECT_EQ(spy.at(n).at(0).toString(), n % 2 ? QStringLiteral("Text6") : QStringLiteral("IT1"));
            if (i % 2 == 0) {
                EXPECT_EQ(spy.at(n).at(1).toString(), QStringLiteral("change %1").arg(n)) << i;
            }
        }
        EXPECT_TRUE(clients[static_cast<std::size_t>(i)]->IsConnected());
        EXPECT_EQ(clients[static_cast<std::size_t>(i)]->Request(QStringLiteral("IT1")), QStringLiteral("change 38"));
    }
}

TEST_F(LinkTest, ACommandThatFailsIsAnsweredWithAnErrorFrameAndTheConversationGoesOn)
{
    const std::string why = "郵便番号.CSV: the file ends before byte 4097 (it is shorter than when it was opened)";
    window.onExecute = [&](const QString& command) {
        if (command == QStringLiteral("fail")) throw std::runtime_error(why);
    };
    QSignalSpy errors(&window.server, &LinkServer::LinkError);
    RawPeer peer(service);
    ASSERT_TRUE(peer.Connected());
    peer.Send(Frame{FrameType::Initiate, 0, 1, "Form1", ""});
    ASSERT_TRUE(peer.Next());
    peer.Send(Frame{FrameType::Execute, 0, 21, "", "fail"});
    auto f = peer.Next();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->type, FrameType::Error);
    EXPECT_EQ(f->value, static_cast<std::uint16_t>(ErrorCode::ExecuteFailed));
    EXPECT_EQ(f->id, 21u);
    EXPECT_EQ(f->text, why);
    EXPECT_EQ(errors.count(), 1);
    peer.Send(Frame{FrameType::Execute, 0, 22, "", "7300014"});
    f = peer.Next();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->type, FrameType::ExecuteResult) << "the conversation goes on";
    EXPECT_EQ(f->id, 22u);

    // Through the client library: no acceptance flag, the server's reason, still connected.
    LinkClient client;
    ASSERT_TRUE(client.Connect(service, QStringLiteral("Form1")));
    EXPECT_FALSE(client.Execute(QStringLiteral("fail")).has_value());
    EXPECT_EQ(client.LastFailure(), LinkClient::Failure::Refused);
    EXPECT_TRUE(client.ErrorString().contains(QString::fromStdString(why))) << client.ErrorString().toStdString();
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(client.Request(QStringLiteral("IT1")), QStringLiteral("730"));
}

TEST_F(LinkTest, AConversationBusyPastTheTimeoutIsClosedAndStopsCountingWhileItsHandlerStillRuns)
{
    window.server.SetBusyTimeout(300);
    // The handler waits on something that never comes (as a message box nobody closes would),
    // running the event loop meanwhile; it lets go only when the test has seen what it needs.
    int connectionsWhileStuck = -1;
    std::optional<QString> servedWhileStuck;
    bool closedWhileStuck = false;
    window.onExecute = [&](const QString&) {
        QEventLoop stuck;
        QObject::connect(&window.server, &LinkServer::ConversationClosed, &stuck, [&] { closedWhileStuck = true; });
        QTimer::singleShot(5000, &stuck, &QEventLoop::quit);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &stuck, [&] {
            if (closedWhileStuck && window.server.ConnectionCount() == 0) stuck.quit();
        });
        poll.start(20);
        stuck.exec();
        connectionsWhileStuck = window.server.ConnectionCount();
        LinkClient other;
        if (other.Connect(service, QStringLiteral("Form1"))) servedWhileStuck = other.Request(QStringLiteral("IT2"));
    };

    RawPeer peer(service);
    ASSERT_TRUE(peer.Connected());
    peer.Send(Frame{FrameType::Initiate, 0, 1, "Form1", ""});
    ASSERT_TRUE(peer.Next());
    peer.Send(Frame{FrameType::Execute, 0, 31, "", "7300014"});
    const auto f = peer.Next(8000);
    ASSERT_TRUE(f) << "no answer to a command that never ends";
    EXPECT_EQ(f->type, FrameType::Error);
    EXPECT_EQ(f->value, static_cast<std::uint16_t>(ErrorCode::Timeout));
    EXPECT_EQ(f->id, 31u);
    EXPECT_TRUE(peer.ClosedByServer());
    EXPECT_TRUE(closedWhileStuck);
    EXPECT_EQ(connectionsWhileStuck, 0) << "a stuck conversation still counts toward the connection limit";
    EXPECT_EQ(servedWhileStuck, QStringLiteral("0014")) << "nobody else was served while a handler was stuck";
    ASSERT_TRUE(Eventually([&] { return window.server.ConnectionCount() == 0; }));

    // A command that ends in time is answered as ever.
    LinkClient client;
    window.onExecute = nullptr;
    ASSERT_TRUE(client.Connect(service, QStringLiteral("Form1")));
    EXPECT_EQ(client.Execute(QStringLiteral("1000001")), std::optional<std::uint16_t>(0));
}
