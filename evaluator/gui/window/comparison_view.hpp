// "Compare codecs": the comparison table of the last run beside the rate
// against quality plot, with export of the table as CSV or JSON (the batch
// report's schema).  The window keeps its rows up to date.
#pragma once

#include "gui/logic/comparison_table.hpp"
#include "gui/window/rate_plot.hpp"

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;
class QSplitter;
class QTableView;

namespace vntr::gui {

class ComparisonView final : public QDialog {
    Q_OBJECT
public:
    explicit ComparisonView(QWidget *parent = nullptr);

    // The rows of the last run (nothing changes when they are the same).
    void SetRows(std::vector<ComparisonRow> rows, const QString &heading);
    // Every codec's colour in the plot.
    void SetPalette(CodecPalette palette);
    // The width the table needs to show every column whole.
    int TableWidth() const;

    ComparisonModel &Model() { return model_; }
    ComparisonSortModel &Sorted() { return sorted_; }
    QTableView *Table() const { return table_; }
    RatePlot *Plot() const { return plot_; }
    QComboBox *MeasureChoice() const { return measure_; }

signals:
    void ExportRequested(bool json);
    // A double click on a codec's row.
    void CodecChosen(const QString &codec);

private:
    ComparisonModel model_;
    ComparisonSortModel sorted_;
    QLabel *heading_;
    QTableView *table_;
    RatePlot *plot_;
    QComboBox *measure_;
    QPushButton *csv_;
    QPushButton *json_;
    QSplitter *split_;
    bool fitted_ = false; // sized to the columns of the first rows
    void FitToColumns();
};

} // namespace vntr::gui
