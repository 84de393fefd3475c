#pragma once

#include <QStringList>

namespace dorvane {

// The application's settings in the user defaults: their keys, the lists
// registered as defaults, and the one-time repairs of older stored lists.
namespace Settings {

inline constexpr char kIgnoredInstallers[] = "IgnoredInstallers";
inline constexpr char kIgnoredSystemFolders[] = "IgnoredSystemFolders";
inline constexpr char kDeleteFolders[] = "DeleteFolders";
inline constexpr char kDeleteGenerated[] = "DeleteGenerated";
inline constexpr char kDeleteDock[] = "DeleteDock";
inline constexpr char kDeleteRemaining[] = "DeleteRemaining";
// How many days an uninstall's removed items wait in the quarantine, where
// undo finds them; 0 removes them at once.
inline constexpr char kKeepRemovedDays[] = "KeepRemovedItemsDays";
inline constexpr int kDefaultKeepRemovedDays = 7;
inline constexpr char kLaunches[] = "Launches";
inline constexpr char kUpdateCheckMenuIndex[] = "updatecheckMenuindex";
inline constexpr char kDidUpdate[] = "didUpdate";
inline constexpr char kDidUpdate2[] = "didUpdate2";
inline constexpr char kDidUpdate3[] = "didUpdate3";
inline constexpr char kLaunchDate[] = "launchDate";
inline constexpr char kInitialToolTipDelay[] = "NSInitialToolTipDelay";

// Installer programs whose packages stay out of the catalogue. The one list
// used by the registered defaults, the migrations and the reset command.
const QStringList &defaultIgnoredInstallers();
// Folder prefixes from which an uninstall never removes anything; every
// entry begins and ends with "/". Likewise the one list.
const QStringList &defaultIgnoredSystemFolders();

// Registers the defaults of the nine settings that have one. They live in
// memory only; the preference file holds what the user changed.
void registerDefaults();

// The three one-time repairs, in order, each seeing what the earlier left.
void runMigrations();

// Raises "Launches" by one: each time the main interface is loaded.
void countLaunch();

// Stores the start's date under "launchDate" and sets the tool-tip delay to
// 1 ms, so that tool tips appear at once.
void recordLaunchDate();
void resetToolTipDelay();

} // namespace Settings
} // namespace dorvane
