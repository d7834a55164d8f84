#include "script/runtime/fs_format.h"

#include "script/runtime/fs_errors.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace pt {

namespace {

// ---- decimal digits of a double --------------------------------------------------------------

// value = 0.d1 d2 ... dn x 10^exp; `d` has no leading zero; an empty `d` is zero.
struct Decimal {
    std::string d;
    int exp = 0;
    bool neg = false;
    bool IsZero() const { return d.empty(); }
};

// `sig` correctly rounded significant digits of |x| (x finite). Callers that round again ask
// for well over the digits they keep, so that the second rounding sees the exact value.
Decimal ToDecimal(double x, int sig) {
    Decimal r;
    r.neg = std::signbit(x);
    if (x == 0) return r;
    sig = std::clamp(sig, 1, 780);
    char buf[800];
    auto res =
        std::to_chars(buf, buf + sizeof buf, std::fabs(x), std::chars_format::scientific, sig - 1);
    const char* p = buf;
    const char* end = res.ptr;
    const char* e = std::find(p, end, 'e');
    for (const char* q = p; q < e; ++q)
        if (*q != '.') r.d.push_back(*q);
    int e10 = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), end, e10);
    r.exp = e10 + 1;
    while (!r.d.empty() && r.d.back() == '0') r.d.pop_back();
    return r;
}

// Rounds half away from zero so that `keep` digits remain (keep <= 0 rounds to a unit of
// 10^(exp-keep)); the result may become zero or gain a digit.
void RoundAt(Decimal& v, int keep) {
    if (v.IsZero() || keep >= static_cast<int>(v.d.size())) return;
    if (keep < 0) {
        v.d.clear();
        return;
    }
    bool up = v.d[keep] >= '5';
    v.d.resize(keep);
    if (up) {
        int i = keep - 1;
        while (i >= 0 && v.d[i] == '9') v.d[i--] = '0';
        if (i < 0) {
            v.d.insert(v.d.begin(), '1');
            ++v.exp;
        } else {
            ++v.d[i];
        }
    }
    while (!v.d.empty() && v.d.back() == '0') v.d.pop_back();
}

// |x| rounded to `decimals` places after the point, from its exact value.
Decimal FixedDecimal(double x, int decimals) {
    Decimal probe = ToDecimal(x, 3);
    if (probe.IsZero()) return probe;
    // The probe may have carried into a new leading digit: take the exponent from the long form.
    int keep = probe.exp + decimals;
    if (keep < -1) return Decimal{{}, 0, probe.neg};
    Decimal v = ToDecimal(x, std::max(keep, 1) + 25);
    RoundAt(v, v.exp + decimals);
    return v;
}

// |x| rounded to `sig` significant digits from its exact value.
Decimal SignificantDecimal(double x, int sig) {
    Decimal v = ToDecimal(x, sig + 25);
    RoundAt(v, sig);
    return v;
}

char DigitAt(const Decimal& v, int i) {
    return i >= 0 && i < static_cast<int>(v.d.size()) ? v.d[i] : '0';
}

// Integer digits ("0" for a value below one) and `decimals` fraction digits of a rounded value.
std::string IntDigits(const Decimal& v) {
    if (v.IsZero() || v.exp <= 0) return "0";
    std::string s;
    s.reserve(v.exp);
    for (int i = 0; i < v.exp; ++i) s.push_back(DigitAt(v, i));
    return s;
}

std::string FracDigits(const Decimal& v, int decimals) {
    std::string s;
    s.reserve(decimals);
    for (int i = 0; i < decimals; ++i) s.push_back(v.IsZero() ? '0' : DigitAt(v, v.exp + i));
    return s;
}

void AppendGrouped(std::string& out, const std::string& digits, char sep) {
    size_t n = digits.size();
    for (size_t i = 0; i < n; ++i) {
        out.push_back(digits[i]);
        size_t rest = n - 1 - i;
        if (sep && rest > 0 && rest % 3 == 0) out.push_back(sep);
    }
}

const char* NonFinite(double x) {
    if (std::isnan(x)) return "NAN";
    return x < 0 ? "-INF" : "INF";
}

