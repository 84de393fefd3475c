#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace volumegen {

// Draws the simple icons a generated volume needs, in the Mac's .icns
// format (one 128x128 PNG image, type "ic07"). Drawn here rather than copied
// from anywhere, so that the volume holds nothing but its own data.
namespace IconMaker {

enum class Style {
    Application,   // a rounded tile in a colour taken from `tint`
    Stop,          // a red octagon with a white bar: an application that is gone
    Package,       // a brown box: an installer package
};

QByteArray icns(Style style, quint64 tint = 0);

} // namespace IconMaker
} // namespace volumegen
