#include "gui/Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace tarnwell::art {

namespace {
const QColor kDeep(0x1f, 0x4e, 0x5f);
const QColor kTeal(0x3c, 0xc6, 0xb8);
const QColor kLight(0xf2, 0xf7, 0xf8);
const QColor kStop(0xd9, 0x4b, 0x3d);

// The emblem: a disk platter with an arrow rising out of it.
void PaintEmblem(QPainter& p, const QRectF& r) {
    const qreal s = r.width();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kDeep);
    p.drawRoundedRect(r, s * 0.18, s * 0.18);
    QPointF c = r.center() + QPointF(-s * 0.06, s * 0.06);
    p.setPen(QPen(kLight, s * 0.07));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, s * 0.30, s * 0.30);
    p.setPen(Qt::NoPen);
    p.setBrush(kLight);
    p.drawEllipse(c, s * 0.07, s * 0.07);
    QPainterPath arrow;
    const QPointF tip = r.topLeft() + QPointF(s * 0.80, s * 0.14);
    arrow.moveTo(tip);
    arrow.lineTo(tip + QPointF(s * 0.15, s * 0.20));
    arrow.lineTo(tip + QPointF(s * 0.05, s * 0.20));
    arrow.lineTo(tip + QPointF(s * 0.05, s * 0.50));
    arrow.lineTo(tip + QPointF(-s * 0.05, s * 0.50));
    arrow.lineTo(tip + QPointF(-s * 0.05, s * 0.20));
    arrow.lineTo(tip + QPointF(-s * 0.15, s * 0.20));
    arrow.closeSubpath();
    p.setBrush(kTeal);
    p.drawPath(arrow);
}

QPixmap Canvas(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    return pm;
}

void PaintGlyph(QPainter& p, Glyph g, qreal s) {
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(kDeep, s * 0.12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    auto pt = [s](qreal x, qreal y) { return QPointF(x * s, y * s); };
    switch (g) {
        case Glyph::Next:
            p.drawPolyline(QPolygonF{pt(0.35, 0.2), pt(0.65, 0.5), pt(0.35, 0.8)});
            break;
        case Glyph::Back:
            p.drawPolyline(QPolygonF{pt(0.65, 0.2), pt(0.35, 0.5), pt(0.65, 0.8)});
            break;
        case Glyph::Help:
        case Glyph::Info:
            p.drawEllipse(QRectF(pt(0.12, 0.12), pt(0.88, 0.88)));
            p.setFont(QFont("Sans", int(s * 0.45), QFont::Bold));
            p.drawText(QRectF(0, 0, s, s), Qt::AlignCenter, g == Glyph::Help ? "?" : "i");
            break;
        case Glyph::Save:
            p.drawLine(pt(0.5, 0.15), pt(0.5, 0.62));
            p.drawPolyline(QPolygonF{pt(0.3, 0.45), pt(0.5, 0.65), pt(0.7, 0.45)});
            p.drawPolyline(QPolygonF{pt(0.15, 0.65), pt(0.15, 0.85), pt(0.85, 0.85), pt(0.85, 0.65)});
            break;
        case Glyph::Search:
            p.drawEllipse(QRectF(pt(0.15, 0.15), pt(0.6, 0.6)));
            p.drawLine(pt(0.58, 0.58), pt(0.85, 0.85));
            break;
        case Glyph::Pause:
            p.drawLine(pt(0.35, 0.2), pt(0.35, 0.8));
            p.drawLine(pt(0.65, 0.2), pt(0.65, 0.8));
            break;
        case Glyph::Resume:
            p.setBrush(kTeal);
            p.setPen(QPen(kTeal, s * 0.06, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawPolygon(QPolygonF{pt(0.3, 0.18), pt(0.8, 0.5), pt(0.3, 0.82)});
            break;
        case Glyph::Stop:
            p.setBrush(kStop);
            p.setPen(Qt::NoPen);
            p.drawRoundedRect(QRectF(pt(0.2, 0.2), pt(0.8, 0.8)), s * 0.08, s * 0.08);
            break;
        case Glyph::Browse:
        case Glyph::Open:
            p.drawPolyline(QPolygonF{pt(0.12, 0.78), pt(0.12, 0.25), pt(0.4, 0.25), pt(0.48, 0.35),
                                     pt(0.88, 0.35), pt(0.88, 0.78), pt(0.12, 0.78)});
            break;
        case Glyph::Add:
            p.drawLine(pt(0.5, 0.2), pt(0.5, 0.8));
            p.drawLine(pt(0.2, 0.5), pt(0.8, 0.5));
            break;
        case Glyph::Filter:
            p.drawPolygon(QPolygonF{pt(0.15, 0.2), pt(0.85, 0.2), pt(0.58, 0.52), pt(0.58, 0.82), pt(0.42, 0.72),
                                    pt(0.42, 0.52)});
            break;
    }
}
}  // namespace

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pm = Canvas(size);
        QPainter p(&pm);
        PaintEmblem(p, QRectF(0, 0, size, size));
        icon.addPixmap(pm);
    }
    return icon;
}

QIcon ButtonIcon(Glyph glyph) {
    QIcon icon;
    for (int size : {16, 24, 32}) {
        QPixmap pm = Canvas(size);
        QPainter p(&pm);
        PaintGlyph(p, glyph, size);
        icon.addPixmap(pm);
    }
    return icon;
}

QPixmap Banner(int width, int height, const QString& subtitle) {
    QPixmap pm(width, height);
    QPainter p(&pm);
    QLinearGradient g(0, 0, width, 0);
    g.setColorAt(0, kDeep);
    g.setColorAt(1, kDeep.lighter(135));
    p.fillRect(pm.rect(), g);
    p.setPen(QPen(kTeal, 3));
    p.drawLine(0, height - 2, width, height - 2);
    const int emblem = height - 16;
    PaintEmblem(p, QRectF(10, 7, emblem, emblem));
    p.setPen(kLight);
    QFont title("Sans", 1, QFont::DemiBold);
    title.setPixelSize(height * 32 / 100);
    p.setFont(title);
    p.drawText(QRect(emblem + 24, 4, width - emblem - 30, height / 2 + 4), Qt::AlignLeft | Qt::AlignBottom,
               "Tarnwell v21.04");
    QFont sub("Sans");
    sub.setPixelSize(height * 20 / 100);
    p.setFont(sub);
    p.setPen(kLight.darker(115));
    p.drawText(QRect(emblem + 24, height / 2 + 6, width - emblem - 30, height / 2 - 10), Qt::AlignLeft | Qt::AlignTop,
               subtitle);
    return pm;
}

}  // namespace tarnwell::art
