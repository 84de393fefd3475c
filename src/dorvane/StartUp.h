#pragma once

#include <QString>

class QCommandLineParser;

namespace dorvane {

// What both executables do before anything else: choose the volume, and the
// settings steps that every start shares.
namespace StartUp {

// --root DIR and --home DIR; DORVANE_ROOT and DORVANE_HOME stand in when
// the options are absent (the options win).
void addVolumeOptions(QCommandLineParser &parser);

// Points the volume mapping at the chosen root. False, with a message, when
// the root is not an existing folder.
bool configureVolume(const QCommandLineParser &parser, QString *error);

// Registers the default settings; runs once, before any setting is read.
void registerDefaults();

// Creates the library's shared object (and with it the support folder),
// stores the launch date, runs the settings repairs and resets the tool-tip
// delay, in the order the application's start-up does them.
void runCommonSteps();

} // namespace StartUp
} // namespace dorvane
