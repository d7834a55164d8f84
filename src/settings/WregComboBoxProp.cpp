#include "settings/WregComboBoxProp.h"

#include <charconv>

#include "common/StdCtrls.h"

namespace pt {

namespace {

int64_t TextToIndex(std::string_view t) {
    while (!t.empty() && static_cast<unsigned char>(t.front()) <= ' ') t.remove_prefix(1);
    while (!t.empty() && static_cast<unsigned char>(t.back()) <= ' ') t.remove_suffix(1);
    int64_t x = 0;
    auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), x);
    if (t.empty() || ec != std::errc() || p != t.data() + t.size()) return -2;
    return x;
}

const bool registered = [] {
    RegisterCustomProp<TWregComboBoxProp>("ItemIndex");
    return true;
}();

} // namespace

bool TWregComboBoxProp::ReadValue(TObject& obj, Variant& value) {
    auto* combo = dynamic_cast<TCustomComboBox*>(&obj);
    if (!combo) return false;
    value = Variant(combo->ItemIndex());
    return true;
}

bool TWregComboBoxProp::WriteValue(TObject& obj, const Variant& value) {
    auto* combo = dynamic_cast<TCustomComboBox*>(&obj);
    if (!combo) return false;
    int64_t index = -2;
    switch (value.Kind()) {
    case varEmpty:
    case varNull:
        return true;
    case varString:
        index = value.StrView().empty() ? -2 : TextToIndex(value.StrView());
        break;
    case varInteger:
        index = value.Raw().u.i32;
        break;
    default:
        return true;
    }
    if (index == -2 || index < INT32_MIN || index > INT32_MAX) return true;
    combo->SetItemIndex(static_cast<int32_t>(index));
    return true;
}

} // namespace pt
