// The Select Codecs dialog's two lists of slot indices, both in slot order:
// the unselected codecs and the selected ones.  One entry of one list is
// highlighted; the button that moves entries out of that list is enabled and
// the other one disabled.  A moved codec lands at the place that keeps slot
// order in the other list and stays highlighted there.
#pragma once

#include <optional>
#include <vector>

namespace vntr::gui {

class CodecSelection {
public:
    enum class List { Unselected, Selected };
    struct Highlight {
        List list;
        int row;
    };

    // selected[i] tells whether slot i is selected.  When some codec is
    // unselected, the first unselected one is highlighted; otherwise the
    // first selected one.
    explicit CodecSelection(const std::vector<bool> &selected);

    const std::vector<int> &Entries(List list) const { return list == List::Unselected ? unselected_ : selected_; }
    std::optional<Highlight> Current() const { return highlight_; }

    // Highlights an entry (out-of-range rows are ignored).
    void HighlightEntry(List list, int row);
    // "&Select >>" moves from the unselected list, "&Deselect <<" from the
    // selected one; each is enabled while an entry of its list is highlighted.
    bool SelectEnabled() const;
    bool DeselectEnabled() const;
    // Moves the highlighted entry to the other list (a double click
    // highlights, then moves).
    void MoveHighlighted();

    // The selection for `slotCount` slots.
    std::vector<bool> Result(std::size_t slotCount) const;

private:
    std::vector<int> &EntriesOf(List list) { return list == List::Unselected ? unselected_ : selected_; }

    std::vector<int> unselected_;
    std::vector<int> selected_;
    std::optional<Highlight> highlight_;
};

} // namespace vntr::gui
