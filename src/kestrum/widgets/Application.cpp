#include "kestrum/widgets/Application.h"

#include "kestrum/DefaultsKey.h"
#include "kestrum/ExceptionHandler.h"

#include <algorithm>

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

int ToolTipDelayStyle::styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                                 QStyleHintReturn *returnData) const
{
    if (hint == SH_ToolTip_WakeUpDelay) {
        const DefaultsKey delay(kDelayKey);
        if (delay.defaultObject().isValid())
            return int(std::clamp<qint64>(delay.defaultInt(), 0, 60000));
    }
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

} // namespace kestrum
