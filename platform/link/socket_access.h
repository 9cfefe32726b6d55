#pragma once
// Where a service listens and who may talk to it.
#include <QString>
#include <QtGlobal>

#include <string>

class QLocalSocket;

namespace ubin::link {

// The local socket name of a service. Service names are compared without regard to case, so
// the name is case-folded; on POSIX systems the user id is appended, so that each user has
// his own "Marubeta" and nobody else can take the name first:
//   "Marubeta" → "marubeta-1000"   (a socket in Qt's temporary folder, normally /tmp)
//   "Marubeta" → "marubeta"        (a named pipe \\.\pipe\marubeta on Windows)
QString LinkSocketName(const QString& service);

// True when the process at the other end of the connected socket runs as the same user as this
// one. Linux asks the kernel (SO_PEERCRED), the BSDs and macOS use getpeereid. Where neither
// exists the answer is true and the access options of the socket are all that protects it.
// `peer` receives a description of the other side for messages.
bool PeerIsSameUser(QLocalSocket& socket, QString* peer = nullptr);

inline std::string ToUtf8(const QString& s) { return s.toStdString(); }
inline QString FromUtf8(const std::string& s) { return QString::fromStdString(s); }

} // namespace ubin::link
