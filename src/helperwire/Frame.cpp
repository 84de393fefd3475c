#include "helperwire/Frame.h"

#include <QStringDecoder>

namespace helperwire {

namespace {

void appendU32(QByteArray &out, quint32 value)
{
    const char bytes[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    out.append(bytes, 4);
}

quint32 readU32(QByteArrayView bytes, qsizetype at)
{
    const auto b = [&](qsizetype i) { return quint32(quint8(bytes[at + i])); };
    return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}

// Strict UTF-8: the decoded text must encode back to the very same bytes,
// which also refuses overlong forms, surrogates and a swallowed BOM.
std::optional<QString> strictUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder(bytes);
    if (decoder.hasError() || text.toUtf8() != bytes)
        return std::nullopt;
    return text;
}

} // namespace

std::optional<QByteArray> encodeFrame(const Message &message)
{
    QByteArray payload;
    appendU32(payload, quint32(message.size()));
    for (auto it = message.cbegin(); it != message.cend(); ++it) {
        for (const QString &text : {it.key(), it.value()}) {
            if (text.contains(QChar(0)))
                return std::nullopt;
            const QByteArray bytes = text.toUtf8();
            if (payload.size() + 4 + bytes.size() > qsizetype(MaxPayloadBytes))
                return std::nullopt;
            appendU32(payload, quint32(bytes.size()));
            payload.append(bytes);
        }
    }
    QByteArray frame;
    frame.reserve(4 + payload.size());
    appendU32(frame, quint32(payload.size()));
    frame.append(payload);
    return frame;
}

void FrameDecoder::fail(const QString &reason)
{
    m_error = reason;
    m_buffer.clear();
}

QList<Message> FrameDecoder::feed(QByteArrayView bytes)
{
    QList<Message> messages;
    while (!failed() && !bytes.isEmpty()) {
        // Take only what the current frame still needs, so that a stream of
        // many frames never piles up in the buffer.
        qsizetype needed = 4 - m_buffer.size();
        if (m_buffer.size() >= 4) {
            const quint32 length = readU32(m_buffer, 0);
            needed = 4 + qsizetype(length) - m_buffer.size();
        }
        const qsizetype take = qMin(needed, bytes.size());
        m_buffer.append(bytes.first(take));
        bytes = bytes.sliced(take);
        if (m_buffer.size() == 4 && readU32(m_buffer, 0) > MaxPayloadBytes) {
            fail(QStringLiteral("frame length %1 is over the cap of %2 bytes")
                     .arg(readU32(m_buffer, 0)).arg(MaxPayloadBytes));
            break;
        }
        if (m_buffer.size() < 4 || m_buffer.size() < 4 + qsizetype(readU32(m_buffer, 0)))
            continue;
        const std::optional<Message> message = decodePayload(QByteArrayView(m_buffer).sliced(4));
        if (!message)
            break;
        messages.append(*message);
        m_buffer.clear();
    }
    return messages;
}

std::optional<Message> FrameDecoder::decodePayload(QByteArrayView payload)
{
    qsizetype at = 0;
    const auto readLength = [&](const char *what) -> std::optional<qsizetype> {
        if (payload.size() - at < 4) {
            fail(QStringLiteral("the %1 runs past the end of the frame").arg(QLatin1StringView(what)));
            return std::nullopt;
        }
        const qsizetype value = readU32(payload, at);
        at += 4;
        return value;
    };
    const std::optional<qsizetype> count = readLength("entry count");
    if (!count)
        return std::nullopt;
    // Each entry takes at least its two lengths: a count that cannot fit is
    // refused before anything is built for it.
    if (*count > (payload.size() - at) / 8) {
        fail(QStringLiteral("entry count %1 runs past the end of the frame").arg(*count));
        return std::nullopt;
    }
    Message message;
    for (qsizetype entry = 0; entry < *count; ++entry) {
        QString texts[2];
        for (int part = 0; part < 2; ++part) {
            const char *what = part == 0 ? "key" : "value";
            const std::optional<qsizetype> length = readLength(what);
            if (!length)
                return std::nullopt;
            if (*length > payload.size() - at) {
                fail(QStringLiteral("the length of %1 %2 runs past the end of the frame")
                         .arg(QLatin1StringView(what)).arg(entry));
                return std::nullopt;
            }
            const QByteArrayView bytes = payload.sliced(at, *length);
            at += *length;
            if (bytes.contains('\0')) {
                fail(QStringLiteral("%1 %2 holds a NUL byte").arg(QLatin1StringView(what)).arg(entry));
                return std::nullopt;
            }
            std::optional<QString> text = strictUtf8(bytes);
            if (!text) {
                fail(QStringLiteral("%1 %2 is not valid UTF-8").arg(QLatin1StringView(what)).arg(entry));
                return std::nullopt;
            }
            texts[part] = std::move(*text);
        }
        if (message.contains(texts[0])) {
            fail(QStringLiteral("the key \"%1\" appears twice").arg(texts[0]));
            return std::nullopt;
        }
        message.insert(texts[0], texts[1]);
    }
    if (at != payload.size()) {
        fail(QStringLiteral("%1 bytes follow the last entry").arg(payload.size() - at));
        return std::nullopt;
    }
    return message;
}

} // namespace helperwire
