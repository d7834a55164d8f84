// The prototype reader: Pascal-style declaration text of a registered function, such as
// "function Copy(s: String; from, count: Integer): String" or
// "procedure Inc(var i: Integer; incr: Integer = 1)", read into its parts. Comments in
// braces, (* *) and // are skipped. Malformed text raises an error naming the text.
#pragma once

#include "script/runtime/fs_variant.h"

#include <string>
#include <string_view>
#include <vector>

namespace pt {

class TfsScript;

struct TfsPrototypeParam {
    std::string Name;
    std::string TypeName;
    bool ByReference = false;
    bool Optional = false; // a default that is not Null was given
    Variant DefaultValue = Variant::Null();
};

struct TfsPrototype {
    bool IsMacro = false;
    bool IsFunction = false;
    std::string Name;
    std::string TypeName; // result type; empty for a procedure
    std::vector<TfsPrototypeParam> Params;
};

// Identifiers used as default values are looked up in scope (and its parents); their current
// value is the default. An identifier that no scope has is an error.
TfsPrototype ReadPrototype(std::string_view text, const TfsScript* scope);

} // namespace pt
