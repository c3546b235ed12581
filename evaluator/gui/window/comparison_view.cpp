#include "gui/window/comparison_view.hpp"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

namespace vntr::gui {

ComparisonView::ComparisonView(QWidget *parent) : QDialog(parent) {
    setWindowTitle("Compare codecs");
    setObjectName("comparisonView");
    sorted_.setSourceModel(&model_);
    heading_ = new QLabel(this);
    heading_->setObjectName("comparisonHeading");
    table_ = new QTableView(this);
    table_->setObjectName("comparisonTable");
    table_->setModel(&sorted_);
    table_->setSortingEnabled(true);
    table_->sortByColumn(ComparisonModel::BitRate, Qt::AscendingOrder);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->setAlternatingRowColors(true);
    plot_ = new RatePlot(model_, this);
    measure_ = new QComboBox(this);
    measure_->setObjectName("measureChoice");
    for (const auto m : RatePlot::Measures()) {
        measure_->addItem(RatePlot::MeasureName(m), static_cast<int>(m));
    }
    measure_->setCurrentIndex(measure_->findData(static_cast<int>(plot_->CurrentMeasure())));
    csv_ = new QPushButton("Export &CSV...", this);
    json_ = new QPushButton("Export &JSON...", this);
    auto *close = new QPushButton("Close", this);

    auto *plotSide = new QWidget(this);
    auto *plotLayout = new QVBoxLayout(plotSide);
    plotLayout->setContentsMargins(0, 0, 0, 0);
    auto *choice = new QHBoxLayout;
    choice->addWidget(new QLabel("&Measure:", plotSide));
    choice->addWidget(measure_, 1);
    qobject_cast<QLabel *>(choice->itemAt(0)->widget())->setBuddy(measure_);
    plotLayout->addLayout(choice);
    plotLayout->addWidget(plot_, 1);
    auto *split = new QSplitter(Qt::Horizontal, this);
    split_ = split;
    split->addWidget(table_);
    split->addWidget(plotSide);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setChildrenCollapsible(false);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(csv_);
    buttons->addWidget(json_);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading_);
    layout->addWidget(split, 1);
    layout->addLayout(buttons);

    connect(measure_, &QComboBox::currentIndexChanged, this,
            [this](int) { plot_->SetMeasure(static_cast<RatePlot::Measure>(measure_->currentData().toInt())); });
    connect(csv_, &QPushButton::clicked, this, [this] { emit ExportRequested(false); });
    connect(json_, &QPushButton::clicked, this, [this] { emit ExportRequested(true); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(table_, &QTableView::doubleClicked, this, [this](const QModelIndex &index) {
        emit CodecChosen(sorted_.index(index.row(), ComparisonModel::Codec).data().toString());
    });
    SetRows({}, "No run yet.");
    FitToColumns();
}

int ComparisonView::TableWidth() const {
    table_->resizeColumnsToContents();
    int width = 2 * table_->frameWidth() + table_->horizontalHeader()->length();
    width += table_->verticalScrollBar()->sizeHint().width();
    return width;
}

void ComparisonView::FitToColumns() {
    // The table as wide as its columns, the plot beside it at its own width.
    const int table = TableWidth();
    const int plot = plot_->sizeHint().width();
    const int margins = layout()->contentsMargins().left() + layout()->contentsMargins().right();
    const int width = table + split_->handleWidth() + plot + margins;
    resize(width, std::max(height(), 480));
    split_->setSizes({table, std::max(plot, width - margins - split_->handleWidth() - table)});
}

void ComparisonView::SetPalette(CodecPalette palette) {
    plot_->SetPalette(std::move(palette));
}

void ComparisonView::SetRows(std::vector<ComparisonRow> rows, const QString &heading) {
    heading_->setText(heading);
    const bool any = !rows.empty();
    csv_->setEnabled(any);
    json_->setEnabled(any);
    if (rows == model_.Rows()) return;
    model_.SetRows(std::move(rows));
    if (any && !fitted_) {
        fitted_ = true;
        FitToColumns();
    }
}

} // namespace vntr::gui
