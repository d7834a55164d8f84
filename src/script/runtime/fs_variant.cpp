#include "script/runtime/fs_variant.h"

#include "platform/FormatSettings.h"
#include "script/runtime/fs_datetime.h"
#include "script/runtime/fs_errors.h"

#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace pt {

// ---- errors ----------------------------------------------------------------------------------

void RaiseCastError(uint16_t fromKind, uint16_t toKind) {
    RaiseError(kEVariantTypeCastError, "Could not convert variant of type (" + KindName(fromKind) +
                                           ") into type (" + KindName(toKind) + ")");
}

void RaiseOverflowError(uint16_t fromKind, uint16_t toKind) {
    RaiseError(kEVariantOverflowError, "Overflow while converting variant of type (" +
                                           KindName(fromKind) + ") into type (" + KindName(toKind) +
                                           ")");
}

void RaiseInvalidOp() {
    RaiseError(kEVariantInvalidOpError, "Invalid variant operation");
}

void RaiseBadIndex() {
    RaiseError(kEVariantBadIndexError, "Variant or safe array index out of bounds");
}

std::string KindName(uint16_t kind) {
    static const char* const names[] = {
        "Empty",   "Null",   "Smallint", "Integer", "Single",  "Double",   "Currency",
        "Date",    "OleStr", "Dispatch", "Error",   "Boolean", "Variant",  "Unknown",
        "Decimal", "$0F",    "ShortInt", "Byte",    "Word",    "LongWord", "Int64"};
    const uint16_t base = kind & varTypeMask;
    std::string name;
    if (base <= varInt64)
        name = names[base];
    else if (base == varString)
        name = "String";
    else if (base == varAny)
        name = "Any";
    else {
        static const char hex[] = "0123456789ABCDEF";
        name = "$";
        for (int shift = 12; shift >= 0; shift -= 4) name += hex[(base >> shift) & 0xF];
    }
    if (kind & varArray) name = "Array " + name;
    if (kind & varByRef) name = "ByRef " + name;
    return name;
}

// ---- text helpers ------------------------------------------------------------------------------

bool RoundToInt64(double x, int64_t& out) noexcept {
    // nearbyint follows the rounding mode, which is round-to-nearest-even unless changed.
    const double r = std::nearbyint(x);
    if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0)) return false;
    out = static_cast<int64_t>(r);
    return true;
}

std::string FloatToText(double value, const TFormatSettings& fs) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == 0) return "0";
    // 15 significant digits, rounded once: "d.dddddddddddddde[+-]x".
    char buf[40];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
    std::string_view sci(buf, res.ptr - buf);
    const bool negative = sci[0] == '-';
    if (negative) sci.remove_prefix(1);
    const size_t ePos = sci.find('e');
    int exponent = 0;
    std::from_chars(sci.data() + ePos + (sci[ePos + 1] == '+' ? 2 : 1), sci.data() + sci.size(),
                    exponent);
    std::string digits;
    digits += sci[0];
    digits.append(sci.substr(2, ePos - 2));
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string out = negative ? "-" : "";
    if (exponent >= 15 || exponent < -5) {
        out += digits[0];
        if (digits.size() > 1) {
            out += fs.DecimalSeparator;
            out.append(digits, 1);
        }
        out += 'E';
        out += std::to_string(exponent);
    } else if (exponent < 0) {
        out += '0';
        out += fs.DecimalSeparator;
        out.append(static_cast<size_t>(-exponent - 1), '0');
        out += digits;
    } else {
        const size_t intDigits = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= intDigits) {
            out += digits;
            out.append(intDigits - digits.size(), '0');
        } else {
            out.append(digits, 0, intDigits);
            out += fs.DecimalSeparator;
            out.append(digits, intDigits);
        }
    }
    return out;
}

std::string CurrToText(int64_t scaled, const TFormatSettings& fs) {
    const bool negative = scaled < 0;
    const uint64_t mag =
        negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
    std::string out = negative ? "-" : "";
    out += std::to_string(mag / 10000);
    unsigned frac = static_cast<unsigned>(mag % 10000);
    if (frac) {
        char f[5] = {static_cast<char>('0' + frac / 1000), static_cast<char>('0' + frac / 100 % 10),
                     static_cast<char>('0' + frac / 10 % 10), static_cast<char>('0' + frac % 10),
                     0};
        int len = 4;
        while (f[len - 1] == '0') --len;
        out += fs.DecimalSeparator;
        out.append(f, len);
    }
    return out;
}

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

