#include "gui/window/result_area.hpp"

#include "gui/logic/level_meter.hpp"
#include "gui/window/pictures.hpp"

#include <QMouseEvent>
#include <QPainter>

namespace vntr::gui {
namespace {

QString Text(const std::string &s) {
    return QString::fromStdString(s);
}

} // namespace

ResultArea::ResultArea(const Layout &layout, QWidget *parent)
    : QWidget(parent), layout_(layout), logo_(LogoPicture()), bullet_(BulletPicture(false, layout.Px(1.6))),
      greenBullet_(BulletPicture(true, layout.Px(1.6))) {
    setObjectName("resultArea");
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kWindowGrey);
    palette.setColor(QPalette::WindowText, Qt::black);
    setPalette(palette);
}

void ResultArea::SetModel(DisplayModel model) {
    model_ = std::move(model);
    update();
}

void ResultArea::DrawText(QPainter &p, int xUnits, int top, const QString &text, Qt::Alignment align,
                          int rightUnits) const {
    const int left = layout_.Px(xUnits);
    const int right = layout_.Px(rightUnits);
    const QRect cell(left, top, std::max(1, right - left), layout_.Px(5));
    const QString shown = p.fontMetrics().elidedText(text, Qt::ElideRight, cell.width());
    p.drawText(cell, static_cast<int>(align | Qt::AlignVCenter), shown);
}

