// Operators and comparisons over values. Each operand's kind maps to an operation class; the
// pair of classes picks the operation (a string meeting a number becomes a number, never the
// reverse). Results are fresh values: a failed operation leaves every operand unchanged.
//
// The Integer/Integer and Double/Double cases are inline and allocate nothing; everything
// else goes through the out-of-line general path.
#pragma once

#include "script/runtime/fs_variant.h"

#include <cstdint>

namespace pt {

enum TfsOperation : uint8_t {
    opAdd,
    opSub,
    opMul,
    opDiv,
    opIntDiv,
    opMod,
    opShl,
    opShr,
    opAnd,
    opOr,
    opXor
};
enum TfsCompare : uint8_t { cmpEq, cmpNe, cmpLt, cmpLe, cmpGt, cmpGe };

// The general paths behind the inline fast paths.
Variant VarBinaryOpGeneral(TfsOperation op, const Variant& a, const Variant& b);
bool VarCompareGeneral(TfsCompare cmp, const Variant& a, const Variant& b);

inline Variant VarBinaryOp(TfsOperation op, const Variant& a, const Variant& b) {
    const PtValue& x = a.Raw();
    const PtValue& y = b.Raw();
    if (x.vt == varInteger && y.vt == varInteger) {
        int32_t r;
        switch (op) {
        case opAdd:
            if (!__builtin_add_overflow(x.u.i32, y.u.i32, &r)) return Variant(r);
            break;
        case opSub:
            if (!__builtin_sub_overflow(x.u.i32, y.u.i32, &r)) return Variant(r);
            break;
        case opMul:
            if (!__builtin_mul_overflow(x.u.i32, y.u.i32, &r)) return Variant(r);
            break;
        default:
            break;
        }
    } else if (x.vt == varDouble && y.vt == varDouble) {
        switch (op) {
        case opAdd:
            return Variant(x.u.f64 + y.u.f64);
        case opSub:
            return Variant(x.u.f64 - y.u.f64);
        case opMul:
            return Variant(x.u.f64 * y.u.f64);
        case opDiv:
            return Variant(x.u.f64 / y.u.f64);
        default:
            break;
        }
    }
    return VarBinaryOpGeneral(op, a, b);
}

// As above, but consumes the left operand: a byte or wide string that nobody else shares is
// extended in place by +, so that building a string piece by piece is not quadratic.
Variant VarBinaryOp(TfsOperation op, Variant&& a, const Variant& b);

// left := left op right. On error `left` keeps its previous value.
void VarBinaryOpInPlace(TfsOperation op, Variant& left, const Variant& right);

inline bool VarCompare(TfsCompare cmp, const Variant& a, const Variant& b) {
    const PtValue& x = a.Raw();
    const PtValue& y = b.Raw();
    if (x.vt == varInteger && y.vt == varInteger) {
        const int32_t l = x.u.i32, r = y.u.i32;
        switch (cmp) {
        case cmpEq:
            return l == r;
        case cmpNe:
            return l != r;
        case cmpLt:
            return l < r;
        case cmpLe:
            return l <= r;
        case cmpGt:
            return l > r;
        case cmpGe:
            return l >= r;
        }
    }
    if (x.vt == varDouble && y.vt == varDouble) {
        const double l = x.u.f64, r = y.u.f64;
        switch (cmp) {
        case cmpEq:
            return l == r;
        case cmpNe:
            return l != r;
        case cmpLt:
            return l < r;
        case cmpLe:
            return l <= r;
        case cmpGt:
            return l > r;
        case cmpGe:
            return l >= r;
        }
    }
    return VarCompareGeneral(cmp, a, b);
}

Variant VarNot(const Variant& a);
Variant VarNeg(const Variant& a);

} // namespace pt
