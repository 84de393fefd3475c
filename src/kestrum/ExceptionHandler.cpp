#include "kestrum/ExceptionHandler.h"

#include "platform/CrashSignalHandler.h"
#include "kestrum/Feedback.h"
#include "kestrum/Format.h"

#include <cxxabi.h>
#include <execinfo.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace kestrum {

namespace {

constexpr int kMaxFrames = 128;

// Set while this thread reports an exception; an exception thrown while the
// report itself is shown cannot be reported again, so it aborts, and the
// crash report records what was being reported.
thread_local bool t_reporting = false;

QString demangled(const char *name)
{
    if (!name)
        return QStringLiteral("(unknown)");
    int status = 0;
    std::unique_ptr<char, void (*)(void *)> text(abi::__cxa_demangle(name, nullptr, nullptr, &status), std::free);
    return QString::fromUtf8(status == 0 && text ? text.get() : name);
}

void terminateHandler()
{
    if (std::exception_ptr exception = std::current_exception())
        exceptionHandler(exception);
    if (t_reporting)
        std::abort();
    t_reporting = true;
    // std::terminate was called directly, or by the runtime with no
    // exception in flight (a failed thread join, a pure virtual call).
    const QString name = QStringLiteral("std::terminate");
    const QString description = QStringLiteral("std::terminate was called without an active exception");
    platform::noteUncaughtExceptionForCrashReport(name.toUtf8(), QByteArray());
    alert_feedback_fatal(name, makeString(" %@ %@ %@ %@", description, QVariant(), QVariant(),
                                          QVariant(callStackSymbols(1))));
}

} // namespace

void installUncaughtExceptionHandler()
{
    std::set_terminate(terminateHandler);
}

QString exceptionName(const std::exception_ptr &exception)
{
    if (!exception)
        return QString();
    try {
        std::rethrow_exception(exception);
    } catch (...) {
        const std::type_info *type = abi::__cxa_current_exception_type();
        return demangled(type ? type->name() : nullptr);
    }
}

std::optional<QString> exceptionReason(const std::exception_ptr &exception)
{
    if (!exception)
        return std::nullopt;
    try {
        std::rethrow_exception(exception);
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return std::nullopt;
    }
}

QString exceptionDetails(const std::exception_ptr &exception, const QStringList &callStack)
{
    const std::optional<QString> reason = exceptionReason(exception);
    // A C++ exception describes itself by its reason, as the Mac's do; one
    // without a reason (a thrown int) by its type. It carries no user
    // information, which shows as the Mac shows a missing one.
    const QString description = reason ? *reason : exceptionName(exception);
    return makeString(" %@ %@ %@ %@", description, reason ? QVariant(*reason) : QVariant(), QVariant(),
                      QVariant(callStack));
}

QStringList callStackSymbols(int skip)
{
    void *frames[kMaxFrames];
    const int count = ::backtrace(frames, kMaxFrames);
    QStringList result;
    std::unique_ptr<char *, void (*)(void *)> symbols(::backtrace_symbols(frames, count), std::free);
    if (!symbols)
        return result;
    // Frame 0 is this function itself.
    for (int i = 1 + skip; i < count; ++i)
        result.append(QString::fromLocal8Bit(symbols.get()[i]));
    return result;
}

void exceptionHandler(std::exception_ptr exception)
{
    if (t_reporting)
        std::abort();
    t_reporting = true;
    const QString name = exceptionName(exception);
    platform::noteUncaughtExceptionForCrashReport(name.toUtf8(), exceptionReason(exception).value_or(QString()).toUtf8());
    alert_feedback_fatal(name, exceptionDetails(exception, callStackSymbols(1)));
}

} // namespace kestrum
