// The process-wide format settings: separators, date and time formats, month and day names,
// currency. Filled once from the environment's locale (the "C" and "POSIX" locales map to the
// conventional English defaults); tests set them explicitly. Every conversion between values
// and text reads this record and nothing else reads the locale.
//
// Thread rule: the record is replaced only at start-up or by tests, before scripts run;
// readers take a plain reference.
#pragma once

#include <array>
#include <string>

namespace pt {

struct TFormatSettings {
    char DecimalSeparator = '.';
    char ThousandSeparator = ',';
    char DateSeparator = '/';
    char TimeSeparator = ':';
    char ListSeparator = ',';
    std::string ShortDateFormat = "M/d/yyyy";
    std::string LongDateFormat = "dddd, MMMM d, yyyy";
    std::string ShortTimeFormat = "h:mm AMPM";
    std::string LongTimeFormat = "h:mm:ss AMPM";
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";
    std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> LongMonthNames{"January", "February", "March",     "April",
                                               "May",     "June",     "July",      "August",
                                               "September", "October", "November", "December"};
    // Index 0 is Sunday.
    std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::array<std::string, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
    std::string CurrencyString = "$";
    unsigned char CurrencyFormat = 0; // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
    unsigned char NegCurrFormat = 0;  // 0 "($1)", 1 "-$1", ... as the classic table
    unsigned char CurrencyDecimals = 2;
    int TwoDigitYearCenturyWindow = 50;
};

// The current record.
const TFormatSettings& FormatSettings() noexcept;
// Replaces the record (start-up and tests only).
void SetFormatSettings(const TFormatSettings& settings);
// The conventional English defaults (what the "C" locale maps to).
TFormatSettings DefaultFormatSettings();
// Reads the environment's locale (LC_NUMERIC, LC_TIME, LC_MONETARY) into a record.
TFormatSettings FormatSettingsFromLocale();

} // namespace pt