bool TryTextToFloat(std::string_view text, double& value, const TFormatSettings& fs,
                    bool thousands) {
    std::string_view s = TrimBlanks(text);
    std::string norm; // C form for from_chars
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        if (s[i] == '-') norm += '-';
        ++i;
    }
    size_t mantissaDigits = 0, groupDigits = 0;
    bool grouped = false;
    const char thousandSep = fs.ThousandSeparator;
    for (; i < s.size(); ++i) {
        if (IsDigit(s[i])) {
            norm += s[i];
            ++mantissaDigits, ++groupDigits;
        } else if (thousands && thousandSep && s[i] == thousandSep && s[i] != fs.DecimalSeparator) {
            // Groups: 1-3 digits before the first separator, exactly 3 after each.
            if (groupDigits == 0 || groupDigits > 3 || (grouped && groupDigits != 3)) return false;
            grouped = true;
            groupDigits = 0;
        } else {
            break;
        }
    }
    if (grouped && groupDigits != 3) return false;
    if (i < s.size() && s[i] == fs.DecimalSeparator) {
        norm += '.';
        for (++i; i < s.size() && IsDigit(s[i]); ++i) {
            norm += s[i];
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        norm += 'e';
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) norm += s[i++];
        size_t expDigits = 0;
        for (; i < s.size() && IsDigit(s[i]); ++i, ++expDigits) norm += s[i];
        if (expDigits == 0) return false;
    }
    if (i != s.size()) return false;
    double v = 0;
    auto res = std::from_chars(norm.data(), norm.data() + norm.size(), v);
    if (res.ec != std::errc() || res.ptr != norm.data() + norm.size() || std::isinf(v))
        return false;
    value = v;
    return true;
}

