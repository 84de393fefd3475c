#pragma once

#include "helperwire/FrameChannel.h"
#include "helperwire/HelperLabel.h"
#include "platform/LogicalPath.h"

#include <QMutex>

#include <functional>
#include <optional>
#include <variant>

namespace dorvane {

// What can go wrong with the connection as a whole.
enum class ConnectionEvent {
    Interrupted,   // the tool closed or broke the stream before it answered
    Invalid,       // the service cannot be reached at all, or the connection was cancelled
};

// What a request gets back: the tool's reply dictionary or the error in its place.
using HelperReply = std::variant<helperwire::Message, ConnectionEvent>;

// The connection to the helper tool's service: a stream socket at the
// helper's fixed place on the volume, carrying one message each way per
// request. It connects on the first request, and again on the next request
// after an interruption, so a tool that was restarted is simply reached anew.
//
// Events and replies: when a request meets an interruption or an
// unreachable service, the event handler runs first, on the requesting
// thread, and only then does sendWithReply() return the error. So the user
// sees the connection's own report before the request's report, and when
// the handler ends the process (an invalid connection) the request's report
// never comes. The handler runs with no lock held, so it may show alerts.
// A stream that the tool closed while no request was waiting is no event:
// the tool ends connections left idle past its read time-out, so that no
// client holds it for ever, and the request simply goes out on a new
// stream. An invalid connection stays invalid: later requests get
// ConnectionEvent::Invalid without a second event. cancel() is our own doing and
// raises no event, nor does a message that cannot be framed (it never left;
// the request gets ConnectionEvent::Interrupted).
//
// A request waits for its reply without a deadline, as the tool may take long
// on a large tree; only the tool closing the stream ends the wait. Requests
// from several threads are carried one at a time.
class HelperConnection
{
public:
    using EventHandler = std::function<void(ConnectionEvent)>;

    explicit HelperConnection(platform::LogicalPath socket = helperwire::socketPath());
    HelperConnection(const HelperConnection &) = delete;
    HelperConnection &operator=(const HelperConnection &) = delete;

    void setEventHandler(EventHandler handler);

    HelperReply sendWithReply(const helperwire::Message &message);

    // Closes the stream and drops the handler; every later request gets
    // ConnectionEvent::Invalid. Waits for a request in flight.
    void cancel();

private:
    HelperReply exchange(const helperwire::Message &message, std::optional<ConnectionEvent> *event);

    const platform::LogicalPath m_socket;
    QMutex m_mutex;   // one request at a time; guards everything below
    helperwire::FrameChannel m_channel;
    EventHandler m_handler;
    bool m_invalid = false;
};

} // namespace dorvane
