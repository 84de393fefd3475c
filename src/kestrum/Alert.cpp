#include "kestrum/Alert.h"

#include "kestrum/AlertPresenter.h"
#include "kestrum/DefaultsKey.h"
#include "kestrum/Dispatch.h"
#include "kestrum/Format.h"
#include "platform/Bundle.h"

#include <QCoreApplication>
#include <QThread>

namespace kestrum {

namespace {

QString appInfo(const char *key)
{
    return platform::Bundle::main().infoValue(QString::fromLatin1(key)).toString();
}

AlertAnswer presentAccessory(AlertQuestion::Accessory accessory, const QString &prompt, const QStringList &buttons,
                             const QString &accessoryTitle = QString(), const QStringList &choices = QStringList(),
                             bool checked = false)
{
    AlertQuestion question;
    question.title = prompt;
    question.buttons = buttons.mid(0, 3);
    question.accessory = accessory;
    question.accessoryTitle = accessoryTitle;
    question.choices = choices;
    question.checked = checked;
    return alertPresenter().present(question);
}

int _alert_input(const QString &prompt, const QStringList &buttons, QString *text, bool secure)
{
    const AlertAnswer answer = presentAccessory(
        secure ? AlertQuestion::Accessory::SecureTextField : AlertQuestion::Accessory::TextField, prompt, buttons);
    if (text)
        *text = answer.text;
    return answer.button;
}

void dontWarnAgain(const QString &key, const QString &title, const QString &message, const QString &button,
                   const QString &checkboxTitle)
{
    auto ask = [=] {
        const DefaultsKey silenced(key);
        if (silenced.defaultInt() != 0)
            return;
        AlertQuestion question;
        question.title = title;
        question.message = message;
        question.buttons = {button};
        question.accessory = AlertQuestion::Accessory::Suppression;
        question.accessoryTitle = checkboxTitle;
        const AlertAnswer answer = alertPresenter().present(question);
        silenced.setDefaultInt(answer.checked ? 1 : 0);
    };
    const QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        ask();
    else
        dispatch_async_main(ask);
}

} // namespace

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
    return alert(appInfo("CFBundleName"), message, firstButton, secondButton, thirdButton);
}

int alert_input(const QString &prompt, const QStringList &buttons, QString *text)
{
    return _alert_input(prompt, buttons, text, false);
}

int alert_inputsecure(const QString &prompt, const QStringList &buttons, QString *text)
{
    return _alert_input(prompt, buttons, text, true);
}

int alert_checkbox(const QString &prompt, const QStringList &buttons, const QString &checkboxTitle, bool *checked)
{
    const AlertAnswer answer = presentAccessory(AlertQuestion::Accessory::Checkbox, prompt, buttons, checkboxTitle,
                                                {}, checked && *checked);
    if (checked)
        *checked = answer.checked;
    return answer.button;
}

int alert_inputtext(const QString &prompt, const QStringList &buttons, QString *text)
{
    const AlertAnswer answer = presentAccessory(AlertQuestion::Accessory::TextView, prompt, buttons);
    if (text)
        *text = answer.text;
    return answer.button;
}

int alert_selection_popup(const QString &prompt, const QStringList &choices, const QStringList &buttons,
                          int *selection)
{
    const AlertAnswer answer = presentAccessory(AlertQuestion::Accessory::Popup, prompt, buttons, {}, choices);
    if (selection)
        *selection = answer.selection;
    return answer.button;
}

QString radioChoiceTitle(const QString &choice)
{
    if (choice.size() <= 150)
        return choice;
    return makeString("%@ […] %@", choice.left(70), choice.right(70));
}

int alert_selection_matrix(const QString &prompt, const QStringList &choices, const QStringList &buttons,
                           int *selection)
{
    QStringList shown;
    for (const QString &choice : choices)
        shown.append(radioChoiceTitle(choice));
    const AlertAnswer answer = presentAccessory(AlertQuestion::Accessory::RadioColumn, prompt, buttons, {}, shown);
    if (selection)
        *selection = answer.selection;
    return answer.button;
}

void alert_dontwarnagain_ever(const QString &identifier, const QString &title, const QString &message,
                              const QString &button, const QString &checkboxTitle)
{
    dontWarnAgain(makeString("_%@_asked", identifier), title, message, button, checkboxTitle);
}

void alert_dontwarnagain_version(const QString &identifier, const QString &title, const QString &message,
                                 const QString &button, const QString &checkboxTitle)
{
    dontWarnAgain(makeString("_%@_%@_asked", identifier, appInfo("CFBundleShortVersionString")), title, message,
                  button, checkboxTitle);
}

} // namespace kestrum
