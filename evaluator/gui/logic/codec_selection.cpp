#include "gui/logic/codec_selection.hpp"

#include <algorithm>

namespace vntr::gui {

CodecSelection::CodecSelection(const std::vector<bool> &selected) {
    for (std::size_t i = 0; i < selected.size(); ++i) {
        (selected[i] ? selected_ : unselected_).push_back(static_cast<int>(i));
    }
    if (!unselected_.empty()) {
        highlight_ = Highlight{List::Unselected, 0};
    } else if (!selected_.empty()) {
        highlight_ = Highlight{List::Selected, 0};
    }
}

void CodecSelection::HighlightEntry(List list, int row) {
    if (row < 0 || row >= static_cast<int>(Entries(list).size())) return;
    highlight_ = Highlight{list, row};
}

bool CodecSelection::SelectEnabled() const {
    return highlight_ && highlight_->list == List::Unselected;
}

bool CodecSelection::DeselectEnabled() const {
    return highlight_ && highlight_->list == List::Selected;
}

void CodecSelection::MoveHighlighted() {
    if (!highlight_) return;
    const List from = highlight_->list;
    const List to = from == List::Unselected ? List::Selected : List::Unselected;
    auto &source = EntriesOf(from);
    auto &target = EntriesOf(to);
    const int slot = source[static_cast<std::size_t>(highlight_->row)];
    source.erase(source.begin() + highlight_->row);
    const auto at = std::lower_bound(target.begin(), target.end(), slot);
    const int row = static_cast<int>(at - target.begin());
    target.insert(at, slot);
    highlight_ = Highlight{to, row};
}

std::vector<bool> CodecSelection::Result(std::size_t slotCount) const {
    std::vector<bool> result(slotCount, false);
    for (const int slot : selected_) {
        if (static_cast<std::size_t>(slot) < slotCount) result[static_cast<std::size_t>(slot)] = true;
    }
    return result;
}

} // namespace vntr::gui
