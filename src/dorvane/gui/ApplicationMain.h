#pragma once

class QApplication;

namespace dorvane {

// What the application's main() does: reads the options, chooses the
// volume, registers the settings, loads the main window and runs the
// start-up sequence, then the event loop.
class ApplicationMain
{
public:
    int run(QApplication &app);
};

} // namespace dorvane
