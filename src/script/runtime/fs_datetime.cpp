#include "script/runtime/fs_datetime.h"

#include "script/runtime/fs_errors.h"
#include "script/runtime/fs_variant.h"

#include <cmath>
#include <ctime>
#include <sys/time.h>

namespace pt {

namespace {

constexpr int64_t kMSecs = 86400000;
// days_from_civil(1899, 12, 30) relative to 1970-01-01.
constexpr int64_t kEpochOffset = 25569;

// Days since 1970-01-01 of a proleptic Gregorian date (Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

std::string Pad(int value, int width) {
    std::string s = std::to_string(value);
    if (static_cast<int>(s.size()) < width) s.insert(0, width - s.size(), '0');
    return s;
}

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

bool StartsWithNoCase(std::string_view s, size_t pos, std::string_view what) {
    if (what.empty() || s.size() - pos < what.size()) return false;
    for (size_t i = 0; i < what.size(); ++i)
        if (Upper(s[pos + i]) != Upper(what[i])) return false;
    return true;
}

// An am/pm marker in a picture: 1 "am/pm", 2 "a/p", 3 "ampm", 0 none; `len` its length.
int AmPmMarker(std::string_view f, size_t i, size_t& len) {
    if (StartsWithNoCase(f, i, "am/pm")) return len = 5, 1;
    if (StartsWithNoCase(f, i, "a/p")) return len = 3, 2;
    if (StartsWithNoCase(f, i, "ampm")) return len = 4, 3;
    return len = 0, 0;
}

// True when the picture holds an am/pm marker (outside quotes): its hours use the 12-hour clock.
bool HasAmPm(std::string_view f) {
    char quote = 0;
    size_t i = 0;
    for (; i < f.size(); ++i) {
        char c = f[i];
        if (quote) {
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
            continue;
        }
        size_t len;
        if (Upper(c) == 'A' && AmPmMarker(f, i, len)) return true;
    }
    return false;
}

class DateFormatter {
public:
    DateFormatter(const TDateTimeParts& p, const TFormatSettings& fs) : p_(p), fs_(fs) {}

    void Run(std::string_view f, int depth) {
        if (depth > 2) return; // regional pictures naming each other
        char lastToken = 0;
        size_t i = 0;
        while (i < f.size()) {
            const char c = f[i];
            const char u = Upper(c);
            size_t n = 1;
            while (i + n < f.size() && Upper(f[i + n]) == u) ++n;
            switch (u) {
            case '"':
            case '\'': {
                size_t end = f.find(c, i + 1);
                if (end == std::string_view::npos) end = f.size();
                out_.append(f.substr(i + 1, end - i - 1));
                i = end + 1;
                continue;
            }
            case 'Y':
            case 'E':
                out_ += n <= 2 ? Pad(p_.year % 100, 2) : Pad(p_.year, 4);
                lastToken = 'Y';
                break;
            case 'M':
                if (lastToken == 'H') {
                    out_ += n == 1 ? std::to_string(p_.minute) : Pad(p_.minute, 2);
                    lastToken = 'N';
                } else {
                    if (n == 1)
                        out_ += std::to_string(p_.month);
                    else if (n == 2)
                        out_ += Pad(p_.month, 2);
                    else if (n == 3)
                        out_ += fs_.ShortMonthNames[p_.month - 1];
                    else
                        out_ += fs_.LongMonthNames[p_.month - 1];
                    lastToken = 'M';
                }
                break;
            case 'D':
                if (n == 1)
                    out_ += std::to_string(p_.day);
                else if (n == 2)
                    out_ += Pad(p_.day, 2);
                else if (n == 3)
                    out_ += fs_.ShortDayNames[p_.dayOfWeek - 1];
                else if (n == 4)
                    out_ += fs_.LongDayNames[p_.dayOfWeek - 1];
                else if (n == 5)
                    Run(fs_.ShortDateFormat, depth + 1);
                else
                    Run(fs_.LongDateFormat, depth + 1);
                lastToken = 'D';
                break;
            case 'H': {
                int h = p_.hour;
                if (HasAmPm(f)) {
                    h %= 12;
                    if (h == 0) h = 12;
                }
                out_ += n == 1 ? std::to_string(h) : Pad(h, 2);
                lastToken = 'H';
                break;
            }
            case 'N':
                out_ += n == 1 ? std::to_string(p_.minute) : Pad(p_.minute, 2);
                lastToken = 'N';
                break;
            case 'S':
                out_ += n == 1 ? std::to_string(p_.second) : Pad(p_.second, 2);
                lastToken = 'S';
                break;
            case 'Z':
                out_ += n == 1 ? std::to_string(p_.msec) : Pad(p_.msec, 3);
                lastToken = 'Z';
                break;
            case 'T':
                Run(n == 1 ? fs_.ShortTimeFormat : fs_.LongTimeFormat, depth + 1);
                lastToken = 'T';
                break;
            case 'C':
                Run(fs_.ShortDateFormat, depth + 1);
                if (p_.hour || p_.minute || p_.second || p_.msec) {
                    out_ += ' ';
                    Run(fs_.LongTimeFormat, depth + 1);
                }
                lastToken = 'C';
                n = 1;
                break;
            case 'A': {
                size_t len;
                int kind = AmPmMarker(f, i, len);
                bool pm = p_.hour >= 12;
                if (kind == 1)
                    out_.append(f.substr(pm ? i + 3 : i, 2));
                else if (kind == 2)
                    out_.append(f.substr(pm ? i + 2 : i, 1));
                else if (kind == 3)
                    out_ += pm ? fs_.TimePMString : fs_.TimeAMString;
                else {
                    out_ += c;
                    len = 1;
                }
                i += len;
                continue;
            }
            case '/':
                out_ += fs_.DateSeparator;
                n = 1;
                break;
            case ':':
                out_ += fs_.TimeSeparator;
                n = 1;
                break;
            default:
                out_ += c;
                n = 1;
                break;
            }
            i += n;
        }
    }