// "[-]int.frac" of a value rounded to `decimals`, grouped when `sep` is set; `negative` tells
// whether the rounded value is below zero.
std::string FixedText(double x, int decimals, char decSep, char sep, bool& negative) {
    Decimal v = FixedDecimal(x, decimals);
    negative = v.neg && !v.IsZero();
    std::string out;
    AppendGrouped(out, IntDigits(v), sep);
    if (decimals > 0) {
        out.push_back(decSep);
        out += FracDigits(v, decimals);
    }
    return out;
}

std::string ExponentText(const Decimal& v, int precision, int expDigits, char decSep) {
    std::string out;
    if (v.neg && !v.IsZero()) out.push_back('-');
    out.push_back(v.IsZero() ? '0' : v.d[0]);
    if (precision > 1) {
        out.push_back(decSep);
        for (int i = 1; i < precision; ++i) out.push_back(v.IsZero() ? '0' : DigitAt(v, i));
    }
    int e = v.IsZero() ? 0 : v.exp - 1;
    out.push_back('E');
    out.push_back(e < 0 ? '-' : '+');
    std::string ed = std::to_string(std::abs(e));
    if (static_cast<int>(ed.size()) < expDigits) out.append(expDigits - ed.size(), '0');
    out += ed;
    return out;
}

std::string GeneralText(double x, int precision, char decSep) {
    Decimal v = SignificantDecimal(x, precision);
    if (v.IsZero()) return "0";
    std::string out;
    if (v.neg) out.push_back('-');
    int n = static_cast<int>(v.d.size());
    if (v.exp > precision || v.exp < -4) {
        out.push_back(v.d[0]);
        if (n > 1) {
            out.push_back(decSep);
            out.append(v.d, 1, std::string::npos);
        }
        out.push_back('E');
        out += std::to_string(v.exp - 1);
        return out;
    }
    if (v.exp <= 0) {
        out.push_back('0');
        out.push_back(decSep);
        out.append(-v.exp, '0');
        out += v.d;
        return out;
    }
    for (int i = 0; i < v.exp; ++i) out.push_back(DigitAt(v, i));
    if (n > v.exp) {
        out.push_back(decSep);
        out.append(v.d, v.exp, std::string::npos);
    }
    return out;
}

std::string CurrencyText(const std::string& number, bool negative, const TFormatSettings& fs) {
    const std::string& c = fs.CurrencyString;
    if (!negative) {
        switch (fs.CurrencyFormat) {
        case 1:
            return number + c;
        case 2:
            return c + " " + number;
        case 3:
            return number + " " + c;
        default:
            return c + number;
        }
    }
    const std::string& n = number;
    switch (fs.NegCurrFormat) {
    case 1:
        return "-" + c + n;
    case 2:
        return c + "-" + n;
    case 3:
        return c + n + "-";
    case 4:
        return "(" + n + c + ")";
    case 5:
        return "-" + n + c;
    case 6:
        return n + "-" + c;
    case 7:
        return n + c + "-";
    case 8:
        return "-" + n + " " + c;
    case 9:
        return "-" + c + " " + n;
    case 10:
        return n + " " + c + "-";
    case 11:
        return c + " " + n + "-";
    case 12:
        return c + " -" + n;
    case 13:
        return n + "- " + c;
    case 14:
        return "(" + c + " " + n + ")";
    case 15:
        return "(" + n + " " + c + ")";
    default:
        return "(" + c + n + ")";
    }
}

} // namespace

std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits,
                        const TFormatSettings& fs) {
    if (!std::isfinite(value)) return NonFinite(value);
    const char dec = fs.DecimalSeparator;
    switch (format) {
    case TFloatFormat::ffGeneral:
        return GeneralText(value, std::clamp(precision <= 0 ? 15 : precision, 1, 17), dec);
    case TFloatFormat::ffExponent: {
        int p = std::clamp(precision, 2, 17);
        return ExponentText(SignificantDecimal(value, p), p, std::clamp(digits, 0, 4), dec);
    }
    case TFloatFormat::ffFixed:
    case TFloatFormat::ffNumber: {
        bool neg = false;
        std::string s = FixedText(value, std::clamp(digits, 0, 18), dec,
                                  format == TFloatFormat::ffNumber ? fs.ThousandSeparator : 0, neg);
        return neg ? "-" + s : s;
    }
    case TFloatFormat::ffCurrency: {
        bool neg = false;
        std::string s = FixedText(value, std::clamp(digits, 0, 18), dec, fs.ThousandSeparator, neg);
        return CurrencyText(s, neg, fs);
    }
    }
    return {};
}

