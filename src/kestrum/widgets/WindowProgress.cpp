#include "kestrum/widgets/WindowProgress.h"

#include "kestrum/Dispatch.h"

#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QWidget>

namespace kestrum {

namespace {

const char kSheetKey[] = "HxProgressSheet";
const char kDetailKey[] = "HxProgressDetailInfo";
const char kIndicatorKey[] = "HxProgressIndicator";

template<typename T>
T *part(QWidget *window, const char *key)
{
    return qobject_cast<T *>(window->property(key).value<QPointer<QObject>>().data());
}

void keep(QWidget *window, const char *key, QObject *value)
{
    window->setProperty(key, value ? QVariant::fromValue(QPointer<QObject>(value)) : QVariant());
}

QLabel *centredLabel(QWidget *parent, const QRect &frame, const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setGeometry(frame);
    return label;
}

// Frames in points from the top left; the Mac measures from the bottom left
// of a 120-point-high content area.
QRect fromBottom(int x, int y, int width, int height)
{
    return QRect(x, 120 - y - height, width, height);
}

} // namespace

void beginProgress(QWidget *window, const QString &title)
{
    QPointer<QWidget> target(window);
    dispatch_async_main([target, title] {
        if (!target)
            return;
        auto *sheet = new QDialog(target, Qt::Sheet | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->setWindowModality(Qt::WindowModal);
        sheet->setFixedSize(400, 120);

        QLabel *titleLabel = centredLabel(sheet, fromBottom(18, 90, 364, 17), title);
        QFont bold = titleLabel->font();
        bold.setBold(true);
        bold.setPointSize(13);
        titleLabel->setFont(bold);
        QLabel *detail = centredLabel(sheet, fromBottom(18, 65, 364, 17), QString());
        auto *bar = new QProgressBar(sheet);
        bar->setRange(0, 0); // indeterminate: Qt animates a bar without a maximum
        bar->setTextVisible(false);
        bar->setGeometry(fromBottom(20, 41, 360, 20));
        centredLabel(sheet, fromBottom(18, 14, 364, 17), QStringLiteral("Please wait until the operation finishes…"));

        keep(target, kSheetKey, sheet);
        keep(target, kDetailKey, detail);
        keep(target, kIndicatorKey, bar);
        target->activateWindow();
        sheet->open();
    });
}

void setProgressMessage(QWidget *window, const QString &detail)
{
    QPointer<QWidget> target(window);
    dispatch_async_main([target, detail] {
        if (!target)
            return;
        if (QLabel *label = part<QLabel>(target, kDetailKey))
            label->setText(detail);
    });
}

void endProgress(QWidget *window)
{
    QPointer<QWidget> target(window);
    dispatch_async_main([target] {
        if (!target)
            return;
        if (QProgressBar *bar = part<QProgressBar>(target, kIndicatorKey))
            bar->setRange(0, 1); // a bar with an end stops animating
        target->activateWindow();
        if (QDialog *sheet = part<QDialog>(target, kSheetKey))
            sheet->close();
        keep(target, kSheetKey, nullptr);
        keep(target, kDetailKey, nullptr);
        keep(target, kIndicatorKey, nullptr);
    });
}

void performBorderlessClose(QWidget *window)
{
    // QWidget::close() sends the close event, which the window may refuse
    // as the Mac's windowShouldClose: does.
    if (window)
        window->close();
}

} // namespace kestrum
