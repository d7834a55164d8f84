// A scope holding the engine's basic type names and constants, as the system functions
// declare them, so that prototypes resolve their type names the way they do in the global unit.
#pragma once

#include "script/runtime/fs_iinterpreter.h"

namespace pt::test {

inline void DeclareBasicTypes(TfsScript& s) {
    for (const char* n : {"Byte", "Word", "Integer", "Longint", "Cardinal"})
        s.DeclareType(n, fvtInt);
    s.DeclareType("Boolean", fvtBool);
    for (const char* n : {"Real", "Single", "Double", "Extended", "Currency", "TDateTime"})
        s.DeclareType(n, fvtFloat);
    s.DeclareType("Char", fvtChar);
    s.DeclareType("String", fvtString);
    s.DeclareType("Variant", fvtVariant);
    s.DeclareType("Array", fvtArray);
    s.DeclareType("Constructor", fvtConstructor);
    s.DeclareConst("True", "Boolean", Variant(true));
    s.DeclareConst("False", "Boolean", Variant(false));
    s.DeclareConst("Null", "Variant", Variant::Null());
}

} // namespace pt::test
