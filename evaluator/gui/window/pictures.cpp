#include "gui/window/pictures.hpp"

#include <QBitmap>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace vntr::gui {
namespace {

const QColor kWhite{0xFF, 0xFF, 0xFF};
const QColor kShadow{0x80, 0x80, 0x80};
const QColor kDarkShadow{0x00, 0x00, 0x00};

void DrawPlay(QPainter &p, const QRectF &b) {
    QPainterPath path;
    path.moveTo(b.left() + b.width() * 0.18, b.top());
    path.lineTo(b.right(), b.center().y());
    path.lineTo(b.left() + b.width() * 0.18, b.bottom());
    path.closeSubpath();
    p.setPen(QPen(QColor(0x00, 0x50, 0x00), 1.0));
    p.setBrush(QColor(0x00, 0xA0, 0x00));
    p.drawPath(path);
}

void DrawRecord(QPainter &p, const QRectF &b) {
    const double r = std::min(b.width(), b.height()) * 0.45;
    QRadialGradient shine(b.center() - QPointF(r * 0.35, r * 0.35), r * 1.4);
    shine.setColorAt(0.0, QColor(0xFF, 0x70, 0x70));
    shine.setColorAt(1.0, QColor(0xB0, 0x00, 0x00));
    p.setPen(QPen(QColor(0x60, 0x00, 0x00), 1.0));
    p.setBrush(shine);
    p.drawEllipse(b.center(), r, r);
}

void DrawOpen(QPainter &p, const QRectF &b) {
    const double w = b.width();
    const double h = b.height();
    const double x = b.left();
    const double y = b.top() + h * 0.12;
    QPainterPath back;
    back.moveTo(x, y + h * 0.78);
    back.lineTo(x, y);
    back.lineTo(x + w * 0.35, y);
    back.lineTo(x + w * 0.45, y + h * 0.14);
    back.lineTo(x + w * 0.85, y + h * 0.14);
    back.lineTo(x + w * 0.85, y + h * 0.3);
    p.setPen(QPen(QColor(0x60, 0x48, 0x00), 1.0));
    p.setBrush(QColor(0xC8, 0x98, 0x10));
    p.drawPath(back);
    QPainterPath flap;
    flap.moveTo(x, y + h * 0.78);
    flap.lineTo(x + w * 0.18, y + h * 0.3);
    flap.lineTo(x + w, y + h * 0.3);
    flap.lineTo(x + w * 0.82, y + h * 0.78);
    flap.closeSubpath();
    p.setBrush(QColor(0xFF, 0xD8, 0x40));
    p.drawPath(flap);
}

void DrawStop(QPainter &p, const QRectF &b) {
    const double side = std::min(b.width(), b.height()) * 0.8;
    const QRectF square(b.center().x() - side / 2, b.center().y() - side / 2, side, side);
    p.setPen(QPen(QColor(0x00, 0x00, 0x00), 1.0));
    p.setBrush(QColor(0x30, 0x30, 0x40));
    p.drawRect(square);
}

void DrawSave(QPainter &p, const QRectF &b) {
    const double side = std::min(b.width(), b.height());
    const QRectF disk(b.center().x() - side / 2, b.center().y() - side / 2, side, side);
    QPainterPath body;
    body.moveTo(disk.left(), disk.top());
    body.lineTo(disk.right() - side * 0.18, disk.top());
    body.lineTo(disk.right(), disk.top() + side * 0.18);
    body.lineTo(disk.right(), disk.bottom());
    body.lineTo(disk.left(), disk.bottom());
    body.closeSubpath();
    p.setPen(QPen(QColor(0x10, 0x18, 0x50), 1.0));
    p.setBrush(QColor(0x28, 0x40, 0xA8));
    p.drawPath(body);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xE0, 0xE0, 0xE0));
    p.drawRect(QRectF(disk.left() + side * 0.22, disk.top() + side * 0.06, side * 0.5, side * 0.3));
    p.setBrush(kWhite);
    p.drawRect(QRectF(disk.left() + side * 0.16, disk.top() + side * 0.55, side * 0.68, side * 0.4));
}