bool TryTextToInt64(std::string_view text, int64_t& value, bool trailingBlanks) {
    std::string_view s = text;
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    if (trailingBlanks)
        while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    uint64_t mag = 0;
    if (i < s.size() &&
        (s[i] == '$' || s[i] == 'x' || s[i] == 'X' ||
         (s[i] == '0' && i + 1 < s.size() && (s[i + 1] == 'x' || s[i + 1] == 'X')))) {
        i += s[i] == '0' ? 2 : 1;
        size_t start = i;
        for (; i < s.size(); ++i) {
            int h = HexValue(s[i]);
            if (h < 0 || i - start >= 16) return false;
            mag = mag << 4 | static_cast<uint64_t>(h);
        }
        if (i == start) return false;
        value = static_cast<int64_t>(negative ? 0 - mag : mag);
        return true;
    }
    size_t start = i;
    for (; i < s.size(); ++i) {
        if (!IsDigit(s[i])) return false;
        if (mag > (uint64_t{1} << 63) / 10) return false;
        mag = mag * 10 + static_cast<uint64_t>(s[i] - '0');
        if (mag > (uint64_t{1} << 63)) return false;
    }
    if (i == start) return false;
    if (!negative && mag > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
    value = negative ? static_cast<int64_t>(0 - mag) : static_cast<int64_t>(mag);
    return true;
}

std::u16string Utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        unsigned c = p[i];
        if (c < 0x80) {
            out += static_cast<char16_t>(c);
            ++i;
            continue;
        }
        unsigned need, cp, min;
        if (c >= 0xC2 && c <= 0xDF)
            need = 1, cp = c & 0x1F, min = 0x80;
        else if (c >= 0xE0 && c <= 0xEF)
            need = 2, cp = c & 0x0F, min = 0x800;
        else if (c >= 0xF0 && c <= 0xF4)
            need = 3, cp = c & 0x07, min = 0x10000;
        else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        size_t j = 1;
        for (; j <= need && i + j < n && (p[i + j] & 0xC0) == 0x80; ++j)
            cp = cp << 6 | (p[i + j] & 0x3F);
        if (j <= need || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out += u'\uFFFD';
            i += j > 1 ? j : 1;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += need + 1;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | cp >> 18);
            out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

// ---- construction ------------------------------------------------------------------------------

Variant::Variant(std::string_view bytes) : v_{} {
    v_.vt = varString;
    if (!bytes.empty()) {
        if (bytes.size() > 0x7FFFFFF0u) throw std::bad_alloc();
        v_.u.str = pt_str_new(bytes.data(), static_cast<uint32_t>(bytes.size()));
        if (!v_.u.str) throw std::bad_alloc();
    }
}

Variant Variant::Null() noexcept {
    Variant v;
    v.v_.vt = varNull;
    return v;
}

Variant Variant::Wide(std::u16string_view units) {
    Variant v;
    v.v_.vt = varOleStr;
    if (!units.empty()) {
        if (units.size() > 0x3FFFFFF0u) throw std::bad_alloc();
        v.v_.u.wstr = pt_wstr_new(reinterpret_cast<const uint16_t*>(units.data()),
                                  static_cast<uint32_t>(units.size()));
        if (!v.v_.u.wstr) throw std::bad_alloc();
    }
    return v;
}

Variant Variant::Currency(int64_t scaledBy10000) noexcept {
    Variant v;
    v.v_.vt = varCurrency;
    v.v_.u.i64 = scaledBy10000;
    return v;
}

Variant Variant::Date(double days) noexcept {
    Variant v;
    v.v_.vt = varDate;
    v.v_.u.f64 = days;
    return v;
}

Variant Variant::Single(float x) noexcept {
    Variant v;
    v.v_.vt = varSingle;
    v.v_.u.f32 = x;
    return v;
}

Variant Variant::Smallint(int16_t x) noexcept {
    Variant v;
    v.v_.vt = varSmallint;
    v.v_.u.i16 = x;
    return v;
}

Variant Variant::ShortInt(int8_t x) noexcept {
    Variant v;
    v.v_.vt = varShortInt;
    v.v_.u.i8 = x;
    return v;
}

Variant Variant::Byte(uint8_t x) noexcept {
    Variant v;
    v.v_.vt = varByte;
    v.v_.u.u8 = x;
    return v;
}

Variant Variant::Word(uint16_t x) noexcept {
    Variant v;
    v.v_.vt = varWord;
    v.v_.u.u16 = x;
    return v;
}

Variant Variant::LongWord(uint32_t x) noexcept {
    Variant v;
    v.v_.vt = varLongWord;
    v.v_.u.u32 = x;
    return v;
}

namespace {

[[noreturn]] void RaiseArrayCreate() {
    RaiseError(kEVariantInvalidArgError, "Error creating variant or safe array");
}

bool ValidElementKind(uint16_t k) {
    return (k >= varSmallint && k <= varOleStr) || k == varBoolean || k == varVariant ||
           (k >= varShortInt && k <= varInt64) || k == varString;
}

PtArray* NewArray(uint16_t elemKind, uint16_t dims, const PtArrayBound* bounds) {
    uint64_t count = 1;
    for (int d = 0; d < dims; ++d) count *= static_cast<uint64_t>(bounds[d].count);
    if (count > 0x7FFFFFF) RaiseArrayCreate();
    PtArray* a = pt_array_new(elemKind, dims, bounds);
    if (!a) throw std::bad_alloc();
    return a;
}

} // namespace

Variant Variant::Array(std::initializer_list<Variant> items) {
    return Array(std::vector<Variant>(items));
}

Variant Variant::Array(const std::vector<Variant>& items) {
    if (items.size() > 0x7FFFFFF) RaiseArrayCreate();
    PtArrayBound b{0, static_cast<int32_t>(items.size())};
    PtArray* a = NewArray(varVariant, 1, &b);
    for (size_t i = 0; i < items.size(); ++i) pt_value_copy(&a->items[i], &items[i].v_);
    Variant v;
    v.v_.vt = varArray | varVariant;
    v.v_.u.arr = a;
    return v;
}

Variant Variant::CreateArray(uint16_t elemKind,
                             const std::vector<std::pair<int32_t, int32_t>>& bounds) {
    if (bounds.empty() || bounds.size() > 3 || !ValidElementKind(elemKind)) RaiseArrayCreate();
    PtArrayBound b[3]{};
    for (size_t d = 0; d < bounds.size(); ++d) {
        int64_t count = static_cast<int64_t>(bounds[d].second) - bounds[d].first + 1;
        if (count < 0 || count > 0x7FFFFFF) RaiseArrayCreate();
        b[d] = {bounds[d].first, static_cast<int32_t>(count)};
    }
    PtArray* a = NewArray(elemKind, static_cast<uint16_t>(bounds.size()), b);
    // Typed elements start as the zero of their kind; variant elements start Empty.
    if (elemKind != varVariant)
        for (uint32_t i = 0; i < a->count; ++i) a->items[i].vt = elemKind;
    Variant v;
    v.v_.vt = varArray | elemKind;
    v.v_.u.arr = a;
    return v;
}

// ---- arrays ------------------------------------------------------------------------------------

int Variant::ArrayDims() const noexcept {
    return (IsArray() && !(v_.vt & varByRef) && v_.u.arr) ? v_.u.arr->dims : 0;
}

int32_t Variant::ArrayCount() const noexcept {
    return ArrayDims() ? v_.u.arr->bounds[0].count : 0;
}

int32_t Variant::ArrayLow(int dim) const {
    if (dim < 1 || dim > ArrayDims()) RaiseBadIndex();
    return v_.u.arr->bounds[dim - 1].lowBound;
}

int32_t Variant::ArrayHigh(int dim) const {
    if (dim < 1 || dim > ArrayDims()) RaiseBadIndex();
    const PtArrayBound& b = v_.u.arr->bounds[dim - 1];
    return static_cast<int32_t>(static_cast<int64_t>(b.lowBound) + b.count - 1);
}

namespace {

uint32_t ElementOffset(const PtArray* a, const int32_t* index, int nIndex) {
    if (nIndex != a->dims) RaiseBadIndex();
    uint64_t offset = 0;
    for (int d = 0; d < nIndex; ++d) {
        const int64_t rel = static_cast<int64_t>(index[d]) - a->bounds[d].lowBound;
        if (rel < 0 || rel >= a->bounds[d].count) RaiseBadIndex();
        offset = offset * static_cast<uint64_t>(a->bounds[d].count) + static_cast<uint64_t>(rel);
    }
    return static_cast<uint32_t>(offset);
}

} // namespace

const Variant& Variant::ArrayAt(const int32_t* index, int nIndex) const {
    if (!ArrayDims()) RaiseInvalidOp();
    return FromRaw(v_.u.arr->items[ElementOffset(v_.u.arr, index, nIndex)]);
}

Variant& Variant::ArrayAtMut(const int32_t* index, int nIndex) {
    if (!ArrayDims()) RaiseInvalidOp();
    const uint32_t offset = ElementOffset(v_.u.arr, index, nIndex);
    PtArray* a = v_.u.arr;
    if (__atomic_load_n(&a->refcount, __ATOMIC_ACQUIRE) > 1) {
        PtArray* copy = pt_array_new(a->elemType, a->dims, a->bounds);
        if (!copy) throw std::bad_alloc();
        for (uint32_t i = 0; i < a->count; ++i) {
            copy->items[i] = a->items[i];
            AddRef(copy->items[i]);
        }
        pt_array_release(a);
        v_.u.arr = a = copy;
    }
    return FromRaw(a->items[offset]);
}

// ---- conversions -------------------------------------------------------------------------------

namespace {

// A by-reference value read as the value it refers to: a shallow record that shares the
// referenced payload (the caller neither owns nor releases it).
PtValue Deref(const PtValue& v) {
    PtValue r = v;
    for (int depth = 0; (r.vt & varByRef) && depth < 8; ++depth) {
        const uint16_t kind = r.vt & ~varByRef;
        const void* p = r.u.ptr;
        if (!p) RaiseCastError(r.vt, kind);
        PtValue out{};
        if (kind == varVariant) {
            out = *static_cast<const PtValue*>(p);
        } else if (kind & varArray) {
            out.vt = kind;
            out.u.arr = *static_cast<PtArray* const*>(p);
        } else {
            out.vt = kind;
            switch (kind) {
            case varSmallint:
            case varBoolean:
            case varWord:
                std::memcpy(&out.u, p, 2);
                break;
            case varShortInt:
            case varByte:
                std::memcpy(&out.u, p, 1);
                break;
            case varInteger:
            case varSingle:
            case varLongWord:
            case varError:
                std::memcpy(&out.u, p, 4);
                break;
            case varDouble:
            case varCurrency:
            case varDate:
            case varInt64:
                std::memcpy(&out.u, p, 8);
                break;
            case varString:
            case varOleStr:
            case varDispatch:
            case varUnknown:
                std::memcpy(&out.u, p, sizeof(void*));
                break;
            default:
                RaiseCastError(r.vt, kind);
            }
        }
        r = out;
    }
    if (r.vt & varByRef) RaiseInvalidOp();
    return r;
}

} // namespace

Variant VarDeref(const Variant& v) {
    if (!(v.Kind() & varByRef)) return v;
    Variant r;
    const PtValue shallow = Deref(v.Raw());
    pt_value_copy(&r.Raw(), &shallow);
    return r;
}

namespace {

std::string_view StrOf(const PtValue& v) {
    return {v.u.str ? v.u.str : "", pt_str_bytes(v.u.str)};
}

std::u16string_view WideOf(const PtValue& v) {
    return {v.u.wstr ? reinterpret_cast<const char16_t*>(v.u.wstr) : u"", pt_wstr_units(v.u.wstr)};
}

// Text of a string value (byte strings are viewed, wide strings converted into `store`).
std::string_view TextOf(const PtValue& v, std::string& store) {
    if (v.vt == varString) return StrOf(v);
    store = Utf16ToUtf8(WideOf(v));
    return store;
}

bool TextToBool(std::string_view text, bool& out) {
    std::string_view t = TrimBlanks(text);
    auto eq = [&](std::string_view w) {
        if (t.size() != w.size()) return false;
        for (size_t i = 0; i < t.size(); ++i)
            if ((t[i] | 0x20) != w[i]) return false;
        return true;
    };
    if (eq("true")) return out = true, true;
    if (eq("false")) return out = false, true;
    int64_t i;
    if (TryTextToInt64(t, i, true)) return out = i != 0, true;
    double d;
    if (TryTextToFloat(t, d, FormatSettings(), true)) return out = d != 0, true;
    return false;
}

// Text to a 64-bit integer for the integer conversions: integer text exactly, then a number
// (rounded), then "True"/"False" (1/0). `toKind` names the target in errors.
int64_t TextToInt64(uint16_t fromKind, std::string_view text, uint16_t toKind) {
    int64_t i;
    if (TryTextToInt64(text, i, true)) return i;
    double d;
    if (TryTextToFloat(text, d, FormatSettings(), true)) {
        if (!RoundToInt64(d, i)) RaiseOverflowError(fromKind, toKind);
        return i;
    }
    bool b;
    std::string_view t = TrimBlanks(text);
    if ((t.size() == 4 || t.size() == 5) && TextToBool(t, b)) return b ? 1 : 0;
    RaiseCastError(fromKind, varBoolean);
}

int64_t CurrencyToInt64(int64_t c) {
    int64_t q = c / 10000, r = c % 10000;
    if (r > 5000 || (r == 5000 && (q & 1)))
        ++q;
    else if (r < -5000 || (r == -5000 && (q & 1)))
        --q;
    return q;
}

// The 64-bit integer form of any scalar; `toKind` is the kind named in errors.
int64_t ToInt64Of(const PtValue& raw, uint16_t toKind) {
    const PtValue v = Deref(raw);
    switch (v.vt) {
    case varEmpty:
        return 0;
    case varSmallint:
        return v.u.i16;
    case varInteger:
        return v.u.i32;
    case varShortInt:
        return v.u.i8;
    case varByte:
        return v.u.u8;
    case varWord:
        return v.u.u16;
    case varLongWord:
        return v.u.u32;
    case varInt64:
        return v.u.i64;
    case varBoolean:
        return v.u.boolean ? -1 : 0;
    case varCurrency:
        return CurrencyToInt64(v.u.i64);
    case varSingle:
    case varDouble:
    case varDate: {
        const double d = v.vt == varSingle ? v.u.f32 : v.u.f64;
        if (std::isnan(d)) RaiseCastError(v.vt, toKind);
        int64_t r;
        if (!RoundToInt64(d, r)) RaiseOverflowError(v.vt, toKind);
        return r;
    }
    case varString:
    case varOleStr: {
        std::string store;
        return TextToInt64(v.vt, TextOf(v, store), toKind);
    }
    default:
        RaiseCastError(v.vt, toKind);
    }
}

int64_t CheckedRange(const PtValue& raw, uint16_t toKind, int64_t lo, int64_t hi) {
    const int64_t i = ToInt64Of(raw, toKind);
    if (i < lo || i > hi) RaiseOverflowError(Deref(raw).vt, toKind);
    return i;
}

double ToDoubleOf(const PtValue& raw, uint16_t toKind) {
    const PtValue v = Deref(raw);
    switch (v.vt) {
    case varEmpty:
        return 0;
    case varSmallint:
        return v.u.i16;
    case varInteger:
        return v.u.i32;
    case varShortInt:
        return v.u.i8;
    case varByte:
        return v.u.u8;
    case varWord:
        return v.u.u16;
    case varLongWord:
        return v.u.u32;
    case varInt64:
        return static_cast<double>(v.u.i64);
    case varBoolean:
        return v.u.boolean ? -1.0 : 0.0;
    case varCurrency:
        return static_cast<double>(v.u.i64) / 10000.0;
    case varSingle:
        return v.u.f32;
    case varDouble:
    case varDate:
        return v.u.f64;
    case varString:
    case varOleStr: {
        std::string store;
        double d;
        if (!TryTextToFloat(TextOf(v, store), d, FormatSettings(), true))
            RaiseCastError(v.vt, toKind);
        return d;
    }
    default:
        RaiseCastError(v.vt, toKind);
    }
}

int64_t DoubleToCurrency(double d, uint16_t fromKind) {
    if (std::isnan(d)) RaiseCastError(fromKind, varCurrency);
    int64_t r;
    if (!RoundToInt64(d * 10000.0, r)) RaiseOverflowError(fromKind, varCurrency);
    return r;
}

int64_t ToCurrencyOf(const PtValue& raw) {
    const PtValue v = Deref(raw);
    switch (v.vt) {
    case varCurrency:
        return v.u.i64;
    case varEmpty:
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
    case varBoolean: {
        const int64_t i = ToInt64Of(v, varCurrency);
        int64_t r;
        if (__builtin_mul_overflow(i, int64_t{10000}, &r)) RaiseOverflowError(v.vt, varCurrency);
        return r;
    }
    default:
        return DoubleToCurrency(ToDoubleOf(v, varCurrency), v.vt);
    }
}

double ToDateOf(const PtValue& raw) {
    const PtValue v = Deref(raw);
    if (v.vt == varString || v.vt == varOleStr) {
        std::string store;
        std::string_view text = TextOf(v, store);
        const TFormatSettings& fs = FormatSettings();
        double d;
        if (TryStrToDateTime(text, d, fs) || TryStrToDateTimeISO(text, d) ||
            TryTextToFloat(text, d, fs, true))
            return d;
        RaiseCastError(v.vt, varDate);
    }
    return ToDoubleOf(v, varDate);
}

bool ToBoolOf(const PtValue& raw) {
    const PtValue v = Deref(raw);
    switch (v.vt) {
    case varEmpty:
        return false;
    case varBoolean:
        return v.u.boolean != 0;
    case varSingle:
        return v.u.f32 != 0;
    case varDouble:
    case varDate:
        return v.u.f64 != 0;
    case varCurrency:
    case varInt64:
        return v.u.i64 != 0;
    case varString:
    case varOleStr: {
        std::string store;
        bool b;
        if (!TextToBool(TextOf(v, store), b)) RaiseCastError(v.vt, varBoolean);
        return b;
    }
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
        return ToInt64Of(v, varBoolean) != 0;
    default:
        RaiseCastError(v.vt, varBoolean);
    }
}

std::string ToStrOf(const PtValue& raw, bool loose, uint16_t toKind) {
    const PtValue v = Deref(raw);
    switch (v.vt) {
    case varEmpty:
        return {};
    case varNull:
        if (loose) return {};
        RaiseCastError(v.vt, toKind);
    case varString:
        return std::string(StrOf(v));
    case varOleStr:
        return Utf16ToUtf8(WideOf(v));
    case varBoolean:
        return v.u.boolean ? "True" : "False";
    case varSingle:
        return FloatToText(v.u.f32, FormatSettings());
    case varDouble:
        return FloatToText(v.u.f64, FormatSettings());
    case varCurrency:
        return CurrToText(v.u.i64, FormatSettings());
    case varDate: {
        TDateTimeParts p;
        if (!TryDecodeDateTime(v.u.f64, p)) RaiseCastError(v.vt, toKind);
        return VarDateToStr(v.u.f64, FormatSettings());
    }
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64: {
        char buf[24];
        auto res = std::to_chars(buf, buf + sizeof buf, ToInt64Of(v, toKind));
        return std::string(buf, res.ptr);
    }
    default:
        RaiseCastError(v.vt, toKind);
    }
}

} // namespace

int32_t Variant::ToInt() const {
    if (v_.vt == varInteger) return v_.u.i32;
    return static_cast<int32_t>(CheckedRange(v_, varInteger, INT32_MIN, INT32_MAX));
}

int64_t Variant::ToInt64() const {
    if (v_.vt == varInt64) return v_.u.i64;
    return ToInt64Of(v_, varInt64);
}

double Variant::ToDouble() const {
    if (v_.vt == varDouble) return v_.u.f64;
    return ToDoubleOf(v_, varDouble);
}

int64_t Variant::ToCurrency() const {
    return ToCurrencyOf(v_);
}

double Variant::ToDate() const {
    return ToDateOf(v_);
}

bool Variant::ToBool() const {
    return ToBoolOf(v_);
}

std::string Variant::ToStr() const {
    return ToStrOf(v_, false, varString);
}

std::string Variant::ToStrLoose() const {
    return ToStrOf(v_, true, varString);
}

std::u16string Variant::ToWide() const {
    const PtValue v = Deref(v_);
    if (v.vt == varOleStr) return std::u16string(WideOf(v));
    return Utf8ToUtf16(ToStrOf(v, false, varOleStr));
}

std::u16string Variant::ToWideLoose() const {
    const PtValue v = Deref(v_);
    if (v.vt == varOleStr) return std::u16string(WideOf(v));
    return Utf8ToUtf16(ToStrOf(v, true, varOleStr));
}

Variant Variant::ToKind(uint16_t kind) const {
    const PtValue v = Deref(v_);
    Variant r;
    switch (kind) {
    case varEmpty:
        return r;
    case varNull:
        return Null();
    case varSmallint:
        return Smallint(static_cast<int16_t>(CheckedRange(v, kind, INT16_MIN, INT16_MAX)));
    case varInteger:
        return Variant(static_cast<int32_t>(CheckedRange(v, kind, INT32_MIN, INT32_MAX)));
    case varShortInt:
        return ShortInt(static_cast<int8_t>(CheckedRange(v, kind, INT8_MIN, INT8_MAX)));
    case varByte:
        return Byte(static_cast<uint8_t>(CheckedRange(v, kind, 0, UINT8_MAX)));
    case varWord:
        return Word(static_cast<uint16_t>(CheckedRange(v, kind, 0, UINT16_MAX)));
    case varLongWord:
        return LongWord(static_cast<uint32_t>(CheckedRange(v, kind, 0, UINT32_MAX)));
    case varInt64:
        return Variant(ToInt64Of(v, kind));
    case varSingle: {
        const double d = ToDoubleOf(v, kind);
        if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max())
            RaiseOverflowError(v.vt, kind);
        return Single(static_cast<float>(d));
    }
    case varDouble:
        return Variant(ToDoubleOf(v, kind));
    case varCurrency:
        return Currency(ToCurrencyOf(v));
    case varDate:
        return Date(ToDateOf(v));
    case varBoolean:
        return Variant(ToBoolOf(v));
    case varString:
        if (v.vt == varString) {
            pt_value_copy(&r.v_, &v);
            return r;
        }
        return Variant(ToStrOf(v, false, kind));
    case varOleStr:
        if (v.vt == varOleStr) {
            pt_value_copy(&r.v_, &v);
            return r;
        }
        return Wide(Utf8ToUtf16(ToStrOf(v, false, kind)));
    default:
        if (v.vt == kind || kind == varVariant) {
            pt_value_copy(&r.v_, &v);
            return r;
        }
        RaiseCastError(v.vt, kind);
    }
}

