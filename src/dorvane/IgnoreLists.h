#pragma once

#include <QList>
#include <QStringList>

namespace dorvane {

// The editors of the two protective lists: the installers whose packages
// stay out of the catalogue, and the folders nothing is ever removed from.
// Each command asks first through the alert functions and changes only the
// stored setting; the list shown changes at the next scan or plan. Main
// thread.
namespace IgnoreLists {

// The numbers the remove commands carry as their tag.
enum class List { Installers = 1, SystemFolders = 2 };

QStringList entries(List list);

// Asks for a name and appends it as typed (empty and repeated entries
// too), keeping entries that are no text; true when the list changed.
bool add(List list);
// Warns, then removes the entries the user chose: the rows of `shown`, the
// list as the editor showed it. Entries that are no text stay. True when
// the list changed.
bool removeRows(List list, const QStringList &shown, QList<int> rows);
// Asks, then stores the factory list.
bool reset(List list);

} // namespace IgnoreLists
} // namespace dorvane
