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
    // The stored array as it is, with any entry that is no text.
    keyOf(list).setDefaultArray(keyOf(list).defaultArray().value_or(QVariantList()) << text);
    return true;
}

bool removeRows(List list, const QStringList &shown, QList<int> rows)
{
    const QString message =
        list == List::Installers
            ? QStringLiteral("Removing packages that are hidden by default can make your system unbootable. Don't "
                             "change these settings unless you know exactly what you are doing!")
            : QStringLiteral("Removing packages contents also from system locations can make your system "
                             "unbootable. Don't change these settings unless you know exactly what you are doing!");
    if (kestrum::alert(QStringLiteral("Warning"), message, QStringLiteral("Continue"), QStringLiteral("Cancel")) != 1000)
        return false;
    // Read again after the question: the command line may have changed the
    // list meanwhile, so the chosen entries are found by their text. Of equal
    // texts, the one at the same place among them goes (else the last);
    // from the last row, so an earlier one's place is still right.
    QVariantList kept = keyOf(list).defaultArray().value_or(QVariantList());
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int row : std::as_const(rows)) {
        if (row < 0 || row >= shown.size())
            continue;
        const qsizetype place = shown.mid(0, row).count(shown.at(row));
        QList<qsizetype> equal;
        for (qsizetype i = 0; i < kept.size(); ++i) {
            if (kept.at(i).typeId() == QMetaType::QString && kept.at(i).toString() == shown.at(row))
                equal.append(i);
        }
        if (!equal.isEmpty())
            kept.removeAt(equal.value(place, equal.last()));
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
