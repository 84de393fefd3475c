#include "kestrum/Alert.h"

#include "kestrum/AlertPresenter.h"
#include "platform/Bundle.h"

namespace kestrum {

int alert(const QString &title, const QString &message, const QString &firstButton, const QString &secondButton,
          const QString &thirdButton)
{
    AlertQuestion question;
    question.title = title;
    question.message = message;
    for (const QString *button : {&firstButton, &secondButton, &thirdButton}) {
        if (!button->isNull())
            question.buttons.append(*button);
    }
    return alertPresenter().present(question).button;
}

int alert_apptitled(const QString &message, const QString &firstButton, const QString &secondButton,
                    const QString &thirdButton)
{
    const QString appName = platform::Bundle::main().infoValue(QStringLiteral("CFBundleName")).toString();
    return alert(appName, message, firstButton, secondButton, thirdButton);
}

} // namespace kestrum
