#pragma once

#include <QApplication>
#include <QProxyStyle>

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

// The desktop's style with the tool-tip delay that the user defaults hold
// under "NSInitialToolTipDelay", in milliseconds, read at each tool tip as
// AppKit reads it; the style's own delay while none is stored. Installed
// once the volume, and with it the defaults' file, is chosen.
class ToolTipDelayStyle : public QProxyStyle
{
public:
    static constexpr char kDelayKey[] = "NSInitialToolTipDelay";

    int styleHint(StyleHint hint, const QStyleOption *option = nullptr, const QWidget *widget = nullptr,
                  QStyleHintReturn *returnData = nullptr) const override;
};

} // namespace kestrum
