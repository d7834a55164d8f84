// The bodies of the engine's own system functions, as plain functions over Variant. The
// registration module (fs_isysrtti) only declares them and forwards calls; everything that can go
// wrong is decided here.
//
// Conventions: arguments arrive unconverted (prototype parameter types convert nothing); each
// function converts with the Variant conversions ("as integer" = ToInt, "as string" = ToStr, ...).
// Functions with var parameters take the parameter array and write the new values back into it.
#pragma once

#include "script/runtime/fs_variant.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace pt {

// Class names of errors the system functions raise besides the conversion errors.
inline constexpr const char* kEInvalidOp = "EInvalidOp";
inline constexpr const char* kEOleError = "EOleError";
inline constexpr const char* kERangeError = "ERangeError";

// ---- conversions from text (raise "'%s' is not a valid ... value") ----------------------------
int32_t SysStrToInt(std::string_view s);
int64_t SysStrToInt64(std::string_view s);
double SysStrToFloat(std::string_view s); // the regional decimal separator, optional exponent
bool SysTryStrToInt(std::string_view s, int64_t& out, bool wide);
bool SysTryStrToFloat(std::string_view s, double& out);

// ---- strings (byte strings, UTF-8 aware where letters are concerned) ---------------------------
std::string SysCopy(std::string_view s, int32_t from, int32_t count);
int32_t SysPos(std::string_view substr, std::string_view s);
std::string SysDelete(std::string_view s, int32_t from, int32_t count);
std::string SysInsert(std::string_view s, std::string_view s2, int32_t pos);
std::string SysUpperCase(std::string_view s);
std::string SysLowerCase(std::string_view s);
std::string SysTrim(std::string_view s);
std::string SysNameCase(std::string_view s);
int32_t SysCompareText(std::string_view a, std::string_view b);
std::string SysExtractFilePath(std::string_view fileName);

// ---- arithmetic --------------------------------------------------------------------------------
int32_t SysRound(double x); // ties to even, low 32 bits
int32_t SysTrunc(double x); // toward zero, low 32 bits

// ---- other -------------------------------------------------------------------------------------
// Where ShowMessage text goes. The plug-in installs a handler that writes to the module log (or
// shows a box when a user interface is up); without one the text goes to standard error.
using TShowMessageHandler = void (*)(const std::string& text);
void SetShowMessageHandler(TShowMessageHandler handler) noexcept;
void SysShowMessage(const std::string& text);

void SysRandomize(); // reseeds this thread's generator from the clock
double SysRandom();  // uniform in [0, 1), per-thread generator

// An array of element kind `typ` with (low, high) bounds taken in pairs from `bounds`.
Variant SysVarArrayCreate(const Variant& bounds, int32_t typ);
// SetLength on a string (truncated or padded with blanks) or a one-dimensional array.
Variant SysSetLength(const Variant& s, int32_t length);

// ---- the function table -----------------------------------------------------------------------

// A function body: p[i] is argument i (as the caller passed it); var parameters are written back
// into p[i]; the return value is the function's result (Empty for procedures).
using TSysFunctionBody = Variant (*)(Variant* p);

struct TSysFunctionDef {
    const char* Category;  // "ctConv", "ctFormat", "ctDate", "ctString", "ctMath", "ctOther"
    const char* Prototype; // exactly as registered
    TSysFunctionBody Body;
};

// The 68 functions in registration order.
const TSysFunctionDef* SysFunctionTable(int& count) noexcept;

} // namespace pt