// ---- static types
// --------------------------------------------------------------------------------

std::string TypeNameText(TfsVarType type, std::string_view typeName) {
    switch (type) {
    case fvtInt:
        return "Integer";
    case fvtBool:
        return "Boolean";
    case fvtFloat:
        return "Extended";
    case fvtChar:
        return "Char";
    case fvtString:
        return "String";
    case fvtClass:
    case fvtEnum:
        return std::string(typeName);
    case fvtArray:
        return "Array";
    case fvtVariant:
    case fvtConstructor:
        return "Variant";
    case fvtInt64:
        return "Int64";
    }
    return "Variant";
}

namespace {

bool SameTextAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

} // namespace

bool AcceptsType(TfsVarType target, std::string_view targetName, TfsVarType source,
                 std::string_view sourceName, const TfsClassAncestry* classes) {
    switch (target) {
    case fvtInt:
        return source == fvtInt || source == fvtFloat || source == fvtVariant ||
               source == fvtEnum || source == fvtInt64;
    case fvtBool:
        return source == fvtBool || source == fvtVariant;
    case fvtFloat:
        return source == fvtInt || source == fvtFloat || source == fvtVariant;
    case fvtChar:
    case fvtString:
        return source == fvtChar || source == fvtString || source == fvtVariant;
    case fvtClass:
        if (source == fvtVariant) return true;
        return source == fvtClass && classes && classes->IsRegisteredClass(targetName) &&
               classes->IsRegisteredClass(sourceName) &&
               classes->DescendsFrom(sourceName, targetName);
    case fvtArray:
        return source == fvtArray || source == fvtVariant;
    case fvtVariant:
        return true;
    case fvtEnum:
        return source == fvtInt || source == fvtVariant || source == fvtInt64 ||
               (source == fvtEnum && SameTextAscii(targetName, sourceName));
    case fvtConstructor:
    case fvtInt64:
        return false;
    }
    return false;
}

