#pragma once

#include "kestrum/AlertPresenter.h"

#include <QList>
#include <QMutex>

#include <memory>

// Answers every question from a queue and records it, for as long as it is
// installed. When the queue is empty it answers the first button.
class ScriptedPresenter : public kestrum::AlertPresenter
{
public:
    kestrum::AlertAnswer present(const kestrum::AlertQuestion &question) override
    {
        QMutexLocker lock(&m_mutex);
        m_questions.append(question);
        return m_answers.isEmpty() ? kestrum::AlertAnswer{} : m_answers.takeFirst();
    }

    void enqueue(const kestrum::AlertAnswer &answer)
    {
        QMutexLocker lock(&m_mutex);
        m_answers.append(answer);
    }
    void enqueueButton(int button) { enqueue(kestrum::AlertAnswer{button, {}, false, 0}); }

    QList<kestrum::AlertQuestion> questions() const
    {
        QMutexLocker lock(&m_mutex);
        return m_questions;
    }

private:
    mutable QMutex m_mutex;
    QList<kestrum::AlertQuestion> m_questions;
    QList<kestrum::AlertAnswer> m_answers;
};

// Installs a scripted presenter for the scope and restores the previous one.
class ScriptedPresenterScope
{
public:
    ScriptedPresenterScope()
        : m_presenter(std::make_shared<ScriptedPresenter>())
        , m_previous(kestrum::setAlertPresenter(m_presenter))
    {
    }
    ~ScriptedPresenterScope() { kestrum::setAlertPresenter(m_previous); }

    ScriptedPresenter *operator->() const { return m_presenter.get(); }
    ScriptedPresenter &presenter() const { return *m_presenter; }

private:
    std::shared_ptr<ScriptedPresenter> m_presenter;
    std::shared_ptr<kestrum::AlertPresenter> m_previous;
};
