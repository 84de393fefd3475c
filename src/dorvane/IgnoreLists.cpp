#include "dorvane/IgnoreLists.h"

#include "dorvane/Settings.h"
#include "kestrum/Alert.h"
#include "kestrum/DefaultsKey.h"

#include <algorithm>

namespace dorvane::IgnoreLists {

namespace {

kestrum::DefaultsKey keyOf(List list)
{
    return kestrum::DefaultsKey(list == List::Installers ? Settings::kIgnoredInstallers
                                                         : Settings::kIgnoredSystemFolders);
}

} // namespace

QStringList entries(List list)
{
    return keyOf(list).defaultStringArray();
}

bool add(List list)
{
    QString text;
    const QString prompt = list == List::Installers
                               ? QStringLiteral("Please enter the name of an additional installer to ignore")
                               : QStringLiteral("Please enter the name of an additional folder to ignore");
    if (kestrum::alert_input(prompt, {QStringLiteral("Add"), QStringLiteral("Cancel")}, &text) != 1000)
        return false;
    keyOf(list).setDefaultArray(entries(list) << text);
    return true;
}

bool removeRows(List list, QList<int> rows)
{
    const QString message =
        list == List::Installers
            ? QStringLiteral("Removing packages that are hidden by default can make your system unbootable. Don't "
                             "change these settings unless you know exactly what you are doing!")
            : QStringLiteral("Removing packages contents also from system locations can make your system "
                             "unbootable. Don't change these settings unless you know exactly what you are doing!");
    if (kestrum::alert(QStringLiteral("Warning"), message, QStringLiteral("Continue"), QStringLiteral("Cancel")) != 1000)
        return false;
    QStringList kept = entries(list);
    // From the last row, so the earlier rows keep their numbers.
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int row : std::as_const(rows)) {
        if (row >= 0 && row < kept.size())
            kept.removeAt(row);
    }
    keyOf(list).setDefaultArray(kept);
    return true;
}

bool reset(List list)
{
    const QString question = list == List::Installers
                                 ? QStringLiteral("Do you really want to reset the ignored installers to factory defaults?")
                                 : QStringLiteral("Do you really want to reset the ignored folders to factory defaults?");
    if (kestrum::alert(QStringLiteral("Reset"), question, QStringLiteral("Reset"), QStringLiteral("Cancel")) != 1000)
        return false;
    keyOf(list).setDefaultArray(list == List::Installers ? Settings::defaultIgnoredInstallers()
                                                         : Settings::defaultIgnoredSystemFolders());
    return true;
}

} // namespace dorvane::IgnoreLists