bool AcceptsAssignment(TfsVarType varType, std::string_view varTypeName, TfsVarType exprType,
                       std::string_view exprTypeName, const TfsClassAncestry* classes) {
    if (varType == fvtInt && exprType == fvtFloat) return false;
    return AcceptsType(varType, varTypeName, exprType, exprTypeName, classes);
}

Variant ConvertForStore(TfsVarType type, const Variant& value) {
    switch (type) {
    case fvtInt:
        return value.Kind() == varInteger ? value : value.ToKind(varInteger);
    case fvtBool:
        return value.Kind() == varBoolean ? value : value.ToKind(varBoolean);
    case fvtFloat:
        if (value.Kind() == varDate || value.Kind() == varDouble) return value;
        return value.ToKind(varDouble);
    case fvtChar:
    case fvtString:
        return value.Kind() == varString ? value : value.ToKind(varString);
    default:
        return value;
    }
}

Variant ConstantFromText(std::string_view text) {
    if (text.empty()) return Variant::Null();
    if (text[0] == '\'')
        return Variant(text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string_view());
    int64_t i;
    if (TryTextToInt64(text, i) && !IsBlank(text[0])) {
        if (i >= INT32_MIN && i <= INT32_MAX) return Variant(static_cast<int32_t>(i));
        return Variant(i);
    }
    const TFormatSettings& fs = FormatSettings();
    std::string t(text);
    if (fs.DecimalSeparator != '.') {
        size_t p = t.find('.');
        if (p != std::string::npos) t[p] = fs.DecimalSeparator;
    }
    double d;
    if (!TryTextToFloat(t, d, fs) || IsBlank(text[0]) || IsBlank(text.back()))
        RaiseError(kEConvertError,
                   "'" + std::string(text) + "' is not a valid floating point value");
    return Variant(d);
}

