// Parameter lists: ordered lists of named values whose memory layout host and module share.
// The classes add no data to the C layouts of <pipetask/pipetask.h>, so a pointer to a list
// the host created is used as a TnoxParamsList directly (TnoxParamsList::Of). The operations
// run the header's helpers (one code path for both sides) and turn their failures into
// ENoxListError; operations that must run in the list owner's code (Grow, Notify, Clear) go
// through the list's class descriptor.
//
// A list has no lock: one thread uses it at a time.
#pragma once

#include <pipetask/pipetask.h>

#include "script/runtime/fs_variant.h"

#include <stdexcept>
#include <string>
#include <string_view>

namespace pt {

// An assertion failure of a list operation (wrong magic, index out of range). It never
// reaches the host: the exports turn it into -3.
class ENoxListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TnoxParamsListItem : public PtParamsListItem {
public:
    std::string_view Name() const noexcept {
        return {PtParamsListItem::Name ? PtParamsListItem::Name : "",
                pt_str_bytes(PtParamsListItem::Name)};
    }
    std::string_view LowerName() const noexcept {
        return {PtParamsListItem::LowerName ? PtParamsListItem::LowerName : "",
                pt_str_bytes(PtParamsListItem::LowerName)};
    }
    const Variant& Value() const noexcept { return Variant::FromRaw(PtParamsListItem::Value); }
    Variant& Value() noexcept { return Variant::FromRaw(PtParamsListItem::Value); }
    bool IsNewRow() const noexcept { return pt_item_is_new_row(this) != 0; }

    static TnoxParamsListItem* Of(PtParamsListItem* p) noexcept {
        return static_cast<TnoxParamsListItem*>(p);
    }
    static const TnoxParamsListItem* Of(const PtParamsListItem* p) noexcept {
        return static_cast<const TnoxParamsListItem*>(p);
    }
};

class TnoxParamsList : public PtParamsList {
public:
    // A new empty list of the module's class, or of the module's rows class.
    static TnoxParamsList* Create();
    static TnoxParamsList* CreateRows();
    // The destructor: Magic := 0, Clear, release. Only for lists this side owns.
    static void Destroy(TnoxParamsList* list) noexcept;

    // A list pointer from the other side, after checking its magic (ENoxListError otherwise;
    // null stays null).
    static TnoxParamsList* Checked(PtParamsList* p);
    static const TnoxParamsList* Checked(const PtParamsList* p);
    static TnoxParamsList* Of(PtParamsList* p) noexcept { return static_cast<TnoxParamsList*>(p); }

    bool IsAlive() const noexcept { return Magic == PT_LIST_MAGIC; }
    int32_t GetCount() const noexcept { return Count; }
    bool Empty() const noexcept { return Count == 0; }
    std::string_view ListIdText() const noexcept {
        return {ListId ? ListId : "", pt_str_bytes(ListId)};
    }
    // Whether the class name is "TnoxRowsParamsList" (ignoring case): a multi-row list.
    bool IsRowsList() const noexcept { return pt_class_name_is(Class, "TnoxRowsParamsList") != 0; }
    std::string_view ClassName() const noexcept;

    TnoxParamsListItem* ItemAt(int32_t i) const noexcept {
        return TnoxParamsListItem::Of(pt_list_at(this, i));
    }
    TnoxParamsListItem* Last() const noexcept { return ItemAt(Count - 1); }
    void PutItem(int32_t i, PtParamsListItem* item);

    // toIndex -1: to the end of the list; -2: to the end of the row that starts at fromIndex.
    int32_t IndexOf(std::string_view name, int32_t fromIndex = 0, int32_t toIndex = -1) const;
    TnoxParamsListItem* FindItem(std::string_view name, int32_t fromIndex = 0,
                                 int32_t toIndex = -1) const;
    // A copy of the first matching value; Empty when there is none.
    Variant GetValue(std::string_view name, int32_t fromIndex = 0, int32_t toIndex = -1) const;

    TnoxParamsListItem* Add(std::string_view name, const Variant& value);
    TnoxParamsListItem* SetValue(std::string_view name, const Variant& value, bool addIfMissing);
    void Delete(int32_t i);
    void Clear();
    TnoxParamsListItem* AddItemCopy(const PtParamsListItem* item);
    bool AddList(const PtParamsList* list);
    TnoxParamsListItem* AddNewRow();
    bool AddRow(const PtParamsList* list);

    // Row split: copies the row that starts at `start` into `row` (cleared first) and answers
    // where the next row starts; an empty `row` means there are no more rows.
    int32_t CopyRow(int32_t start, TnoxParamsList& row) const;
    // Moves every item of `src` (a list of this side) to the end of this list; `src` is left
    // empty. No item is copied or freed.
    void TakeItemsFrom(TnoxParamsList& src);

private:
    void CheckMagic(const char* operation) const;
};

class TnoxRowsParamsList : public TnoxParamsList {
public:
    uint32_t Unused28 = 0;
};

// Owns a list of this side; destroys it at scope end.
struct TnoxParamsListDeleter {
    void operator()(TnoxParamsList* l) const noexcept { TnoxParamsList::Destroy(l); }
};

// The text of a boundary value as the host means it: wide and byte strings as UTF-8, integers
// in decimal, booleans "True"/"False", floats shortest round trip, Empty and Null "".
std::string BoundaryText(const PtValue& v);
// The integer of a boundary value: integer kinds, booleans, floats (truncated), decimal text.
// False when the value has no integer reading.
bool BoundaryInt(const PtValue& v, int64_t& out);
// The system's upper-case mapping (the inverse of the names' lower-case mapping).
std::string AnsiUpper(std::string_view utf8);
// A wide-string value from UTF-8 text (no allocation for the empty text).
Variant WideValue(std::string_view utf8);

} // namespace pt
