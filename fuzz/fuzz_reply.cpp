// Fuzz target for what the application reads back from the helper tool: the
// input is every byte the tool sends after a request before it closes the
// stream. A stand-in tool on a volume in a temporary folder answers the real
// connection with those bytes, and the reply is read as each request reads
// it. Whatever the tool sends, nothing crashes, the connection gives a reply
// exactly when the bytes begin with a whole frame (and then that frame's
// message), a delete or forget that got no usable answer is reported (a
// message without its reply string ends the run) and a kill never ends it.
#include "FuzzFail.h"
#include "dorvane/toolclient/DeleteHelper.h"
#include "dorvane/receipts/PackageRecord.h"
#include "helperwire/FrameChannel.h"
#include "helperwire/HelperLabel.h"
#include "helperwire/HelperRequest.h"
#include "kestrum/AlertPresenter.h"
#include "platform/Volume.h"

#include <QMutex>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

using namespace dorvane;
using helperwire::Message;
using platform::LogicalPath;
using platform::Volume;

namespace {

// The tool's side: takes each request and answers it with the bytes of the
// current input, then closes the stream.
class StandInTool
{
public:
    explicit StandInTool(const QTemporaryDir &volume)
    {
        QString error;
        if (!volume.isValid() || !Volume::configure(volume.path(), QStringLiteral("/Users/fuzz"), &error)
            || !Volume::current()->makeFolders(helperwire::socketPath().parent(), &error)
            || !Volume::current()->makeFolders(platform::volumePath(u"/Applications/Fuzz.app").value(), &error)
            || !Volume::current()->makeFolders(platform::volumePath(u"/private/var/db/receipts").value(), &error))
            fail("cannot make the volume:", error);
        m_listener = Volume::current()->listenOnSocket(helperwire::socketPath(), &error);
        if (m_listener < 0)
            fail("cannot listen:", error);
        std::thread([this] { serve(); }).detach();   // lives as long as the process
    }

    void setAnswer(QByteArrayView bytes)
    {
        QMutexLocker lock(&m_mutex);
        m_answer = bytes.toByteArray();
    }

private:
    void serve()
    {
        for (;;) {
            helperwire::FrameChannel channel(::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC));
            Message request;
            if (!channel.isOpen() || channel.receive(&request, 5000) != helperwire::FrameChannel::Status::Ok)
                continue;
            QMutexLocker lock(&m_mutex);
            for (qsizetype done = 0; done < m_answer.size();) {
                const ssize_t n = ::send(channel.descriptor(), m_answer.constData() + done,
                                         size_t(m_answer.size() - done), MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                done += n;
            }
        }
    }

    int m_listener = -1;
    QMutex m_mutex;
    QByteArray m_answer;
};

// Answers every alert with its second button: no problem report is composed.
class SilentPresenter : public kestrum::AlertPresenter
{
public:
    kestrum::AlertAnswer present(const kestrum::AlertQuestion &) override { return {1001, {}, false, 0}; }
};

// The volume is removed at exit; the tool is never destroyed, as its thread
// waits for a client until the process ends.
StandInTool &tool()
{
    static const QTemporaryDir volume;
    static StandInTool *made = [] {
        kestrum::setAlertPresenter(std::make_shared<SilentPresenter>());
        // Each run's report would flood the system log; findings show in the fuzzer's output.
        ::setlogmask(LOG_MASK(LOG_EMERG));
        return new StandInTool(volume);
    }();
    return *made;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));
    tool().setAnswer(bytes);
    // A new connection for every input, as the tool closes each stream.
    HelperConnection connection;
    const HelperReply reply = connection.sendWithReply(
        helperwire::deleteMessage({platform::volumePath(u"/Applications/Fuzz.app").value()}, {QStringLiteral("org.fuzz.pkg")}));

    helperwire::FrameDecoder decoder;
    const QList<Message> frames = decoder.feed(bytes);
    const auto *message = std::get_if<Message>(&reply);
    if (frames.isEmpty() ? message != nullptr : (!message || *message != frames.first()))
        fail("the connection's reply is not the first frame the tool sent");
    const bool hasText = message && message->contains(QStringLiteral("reply"));
    const std::optional<helperwire::Reply> typed =
        hasText ? helperwire::decodeReply(message->value(QStringLiteral("reply"))) : std::nullopt;

    const QString information = QStringLiteral("Fuzz.pkg");
    const std::optional<DeleteHelper::Report> deleted = DeleteHelper::deleteReport(reply, information);
    // A broken stream is reported and the run goes on; a message without a
    // typed reply ends the run; a typed reply is reported when an item did
    // not go.
    if (!typed && (!deleted || deleted->fatal != (message != nullptr)))
        fail("a delete without a typed answer is reported otherwise than its stream says");
    if (typed && (deleted.has_value() != !typed->failures().isEmpty() || (deleted && deleted->fatal)))
        fail("a delete with a typed answer is reported otherwise than its items say");
    const std::optional<DeleteHelper::Report> killed = DeleteHelper::killReport(reply, {4242, 4243}, information);
    if (killed && killed->fatal)
        fail("a kill's reply ends the run");
    if (killed.has_value() != (!typed || !typed->failures().isEmpty()))
        fail("a kill is reported otherwise than its answer says");
    const PackageRecord package({{QStringLiteral("PackageIdentifier"), QStringLiteral("org.fuzz.pkg")}});
    const std::optional<DeleteHelper::Report> forgot = DeleteHelper::forgetReport(reply, package);
    if (forgot.has_value() != !(typed && !typed->items.isEmpty() && typed->failures().isEmpty()))
        fail("a forget is reported otherwise than its answer says");
    for (const auto &report : {deleted, killed, forgot}) {
        if (report && (report->message.isEmpty() || report->details.isEmpty()))
            fail("a report without its message or details");
    }
    return 0;
}
