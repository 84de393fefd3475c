#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class ProgressPanel;
}

namespace dorvane {

// The application's progress sheet on the main window: a title line, a
// detail line and an indeterminate bar. Long operations call begin, any
// number of details and end from their background thread; each call queues
// its effect on the main thread and returns at once, so the effects apply
// in the order of the calls and the caller never waits.
class ProgressPanel : public QDialog
{
    Q_OBJECT

public:
    // What background work holds instead of the panel, which the window's
    // destruction may free while the work runs: a feed is safe to keep and
    // call from any thread, and once the panel is gone its effects do nothing.
    class Feed
    {
    public:
        void beginProgress(const QString &title) const;
        void setProgress(const QString &detail) const;
        void endProgress() const;

    private:
        friend class ProgressPanel;
        struct Channel;
        explicit Feed(std::shared_ptr<Channel> channel) : m_channel(std::move(channel)) {}
        std::shared_ptr<Channel> m_channel;
    };

    explicit ProgressPanel(QWidget *window);
    ~ProgressPanel() override;

    Feed feed() const { return m_feed; }
    void beginProgress(const QString &title) { m_feed.beginProgress(title); }
    void setProgress(const QString &detail) { m_feed.setProgress(detail); }
    void endProgress() { m_feed.endProgress(); }

    QString titleText() const;
    QString detailText() const;

Q_SIGNALS:
    // Emitted on the main thread as each effect applies.
    void began(const QString &title);
    void detailShown(const QString &detail, bool sheetOpen);
    void ended();

protected:
    // The sheet closes only when the operation ends.
    void reject() override {}

private:
    void showBegun(const QString &title);
    void showDetail(const QString &detail);
    void showEnded();

    std::unique_ptr<Ui::ProgressPanel> m_ui;
    Feed m_feed;
};

} // namespace dorvane
