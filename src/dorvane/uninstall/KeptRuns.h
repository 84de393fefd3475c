#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace dorvane {

class DeleteHelper;

// A run whose removed items the quarantine keeps, as the helper tool lists it.
struct KeptRun
{
    QString run;
    QDateTime created;
    QStringList packages;
    qint64 items = 0;
    qint64 bytes = 0;
    QStringList paths;   // when one run was asked for: the first thousand of its items

    QDateTime keptUntil(int days) const { return created.addDays(days); }
};

// What undo gave back, and what it could not.
struct UndoOutcome
{
    QString run;
    QString error;            // the tool refused the run, or gave no answer
    QStringList restored;     // back in place
    QStringList neverMoved;   // recorded, but never taken to the quarantine: still in place
    QStringList notRestored;  // "path: reason", left in the quarantine
    int dockTiles = 0;
    int loginItems = 0;

    bool complete() const { return error.isEmpty() && notRestored.isEmpty(); }
    // The report's lines: what came back, what did not, and what no undo
    // can bring back.
    QStringList report() const;
};

// The quarantine as the user sees it: the runs it keeps and for how long,
// undo and emptying. Every step is a request to the helper tool, which
// alone reads and changes the quarantine; the user's session (Dock tiles,
// login items) is put back here (SessionRecord).
namespace KeptRuns {

// "Keep removed items for N days": 0 removes at once, as uninstallers do.
int keepDays();

std::optional<QList<KeptRun>> list(DeleteHelper &helper, QString *error);
// One run with its paths.
std::optional<KeptRun> describe(DeleteHelper &helper, const QString &run, QString *error);
// The newest run; nothing (and no error) when the quarantine keeps none.
std::optional<KeptRun> last(DeleteHelper &helper, QString *error);

// Everything of the run goes back: its files, folders and receipts, then
// its Dock tiles and login items. Logged in the running log.
UndoOutcome undo(DeleteHelper &helper, const QString &run);
bool empty(DeleteHelper &helper, const QString &run, QString *error);
// Empties the runs kept longer than `days` before `now`; the runs emptied.
QStringList emptyExpired(DeleteHelper &helper, const QDateTime &now, int days);

// The confirmation of undo, naming what comes back.
QString undoQuestion(const KeptRun &run);

} // namespace KeptRuns

} // namespace dorvane
