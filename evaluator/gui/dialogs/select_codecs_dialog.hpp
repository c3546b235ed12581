// "Select preferred algorithms...": the unselected and the selected codecs
// in two lists, moved between them with the buttons or a double click.
#pragma once

#include "gui/logic/codec_selection.hpp"

#include <QDialog>

#include <string>
#include <vector>

class QListWidget;
class QPushButton;

namespace vntr::gui {

class SelectCodecsDialog final : public QDialog {
    Q_OBJECT
public:
    // One description per slot, in slot order, and whether it is selected.
    SelectCodecsDialog(std::vector<std::string> descriptions, const std::vector<bool> &selected,
                       QWidget *parent = nullptr);

    // The selection the lists show now.
    std::vector<bool> Result() const { return model_.Result(descriptions_.size()); }

private:
    // The lists' entries, then the highlight and the buttons.
    void Fill();
    void Mark();
    void Highlight(CodecSelection::List list, int row);
    void Move();

    std::vector<std::string> descriptions_;
    CodecSelection model_;
    QListWidget *unselected_;
    QListWidget *selected_;
    QPushButton *select_;
    QPushButton *deselect_;
};

} // namespace vntr::gui
