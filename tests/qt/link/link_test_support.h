#pragma once
// Helpers of the link tests: a service name of their own per test, a served window's items,
// and a raw peer that writes whatever bytes a test wants.
#include "qt/link/frames.h"
#include "qt/link/link_server.h"
#include "qt/link/socket_access.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QMap>
#include <QSignalSpy>
#include <QTest>
#include <QStringList>

#include <functional>
#include <optional>
#include <string>

namespace ubin::link::test {

// Tests run in parallel processes: each gets names of its own.
inline QString UniqueService()
{
    static int counter = 0;
    return QStringLiteral("LinkTest%1x%2").arg(QCoreApplication::applicationPid()).arg(++counter);
}

// A server on topic "Form1" whose items live in a map (names compared without regard to case,
// as element names are) and whose execute handler records the commands.
struct ServedWindow {
    explicit ServedWindow(const QString& service) : server(service, QStringLiteral("Form1"))
    {
        server.SetItemProvider([this](const QString& item) -> std::optional<QString> {
            for (auto it = items.cbegin(); it != items.cend(); ++it)
                if (it.key().compare(item, Qt::CaseInsensitive) == 0) return it.value();
            return std::nullopt;
        });
        server.SetExecuteHandler([this](const QString& command) {
            commands << command;
            if (onExecute) onExecute(command);
            return flag;
        });
    }

    // Changes an item the way a window does: the text, then the notice.
    void Set(const QString& item, const QString& text)
    {
        items[item] = text;
        server.NotifyItemChanged(item, text);
    }

    LinkServer server;
    QMap<QString, QString> items{{QStringLiteral("IT1"), QStringLiteral("730")},
                                 {QStringLiteral("IT2"), QStringLiteral("0014")},
                                 {QStringLiteral("Text6"), QStringLiteral("広島県")}};
    QStringList commands;
    std::uint16_t flag = 0;
    std::function<void(const QString&)> onExecute;
};

// Runs the event loop until the condition holds or the time is up. (The QTRY_ macros return
// quietly from a test body when they fail under GoogleTest, so the tests use this instead.)
inline bool Eventually(const std::function<bool()>& condition, int ms = 5000)
{
    return QTest::qWaitFor(condition, ms);
}

// A connection that speaks frames by hand.
class RawPeer {
public:
    explicit RawPeer(const QString& service) { socket.connectToServer(LinkSocketName(service)); }

    bool Connected() { return socket.state() == QLocalSocket::ConnectedState || socket.waitForConnected(2000); }

    void Write(const std::string& bytes)
    {
        socket.write(bytes.data(), static_cast<qint64>(bytes.size()));
        socket.flush();
    }
    void Send(const Frame& frame) { Write(EncodeFrame(frame)); }

    // The next frame from the server, waiting in the event loop so that a server in this thread
    // answers; nullopt when none comes in time or the connection ends first.
    std::optional<Frame> Next(int ms = 5000)
    {
        QDeadlineTimer deadline(ms);
        for (;;) {
            if (socket.bytesAvailable() > 0) {
                const QByteArray b = socket.readAll();
                reader.Append(std::string_view(b.constData(), static_cast<std::size_t>(b.size())));
            }
            const ParseResult r = reader.Next();
            if (r.status == ParseStatus::Complete) return r.frame;
            if (r.status == ParseStatus::Invalid) return std::nullopt;
            if (deadline.hasExpired() || socket.state() != QLocalSocket::ConnectedState) return std::nullopt;
            QSignalSpy spy(&socket, &QLocalSocket::readyRead);
            spy.wait(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        }
    }

    // True when the server closes the connection within the time.
    bool ClosedByServer(int ms = 5000)
    {
        if (socket.state() == QLocalSocket::UnconnectedState) return true;
        QSignalSpy spy(&socket, &QLocalSocket::disconnected);
        return spy.wait(ms) || socket.state() == QLocalSocket::UnconnectedState;
    }

    QLocalSocket socket;
    FrameReader reader;
};

} // namespace ubin::link::test
