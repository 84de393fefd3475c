#pragma once

#include <QString>

#include <optional>
#include <sys/types.h>

namespace helpertool {

// Who is at the other end of a connection, as the kernel recorded it when
// the peer connected (it cannot be forged by what the peer sends).
struct Peer
{
    pid_t pid = 0;
    uid_t uid = 0;
    gid_t gid = 0;

    QString describe() const;   // "pid 123, uid 501"
};

// Root and the one user the tool was installed for are served; nobody else.
class PeerCheck
{
public:
    explicit PeerCheck(uid_t servedUid) : m_servedUid(servedUid) {}

    // The peer of a connected Unix socket; nothing when the system cannot tell.
    static std::optional<Peer> peerOf(int socket);

    bool isServed(const Peer &peer) const { return peer.uid == 0 || peer.uid == m_servedUid; }

private:
    uid_t m_servedUid;
};

} // namespace helpertool
