#pragma once
// Where a service listens and who may talk to it.
#include <QString>
#include <QtGlobal>

#include <string>

class QLocalSocket;

namespace ubin::link {

// The local socket name of a service. Service names are compared without regard to case, so
// the name is case-folded. On POSIX systems it is a socket file in the user's own link folder
// (LinkSocketFolder), so that nobody else can take the name first:
//   "Marubeta" → "/run/user/1000/ubin-link/marubeta"   ($XDG_RUNTIME_DIR set)
//   "Marubeta" → "/tmp/ubin-link-1000/marubeta"        (otherwise, under the temporary folder)
//   "Marubeta" → "marubeta"                            (a named pipe \\.\pipe\marubeta on Windows)
QString LinkSocketName(const QString& service);

// The folder of the link's sockets on POSIX systems: "ubin-link" in $XDG_RUNTIME_DIR when that
// is set to an absolute path, else "ubin-link-<user id>" in the temporary folder ($TMPDIR, or
// /tmp). Empty on Windows.
QString LinkSocketFolder();

// Checks the link folder before a socket in it is used: it must be a folder (not a link to
// one) owned by this user and closed to everybody else (no permissions for group or others).
// With `create`, a missing folder is made with mode 0700. False, with `error` naming the folder
// and what is wrong with it (for a folder of another user, which user), when it cannot be used;
// a missing folder (without `create`) is false with an empty error. Always true on Windows.
bool CheckLinkSocketFolder(bool create, QString* error);

// The decision of CheckLinkSocketFolder for a folder of the given owner and mode (its lstat);
// an empty text means the folder may be used.
QString LinkFolderProblem(const QString& folder, bool isFolder, bool isLink, qint64 owner, quint32 mode, qint64 me);

// The user's name for a user id, with the number: "nobody (65534)".
QString UserDescription(qint64 uid);

// True when the process at the other end of the connected socket runs as the same user as this
// one. Linux asks the kernel (SO_PEERCRED), the BSDs and macOS use getpeereid. Where neither
// exists the answer is true and the access options of the socket are all that protects it.
// `peer` receives a description of the other side for messages.
bool PeerIsSameUser(QLocalSocket& socket, QString* peer = nullptr);

inline std::string ToUtf8(const QString& s) { return s.toStdString(); }
inline QString FromUtf8(const std::string& s) { return QString::fromStdString(s); }

} // namespace ubin::link
