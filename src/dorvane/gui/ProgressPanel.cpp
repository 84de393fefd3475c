#include "dorvane/gui/ProgressPanel.h"

#include "kestrum/Dispatch.h"
#include "ui_ProgressPanel.h"

#include <QMutex>
#include <QPointer>

namespace dorvane {

struct ProgressPanel::Feed::Channel
{
    QPointer<ProgressPanel> panel;   // read on the main thread only
    QMutex mutex;
    // The text of the detail effect still queued that a newer detail may
    // replace; none once a begin or an end has been queued after it.
    std::shared_ptr<QString> mergeable;

    // The panel is looked at on the main thread only, where it is destroyed.
    static void queue(std::shared_ptr<Channel> channel, std::function<void(ProgressPanel *)> effect)
    {
        kestrum::dispatch_async_main([channel = std::move(channel), effect = std::move(effect)] {
            if (ProgressPanel *panel = channel->panel)
                effect(panel);
        });
    }
    void closeMerging()
    {
        QMutexLocker lock(&mutex);
        mergeable.reset();
    }
};

void ProgressPanel::Feed::beginProgress(const QString &title) const
{
    m_channel->closeMerging();
    Channel::queue(m_channel, [title](ProgressPanel *panel) { panel->showBegun(title); });
}

void ProgressPanel::Feed::setProgress(const QString &detail) const
{
    // A detail a path can come hundreds of thousands of times a second; only
    // the newest waiting one is shown, so the main thread's queue holds at
    // most one. It never merges across a begin or an end: the effects still
    // apply in call order.
    std::shared_ptr<QString> text;
    {
        QMutexLocker lock(&m_channel->mutex);
        if (m_channel->mergeable) {
            *m_channel->mergeable = detail;
            return;
        }
        text = std::make_shared<QString>(detail);
        m_channel->mergeable = text;
    }
    const std::shared_ptr<Channel> channel = m_channel;
    Channel::queue(channel, [channel, text](ProgressPanel *panel) {
        QString shown;
        {
            QMutexLocker lock(&channel->mutex);
            shown = *text;
            if (channel->mergeable == text)
                channel->mergeable.reset();
        }
        panel->showDetail(shown);
    });
}

void ProgressPanel::Feed::endProgress() const
{
    m_channel->closeMerging();
    Channel::queue(m_channel, [](ProgressPanel *panel) { panel->showEnded(); });
}

ProgressPanel::ProgressPanel(QWidget *window)
    : QDialog(window, Qt::Sheet | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_ui(std::make_unique<Ui::ProgressPanel>())
    , m_feed(std::make_shared<Feed::Channel>())
{
    m_feed.m_channel->panel = this;
    m_ui->setupUi(this);
    setWindowModality(Qt::WindowModal);
}

ProgressPanel::~ProgressPanel() = default;

void ProgressPanel::showBegun(const QString &title)
{
    m_ui->progressInfo->setText(title);
    m_ui->progressDetailInfo->clear();
    m_ui->progressIndicator->setRange(0, 0);
    if (QWidget *window = parentWidget())
        window->activateWindow();
    open();
    Q_EMIT began(title);
}

void ProgressPanel::showDetail(const QString &detail)
{
    m_ui->progressDetailInfo->setText(detail);
    Q_EMIT detailShown(detail, isVisible());
}

void ProgressPanel::showEnded()
{
    m_ui->progressIndicator->setRange(0, 1); // stops the animation
    if (QWidget *window = parentWidget())
        window->activateWindow();
    hide();
    Q_EMIT ended();
}

QString ProgressPanel::titleText() const
{
    return m_ui->progressInfo->text();
}

QString ProgressPanel::detailText() const
{
    return m_ui->progressDetailInfo->text();
}

} // namespace dorvane
