// The one value type of scripts and parameter lists. A Variant is exactly the 16-byte
// boundary record (PtValue): values move between the runtime and the host's lists without
// conversion. Strings are shared by reference count; arrays are copied on write.
// A scalar never allocates.
#pragma once

#include <pipetask/pt_value.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace pt {

enum : uint16_t {
    varEmpty = PT_VAR_EMPTY,
    varNull = PT_VAR_NULL,
    varSmallint = PT_VAR_SMALLINT,
    varInteger = PT_VAR_INTEGER,
    varSingle = PT_VAR_SINGLE,
    varDouble = PT_VAR_DOUBLE,
    varCurrency = PT_VAR_CURRENCY,
    varDate = PT_VAR_DATE,
    varOleStr = PT_VAR_OLESTR,
    varDispatch = PT_VAR_DISPATCH,
    varError = PT_VAR_ERROR,
    varBoolean = PT_VAR_BOOLEAN,
    varVariant = PT_VAR_VARIANT,
    varUnknown = PT_VAR_UNKNOWN,
    varShortInt = PT_VAR_SHORTINT,
    varByte = PT_VAR_BYTE,
    varWord = PT_VAR_WORD,
    varLongWord = PT_VAR_LONGWORD,
    varInt64 = PT_VAR_INT64,
    varStrArg = PT_VAR_STRARG,
    varString = PT_VAR_STRING,
    varAny = PT_VAR_ANY,
    varTypeMask = PT_VAR_TYPEMASK,
    varArray = PT_VAR_ARRAY,
    varByRef = PT_VAR_BYREF,
};

class Variant {
public:
    Variant() noexcept : v_{} {}
    Variant(const Variant& o) noexcept : v_{} { pt_value_copy(&v_, &o.v_); }
    Variant(Variant&& o) noexcept : v_(o.v_) { o.v_ = PtValue{}; }
    // Assignment takes its reference before releasing the old value: the source may live
    // inside the array that the old value owns (a := a[0]).
    Variant& operator=(const Variant& o) noexcept {
        if (this != &o) {
            PtValue taken = o.v_;
            AddRef(taken);
            pt_value_clear(&v_);
            v_ = taken;
        }
        return *this;
    }
    Variant& operator=(Variant&& o) noexcept {
        if (this != &o) {
            PtValue taken = o.v_;
            o.v_ = PtValue{};
            pt_value_clear(&v_);
            v_ = taken;
        }
        return *this;
    }
    ~Variant() { pt_value_clear(&v_); }

    // Construction. Integers are varInteger, 64-bit integers varInt64, doubles varDouble,
    // booleans varBoolean, text a byte string (varString).
    Variant(int32_t x) noexcept : v_{} { v_.vt = varInteger, v_.u.i32 = x; }
    Variant(int64_t x) noexcept : v_{} { v_.vt = varInt64, v_.u.i64 = x; }
    Variant(double x) noexcept : v_{} { v_.vt = varDouble, v_.u.f64 = x; }
    Variant(bool x) noexcept : v_{} { v_.vt = varBoolean, v_.u.boolean = x ? -1 : 0; }
    Variant(std::string_view bytes);
    Variant(const char* bytes) : Variant(std::string_view(bytes)) {}
    Variant(const std::string& bytes) : Variant(std::string_view(bytes)) {}

    static Variant Null() noexcept;
    static Variant Wide(std::u16string_view units);
    static Variant Currency(int64_t scaledBy10000) noexcept;
    static Variant Date(double days) noexcept;
    static Variant Single(float x) noexcept;
    static Variant Smallint(int16_t x) noexcept;
    static Variant ShortInt(int8_t x) noexcept;
    static Variant Byte(uint8_t x) noexcept;
    static Variant Word(uint16_t x) noexcept;
    static Variant LongWord(uint32_t x) noexcept;
    // A one-dimensional array of varVariant elements with lower bound 0 (kind 0x200C).
    static Variant Array(std::initializer_list<Variant> items);
    static Variant Array(const std::vector<Variant>& items);
    // An array of up to three dimensions; bounds are (low, high) pairs, inclusive.
    static Variant CreateArray(uint16_t elemKind,
                               const std::vector<std::pair<int32_t, int32_t>>& bounds);