void DrawProcess(QPainter &p, const QRectF &b) {
    // A cog wheel.
    const QPointF c = b.center();
    const double outer = std::min(b.width(), b.height()) * 0.5;
    const double inner = outer * 0.68;
    constexpr int kTeeth = 8;
    QPainterPath cog;
    for (int i = 0; i < kTeeth * 4; ++i) {
        const double angle = (i - 0.5) * std::numbers::pi * 2 / (kTeeth * 4);
        const double r = (i % 4 == 0 || i % 4 == 1) ? outer : inner;
        const QPointF at(c.x() + r * std::cos(angle), c.y() + r * std::sin(angle));
        if (i == 0) {
            cog.moveTo(at);
        } else {
            cog.lineTo(at);
        }
    }
    cog.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(c, outer * 0.28, outer * 0.28);
    p.setPen(QPen(QColor(0x20, 0x20, 0x30), 1.0));
    p.setBrush(QColor(0x50, 0x60, 0x80));
    p.drawPath(cog.subtracted(hole));
}

void DrawGlyph(QPainter &p, Glyph glyph, const QRectF &box) {
    switch (glyph) {
    case Glyph::Play:
        DrawPlay(p, box);
        break;
    case Glyph::Record:
        DrawRecord(p, box);
        break;
    case Glyph::Open:
        DrawOpen(p, box);
        break;
    case Glyph::Stop:
        DrawStop(p, box);
        break;
    case Glyph::Save:
        DrawSave(p, box);
        break;
    case Glyph::Process:
        DrawProcess(p, box);
        break;
    }
}

// The glyph's shape in one colour, for the embossed disabled look.
QImage Silhouette(Glyph glyph, const QRectF &box, QSize size, const QColor &colour) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    DrawGlyph(p, glyph, box);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(image.rect(), colour);
    return image;
}

void DrawBevel(QPainter &p, int side, bool sunken) {
    const int e = side - 1;
    p.setPen(sunken ? kDarkShadow : kWhite);
    p.drawLine(0, 0, e - 1, 0);
    p.drawLine(0, 0, 0, e - 1);
    p.setPen(sunken ? kWhite : kDarkShadow);
    p.drawLine(0, e, e, e);
    p.drawLine(e, 0, e, e);
    p.setPen(sunken ? kShadow : QColor(0xDF, 0xDF, 0xDF));
    p.drawLine(1, 1, e - 2, 1);
    p.drawLine(1, 1, 1, e - 2);
    p.setPen(sunken ? QColor(0xDF, 0xDF, 0xDF) : kShadow);
    p.drawLine(1, e - 1, e - 1, e - 1);
    p.drawLine(e - 1, 1, e - 1, e - 1);
}

} // namespace

QPixmap ButtonPicture(Glyph glyph, ButtonLook look, int side) {
    side = std::max(side, 8);
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(kWindowGrey);
    QPainter p(&image);
    DrawBevel(p, side, look == ButtonLook::Down);
    const double margin = std::max(3.0, side * 0.2);
    const double shift = look == ButtonLook::Down ? 1.0 : 0.0;
    const QRectF box(margin + shift, margin + shift, side - 2 * margin, side - 2 * margin);
    if (look == ButtonLook::Disabled) {
        p.drawImage(1, 1, Silhouette(glyph, box, image.size(), kWhite));
        p.drawImage(0, 0, Silhouette(glyph, box, image.size(), kShadow));
    } else {
        p.setRenderHint(QPainter::Antialiasing);
        DrawGlyph(p, glyph, box);
    }
    p.end();
    return QPixmap::fromImage(image);
}

QPixmap BulletPicture(bool green, int side) {
    side = std::max(side, 3);
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double r = side / 2.0 - 0.5;
    const QPointF c(side / 2.0, side / 2.0);
    QRadialGradient ball(c - QPointF(r * 0.4, r * 0.4), r * 1.6);
    ball.setColorAt(0.0, green ? QColor(0xA0, 0xFF, 0xA0) : QColor(0xA0, 0xB0, 0xFF));
    ball.setColorAt(1.0, green ? QColor(0x00, 0x70, 0x00) : QColor(0x00, 0x00, 0x90));
    p.setPen(Qt::NoPen);
    p.setBrush(ball);
    p.drawEllipse(c, r, r);
    p.end();
    return QPixmap::fromImage(image);
}

