#include "script/runtime/fs_sysfuncs.h"

#include "platform/FormatSettings.h"
#include "script/runtime/fs_datetime.h"
#include "script/runtime/fs_errors.h"
#include "script/runtime/fs_format.h"
#include "script/runtime/fs_operators.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <thread>

namespace pt {

// ---- conversions from text -------------------------------------------------------------------

namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

// Optional sign, then decimal digits or "$" and hex digits; leading blanks are allowed, as the
// classic Val. `wide` selects the 64-bit range; hex may use the full unsigned range (bit pattern).
bool ParseInteger(std::string_view s, int64_t& out, bool wide) {
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    if (i >= s.size()) return false;
    uint64_t v = 0;
    const uint64_t limit = wide ? UINT64_MAX : UINT32_MAX;
    if (s[i] == '$') {
        if (++i >= s.size()) return false;
        auto [p, ec] = std::from_chars(s.data() + i, s.data() + s.size(), v, 16);
        if (ec != std::errc() || p != s.data() + s.size() || v > limit) return false;
        int64_t bits =
            wide ? static_cast<int64_t>(v) : static_cast<int32_t>(static_cast<uint32_t>(v));
        out = neg ? static_cast<int64_t>(0 - static_cast<uint64_t>(bits)) : bits;
        if (!wide) out = static_cast<int32_t>(out);
        return true;
    }
    auto [p, ec] = std::from_chars(s.data() + i, s.data() + s.size(), v, 10);
    if (ec != std::errc() || p != s.data() + s.size()) return false;
    const uint64_t maxPos =
        wide ? static_cast<uint64_t>(INT64_MAX) : static_cast<uint64_t>(INT32_MAX);
    if (v > maxPos + (neg ? 1 : 0)) return false;
    out = neg ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
    return true;
}

[[noreturn]] void NotValid(std::string_view s, const char* what) {
    RaiseError(kEConvertError, "'" + std::string(s) + "' is not a valid " + what);
}

} // namespace

bool SysTryStrToInt(std::string_view s, int64_t& out, bool wide) {
    return ParseInteger(s, out, wide);
}

int32_t SysStrToInt(std::string_view s) {
    int64_t v = 0;
    if (!ParseInteger(s, v, false)) NotValid(s, "integer value");
    return static_cast<int32_t>(v);
}

int64_t SysStrToInt64(std::string_view s) {
    int64_t v = 0;
    if (!ParseInteger(s, v, true)) NotValid(s, "integer value");
    return v;
}

bool SysTryStrToFloat(std::string_view s, double& out) {
    const char dec = FormatSettings().DecimalSeparator;
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    // [sign] digits [dec digits] [(e|E) [sign] digits], at least one digit in the mantissa.
    std::string text;
    size_t i = b;
    if (i < e && (s[i] == '+' || s[i] == '-')) text.push_back(s[i++]);
    int mantissaDigits = 0;
    while (i < e && s[i] >= '0' && s[i] <= '9') text.push_back(s[i++]), ++mantissaDigits;
    if (i < e && s[i] == dec) {
        text.push_back('.');
        ++i;
        while (i < e && s[i] >= '0' && s[i] <= '9') text.push_back(s[i++]), ++mantissaDigits;
    }
    if (mantissaDigits == 0) return false;
    if (i < e && (s[i] == 'e' || s[i] == 'E')) {
        text.push_back('e');
        ++i;
        if (i < e && (s[i] == '+' || s[i] == '-')) text.push_back(s[i++]);
        int expDigits = 0;
        while (i < e && s[i] >= '0' && s[i] <= '9') text.push_back(s[i++]), ++expDigits;
        if (expDigits == 0) return false;
    }
    if (i != e) return false;
    const char* first = text.data() + (text[0] == '+' ? 1 : 0);
    double v = 0;
    auto [p, ec] = std::from_chars(first, text.data() + text.size(), v);
    if (p != text.data() + text.size()) return false;
    if (ec == std::errc::result_out_of_range) {
        // Underflow gives zero; overflow is no valid value. The decimal magnitude tells which:
        // position of the first significant digit relative to the point, plus the exponent.
        size_t m = text.find_first_of("123456789");
        size_t point = text.find('.');
        size_t ePos = text.find('e');
        if (point == std::string::npos || point > ePos)
            point = ePos == std::string::npos ? text.size() : ePos;
        long long magnitude = static_cast<long long>(point) - static_cast<long long>(m);
        if (ePos != std::string::npos) magnitude += std::atoll(text.c_str() + ePos + 1);
        if (magnitude > 0) return false;
        v = 0;
    } else if (ec != std::errc()) {
        return false;
    }
    out = v;
    return true;
}

