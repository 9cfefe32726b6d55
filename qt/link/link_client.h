#pragma once
// The client side of the link: one conversation with a service on a topic.
//
// The blocking calls (Connect, Request, Advise, Unadvise, Execute) wait for their answer in a
// local event loop that leaves out user input, bounded by a timeout; a server in the same
// thread goes on serving meanwhile. The *Async calls return at once and answer with a signal.
//
// Every signal is sent from the event loop, never from inside the socket's own notification,
// in the order the frames arrived; so a slot may make blocking calls (a notify link's slot
// requests the new text, say).
#include "qt/link/frames.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>

class QEventLoop;
class QLocalSocket;

namespace ubin::link {

class LinkClient : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultTimeoutMs = 5000;

    explicit LinkClient(QObject* parent = nullptr);
    ~LinkClient() override;

    // Opens the conversation "application|topic" (the form a link topic is written in).
    bool Connect(const QString& conversation, int timeoutMs = kDefaultTimeoutMs);
    // Connects to the service `application` and opens a conversation on `topic`. False when no
    // server answers, the server runs as another user or refuses the topic; ErrorString() says
    // which. A client that is connected already is disconnected first.
    bool Connect(const QString& application, const QString& topic, int timeoutMs = kDefaultTimeoutMs);
    // Ends the conversation politely (Terminate) and closes the connection. Disconnected() is
    // not emitted for a disconnection asked for here.
    void Disconnect();
    bool IsConnected() const { return state_ == State::Connected; }
    QString Application() const { return application_; }
    QString Topic() const { return topic_; }
    // The last failure of a call, or why the connection was lost.
    QString ErrorString() const { return error_; }

    enum class Failure {
        None,
        NoServer,        // nobody serves the application's name
        Refused,         // the server answered with an error (topic, item), or runs as another user
        NoAnswer,        // no answer within the timeout
        ConnectionLost,  // not connected, or the connection ended during the call
        CannotSend,      // the name or text does not fit a frame
    };
    // What kind of failure ErrorString() describes.
    Failure LastFailure() const { return failure_; }

    // The item's current text; nullopt when there is no such item, the server did not answer
    // in time or the connection is lost.
    std::optional<QString> Request(const QString& item, int timeoutMs = kDefaultTimeoutMs);
    // Starts a hot (new texts pushed: ItemData) or notify (change notices: ItemChanged) link on
    // the item. `currentText`, when given, receives the item's text when the link was made.
    bool Advise(const QString& item, LinkMode mode, QString* currentText = nullptr,
                int timeoutMs = kDefaultTimeoutMs);
    bool Unadvise(const QString& item, int timeoutMs = kDefaultTimeoutMs);
    // The acceptance flag the server answered (0 = accepted), or nullopt when the command could
    // not be delivered or answered.
    std::optional<std::uint16_t> Execute(const QString& command, int timeoutMs = kDefaultTimeoutMs);

    // Return a request number (0 when the frame could not be sent; ErrorString() says why).
    // Answers come as RequestFinished / ExecuteFinished; a lost connection finishes every
    // pending call with ok = false.
    std::uint32_t RequestAsync(const QString& item);
    std::uint32_t ExecuteAsync(const QString& command);

signals:
    // A hot link's item has a new text.
    void ItemData(const QString& item, const QString& text);
    // A notify link's item has changed; Request fetches the text.
    void ItemChanged(const QString& item);
    // `textOrError` is the item's text when ok, the reason otherwise.
    void RequestFinished(std::uint32_t request, bool ok, const QString& item, const QString& textOrError);
    void ExecuteFinished(std::uint32_t request, bool ok, std::uint16_t flag);
    // An error frame that answers nothing in particular.
    void ErrorReceived(std::uint16_t code, const QString& message);
    // The server ended the conversation or the connection was lost.
    void Disconnected();

private:
    enum class State { Idle, Connecting, Connected };
    enum class Pending { Request, Execute };
    struct AsyncCall {
        Pending kind;
        QString item;
    };

    std::uint32_t SendCall(Frame frame);
    // Waits for the answer to `id`; nullopt on timeout or loss of the connection.
    std::optional<Frame> WaitFor(std::uint32_t id, int timeoutMs);
    // An answer of the expected type, or nullopt with error_ set.
    std::optional<Frame> Call(Frame frame, FrameType expected, int timeoutMs);
    void OnReadyRead();
    void OnDisconnected();
    void Dispatch(const Frame& frame);
    void Lose(const QString& why);
    // Signals wait in the inbox until the event loop delivers them, in order. Those of a
    // conversation that has since been left (Disconnect, Connect) are dropped unless `always`.
    void Post(std::function<void()> signal, bool always = false);
    void Deliver();
    void SetFailure(Failure failure, const QString& why);
    void FinishAsync(std::uint32_t id, const AsyncCall& call, const Frame* answer);

    QLocalSocket* socket_ = nullptr;
    FrameReader reader_;
    State state_ = State::Idle;
    QString application_;
    QString topic_;
    QString error_;
    Failure failure_ = Failure::None;
    QString serverError_;  // the last error frame that answered nothing in particular
    std::uint32_t nextId_ = 1;
    std::map<std::uint32_t, QEventLoop*> waiting_;  // blocking calls
    std::map<std::uint32_t, Frame> answers_;        // answers for blocking calls
    std::map<std::uint32_t, AsyncCall> async_;
    struct Posted {
        std::uint64_t generation;
        bool always;
        std::function<void()> signal;
    };
    std::deque<Posted> inbox_;
    std::uint64_t generation_ = 0;  // counts the conversations
    bool delivering_ = false;
    bool deliveryScheduled_ = false;
};

} // namespace ubin::link
