// Date-time values: a double counting days since 1899-12-30, the fraction being the time of
// day. For negative values the fraction is taken as a magnitude: -1.25 is 1899-12-29 06:00.
// Valid calendar dates run from 0001-01-01 to 9999-12-31.
//
// Every function that reads or writes text takes the format settings explicitly; the value
// conversions pass the process-wide record.
#pragma once

#include "platform/FormatSettings.h"

#include <string>
#include <string_view>

namespace pt {

inline constexpr double kMinDateTime = -693593.0; // 0001-01-01 00:00
inline constexpr double kMaxDateTime = 2958466.0; // 10000-01-01 00:00, exclusive
inline constexpr double kMSecsPerDay = 86400000.0;

bool IsLeapYear(int year);
// 0 for a month outside 1..12.
int DaysInMonth(int year, int month);

// Raise "Invalid argument to date encode" / "Invalid argument to time encode" (EConvertError).
bool TryEncodeDate(int year, int month, int day, double& value);
double EncodeDate(int year, int month, int day);
bool TryEncodeTime(int hour, int minute, int second, int msec, double& value);
double EncodeTime(int hour, int minute, int second, int msec);

struct TDateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, msec = 0;
    int dayOfWeek = 7; // 1 = Sunday ... 7 = Saturday
};
// Splits a value (rounded to the millisecond). False for NaN, infinities and values outside
// the calendar range.
bool TryDecodeDateTime(double value, TDateTimeParts& parts);
// As above, but an undecodable value raises "'%g' is not a valid date and time" (EConvertError).
TDateTimeParts DecodeDateTime(double value);
void DecodeDate(double value, int& year, int& month, int& day);
void DecodeTime(double value, int& hour, int& minute, int& second, int& msec);
int DayOfWeek(double value); // 1 = Sunday

// The classic date-time picture: d dd ddd dddd ddddd dddddd, m mm mmm mmmm (minutes right after
// an hour), y yy yyyy (e like y), h hh, n nn, s ss, z zzz, t tt, c, am/pm a/p ampm, / :, and
// quoted text; letters in either case. Other characters are copied.
std::string FormatDateTime(std::string_view format, double value, const TFormatSettings& fs);
std::string DateToStr(double value, const TFormatSettings& fs);     // short date
std::string TimeToStr(double value, const TFormatSettings& fs);     // long time
std::string DateTimeToStr(double value, const TFormatSettings& fs); // time left out at midnight
// The text of a varDate value: the date only when there is no time, the time only on day 0,
// else both.
std::string VarDateToStr(double value, const TFormatSettings& fs);

// Reading text in the regional formats: separators and date order of the settings; a year of
// one or two digits falls in the settings' century window; a first number of three or more
// digits above 31 reads as year-month-day. Errors: "'%s' is not a valid date",
// "'%s' is not a valid time", "'%s' is not a valid date and time" (EConvertError).
bool TryStrToDate(std::string_view text, double& value, const TFormatSettings& fs);
bool TryStrToTime(std::string_view text, double& value, const TFormatSettings& fs);
bool TryStrToDateTime(std::string_view text, double& value, const TFormatSettings& fs);
double StrToDate(std::string_view text, const TFormatSettings& fs);
double StrToTime(std::string_view text, const TFormatSettings& fs);
double StrToDateTime(std::string_view text, const TFormatSettings& fs);
// ISO 8601 "yyyy-mm-dd", optionally followed by "T" or a blank and "hh:nn[:ss[.zzz]]".
bool TryStrToDateTimeISO(std::string_view text, double& value);

// The current local date and time.
double NowDateTime();

} // namespace pt