QPixmap MeterPicture(int fill, bool saturated, QSize size) {
    fill = std::clamp(fill, 0, 8);
    QImage image(size.expandedTo(QSize(2, 2)), QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(0x10, 0x18, 0x10));
    QPainter p(&image);
    const int h = image.height();
    const int w = image.width();
    // Eight steps from the bottom; the lit ones bright, the others dim.
    for (int step = 0; step < 8; ++step) {
        const int bottom = h - 1 - step * (h - 1) / 8;
        const int top = h - 1 - (step + 1) * (h - 1) / 8;
        const bool lit = step < fill;
        QColor colour;
        if (saturated) {
            colour = lit ? QColor(0xFF, 0x30, 0x20) : QColor(0x40, 0x10, 0x10);
        } else {
            colour = lit ? QColor(0x30, 0xE0, 0x40) : QColor(0x10, 0x38, 0x14);
        }
        p.fillRect(QRect(QPoint(1, top + 1), QPoint(w - 2, bottom)), colour);
    }
    p.end();
    return QPixmap::fromImage(image);
}

QPixmap LogoPicture() {
    QImage image(kLogoSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // A burst of sound behind the name: a sine under a swelling envelope.
    QPainterPath wave;
    const double mid = 40;
    for (int x = 4; x <= 196; ++x) {
        const double t = (x - 4) / 192.0;
        const double envelope = std::sin(t * std::numbers::pi) * (0.35 + 0.65 * std::sin(t * std::numbers::pi));
        const double y = mid - 30 * envelope * std::sin(t * std::numbers::pi * 13);
        if (x == 4) {
            wave.moveTo(x, y);
        } else {
            wave.lineTo(x, y);
        }
    }
    QLinearGradient sweep(0, 0, 200, 0);
    sweep.setColorAt(0.0, QColor(0x80, 0xC0, 0xFF));
    sweep.setColorAt(0.5, QColor(0x20, 0x60, 0xE0));
    sweep.setColorAt(1.0, QColor(0x80, 0xC0, 0xFF));
    p.setPen(QPen(QBrush(sweep), 2.2));
    p.drawPath(wave);

    QFont name("DejaVu Serif");
    name.setPixelSize(40);
    name.setBold(true);
    name.setItalic(true);
    p.setFont(name);
    const QRect nameBox(0, 12, 200, 50);
    p.setPen(QColor(0xFF, 0xFF, 0xFE)); // a halo that is not see-through
    for (const QPoint d : {QPoint(-2, 0), QPoint(2, 0), QPoint(0, -2), QPoint(0, 2)}) {
        p.drawText(nameBox.translated(d), Qt::AlignCenter, "Vantre");
    }
    p.setPen(QColor(0x10, 0x20, 0x80));
    p.drawText(nameBox, Qt::AlignCenter, "Vantre");

    p.setPen(QPen(QColor(0xC0, 0x10, 0x10), 2));
    p.drawLine(QPointF(30, 68), QPointF(170, 68));
    QFont line("DejaVu Sans");
    line.setPixelSize(12);
    line.setBold(true);
    line.setLetterSpacing(QFont::AbsoluteSpacing, 3);
    p.setFont(line);
    p.setPen(QColor(0x10, 0x20, 0x80));
    p.drawText(QRect(0, 72, 200, 18), Qt::AlignCenter, "QUIBELL");
    p.end();

    QPixmap logo = QPixmap::fromImage(image);
    logo.setMask(QBitmap::fromImage(image.createMaskFromColor(QColor(Qt::white).rgb(), Qt::MaskInColor)));
    return logo;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (const int side : {16, 32, 48}) {
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        const double s = side;
        QLinearGradient face(0, 0, 0, s);
        face.setColorAt(0.0, QColor(0x40, 0x70, 0xF0));
        face.setColorAt(1.0, QColor(0x10, 0x20, 0x90));
        p.setPen(Qt::NoPen);
        p.setBrush(face);
        p.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.18, s * 0.18);
        QPainterPath v;
        v.moveTo(s * 0.2, s * 0.2);
        v.lineTo(s * 0.5, s * 0.8);
        v.lineTo(s * 0.8, s * 0.2);
        p.setPen(QPen(Qt::white, std::max(1.5, s * 0.12), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(v);
        p.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace vntr::gui
