#include "kestrum/widgets/WidgetUtilities.h"

#include "kestrum/ObjectUtilities.h"

#include <QAbstractButton>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>

#include <algorithm>
#include <limits>

namespace kestrum {

namespace {

// The object name of the wrapper that holds a button's action block.
const QString kActionWrapperName = QStringLiteral("kestrum_actionBlock");

void fitFontToWidth(QWidget *field, const QString &text)
{
    QFont font = field->font();
    const qreal current = font.pointSizeF() > 0 ? font.pointSizeF() : QFontInfo(font).pointSizeF();
    int size = std::max(int(current), kMinimumAdjustedFontSize);
    for (; size > kMinimumAdjustedFontSize; --size) {
        font.setPointSize(size);
        if (QFontMetricsF(font).horizontalAdvance(text) <= field->width())
            break;
    }
    font.setPointSize(size);
    field->setFont(font);
}

BlockWrapper *actionWrapper(const QAbstractButton *control)
{
    return control->findChild<BlockWrapper *>(kActionWrapperName, Qt::FindDirectChildrenOnly);
}

} // namespace

QWidget *viewWithClass(QWidget *view, const QMetaObject &metaObject)
{
    if (!view)
        return nullptr;
    if (view->metaObject()->inherits(&metaObject))
        return view;
    for (QObject *child : view->children()) {
        if (QWidget *found = viewWithClass(qobject_cast<QWidget *>(child), metaObject))
            return found;
    }
    return nullptr;
}

void adjustFontSize(QLabel *field)
{
    if (field)
        fitFontToWidth(field, field->text());
}

void adjustFontSize(QLineEdit *field)
{
    if (field)
        fitFontToWidth(field, field->text());
}

void setActionBlock(QAbstractButton *control, BlockWrapper::Block block)
{
    if (!control)
        return;
    if (BlockWrapper *old = actionWrapper(control)) {
        // The old block may be the one running now, so it goes later.
        QObject::disconnect(control, nullptr, old, nullptr);
        old->setObjectName(QString());
        old->deleteLater();
    }
    if (!block)
        return;
    auto *wrapper = new BlockWrapper(std::move(block), control);
    wrapper->setObjectName(kActionWrapperName);
    QObject::connect(control, &QAbstractButton::clicked, wrapper, [wrapper, control] { wrapper->invoke(control); });
}

BlockWrapper::Block actionBlock(const QAbstractButton *control)
{
    const BlockWrapper *wrapper = control ? actionWrapper(control) : nullptr;
    return wrapper ? wrapper->block() : BlockWrapper::Block();
}

qint64 selectedTabViewIndex(const QTabWidget *tabView)
{
    return tabView ? tabView->currentIndex() : -1;
}

QString hyperlinkWithURL(const QString &text, const QUrl &url)
{
    const QString address = QString::fromUtf8(url.toEncoded()).toHtmlEscaped();
    return QStringLiteral("<a href=\"%1\" style=\"color:%2; text-decoration:underline;\">%3</a>")
        .arg(address, makeColor(0, 0, 1, 1).name(), text.toHtmlEscaped());
}

QSizeF sizeUsingFont(const QString &text, const QFont &font, float maxWidth)
{
    const QRectF container(0, 0, maxWidth, std::numeric_limits<float>::max());
    return QFontMetricsF(font).boundingRect(container, Qt::TextWordWrap, text).size();
}

} // namespace kestrum
