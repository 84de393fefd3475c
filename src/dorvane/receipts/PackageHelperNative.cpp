#include "dorvane/receipts/PackageHelperNative.h"

#include "kestrum/Feedback.h"
#include "kestrum/Log.h"

namespace dorvane {

namespace {

// The application hears of a bad receipt in its log, and of a malformed
// one in a feedback report too.
void reportProblem(const ReceiptProblem &problem)
{
    kestrum::asl_NSLog(problem.level, problem.line);
    if (!problem.feedbackMessage.isEmpty())
        kestrum::alert_feedback_nonfatal(problem.feedbackMessage, problem.feedbackDetails);
}

} // namespace

ReceiptReader PackageHelperNative::reader()
{
    return ReceiptReader(platform::Volume::current(), reportProblem);
}

QList<PackageRecord> PackageHelperNative::getPackages()
{
    return reader().packages();
}

platform::LogicalPath PackageHelperNative::installLocationForPackage(PackageRecord &record)
{
    return reader().installLocation(record);
}

QStringList PackageHelperNative::getFilesForPackage(PackageRecord &record, const platform::LogicalPath &prefix)
{
    return reader().files(record, prefix);
}

} // namespace dorvane
