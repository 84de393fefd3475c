#include "dorvane/toolclient/HelperConnection.h"

#include "platform/Volume.h"

#include <poll.h>

namespace dorvane {

using helperwire::FrameChannel;
using helperwire::Message;

namespace {

// Whether the tool closed the stream, or wrote out of turn, while no
// request was waiting: either way the stream can no longer carry one.
bool brokenWhileIdle(const FrameChannel &channel)
{
    pollfd p{channel.descriptor(), POLLIN | POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0;
}

} // namespace

HelperConnection::HelperConnection(platform::LogicalPath socket) : m_socket(std::move(socket)) {}

void HelperConnection::setEventHandler(EventHandler handler)
{
    QMutexLocker lock(&m_mutex);
    m_handler = std::move(handler);
}

void HelperConnection::cancel()
{
    QMutexLocker lock(&m_mutex);
    m_channel.close();
    m_handler = nullptr;
    m_invalid = true;
}

HelperReply HelperConnection::sendWithReply(const Message &message)
{
    std::optional<ConnectionEvent> event;
    HelperReply reply;
    EventHandler handler;
    {
        QMutexLocker lock(&m_mutex);
        // The tool ends a connection left idle past its read time-out; the
        // request then goes out on a new stream, without a report.
        if (!m_invalid && m_channel.isOpen() && brokenWhileIdle(m_channel))
            m_channel.close();
        reply = exchange(message, &event);
        handler = m_handler;
    }
    // With no lock held, so the handler may show alerts.
    if (event && handler)
        handler(*event);
    return reply;
}

HelperReply HelperConnection::exchange(const Message &message, std::optional<ConnectionEvent> *event)
{
    if (m_invalid)
        return ConnectionEvent::Invalid;
    if (!m_channel.isOpen()) {
        const int descriptor = platform::Volume::current()->connectToSocket(m_socket);
        if (descriptor < 0) {
            m_invalid = true;
            *event = ConnectionEvent::Invalid;
            return ConnectionEvent::Invalid;
        }
        m_channel = FrameChannel(descriptor);
    }
    FrameChannel::Status status = m_channel.send(message, -1);
    // A message that cannot be framed never left: the stream is still in step.
    if (status == FrameChannel::Status::Malformed)
        return ConnectionEvent::Interrupted;
    Message reply;
    if (status == FrameChannel::Status::Ok)
        status = m_channel.receive(&reply, -1);
    if (status == FrameChannel::Status::Ok)
        return reply;
    // Closed, reset, or bytes that are no frame: the stream is lost and the
    // next request connects anew.
    m_channel.close();
    *event = ConnectionEvent::Interrupted;
    return ConnectionEvent::Interrupted;
}

} // namespace dorvane
