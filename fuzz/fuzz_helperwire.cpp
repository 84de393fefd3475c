// Fuzz target for what the helper tool reads from a client, which may be any
// local program: the bytes go through the frame decoder as the socket hands
// them over, then each message through the request rules. Whatever comes,
// nothing crashes, the decoder gives the same messages however the stream is
// cut, a stream read from a real socket gives those messages too, every
// message encodes back to a frame that decodes to itself, and every item a
// request accepts passes the rules again in its cleaned form, so the client's
// own message for the accepted items is accepted whole.
#include "FuzzFail.h"
#include "helperwire/FrameChannel.h"
#include "helperwire/HelperRequest.h"

#include <QDebug>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <sys/socket.h>
#include <unistd.h>

using namespace helperwire;

namespace {

// The messages of the stream fed in pieces of 1, 2, 3... bytes.
QList<Message> feedInPieces(QByteArrayView bytes, FrameDecoder &decoder)
{
    QList<Message> messages;
    for (qsizetype at = 0, piece = 1; at < bytes.size(); at += piece, ++piece)
        messages.append(decoder.feed(bytes.sliced(at, qMin(piece, bytes.size() - at))));
    return messages;
}

// The messages a channel receives from a peer that writes the bytes and
// closes; nothing when the bytes do not fit the socket's buffer at once.
std::optional<QList<Message>> receiveFromSocket(QByteArrayView bytes)
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        fail("no socket pair");
    const ssize_t written = bytes.isEmpty() ? 0 : ::send(pair[1], bytes.data(), size_t(bytes.size()), MSG_DONTWAIT);
    ::close(pair[1]);
    FrameChannel channel(pair[0]);
    if (written != bytes.size())
        return std::nullopt;
    QList<Message> messages;
    Message message;
    while (channel.receive(&message, 1000) == FrameChannel::Status::Ok)
        messages.append(message);
    return messages;
}

void checkRequest(const Message &message)
{
    const ParseResult parsed = parseRequest(message);
    if (const QString *why = std::get_if<QString>(&parsed)) {
        if (why->isEmpty())
            fail("a message refused without a reason");
        return;
    }
    const HelperRequest &request = std::get<HelperRequest>(parsed);
    // A quarantine request names a run and nothing else; a removal may name
    // the run that keeps what goes.
    const bool quarantine = request.type == RequestType::Restore || request.type == RequestType::EmptyQuarantine
                            || request.type == RequestType::ListQuarantine;
    if (!request.run.isEmpty() && !runIdRefusal(request.run).isEmpty())
        fail("a run the rules refuse was accepted:", request.run);
    if (quarantine) {
        if (!request.packages.isEmpty() || !request.paths.isEmpty() || !request.pids.isEmpty())
            fail("a quarantine request carries more than its run");
        if (request.run.isEmpty() && request.type != RequestType::ListQuarantine)
            fail("a restore or empty request without its run was accepted");
        return;
    }
    if (request.type == RequestType::Kill && !request.run.isEmpty())
        fail("a kill request with a run was accepted");
    if (request.packages.isEmpty())
        fail("a request for no package was accepted");
    for (const QString &package : request.packages) {
        if (!identifierRefusal(package).isEmpty())
            fail("a package identifier the rules refuse was accepted:", package);
    }
    for (auto it = request.refused.cbegin(); it != request.refused.cend(); ++it) {
        if (it.value().isEmpty())
            fail("an item refused without a reason:", it.key());
    }
    switch (request.type) {
    case RequestType::Forget:
        if (!identifierRefusal(request.identifier).isEmpty())
            fail("an identifier the rules refuse was accepted:", request.identifier);
        break;
    case RequestType::Delete:
    case RequestType::DeleteEmptyFolder: {
        if (request.sent.size() != request.paths.size())
            fail("accepted paths and sent items disagree");
        for (const platform::LogicalPath &path : request.paths) {
            const QString why = pathRefusal(path.toString());
            if (!why.isEmpty())
                fail("an accepted path is refused in its cleaned form:", path.toString() + QLatin1String(": ") + why);
        }
        const ParseResult again = parseRequest(withRun(request.type == RequestType::Delete
                                                           ? deleteMessage(request.paths, request.packages)
                                                           : deleteEmptyFolderMessage(request.paths, request.packages),
                                                       request.run));
        const auto *rebuilt = std::get_if<HelperRequest>(&again);
        if (!rebuilt || !rebuilt->refused.isEmpty() || rebuilt->paths != request.paths || rebuilt->run != request.run)
            fail("the client's message for the accepted paths is not accepted whole");
        break;
    }
    default:
        break;
    case RequestType::Kill:
        if (request.sent.size() != request.pids.size())
            fail("accepted processes and sent items disagree");
        for (qint64 pid : request.pids) {
            if (pid < 2 || pid > MaxPid)
                fail("a process identifier out of range was accepted:", QString::number(pid));
        }
        const ParseResult again = parseRequest(killMessage(request.pids, request.packages));
        const auto *rebuilt = std::get_if<HelperRequest>(&again);
        // Compared item by item: an empty list may have no data at all.
        if (!rebuilt || !rebuilt->refused.isEmpty()
            || !std::equal(rebuilt->pids.cbegin(), rebuilt->pids.cend(), request.pids.cbegin(), request.pids.cend()))
            fail("the client's message for the accepted processes is not accepted whole");
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));
    FrameDecoder whole;
    const QList<Message> messages = whole.feed(bytes);
    FrameDecoder pieces;
    if (feedInPieces(bytes, pieces) != messages || pieces.failed() != whole.failed()
        || pieces.hasPartialFrame() != whole.hasPartialFrame())
        fail("the stream cut in pieces decodes otherwise");
    if (whole.failed() && whole.error().isEmpty())
        fail("the decoder failed without a reason");
    if (const auto received = receiveFromSocket(bytes); received && *received != messages)
        fail("the channel receives other messages than the decoder gives");

    for (const Message &message : messages) {
        const std::optional<QByteArray> frame = encodeFrame(message);
        FrameDecoder again;
        if (!frame || again.feed(*frame) != QList<Message>{message} || again.failed())
            fail("a decoded message does not encode back to itself");
        checkRequest(message);
    }
    return 0;
}
