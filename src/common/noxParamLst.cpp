#include "common/noxParamLst.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace pt {

namespace {

// The module's list classes. Their operations are the header's defaults: the module and a C
// host grow, clear and free lists the same way (the shared allocator).
const PtListClass kListClass = {"\x0eTnoxParamsList",   pt_list_grow_default,
                                pt_list_notify_default, pt_list_clear_default,
                                pt_list_error_default,  pt_list_create_default};
const PtListClass kRowsListClass = {"\x12TnoxRowsParamsList", pt_list_grow_default,
                                    pt_list_notify_default,   pt_list_clear_default,
                                    pt_list_error_default,    pt_list_create_default};

[[noreturn]] void Fail(const std::string& message) {
    throw ENoxListError(message);
}

TnoxParamsListItem* Added(PtParamsListItem* it, std::string_view name) {
    // The helpers answer null for a blank name (documented) and when memory ran out.
    if (!it && !pt_name_blank(name.data(), static_cast<uint32_t>(name.size())))
        throw std::bad_alloc();
    return TnoxParamsListItem::Of(it);
}

uint32_t Len(std::string_view s) {
    if (s.size() > 0x7FFFFFFF) Fail("Name too long");
    return static_cast<uint32_t>(s.size());
}

} // namespace

TnoxParamsList* TnoxParamsList::Create() {
    PtParamsList* l = pt_list_new(&kListClass);
    if (!l) throw std::bad_alloc();
    return Of(l);
}

TnoxParamsList* TnoxParamsList::CreateRows() {
    PtParamsList* l = pt_list_new(&kRowsListClass);
    if (!l) throw std::bad_alloc();
    return Of(l);
}

void TnoxParamsList::Destroy(TnoxParamsList* list) noexcept {
    pt_list_free(list);
}

TnoxParamsList* TnoxParamsList::Checked(PtParamsList* p) {
    if (p && p->Magic != PT_LIST_MAGIC) Fail("Invalid parameter list");
    return Of(p);
}

const TnoxParamsList* TnoxParamsList::Checked(const PtParamsList* p) {
    if (p && p->Magic != PT_LIST_MAGIC) Fail("Invalid parameter list");
    return static_cast<const TnoxParamsList*>(p);
}

void TnoxParamsList::CheckMagic(const char* operation) const {
    if (Magic != PT_LIST_MAGIC) Fail(std::string(operation) + ": invalid parameter list");
}

std::string_view TnoxParamsList::ClassName() const noexcept {
    if (!Class || !Class->ClassName) return {};
    auto* s = reinterpret_cast<const unsigned char*>(Class->ClassName);
    return {Class->ClassName + 1, s[0]};
}

void TnoxParamsList::PutItem(int32_t i, PtParamsListItem* item) {
    CheckMagic("PutItem");
    if (i < 0 || i >= Count) Fail("List index out of bounds (" + std::to_string(i) + ")");
    pt_list_put(this, i, item);
}

int32_t TnoxParamsList::IndexOf(std::string_view name, int32_t fromIndex, int32_t toIndex) const {
    CheckMagic("IndexOf");
    return pt_list_index_of(this, name.data(), Len(name), fromIndex, toIndex);
}

TnoxParamsListItem* TnoxParamsList::FindItem(std::string_view name, int32_t fromIndex,
                                             int32_t toIndex) const {
    if (Count == 0) return nullptr;
    int32_t i = IndexOf(name, fromIndex, toIndex);
    return i >= 0 ? ItemAt(i) : nullptr;
}

Variant TnoxParamsList::GetValue(std::string_view name, int32_t fromIndex, int32_t toIndex) const {
    if (Count == 0) return Variant();
    const TnoxParamsListItem* it = FindItem(name, fromIndex, toIndex);
    return it ? it->Value() : Variant();
}

TnoxParamsListItem* TnoxParamsList::Add(std::string_view name, const Variant& value) {
    CheckMagic("Add");
    return Added(pt_list_add(this, name.data(), Len(name), &value.Raw()), name);
}