std::string FloatToStr(double value, const TFormatSettings& fs) {
    return FloatToStrF(value, TFloatFormat::ffGeneral, 15, 0, fs);
}

// ---- Format ----------------------------------------------------------------------------------

namespace {

constexpr int kMaxFormatWidth = 1 << 20;

[[noreturn]] void FormatError(std::string_view fmt) {
    RaiseError(kEConvertError,
               "Format '" + std::string(fmt) + "' invalid or incompatible with argument");
}

// A value argument is used as the typed argument its kind maps to.
TFormatArg Resolve(const TFormatArg& a) {
    if (a.kind != TFormatArg::faVariant) return a;
    const Variant* v = &a.v;
    TFormatArg r;
    switch (v->Kind() & varTypeMask) {
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
        r.kind = TFormatArg::faInt;
        r.i = v->ToInt();
        break;
    case varInt64:
        r.kind = TFormatArg::faInt64;
        r.i = v->ToInt64();
        break;
    case varSingle:
    case varDouble:
    case varCurrency:
    case varDate:
        r.kind = TFormatArg::faFloat;
        r.f = v->ToDouble();
        break;
    case varString:
    case varOleStr:
        r.kind = TFormatArg::faString;
        r.s = v->ToStr();
        break;
    case varBoolean:
        r.kind = TFormatArg::faBool;
        r.i = v->ToBool() ? 1 : 0;
        break;
    default:
        r.kind = TFormatArg::faInt;
        r.i = 0;
        break;
    }
    return r;
}

void Pad(std::string& out, const std::string& text, int width, bool left) {
    int n = static_cast<int>(text.size());
    if (width > n && !left) out.append(width - n, ' ');
    out += text;
    if (width > n && left) out.append(width - n, ' ');
}

std::string Hex(uint64_t x, int minDigits) {
    char buf[17];
    int n = 0;
    do {
        buf[n++] = "0123456789ABCDEF"[x & 15];
        x >>= 4;
    } while (x);
    std::string s;
    if (n < minDigits) s.append(minDigits - n, '0');
    while (n) s.push_back(buf[--n]);
    return s;
}

std::string WithMinDigits(uint64_t magnitude, bool negative, int minDigits) {
    std::string d = std::to_string(magnitude);
    std::string s = negative ? "-" : "";
    if (static_cast<int>(d.size()) < minDigits) s.append(minDigits - d.size(), '0');
    return s + d;
}

} // namespace

