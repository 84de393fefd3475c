#pragma once

namespace platform {

// Ends the process at once with the status, after writing the settings
// that still wait (the log's last lines) and the C streams. No static
// destructor runs: the end may come from inside a modal question while
// other threads are mid-call, where destructors running under their feet
// could crash and replace the status. Every deliberate early end of the
// program goes this way.
[[noreturn]] void endProcess(int status);

} // namespace platform