TnoxParamsListItem* TnoxParamsList::SetValue(std::string_view name, const Variant& value,
                                             bool addIfMissing) {
    CheckMagic("SetValue");
    PtParamsListItem* it =
        pt_list_set_value(this, name.data(), Len(name), &value.Raw(), addIfMissing);
    if (!it && (addIfMissing || IndexOf(name) >= 0)) return Added(it, name);
    return TnoxParamsListItem::Of(it);
}

void TnoxParamsList::Delete(int32_t i) {
    CheckMagic("Delete");
    if (i < 0) Fail("List index out of bounds (" + std::to_string(i) + ")");
    pt_list_delete(this, i);
}

void TnoxParamsList::Clear() {
    CheckMagic("Clear");
    Class->Clear(this);
}

TnoxParamsListItem* TnoxParamsList::AddItemCopy(const PtParamsListItem* item) {
    if (!item) return nullptr;
    CheckMagic("AddItemCopy");
    std::string_view name{item->Name ? item->Name : "", pt_str_bytes(item->Name)};
    return Added(pt_list_add_item_copy(this, item), name);
}

bool TnoxParamsList::AddList(const PtParamsList* list) {
    if (!list) return false;
    CheckMagic("AddList");
    if (list->Magic != PT_LIST_MAGIC) Fail("AddList: invalid source list");
    if (list->Count == 0) return false;
    const int32_t n = list->Count; // the source may be this list
    for (int32_t i = 0; i < n; ++i) AddItemCopy(list->Items[i]);
    return true;
}

TnoxParamsListItem* TnoxParamsList::AddNewRow() {
    CheckMagic("AddNewRow");
    return Added(pt_list_add_new_row(this), PT_NEW_ROW);
}

bool TnoxParamsList::AddRow(const PtParamsList* list) {
    const PtParamsListItem* last = list && list->Magic == PT_LIST_MAGIC && list->Count > 0
                                       ? list->Items[list->Count - 1]
                                       : nullptr;
    const bool ended = last && pt_item_is_new_row(last);
    if (!AddList(list)) return false;
    if (!ended) AddNewRow();
    return true;
}

int32_t TnoxParamsList::CopyRow(int32_t start, TnoxParamsList& row) const {
    CheckMagic("CopyRow");
    row.Clear();
    int32_t i = start < 0 ? 0 : start;
    for (; i < Count; ++i) {
        const PtParamsListItem* it = Items[i];
        if (it && pt_item_is_new_row(it)) return i + 1;
        row.AddItemCopy(it);
    }
    return i;
}

void TnoxParamsList::TakeItemsFrom(TnoxParamsList& src) {
    CheckMagic("TakeItemsFrom");
    src.CheckMagic("TakeItemsFrom");
    int32_t moved = 0;
    for (; moved < src.Count; ++moved) {
        PtParamsListItem* it = src.Items[moved];
        if (!pt_list_append(this, it)) break;
    }
    // Whatever could not be moved (no memory) stays in src, in order.
    std::memmove(src.Items, src.Items + moved,
                 static_cast<size_t>(src.Count - moved) * sizeof *src.Items);
    src.Count -= moved;
    if (src.Count) throw std::bad_alloc();
}