TPoint ParseSourcePos(std::string_view text) {
    TPoint p;
    if (text.empty()) return p;
    auto number = [](std::string_view s) {
        int64_t v;
        if (!TryTextToInt64(s, v, true) || v < INT32_MIN || v > INT32_MAX)
            RaiseCastError(varString, varInteger);
        return static_cast<int32_t>(v);
    };
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        p.y = number(text);
        return p;
    }
    p.y = number(text.substr(0, colon));
    p.x = number(text.substr(colon + 1));
    return p;
}

// ---- format arguments ---------------------------------------------------------------------------

namespace {

TFormatArg ToFormatArg(const Variant& element) {
    TFormatArg a;
    const PtValue& raw = element.Raw();
    switch (raw.vt) {
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
        a.kind = TFormatArg::faInt;
        a.i = element.ToInt();
        break;
    case varLongWord:
        // Values beyond the 32-bit signed range go as 64-bit integers rather than failing.
        a.kind = raw.u.u32 > INT32_MAX ? TFormatArg::faInt64 : TFormatArg::faInt;
        a.i = raw.u.u32;
        break;
    case varSingle:
    case varDouble:
    case varCurrency:
    case varDate:
        a.kind = TFormatArg::faFloat;
        a.f = element.ToDouble();
        break;
    case varString:
    case varOleStr:
        // Strings go whole; cutting them (the classic 255-character limit) would corrupt data.
        a.kind = TFormatArg::faString;
        a.s = element.ToStr();
        break;
    case varBoolean:
        a.kind = TFormatArg::faBool;
        a.i = raw.u.boolean ? 1 : 0;
        break;
    case varInt64:
        a.kind = TFormatArg::faInt64;
        a.i = raw.u.i64;
        break;
    case varVariant:
    case varVariant | varByRef:
        a.kind = TFormatArg::faVariant;
        if (raw.vt != varVariant && raw.u.ptr)
            a.v = Variant::FromRaw(*static_cast<const PtValue*>(raw.u.ptr));
        break;
    default:
        a.kind = TFormatArg::faInt;
        a.i = 0;
        break;
    }
    return a;
}

} // namespace

std::vector<TFormatArg> ToFormatArgs(const Variant& array) {
    std::vector<TFormatArg> args;
    if (array.IsEmpty()) return args;
    if (!array.ArrayDims()) {
        args.push_back(ToFormatArg(array));
        return args;
    }
    const PtArray* a = array.Raw().u.arr;
    args.reserve(a->count);
    for (uint32_t i = 0; i < a->count; ++i)
        args.push_back(ToFormatArg(Variant::FromRaw(a->items[i])));
    return args;
}

} // namespace pt
