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
