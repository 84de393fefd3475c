#include "kestrum/AlertPresenter.h"

#include "kestrum/Feedback.h"

#include <QMutex>

#include <cstdio>

namespace kestrum {

namespace {

QMutex g_mutex;
std::shared_ptr<AlertPresenter> g_presenter;

int resultForButton(int index)
{
    return 1000 + index;
}

} // namespace

AlertPresenter &alertPresenter()
{
    QMutexLocker lock(&g_mutex);
    if (!g_presenter)
        g_presenter = std::make_shared<ConsolePresenter>();
    return *g_presenter;
}

std::shared_ptr<AlertPresenter> setAlertPresenter(std::shared_ptr<AlertPresenter> presenter)
{
    QMutexLocker lock(&g_mutex);
    std::swap(g_presenter, presenter);
    return presenter;
}

AlertAnswer ConsolePresenter::present(const AlertQuestion &question)
{
    const QStringList buttons = question.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : question.buttons;
    AlertAnswer answer;
    // Agreeing to the work never mails a problem report from a script.
    if (m_agree && !buttons.contains(QLatin1String(kFeedbackSendButton))) {
        answer.button = resultForButton(0);
    } else {
        answer.button = resultForButton(int(buttons.size()) - 1);
        for (const char *neutral : {"Cancel", "Quit", "Continue", "OK"}) {
            const int index = int(buttons.indexOf(QString::fromLatin1(neutral)));
            if (index >= 0) {
                answer.button = resultForButton(index);
                break;
            }
        }
    }
    answer.checked = question.checked;

    QString text = question.title;
    if (!question.message.isEmpty())
        text += QLatin1Char('\n') + question.message;
    text += QStringLiteral("\n[%1] -> %2\n").arg(buttons.join(QStringLiteral("] [")),
                                                 buttons.value(answer.button - 1000));
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    return answer;
}

} // namespace kestrum
