#pragma once

#include <QString>
#include <QStringList>

namespace kestrum {

// The alert family. Every question goes through the presenter in force
// (kestrum/AlertPresenter.h). Results are 1000, 1001 and 1002 for the first,
// second and third button. All but the don't-warn-again pair must be called
// on the main thread; background work hops with dispatch_sync_main.

// A message with up to three buttons; absent (null) titles are skipped, so
// a first and third title give two buttons. No title at all gives the one
// default button.
int alert(const QString &title, const QString &message, const QString &firstButton = QString(),
          const QString &secondButton = QString(), const QString &thirdButton = QString());

// The same, titled with the application's name.
int alert_apptitled(const QString &message, const QString &firstButton = QString(),
                    const QString &secondButton = QString(), const QString &thirdButton = QString());

// The accessory forms: the prompt is the message text; the first three
// titles of `buttons` become the buttons (further ones are ignored, none
// gives the default button); the out-parameter is written after the alert
// closes, whichever button was pressed.
int alert_input(const QString &prompt, const QStringList &buttons, QString *text);         // text field, 310 x 24
int alert_inputsecure(const QString &prompt, const QStringList &buttons, QString *text);   // masked field, 310 x 24
int alert_checkbox(const QString &prompt, const QStringList &buttons, const QString &checkboxTitle,
                   bool *checked);                                                          // checkbox, 310 x 24
int alert_inputtext(const QString &prompt, const QStringList &buttons, QString *text);     // text view, 310 x 200
int alert_selection_popup(const QString &prompt, const QStringList &choices, const QStringList &buttons,
                          int *selection);                                                  // pop-up, 310 x 24
int alert_selection_matrix(const QString &prompt, const QStringList &choices, const QStringList &buttons,
                           int *selection);   // radio column, 269 wide, 17 a row; the first selected

// Shown unless silenced: the first for good, the second until the
// application's version string changes. The state of the suppression
// checkbox is stored under "_<identifier>_asked" or
// "_<identifier>_<version>_asked". They never block: from a background
// thread they queue the alert on the main thread and return at once.
void alert_dontwarnagain_ever(const QString &identifier, const QString &title, const QString &message,
                              const QString &button, const QString &checkboxTitle);
void alert_dontwarnagain_version(const QString &identifier, const QString &title, const QString &message,
                                 const QString &button, const QString &checkboxTitle);

// How a radio choice is shown: one of more than 150 characters as its first
// 70 and last 70 joined by " […] ".
QString radioChoiceTitle(const QString &choice);

} // namespace kestrum