    // Boundary: take over or give up a raw record.
    static Variant Adopt(const PtValue& raw) noexcept {
        Variant v;
        v.v_ = raw;
        return v;
    }
    PtValue Detach() noexcept {
        PtValue r = v_;
        v_ = PtValue{};
        return r;
    }
    const PtValue& Raw() const noexcept { return v_; }
    PtValue& Raw() noexcept { return v_; }
    static Variant& FromRaw(PtValue& raw) noexcept { return *reinterpret_cast<Variant*>(&raw); }
    static const Variant& FromRaw(const PtValue& raw) noexcept {
        return *reinterpret_cast<const Variant*>(&raw);
    }

    uint16_t Kind() const noexcept { return v_.vt; }
    bool IsEmpty() const noexcept { return v_.vt == varEmpty; }
    bool IsNull() const noexcept { return v_.vt == varNull; }
    bool IsArray() const noexcept { return (v_.vt & varArray) != 0; }
    bool IsString() const noexcept { return v_.vt == varString || v_.vt == varOleStr; }
    // The bytes of a varString without copying (precondition: Kind() == varString).
    std::string_view StrView() const noexcept {
        return {v_.u.str ? v_.u.str : "", pt_str_bytes(v_.u.str)};
    }
    // The units of a varOleStr without copying (precondition: Kind() == varOleStr).
    std::u16string_view WideView() const noexcept {
        return {v_.u.wstr ? reinterpret_cast<const char16_t*>(v_.u.wstr) : u"",
                pt_wstr_units(v_.u.wstr)};
    }

    // Conversions; each raises the documented conversion errors (EScriptError).
    int32_t ToInt() const;
    int64_t ToInt64() const;
    double ToDouble() const;
    int64_t ToCurrency() const; // value x 10000
    double ToDate() const;
    bool ToBool() const;
    std::string ToStr() const;      // strict: Null raises
    std::string ToStrLoose() const; // VarToStr: Null and Empty give ""
    std::u16string ToWide() const;
    Variant ToKind(uint16_t kind) const; // the result has exactly that kind

    // Arrays (precondition: IsArray()). Indexes are checked: out of range raises
    // "Variant or safe array index out of bounds" (EVariantBadIndexError).
    int ArrayDims() const noexcept;
    int32_t ArrayLow(int dim = 1) const;
    int32_t ArrayHigh(int dim = 1) const;
    const Variant& ArrayAt(const int32_t* index, int nIndex) const;
    Variant& ArrayAtMut(const int32_t* index, int nIndex); // copies the array first if shared
    const Variant& operator[](int32_t i) const { return ArrayAt(&i, 1); }
    Variant& operator[](int32_t i) { return ArrayAtMut(&i, 1); }
    int32_t ArrayCount() const noexcept; // elements of the first dimension

    // Loose wide conversion: Null and Empty give "".
    std::u16string ToWideLoose() const;

private:
    static void AddRef(const PtValue& v) noexcept {
        if (v.vt & varArray) {
            if (!(v.vt & varByRef)) pt_array_addref(v.u.arr);
        } else if (v.vt == varString || v.vt == varOleStr) {
            pt_str_addref(v.u.ptr);
        }
    }

    PtValue v_;
};

static_assert(sizeof(Variant) == 16, "Variant is the 16-byte boundary value");

// "Empty", "Integer", "Array String", "ByRef Double", "$0042", ...
std::string KindName(uint16_t kind);

// The value a by-reference value refers to (a copy); any other value is returned as it is.
Variant VarDeref(const Variant& v);

// ---- static type codes -----------------------------------------------------------------------

