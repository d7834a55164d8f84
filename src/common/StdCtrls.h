// Toolkit-free models of standard controls that other layers address by type: the settings
// store's combo-box handler, the translator (combo boxes keep their selection while their
// items are translated) and the dialog's presenter.
#pragma once

#include "common/Classes.h"

namespace pt {

// A drop-down list: its items and the selected index (-1: none).
class TCustomComboBox : public TComponent {
    PT_PUBLISHED_CLASS;

public:
    explicit TCustomComboBox(TComponent* owner = nullptr) : TComponent(owner) {}

    TStringList& Items() noexcept { return items_; }
    const TStringList& Items() const noexcept { return items_; }
    int32_t ItemIndex() const noexcept { return itemIndex_ < items_.Count() ? itemIndex_ : -1; }
    // An index outside the items selects none.
    void SetItemIndex(int32_t index) noexcept {
        itemIndex_ = (index >= 0 && index < items_.Count()) ? index : -1;
    }
    // The selected item's text; empty when none is selected.
    std::string Text() const { return ItemIndex() >= 0 ? items_[ItemIndex()] : std::string(); }

private:
    TStringList items_;
    int32_t itemIndex_ = -1;
};

} // namespace pt
