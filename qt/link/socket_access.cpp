#include "qt/link/socket_access.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>

#include <vector>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace ubin::link {

QString LinkSocketName(const QString& service)
{
    const QString folded = service.toCaseFolded();
#if defined(Q_OS_UNIX)
    return LinkSocketFolder() + QLatin1Char('/') + folded;
#else
    return folded;
#endif
}

QString LinkSocketFolder()
{
#if defined(Q_OS_UNIX)
    // A relative $XDG_RUNTIME_DIR is to be ignored.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime)) return QDir::cleanPath(runtime + QStringLiteral("/ubin-link"));
    return QDir::cleanPath(QDir::tempPath() + QStringLiteral("/ubin-link-%1").arg(static_cast<qulonglong>(::getuid())));
#else
    return {};
#endif
}

QString UserDescription(qint64 uid)
{
#if defined(Q_OS_UNIX)
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(static_cast<uid_t>(uid), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return QStringLiteral("%1 (%2)").arg(QString::fromLocal8Bit(found->pw_name)).arg(uid);
#endif
    return QStringLiteral("user id %1").arg(uid);
}

QString LinkFolderProblem(const QString& folder, bool isFolder, bool isLink, qint64 owner, quint32 mode, qint64 me)
{
    if (isLink) return QStringLiteral("the link folder %1 is a symbolic link; remove it").arg(folder);
    if (!isFolder) return QStringLiteral("the link folder %1 is not a folder; remove it").arg(folder);
    if (owner != me)
        return QStringLiteral("the link folder %1 belongs to the user %2, not to you (%3); the link cannot serve "
                              "or reach anyone through it. Ask that user or the administrator to remove it, or set "
                              "XDG_RUNTIME_DIR or TMPDIR to a folder of your own")
            .arg(folder, UserDescription(owner), UserDescription(me));
    if ((mode & 077) != 0)
        return QStringLiteral("the link folder %1 is open to other users (mode %2); make it private with "
                              "chmod 700 %1, or remove it")
            .arg(folder)
            .arg(mode & 07777, 4, 8, QLatin1Char('0'));
    return {};
}

bool CheckLinkSocketFolder(bool create, QString* error)
{
    if (error) error->clear();
#if defined(Q_OS_UNIX)
    const QString folder = LinkSocketFolder();
    const QByteArray path = QFile::encodeName(folder);
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0) {
        if (errno != ENOENT) {
            if (error) *error = QStringLiteral("the link folder %1 cannot be examined: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        if (!create) return false;
        if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
            if (error) *error = QStringLiteral("the link folder %1 cannot be made: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        // Whoever made it, it is examined like one found there.
        if (::lstat(path.constData(), &st) != 0) {
            if (error) *error = QStringLiteral("the link folder %1 cannot be examined: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    const QString problem = LinkFolderProblem(folder, S_ISDIR(st.st_mode), S_ISLNK(st.st_mode), st.st_uid,
                                              st.st_mode, ::getuid());
    if (!problem.isEmpty()) {
        if (error) *error = problem;
        return false;
    }
    return true;
#else
    Q_UNUSED(create);
    return true;
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
    if (peer) *peer = QStringLiteral("process %1 of the user %2").arg(cred.pid).arg(UserDescription(cred.uid));
    return cred.uid == ::getuid();
#elif defined(Q_OS_UNIX)
    uid_t uid = 0;
    gid_t gid = 0;
    if (::getpeereid(static_cast<int>(socket.socketDescriptor()), &uid, &gid) != 0) {
        if (peer) *peer = QStringLiteral("a peer whose user cannot be read");
        return false;
    }
    if (peer) *peer = QStringLiteral("the user %1").arg(UserDescription(uid));
    return uid == ::getuid();
#else
    Q_UNUSED(socket);
    if (peer) *peer = QStringLiteral("a local peer");
    return true;
#endif
}

} // namespace ubin::link
