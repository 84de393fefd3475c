#include "IconMaker.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QtEndian>

#include <cmath>

namespace volumegen::IconMaker {

namespace {

constexpr int kSide = 128;

void drawApplication(QPainter &p, quint64 tint)
{
    const QColor base = QColor::fromHsv(int(tint % 360), 150 + int((tint >> 16) % 80), 200);
    QPainterPath tile;
    tile.addRoundedRect(QRectF(8, 8, 112, 112), 24, 24);
    p.fillPath(tile, base);
    p.setPen(QPen(base.darker(160), 4));
    p.drawPath(tile);
    p.setBrush(base.lighter(150));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(36, 36, 56, 56));
    p.setBrush(base.darker(130));
    p.drawRect(QRectF(58, 28 + (tint >> 8) % 20, 12, 60));
}

void drawStop(QPainter &p)
{
    QPolygonF octagon;
    for (int i = 0; i < 8; ++i) {
        const double a = (22.5 + 45.0 * i) * M_PI / 180.0;
        octagon << QPointF(64 + 58 * std::cos(a), 64 + 58 * std::sin(a));
    }
    p.setBrush(QColor(200, 30, 30));
    p.setPen(QPen(QColor(120, 10, 10), 4));
    p.drawPolygon(octagon);
    p.setBrush(Qt::white);
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(28, 54, 72, 20));
}

void drawPackage(QPainter &p)
{
    p.setPen(QPen(QColor(90, 60, 30), 4));
    p.setBrush(QColor(190, 140, 80));
    p.drawPolygon(QPolygonF({QPointF(16, 44), QPointF(64, 24), QPointF(112, 44), QPointF(64, 64)}));
    p.setBrush(QColor(160, 110, 60));
    p.drawPolygon(QPolygonF({QPointF(16, 44), QPointF(64, 64), QPointF(64, 116), QPointF(16, 96)}));
    p.setBrush(QColor(140, 95, 50));
    p.drawPolygon(QPolygonF({QPointF(112, 44), QPointF(64, 64), QPointF(64, 116), QPointF(112, 96)}));
}

QByteArray png(Style style, quint64 tint)
{
    QImage image(kSide, kSide, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        switch (style) {
        case Style::Application: drawApplication(p, tint); break;
        case Style::Stop: drawStop(p); break;
        case Style::Package: drawPackage(p); break;
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void appendU32(QByteArray &out, quint32 value)
{
    const quint32 big = qToBigEndian(value);
    out.append(reinterpret_cast<const char *>(&big), 4);
}

} // namespace

QByteArray icns(Style style, quint64 tint)
{
    const QByteArray image = png(style, tint);
    QByteArray out;
    out.append("icns", 4);
    appendU32(out, quint32(8 + 8 + image.size()));
    out.append("ic07", 4);
    appendU32(out, quint32(8 + image.size()));
    out.append(image);
    return out;
}

} // namespace volumegen::IconMaker