    std::string Take() { return std::move(out_); }

private:
    const TDateTimeParts& p_;
    const TFormatSettings& fs_;
    std::string out_;
};

// ---- reading -------------------------------------------------------------------------------

struct Scanner {
    std::string_view s;
    size_t pos = 0;

    void Blanks() {
        while (pos < s.size() && s[pos] == ' ') ++pos;
    }
    bool AtEnd() {
        Blanks();
        return pos >= s.size();
    }
    // Up to 9 digits after optional blanks; `digits` receives how many were read.
    bool Number(int& value, int& digits) {
        Blanks();
        size_t start = pos;
        int64_t v = 0;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && pos - start < 9)
            v = v * 10 + (s[pos++] - '0');
        digits = static_cast<int>(pos - start);
        value = static_cast<int>(v);
        return digits > 0;
    }
    bool Char(char c) {
        Blanks();
        if (pos < s.size() && s[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    }
    bool Text(std::string_view what) {
        Blanks();
        if (StartsWithNoCase(s, pos, what)) {
            pos += what.size();
            return true;
        }
        return false;
    }
};

enum DateOrder { doMDY, doDMY, doYMD };

DateOrder OrderOf(const std::string& picture) {
    for (char c : picture) {
        switch (Upper(c)) {
        case 'D':
            return doDMY;
        case 'Y':
            return doYMD;
        case 'M':
            return doMDY;
        default:
            break;
        }
    }
    return doMDY;
}

int CurrentYear() {
    time_t t = time(nullptr);
    struct tm tmv;
    localtime_r(&t, &tmv);
    return tmv.tm_year + 1900;
}

bool ScanDate(Scanner& sc, double& value, const TFormatSettings& fs) {
    int n1, n2, n3 = 0, l1, l2, l3 = 0;
    if (!sc.Number(n1, l1) || !sc.Char(fs.DateSeparator) || !sc.Number(n2, l2)) return false;
    bool three = false;
    if (sc.Char(fs.DateSeparator)) {
        if (!sc.Number(n3, l3)) return false;
        three = true;
    }
    DateOrder order = OrderOf(fs.ShortDateFormat);
    int y, m, d, yDigits;
    if (!three) {
        y = CurrentYear();
        yDigits = 4;
        if (order == doDMY)
            d = n1, m = n2;
        else
            m = n1, d = n2;
    } else if (order == doYMD || (l1 > 2 && n1 > 31)) { // "2024/3/5" in any order
        y = n1, m = n2, d = n3, yDigits = l1;
    } else if (order == doDMY) {
        d = n1, m = n2, y = n3, yDigits = l3;
    } else {
        m = n1, d = n2, y = n3, yDigits = l3;
    }
    if (yDigits <= 2) {
        int base = CurrentYear() - fs.TwoDigitYearCenturyWindow;
        y += base / 100 * 100;
        if (fs.TwoDigitYearCenturyWindow > 0 && y < base) y += 100;
    }
    return TryEncodeDate(y, m, d, value);
}

bool ScanAmPm(Scanner& sc, const TFormatSettings& fs, int& ampm) {
    ampm = 0;
    if (sc.Text(fs.TimeAMString) || sc.Text("AM"))
        ampm = 1;
    else if (sc.Text(fs.TimePMString) || sc.Text("PM"))
        ampm = 2;
    return ampm != 0;
}

bool ScanTime(Scanner& sc, double& value, const TFormatSettings& fs) {
    int ampm = 0;
    int h, n = 0, s = 0, ms = 0, len;
    bool leadingMarker = ScanAmPm(sc, fs, ampm);
    if (!sc.Number(h, len)) return false;
    if (sc.Char(fs.TimeSeparator)) {
        if (!sc.Number(n, len)) return false;
        if (sc.Char(fs.TimeSeparator)) {
            if (!sc.Number(s, len)) return false;
            if (sc.Char(fs.DecimalSeparator)) {
                if (!sc.Number(ms, len)) return false;
                // Fraction digits are a fraction of a second: .5 is 500 ms.
                while (len < 3) ms *= 10, ++len;
                while (len > 3) ms /= 10, --len;
            }
        }
    }
    if (!leadingMarker) ScanAmPm(sc, fs, ampm);
    if (ampm) {
        if (h < 1 || h > 12) return false;
        if (h == 12) h = 0;
        if (ampm == 2) h += 12;
    }
    return TryEncodeTime(h, n, s, ms, value);
}

[[noreturn]] void RaiseConvert(const char* fmt, std::string_view text) {
    std::string msg = fmt;
    size_t p = msg.find("%s");
    msg.replace(p, 2, text);
    RaiseError(kEConvertError, std::move(msg));
}

} // namespace

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return days[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool TryEncodeDate(int year, int month, int day, double& value) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return false;
    value = static_cast<double>(DaysFromCivil(year, month, day) + kEpochOffset);
    return true;
}

double EncodeDate(int year, int month, int day) {
    double v;
    if (!TryEncodeDate(year, month, day, v))
        RaiseError(kEConvertError, "Invalid argument to date encode");
    return v;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, double& value) {
    if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 ||
        msec < 0 || msec >= 1000)
        return false;
    value = ((hour * 3600000.0) + minute * 60000.0 + second * 1000.0 + msec) / kMSecsPerDay;
    return true;
}

double EncodeTime(int hour, int minute, int second, int msec) {
    double v;
    if (!TryEncodeTime(hour, minute, second, msec, v))
        RaiseError(kEConvertError, "Invalid argument to time encode");
    return v;
}

bool TryDecodeDateTime(double value, TDateTimeParts& p) {
    if (!(value >= kMinDateTime && value < kMaxDateTime)) return false; // also NaN
    int64_t day = static_cast<int64_t>(value); // toward zero: the calendar day
    int64_t ms = std::llround(std::fabs(value - static_cast<double>(day)) * kMSecsPerDay);
    if (ms >= kMSecs) {
        ms -= kMSecs;
        ++day;
    }
    if (day >= static_cast<int64_t>(kMaxDateTime)) return false;
    CivilFromDays(day - kEpochOffset, p.year, p.month, p.day);
    p.hour = static_cast<int>(ms / 3600000);
    p.minute = static_cast<int>(ms / 60000 % 60);
    p.second = static_cast<int>(ms / 1000 % 60);
    p.msec = static_cast<int>(ms % 1000);
    // 1899-12-30 (day 0) was a Saturday.
    p.dayOfWeek = static_cast<int>(((day % 7) + 7 + 6) % 7) + 1;
    return true;
}

TDateTimeParts DecodeDateTime(double value) {
    TDateTimeParts p;
    if (!TryDecodeDateTime(value, p))
        RaiseError(kEConvertError,
                   "'" + FloatToText(value, FormatSettings()) + "' is not a valid date and time");
    return p;
}

void DecodeDate(double value, int& year, int& month, int& day) {
    TDateTimeParts p = DecodeDateTime(value);
    year = p.year, month = p.month, day = p.day;
}

void DecodeTime(double value, int& hour, int& minute, int& second, int& msec) {
    TDateTimeParts p = DecodeDateTime(value);
    hour = p.hour, minute = p.minute, second = p.second, msec = p.msec;
}

int DayOfWeek(double value) {
    return DecodeDateTime(value).dayOfWeek;
}

std::string FormatDateTime(std::string_view format, double value, const TFormatSettings& fs) {
    TDateTimeParts p = DecodeDateTime(value);
    DateFormatter f(p, fs);
    if (format.empty())
        f.Run("c", 0);
    else
        f.Run(format, 0);
    return f.Take();
}

std::string DateToStr(double value, const TFormatSettings& fs) {
    return FormatDateTime(fs.ShortDateFormat, value, fs);
}

std::string TimeToStr(double value, const TFormatSettings& fs) {
    return FormatDateTime(fs.LongTimeFormat, value, fs);
}

std::string DateTimeToStr(double value, const TFormatSettings& fs) {
    return FormatDateTime("c", value, fs);
}

std::string VarDateToStr(double value, const TFormatSettings& fs) {
    TDateTimeParts p = DecodeDateTime(value);
    bool hasTime = p.hour || p.minute || p.second || p.msec;
    bool dayZero = p.year == 1899 && p.month == 12 && p.day == 30;
    if (dayZero && hasTime) return FormatDateTime(fs.LongTimeFormat, value, fs);
    return FormatDateTime("c", value, fs);
}

bool TryStrToDate(std::string_view text, double& value, const TFormatSettings& fs) {
    Scanner sc{text};
    double v;
    if (!ScanDate(sc, v, fs) || !sc.AtEnd()) return false;
    value = v;
    return true;
}

bool TryStrToTime(std::string_view text, double& value, const TFormatSettings& fs) {
    Scanner sc{text};
    double v;
    if (!ScanTime(sc, v, fs) || !sc.AtEnd()) return false;
    value = v;
    return true;
}

bool TryStrToDateTime(std::string_view text, double& value, const TFormatSettings& fs) {
    Scanner sc{text};
    double date, time = 0;
    if (ScanDate(sc, date, fs)) {
        if (!sc.AtEnd() && (!ScanTime(sc, time, fs) || !sc.AtEnd())) return false;
        value = date < 0 ? date - time : date + time;
        return true;
    }
    return TryStrToTime(text, value, fs);
}

double StrToDate(std::string_view text, const TFormatSettings& fs) {
    double v;
    if (!TryStrToDate(text, v, fs)) RaiseConvert("'%s' is not a valid date", text);
    return v;
}

double StrToTime(std::string_view text, const TFormatSettings& fs) {
    double v;
    if (!TryStrToTime(text, v, fs)) RaiseConvert("'%s' is not a valid time", text);
    return v;
}

double StrToDateTime(std::string_view text, const TFormatSettings& fs) {
    double v;
    if (!TryStrToDateTime(text, v, fs)) RaiseConvert("'%s' is not a valid date and time", text);
    return v;
}

bool TryStrToDateTimeISO(std::string_view text, double& value) {
    Scanner sc{text};
    sc.Blanks();
    auto fixed = [&](int width, int& out) {
        if (sc.s.size() - sc.pos < static_cast<size_t>(width)) return false;
        out = 0;
        for (int k = 0; k < width; ++k) {
            char c = sc.s[sc.pos + k];
            if (c < '0' || c > '9') return false;
            out = out * 10 + (c - '0');
        }
        sc.pos += width;
        return true;
    };
    auto lit = [&](char c) {
        if (sc.pos < sc.s.size() && sc.s[sc.pos] == c) return ++sc.pos, true;
        return false;
    };
    int y, m, d, h = 0, n = 0, s = 0, ms = 0;
    if (!fixed(4, y) || !lit('-') || !fixed(2, m) || !lit('-') || !fixed(2, d)) return false;
    double date, time = 0;
    if (!TryEncodeDate(y, m, d, date)) return false;
    if (lit('T') || lit(' ')) {
        if (!fixed(2, h) || !lit(':') || !fixed(2, n)) return false;
        if (lit(':')) {
            if (!fixed(2, s)) return false;
            if (lit('.')) {
                int digits = 0;
                ms = 0;
                while (sc.pos < sc.s.size() && sc.s[sc.pos] >= '0' && sc.s[sc.pos] <= '9') {
                    if (digits < 3) ms = ms * 10 + (sc.s[sc.pos] - '0');
                    ++digits, ++sc.pos;
                }
                if (digits == 0) return false;
                for (int k = digits; k < 3; ++k) ms *= 10;
            }
        }
        if (!TryEncodeTime(h, n, s, ms, time)) return false;
    }
    if (!sc.AtEnd()) return false;
    value = date + time;
    return true;
}

double NowDateTime() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    time_t t = tv.tv_sec;
    struct tm tmv;
    localtime_r(&t, &tmv);
    double date = static_cast<double>(
        DaysFromCivil(tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday) + kEpochOffset);
    double time = (tmv.tm_hour * 3600000.0 + tmv.tm_min * 60000.0 + tmv.tm_sec * 1000.0 +
                   static_cast<double>(tv.tv_usec / 1000)) /
                  kMSecsPerDay;
    return date + time;
}

} // namespace pt