std::string Format(std::string_view fmt, const std::vector<TFormatArg>& args,
                   const TFormatSettings& fs) {
    std::string out;
    out.reserve(fmt.size() + 16);
    size_t next = 0; // index of the next argument
    const size_t n = fmt.size();
    size_t i = 0;

    auto number = [&](size_t& pos, int& value) {
        long long v = 0;
        while (pos < n && fmt[pos] >= '0' && fmt[pos] <= '9') {
            v = v * 10 + (fmt[pos++] - '0');
            if (v > kMaxFormatWidth) FormatError(fmt);
        }
        value = static_cast<int>(v);
    };
    auto starArg = [&]() -> int {
        if (next >= args.size()) FormatError(fmt);
        TFormatArg a = Resolve(args[next++]);
        if (a.kind != TFormatArg::faInt && a.kind != TFormatArg::faInt64) FormatError(fmt);
        int64_t v = a.i < 0 ? -a.i : a.i;
        if (v > kMaxFormatWidth) FormatError(fmt);
        return static_cast<int>(v);
    };

    while (i < n) {
        size_t pct = fmt.find('%', i);
        if (pct == std::string_view::npos) {
            out.append(fmt.substr(i));
            break;
        }
        out.append(fmt.substr(i, pct - i));
        size_t p = pct + 1;
        if (p >= n) FormatError(fmt);

        // Optional index: digits or "*" followed by ":".
        {
            size_t q = p;
            int idx = -1;
            if (q < n && fmt[q] == '*') {
                if (q + 1 < n && fmt[q + 1] == ':') {
                    idx = starArg();
                    p = q + 2;
                }
            } else if (q < n && fmt[q] >= '0' && fmt[q] <= '9') {
                number(q, idx);
                if (q < n && fmt[q] == ':')
                    p = q + 1;
                else
                    idx = -1;
            }
            if (idx >= 0) next = static_cast<size_t>(idx);
        }
        bool left = false;
        if (p < n && fmt[p] == '-') {
            left = true;
            ++p;
        }
        int width = -1;
        if (p < n && fmt[p] == '*') {
            width = starArg();
            ++p;
        } else if (p < n && fmt[p] >= '0' && fmt[p] <= '9') {
            number(p, width);
        }
        int prec = -1;
        if (p < n && fmt[p] == '.') {
            ++p;
            if (p < n && fmt[p] == '*') {
                prec = starArg();
                ++p;
            } else {
                prec = 0;
                number(p, prec);
            }
        }
        if (p >= n) FormatError(fmt);
        char type = fmt[p];
        if (type >= 'a' && type <= 'z') type = static_cast<char>(type - 'a' + 'A');
        i = p + 1;

        if (type == '%') {
            Pad(out, "%", width, left);
            continue;
        }
        if (std::string_view("DUXEFGNMPS").find(type) == std::string_view::npos) FormatError(fmt);
        if (next >= args.size()) FormatError(fmt);
        TFormatArg a = Resolve(args[next++]);
        const bool isInt = a.kind == TFormatArg::faInt || a.kind == TFormatArg::faInt64;
        std::string text;
        switch (type) {
        case 'D': {
            if (!isInt) FormatError(fmt);
            uint64_t mag = a.i < 0 ? 0 - static_cast<uint64_t>(a.i) : static_cast<uint64_t>(a.i);
            text = WithMinDigits(mag, a.i < 0, prec);
            break;
        }
        case 'U': {
            if (!isInt) FormatError(fmt);
            uint64_t u = a.kind == TFormatArg::faInt ? static_cast<uint32_t>(a.i)
                                                     : static_cast<uint64_t>(a.i);
            text = WithMinDigits(u, false, prec);
            break;
        }
        case 'X': {
            if (!isInt) FormatError(fmt);
            uint64_t u = a.kind == TFormatArg::faInt ? static_cast<uint32_t>(a.i)
                                                     : static_cast<uint64_t>(a.i);
            text = Hex(u, prec);
            break;
        }
        case 'P': {
            if (!isInt) FormatError(fmt);
            text = a.kind == TFormatArg::faInt ? Hex(static_cast<uint32_t>(a.i), 8)
                                               : Hex(static_cast<uint64_t>(a.i), 16);
            break;
        }
        case 'S':
            if (a.kind != TFormatArg::faString) FormatError(fmt);
            text = prec >= 0 && static_cast<size_t>(prec) < a.s.size() ? a.s.substr(0, prec) : a.s;
            break;
        default: { // E F G N M
            if (a.kind != TFormatArg::faFloat) FormatError(fmt);
            switch (type) {
            case 'E':
                text = FloatToStrF(a.f, TFloatFormat::ffExponent, prec < 0 ? 15 : prec, 3, fs);
                break;
            case 'F':
                text = FloatToStrF(a.f, TFloatFormat::ffFixed, 18, prec < 0 ? 2 : prec, fs);
                break;
            case 'G':
                text = FloatToStrF(a.f, TFloatFormat::ffGeneral, prec <= 0 ? 15 : prec, 3, fs);
                break;
            case 'N':
                text = FloatToStrF(a.f, TFloatFormat::ffNumber, 18, prec < 0 ? 2 : prec, fs);
                break;
            default:
                text = FloatToStrF(a.f, TFloatFormat::ffCurrency, 18,
                                   prec < 0 ? fs.CurrencyDecimals : prec, fs);
                break;
            }
        }
        }
        Pad(out, text, width, left);
    }
    return out;
}

