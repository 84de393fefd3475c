#pragma once

#include "dorvane/receipts/PackageRecord.h"
#include "platform/PackageBOM.h"
#include "platform/Volume.h"

#include <QList>
#include <QStringList>

#include <functional>
#include <memory>

namespace dorvane {

// Something wrong with a receipt on the volume: a line for the log and,
// for a receipt the user should hear of, a feedback report's message and
// details.
struct ReceiptProblem
{
    enum Level { Error = 3, Warning = 4 };
    int level = Error;
    QString line;
    QString feedbackMessage;
    QString feedbackDetails;
};
using ProblemSink = std::function<void(const ReceiptProblem &)>;

// Reads what the system installer recorded on one volume, through its door:
// the receipts, their install folders and their bills. It keeps no state,
// logs nothing and asks nothing itself; every problem goes to the sink, so
// the application can log and report it and the privileged helper tool can
// read the same receipts as root with its own log. Every path it takes or
// gives is a logical path of that volume.
class ReceiptReader
{
public:
    ReceiptReader(std::shared_ptr<const platform::Volume> volume, ProblemSink sink);

    // One record per receipt: the system receipts, then the user's, then the
    // legacy bundles, each group in the file system's listing order. Bad
    // receipts are reported and skipped.
    QList<PackageRecord> packages() const;

    // The folder the package was installed into. Marks the record damaged
    // when its receipt cannot be opened.
    platform::LogicalPath installLocation(PackageRecord &record) const;

    // The absolute path of every entry of the package's bill, in the bill's
    // order, duplicates kept; empty when the bill cannot be read (and the
    // record marked damaged when it cannot even be opened).
    QStringList files(PackageRecord &record, const platform::LogicalPath &prefix) const;
    // The same paths as UTF-8 bytes, handed to `visit` one by one with no
    // string made per path; false, with the same logging and marking, when
    // the bill cannot be read. `expect` learns first how many paths come
    // and about how many bytes they take, so a caller can make room once.
    bool forEachFile(PackageRecord &record, const platform::LogicalPath &prefix,
                     const std::function<void(QByteArrayView path)> &visit,
                     const std::function<void(qsizetype paths, qsizetype bytes)> &expect = {}) const;

    // "~/Library/Receipts" of the volume's home folder.
    platform::LogicalPath userReceiptsFolder() const;

    const platform::Volume &volume() const { return *m_volume; }

    static inline const QString kSystemReceipts = QStringLiteral("/private/var/db/receipts/");
    static inline const QString kUserReceipts = QStringLiteral("~/Library/Receipts/");
    static inline const QString kLegacyReceipts = QStringLiteral("/Library/Receipts/");

    struct Context
    {
        const platform::Volume &volume;
        const ProblemSink &sink;
        void report(const ReceiptProblem &problem) const
        {
            if (sink)
                sink(problem);
        }
        void log(int level, const QString &line) const { report({level, line, QString(), QString()}); }
    };

private:
    Context context() const { return {*m_volume, m_sink}; }
    std::optional<platform::PackageBOM> openBill(PackageRecord &record) const;

    std::shared_ptr<const platform::Volume> m_volume;
    ProblemSink m_sink;
};

} // namespace dorvane
