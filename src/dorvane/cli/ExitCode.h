#pragma once

namespace dorvane {

// How every command of `dorvane` ends; the README's table says the same.
enum ExitCode {
    ExitSuccess = 0,   // the work was done
    ExitFailure = 1,   // it could not be: no receipts on the volume, a check stopped the plan,
                       // the helper could not be installed or removed, or was not authorized
    ExitUsage = 2,     // the command line is wrong: an unknown command or option, a missing
                       // argument, a root that is no folder, an identifier no listed package has
};

} // namespace dorvane
