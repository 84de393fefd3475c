#pragma once

#include <QString>

#include <cstdio>
#include <cstdlib>

// A broken invariant: said on standard error, then abort(), which libFuzzer
// and the replayer both take as a finding.
[[noreturn]] inline void fail(const char *what, const QString &detail = QString())
{
    std::fprintf(stderr, "%s %s\n", what, qPrintable(detail));
    std::abort();
}
