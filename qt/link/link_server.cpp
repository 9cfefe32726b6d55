#include "qt/link/link_server.h"

#include "qt/link/socket_access.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace ubin::link {

namespace {

// How much of a client's input is read at a time; the rest waits in the system's buffer.
constexpr qint64 kReadBufferSize = 256 * 1024;
// How long a probe waits for the owner of an occupied name to answer.
constexpr int kProbeTimeoutMs = 1000;
// How long a closing connection may take to deliver its last frames.
constexpr int kCloseGraceMs = 5000;

bool IsServerToClient(FrameType type)
{
    switch (type) {
    case FrameType::InitiateAck:
    case FrameType::Data:
    case FrameType::Ack:
    case FrameType::ExecuteResult:
    case FrameType::HotData:
    case FrameType::Changed:
    case FrameType::Error:
        return true;
    default:
        return false;
    }
}

} // namespace

LinkServer::LinkServer(const QString& service, const QString& topic, QObject* parent)
    : QObject(parent), service_(service), topic_(topic), server_(new QLocalServer(this)), busyCheck_(new QTimer(this))
{
    connect(server_, &QLocalServer::newConnection, this, &LinkServer::OnNewConnection);
    busyCheck_->setSingleShot(true);
    connect(busyCheck_, &QTimer::timeout, this, &LinkServer::CheckBusy);
}

LinkServer::~LinkServer()
{
    for (auto& [id, c] : conversations_) {
        c->socket->disconnect(this);
        c->socket->abort();
    }
    conversations_.clear();
}

bool LinkServer::Listen()
{
    if (server_->isListening()) return true;
    // The socket's folder must be this user's alone before anything is put in it.
    if (QString why; !CheckLinkSocketFolder(true, &why)) {
        error_ = QStringLiteral("cannot serve the link service %1: %2").arg(service_, why);
        return false;
    }
    const QString name = LinkSocketName(service_);
    // A live server that answers on the name keeps it; only a name nobody answers on any more
    // (a socket file left by a crash) is taken over.
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(kProbeTimeoutMs)) {
        QString peer;
        const bool sameUser = PeerIsSameUser(probe, &peer);
        probe.abort();
        error_ = sameUser ? QStringLiteral("the link service %1 is already served by another program").arg(service_)
                          : QStringLiteral("the link service %1 is held by %2 (%3)").arg(service_, peer, name);
        return false;
    }
    const auto why = probe.error();
    if (why != QLocalSocket::ConnectionRefusedError && why != QLocalSocket::ServerNotFoundError) {
        error_ = QStringLiteral("the link service %1 is held by a program that does not answer (%2)")
                     .arg(service_, probe.errorString());
        return false;
    }
