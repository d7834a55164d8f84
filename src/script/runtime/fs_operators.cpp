#include "script/runtime/fs_operators.h"

#include "script/runtime/fs_errors.h"

#include <malloc.h>

#include <cmath>
#include <cstring>
#include <new>

namespace pt {

namespace {

enum OpClass : uint8_t {
    ocEmpty,
    ocNull,
    ocInt,
    ocFloat,
    ocCur,
    ocStr,
    ocBool,
    ocDate,
    ocI64,
    ocInvalid
};

OpClass ClassOf(uint16_t kind) {
    switch (kind) {
    case varEmpty:
        return ocEmpty;
    case varNull:
        return ocNull;
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
        return ocInt;
    case varSingle:
    case varDouble:
        return ocFloat;
    case varCurrency:
        return ocCur;
    case varString:
    case varOleStr:
        return ocStr;
    case varBoolean:
        return ocBool;
    case varDate:
        return ocDate;
    case varWord:
    case varLongWord:
    case varInt64:
        return ocI64;
    default:
        return ocInvalid;
    }
}

// Row: left operand's class; column: right operand's class.
constexpr OpClass kPairClass[9][9] = {
    /* Empty */ {ocEmpty, ocNull, ocInt, ocFloat, ocCur, ocStr, ocBool, ocDate, ocI64},
    /* Null  */ {ocNull, ocNull, ocNull, ocNull, ocNull, ocNull, ocNull, ocNull, ocNull},
    /* Int   */ {ocInt, ocNull, ocInt, ocFloat, ocCur, ocFloat, ocInt, ocDate, ocI64},
    /* Float */ {ocFloat, ocNull, ocFloat, ocFloat, ocCur, ocFloat, ocFloat, ocDate, ocFloat},
    /* Cur   */ {ocCur, ocNull, ocCur, ocCur, ocCur, ocCur, ocCur, ocDate, ocCur},
    /* Str   */ {ocStr, ocNull, ocFloat, ocFloat, ocCur, ocStr, ocBool, ocDate, ocFloat},
    /* Bool  */ {ocBool, ocNull, ocInt, ocFloat, ocCur, ocBool, ocBool, ocDate, ocI64},
    /* Date  */ {ocDate, ocNull, ocDate, ocDate, ocDate, ocDate, ocDate, ocDate, ocDate},
    /* I64   */ {ocI64, ocNull, ocI64, ocFloat, ocCur, ocFloat, ocI64, ocDate, ocI64},
};

OpClass PairClass(uint16_t a, uint16_t b) {
    const OpClass x = ClassOf(a), y = ClassOf(b);
    if (x == ocInvalid || y == ocInvalid) return ocInvalid;
    return kPairClass[x][y];
}

[[noreturn]] void RaiseDivByZero() {
    RaiseError(kEDivByZero, "Division by zero");
}
[[noreturn]] void RaiseZeroDivide() {
    RaiseError(kEZeroDivide, "Floating point division by zero");
}

Variant FloatOp(TfsOperation op, double a, double b) {
    switch (op) {
    case opAdd:
        return Variant(a + b);
    case opSub:
        return Variant(a - b);
    case opMul:
        return Variant(a * b);
    default:
        return Variant(a / b); // IEEE: a zero divisor gives an infinity or NaN
    }
}

Variant IntOp(TfsOperation op, int32_t a, int32_t b) {
    int32_t r;
    switch (op) {
    case opAdd:
        if (__builtin_add_overflow(a, b, &r)) return Variant(double(a) + double(b));
        return Variant(r);
    case opSub:
        if (__builtin_sub_overflow(a, b, &r)) return Variant(double(a) - double(b));
        return Variant(r);
    case opMul:
        if (__builtin_mul_overflow(a, b, &r)) return Variant(double(a) * double(b));
        return Variant(r);
    case opDiv:
        return Variant(double(a) / double(b));
    case opIntDiv:
        if (b == 0) RaiseDivByZero();
        if (a == INT32_MIN && b == -1) return Variant(2147483648.0); // like + - * overflow
        return Variant(a / b);
    case opMod:
        if (b == 0) RaiseDivByZero();
        if (b == -1) return Variant(0);
        return Variant(a % b);
    case opShl:
        return Variant(static_cast<int32_t>(static_cast<uint32_t>(a) << (b & 31)));
    case opShr:
        return Variant(static_cast<int32_t>(static_cast<uint32_t>(a) >> (b & 31)));
    case opAnd:
        return Variant(a & b);
    case opOr:
        return Variant(a | b);
    case opXor:
        return Variant(a ^ b);
    }
    RaiseInvalidOp();
}

Variant I64Op(TfsOperation op, int64_t a, int64_t b) {
    const uint64_t ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
    int64_t r;
    switch (op) {
    case opAdd:
        return Variant(static_cast<int64_t>(ua + ub)); // wraps
    case opSub:
        return Variant(static_cast<int64_t>(ua - ub));
    case opMul:
        if (__builtin_mul_overflow(a, b, &r)) return Variant(double(a) * double(b));
        return Variant(r);
    case opDiv:
        return Variant(double(a) / double(b));
    case opIntDiv:
        if (b == 0) RaiseDivByZero();
        if (a == INT64_MIN && b == -1) return Variant(9223372036854775808.0);
        return Variant(a / b);
    case opMod:
        if (b == 0) RaiseDivByZero();
        if (b == -1) return Variant(int64_t{0});
        return Variant(a % b);
    case opShl:
        return Variant(b < 0 || b >= 64 ? int64_t{0} : static_cast<int64_t>(ua << b));
    case opShr:
        return Variant(b < 0 || b >= 64 ? int64_t{0} : static_cast<int64_t>(ua >> b));
    case opAnd:
        return Variant(a & b);
    case opOr:
        return Variant(a | b);
    case opXor:
        return Variant(a ^ b);
    }
    RaiseInvalidOp();
}

bool IsIntegerKind(uint16_t k) {
    switch (k) {
    case varEmpty:
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
    case varBoolean:
    case varCurrency:
        return true;
    default:
        return false;
    }
}

// Currency arithmetic on scaled values; results are rounded half to even.
int64_t CurResult(__int128 q, uint16_t fromKind) {
    if (q > INT64_MAX || q < INT64_MIN) RaiseOverflowError(fromKind, varCurrency);
    return static_cast<int64_t>(q);
}

__int128 DivRoundEven(__int128 n, __int128 d) {
    __int128 q = n / d, r = n % d;
    const __int128 twice = 2 * (r < 0 ? -r : r), ad = d < 0 ? -d : d;
    if (twice > ad || (twice == ad && (q & 1))) q += ((n < 0) != (d < 0)) ? -1 : 1;
    return q;
}

Variant CurOp(TfsOperation op, const Variant& a, const Variant& b) {
    switch (op) {
    case opAdd:
    case opSub: {
        const int64_t x = a.ToCurrency(), y = b.ToCurrency();
        int64_t r;
        if (op == opAdd ? __builtin_add_overflow(x, y, &r) : __builtin_sub_overflow(x, y, &r))
            RaiseOverflowError(varCurrency, varCurrency);
        return Variant::Currency(r);
    }
    case opMul: {
        if (IsIntegerKind(a.Kind()) && IsIntegerKind(b.Kind())) {
            const __int128 p = static_cast<__int128>(a.ToCurrency()) * b.ToCurrency();
            return Variant::Currency(CurResult(DivRoundEven(p, 10000), varCurrency));
        }
        // Scaled operands; integer-like ones stay exact.
        const long double x = IsIntegerKind(a.Kind())
                                  ? static_cast<long double>(a.ToCurrency())
                                  : static_cast<long double>(a.ToDouble()) * 10000.0L;
        const long double y = IsIntegerKind(b.Kind())
                                  ? static_cast<long double>(b.ToCurrency())
                                  : static_cast<long double>(b.ToDouble()) * 10000.0L;
        const long double scaled = std::nearbyint(x * y / 10000.0L);
        if (!(scaled >= -9223372036854775808.0L && scaled < 9223372036854775808.0L))
            RaiseOverflowError(varDouble, varCurrency);
        return Variant::Currency(static_cast<int64_t>(scaled));
    }
    case opDiv: {
        if (a.Kind() != varCurrency) return Variant(a.ToDouble() / b.ToDouble());
        if (IsIntegerKind(b.Kind())) {
            const int64_t y = b.ToCurrency();
            if (y == 0) RaiseZeroDivide();
            return Variant::Currency(CurResult(
                DivRoundEven(static_cast<__int128>(a.ToCurrency()) * 10000, y), varCurrency));
        }
        const double y = b.ToDouble();
        if (y == 0) RaiseZeroDivide();
        const long double q = std::nearbyint(static_cast<long double>(a.ToCurrency()) / y);
        if (!(q >= -9223372036854775808.0L && q < 9223372036854775808.0L))
            RaiseOverflowError(varDouble, varCurrency);
        return Variant::Currency(static_cast<int64_t>(q));
    }
    default:
        return IntOp(op, a.ToInt(), b.ToInt());
    }
}

Variant Concat(const Variant& a, const Variant& b) {
    if (a.Kind() == varString) {
        if (b.Kind() == varString) {
            std::string_view x = a.StrView(), y = b.StrView();
            if (x.empty()) return b;
            if (y.empty()) return a;
            Variant r(std::string_view{});
            char* s = pt_str_new(nullptr, static_cast<uint32_t>(x.size() + y.size()));
            if (!s) throw std::bad_alloc();
            std::memcpy(s, x.data(), x.size());
            std::memcpy(s + x.size(), y.data(), y.size());
            r.Raw().u.str = s;
            return r;
        }
        return Variant(a.ToStrLoose() + b.ToStrLoose());
    }
    if (a.Kind() == varOleStr && b.Kind() == varOleStr && b.WideView().empty()) return a;
    if (a.Kind() != varOleStr && b.Kind() == varOleStr && a.IsEmpty()) return b;
    return Variant::Wide(a.ToWideLoose() + b.ToWideLoose());
}

Variant NullOp(TfsOperation op, const Variant& a, const Variant& b) {
    if (op != opAnd && op != opOr) return Variant::Null();
    const Variant& other = a.IsNull() ? b : a;
    if (other.IsNull()) return Variant::Null();
    const bool v = other.ToBool();
    if (op == opAnd) return v ? Variant::Null() : Variant(false);
    return v ? Variant(true) : Variant::Null();
}

Variant BinaryByClass(TfsOperation op, const Variant& a, const Variant& b) {
    switch (PairClass(a.Kind(), b.Kind())) {
    case ocEmpty:
        if (op == opDiv) RaiseZeroDivide();
        if (op == opIntDiv || op == opMod) RaiseDivByZero();
        return Variant();
    case ocNull:
        return NullOp(op, a, b);
    case ocInt:
        return IntOp(op, a.ToInt(), b.ToInt());
    case ocFloat:
        if (op <= opDiv) return FloatOp(op, a.ToDouble(), b.ToDouble());
        return IntOp(op, a.ToInt(), b.ToInt());
    case ocCur:
        return CurOp(op, a, b);
    case ocStr:
        if (op == opAdd) return Concat(a, b);
        if (op <= opDiv) return FloatOp(op, a.ToDouble(), b.ToDouble());
        return IntOp(op, a.ToInt(), b.ToInt());
    case ocBool:
        if (op == opAnd) return Variant(a.ToBool() && b.ToBool());
        if (op == opOr) return Variant(a.ToBool() || b.ToBool());
        if (op == opXor) return Variant(a.ToBool() != b.ToBool());
        if (op <= opDiv) return FloatOp(op, a.ToDouble(), b.ToDouble());
        return IntOp(op, a.ToInt(), b.ToInt());
    case ocDate:
        if (op == opAdd) return Variant::Date(a.ToDate() + b.ToDate());
        if (op == opSub) {
            const double d = a.ToDate() - b.ToDate();
            if (a.Kind() == varDate && b.Kind() == varDate) return Variant(d);
            return Variant::Date(d);
        }
        if (op == opMul || op == opDiv) return FloatOp(op, a.ToDouble(), b.ToDouble());
        return IntOp(op, a.ToInt(), b.ToInt());
    case ocI64:
        return I64Op(op, a.ToInt64(), b.ToInt64());
    case ocInvalid:
        break;
    }
    RaiseInvalidOp();
}

bool Test(TfsCompare cmp, int order) {
    switch (cmp) {
    case cmpEq:
        return order == 0;
    case cmpNe:
        return order != 0;
    case cmpLt:
        return order < 0;
    case cmpLe:
        return order <= 0;
    case cmpGt:
        return order > 0;
    case cmpGe:
        return order >= 0;
    }
    return false;
}

template <typename T> int Order(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

bool CompareDoubles(TfsCompare cmp, double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return cmp == cmpNe; // unordered
    return Test(cmp, Order(a, b));
}

int CompareBytes(std::string_view a, std::string_view b) {
    const int c = std::memcmp(a.data(), b.data(), a.size() < b.size() ? a.size() : b.size());
    if (c != 0) return c < 0 ? -1 : 1;
    return Order(a.size(), b.size());
}

bool CompareByClass(TfsCompare cmp, const Variant& a, const Variant& b) {
    switch (PairClass(a.Kind(), b.Kind())) {
    case ocEmpty:
        return Test(cmp, 0);
    case ocNull:
        return Test(cmp, a.IsNull() == b.IsNull() ? 0 : (a.IsNull() ? -1 : 1));
    case ocInt:
        return Test(cmp, Order(a.ToInt(), b.ToInt()));
    case ocFloat:
    case ocDate:
        return CompareDoubles(cmp, a.ToDouble(), b.ToDouble());
    case ocCur:
        return Test(cmp, Order(a.ToCurrency(), b.ToCurrency()));
    case ocI64:
        return Test(cmp, Order(a.ToInt64(), b.ToInt64()));
    case ocStr:
        if (a.Kind() == varString && b.Kind() == varString)
            return Test(cmp, CompareBytes(a.StrView(), b.StrView()));
        return Test(cmp, CompareBytes(a.ToStrLoose(), b.ToStrLoose()));
    case ocBool:
        return Test(cmp, Order(a.ToBool(), b.ToBool()));
    case ocInvalid:
        break;
    }
    RaiseInvalidOp();
}

// The writable buffer of a string that this value alone owns, or null.
bool SoleOwner(const PtValue& v) {
    return v.u.ptr && __atomic_load_n(pt_str_refp(v.u.ptr), __ATOMIC_ACQUIRE) == 1;
}

// Grows the block of a solely owned string so that it can hold `bytes` payload bytes plus the
// terminator; capacity grows geometrically, read back from the allocator.
void* GrowString(void* s, size_t bytes, size_t terminator) {
    char* block = static_cast<char*>(s) - 8;
    const size_t need = 8 + bytes + terminator;
    if (malloc_usable_size(block) >= need) return s;
    size_t want = need + need / 2;
    char* grown = static_cast<char*>(std::realloc(block, want));
    if (!grown) throw std::bad_alloc();
    return grown + 8;
}

// Appends in place when `left` is a solely owned string of the result's kind; false when the
// general path must run.
bool TryAppendInPlace(Variant& left, const Variant& right) {
    PtValue& l = left.Raw();
    const PtValue& r = right.Raw();
    if ((l.vt != varString && l.vt != varOleStr) || !SoleOwner(l)) return false;
    if (r.vt != varString && r.vt != varOleStr && r.vt != varEmpty) return false;
    if (r.vt != varEmpty && r.u.ptr == l.u.ptr) return false; // s + s with one reference
    if (l.vt == varString) {
        std::string conv;
        std::string_view add;
        if (r.vt == varString)
            add = right.StrView();
        else if (r.vt == varOleStr)
            add = conv = Utf16ToUtf8(right.WideView());
        const size_t old = pt_str_bytes(l.u.str);
        if (add.size() > 0x7FFFFFF0u - old) throw std::bad_alloc();
        char* s = static_cast<char*>(GrowString(l.u.str, old + add.size(), 1));
        std::memcpy(s + old, add.data(), add.size());
        s[old + add.size()] = 0;
        *reinterpret_cast<uint32_t*>(s - 4) = static_cast<uint32_t>(old + add.size());
        l.u.str = s;
        return true;
    }
    if (l.vt == varOleStr) {
        std::u16string conv;
        std::u16string_view add;
        if (r.vt == varOleStr)
            add = right.WideView();
        else if (r.vt == varString)
            add = conv = Utf8ToUtf16(right.StrView());
        const size_t old = pt_wstr_units(l.u.wstr);
        if (add.size() > 0x3FFFFFF0u - old) throw std::bad_alloc();
        auto* s = static_cast<char16_t*>(GrowString(l.u.wstr, 2 * (old + add.size()), 2));
        std::memcpy(s + old, add.data(), 2 * add.size());
        s[old + add.size()] = 0;
        *reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(s) - 4) =
            static_cast<uint32_t>(2 * (old + add.size()));
        l.u.wstr = reinterpret_cast<uint16_t*>(s);
        return true;
    }
    return false;
}

} // namespace

Variant VarBinaryOpGeneral(TfsOperation op, const Variant& a, const Variant& b) {
    if ((a.Kind() | b.Kind()) & varByRef) return BinaryByClass(op, VarDeref(a), VarDeref(b));
    return BinaryByClass(op, a, b);
}

bool VarCompareGeneral(TfsCompare cmp, const Variant& a, const Variant& b) {
    if ((a.Kind() | b.Kind()) & varByRef) return CompareByClass(cmp, VarDeref(a), VarDeref(b));
    return CompareByClass(cmp, a, b);
}

Variant VarBinaryOp(TfsOperation op, Variant&& a, const Variant& b) {
    if (op == opAdd && TryAppendInPlace(a, b)) return std::move(a);
    return VarBinaryOp(op, static_cast<const Variant&>(a), b);
}

void VarBinaryOpInPlace(TfsOperation op, Variant& left, const Variant& right) {
    if (op == opAdd && TryAppendInPlace(left, right)) return;
    left = VarBinaryOp(op, static_cast<const Variant&>(left), right);
}

Variant VarNot(const Variant& value) {
    const Variant v = VarDeref(value);
    const PtValue& x = v.Raw();
    switch (x.vt) {
    case varEmpty:
        return Variant::ShortInt(-1);
    case varNull:
        return Variant::Null();
    case varSmallint:
        return Variant::Smallint(static_cast<int16_t>(~x.u.i16));
    case varInteger:
        return Variant(~x.u.i32);
    case varShortInt:
        return Variant::ShortInt(static_cast<int8_t>(~x.u.i8));
    case varByte:
        return Variant::Byte(static_cast<uint8_t>(~x.u.u8));
    case varWord:
        return Variant::Word(static_cast<uint16_t>(~x.u.u16));
    case varLongWord:
        return Variant::LongWord(~x.u.u32);
    case varInt64:
        return Variant(~x.u.i64);
    case varSingle:
    case varDouble:
    case varCurrency:
    case varDate: {
        const int64_t r = ~v.ToInt64();
        if (r >= INT32_MIN && r <= INT32_MAX) return Variant(static_cast<int32_t>(r));
        return Variant(r);
    }
    case varBoolean:
        return Variant(x.u.boolean == 0);
    case varString:
    case varOleStr: {
        int64_t i;
        const std::string text = v.ToStr();
        if (TryTextToInt64(text, i, true)) {
            if (~i >= INT32_MIN && ~i <= INT32_MAX) return Variant(static_cast<int32_t>(~i));
            return Variant(~i);
        }
        return Variant(!v.ToBool());
    }
    default:
        RaiseInvalidOp();
    }
}

Variant VarNeg(const Variant& value) {
    const Variant v = VarDeref(value);
    const PtValue& x = v.Raw();
    // Negating the most negative value of a kind moves to the next wider kind instead of
    // wrapping back to itself.
    switch (x.vt) {
    case varEmpty:
        return Variant::Smallint(0);
    case varNull:
        return Variant::Null();
    case varSmallint:
        if (x.u.i16 == INT16_MIN) return Variant(32768);
        return Variant::Smallint(static_cast<int16_t>(-x.u.i16));
    case varInteger:
        if (x.u.i32 == INT32_MIN) return Variant(int64_t{2147483648LL});
        return Variant(-x.u.i32);
    case varShortInt:
        if (x.u.i8 == INT8_MIN) return Variant::Smallint(128);
        return Variant::ShortInt(static_cast<int8_t>(-x.u.i8));
    case varSingle:
        return Variant::Single(-x.u.f32);
    case varDouble:
        return Variant(-x.u.f64);
    case varCurrency:
        if (x.u.i64 == INT64_MIN) RaiseOverflowError(varCurrency, varCurrency);
        return Variant::Currency(-x.u.i64);
    case varDate:
        return Variant::Date(-x.u.f64);
    case varInt64:
        if (x.u.i64 == INT64_MIN) return Variant(9223372036854775808.0);
        return Variant(-x.u.i64);
    case varByte:
        return Variant::Smallint(static_cast<int16_t>(-static_cast<int>(x.u.u8)));
    case varWord:
        return Variant(-static_cast<int32_t>(x.u.u16));
    case varLongWord: {
        const int64_t r = -static_cast<int64_t>(x.u.u32);
        if (r >= INT32_MIN) return Variant(static_cast<int32_t>(r));
        return Variant(r);
    }
    case varBoolean:
        return Variant::Smallint(x.u.boolean ? -1 : 0);
    case varString:
    case varOleStr:
        return Variant(-v.ToDouble());
    default:
        RaiseInvalidOp();
    }
}

} // namespace pt
