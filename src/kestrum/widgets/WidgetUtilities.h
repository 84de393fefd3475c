#pragma once

#include "kestrum/BlockWrapper.h"

#include <QFont>
#include <QSizeF>
#include <QString>
#include <QUrl>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QTabWidget;
class QWidget;
struct QMetaObject;

// Interface conveniences; like the widgets themselves, main thread only.
namespace kestrum {

// `view` when it is a `metaObject` (or a subclass), else the first such widget depth-first in child order; nullptr when none.
QWidget *viewWithClass(QWidget *view, const QMetaObject &metaObject);
// The typed form: viewWithClass<QPushButton>(window).
template<typename T>
T *viewWithClass(QWidget *view)
{
    return static_cast<T *>(viewWithClass(view, T::staticMetaObject));
}

// The smallest font size that a field's text needs to fit its width.
inline constexpr int kMinimumAdjustedFontSize = 1;
// Shrinks the font, one point at a time from its whole size, until the text fits the width; never below kMinimumAdjustedFontSize.
void adjustFontSize(QLabel *field);
void adjustFontSize(QLineEdit *field);

// Makes `block` the button's click action (with the button as sender) through a child BlockWrapper; an empty block removes the action.
void setActionBlock(QAbstractButton *control, BlockWrapper::Block block);
// The block set by setActionBlock, or an empty one.
BlockWrapper::Block actionBlock(const QAbstractButton *control);

// The index of the selected tab; -1 when there is none.
qint64 selectedTabViewIndex(const QTabWidget *tabView);

// Rich text showing `text` as a link to `url`, in pure blue with a single underline.
QString hyperlinkWithURL(const QString &text, const QUrl &url);

// The size the text takes laid out in `font`, wrapped at `maxWidth` and unbounded in height (needs a QGuiApplication).
QSizeF sizeUsingFont(const QString &text, const QFont &font, float maxWidth);

} // namespace kestrum
