#pragma once

#include <QApplication>

namespace kestrum {

// The application object of the program's desktop executables. An exception
// that escapes an event handler, a slot or a queued block would otherwise
// unwind through Qt, which does not support it; here it ends in the fatal
// error feedback instead (kestrum/ExceptionHandler.h). Its call stack is the
// one of the event delivery where it was caught: the frames between the
// throw and notify() are gone by then.
class Application : public QApplication
{
public:
    Application(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace kestrum
