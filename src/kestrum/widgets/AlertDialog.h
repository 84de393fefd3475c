#pragma once

#include "kestrum/AlertPresenter.h"

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;

namespace kestrum {

// The desktop's alert: a bold title, the informative text, one accessory
// control and up to three buttons, the first one the default and placed on
// the right as on the Mac.
class AlertDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AlertDialog(const AlertQuestion &question, QWidget *parent = nullptr);

    // Runs modally and answers with the pressed button and the accessory's value.
    AlertAnswer run();

    // What Escape and the window's close button answer: the button titled
    // "Cancel" where there is one, else the last button. Never the first
    // (unless it is the only one): that one may send, open or remove.
    static int dismissalResult(const QStringList &buttons);

protected:
    void reject() override;

private:
    QWidget *makeAccessory(const AlertQuestion &question);
    AlertAnswer collect() const;

    int m_pressed = 1000;
    int m_dismissal = 1000;
    QLineEdit *m_line = nullptr;
    QPlainTextEdit *m_text = nullptr;
    QCheckBox *m_check = nullptr;
    QComboBox *m_popup = nullptr;
    QButtonGroup *m_radios = nullptr;
};

// Presents every question with an AlertDialog over the active window.
class DialogPresenter : public AlertPresenter
{
public:
    AlertAnswer present(const AlertQuestion &question) override;
};

} // namespace kestrum