double SysStrToFloat(std::string_view s) {
    double v = 0;
    if (!SysTryStrToFloat(s, v)) NotValid(s, "floating point value");
    return v;
}

// ---- strings ---------------------------------------------------------------------------------

std::string SysCopy(std::string_view s, int32_t from, int32_t count) {
    if (from < 1) from = 1;
    if (count < 1 || static_cast<size_t>(from) > s.size()) return {};
    return std::string(s.substr(from - 1, static_cast<size_t>(count)));
}

int32_t SysPos(std::string_view substr, std::string_view s) {
    if (substr.empty()) return 0;
    size_t p = s.find(substr);
    return p == std::string_view::npos ? 0 : static_cast<int32_t>(p + 1);
}

std::string SysDelete(std::string_view s, int32_t from, int32_t count) {
    std::string r(s);
    if (from < 1 || static_cast<size_t>(from) > s.size() || count < 1) return r;
    r.erase(from - 1, static_cast<size_t>(count));
    return r;
}

std::string SysInsert(std::string_view s, std::string_view s2, int32_t pos) {
    std::string r(s2);
    size_t at = pos < 1 ? 0 : std::min(static_cast<size_t>(pos - 1), r.size());
    r.insert(at, s);
    return r;
}

namespace {

// Letter case of the scripts and alphabets that have simple one-to-one pairs: ASCII, Latin-1,
// Latin Extended-A, Greek and Cyrillic. Other code points keep their case.
char32_t ToUpperCp(char32_t c) {
    if (c < 0x80) return c >= 'a' && c <= 'z' ? c - 32 : c;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
        if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        return (c & 1) ? c - 1 : c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 0x20;
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    return c;
}

char32_t ToLowerCp(char32_t c) {
    if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 32 : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    if (c == 0x178) return 0xFF;
    if (c >= 0x100 && c <= 0x17F) {
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
        if (c == 0x130 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        return (c & 1) ? c : c + 1;
    }
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    return c;
}

// Decodes one well-formed UTF-8 sequence at s[i] (up to U+07FF is all the tables touch, but any
// length is decoded so that it can be copied whole); a malformed byte is returned as itself with
// length 1 and never changed.
size_t DecodeAt(std::string_view s, size_t i, char32_t& cp) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
        cp = b;
        return 1;
    }
    int len = b >= 0xF0 && b < 0xF8 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
    if (len == 0 || i + len > s.size()) {
        cp = 0xFFFFFFFF;
        return 1;
    }
    char32_t v = b & (0x7F >> len);
    for (int k = 1; k < len; ++k) {
        unsigned char c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) {
            cp = 0xFFFFFFFF;
            return 1;
        }
        v = (v << 6) | (c & 0x3F);
    }
    cp = v;
    return len;
}

void Encode(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

template <typename Map> std::string MapCase(std::string_view s, Map map) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        char32_t cp;
        size_t n = DecodeAt(s, i, cp);
        char32_t m = cp == 0xFFFFFFFF ? cp : map(cp, i);
        // Only pairs of equal encoded length are mapped, so lengths and positions never shift.
        if (m != cp && m < 0x800 && (cp < 0x80) == (m < 0x80))
            Encode(out, m);
        else
            out.append(s.substr(i, n));
        i += n;
    }
    return out;
}

} // namespace

std::string SysUpperCase(std::string_view s) {
    return MapCase(s, [](char32_t c, size_t) { return ToUpperCp(c); });
}

std::string SysLowerCase(std::string_view s) {
    return MapCase(s, [](char32_t c, size_t) { return ToLowerCp(c); });
}

std::string SysTrim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return std::string(s.substr(b, e - b));
}

std::string SysNameCase(std::string_view s) {
    return MapCase(s, [s](char32_t c, size_t i) {
        return i == 0 || s[i - 1] == ' ' ? ToUpperCp(c) : ToLowerCp(c);
    });
}

