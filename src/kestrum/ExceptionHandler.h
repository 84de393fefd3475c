#pragma once

#include <QString>
#include <QStringList>

#include <exception>
#include <optional>

namespace kestrum {

// Exceptions nobody catches end in the fatal error feedback: the alert that
// offers to mail a problem report, then exit status 1. They arrive here from
// std::terminate (set by installUncaughtExceptionHandler), from the event
// loop (kestrum::Application) and from blocks on the background queue
// (kestrum/Dispatch.h).

// Installs the handler as std::terminate's handler for the whole process.
void installUncaughtExceptionHandler();

// Reports the exception with alert_feedback_fatal: the message is its name,
// the details its description, reason, user information and the call stack
// of the reporting thread. Never returns.
[[noreturn]] void exceptionHandler(std::exception_ptr exception);

// The exception's name: its dynamic type, demangled ("std::runtime_error").
QString exceptionName(const std::exception_ptr &exception);
// Its reason: what() of a std::exception; nothing for other types.
std::optional<QString> exceptionReason(const std::exception_ptr &exception);

// The details text of an exception report, " %@ %@ %@ %@" with its
// description, reason, user information and call-stack symbols.
QString exceptionDetails(const std::exception_ptr &exception, const QStringList &callStack);

// The symbols of the calling thread's stack, innermost first, as
// backtrace_symbols gives them; `skip` frames of the caller's own are left out.
QStringList callStackSymbols(int skip = 0);

} // namespace kestrum
