#pragma once

#include <QString>

class QWidget;

namespace kestrum {

// The library's progress sheet on any window: a title line, a detail line,
// an indeterminate bar and a note, built in code. Any thread may call these;
// each queues its effect on the main thread and returns at once, so the
// effects apply in the order of the calls. The sheet's parts are kept on
// the window under "HxProgressSheet", "HxProgressDetailInfo" and
// "HxProgressIndicator".
void beginProgress(QWidget *window, const QString &title);
void setProgressMessage(QWidget *window, const QString &detail);   // nothing when no sheet is open
void endProgress(QWidget *window);

// A close action for windows without a title bar: asks the window (through
// its close event) and closes it unless it refuses.
void performBorderlessClose(QWidget *window);

} // namespace kestrum
