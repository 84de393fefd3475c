#pragma once

#include <QString>

#include <memory>

namespace dorvane {

class DeleteHelper;

// What the commands that ask the helper tool share.

// "dorvane: TEXT" on standard error: why a command stops, or what it left.
void complain(const QString &text);

// --yes after the command agrees as the global option does: every question
// takes its first button.
void agreeIfAsked(bool yes);

// The helper tool, installed first when needed; none, with the reason on
// standard error, when it cannot be.
std::unique_ptr<DeleteHelper> connectedHelper();

} // namespace dorvane
