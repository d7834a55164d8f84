// The settings store's handler for the selected index of a combo box, registered under
// "ItemIndex" when the module starts: an entry such as "comboType.*ItemIndex,Language" stores
// the selection of any TCustomComboBox, also of one that does not publish ItemIndex.
#pragma once

#include "settings/TWregistry.h"

namespace pt {

class TWregComboBoxProp : public TWregCustomProp {
public:
    // The selected index as an integer.
    bool ReadValue(TObject& obj, Variant& value) override;
    // The stored text as an integer (-2 for a text that is no number); unassigned and null
    // values, the empty text and -2 change nothing.
    bool WriteValue(TObject& obj, const Variant& value) override;
};

} // namespace pt
