// The window's drawing surface: the original's bar and line, one result row
// per selected codec, the status area with its bracket to the detail row,
// the level meter and the logo.  It draws what the main window puts in its
// DisplayModel and reports clicks on the result bars.
#pragma once

#include "gui/logic/layout.hpp"
#include "gui/logic/status_text.hpp"

#include <QPixmap>
#include <QWidget>

#include <string>
#include <vector>

namespace vntr::gui {

struct RowView {
    std::string name;
    bool hasResults = false;
    float ratio = 0;
    std::string bitRateText; // "%ld bps"
    std::string ratioText;   // "%d:1"
};

struct DisplayModel {
    bool originalExists = false;
    std::string originalName;
    std::string formatText;
    std::string durationText;
    uint32_t originalBytes = 0;
    std::vector<RowView> rows; // by display row
    int detailRow = 0;         // 1-based; 0 for none
    bool bracket = false;      // the detail row's details are shown
    StatusLines status;
    bool greenBullets = false; // details and work in progress
    int meterLevel = 0;        // 0..40
};

class ResultArea final : public QWidget {
    Q_OBJECT
public:
    ResultArea(const Layout &layout, QWidget *parent);

    void SetModel(DisplayModel model);
    const DisplayModel &Model() const { return model_; }

signals:
    // A click on the band of the result bars, on row 1..n.
    void RowClicked(int row, Qt::MouseButton button);
    void RowDoubleClicked(int row);
    void OriginalDoubleClicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void DrawOriginal(QPainter &p) const;
    void DrawRows(QPainter &p) const;
    void DrawStatus(QPainter &p) const;
    void DrawBracket(QPainter &p) const;
    void DrawMeter(QPainter &p) const;
    void DrawText(QPainter &p, int xUnits, int top, const QString &text, Qt::Alignment align = Qt::AlignLeft,
                  int rightUnits = 155) const;

    const Layout &layout_;
    DisplayModel model_;
    QPixmap logo_;
    QPixmap bullet_;
    QPixmap greenBullet_;
};

} // namespace vntr::gui
