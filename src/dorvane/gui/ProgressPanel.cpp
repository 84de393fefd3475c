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
    QPointer<ProgressPanel> self(this);
    kestrum::dispatch_async_main([self, detail] {
        if (!self)
            return;
        self->m_ui->progressDetailInfo->setText(detail);
        Q_EMIT self->detailShown(detail, self->isVisible());
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
