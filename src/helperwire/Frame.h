#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

namespace helperwire {

// One message between the application and its helper tool: UTF-8 string
// keys and string values.
using Message = QMap<QString, QString>;

// A frame on the stream, all integers unsigned 32-bit big-endian:
//
//   length                      bytes in the payload that follows
//   payload:
//     count                     number of entries
//     count times:
//       key length,   key bytes     (UTF-8, no NUL)
//       value length, value bytes   (UTF-8, no NUL)
//
// Keys are unique and the payload holds nothing after the last entry.
inline constexpr quint32 MaxPayloadBytes = 64u * 1024 * 1024;

// The frame for `message`, or nothing when a key or value holds a NUL or
// the payload would pass the cap (the other side would refuse it anyway).
std::optional<QByteArray> encodeFrame(const Message &message);

// Takes the bytes of a stream as they arrive and yields whole messages. It
// keeps at most one unfinished frame, so its memory is bounded by the cap
// plus the chunk handed in. The first malformed frame fails it for good:
// after that the stream cannot be trusted to be in step.
class FrameDecoder
{
public:
    // The messages completed by `bytes`, in order.
    QList<Message> feed(QByteArrayView bytes);

    bool failed() const { return !m_error.isEmpty(); }
    const QString &error() const { return m_error; }
    // Whether bytes of an unfinished frame are waiting (a peer that closes
    // now has cut a message short).
    bool hasPartialFrame() const { return !m_buffer.isEmpty(); }

private:
    std::optional<Message> decodePayload(QByteArrayView payload);
    void fail(const QString &reason);

    QByteArray m_buffer;
    QString m_error;
};

} // namespace helperwire
