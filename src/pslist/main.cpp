// dorvane-ps --root PHYSICAL_ROOT ax -opid,comm
//
// Prints what the Mac's "/bin/ps ax -opid,comm" prints: a header, then each
// process with its pid right-aligned in five columns and its executable's
// full path, here the logical path on the volume at PHYSICAL_ROOT. Only the
// processes running from that volume are listed. Exit status 2 for any
// other usage, 1 when the root cannot be opened.

#include "platform/RunningProcesses.h"
#include "platform/Volume.h"

#include <QFile>
#include <QStringList>

#include <cstdio>

namespace {

// A control character in a name could end the line early and forge
// another process's line for the reader; it is shown as "?", as ps does.
QByteArray printable(const QString &path)
{
    QString shown = path;
    for (QChar &c : shown) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('?');
    }
    return shown.toUtf8();
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QFile::decodeName(argv[i]));
    if (arguments.size() != 4 || arguments.at(0) != QLatin1String("--root") || arguments.at(2) != QLatin1String("ax")
        || arguments.at(3) != QLatin1String("-opid,comm")) {
        std::fputs("usage: dorvane-ps --root PHYSICAL_ROOT ax -opid,comm\n", stderr);
        return 2;
    }
    QString error;
    if (!platform::Volume::configure(arguments.at(1), QString(), &error)) {
        std::fprintf(stderr, "dorvane-ps: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    QByteArray out = "  PID COMM\n";
    for (const platform::RunningProcess &process : platform::runningProcesses())
        out += QByteArray::number(process.pid).rightJustified(5, ' ') + ' ' + printable(process.executable.toString()) + '\n';
    return std::fwrite(out.constData(), 1, size_t(out.size()), stdout) == size_t(out.size()) ? 0 : 1;
}
