#pragma once

namespace dorvane {

// How every command of `dorvane` ends; the README's table says the same.
enum ExitCode {
    ExitSuccess = 0,   // the work was done
    ExitFailure = 1,   // it could not be: no receipts on the volume, a check refused the packages,
                       // the helper could not be installed or removed, or was not authorized
    ExitUsage = 2,     // the command line is wrong: an unknown command or option, a missing
                       // argument, a root that is no folder, an identifier no listed package has
    ExitNotConfirmed = 3,   // the question was answered "Cancel" (no --yes): nothing was removed
    ExitSomeFailed = 4,     // the work ran, but some planned items are still there
};

} // namespace dorvane