enum TfsVarType : uint8_t {
    fvtInt = 0,
    fvtBool = 1,
    fvtFloat = 2,
    fvtChar = 3,
    fvtString = 4,
    fvtClass = 5,
    fvtArray = 6,
    fvtVariant = 7,
    fvtEnum = 8,
    fvtConstructor = 9,
    fvtInt64 = 10,
};

// Answers class questions for the compatibility tests; the program model supplies it.
class TfsClassAncestry {
public:
    virtual ~TfsClassAncestry() = default;
    virtual bool IsRegisteredClass(std::string_view typeName) const = 0;
    virtual bool DescendsFrom(std::string_view typeName, std::string_view ancestorName) const = 0;
};

// Display name: "Integer", "Boolean", "Extended", ... ; fvtClass and fvtEnum give typeName.
std::string TypeNameText(TfsVarType type, std::string_view typeName);
bool AcceptsType(TfsVarType target, std::string_view targetName, TfsVarType source,
                 std::string_view sourceName, const TfsClassAncestry* classes);
bool AcceptsAssignment(TfsVarType varType, std::string_view varTypeName, TfsVarType exprType,
                       std::string_view exprTypeName, const TfsClassAncestry* classes);

// What a variable of the given static type keeps when it is given `value`.
Variant ConvertForStore(TfsVarType type, const Variant& value);

// Literal text to value: '' quoted string, integer (32-bit or Int64), or double.
Variant ConstantFromText(std::string_view text);

struct TPoint {
    int32_t x = 0;
    int32_t y = 0;
};
// "line:col" to (x = col, y = line); "" gives (0, 0).
TPoint ParseSourcePos(std::string_view text);

// ---- format arguments ------------------------------------------------------------------------

struct TFormatArg {
    enum Kind : uint8_t { faInt, faInt64, faFloat, faString, faBool, faVariant } kind = faInt;
    int64_t i = 0;  // faInt (32-bit range), faInt64, faBool (0/1)
    double f = 0.0; // faFloat
    std::string s;  // faString
    Variant v;      // faVariant
};
std::vector<TFormatArg> ToFormatArgs(const Variant& array);

// ---- errors and text helpers shared by the runtime -----------------------------------------

// "Could not convert variant of type (%s) into type (%s)" (EVariantTypeCastError).
[[noreturn]] void RaiseCastError(uint16_t fromKind, uint16_t toKind);
// "Overflow while converting variant of type (%s) into type (%s)" (EVariantOverflowError).
[[noreturn]] void RaiseOverflowError(uint16_t fromKind, uint16_t toKind);
// "Invalid variant operation" (EVariantInvalidOpError).
[[noreturn]] void RaiseInvalidOp();
// "Variant or safe array index out of bounds" (EVariantBadIndexError).
[[noreturn]] void RaiseBadIndex();

struct TFormatSettings;
// General format, up to 15 significant digits, the settings' decimal separator; "1E15",
// "1.5E-7", "NAN", "INF", "-INF".
std::string FloatToText(double value, const TFormatSettings& fs);
// A currency value (x 10000) without trailing zeros: "1234.5", "-0.0001".
std::string CurrToText(int64_t scaled, const TFormatSettings& fs);
// Optional blanks around, optional sign, digits with the settings' decimal separator, optional
// exponent. With `thousands`, the settings' thousands separator may group the integer digits
// in threes. Out-of-range numbers fail.
bool TryTextToFloat(std::string_view text, double& value, const TFormatSettings& fs,
                    bool thousands = false);
// Optional leading blanks, optional sign, decimal digits or hex digits after "$", "0x", "x".
// With `trailingBlanks`, blanks may also follow. Hex may use all 64 bits (wrapping to negative).
bool TryTextToInt64(std::string_view text, int64_t& value, bool trailingBlanks = false);
// Ties to even; false for NaN and values outside the int64 range.
bool RoundToInt64(double x, int64_t& out) noexcept;

std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s); // lone surrogates become U+FFFD

} // namespace pt
