#include "qt/link/link_client.h"

#include "qt/link/socket_access.h"

#include <QEventLoop>
#include <QLocalSocket>
#include <QTimer>

namespace ubin::link {

LinkClient::LinkClient(QObject* parent) : QObject(parent) {}

LinkClient::~LinkClient()
{
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
    }
    for (auto& [id, loop] : waiting_) loop->quit();
}

bool LinkClient::Connect(const QString& conversation, int timeoutMs)
{
    const qsizetype bar = conversation.indexOf(QLatin1Char('|'));
    if (bar <= 0) {
        Disconnect();
        SetFailure(Failure::CannotSend, QStringLiteral("\"%1\" is not of the form application|topic").arg(conversation));
        return false;
    }
    return Connect(conversation.left(bar), conversation.mid(bar + 1), timeoutMs);
}

bool LinkClient::Connect(const QString& application, const QString& topic, int timeoutMs)
{
    Disconnect();
    ++generation_;
    application_ = application;
    topic_ = topic;
    SetFailure(Failure::None, {});
    serverError_.clear();
    reader_ = FrameReader();

    socket_ = new QLocalSocket(this);
    connect(socket_, &QLocalSocket::readyRead, this, &LinkClient::OnReadyRead);
    connect(socket_, &QLocalSocket::disconnected, this, &LinkClient::OnDisconnected);
    state_ = State::Connecting;
    // A link folder that is not this user's alone is not used: its socket could be anyone's.
    if (QString why; !CheckLinkSocketFolder(false, &why) && !why.isEmpty()) {
        Lose(QStringLiteral("cannot reach the service %1: %2").arg(application, why));
        failure_ = Failure::Refused;
        return false;
    }
    socket_->connectToServer(LinkSocketName(application));
    if (!socket_->waitForConnected(timeoutMs)) {
        Lose(QStringLiteral("no link server answers for the service %1 (%2)").arg(application, socket_->errorString()));
        failure_ = Failure::NoServer;
        return false;
    }
    QString peer;
    if (!PeerIsSameUser(*socket_, &peer)) {
        Lose(QStringLiteral("the link server of %1 is %2, not this user; not talking to it").arg(application, peer));
        failure_ = Failure::Refused;
        return false;
    }
    const auto ack = Call(Frame{FrameType::Initiate, 0, 0, ToUtf8(topic), ToUtf8(application)}, FrameType::InitiateAck,
                          timeoutMs);
    if (!ack) {
        const Failure failure = failure_;
        const QString why = error_;
        Lose(why);
        failure_ = failure;
        return false;
    }
    state_ = State::Connected;
    return true;
}

void LinkClient::Disconnect()
{
    if (!socket_) return;
    QLocalSocket* socket = socket_;
    socket->disconnect(this);
    if (socket->state() == QLocalSocket::ConnectedState) {
        const std::string bytes = EncodeFrame(Frame{FrameType::Terminate, 0, 0, {}, {}});
        socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
        socket->flush();
        socket->disconnectFromServer();
    }
    socket_ = nullptr;
    state_ = State::Idle;
    socket->deleteLater();
    for (auto& [id, loop] : waiting_) loop->quit();
    ++generation_;  // what the old conversation still had to say is of no interest now
    auto calls = std::move(async_);
    async_.clear();
    for (const auto& pending : calls) {
        Post([this, id = pending.first, call = pending.second] { FinishAsync(id, call, nullptr); }, true);
    }
}

std::optional<QString> LinkClient::Request(const QString& item, int timeoutMs)
{
    if (state_ != State::Connected) {
        SetFailure(Failure::ConnectionLost, QStringLiteral("not connected"));
        return std::nullopt;
    }
    const auto answer = Call(Frame{FrameType::Request, 0, 0, ToUtf8(item), {}}, FrameType::Data, timeoutMs);
    if (!answer) return std::nullopt;
    return FromUtf8(answer->text);
}

bool LinkClient::Advise(const QString& item, LinkMode mode, QString* currentText, int timeoutMs)
{
    if (state_ != State::Connected) {
        SetFailure(Failure::ConnectionLost, QStringLiteral("not connected"));
        return false;
    }
    const auto answer = Call(Frame{FrameType::Advise, static_cast<std::uint16_t>(mode), 0, ToUtf8(item), {}},
                             FrameType::Ack, timeoutMs);
    if (!answer) return false;
    if (currentText) *currentText = FromUtf8(answer->text);
    return true;
}

