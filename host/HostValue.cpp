#include "HostValue.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace pt::host {

Value Value::null() {
    Value v;
    v.v_.vt = PT_VAR_NULL;
    return v;
}
Value Value::integer(int32_t x) {
    Value v;
    pt_value_set_int(&v.v_, x);
    return v;
}
Value Value::int64(int64_t x) {
    Value v;
    pt_value_set_int64(&v.v_, x);
    return v;
}
Value Value::dbl(double x) {
    Value v;
    pt_value_set_double(&v.v_, x);
    return v;
}
Value Value::boolean(bool x) {
    Value v;
    pt_value_set_bool(&v.v_, x);
    return v;
}
Value Value::text(std::string_view utf8) {
    Value v;
    v.v_.vt = PT_VAR_OLESTR;
    if (utf8.empty()) return v;
    size_t units = 0;
    for (unsigned char c : utf8) units += (c & 0xC0) != 0x80 ? ((c >= 0xF0) ? 2 : 1) : 0;
    uint16_t* w = pt_wstr_new(nullptr, static_cast<uint32_t>(units));
    if (!w) throw std::bad_alloc();
    v.v_.u.wstr = w;
    // Filled in place; valid UTF-8 (which callers guarantee) needs exactly `units` units.
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    size_t n = utf8.size(), i = 0, o = 0;
    while (i < n && o < units) {
        unsigned c = p[i];
        uint32_t cp;
        size_t len;
        if (c < 0x80)
            cp = c, len = 1;
        else if (c < 0xE0)
            cp = c & 0x1F, len = 2;
        else if (c < 0xF0)
            cp = c & 0x0F, len = 3;
        else
            cp = c & 0x07, len = 4;
        if (len > n - i) len = n - i;
        for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (p[i + k] & 0x3F);
        i += len;
        if (cp >= 0x10000 && o + 1 < units) {
            cp -= 0x10000;
            w[o++] = static_cast<uint16_t>(0xD800 + (cp >> 10));
            w[o++] = static_cast<uint16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            w[o++] = static_cast<uint16_t>(cp < 0x10000 ? cp : 0xFFFD);
        }
    }
    return v;
}

// ---- UTF-8 / UTF-16 ----------------------------------------------------------------------

size_t utf8InvalidAt(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t n = s.size(), i = 0;
    while (i < n) {
        unsigned c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF)
            len = 2, cp = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF)
            len = 3, cp = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4)
            len = 4, cp = c & 0x07;
        else
            return i;
        if (n - i < len) return i;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return i;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return i;
        i += len;
    }
    return std::string_view::npos;
}

void utf8ToUtf16(std::string_view s, std::u16string& out) {
    out.clear();
    out.reserve(s.size());
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t n = s.size(), i = 0;
    while (i < n) {
        unsigned c = p[i];
        uint32_t cp;
        size_t len;
        if (c < 0x80)
            cp = c, len = 1;
        else if (c < 0xE0)
            cp = c & 0x1F, len = 2;
        else if (c < 0xF0)
            cp = c & 0x0F, len = 3;
        else
            cp = c & 0x07, len = 4;
        if (len > n - i || (c >= 0x80 && c < 0xC2)) {
            out.push_back(0xFFFD); // callers validate first; this keeps bad input harmless
            ++i;
            continue;
        }
        for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (p[i + k] & 0x3F);
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
}

static void appendCodePoint(uint32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void utf16ToUtf8(const uint16_t* s, size_t units, std::string& out) {
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = s[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            appendCodePoint(0x10000 + ((u - 0xD800) << 10) + (s[i + 1] - 0xDC00), out);
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            appendCodePoint(0xFFFD, out);
        } else {
            appendCodePoint(u, out);
        }
    }
}

// ---- text forms --------------------------------------------------------------------------

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
static void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
}

void appendIsoDate(double days, std::string& out) {
    // The integral part counts days, the fraction's magnitude is the time of day, also for
    // dates before 1899-12-30 (-1.25 is 1899-12-29 06:00).
    double whole = std::trunc(days);
    int64_t ms = std::llround(std::fabs(days - whole) * 86400000.0);
    int64_t day = static_cast<int64_t>(whole);
    if (ms >= 86400000) {
        ms -= 86400000;
        day += days < 0 ? -1 : 1;
    }
    int64_t y;
    unsigned m, d;
    civilFromDays(day - 25569, y, m, d);
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02d:%02d:%02d",
                          static_cast<long long>(y), m, d, static_cast<int>(ms / 3600000),
                          static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60));
    out.append(buf, n);
    if (ms % 1000) {
        n = std::snprintf(buf, sizeof buf, ".%03d", static_cast<int>(ms % 1000));
        out.append(buf, n);
    }
}

template <class F> static void appendFloat(F x, std::string& out) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, x);
    std::string_view t(buf, r.ptr - buf);
    out.append(t);
    if (t.find_first_of(".eEn") == std::string_view::npos) out.append(".0");
}

void appendDouble(double x, std::string& out) {
    appendFloat(x, out);
}

static void appendInt(int64_t x, std::string& out) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, x);
    out.append(buf, r.ptr - buf);
}

static void appendCurrency(int64_t x, std::string& out) {
    uint64_t mag = x < 0 ? 0 - static_cast<uint64_t>(x) : static_cast<uint64_t>(x);
    if (x < 0) out.push_back('-');
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, mag / 10000);
    out.append(buf, r.ptr - buf);
    unsigned frac = static_cast<unsigned>(mag % 10000);
    char f[5];
    std::snprintf(f, sizeof f, "%04u", frac);
    size_t len = 4;
    while (len > 1 && f[len - 1] == '0') --len;
    out.push_back('.');
    out.append(f, len);
}

