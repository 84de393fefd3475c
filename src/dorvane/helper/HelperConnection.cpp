#include "dorvane/helper/HelperConnection.h"

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
    // Which event the request raised, handed to the handler with no lock held.
    std::optional<HelperError> event;
    auto raise = [&] {
        if (!event)
            return;
        EventHandler handler;
        {
            QMutexLocker lock(&m_mutex);
            handler = m_handler;
        }
        if (handler)
            handler(*event);
        event.reset();
    };

    {
        // A tool that went away between requests is an interruption of its
        // own; the request then goes out on a new stream.
        QMutexLocker lock(&m_mutex);
        if (!m_invalid && m_channel.isOpen() && brokenWhileIdle(m_channel)) {
            m_channel.close();
            event = HelperError::Interrupted;
        }
    }
    raise();

    HelperReply reply;
    {
        QMutexLocker lock(&m_mutex);
        reply = exchange(message, &event);
    }
    raise();
    return reply;
}

HelperReply HelperConnection::exchange(const Message &message, std::optional<HelperError> *event)
{
    if (m_invalid)
        return HelperError::Invalid;
    if (!m_channel.isOpen()) {
        const int descriptor = platform::Volume::connectToSocket(m_socket);
        if (descriptor < 0) {
            m_invalid = true;
            *event = HelperError::Invalid;
            return HelperError::Invalid;
        }
        m_channel = FrameChannel(descriptor);
    }
    FrameChannel::Status status = m_channel.send(message, -1);
    // A message that cannot be framed never left: the stream is still in step.
    if (status == FrameChannel::Status::Malformed)
        return HelperError::Interrupted;
    Message reply;
    if (status == FrameChannel::Status::Ok)
        status = m_channel.receive(&reply, -1);
    if (status == FrameChannel::Status::Ok)
        return reply;
    // Closed, reset, or bytes that are no frame: the stream is lost and the
    // next request connects anew.
    m_channel.close();
    *event = HelperError::Interrupted;
    return HelperError::Interrupted;
}

} // namespace dorvane
