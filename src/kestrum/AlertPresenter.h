#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace kestrum {

// One question put to the user, as every alert of the program describes it.
struct AlertQuestion
{
    enum class Accessory { None, TextField, SecureTextField, Checkbox, TextView, Popup, RadioColumn, Suppression };

    QString title;            // the bold first line
    QString message;          // the informative text below it
    QStringList buttons;      // present titles in order; empty means the single default button
    Accessory accessory = Accessory::None;
    QString accessoryTitle;   // checkbox and suppression titles
    QStringList choices;      // pop-up and radio choices, as shown
    bool checked = false;     // a checkbox's starting state
};

struct AlertAnswer
{
    int button = 1000;        // 1000, 1001 or 1002
    QString text;             // a text field's or text view's text
    bool checked = false;     // a checkbox's state
    int selection = 0;        // the chosen pop-up item or radio row
};

// Shows questions and returns the answers. The desktop presenter runs modal
// dialogs, the command line's prints to standard error and answers what
// changes nothing, and tests script the answers. Only the main thread asks.
class AlertPresenter
{
public:
    virtual ~AlertPresenter() = default;
    virtual AlertAnswer present(const AlertQuestion &question) = 0;
};

// The presenter in force; until one is installed, questions go to standard
// error and get the answer that changes nothing.
AlertPresenter &alertPresenter();
// Installs a presenter for the whole process and returns the previous one.
std::shared_ptr<AlertPresenter> setAlertPresenter(std::shared_ptr<AlertPresenter> presenter);

// Prints each question to standard error. Unless told to agree, it answers
// the button that changes nothing: "Cancel", "Quit", "Continue" or "OK"
// where one of them is offered, else the last button. Agreeing takes the
// first button, except that a problem report is never sent.
class ConsolePresenter : public AlertPresenter
{
public:
    explicit ConsolePresenter(bool agree = false) : m_agree(agree) {}
    AlertAnswer present(const AlertQuestion &question) override;

private:
    bool m_agree;
};

} // namespace kestrum