#if defined(Q_OS_UNIX)
    // Qt's access options bind the socket elsewhere and rename it over the name, which would
    // take the name from a server that started after the probe. A plain bind fails instead, and
    // the socket is restricted to its user right after (the peer check guards the moment
    // between).
    server_->setSocketOptions(QLocalServer::NoOptions);
    if (!server_->listen(name) && server_->serverError() == QAbstractSocket::AddressInUseError
        && why == QLocalSocket::ConnectionRefusedError) {
        QLocalServer::removeServer(name);
        server_->listen(name);
    }
    if (server_->isListening()
        && !QFile::setPermissions(server_->fullServerName(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
        server_->close();
        error_ = QStringLiteral("cannot restrict the link socket %1 to its user").arg(server_->fullServerName());
        return false;
    }
#else
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    server_->listen(name);
#endif
    if (server_->isListening()) return true;
    error_ = QStringLiteral("cannot serve the link service %1: %2").arg(service_, server_->errorString());
    return false;
}

void LinkServer::Close()
{
    for (auto& [id, c] : conversations_) CloseConversation(*c, ErrorCode::None, {});
    server_->close();
}

bool LinkServer::IsListening() const
{
    return server_->isListening();
}

QString LinkServer::SocketName() const
{
    return server_->isListening() ? server_->fullServerName() : LinkSocketName(service_);
}

int LinkServer::ConversationCount() const
{
    int n = 0;
    for (const auto& [id, c] : conversations_)
        if (c->initiated && !c->closed) ++n;
    return n;
}

void LinkServer::OnNewConnection()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        QString peer;
        if (!PeerIsSameUser(*socket, &peer)) {
            socket->abort();
            socket->deleteLater();
            emit LinkError(0, QStringLiteral("refused a connection from %1: the link serves its own user only").arg(peer));
            continue;
        }
        if (static_cast<int>(conversations_.size()) >= kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            emit LinkError(0, QStringLiteral("refused a connection: %1 connections are open already").arg(kMaxConnections));
            continue;
        }
        const quint64 id = nextId_++;
        auto c = std::make_shared<Conversation>();
        c->id = id;
        c->socket = socket;
        socket->setReadBufferSize(kReadBufferSize);
        connect(socket, &QLocalSocket::readyRead, this, [this, id] { OnReadyRead(id); });
        connect(socket, &QLocalSocket::disconnected, this, [this, id] { OnDisconnected(id); });
        conversations_.emplace(id, std::move(c));
        QTimer::singleShot(kInitiateTimeoutMs, this, [this, id] {
            const auto it = conversations_.find(id);
            if (it != conversations_.end() && !it->second->initiated)
                CloseConversation(*it->second, ErrorCode::OutOfOrder, QStringLiteral("no Initiate in time"));
        });
        if (socket->bytesAvailable() > 0) OnReadyRead(id);
    }
}