bool LinkClient::Unadvise(const QString& item, int timeoutMs)
{
    if (state_ != State::Connected) {
        SetFailure(Failure::ConnectionLost, QStringLiteral("not connected"));
        return false;
    }
    return Call(Frame{FrameType::Unadvise, 0, 0, ToUtf8(item), {}}, FrameType::Ack, timeoutMs).has_value();
}

std::optional<std::uint16_t> LinkClient::Execute(const QString& command, int timeoutMs)
{
    if (state_ != State::Connected) {
        SetFailure(Failure::ConnectionLost, QStringLiteral("not connected"));
        return std::nullopt;
    }
    const auto answer = Call(Frame{FrameType::Execute, 0, 0, {}, ToUtf8(command)}, FrameType::ExecuteResult, timeoutMs);
    if (!answer) return std::nullopt;
    return answer->value;
}

std::uint32_t LinkClient::RequestAsync(const QString& item)
{
    if (state_ != State::Connected) {
        SetFailure(Failure::ConnectionLost, QStringLiteral("not connected"));
        return 0;
    }
    const std::uint32_t id = SendCall(Frame{FrameType::Request, 0, 0, ToUtf8(item), {}});
    if (id != 0) async_[id] = AsyncCall{Pending::Request, item};
    return id;
}

std::uint32_t LinkClient::ExecuteAsync(const QString& command)
{
    if (state_ != State::Connected) {
        SetFailure(Failure::ConnectionLost, QStringLiteral("not connected"));
        return 0;
    }
    const std::uint32_t id = SendCall(Frame{FrameType::Execute, 0, 0, {}, ToUtf8(command)});
    if (id != 0) async_[id] = AsyncCall{Pending::Execute, {}};
    return id;
}

std::uint32_t LinkClient::SendCall(Frame frame)
{
    if (!socket_) {
        SetFailure(Failure::ConnectionLost, QStringLiteral("not connected"));
        return 0;
    }
    if (nextId_ == 0) nextId_ = 1;  // 0 marks pushed frames
    frame.id = nextId_++;
    std::string why;
    const std::string bytes = EncodeFrame(frame, &why);
    if (bytes.empty()) {
        SetFailure(Failure::CannotSend, QStringLiteral("cannot send %1: %2")
                                            .arg(QLatin1String(FrameTypeName(frame.type)), QString::fromStdString(why)));
        return 0;
    }
    socket_->write(bytes.data(), static_cast<qint64>(bytes.size()));
    return frame.id;
}

std::optional<Frame> LinkClient::Call(Frame frame, FrameType expected, int timeoutMs)
{
    const FrameType type = frame.type;
    const std::uint32_t id = SendCall(std::move(frame));
    if (id == 0) return std::nullopt;
    auto answer = WaitFor(id, timeoutMs);
    if (!answer) return std::nullopt;
    if (answer->type == FrameType::Error) {
        SetFailure(Failure::Refused, FromUtf8(answer->text));
        return std::nullopt;
    }
    if (answer->type != expected) {
        failure_ = Failure::Refused;
        error_ = QStringLiteral("the server answered %1 with %2")
                     .arg(QLatin1String(FrameTypeName(type)), QLatin1String(FrameTypeName(answer->type)));
        return std::nullopt;
    }
    return answer;
}

std::optional<Frame> LinkClient::WaitFor(std::uint32_t id, int timeoutMs)
{
    if (!answers_.contains(id) && socket_) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(timeoutMs);
        waiting_[id] = &loop;
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        waiting_.erase(id);
    }
    const auto it = answers_.find(id);
    if (it == answers_.end()) {
        if (socket_) SetFailure(Failure::NoAnswer, QStringLiteral("the server did not answer within %1 ms").arg(timeoutMs));
        // else error_ already says how the connection was lost
        return std::nullopt;
    }
    Frame answer = std::move(it->second);
    answers_.erase(it);
    return answer;
}

