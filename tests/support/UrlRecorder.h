#pragma once

#include "platform/Workspace.h"

#include <QList>
#include <QUrl>

// Records every URL the program asks the workspace to open, instead of
// starting a browser or mail program, for as long as it lives.
class UrlRecorder
{
public:
    UrlRecorder()
    {
        m_previous = platform::Workspace::setUrlOpener([this](const QUrl &url) {
            m_urls.append(url);
            return true;
        });
    }
    ~UrlRecorder() { platform::Workspace::setUrlOpener(m_previous); }

    const QList<QUrl> &urls() const { return m_urls; }

private:
    QList<QUrl> m_urls;
    platform::Workspace::UrlOpener m_previous;
};
