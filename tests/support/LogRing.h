#pragma once

#include "kestrum/Log.h"
#include "platform/UserDefaults.h"

#include <QStringList>

// The messages kept in the log ring of one level, in slot order, for tests
// that check what was logged.
inline QStringList loggedMessages(int level)
{
    QStringList messages;
    for (int i = 0; i < 10; ++i) {
        const QString entry =
            platform::UserDefaults::standard().storedObject(kestrum::logRingKey(level, i)).toString();
        if (!entry.isEmpty())
            messages.append(entry);
    }
    return messages;
}

inline bool wasLogged(int level, const QString &text)
{
    for (const QString &message : loggedMessages(level)) {
        if (message.contains(text))
            return true;
    }
    return false;
}

// The log ring's slots of both levels are emptied and a mark logged, so the
// lines after it, in slot order and wrapping round, are the new ones.
inline void markLog()
{
    for (int level : {kestrum::LogError, kestrum::LogInfo}) {
        for (int i = 0; i < 10; ++i)
            platform::UserDefaults::standard().removeObject(kestrum::logRingKey(level, i));
        kestrum::asl_NSLog(level, QStringLiteral("capture-mark"));
    }
}

inline QStringList linesSinceMark(int level)
{
    QStringList lines;
    for (const QString &entry : loggedMessages(level))
        lines.append(entry.mid(entry.indexOf(QStringLiteral(" message: ")) + 10));
    const qsizetype mark = lines.indexOf(QStringLiteral("capture-mark"));
    return mark < 0 ? QStringList{"<no mark>"} : lines.mid(mark + 1) + lines.first(mark);
}
