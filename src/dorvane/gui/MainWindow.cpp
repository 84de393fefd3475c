#include "dorvane/gui/MainWindow.h"

#include "kestrum/Dispatch.h"
#include "ui_MainWindow.h"

#include <QCloseEvent>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPointer>
#include <QPropertyAnimation>

namespace dorvane {

namespace {
// The hint fades after this long, over a second.
constexpr int kHelpViewMilliseconds = 30000;
constexpr int kHelpFadeMilliseconds = 1000;
}

MainWindow::MainWindow()
    : m_ui(std::make_unique<Ui::MainWindow>())
{
    m_ui->setupUi(this);

    m_helpView = new QLabel(m_ui->tableView->viewport());
    m_helpView->setObjectName(QStringLiteral("helpView"));
    m_helpView->setText(tr("<b>Select packages to uninstall</b><br>"
                           "Double-click a package to see its files. Hold Alt to see which program "
                           "installed each package."));
    m_helpView->setAlignment(Qt::AlignCenter);
    m_helpView->setWordWrap(true);
    m_helpView->setAutoFillBackground(true);
    m_helpView->setStyleSheet(QStringLiteral("QLabel#helpView { background: rgba(255, 255, 224, 235); "
                                             "border: 1px solid #c8c08a; border-radius: 8px; padding: 12px; }"));
    m_helpView->hide();
    m_ui->tableView->viewport()->installEventFilter(this);
}

MainWindow::~MainWindow() = default;

QWidget *MainWindow::helpView() const
{
    return m_helpView;
}

void MainWindow::showHelpView()
{
    m_helpView->show();
    m_helpView->raise();
    QPointer<QWidget> guard(m_helpView);
    kestrum::dispatch_after_main([guard] {
        if (!guard)
            return;
        auto *effect = new QGraphicsOpacityEffect(guard);
        guard->setGraphicsEffect(effect);
        auto *fade = new QPropertyAnimation(effect, "opacity", guard);
        fade->setDuration(kHelpFadeMilliseconds);
        fade->setStartValue(1.0);
        fade->setEndValue(0.0);
        QObject::connect(fade, &QPropertyAnimation::finished, guard, &QWidget::hide);
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    }, kHelpViewMilliseconds / 1000.0f);
}

void MainWindow::placeHelpView()
{
    const QRect area = m_ui->tableView->viewport()->rect();
    const QSize size(qMin(420, area.width() - 40), 90);
    m_helpView->setGeometry(QRect(QPoint((area.width() - size.width()) / 2, (area.height() - size.height()) / 2),
                                  size));
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui->tableView->viewport() && event->type() == QEvent::Resize)
        placeHelpView();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    Q_EMIT closing();
    QMainWindow::closeEvent(event);
}

} // namespace dorvane
