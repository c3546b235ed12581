#include "gui/dialogs/select_codecs_dialog.hpp"

#include "gui/dialogs/control_ids.hpp"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace vntr::gui {

using List = CodecSelection::List;

SelectCodecsDialog::SelectCodecsDialog(std::vector<std::string> descriptions, const std::vector<bool> &selected,
                                       QWidget *parent)
    : QDialog(parent), descriptions_(std::move(descriptions)), model_(selected) {
    setWindowTitle("Select preferred algorithms...");
    unselected_ = Tag(new QListWidget(this), kIdUnselectedList);
    selected_ = Tag(new QListWidget(this), kIdSelectedList);
    for (QListWidget *list : {unselected_, selected_}) {
        list->setMinimumWidth(fontMetrics().averageCharWidth() * 44);
        list->setMinimumHeight(fontMetrics().height() * 10);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
    }
    auto *unselectedLabel = new QLabel("&Unselected algorithms:", this);
    unselectedLabel->setBuddy(unselected_);
    auto *selectedLabel = new QLabel("&Selected algorithms:", this);
    selectedLabel->setBuddy(selected_);
    select_ = Tag(new QPushButton("&Select >>", this), kIdSelect);
    deselect_ = Tag(new QPushButton("&Deselect <<", this), kIdDeselect);
    auto *buttons = new QDialogButtonBox(this);
    auto *ok = Tag(buttons->addButton("&OK", QDialogButtonBox::AcceptRole), kIdOk);
    Tag(buttons->addButton("&Cancel", QDialogButtonBox::RejectRole), kIdCancel);
    ok->setDefault(true);

    auto *moves = new QVBoxLayout;
    moves->addStretch();
    moves->addWidget(select_);
    moves->addWidget(deselect_);
    moves->addStretch();
    auto *grid = new QGridLayout;
    grid->addWidget(unselectedLabel, 0, 0);
    grid->addWidget(unselected_, 1, 0);
    grid->addLayout(moves, 1, 1);
    grid->addWidget(selectedLabel, 0, 2);
    grid->addWidget(selected_, 1, 2);
    auto *outer = new QVBoxLayout(this);
    outer->addLayout(grid);
    outer->addWidget(buttons);

    connect(unselected_, &QListWidget::currentRowChanged, this, [this](int row) { Highlight(List::Unselected, row); });
    connect(selected_, &QListWidget::currentRowChanged, this, [this](int row) { Highlight(List::Selected, row); });
    // A click on the entry that is already current still moves the highlight to its list.
    connect(unselected_, &QListWidget::itemPressed, this,
            [this](QListWidgetItem *item) { Highlight(List::Unselected, unselected_->row(item)); });
    connect(selected_, &QListWidget::itemPressed, this,
            [this](QListWidgetItem *item) { Highlight(List::Selected, selected_->row(item)); });
    connect(unselected_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) {
        Highlight(List::Unselected, unselected_->row(item));
        Move();
    });
    connect(selected_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) {
        Highlight(List::Selected, selected_->row(item));
        Move();
    });
    connect(select_, &QPushButton::clicked, this, &SelectCodecsDialog::Move);
    connect(deselect_, &QPushButton::clicked, this, &SelectCodecsDialog::Move);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    Fill();
}

void SelectCodecsDialog::Fill() {
    const QSignalBlocker blockUnselected(unselected_);
    const QSignalBlocker blockSelected(selected_);
    for (const List list : {List::Unselected, List::Selected}) {
        QListWidget *widget = list == List::Unselected ? unselected_ : selected_;
        widget->clear();
        for (const int slot : model_.Entries(list)) {
            widget->addItem(QString::fromStdString(descriptions_[static_cast<std::size_t>(slot)]));
        }
    }
    Mark();
}

void SelectCodecsDialog::Mark() {
    const QSignalBlocker blockUnselected(unselected_);
    const QSignalBlocker blockSelected(selected_);
    const auto current = model_.Current();
    for (const List list : {List::Unselected, List::Selected}) {
        QListWidget *widget = list == List::Unselected ? unselected_ : selected_;
        if (current && current->list == list) {
            widget->setCurrentRow(current->row);
        } else {
            widget->setCurrentRow(-1);
            widget->clearSelection();
        }
    }
    select_->setEnabled(model_.SelectEnabled());
    deselect_->setEnabled(model_.DeselectEnabled());
}

void SelectCodecsDialog::Highlight(List list, int row) {
    if (row < 0) return;
    model_.HighlightEntry(list, row);
    Mark();
}

void SelectCodecsDialog::Move() {
    model_.MoveHighlighted();
    Fill();
}

} // namespace vntr::gui