void LinkClient::OnReadyRead()
{
    if (!socket_) return;
    const QByteArray bytes = socket_->readAll();
    reader_.Append(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    while (socket_) {
        const ParseResult r = reader_.Next();
        if (r.status == ParseStatus::NeedMore) return;
        if (r.status == ParseStatus::Invalid) {
            Lose(QStringLiteral("the server sent a bad frame: %1").arg(FromUtf8(r.message)));
            return;
        }
        Dispatch(r.frame);
    }
}

void LinkClient::OnDisconnected()
{
    OnReadyRead();  // what the server said before it closed
    QString why = QStringLiteral("the link server closed the connection");
    if (!serverError_.isEmpty()) why += QStringLiteral(" after: ") + serverError_;
    Lose(why);
}

void LinkClient::Dispatch(const Frame& frame)
{
    switch (frame.type) {
    case FrameType::HotData:
        Post([this, item = FromUtf8(frame.name), text = FromUtf8(frame.text)] { emit ItemData(item, text); });
        return;
    case FrameType::Changed:
        Post([this, item = FromUtf8(frame.name)] { emit ItemChanged(item); });
        return;
    case FrameType::Terminate:
        Lose(QStringLiteral("the server ended the conversation"));
        return;
    default:
        break;
    }
    if (frame.id == 0) {
        if (frame.type == FrameType::Error) {
            serverError_ = FromUtf8(frame.text);
            Post([this, code = frame.value, message = serverError_] { emit ErrorReceived(code, message); });
        }
        return;
    }
    if (const auto w = waiting_.find(frame.id); w != waiting_.end()) {
        answers_[frame.id] = frame;
        w->second->quit();
        return;
    }
    if (const auto a = async_.find(frame.id); a != async_.end()) {
        const AsyncCall call = a->second;
        async_.erase(a);
        Post([this, id = frame.id, call, frame] { FinishAsync(id, call, &frame); }, true);
    }
    // Anything else answers a call that has timed out.
}

void LinkClient::Lose(const QString& why)
{
    if (!socket_) return;
    const bool wasConnected = state_ == State::Connected;
    SetFailure(Failure::ConnectionLost, why);
    QLocalSocket* socket = socket_;
    socket_ = nullptr;
    state_ = State::Idle;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    for (auto& [id, loop] : waiting_) loop->quit();
    auto calls = std::move(async_);
    async_.clear();
    for (const auto& pending : calls) {
        Post([this, id = pending.first, call = pending.second] { FinishAsync(id, call, nullptr); }, true);
    }
    if (wasConnected) Post([this] { emit Disconnected(); });
}

void LinkClient::Post(std::function<void()> signal, bool always)
{
    inbox_.push_back(Posted{generation_, always, std::move(signal)});
    if (deliveryScheduled_) return;
    deliveryScheduled_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            deliveryScheduled_ = false;
            Deliver();
        },
        Qt::QueuedConnection);
}

void LinkClient::Deliver()
{
    // A slot's blocking call runs the event loop, which may call here again: the outer call
    // keeps delivering, so the order holds.
    if (delivering_) return;
    delivering_ = true;
    while (!inbox_.empty()) {
        const Posted posted = std::move(inbox_.front());
        inbox_.pop_front();
        if (posted.always || posted.generation == generation_) posted.signal();
    }
    delivering_ = false;
}

void LinkClient::SetFailure(Failure failure, const QString& why)
{
    failure_ = failure;
    error_ = why;
}

void LinkClient::FinishAsync(std::uint32_t id, const AsyncCall& call, const Frame* answer)
{
    const bool isError = answer && answer->type == FrameType::Error;
    const QString failure = !answer ? QStringLiteral("the connection was lost")
                            : isError ? FromUtf8(answer->text)
                                      : QStringLiteral("unexpected answer %1").arg(QLatin1String(FrameTypeName(answer->type)));
    if (call.kind == Pending::Request) {
        const bool ok = answer && answer->type == FrameType::Data;
        emit RequestFinished(id, ok, call.item, ok ? FromUtf8(answer->text) : failure);
    } else {
        const bool ok = answer && answer->type == FrameType::ExecuteResult;
        emit ExecuteFinished(id, ok, ok ? answer->value : 0);
    }
}

} // namespace ubin::link
