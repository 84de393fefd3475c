#include "ToolLog.h"

#include "helperwire/HelperLabel.h"
#include "platform/SystemLog.h"

#include <cstdio>
#include <unistd.h>

namespace helper {

void toolLog(LogLevel level, const QString &message)
{
    platform::SystemLog::write(level, helperwire::helperLabel(), message);
    const QByteArray line = QStringLiteral("%1[%2] <%3> %4\n")
                                .arg(helperwire::helperLabel()).arg(::getpid()).arg(int(level)).arg(message)
                                .toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

} // namespace helper
