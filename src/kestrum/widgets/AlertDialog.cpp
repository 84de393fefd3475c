#include "kestrum/widgets/AlertDialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

namespace kestrum {

namespace {

// Accessory sizes in points, as the Mac lays them out.
constexpr QSize kFieldSize(310, 24);
constexpr QSize kTextViewSize(310, 200);
constexpr int kRadioWidth = 269;
constexpr int kRadioRowHeight = 17;

} // namespace

AlertDialog::AlertDialog(const AlertQuestion &question, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QApplication::applicationDisplayName());
    setModal(true);

    auto *icon = new QLabel;
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);

    auto *title = new QLabel(question.title);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    title->setWordWrap(true);
    title->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *text = new QVBoxLayout;
    text->addWidget(title);
    if (!question.message.isEmpty()) {
        auto *message = new QLabel(question.message);
        message->setWordWrap(true);
        message->setTextInteractionFlags(Qt::TextSelectableByMouse);
        text->addWidget(message);
    }
    if (QWidget *accessory = makeAccessory(question))
        text->addWidget(accessory);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    const QStringList titles = question.buttons.isEmpty() ? QStringList{tr("OK")} : question.buttons;
    m_dismissal = dismissalResult(titles);
    // The first button is the default and stands rightmost.
    for (qsizetype i = titles.size() - 1; i >= 0; --i) {
        auto *button = new QPushButton(titles.at(i));
        const int result = 1000 + int(i);
        connect(button, &QPushButton::clicked, this, [this, result] {
            m_pressed = result;
            accept();
        });
        if (i == 0) {
            button->setDefault(true);
            button->setAutoDefault(true);
        }
        buttons->addWidget(button);
    }

    auto *body = new QHBoxLayout;
    body->addWidget(icon);
    body->addLayout(text, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(body);
    layout->addLayout(buttons);
    setMinimumWidth(420);
}

QWidget *AlertDialog::makeAccessory(const AlertQuestion &question)
{
    using Accessory = AlertQuestion::Accessory;
    switch (question.accessory) {
    case Accessory::None:
        return nullptr;
    case Accessory::TextField:
    case Accessory::SecureTextField:
        m_line = new QLineEdit;
        m_line->setFixedSize(kFieldSize);
        if (question.accessory == Accessory::SecureTextField)
            m_line->setEchoMode(QLineEdit::Password);
        m_line->setFocus();
        return m_line;
    case Accessory::Checkbox:
    case Accessory::Suppression:
        m_check = new QCheckBox(question.accessoryTitle);
        m_check->setChecked(question.checked);
        if (question.accessory == Accessory::Checkbox)
            m_check->setFixedSize(kFieldSize);
        return m_check;
    case Accessory::TextView:
        m_text = new QPlainTextEdit;
        m_text->setFixedSize(kTextViewSize);
        return m_text;
    case Accessory::Popup:
        m_popup = new QComboBox;
        m_popup->addItems(question.choices);
        m_popup->setFixedSize(kFieldSize);
        return m_popup;
    case Accessory::RadioColumn: {
        auto *column = new QWidget;
        auto *layout = new QVBoxLayout(column);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        m_radios = new QButtonGroup(column);
        for (int i = 0; i < question.choices.size(); ++i) {
            auto *radio = new QRadioButton(question.choices.at(i));
            radio->setFixedWidth(kRadioWidth);
            radio->setMinimumHeight(kRadioRowHeight);
            radio->setChecked(i == 0);
            m_radios->addButton(radio, i);
            layout->addWidget(radio);
        }
        if (QAbstractButton *first = m_radios->button(0))
            first->setFocus();
        return column;
    }
    }
    return nullptr;
}

AlertAnswer AlertDialog::collect() const
{
    AlertAnswer answer;
    answer.button = m_pressed;
    if (m_line)
        answer.text = m_line->text();
    if (m_text)
        answer.text = m_text->toPlainText();
    if (m_check)
        answer.checked = m_check->isChecked();
    if (m_popup)
        answer.selection = m_popup->currentIndex();
    if (m_radios)
        answer.selection = qMax(0, m_radios->checkedId());
    return answer;
}

int AlertDialog::dismissalResult(const QStringList &buttons)
{
    const qsizetype cancel = buttons.indexOf(QStringLiteral("Cancel"));
    return 1000 + int(cancel >= 0 ? cancel : qMax<qsizetype>(buttons.size() - 1, 0));
}

void AlertDialog::reject()
{
    // Escape and the close button both end here; a button click accepts.
    m_pressed = m_dismissal;
    QDialog::reject();
}

AlertAnswer AlertDialog::run()
{
    QApplication::setActiveWindow(this);
    raise();
    QDialog::exec();
    return collect();
}

AlertAnswer DialogPresenter::present(const AlertQuestion &question)
{
    AlertDialog dialog(question, QApplication::activeWindow());
    return dialog.run();
}

} // namespace kestrum