std::string Format(std::string_view fmt, const std::vector<TFormatArg>& args) {
    return Format(fmt, args, FormatSettings());
}

// ---- FormatFloat -----------------------------------------------------------------------------

namespace {

// Splits a picture at ";" outside quotes, into at most three sections.
int SplitSections(std::string_view fmt, std::string_view sec[3]) {
    int count = 0;
    size_t start = 0;
    char quote = 0;
    for (size_t i = 0; i <= fmt.size(); ++i) {
        char c = i < fmt.size() ? fmt[i] : ';';
        if (quote) {
            if (c == quote) quote = 0;
            if (i < fmt.size()) continue;
        } else if (c == '"' || c == '\'') {
            quote = c;
            continue;
        }
        if (c == ';' || i == fmt.size()) {
            if (count < 3) sec[count++] = fmt.substr(start, i - start);
            start = i + 1;
            if (count == 3) break;
        }
    }
    return count;
}

struct Picture {
    int intPh = 0;  // digit placeholders before the point
    int minInt = 0; // integer digits always shown (from the first "0" on)
    int decPh = 0;  // digit placeholders after the point
    int minDec = 0; // decimals always shown (up to the last "0")
    bool grouping = false;
    bool scientific = false;
    size_t expPos = 0; // index of the exponent letter
    size_t expEnd = 0; // index after its digits
    bool expAlwaysSign = false;
    int expDigits = 0;
};

// The exponent markers E+ E- e+ e- count only when followed by a "0".
bool ExponentAt(std::string_view s, size_t i) {
    return (s[i] == 'E' || s[i] == 'e') && i + 2 < s.size() &&
           (s[i + 1] == '+' || s[i + 1] == '-') && s[i + 2] == '0';
}

Picture Analyse(std::string_view s) {
    Picture p;
    bool afterPoint = false;
    int firstZero = -1;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"' || c == '\'') {
            size_t close = s.find(c, i + 1);
            i = close == std::string_view::npos ? s.size() : close;
            continue;
        }
        if (ExponentAt(s, i)) {
            p.scientific = true;
            p.expPos = i;
            p.expAlwaysSign = s[i + 1] == '+';
            size_t j = i + 2;
            while (j < s.size() && s[j] == '0') ++j;
            p.expDigits = std::min<int>(static_cast<int>(j - i - 2), 4);
            p.expEnd = j;
            break;
        }
        if (c == '0' || c == '#') {
            if (afterPoint) {
                ++p.decPh;
                if (c == '0') p.minDec = p.decPh;
            } else {
                if (c == '0' && firstZero < 0) firstZero = p.intPh;
                ++p.intPh;
            }
        } else if (c == '.') {
            afterPoint = true;
        } else if (c == ',') {
            if (!afterPoint) p.grouping = true;
        }
    }
    p.minInt = firstZero < 0 ? 0 : p.intPh - firstZero;
    return p;
}