void LinkServer::OnReadyRead(quint64 id)
{
    const auto it = conversations_.find(id);
    if (it == conversations_.end()) return;
    const std::shared_ptr<Conversation> hold = it->second;  // it may be forgotten while a handler runs
    Conversation& c = *hold;
    if (c.closed || c.busy) return;  // busy: a handler runs an event loop; the outer call reads on
    c.busy = true;
    c.busySince.start();
    if (!busyCheck_->isActive()) busyCheck_->start(busyTimeoutMs_);
    while (!c.closed && c.socket->bytesAvailable() > 0) {
        const QByteArray bytes = c.socket->read(kReadBufferSize);
        c.reader.Append(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        while (!c.closed) {
            const ParseResult r = c.reader.Next();
            if (r.status == ParseStatus::NeedMore) break;
            if (r.status == ParseStatus::Invalid) {
                CloseConversation(c, r.error, FromUtf8(r.message));
                break;
            }
            Handle(c, r.frame);
        }
    }
    c.busy = false;
    if (!c.closed) return;
    if (conversations_.contains(id)) ScheduleErase(id);
    else ReleaseSocket(c.socket);  // closed for taking too long, and forgotten meanwhile
}

void LinkServer::CheckBusy()
{
    qint64 next = -1;
    std::vector<std::shared_ptr<Conversation>> late;
    for (const auto& [id, c] : conversations_) {
        if (!c->busy) continue;
        const qint64 left = busyTimeoutMs_ - c->busySince.elapsed();
        if (left <= 0) late.push_back(c);
        else if (next < 0 || left < next) next = left;
    }
    for (const auto& c : late) {
        CloseConversation(*c, ErrorCode::Timeout,
                          QStringLiteral("the server spent more than %1 ms on a frame of this conversation")
                              .arg(busyTimeoutMs_),
                          c->frameId);
        // A busy conversation is not erased from the event loop (its handler holds it, and its
        // socket is released when the handler returns): it is forgotten now, so that it no
        // longer counts toward the connection limit.
        c->socket->disconnect(this);
        conversations_.erase(c->id);
    }
    if (next >= 0) busyCheck_->start(static_cast<int>(next));
}

void LinkServer::OnDisconnected(quint64 id)
{
    const auto it = conversations_.find(id);
    if (it == conversations_.end()) return;
    Conversation& c = *it->second;
    if (!c.closed) {
        c.closed = true;
        if (c.initiated) emit ConversationClosed(id);
    }
    ScheduleErase(id);
}

void LinkServer::ScheduleErase(quint64 id)
{
    QTimer::singleShot(0, this, [this, id] { Erase(id); });
}

void LinkServer::Erase(quint64 id)
{
    const auto it = conversations_.find(id);
    if (it == conversations_.end() || it->second->busy) return;
    QLocalSocket* socket = it->second->socket;
    conversations_.erase(it);
    ReleaseSocket(socket);
}

void LinkServer::ReleaseSocket(QLocalSocket* socket)
{
    socket->disconnect(this);
    if (socket->state() == QLocalSocket::UnconnectedState) {
        socket->deleteLater();
    } else {
        // Let the last frames (an error, say) reach the client, within bounds.
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kCloseGraceMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
    }
}

void LinkServer::Handle(Conversation& c, const Frame& frame)
{
    // The time limit is per frame: a client that keeps sending is not cut off for that.
    c.frameId = frame.id;
    c.busySince.start();
    const auto type = static_cast<std::uint8_t>(frame.type);
    if (!IsKnownFrameType(type)) {
        Refuse(c, frame.id, ErrorCode::UnknownType, QStringLiteral("unknown frame type %1").arg(type));
        return;
    }
    if (IsServerToClient(frame.type)) {
        Refuse(c, frame.id, ErrorCode::OutOfOrder,
               QStringLiteral("%1 frames are sent by servers only").arg(QLatin1String(FrameTypeName(frame.type))));
        return;
    }
    if (frame.type == FrameType::Terminate) {
        CloseConversation(c, ErrorCode::None, {});
        return;
    }
    if (frame.type == FrameType::Initiate) {
        if (c.initiated) {
            Refuse(c, frame.id, ErrorCode::OutOfOrder, QStringLiteral("the conversation is open already"));
            return;
        }
        const QString topic = FromUtf8(frame.name);
        const QString application = FromUtf8(frame.text);
        if (!application.isEmpty() && application.compare(service_, Qt::CaseInsensitive) != 0) {
            CloseConversation(c, ErrorCode::UnknownTopic,
                              QStringLiteral("this is the service %1, not %2").arg(service_, application), frame.id);
            return;
        }
        if (topic.compare(topic_, Qt::CaseInsensitive) != 0) {
            CloseConversation(c, ErrorCode::UnknownTopic,
                              QStringLiteral("the service %1 has no topic \"%2\"").arg(service_, topic), frame.id);
            return;
        }
        c.initiated = true;
        Send(c, Frame{FrameType::InitiateAck, 0, frame.id, ToUtf8(topic_), ToUtf8(service_)});
        emit ConversationOpened(c.id, topic);
        return;
    }
    if (!c.initiated) {
        Refuse(c, frame.id, ErrorCode::OutOfOrder,
               QStringLiteral("%1 before Initiate").arg(QLatin1String(FrameTypeName(frame.type))));
        return;
    }

    const QString item = FromUtf8(frame.name);
    auto current = [this, &item]() -> std::optional<QString> {
        if (item.isEmpty() || !provider_) return std::nullopt;
        return provider_(item);
    };
    switch (frame.type) {
    case FrameType::Request: {
        const auto text = current();
        if (!text) {
            Refuse(c, frame.id, ErrorCode::NoSuchItem, QStringLiteral("no item \"%1\"").arg(item));
            return;
        }
        Send(c, Frame{FrameType::Data, 0, frame.id, frame.name, ToUtf8(*text)});
        return;
    }
    case FrameType::Advise: {
        const auto mode = static_cast<LinkMode>(frame.value);
        if (mode != LinkMode::Hot && mode != LinkMode::Notify) {
            Refuse(c, frame.id, ErrorCode::BadValue,
                   QStringLiteral("link mode %1 is neither hot (1) nor notify (3)").arg(frame.value));
            return;
        }
        const auto text = current();
        if (!text) {
            Refuse(c, frame.id, ErrorCode::NoSuchItem, QStringLiteral("no item \"%1\"").arg(item));
            return;
        }
        const QString key = item.toCaseFolded();
        if (!c.links.contains(key) && c.links.size() >= kMaxAdvisesPerConversation) {
            Refuse(c, frame.id, ErrorCode::TooManyLinks, QStringLiteral("a conversation holds at most %1 links")
                                                             .arg(kMaxAdvisesPerConversation));
            return;
        }
        c.links[key] = Link{item, mode};
        Send(c, Frame{FrameType::Ack, frame.value, frame.id, frame.name, ToUtf8(*text)});
        return;
    }
    case FrameType::Unadvise:
        c.links.erase(item.toCaseFolded());
        Send(c, Frame{FrameType::Ack, 0, frame.id, frame.name, {}});
        return;
    case FrameType::Execute: {
        std::uint16_t flag = 1;
        try {
            if (execute_) flag = execute_(FromUtf8(frame.text));
        } catch (const std::exception& e) {
            Refuse(c, frame.id, ErrorCode::ExecuteFailed, QString::fromUtf8(e.what()));
            return;
        }
        Send(c, Frame{FrameType::ExecuteResult, flag, frame.id, {}, {}});
        return;
    }
    default:
        return;  // every other type was dealt with above
    }
}

void LinkServer::NotifyItemChanged(const QString& item, const QString& text)
{
    const QString key = item.toCaseFolded();
    const std::string utf8 = ToUtf8(text);
    for (auto& [id, c] : conversations_) {
        if (c->closed || !c->initiated) continue;
        const auto link = c->links.find(key);
        if (link == c->links.end()) continue;
        if (link->second.mode == LinkMode::Hot)
            Send(*c, Frame{FrameType::HotData, 0, 0, ToUtf8(link->second.name), utf8});
        else
            Send(*c, Frame{FrameType::Changed, 0, 0, ToUtf8(link->second.name), {}});
    }
}

void LinkServer::Send(Conversation& c, const Frame& frame)
{
    if (c.closed) return;
    std::string why;
    std::string bytes = EncodeFrame(frame, &why);
    if (bytes.empty()) {
        // Our own text does not fit a frame (an item of more than 64 KiB): the client hears why.
        const QString message = QStringLiteral("%1 \"%2\" cannot be sent: %3")
                                    .arg(QLatin1String(FrameTypeName(frame.type)), FromUtf8(frame.name.substr(0, 64)),
                                         QString::fromStdString(why));
        bytes = EncodeFrame(Frame{FrameType::Error, static_cast<std::uint16_t>(ErrorCode::TooLarge), frame.id, {},
                                  ToUtf8(message)});
        emit LinkError(c.id, message);
    }
    c.socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
    if (c.socket->bytesToWrite() > kMaxPendingOutput) {
        CloseConversation(c, ErrorCode::None, QStringLiteral("the client does not read its frames"), 0, true);
    }
}

void LinkServer::Refuse(Conversation& c, std::uint32_t id, ErrorCode code, const QString& message)
{
    Send(c, Frame{FrameType::Error, static_cast<std::uint16_t>(code), id, {}, ToUtf8(message)});
    emit LinkError(c.id, message);
}

void LinkServer::CloseConversation(Conversation& c, ErrorCode code, const QString& message, std::uint32_t frameId,
                                   bool abort)
{
    if (c.closed) return;
    if (code != ErrorCode::None)
        Send(c, Frame{FrameType::Error, static_cast<std::uint16_t>(code), frameId, {}, ToUtf8(message)});
    c.closed = true;
    if (!message.isEmpty()) emit LinkError(c.id, message + QStringLiteral(" (connection closed)"));
    if (c.initiated) emit ConversationClosed(c.id);
    if (abort) {
        c.socket->abort();
    } else {
        c.socket->flush();
        c.socket->disconnectFromServer();  // may report the disconnection at once; the erase waits
    }
    ScheduleErase(c.id);
}

} // namespace ubin::link
