#pragma once

class QCoreApplication;

namespace dorvane {

// The application's start-up sequence: the volume, the settings, the
// library's shared object and the protection test. Until the main window
// exists it runs without one and reports what it did on standard output.
class ApplicationStart
{
public:
    int run(QCoreApplication &app);

    bool isRootless() const { return m_isRootless; }

private:
    bool m_isRootless = true;
};

} // namespace dorvane
