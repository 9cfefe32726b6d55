#include "platform/link/socket_access.h"

#include <QLocalSocket>

#if defined(Q_OS_UNIX)
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace ubin::link {

QString LinkSocketName(const QString& service)
{
    const QString folded = service.toCaseFolded();
#if defined(Q_OS_UNIX)
    return QStringLiteral("%1-%2").arg(folded).arg(static_cast<qulonglong>(::getuid()));
#else
    return folded;
#endif
}

bool PeerIsSameUser(QLocalSocket& socket, QString* peer)
{
#if defined(Q_OS_LINUX)
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) {
        if (peer) *peer = QStringLiteral("a peer whose user cannot be read");
        return false;
    }
    if (peer) *peer = QStringLiteral("process %1 of user %2").arg(cred.pid).arg(cred.uid);
    return cred.uid == ::getuid();
#elif defined(Q_OS_UNIX)
    uid_t uid = 0;
    gid_t gid = 0;
    if (::getpeereid(static_cast<int>(socket.socketDescriptor()), &uid, &gid) != 0) {
        if (peer) *peer = QStringLiteral("a peer whose user cannot be read");
        return false;
    }
    if (peer) *peer = QStringLiteral("user %1").arg(uid);
    return uid == ::getuid();
#else
    Q_UNUSED(socket);
    if (peer) *peer = QStringLiteral("a local peer");
    return true;
#endif
}

} // namespace ubin::link
