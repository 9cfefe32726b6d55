#pragma once
// The server side of the link between programs: one local socket per running service, one
// conversation per connection on the service's topic, items served from a provider, hot and
// notify links, execute commands. Frames are those of frames.h (docs/link-protocol.md).
#include "qt/link/frames.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QLocalServer;
class QLocalSocket;
class QTimer;

namespace ubin::link {

class LinkServer : public QObject {
    Q_OBJECT
public:
    // Item name (as the client wrote it) → its current text, or nullopt when there is no such
    // item. Item names are the element names; the provider decides how to match them (the
    // link itself compares them without regard to case).
    using ItemProvider = std::function<std::optional<QString>(const QString& item)>;
    // Command text → acceptance flag (0 accepts the command, any other value refuses it). A
    // handler that cannot carry the command out throws: the client is answered with an Error
    // frame ExecuteFailed carrying the exception's message, and the conversation goes on.
    using ExecuteHandler = std::function<std::uint16_t(const QString& command)>;

    // Connections beyond this many are closed at once.
    static constexpr int kMaxConnections = 256;
    // A client that lets this much output pile up unread is disconnected.
    static constexpr qint64 kMaxPendingOutput = 4 * 1024 * 1024;
    // A connection that has not opened its conversation after this long is closed.
    static constexpr int kInitiateTimeoutMs = 10000;
    // A conversation whose frame is still being handled after this long (a handler that waits
    // on something that does not come) is answered with an Error frame Timeout and closed; it
    // no longer counts toward kMaxConnections, though the handler may still run.
    static constexpr int kBusyTimeoutMs = 10000;

    explicit LinkServer(const QString& service, const QString& topic, QObject* parent = nullptr);
    ~LinkServer() override;

    void SetItemProvider(ItemProvider provider) { provider_ = std::move(provider); }
    // Without a handler every command is refused with flag 1.
    void SetExecuteHandler(ExecuteHandler handler) { execute_ = std::move(handler); }
    // Replaces kBusyTimeoutMs (tests).
    void SetBusyTimeout(int ms) { busyTimeoutMs_ = ms; }

    // Starts serving. False when the name is served by a live server (which is left alone) or
    // the socket cannot be made; ErrorString() says why. A socket file left by a server that
    // no longer runs is removed and the name taken.
    bool Listen();
    // Ends every conversation and stops serving.
    void Close();
    bool IsListening() const;
    QString ErrorString() const { return error_; }
    QString Service() const { return service_; }
    QString Topic() const { return topic_; }
    // The full socket name (for messages).
    QString SocketName() const;

    // The item has a new text: every hot link on it receives the text and every notify link a
    // change notice, in the order of the calls, conversation by conversation.
    void NotifyItemChanged(const QString& item, const QString& text);

    int ConversationCount() const;
    // The connections held, opened or not: what kMaxConnections limits.
    int ConnectionCount() const { return static_cast<int>(conversations_.size()); }

signals:
    // `conversation` numbers the connection; it is never reused while the server lives.
    void ConversationOpened(quint64 conversation, const QString& topic);
    void ConversationClosed(quint64 conversation);
    // A refused connection (conversation 0), a malformed or out-of-order frame, an unknown
    // topic or item. The conversation, if any, goes on unless the message says it was closed.
    void LinkError(quint64 conversation, const QString& message);

private:
    struct Link {
        QString name;  // as the client wrote it
        LinkMode mode = LinkMode::Hot;
    };
    struct Conversation {
        quint64 id = 0;
        QLocalSocket* socket = nullptr;
        FrameReader reader;
        bool initiated = false;
        bool closed = false;
        bool busy = false;
        QElapsedTimer busySince;
        std::uint32_t frameId = 0;  // the frame being handled
        std::map<QString, Link> links;  // key: case-folded item name
    };

    void OnNewConnection();
    void OnReadyRead(quint64 id);
    void Handle(Conversation& c, const Frame& frame);
    void Send(Conversation& c, const Frame& frame);
    void Refuse(Conversation& c, std::uint32_t id, ErrorCode code, const QString& message);
    // Sends an error frame (when code is not None), closes the connection (at once when `abort`)
    // and forgets the conversation.
    void CloseConversation(Conversation& c, ErrorCode code, const QString& message, std::uint32_t frameId = 0,
                           bool abort = false);
    void OnDisconnected(quint64 id);
    // Conversations are erased from the event loop, never while a handler holds one.
    void ScheduleErase(quint64 id);
    void Erase(quint64 id);
    // Closes the connection's socket once its last frames are out (or after a grace period).
    void ReleaseSocket(QLocalSocket* socket);
    // Closes conversations busy past the limit; runs while any conversation is busy.
    void CheckBusy();

    QString service_;
    QString topic_;
    QString error_;
    QLocalServer* server_ = nullptr;
    ItemProvider provider_;
    ExecuteHandler execute_;
    // Shared: a handler that runs an event loop holds its conversation while the conversation
    // may be closed and forgotten by the server.
    std::map<quint64, std::shared_ptr<Conversation>> conversations_;
    quint64 nextId_ = 1;
    int busyTimeoutMs_ = kBusyTimeoutMs;
    QTimer* busyCheck_ = nullptr;
};

} // namespace ubin::link
