// Text formatting of numbers and arguments: Format (percent directives), FormatFloat (numeric
// pictures), FormatMaskText (edit masks) and the FloatToStrF family they share.
//
// Invariants: every number is rendered from its exact binary value, rounded half away from zero
// at the requested digit; a value that rounds to zero never shows a minus sign; nothing reads the
// locale except through the TFormatSettings passed in (or FormatSettings() for the short forms).
// Failures raise EScriptError with class EConvertError.
#pragma once

#include "platform/FormatSettings.h"
#include "script/runtime/fs_variant.h"

#include <string>
#include <string_view>
#include <vector>

namespace pt {

enum class TFloatFormat { ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency };

// The classic FloatToStrF: ffGeneral (shortest of fixed and scientific, Precision significant
// digits), ffExponent ("d.dddE+ddd", Precision digits, Digits minimum exponent digits), ffFixed
// and ffNumber (Digits decimals, ffNumber with thousands separators), ffCurrency (Digits decimals
// in the currency layout of the settings). Infinities and NaN give "INF", "-INF", "NAN".
std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits,
                        const TFormatSettings& fs);
// General format with 15 significant digits.
std::string FloatToStr(double value, const TFormatSettings& fs);

// Percent directives: "%" [index ":"] ["-"] [width] ["." precision] type, with "*" for width or
// precision taken from the next argument; types d u x e f g n m p s and "%". String arguments
// are used whole. Raises "Format '<fmt>' invalid or incompatible with argument".
std::string Format(std::string_view fmt, const std::vector<TFormatArg>& args,
                   const TFormatSettings& fs);
std::string Format(std::string_view fmt, const std::vector<TFormatArg>& args);

// Numeric picture: 0 # . , E+ E- e+ e-, quoted text, up to three ";" sections.
std::string FormatFloat(std::string_view fmt, double value, const TFormatSettings& fs);
std::string FormatFloat(std::string_view fmt, double value);

// Edit mask "mask[;save-literals[;blank]]". Placeholders 0 9 # L l A a C c take the next
// character of the value (a missing character shows as the blank, a space by default); literals,
// "\"-escaped characters, "_" (a blank), ":" and "/" (the time and date separators) are copied;
// ">" and "<" switch to upper and lower case, "<>" back to as-is; "!" aligns a short value to the
// right. When literals are saved (the default) the value may carry them and they are skipped.
std::string FormatMaskText(std::string_view editMask, std::string_view value,
                           const TFormatSettings& fs);
std::string FormatMaskText(std::string_view editMask, std::string_view value);

} // namespace pt
