#include "HelperService.h"

#include "ToolLog.h"
#include "helperwire/FrameChannel.h"
#include "helperwire/HelperLabel.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace helpertool {

namespace {

using helperwire::FrameChannel;
using platform::Follow;
using platform::Volume;

// Enough for the application and a few tools of the same user; more wait
// in the listen queue until a session ends.
constexpr size_t kMaxSessions = 8;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QByteArray pidLine()
{
    return QByteArray::number(::getpid()) + '\n';
}

bool sameItem(const std::optional<platform::ItemStatus> &a, const std::optional<platform::ItemStatus> &b)
{
    return a && b && a->device == b->device && a->inode == b->inode;
}

} // namespace

HelperService::HelperService(const ServiceOptions &options)
    : m_options(options), m_peerCheck(options.servedUid)
{
}

HelperService::~HelperService()
{
    reapSessions(true);
    for (int fd : {m_listener, m_signals, m_wake})
        if (fd >= 0)
            ::close(fd);
}

bool HelperService::start(QString *error)
{
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    m_signals = ::signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_signals < 0 || m_wake < 0) {
        *error = systemError();
        return false;
    }
    const platform::LogicalPath socket = helperwire::socketPath();
    if (!Volume::current()->makeFolders(socket.parent(), error))
        return false;
    // The keeper's socket outlives this process, so that clients never
    // find the service gone while it is started again.
    m_listener = m_options.listener >= 0 ? m_options.listener : Volume::current()->listenOnSocket(socket, error);
    if (m_listener < 0)
        return false;
    ::fcntl(m_listener, F_SETFD, FD_CLOEXEC);
    m_socketStatus = Volume::current()->status(socket, Follow::NotFinal);
    if (!Volume::current()->writeFile(helperwire::pidFilePath(), pidLine(), error)) {
        Volume::current()->removeItem(socket);
        return false;
    }
    toolLog(LogInfo, QStringLiteral("serving uid %1 on %2 (volume %3)")
                         .arg(m_options.servedUid).arg(socket.toString(), Volume::current()->root()));
    return true;
}

void HelperService::run()
{
    for (;;) {
        pollfd fds[3] = {{m_signals, POLLIN, 0}, {m_wake, POLLIN, 0}, {m_listener, POLLIN, 0}};
        // At the cap the listener is left alone: new clients wait in its queue.
        const nfds_t count = m_sessions.size() < kMaxSessions ? 3 : 2;
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR)
                continue;
            toolLog(LogError, QStringLiteral("poll: %1").arg(systemError()));
            break;
        }
        if (fds[0].revents) {
            signalfd_siginfo info{};
            if (::read(m_signals, &info, sizeof info) == ssize_t(sizeof info))
                toolLog(LogInfo, QStringLiteral("stopping on signal %1").arg(info.ssi_signo));
            break;
        }
        if (fds[1].revents) {
            eventfd_t ignored;
            ::eventfd_read(m_wake, &ignored);
            reapSessions(false);
        }
        if (count == 3 && fds[2].revents)
            acceptClient();
    }
    cleanUp();
}

void HelperService::acceptClient()
{
    const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED)
            toolLog(LogError, QStringLiteral("accept: %1").arg(systemError()));
        return;
    }
    const std::optional<Peer> peer = PeerCheck::peerOf(fd);
    if (!peer || !m_peerCheck.isServed(*peer)) {
        // Closed before a byte is read: a refused caller gets nothing done.
        toolLog(LogError, peer ? QStringLiteral("refused a client of %1: only root and uid %2 are served")
                                     .arg(peer->describe()).arg(m_options.servedUid)
                               : QStringLiteral("refused a client whose credentials cannot be read: %1").arg(systemError()));
        ::close(fd);
        return;
    }
    toolLog(LogInfo, QStringLiteral("connection from %1").arg(peer->describe()));
    auto session = std::make_unique<Session>();
    session->socket = fd;
    Session *raw = session.get();
    session->thread = std::thread([this, raw, peer = *peer] { serve(raw, peer); });
    m_sessions.push_back(std::move(session));
}

void HelperService::serve(Session *session, const Peer &peer)
{
    FrameChannel channel(session->socket);
    const QString caller = peer.describe();
    for (;;) {
        helperwire::Message message;
        const FrameChannel::Status received = channel.receive(&message, m_options.readTimeoutMilliseconds);
        if (received != FrameChannel::Status::Ok) {
            const bool normal = received == FrameChannel::Status::Closed && !channel.error().contains(u"mid-message");
            toolLog(normal ? LogInfo : LogWarning,
                    QStringLiteral("ending the connection from %1: %2").arg(caller, channel.error()));
            break;
        }
        std::optional<QString> reply;
        {
            std::lock_guard lock(m_runLock);
            reply = m_runner.answer(message, caller);
        }
        if (!reply)
            break;
        if (channel.send({{QStringLiteral("reply"), *reply}}, m_options.readTimeoutMilliseconds) != FrameChannel::Status::Ok) {
            toolLog(LogWarning, QStringLiteral("ending the connection from %1: the reply could not be sent: %2")
                                    .arg(caller, channel.error()));
            break;
        }
    }
    channel.close();
    session->finished = true;
    ::eventfd_write(m_wake, 1);
}

void HelperService::reapSessions(bool all)
{
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        Session &session = **it;
        if (!all && !session.finished) {
            ++it;
            continue;
        }
        if (session.thread.joinable())
            session.thread.join();
        it = m_sessions.erase(it);
    }
}

void HelperService::cleanUp()
{
    // First nobody new can come, then the sessions are woken from their
    // reads; a request under way is finished, not cut short.
    ::close(m_listener);
    m_listener = -1;
    const platform::LogicalPath socket = helperwire::socketPath();
    if (sameItem(m_socketStatus, Volume::current()->status(socket, Follow::NotFinal)))
        Volume::current()->removeItem(socket);
    // A tool started after this one has written its own pid: leave it.
    const std::optional<QByteArray> pid = Volume::current()->readFile(helperwire::pidFilePath(), 64);
    if (pid == pidLine())
        Volume::current()->removeItem(helperwire::pidFilePath());
    for (const auto &session : m_sessions)
        if (!session->finished)
            ::shutdown(session->socket, SHUT_RDWR);
    reapSessions(true);
    toolLog(LogInfo, QStringLiteral("stopped"));
}

} // namespace helpertool