// Lays the digits over the picture: integer digits right-aligned over the integer placeholders
// (extra digits go to the first one), fraction digits left-aligned, literals where they stand.
std::string Render(std::string_view s, const Picture& p, const std::string& intDigits,
                   const std::string& frac, const std::string& expText, const TFormatSettings& fs) {
    std::string out;
    const int nInt = static_cast<int>(intDigits.size());
    const int nFrac = static_cast<int>(frac.size());
    const size_t end = p.scientific ? p.expPos : s.size();
    int intSeen = 0, fracSeen = 0;
    bool afterPoint = false;
    auto emitInt = [&](int from, int to) { // digits [from, to) of intDigits
        for (int k = from; k < to; ++k) {
            out.push_back(intDigits[k]);
            int rest = nInt - 1 - k;
            if (p.grouping && rest > 0 && rest % 3 == 0) out.push_back(fs.ThousandSeparator);
        }
    };
    for (size_t i = 0; i < end; ++i) {
        char c = s[i];
        if (c == '"' || c == '\'') {
            size_t close = s.find(c, i + 1);
            size_t stop = close == std::string_view::npos ? s.size() : close;
            out.append(s.substr(i + 1, stop - i - 1));
            i = stop;
            continue;
        }
        if ((c == '0' || c == '#') && !afterPoint) {
            // Placeholder number intSeen (from the left) of intPh gets the digit whose position
            // from the right equals intPh - 1 - intSeen; the first also takes every extra digit.
            int posFromRight = p.intPh - 1 - intSeen;
            int k = nInt - 1 - posFromRight;
            if (intSeen == 0)
                emitInt(0, std::max(k + 1, 0));
            else if (k >= 0)
                emitInt(k, k + 1);
            ++intSeen;
        } else if ((c == '0' || c == '#') && afterPoint) {
            if (fracSeen < nFrac) out.push_back(frac[fracSeen]);
            ++fracSeen;
        } else if (c == '.') {
            if (!afterPoint) {
                if (p.intPh == 0) emitInt(0, nInt);
                if (nFrac > 0) out.push_back(fs.DecimalSeparator);
            }
            afterPoint = true;
        } else if (c == ',') {
            // a flag, not a character of the result
        } else {
            out.push_back(c);
        }
    }
    if (p.scientific) {
        out += expText;
        out.append(s.substr(p.expEnd));
    }
    return out;
}

std::string FormatSection(std::string_view s, double x, bool withMinus, const TFormatSettings& fs) {
    Picture p = Analyse(s);
    std::string intDigits, frac, expText;
    bool nonZero = false;
    if (p.scientific) {
        int intPh = std::max(p.intPh, 1);
        Decimal v = SignificantDecimal(x, std::min(intPh + p.decPh, 17));
        nonZero = !v.IsZero();
        for (int k = 0; k < intPh; ++k) intDigits.push_back(v.IsZero() ? '0' : DigitAt(v, k));
        for (int k = 0; k < p.decPh; ++k) frac.push_back(v.IsZero() ? '0' : DigitAt(v, intPh + k));
        int e = v.IsZero() ? 0 : v.exp - intPh;
        expText.push_back(s[p.expPos]);
        if (e < 0)
            expText.push_back('-');
        else if (p.expAlwaysSign)
            expText.push_back('+');
        std::string ed = std::to_string(std::abs(e));
        if (static_cast<int>(ed.size()) < p.expDigits) expText.append(p.expDigits - ed.size(), '0');
        expText += ed;
    } else {
        // At most 17 significant digits carry information in a double.
        Decimal v = SignificantDecimal(x, 17);
        RoundAt(v, v.exp + p.decPh);
        nonZero = !v.IsZero();
        intDigits = IntDigits(v);
        if (intDigits == "0") intDigits.clear();
        if (static_cast<int>(intDigits.size()) < p.minInt)
            intDigits.insert(0, p.minInt - intDigits.size(), '0');
        frac = FracDigits(v, p.decPh);
    }
    while (static_cast<int>(frac.size()) > p.minDec && frac.back() == '0') frac.pop_back();
    std::string body = Render(s, p, intDigits, frac, expText, fs);
    return withMinus && nonZero ? "-" + body : body;
}

} // namespace

std::string FormatFloat(std::string_view fmt, double value, const TFormatSettings& fs) {
    if (!std::isfinite(value)) return NonFinite(value);
    std::string_view sec[3];
    int count = SplitSections(fmt, sec);
    int chosen = 0;
    if (value < 0 && count >= 2 && !sec[1].empty())
        chosen = 1;
    else if (value == 0 && count >= 3 && !sec[2].empty())
        chosen = 2;
    std::string_view s = sec[chosen];
    const bool withMinus = value < 0 && chosen == 0;
    if (s.empty()) {
        std::string g = FloatToStrF(std::fabs(value), TFloatFormat::ffGeneral, 15, 0, fs);
        return withMinus && g != "0" ? "-" + g : g;
    }
    Picture p = Analyse(s);
    // Fixed layouts stop at 17 integer digits; larger values use the general format.
    if (!p.scientific && std::fabs(value) >= 1e17) {
        std::string g = FloatToStrF(std::fabs(value), TFloatFormat::ffGeneral, 15, 0, fs);
        return withMinus ? "-" + g : g;
    }
    return FormatSection(s, std::fabs(value), withMinus, fs);
}

