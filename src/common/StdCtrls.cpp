#include "common/StdCtrls.h"

namespace pt {

namespace {
TObject* ComboItems(const TPersistent& o) {
    return const_cast<TStringList*>(&static_cast<const TCustomComboBox&>(o).Items());
}
} // namespace

constinit const TPropInfo TCustomComboBox::PublishedProps[] = {
    TPropInfo{
        .Name = "Items", .Kind = tkClass, .PropClass = &TStrings::ClassInfo, .GetObj = ComboItems},
    Published<tkInteger, &TCustomComboBox::ItemIndex, &TCustomComboBox::SetItemIndex>("ItemIndex"),
};
constinit const TClassInfo TCustomComboBox::ClassInfo{"TCustomComboBox", &TComponent::ClassInfo,
                                                      TCustomComboBox::PublishedProps};

} // namespace pt