void ResultArea::DrawOriginal(QPainter &p) const {
    const QRect bar = layout_.OriginalBar();
    const int pad = layout_.Px(1);
    p.setPen(Qt::black);
    if (model_.originalExists) {
        p.setBrush(kBarBlue);
        p.drawRect(bar);
        p.setPen(Qt::white);
        p.drawText(bar.adjusted(layout_.Px(41) - bar.left(), 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("%1 bytes").arg(model_.originalBytes));
        p.drawText(bar.adjusted(0, 0, -pad, 0), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("1:1"));
        p.setPen(Qt::black);
        DrawText(p, 30, layout_.OriginalLineTop(), Text(model_.originalName), Qt::AlignLeft, 74);
        DrawText(p, 75, layout_.OriginalLineTop(), Text(model_.formatText), Qt::AlignLeft, 130);
        DrawText(p, 130, layout_.OriginalLineTop(), Text(model_.durationText), Qt::AlignRight, 155);
    } else {
        p.setBrush(kBarCyan);
        p.drawRect(bar);
        DrawText(p, 30, layout_.OriginalLineTop(), QStringLiteral("No original file opened"));
    }
}

void ResultArea::DrawRows(QPainter &p) const {
    const QFontMetrics metrics = p.fontMetrics();
    const int pad = layout_.Px(1);
    for (std::size_t r = 0; r < model_.rows.size(); ++r) {
        const RowView &row = model_.rows[r];
        const int top = layout_.RowTop(static_cast<int>(r));
        p.setPen(Qt::black);
        DrawText(p, 5, top, Text(row.name), Qt::AlignLeft, 29);
        const QRect bar = layout_.RowBar(static_cast<int>(r));
        p.setPen(Qt::black);
        if (!row.hasResults) {
            p.setBrush(kBarCyan);
            p.drawRect(bar);
            continue;
        }
        p.setBrush(Qt::white);
        p.drawRect(bar);
        const int blue = layout_.BluePartPx(row.ratio);
        p.fillRect(QRect(bar.left(), bar.top(), blue, bar.height() + 1), kBarBlue);
        const QString rate = Text(row.bitRateText);
        const QString ratio = Text(row.ratioText);
        const QRect inner = bar.adjusted(pad, 0, -pad, 0);
        p.drawText(inner, Qt::AlignRight | Qt::AlignVCenter, ratio);
        const int rateLeft = bar.left() + blue + pad;
        const int room = inner.right() - metrics.horizontalAdvance(ratio) - pad - rateLeft;
        if (metrics.horizontalAdvance(rate) <= room) {
            p.drawText(QRect(rateLeft, bar.top(), room, bar.height() + 1), Qt::AlignLeft | Qt::AlignVCenter, rate);
        } else {
            // A long blue part: the rate goes inside it.
            p.setPen(Qt::white);
            p.drawText(QRect(bar.left() + pad, bar.top(), blue - 2 * pad, bar.height() + 1),
                       Qt::AlignRight | Qt::AlignVCenter, rate);
        }
    }
}

void ResultArea::DrawStatus(QPainter &p) const {
    const int rows = static_cast<int>(model_.rows.size());
    p.setPen(Qt::black);
    p.setBrush(Qt::white);
    p.drawRect(layout_.StatusArea(rows));
    const int bulletSide = bullet_.width();
    for (std::size_t i = 0; i < model_.status.size() && i < Layout::kStatusLines; ++i) {
        const int top = layout_.StatusLineTop(rows, static_cast<int>(i));
        const QString text = Text(model_.status[i]);
        if (i == 0) {
            QFont bold = p.font();
            bold.setBold(true);
            p.save();
            p.setFont(bold);
            DrawText(p, 7, top, text, Qt::AlignLeft, 153);
            p.restore();
            continue;
        }
        const QPixmap &bullet = model_.greenBullets ? greenBullet_ : bullet_;
        p.drawPixmap(layout_.Px(10), top + (layout_.Px(5) - bulletSide) / 2, bullet);
        DrawText(p, 15, top, text, Qt::AlignLeft, 153);
    }
}

void ResultArea::DrawBracket(QPainter &p) const {
    const int rows = static_cast<int>(model_.rows.size());
    if (!model_.bracket || model_.detailRow < 1 || model_.detailRow > rows) return;
    const int r = model_.detailRow - 1;
    const int rowMid = layout_.RowTop(r) + layout_.Px(2.5);
    const QRect status = layout_.StatusArea(rows);
    const int statusMid = status.center().y();
    const int left = layout_.Px(155) + 2;
    const int right = layout_.Px(159);
    p.setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(
        QPolygon({QPoint(left, rowMid), QPoint(right, rowMid), QPoint(right, statusMid), QPoint(left, statusMid)}));
}

void ResultArea::DrawMeter(QPainter &p) const {
    const QRect meter = layout_.Meter();
    const auto cells = MeterCells(model_.meterLevel);
    const int gap = 1;
    const int cellHeight = (meter.height() - gap * (kMeterSegments - 1)) / kMeterSegments;
    const int used = cellHeight * kMeterSegments + gap * (kMeterSegments - 1);
    const int top = meter.top() + (meter.height() - used);
    p.fillRect(meter.adjusted(-1, -1, 1, 1), Qt::black);
    for (int i = 0; i < kMeterSegments; ++i) {
        const auto &cell = cells[static_cast<std::size_t>(i)];
        const int y = top + (kMeterSegments - 1 - i) * (cellHeight + gap);
        p.drawPixmap(meter.left(), y, MeterPicture(cell.fill, cell.saturated, QSize(meter.width(), cellHeight)));
    }
}

void ResultArea::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setFont(font());
    DrawOriginal(p);
    DrawRows(p);
    DrawStatus(p);
    DrawBracket(p);
    DrawMeter(p);
    const int rows = static_cast<int>(model_.rows.size());
    p.drawPixmap((width() - logo_.width()) / 2, layout_.LogoTop(rows), logo_);
}

void ResultArea::mousePressEvent(QMouseEvent *event) {
    const int row = layout_.RowAt(event->position().toPoint(), static_cast<int>(model_.rows.size()));
    if (row > 0) emit RowClicked(row, event->button());
    QWidget::mousePressEvent(event);
}

void ResultArea::mouseDoubleClickEvent(QMouseEvent *event) {
    const int row = layout_.RowAt(event->position().toPoint(), static_cast<int>(model_.rows.size()));
    if (row > 0 && event->button() == Qt::LeftButton) emit RowDoubleClicked(row);
    if (event->button() == Qt::LeftButton && layout_.OriginalBar().contains(event->position().toPoint())) {
        emit OriginalDoubleClicked();
    }
    QWidget::mouseDoubleClickEvent(event);
}

} // namespace vntr::gui