bool isNullLike(const PtValue& v) {
    switch (v.vt) {
    case PT_VAR_EMPTY:
    case PT_VAR_NULL:
    case PT_VAR_ERROR:
    case PT_VAR_DISPATCH:
    case PT_VAR_UNKNOWN:
        return true;
    case PT_VAR_SINGLE:
        return !std::isfinite(v.u.f32);
    case PT_VAR_DOUBLE:
    case PT_VAR_DATE:
        return !std::isfinite(v.u.f64);
    default:
        return (v.vt & PT_VAR_BYREF) != 0 || ((v.vt & PT_VAR_ARRAY) && !v.u.arr);
    }
}

// Writes the scalar kinds both text forms share; false for text, arrays and null-likes.
static bool appendNumberLike(const PtValue& v, std::string& out) {
    switch (v.vt) {
    case PT_VAR_SMALLINT:
        appendInt(v.u.i16, out);
        return true;
    case PT_VAR_INTEGER:
        appendInt(v.u.i32, out);
        return true;
    case PT_VAR_SHORTINT:
        appendInt(v.u.i8, out);
        return true;
    case PT_VAR_BYTE:
        appendInt(v.u.u8, out);
        return true;
    case PT_VAR_WORD:
        appendInt(v.u.u16, out);
        return true;
    case PT_VAR_LONGWORD:
        appendInt(v.u.u32, out);
        return true;
    case PT_VAR_INT64:
        appendInt(v.u.i64, out);
        return true;
    case PT_VAR_SINGLE:
        appendFloat(v.u.f32, out);
        return true;
    case PT_VAR_DOUBLE:
        appendDouble(v.u.f64, out);
        return true;
    case PT_VAR_CURRENCY:
        appendCurrency(v.u.i64, out);
        return true;
    case PT_VAR_BOOLEAN:
        out.append(v.u.boolean ? "true" : "false");
        return true;
    default:
        return false;
    }
}

static void appendJsonArray(const PtArray* a, unsigned dim, size_t& index, std::string& out) {
    out.push_back('[');
    for (int32_t i = 0; i < a->bounds[dim].count; ++i) {
        if (i) out.push_back(',');
        if (dim + 1 < a->dims) {
            appendJsonArray(a, dim + 1, index, out);
        } else {
            appendJsonValue(a->items[index++], out);
        }
    }
    out.push_back(']');
}

void appendJsonValue(const PtValue& v, std::string& out) {
    if (isNullLike(v)) {
        out.append("null");
    } else if (v.vt & PT_VAR_ARRAY) {
        size_t index = 0;
        appendJsonArray(v.u.arr, 0, index, out);
    } else if (v.vt == PT_VAR_DATE) {
        out.push_back('"');
        appendIsoDate(v.u.f64, out);
        out.push_back('"');
    } else if (v.vt == PT_VAR_OLESTR) {
        std::string utf8;
        utf16ToUtf8(v.u.wstr, pt_wstr_units(v.u.wstr), utf8);
        appendJsonString(utf8, out);
    } else if (v.vt == PT_VAR_STRING) {
        appendJsonString(std::string_view(v.u.str, pt_str_bytes(v.u.str)), out);
    } else if (!appendNumberLike(v, out)) {
        out.append("null");
    }
}

void appendJsonString(std::string_view s, std::string& out) {
    static const char hex[] = "0123456789abcdef";
    out.push_back('"');
    size_t i = 0;
    while (i < s.size()) {
        size_t bad = utf8InvalidAt(s.substr(i));
        std::string_view good = s.substr(i, bad == std::string_view::npos ? s.size() - i : bad);
        size_t start = 0;
        for (size_t k = 0; k < good.size(); ++k) {
            unsigned char c = static_cast<unsigned char>(good[k]);
            if (c >= 0x20 && c != '"' && c != '\\') continue;
            out.append(good.substr(start, k - start));
            start = k + 1;
            switch (c) {
            case '"':
                out.append("\\\"");
                break;
            case '\\':
                out.append("\\\\");
                break;
            case '\n':
                out.append("\\n");
                break;
            case '\r':
                out.append("\\r");
                break;
            case '\t':
                out.append("\\t");
                break;
            default:
                out.append("\\u00");
                out.push_back(hex[c >> 4]);
                out.push_back(hex[c & 15]);
            }
        }
        out.append(good.substr(start));
        i += good.size();
        if (i < s.size()) {
            out.append("\xEF\xBF\xBD");
            ++i;
        }
    }
    out.push_back('"');
}

void appendPlainText(const PtValue& v, std::string& out) {
    if (isNullLike(v)) return;
    if (v.vt & PT_VAR_ARRAY) {
        appendJsonValue(v, out);
    } else if (v.vt == PT_VAR_DATE) {
        appendIsoDate(v.u.f64, out);
    } else if (v.vt == PT_VAR_OLESTR) {
        utf16ToUtf8(v.u.wstr, pt_wstr_units(v.u.wstr), out);
    } else if (v.vt == PT_VAR_STRING) {
        out.append(v.u.str ? v.u.str : "", pt_str_bytes(v.u.str));
    } else {
        appendNumberLike(v, out);
    }
}

} // namespace pt::host
