#pragma once

#include "dorvane/toolclient/HelperConnection.h"
#include "dorvane/toolclient/HelperInstaller.h"
#include "helperwire/HelperReply.h"
#include "platform/LogicalPath.h"

#include <QList>
#include <QMutex>
#include <QString>

#include <memory>
#include <optional>

namespace dorvane {

class PackageRecord;

// The application's side of the privileged helper tool, which does every
// removal, every termination of another user's process and every receipt
// forgetting. One instance lives for the whole run.
//
// Each request logs its start, sends one message and blocks its thread (the
// uninstall's background thread, never the main one) until the tool answers.
// A failure is shown to the user with the feedback report and the request
// returns, so the uninstall goes on, also when a delete lost its connection
// (the tool was killed; its job starts it again). A delete answered without
// a reply string, a receipt that was not forgotten and a service that
// cannot be reached end the process after the report instead.
//
// `packages` are the identifiers of the packages being uninstalled: every
// request names them, and the tool accepts only what their receipts on the
// volume justify (see RemovalRules). `information` describes them: it is
// logged and copied into every report of the request, never sent.
//
// Replies are typed (helperwire::Reply): each item removed, already gone,
// refused with the rule's reason, or failed with its errno.
//
// Order of reports: a broken connection is reported by the connection's
// event handler before the request sees the error in place of its reply
// (see HelperConnection), so "XPC connection interrupted" comes first and
// the request's own report second.
class DeleteHelper
{
public:
    // Installs the tool, or replaces one of another version; first of all
    // helper work at start-up. Nothing when it is current.
    static std::optional<HelperError> blessHelper() { return HelperInstaller::blessHelper(); }

    // Connects (on the first request) to the tool's socket on the volume.
    DeleteHelper();
    // Uses the given connection; none is reported as fatal.
    explicit DeleteHelper(std::shared_ptr<HelperConnection> connection);
    // Cancels the connection.
    ~DeleteHelper();
    DeleteHelper(const DeleteHelper &) = delete;
    DeleteHelper &operator=(const DeleteHelper &) = delete;

    // None once the connection was found invalid. A request without a
    // connection gets ConnectionEvent::Invalid in place of its reply.
    std::shared_ptr<HelperConnection> connection() const;
    void setConnection(std::shared_ptr<HelperConnection> connection);

    // The tool's reply; nothing when none came (the connection broke, and
    // what went is for the run to look at).
    std::optional<helperwire::Reply> deleteFiles(const QList<platform::LogicalPath> &paths, const QStringList &packages,
                                                 const QString &information);
    // Removes the folder only when it is empty, or holds nothing but a
    // ".DS_Store" or "Icon\r" file, at the moment of removal.
    std::optional<helperwire::Reply> deleteFolder(const platform::LogicalPath &folder, const QStringList &packages,
                                                  const QString &information);
    void killPIDs(const QList<qint64> &pids, const QStringList &packages, const QString &information);
    // Forgets the package's receipt; returns only when the tool confirmed it.
    void deletePackage(const PackageRecord &package, const QStringList &packages);

    // The run whose quarantine keeps what the removals above take away;
    // empty (as at first) removes for good.
    void setRun(const QString &run);
    QString run() const;

    // A quarantine request (restore, empty, list): the tool's reply, or
    // nothing with *error when none came. Nothing is shown: the caller
    // says what it means.
    std::optional<helperwire::Reply> askQuarantine(const helperwire::Message &message, QString *error);

    // What a reply calls for: nothing, or a report to the user that ends
    // the run when it is fatal. The requests above show what these say, so
    // a reply is read in one place, whatever the tool sent.
    struct Report
    {
        QString message;
        QString details;
        bool fatal = false;
    };
    static std::optional<Report> deleteReport(const HelperReply &reply, const QString &information);
    static std::optional<Report> killReport(const HelperReply &reply, const QList<qint64> &pids,
                                            const QString &information);
    static std::optional<Report> forgetReport(const HelperReply &reply, const PackageRecord &package);

    // The name of what came back, for the reports: "XPC_TYPE_DICTIONARY",
    // "XPC_TYPE_ERROR" or "XPC_TYPE_ERROR:XPC_ERROR_CONNECTION_INVALID".
    static QString typeOfEvent(const HelperReply &reply);

    // The helper's job as the system lists it, then as it is looked up by
    // label: "%@\n_\n%@", "(null)" for a missing one.
    QString smjobdata() const;

private:
    HelperReply send(const helperwire::Message &message);
    void handleEvent(ConnectionEvent error);

    mutable QMutex m_mutex;   // the fields below are read from the requesting thread
    std::shared_ptr<HelperConnection> m_connection;
    QString m_run;
};

} // namespace dorvane
