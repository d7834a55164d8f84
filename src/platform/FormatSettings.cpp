#include "platform/FormatSettings.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <string_view>

namespace pt {

namespace {

// The record lives for the whole process; it is built on first use from the environment.
TFormatSettings& Current() {
    static TFormatSettings settings = FormatSettingsFromLocale();
    return settings;
}

// A one-byte separator from a locale text; multi-byte (UTF-8) and empty separators have no
// single-byte form and fall back to `fallback`.
char SeparatorChar(const char* text, char fallback) {
    if (text && text[0] != 0 && text[1] == 0 && static_cast<unsigned char>(text[0]) < 0x80)
        return text[0];
    return fallback;
}

// Translates a strftime picture ("%d.%m.%Y", "%H:%M:%S", "%I:%M:%S %p") into the classic
// date-time picture ("dd.mm.yyyy", "hh:nn:ss", "hh:nn:ss ampm"). Unknown directives are dropped.
std::string PictureFromStrftime(std::string_view f, bool timePicture) {
    std::string out;
    for (size_t i = 0; i < f.size(); ++i) {
        char c = f[i];
        if (c != '%') {
            if (c == '\'' || c == '"') continue;
            out += c;
            continue;
        }
        if (++i >= f.size()) break;
        c = f[i];
        while ((c == 'E' || c == 'O' || c == '-' || c == '_' || c == '0') && i + 1 < f.size())
            c = f[++i];
        switch (c) {
        case 'd':
            out += "dd";
            break;
        case 'e':
            out += "d";
            break;
        case 'm':
            out += "mm";
            break;
        case 'y':
            out += "yy";
            break;
        case 'Y':
            out += "yyyy";
            break;
        case 'b':
        case 'h':
            out += "mmm";
            break;
        case 'B':
            out += "mmmm";
            break;
        case 'a':
            out += "ddd";
            break;
        case 'A':
            out += "dddd";
            break;
        case 'H':
            out += "hh";
            break;
        case 'k':
            out += "h";
            break;
        case 'I':
            out += "hh";
            break;
        case 'l':
            out += "h";
            break;
        case 'M':
            out += timePicture ? "nn" : "mm";
            break;
        case 'S':
            out += "ss";
            break;
        case 'p':
        case 'P':
            out += "ampm";
            break;
        case 'T':
            out += "hh:nn:ss";
            break;
        case 'R':
            out += "hh:nn";
            break;
        case 'r':
            out += "hh:nn:ss ampm";
            break;
        case 'D':
            out += "mm/dd/yy";
            break;
        case 'F':
            out += "yyyy-mm-dd";
            break;
        case '%':
            out += '%';
            break;
        default:
            break;
        }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

char FirstSeparator(const std::string& picture, char fallback) {
    for (char c : picture) {
        if (c == ' ' || c == ',') continue;
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return c;
    }
    return fallback;
}

// Drops the seconds group (":ss") of a long time picture to obtain the short one.
std::string WithoutSeconds(std::string t) {
    size_t p = t.find("ss");
    if (p == std::string::npos) return t;
    size_t start = p;
    while (start > 0 && t[start - 1] != 'n' && t[start - 1] != 'm') --start;
    t.erase(start, p + 2 - start);
    return t;
}

} // namespace

const TFormatSettings& FormatSettings() noexcept {
    return Current();
}

void SetFormatSettings(const TFormatSettings& settings) {
    Current() = settings;
}

TFormatSettings DefaultFormatSettings() {
    return TFormatSettings{};
}

TFormatSettings FormatSettingsFromLocale() {
    TFormatSettings fs;
    // The "C"/"POSIX" locales (also "C.UTF-8") map to the English defaults.
    const char* envName = nullptr;
    for (const char* var : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* v = std::getenv(var);
        if (v && *v) {
            envName = v;
            break;
        }
    }
    std::string_view name = envName ? envName : "C";
    if (name == "C" || name == "POSIX" || name.starts_with("C.")) return fs;
    locale_t loc = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) return fs;
    const char* dfmt = nl_langinfo_l(D_FMT, loc);
    const char* radix = nl_langinfo_l(RADIXCHAR, loc);
    std::string_view dfmtv = dfmt ? dfmt : "";
    bool isC = dfmtv == "%m/%d/%y" && radix && std::string_view(radix) == "." &&
               std::string_view(nl_langinfo_l(AM_STR, loc)) == "AM" &&
               std::string_view(nl_langinfo_l(MON_1, loc)) == "January" &&
               std::string_view(nl_langinfo_l(THOUSEP, loc)).empty();
    if (isC) {
        freelocale(loc);
        return fs;
    }
    fs.DecimalSeparator = SeparatorChar(radix, '.');
    fs.ThousandSeparator =
        SeparatorChar(nl_langinfo_l(THOUSEP, loc), fs.DecimalSeparator == ',' ? '.' : ',');
    if (fs.ThousandSeparator == fs.DecimalSeparator)
        fs.ThousandSeparator = fs.DecimalSeparator == ',' ? '.' : ',';
    fs.ListSeparator = fs.DecimalSeparator == ',' ? ';' : ',';

    std::string shortDate = PictureFromStrftime(dfmtv, false);
    if (!shortDate.empty()) fs.ShortDateFormat = shortDate;
    fs.DateSeparator = FirstSeparator(fs.ShortDateFormat, '/');
    // Day-first and year-first orders get a long picture in the same order.
    size_t dpos = fs.ShortDateFormat.find('d'), mpos = fs.ShortDateFormat.find('m'),
           ypos = fs.ShortDateFormat.find('y');
    if (ypos < mpos && mpos < dpos)
        fs.LongDateFormat = "yyyy mmmm d, dddd";
    else if (dpos < mpos)
        fs.LongDateFormat = "dddd, d mmmm yyyy";
    else
        fs.LongDateFormat = "dddd, mmmm d, yyyy";

    std::string longTime = PictureFromStrftime(nl_langinfo_l(T_FMT, loc), true);
    if (!longTime.empty()) {
        fs.LongTimeFormat = longTime;
        fs.ShortTimeFormat = WithoutSeconds(longTime);
        fs.TimeSeparator = FirstSeparator(longTime, ':');
    }
    fs.TimeAMString = nl_langinfo_l(AM_STR, loc);
    fs.TimePMString = nl_langinfo_l(PM_STR, loc);
    if (fs.TimeAMString.empty() || fs.TimePMString.empty()) {
        fs.TimeAMString = "AM";
        fs.TimePMString = "PM";
    }
    static const nl_item mon[12] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                    MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
    static const nl_item abmon[12] = {ABMON_1, ABMON_2, ABMON_3, ABMON_4,  ABMON_5,  ABMON_6,
                                      ABMON_7, ABMON_8, ABMON_9, ABMON_10, ABMON_11, ABMON_12};
    static const nl_item day[7] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
    static const nl_item abday[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4, ABDAY_5, ABDAY_6, ABDAY_7};
    for (int i = 0; i < 12; ++i) {
        fs.LongMonthNames[i] = nl_langinfo_l(mon[i], loc);
        fs.ShortMonthNames[i] = nl_langinfo_l(abmon[i], loc);
    }
    for (int i = 0; i < 7; ++i) {
        fs.LongDayNames[i] = nl_langinfo_l(day[i], loc);
        fs.ShortDayNames[i] = nl_langinfo_l(abday[i], loc);
    }
    // CRNCYSTR: a leading '-' puts the symbol before the value, '+' after it.
    std::string_view cur = nl_langinfo_l(CRNCYSTR, loc);
    if (cur.size() > 1) {
        fs.CurrencyString = std::string(cur.substr(1));
        fs.CurrencyFormat = cur[0] == '+' ? 3 : 0;
        fs.NegCurrFormat = cur[0] == '+' ? 8 : 1;
    }
    freelocale(loc);
    return fs;
}

} // namespace pt
