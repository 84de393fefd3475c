#pragma once

#include "PeerCheck.h"
#include "RequestRunner.h"

#include "platform/Volume.h"

#include <QString>

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace helpertool {

struct ServiceOptions
{
    uid_t servedUid = 0;
    int readTimeoutMilliseconds = 10000;
    int listener = -1;   // a listening socket on the helper's place, from the keeper
};

// The tool's service: listens on the helper's socket on the volume, accepts
// the clients that pass the peer check, and serves each on a thread of its
// own, one request after another. Requests of different clients are carried
// out one at a time, as the Mac's service does. No client can end it: a bad
// or silent one loses only its own connection.
class HelperService
{
public:
    explicit HelperService(const ServiceOptions &options);
    ~HelperService();

    // Listens on the socket and writes the pid file. SIGTERM and SIGINT must
    // already be blocked in every thread; the service takes them from a
    // signal descriptor. False with *error when it cannot serve.
    bool start(QString *error);

    // Serves until SIGTERM or SIGINT; then waits for the requests under way
    // and removes the socket and the pid file, if they are still its own.
    void run();

private:
    struct Session
    {
        std::thread thread;
        int socket = -1;
        std::atomic<bool> finished{false};
    };

    void acceptClient();
    void serve(Session *session, const Peer &peer);
    void reapSessions(bool all);
    void cleanUp();

    ServiceOptions m_options;
    PeerCheck m_peerCheck;
    RequestRunner m_runner;
    std::mutex m_runLock;   // one request at a time
    int m_listener = -1;
    int m_signals = -1;     // signalfd of SIGTERM and SIGINT
    int m_wake = -1;        // eventfd: a session has finished
    std::list<std::unique_ptr<Session>> m_sessions;
    std::optional<platform::ItemStatus> m_socketStatus;   // which socket is ours
};

} // namespace helpertool
