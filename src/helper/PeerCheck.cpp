#include "PeerCheck.h"

#include <sys/socket.h>

namespace helpertool {

QString Peer::describe() const
{
    return QStringLiteral("pid %1, uid %2").arg(pid).arg(uid);
}

std::optional<Peer> PeerCheck::peerOf(int socket)
{
    struct ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 || length != sizeof credentials)
        return std::nullopt;
    return Peer{credentials.pid, credentials.uid, credentials.gid};
}

} // namespace helpertool
