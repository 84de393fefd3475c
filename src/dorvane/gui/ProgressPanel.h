#pragma once

#include <QDialog>
#include <QMutex>

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
    explicit ProgressPanel(QWidget *window);
    ~ProgressPanel() override;

    void beginProgress(const QString &title);
    void setProgress(const QString &detail);
    void endProgress();

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
    std::unique_ptr<Ui::ProgressPanel> m_ui;
    QMutex m_detailMutex;
    QString m_pendingDetail;
    bool m_detailQueued = false;
};

} // namespace dorvane
