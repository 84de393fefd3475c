#include "dorvane/gui/ProgressPanel.h"

#include "kestrum/Dispatch.h"
#include "ui_ProgressPanel.h"

#include <QPointer>

namespace dorvane {

ProgressPanel::ProgressPanel(QWidget *window)
    : QDialog(window, Qt::Sheet | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_ui(std::make_unique<Ui::ProgressPanel>())
{
    m_ui->setupUi(this);
    setWindowModality(Qt::WindowModal);
}

ProgressPanel::~ProgressPanel() = default;

void ProgressPanel::beginProgress(const QString &title)
{
    QPointer<ProgressPanel> self(this);
    kestrum::dispatch_async_main([self, title] {
        if (!self)
            return;
        self->m_ui->progressInfo->setText(title);
        self->m_ui->progressDetailInfo->clear();
        self->m_ui->progressIndicator->setRange(0, 0);
        if (QWidget *window = self->parentWidget())
            window->activateWindow();
        self->open();
        Q_EMIT self->began(title);
    });
}

void ProgressPanel::setProgress(const QString &detail)
{
    // A detail a path can come hundreds of thousands of times a second; only
    // the newest waiting one is shown, so the main thread's queue holds at
    // most one. Order is kept: the one queued detail runs after the begin
    // queued before it and before the end queued after it.
    {
        QMutexLocker lock(&m_detailMutex);
        m_pendingDetail = detail;
        if (m_detailQueued)
            return;
        m_detailQueued = true;
    }
    QPointer<ProgressPanel> self(this);
    kestrum::dispatch_async_main([self] {
        if (!self)
            return;
        QString text;
        {
            QMutexLocker lock(&self->m_detailMutex);
            text = self->m_pendingDetail;
            self->m_detailQueued = false;
        }
        self->m_ui->progressDetailInfo->setText(text);
        Q_EMIT self->detailShown(text, self->isVisible());
    });
}

void ProgressPanel::endProgress()
{
    QPointer<ProgressPanel> self(this);
    kestrum::dispatch_async_main([self] {
        if (!self)
            return;
        self->m_ui->progressIndicator->setRange(0, 1); // stops the animation
        if (QWidget *window = self->parentWidget())
            window->activateWindow();
        self->hide();
        Q_EMIT self->ended();
    });
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
