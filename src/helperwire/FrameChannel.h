#pragma once

#include "helperwire/Frame.h"

#include <QString>

namespace helperwire {

// One end of a stream socket that carries frames, with a deadline on every
// read and write so that a silent or stuck peer can hold it only so long.
// Owns the descriptor. Used the same way by the helper tool and its client.
class FrameChannel
{
public:
    enum class Status {
        Ok,
        Closed,      // the peer closed the stream (mid-frame counts too)
        TimedOut,    // nothing, or not enough, arrived before the deadline
        Malformed,   // the bytes are no frame; the stream is out of step
        Failed,      // a system error
    };

    explicit FrameChannel(int descriptor = -1);
    FrameChannel(FrameChannel &&other) noexcept;
    FrameChannel &operator=(FrameChannel &&other) noexcept;
    FrameChannel(const FrameChannel &) = delete;
    FrameChannel &operator=(const FrameChannel &) = delete;
    ~FrameChannel();

    bool isOpen() const { return m_descriptor >= 0; }
    int descriptor() const { return m_descriptor; }
    void close();

    // A negative time-out waits without end.
    Status send(const Message &message, int timeoutMilliseconds);
    Status receive(Message *message, int timeoutMilliseconds);

    // Why the last call did not return Ok.
    const QString &error() const { return m_error; }

private:
    Status fail(Status status, const QString &reason);

    int m_descriptor = -1;
    FrameDecoder m_decoder;
    QList<Message> m_pending;   // decoded but not yet handed out
    QString m_error;
};

} // namespace helperwire
