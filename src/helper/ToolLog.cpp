#include "ToolLog.h"

#include "helperwire/HelperLabel.h"
#include "platform/SystemLog.h"

#include <cstdio>
#include <unistd.h>

namespace helpertool {

void toolLog(LogLevel level, const QString &text)
{
    // A name may hold any character but NUL: escaped, none can forge a line.
    QString message;
    message.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            message += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            message += c;
    }
    platform::SystemLog::write(level, helperwire::helperLabel(), message);
    const QByteArray line = QStringLiteral("%1[%2] <%3> %4\n")
                                .arg(helperwire::helperLabel()).arg(::getpid()).arg(int(level)).arg(message)
                                .toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

} // namespace helpertool