std::string AnsiUpper(std::string_view utf8) {
    std::string out(utf8);
    for (size_t i = 0; i < out.size(); ++i) {
        auto c = static_cast<unsigned char>(out[i]);
        if (c >= 'a' && c <= 'z') {
            out[i] = static_cast<char>(c - 32);
        } else if (c >= 0xC2 && c <= 0xDF && i + 1 < out.size() &&
                   (static_cast<unsigned char>(out[i + 1]) & 0xC0) == 0x80) {
            uint32_t cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(out[i + 1]) & 0x3Fu),
                     up = cp;
            if ((cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) ||
                (cp >= 0x3B1 && cp <= 0x3CB && cp != 0x3C2) || (cp >= 0x430 && cp <= 0x44F))
                up = cp - 0x20;
            else if (cp >= 0x450 && cp <= 0x45F)
                up = cp - 0x50;
            else if (cp == 0xFF)
                up = 0x178;
            else if (((cp >= 0x100 && cp <= 0x137) || (cp >= 0x14A && cp <= 0x177)) && (cp & 1))
                up = cp - 1;
            else if (((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) && !(cp & 1))
                up = cp - 1;
            if (up != cp) {
                out[i] = static_cast<char>(0xC0 | (up >> 6));
                out[i + 1] = static_cast<char>(0x80 | (up & 0x3F));
            }
            ++i;
        }
    }
    return out;
}

// ---- boundary value readings ---------------------------------------------------------------

std::string BoundaryText(const PtValue& v) {
    switch (v.vt) {
    case PT_VAR_EMPTY:
    case PT_VAR_NULL:
        return {};
    case PT_VAR_STRING:
        return {v.u.str ? v.u.str : "", pt_str_bytes(v.u.str)};
    case PT_VAR_OLESTR: {
        uint32_t units = pt_wstr_units(v.u.wstr);
        std::string out(pt_utf16_to_utf8(v.u.wstr, units, nullptr, 0), '\0');
        pt_utf16_to_utf8(v.u.wstr, units, out.data(), static_cast<uint32_t>(out.size()));
        return out;
    }
    case PT_VAR_BOOLEAN:
        return v.u.boolean ? "True" : "False";
    case PT_VAR_SINGLE:
    case PT_VAR_DOUBLE:
    case PT_VAR_DATE: {
        char buf[64];
        double d = v.vt == PT_VAR_SINGLE ? static_cast<double>(v.u.f32) : v.u.f64;
        auto r = std::to_chars(buf, buf + sizeof buf, d);
        return {buf, r.ptr};
    }
    default: {
        int64_t i = 0;
        if (BoundaryInt(v, i)) return std::to_string(i);
        return {};
    }
    }
}

bool BoundaryInt(const PtValue& v, int64_t& out) {
    switch (v.vt) {
    case PT_VAR_SMALLINT:
        out = v.u.i16;
        return true;
    case PT_VAR_INTEGER:
        out = v.u.i32;
        return true;
    case PT_VAR_SHORTINT:
        out = v.u.i8;
        return true;
    case PT_VAR_BYTE:
        out = v.u.u8;
        return true;
    case PT_VAR_WORD:
        out = v.u.u16;
        return true;
    case PT_VAR_LONGWORD:
        out = v.u.u32;
        return true;
    case PT_VAR_INT64:
        out = v.u.i64;
        return true;
    case PT_VAR_BOOLEAN:
        out = v.u.boolean ? -1 : 0;
        return true;
    case PT_VAR_CURRENCY:
        out = v.u.i64 / 10000;
        return true;
    case PT_VAR_SINGLE:
    case PT_VAR_DOUBLE: {
        double d = v.vt == PT_VAR_SINGLE ? static_cast<double>(v.u.f32) : v.u.f64;
        if (!std::isfinite(d) || d < -9.2e18 || d > 9.2e18) return false;
        out = static_cast<int64_t>(d);
        return true;
    }
    case PT_VAR_STRING:
    case PT_VAR_OLESTR: {
        std::string s = BoundaryText(v);
        size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
        if (b == std::string::npos) return false;
        const char* first = s.data() + b;
        const char* last = s.data() + e + 1;
        if (*first == '+') ++first;
        auto r = std::from_chars(first, last, out);
        return r.ec == std::errc() && r.ptr == last;
    }
    default:
        return false;
    }
}

Variant WideValue(std::string_view utf8) {
    PtValue v{};
    if (!pt_value_set_text(&v, utf8.data(), static_cast<uint32_t>(utf8.size())))
        throw std::bad_alloc();
    return Variant::Adopt(v);
}

} // namespace pt
