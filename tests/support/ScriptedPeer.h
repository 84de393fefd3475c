#pragma once

#include "helperwire/FrameChannel.h"
#include "helperwire/HelperLabel.h"
#include "platform/Volume.h"

#include <QList>
#include <QMutex>

#include <cerrno>
#include <functional>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

// The helper tool's side, scripted, on the current volume's socket: every
// request is recorded and answered by the responder. An empty answer closes
// the stream instead; an answer with the key "+close" goes out without it
// and the stream is closed after it.
class ScriptedPeer
{
public:
    using Message = helperwire::Message;
    using Responder = std::function<Message(const Message &request)>;

    explicit ScriptedPeer(Responder responder) : m_responder(std::move(responder)) {}
    // Answers with the script's messages in turn, then closes.
    explicit ScriptedPeer(QList<Message> script)
        : m_responder([script](const Message &) mutable { return script.isEmpty() ? Message() : script.takeFirst(); })
    {
    }
    ~ScriptedPeer()
    {
        ::shutdown(m_listener, SHUT_RDWR);   // ends the wait for the next client
        m_thread.join();
        ::close(m_listener);
    }
    bool isListening() const { return m_listener >= 0; }
    QList<Message> requests() const { QMutexLocker lock(&m_mutex); return m_requests; }
    // Whether every request that came has been answered (or closed on).
    bool idle() const { QMutexLocker lock(&m_mutex); return m_handled == m_requests.size(); }

private:
    void serve()
    {
        for (;;) {
            helperwire::FrameChannel channel(::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC));
            if (!channel.isOpen() && errno != EINTR)
                return;
            Message received;
            while (channel.receive(&received, -1) == helperwire::FrameChannel::Status::Ok) {
                QMutexLocker lock(&m_mutex);
                m_requests.append(received);
                Message reply = m_responder(received);
                const bool close = reply.isEmpty() || reply.remove("+close") > 0;
                if (!reply.isEmpty())
                    channel.send(reply, 5000);
                if (close)
                    channel.close();
                ++m_handled;
            }
        }
    }

    mutable QMutex m_mutex;
    Responder m_responder;
    QList<Message> m_requests;
    qsizetype m_handled = 0;
    const int m_listener = platform::Volume::current()->listenOnSocket(helperwire::socketPath());
    std::thread m_thread{[this] { serve(); }};   // last: it uses the fields above
};