std::string FormatFloat(std::string_view fmt, double value) {
    return FormatFloat(fmt, value, FormatSettings());
}

// ---- FormatMaskText --------------------------------------------------------------------------

namespace {

enum class MaskCase { asIs, upper, lower };

struct MaskItem {
    bool placeholder = false;
    char ch = 0; // the literal, or the placeholder letter
    MaskCase kase = MaskCase::asIs;
};

bool IsPlaceholder(char c) {
    return std::string_view("09#LlAaCc").find(c) != std::string_view::npos;
}

} // namespace

std::string FormatMaskText(std::string_view editMask, std::string_view value,
                           const TFormatSettings& fs) {
    // Fields: mask ; save-literals ; blank. A ";" escaped by "\" belongs to the mask.
    std::string_view mask = editMask;
    bool saveLiterals = true;
    char blank = ' ';
    {
        size_t sep = std::string_view::npos;
        for (size_t i = 0; i < editMask.size(); ++i) {
            if (editMask[i] == '\\')
                ++i;
            else if (editMask[i] == ';') {
                sep = i;
                break;
            }
        }
        if (sep != std::string_view::npos) {
            mask = editMask.substr(0, sep);
            std::string_view rest = editMask.substr(sep + 1);
            size_t sep2 = rest.find(';');
            std::string_view save = rest.substr(0, sep2);
            if (!save.empty()) saveLiterals = save[0] != '0';
            if (sep2 != std::string_view::npos && sep2 + 1 < rest.size()) blank = rest[sep2 + 1];
        }
    }

    std::vector<MaskItem> items;
    bool rightAlign = false;
    MaskCase kase = MaskCase::asIs;
    for (size_t i = 0; i < mask.size(); ++i) {
        char c = mask[i];
        if (c == '\\') {
            if (i + 1 < mask.size()) items.push_back({false, mask[++i], MaskCase::asIs});
        } else if (c == '!') {
            rightAlign = true;
        } else if (c == '<' && i + 1 < mask.size() && mask[i + 1] == '>') {
            kase = MaskCase::asIs;
            ++i;
        } else if (c == '>') {
            kase = MaskCase::upper;
        } else if (c == '<') {
            kase = MaskCase::lower;
        } else if (IsPlaceholder(c)) {
            items.push_back({true, c, kase});
        } else if (c == ':') {
            items.push_back({false, fs.TimeSeparator, MaskCase::asIs});
        } else if (c == '/') {
            items.push_back({false, fs.DateSeparator, MaskCase::asIs});
        } else if (c == '_') {
            items.push_back({false, ' ', MaskCase::asIs});
        } else {
            items.push_back({false, c, MaskCase::asIs});
        }
    }

    // The characters that fill placeholders; saved literals in the value are skipped.
    std::string data;
    size_t slots = 0;
    if (saveLiterals) {
        size_t pos = 0;
        for (const MaskItem& it : items) {
            if (it.placeholder) {
                ++slots;
                if (pos < value.size()) data.push_back(value[pos++]);
            } else if (pos < value.size() && value[pos] == it.ch) {
                ++pos;
            }
        }
    } else {
        for (const MaskItem& it : items) slots += it.placeholder;
        data.assign(value.substr(0, std::min(value.size(), slots)));
    }
    size_t skip = rightAlign && data.size() < slots ? slots - data.size() : 0;

    std::string out;
    out.reserve(items.size());
    size_t slot = 0, di = 0;
    for (const MaskItem& it : items) {
        if (!it.placeholder) {
            out.push_back(it.ch);
            continue;
        }
        char c = blank;
        if (slot++ >= skip && di < data.size()) c = data[di++];
        if (it.kase == MaskCase::upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        if (it.kase == MaskCase::lower && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        out.push_back(c);
    }
    return out;
}

std::string FormatMaskText(std::string_view editMask, std::string_view value) {
    return FormatMaskText(editMask, value, FormatSettings());
}

} // namespace pt