int32_t SysCompareText(std::string_view a, std::string_view b) {
    int c = SysLowerCase(a).compare(SysLowerCase(b));
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

std::string SysExtractFilePath(std::string_view fileName) {
    size_t p = fileName.find_last_of("\\:/");
    return p == std::string_view::npos ? std::string() : std::string(fileName.substr(0, p + 1));
}

// ---- arithmetic ------------------------------------------------------------------------------

namespace {

int32_t Low32(double r) {
    if (!std::isfinite(r)) RaiseError(kEInvalidOp, "Invalid floating point operation");
    // r is integral; fmod keeps it exact.
    double m = std::fmod(r, 4294967296.0);
    if (m < 0) m += 4294967296.0;
    return static_cast<int32_t>(static_cast<uint32_t>(m));
}

} // namespace

int32_t SysRound(double x) {
    return Low32(std::nearbyint(x));
}
int32_t SysTrunc(double x) {
    return Low32(std::trunc(x));
}

// ---- other -----------------------------------------------------------------------------------

namespace {

std::atomic<TShowMessageHandler> g_showMessage{nullptr};

std::mt19937_64& Generator() {
    thread_local std::mt19937_64 gen = [] {
        std::random_device rd;
        std::seed_seq seq{
            rd(), rd(), rd(), rd(),
            static_cast<unsigned>(std::hash<std::thread::id>()(std::this_thread::get_id()))};
        return std::mt19937_64(seq);
    }();
    return gen;
}

} // namespace

void SetShowMessageHandler(TShowMessageHandler handler) noexcept {
    g_showMessage.store(handler);
}

void SysShowMessage(const std::string& text) {
    if (TShowMessageHandler h = g_showMessage.load()) {
        h(text);
        return;
    }
    std::fprintf(stderr, "%s\n", text.c_str());
}

void SysRandomize() {
    auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    Generator().seed(static_cast<uint64_t>(now));
}

double SysRandom() {
    return static_cast<double>(Generator()() >> 11) * 0x1p-53;
}

Variant SysVarArrayCreate(const Variant& bounds, int32_t typ) {
    if (!bounds.IsArray() || bounds.ArrayDims() != 1)
        RaiseError(kEVariantInvalidArgError, "Invalid argument");
    int32_t n = bounds.ArrayCount();
    if (n < 2 || n % 2 != 0 || n > 6) RaiseError(kEVariantInvalidArgError, "Invalid argument");
    switch (typ) {
    case varSmallint:
    case varInteger:
    case varSingle:
    case varDouble:
    case varCurrency:
    case varDate:
    case varOleStr:
    case varBoolean:
    case varVariant:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
    case varString:
        break;
    default:
        RaiseError(kEVariantInvalidArgError, "Invalid argument");
    }
    std::vector<std::pair<int32_t, int32_t>> b;
    const int32_t low = bounds.ArrayLow(1);
    int64_t total = 1;
    for (int32_t k = 0; k < n; k += 2) {
        int32_t lo = bounds[low + k].ToInt();
        int32_t hi = bounds[low + k + 1].ToInt();
        if (static_cast<int64_t>(hi) < static_cast<int64_t>(lo) - 1)
            RaiseError(kEVariantInvalidArgError, "Invalid argument");
        total *= static_cast<int64_t>(hi) - lo + 1;
        // Guards the allocation: 2^28 elements is already 4 GiB of values.
        if (total > (int64_t{1} << 28)) RaiseError(kEVariantInvalidArgError, "Invalid argument");
        b.emplace_back(lo, hi);
    }
    return Variant::CreateArray(static_cast<uint16_t>(typ), b);
}

Variant SysSetLength(const Variant& s, int32_t length) {
    if (length < 0) RaiseError(kERangeError, "Range check error");
    if (s.Kind() == varOleStr) {
        std::u16string w = s.ToWide();
        w.resize(static_cast<size_t>(length), u' ');
        return Variant::Wide(w);
    }
    if (s.Kind() == varString) {
        std::string text = s.ToStr();
        text.resize(static_cast<size_t>(length), ' ');
        return Variant(text);
    }
    if (!s.IsArray() || s.ArrayDims() != 1)
        RaiseError(kEVariantInvalidArgError, "Variant is not an array");
    const int32_t low = s.ArrayLow(1);
    const int32_t oldHigh = s.ArrayHigh(1);
    const int64_t high = static_cast<int64_t>(length) - 1;
    if (high < static_cast<int64_t>(low) - 1 || high - low + 1 > (int64_t{1} << 28))
        RaiseError(kERangeError, "Range check error");
    Variant r = Variant::CreateArray(static_cast<uint16_t>(s.Kind() & varTypeMask),
                                     {{low, static_cast<int32_t>(high)}});
    const int32_t keep = static_cast<int32_t>(std::min<int64_t>(oldHigh, high));
    for (int32_t i = low; i <= keep; ++i) r[i] = s[i];
    return r;
}

// ---- the function table ----------------------------------------------------------------------

namespace {

const TFormatSettings& Fs() {
    return FormatSettings();
}
Variant Str(std::string s) {
    return Variant(s);
}
Variant None() {
    return Variant();
}

[[noreturn]] void RangeError(const char* what) {
    RaiseError(kERangeError, std::string("Range check error: ") + what);
}

// (1) to text
Variant FnIntToStr(Variant* p) {
    return Str(std::to_string(p[0].ToInt64()));
}
Variant FnFloatToStr(Variant* p) {
    return Str(FloatToStr(p[0].ToDouble(), Fs()));
}
Variant FnDateToStr(Variant* p) {
    return Str(DateToStr(p[0].ToDouble(), Fs()));
}
Variant FnTimeToStr(Variant* p) {
    return Str(TimeToStr(p[0].ToDouble(), Fs()));
}
Variant FnDateTimeToStr(Variant* p) {
    return Str(DateTimeToStr(p[0].ToDouble(), Fs()));
}
Variant FnBoolToStr(Variant* p) {
    return Str(p[0].ToBool() ? "-1" : "0");
}
Variant FnVarToStr(Variant* p) {
    return Str(p[0].ToStrLoose());
}

// (2) from text
Variant FnStrToInt(Variant* p) {
    return Variant(SysStrToInt(p[0].ToStr()));
}
Variant FnStrToInt64(Variant* p) {
    return Variant(SysStrToInt64(p[0].ToStr()));
}
Variant FnStrToFloat(Variant* p) {
    return Variant(SysStrToFloat(p[0].ToStr()));
}
Variant FnStrToDate(Variant* p) {
    return Variant::Date(StrToDate(p[0].ToStr(), Fs()));
}
Variant FnStrToTime(Variant* p) {
    return Variant::Date(StrToTime(p[0].ToStr(), Fs()));
}
Variant FnStrToDateTime(Variant* p) {
    return Variant::Date(StrToDateTime(p[0].ToStr(), Fs()));
}
Variant FnStrToBool(Variant* p) {
    return Variant(Variant(p[0].ToStr()).ToBool());
}

// (3) formatting
Variant FnFormat(Variant* p) {
    return Str(Format(p[0].ToStr(), ToFormatArgs(p[1]), Fs()));
}
Variant FnFormatFloat(Variant* p) {
    double x = VarBinaryOp(opMul, p[1], Variant(1.0)).ToDouble();
    return Str(FormatFloat(p[0].ToStr(), x, Fs()));
}
Variant FnFormatDateTime(Variant* p) {
    return Str(FormatDateTime(p[0].ToStr(), p[1].ToDouble(), Fs()));
}
Variant FnFormatMaskText(Variant* p) {
    return Str(FormatMaskText(p[0].ToStr(), p[1].ToStr(), Fs()));
}

// (4) dates
Variant FnEncodeDate(Variant* p) {
    return Variant::Date(EncodeDate(p[0].ToInt(), p[1].ToInt(), p[2].ToInt()));
}
Variant FnDecodeDate(Variant* p) {
    int y, m, d;
    DecodeDate(p[0].ToDouble(), y, m, d);
    p[1] = Variant::Word(static_cast<uint16_t>(y));
    p[2] = Variant::Word(static_cast<uint16_t>(m));
    p[3] = Variant::Word(static_cast<uint16_t>(d));
    return None();
}
Variant FnEncodeTime(Variant* p) {
    return Variant::Date(EncodeTime(p[0].ToInt(), p[1].ToInt(), p[2].ToInt(), p[3].ToInt()));
}
Variant FnDecodeTime(Variant* p) {
    int h, n, s, z;
    DecodeTime(p[0].ToDouble(), h, n, s, z);
    p[1] = Variant::Word(static_cast<uint16_t>(h));
    p[2] = Variant::Word(static_cast<uint16_t>(n));
    p[3] = Variant::Word(static_cast<uint16_t>(s));
    p[4] = Variant::Word(static_cast<uint16_t>(z));
    return None();
}
Variant FnDate(Variant*) {
    return Variant::Date(std::floor(NowDateTime()));
}
Variant FnTime(Variant*) {
    double now = NowDateTime();
    return Variant::Date(now - std::floor(now));
}
Variant FnNow(Variant*) {
    return Variant::Date(NowDateTime());
}
Variant FnDayOfWeek(Variant* p) {
    return Variant::Word(static_cast<uint16_t>(DayOfWeek(p[0].ToDouble())));
}
Variant FnIsLeapYear(Variant* p) {
    return Variant(IsLeapYear(p[0].ToInt()));
}
Variant FnDaysInMonth(Variant* p) {
    int month = p[1].ToInt();
    if (month < 1 || month > 12) RangeError("month outside 1..12");
    return Variant(static_cast<int32_t>(DaysInMonth(p[0].ToInt(), month)));
}

// (5) strings
Variant FnLength(Variant* p) {
    if (p[0].IsArray()) return Variant(p[0].ArrayHigh(1) - p[0].ArrayLow(1) + 1);
    return Variant(static_cast<int32_t>(p[0].ToStr().size()));
}
Variant FnCopy(Variant* p) {
    return Str(SysCopy(p[0].ToStr(), p[1].ToInt(), p[2].ToInt()));
}
Variant FnPos(Variant* p) {
    return Variant(SysPos(p[0].ToStr(), p[1].ToStr()));
}
Variant FnDelete(Variant* p) {
    p[0] = Str(SysDelete(p[0].ToStr(), p[1].ToInt(), p[2].ToInt()));
    return None();
}
Variant FnInsert(Variant* p) {
    p[1] = Str(SysInsert(p[0].ToStr(), p[1].ToStr(), p[2].ToInt()));
    return None();
}
Variant FnUppercase(Variant* p) {
    return Str(SysUpperCase(p[0].ToStr()));
}
Variant FnLowercase(Variant* p) {
    return Str(SysLowerCase(p[0].ToStr()));
}
Variant FnTrim(Variant* p) {
    return Str(SysTrim(p[0].ToStr()));
}
Variant FnNameCase(Variant* p) {
    return Str(SysNameCase(p[0].ToStr()));
}
Variant FnCompareText(Variant* p) {
    return Variant(SysCompareText(p[0].ToStr(), p[1].ToStr()));
}
Variant FnChr(Variant* p) {
    return Str(std::string(1, static_cast<char>(p[0].ToInt() & 0xFF)));
}
Variant FnOrd(Variant* p) {
    std::string s = p[0].ToStr();
    if (s.empty()) RangeError("Ord of an empty string");
    return Variant::Byte(static_cast<uint8_t>(s[0]));
}
Variant FnSetLength(Variant* p) {
    p[0] = SysSetLength(p[0], p[1].ToInt());
    return None();
}

// (6) arithmetic
Variant FnRound(Variant* p) {
    return Variant(SysRound(p[0].ToDouble()));
}
Variant FnTrunc(Variant* p) {
    return Variant(SysTrunc(p[0].ToDouble()));
}
Variant FnInt(Variant* p) {
    return Variant(std::trunc(p[0].ToDouble()));
}
Variant FnFrac(Variant* p) {
    double x = p[0].ToDouble();
    return Variant(x - std::trunc(x));
}
Variant FnSqrt(Variant* p) {
    return Variant(std::sqrt(p[0].ToDouble()));
}
Variant FnAbs(Variant* p) {
    return Variant(std::fabs(p[0].ToDouble()));
}
Variant FnSin(Variant* p) {
    return Variant(std::sin(p[0].ToDouble()));
}
Variant FnCos(Variant* p) {
    return Variant(std::cos(p[0].ToDouble()));
}
Variant FnArcTan(Variant* p) {
    return Variant(std::atan(p[0].ToDouble()));
}
Variant FnTan(Variant* p) {
    double x = p[0].ToDouble();
    return Variant(std::sin(x) / std::cos(x));
}
Variant FnExp(Variant* p) {
    return Variant(std::exp(p[0].ToDouble()));
}
Variant FnLn(Variant* p) {
    return Variant(std::log(p[0].ToDouble()));
}
Variant FnPi(Variant*) {
    return Variant(3.1415926535897932385);
}

// (7) other
Variant FnInc(Variant* p) {
    p[0] = VarBinaryOp(opAdd, p[0], p[1]);
    return None();
}
Variant FnDec(Variant* p) {
    p[0] = VarBinaryOp(opSub, p[0], p[1]);
    return None();
}
Variant FnRaiseException(Variant* p) {
    RaiseError(kException, p[0].ToStr());
}
Variant FnShowMessage(Variant* p) {
    SysShowMessage(p[0].ToStr());
    return None();
}
Variant FnRandomize(Variant*) {
    SysRandomize();
    return None();
}
Variant FnRandom(Variant*) {
    return Variant(SysRandom());
}
Variant FnValidInt(Variant* p) {
    int64_t v;
    return Variant(SysTryStrToInt(p[0].ToStr(), v, false));
}
Variant FnValidFloat(Variant* p) {
    double v;
    return Variant(SysTryStrToFloat(p[0].ToStr(), v));
}
Variant FnValidDate(Variant* p) {
    double v;
    if (p[0].Kind() == varDate) {
        TDateTimeParts parts;
        if (!TryDecodeDateTime(p[0].ToDouble(), parts)) return Variant(false);
        return Variant(TryStrToDate(DateToStr(p[0].ToDouble(), Fs()), v, Fs()));
    }
    return Variant(TryStrToDate(p[0].ToStr(), v, Fs()));
}
Variant FnExtractFilePath(Variant* p) {
    return Str(SysExtractFilePath(p[0].ToStr()));
}
Variant FnCreateOleObject(Variant* p) {
    RaiseError(kEOleError,
               "Automation objects are not available on this platform: cannot create '" +
                   p[0].ToStr() + "'");
}
Variant FnVarArrayCreate(Variant* p) {
    return SysVarArrayCreate(p[0], p[1].ToInt());
}
Variant FnVarType(Variant* p) {
    return Variant::Word(p[0].Kind());
}

const TSysFunctionDef kTable[] = {
    {"ctConv", "function IntToStr(i: Integer): String", FnIntToStr},
    {"ctConv", "function FloatToStr(e: Extended): String", FnFloatToStr},
    {"ctConv", "function DateToStr(e: Extended): String", FnDateToStr},
    {"ctConv", "function TimeToStr(e: Extended): String", FnTimeToStr},
    {"ctConv", "function DateTimeToStr(e: Extended): String", FnDateTimeToStr},
    {"ctConv", "function BoolToStr(B: Boolean): string;", FnBoolToStr},
    {"ctConv", "function VarToStr(v: Variant): String", FnVarToStr},
    {"ctConv", "function StrToInt(s: String): Integer", FnStrToInt},
    {"ctConv", "function StrToInt64(s: String): Int64", FnStrToInt64},
    {"ctConv", "function StrToFloat(s: String): Extended", FnStrToFloat},
    {"ctConv", "function StrToDate(s: String): Extended", FnStrToDate},
    {"ctConv", "function StrToTime(s: String): Extended", FnStrToTime},
    {"ctConv", "function StrToDateTime(s: String): Extended", FnStrToDateTime},
    {"ctConv", "function StrToBool(const S: string): Boolean;", FnStrToBool},
    {"ctFormat", "function Format(Fmt: String; Args: array): String", FnFormat},
    {"ctFormat", "function FormatFloat(Fmt: String; Value: Extended): String", FnFormatFloat},
    {"ctFormat", "function FormatDateTime(Fmt: String; DateTime: TDateTime): String",
     FnFormatDateTime},
    {"ctFormat", "function FormatMaskText(EditMask: string; Value: string): string",
     FnFormatMaskText},
    {"ctDate", "function EncodeDate(Year, Month, Day: Word): TDateTime", FnEncodeDate},
    {"ctDate", "procedure DecodeDate(Date: TDateTime; var Year, Month, Day: Word)", FnDecodeDate},
    {"ctDate", "function EncodeTime(Hour, Min, Sec, MSec: Word): TDateTime", FnEncodeTime},
    {"ctDate", "procedure DecodeTime(Time: TDateTime; var Hour, Min, Sec, MSec: Word)",
     FnDecodeTime},
    {"ctDate", "function Date: TDateTime", FnDate},
    {"ctDate", "function Time: TDateTime", FnTime},
    {"ctDate", "function Now: TDateTime", FnNow},
    {"ctDate", "function DayOfWeek(aDate: TDateTime): Integer", FnDayOfWeek},
    {"ctDate", "function IsLeapYear(Year: Word): Boolean", FnIsLeapYear},
    {"ctDate", "function DaysInMonth(nYear, nMonth: Integer): Integer", FnDaysInMonth},
    {"ctString", "function Length(s: Variant): Integer", FnLength},
    {"ctString", "function Copy(s: String; from, count: Integer): String", FnCopy},
    {"ctString", "function Pos(substr, s: String): Integer", FnPos},
    {"ctString", "procedure Delete(var s: String; from, count: Integer)", FnDelete},
    {"ctString", "procedure DeleteStr(var s: String; from, count: Integer)", FnDelete},
    {"ctString", "procedure Insert(s: String; var s2: String; pos: Integer)", FnInsert},
    {"ctString", "function Uppercase(s: String): String", FnUppercase},
    {"ctString", "function Lowercase(s: String): String", FnLowercase},
    {"ctString", "function Trim(s: String): String", FnTrim},
    {"ctString", "function NameCase(s: String): String", FnNameCase},
    {"ctString", "function CompareText(s, s1: String): Integer", FnCompareText},
    {"ctString", "function Chr(i: Integer): Char", FnChr},
    {"ctString", "function Ord(ch: Char): Integer", FnOrd},
    {"ctString", "procedure SetLength(var S: Variant; L: Integer)", FnSetLength},
    {"ctMath", "function Round(e: Extended): Integer", FnRound},
    {"ctMath", "function Trunc(e: Extended): Integer", FnTrunc},
    {"ctMath", "function Int(e: Extended): Integer", FnInt},
    {"ctMath", "function Frac(X: Extended): Extended", FnFrac},
    {"ctMath", "function Sqrt(e: Extended): Extended", FnSqrt},
    {"ctMath", "function Abs(e: Extended): Extended", FnAbs},
    {"ctMath", "function Sin(e: Extended): Extended", FnSin},
    {"ctMath", "function Cos(e: Extended): Extended", FnCos},
    {"ctMath", "function ArcTan(X: Extended): Extended", FnArcTan},
    {"ctMath", "function Tan(X: Extended): Extended", FnTan},
    {"ctMath", "function Exp(X: Extended): Extended", FnExp},
    {"ctMath", "function Ln(X: Extended): Extended", FnLn},
    {"ctMath", "function Pi: Extended", FnPi},
    {"ctOther", "procedure Inc(var i: Integer; incr: Integer = 1)", FnInc},
    {"ctOther", "procedure Dec(var i: Integer; decr: Integer = 1)", FnDec},
    {"ctOther", "procedure RaiseException(Param: String)", FnRaiseException},
    {"ctOther", "procedure ShowMessage(Msg: Variant)", FnShowMessage},
    {"ctOther", "procedure Randomize", FnRandomize},
    {"ctOther", "function Random: Extended", FnRandom},
    {"ctOther", "function ValidInt(cInt: String): Boolean", FnValidInt},
    {"ctOther", "function ValidFloat(cFlt: String): Boolean", FnValidFloat},
    {"ctOther", "function ValidDate(cDate: String): Boolean", FnValidDate},
    {"ctOther", "function ExtractFilePath(const FileName: string): string;", FnExtractFilePath},
    {"ctOther", "function CreateOleObject(ClassName: String): Variant", FnCreateOleObject},
    {"ctOther", "function VarArrayCreate(Bounds: Array; Typ: Integer): Variant", FnVarArrayCreate},
    {"ctOther", "function VarType(V: Variant): Integer", FnVarType},
};

static_assert(sizeof(kTable) / sizeof(kTable[0]) == 68, "the engine has 68 system functions");

} // namespace

const TSysFunctionDef* SysFunctionTable(int& count) noexcept {
    count = static_cast<int>(sizeof(kTable) / sizeof(kTable[0]));
    return kTable;
}

} // namespace pt
