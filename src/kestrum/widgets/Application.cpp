#include "kestrum/widgets/Application.h"

#include "kestrum/ExceptionHandler.h"

namespace kestrum {

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv)
{
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        exceptionHandler(std::current_exception());
    }
}

} // namespace kestrum
