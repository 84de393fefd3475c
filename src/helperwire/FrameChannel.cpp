#include "helperwire/FrameChannel.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace helperwire {

namespace {

// Waits until the descriptor is ready for `events` or the deadline passes.
// True when ready; false with errno set (ETIMEDOUT on the deadline).
bool waitReady(int fd, short events, const QDeadlineTimer &deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const qint64 left = deadline.isForever() ? -1 : deadline.remainingTime();
        const int n = ::poll(&p, 1, left > INT_MAX ? INT_MAX : int(left));
        if (n > 0)
            return true;
        if (n == 0) {
            errno = ETIMEDOUT;
            return false;
        }
        if (errno != EINTR)
            return false;
    }
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

FrameChannel::FrameChannel(int descriptor) : m_descriptor(descriptor) {}

FrameChannel::FrameChannel(FrameChannel &&other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1)),
      m_decoder(std::move(other.m_decoder)),
      m_pending(std::move(other.m_pending)),
      m_error(std::move(other.m_error))
{
}

FrameChannel &FrameChannel::operator=(FrameChannel &&other) noexcept
{
    if (this != &other) {
        close();
        m_descriptor = std::exchange(other.m_descriptor, -1);
        m_decoder = std::move(other.m_decoder);
        m_pending = std::move(other.m_pending);
        m_error = std::move(other.m_error);
    }
    return *this;
}

FrameChannel::~FrameChannel()
{
    close();
}

void FrameChannel::close()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
    m_descriptor = -1;
    m_decoder = FrameDecoder();
    m_pending.clear();
}

FrameChannel::Status FrameChannel::fail(Status status, const QString &reason)
{
    m_error = reason;
    return status;
}

FrameChannel::Status FrameChannel::send(const Message &message, int timeoutMilliseconds)
{
    if (m_descriptor < 0)
        return fail(Status::Closed, QStringLiteral("not connected"));
    const std::optional<QByteArray> frame = encodeFrame(message);
    if (!frame)
        return fail(Status::Malformed, QStringLiteral("the message holds a NUL or is over the size limit"));
    const QDeadlineTimer deadline(timeoutMilliseconds < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                                          : QDeadlineTimer(timeoutMilliseconds));
    qsizetype done = 0;
    while (done < frame->size()) {
        // MSG_NOSIGNAL: a peer that has gone is an error here, never SIGPIPE.
        const ssize_t n = ::send(m_descriptor, frame->constData() + done, size_t(frame->size() - done),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitReady(m_descriptor, POLLOUT, deadline))
                return errno == ETIMEDOUT ? fail(Status::TimedOut, QStringLiteral("the peer stopped reading"))
                                          : fail(Status::Failed, systemError());
            continue;
        }
        if (n < 0 && (errno == EPIPE || errno == ECONNRESET))
            return fail(Status::Closed, QStringLiteral("the peer closed the connection"));
        return fail(Status::Failed, systemError());
    }
    return Status::Ok;
}

FrameChannel::Status FrameChannel::receive(Message *message, int timeoutMilliseconds)
{
    if (m_descriptor < 0)
        return fail(Status::Closed, QStringLiteral("not connected"));
    const QDeadlineTimer deadline(timeoutMilliseconds < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                                          : QDeadlineTimer(timeoutMilliseconds));
    char buffer[64 * 1024];
    while (m_pending.isEmpty()) {
        if (m_decoder.failed())
            return fail(Status::Malformed, m_decoder.error());
        if (!waitReady(m_descriptor, POLLIN, deadline))
            return errno == ETIMEDOUT ? fail(Status::TimedOut, QStringLiteral("no whole message before the deadline"))
                                      : fail(Status::Failed, systemError());
        const ssize_t n = ::recv(m_descriptor, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0)
            return fail(Status::Closed, m_decoder.hasPartialFrame()
                                            ? QStringLiteral("the peer closed the connection mid-message")
                                            : QStringLiteral("the peer closed the connection"));
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            if (errno == ECONNRESET)
                return fail(Status::Closed, QStringLiteral("the peer reset the connection"));
            return fail(Status::Failed, systemError());
        }
        m_pending.append(m_decoder.feed(QByteArrayView(buffer, n)));
        if (m_pending.isEmpty() && m_decoder.failed())
            return fail(Status::Malformed, m_decoder.error());
    }
    *message = m_pending.takeFirst();
    return Status::Ok;
}

} // namespace helperwire
