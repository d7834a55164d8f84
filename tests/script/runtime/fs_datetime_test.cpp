#include <gtest/gtest.h>

#include "script/runtime/fs_datetime.h"
#include "script/runtime/fs_errors.h"

#include <cmath>
#include <limits>

namespace pt {
namespace {

template <typename F> std::string ErrorOf(F f) {
    try {
        f();
    } catch (const EScriptError& e) {
        return e.className() + ": " + e.message();
    }
    return "";
}

std::string Iso(double v) {
    return FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", v, DefaultFormatSettings());
}

TEST(DateTime, EncodeDecodeCalendar) {
    const struct {
        int y, m, d;
        double serial;
        int dow;
    } cases[] = {
        {1899, 12, 30, 0, 7},    {1900, 1, 1, 2, 2},         {2024, 3, 5, 45356, 3},
        {1, 1, 1, -693593, 2},   {9999, 12, 31, 2958465, 6}, {1899, 12, 29, -1, 6},
        {2000, 2, 29, 36585, 3}, {1970, 1, 1, 25569, 5},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeDate(c.y, c.m, c.d), c.serial) << c.y << "-" << c.m << "-" << c.d;
        int y, m, d;
        DecodeDate(c.serial, y, m, d);
        EXPECT_EQ(y * 10000 + m * 100 + d, c.y * 10000 + c.m * 100 + c.d) << c.serial;
        EXPECT_EQ(DayOfWeek(c.serial), c.dow) << c.serial;
    }
    const int invalid[][3] = {{2023, 2, 29}, {1900, 2, 29}, {2024, 13, 1}, {2024, 0, 1},
                              {0, 1, 1},     {10000, 1, 1}, {2024, 4, 31}, {2024, 1, 0}};
    for (const auto& c : invalid)
        EXPECT_EQ(ErrorOf([&] { EncodeDate(c[0], c[1], c[2]); }),
                  "EConvertError: Invalid argument to date encode")
            << c[0] << "-" << c[1] << "-" << c[2];
    EXPECT_TRUE(IsLeapYear(2000));
    EXPECT_FALSE(IsLeapYear(1900));
    EXPECT_EQ(DaysInMonth(2024, 2), 29);
    EXPECT_EQ(DaysInMonth(2023, 2), 28);
    EXPECT_EQ(DaysInMonth(2023, 13), 0);
}

TEST(DateTime, EncodeDecodeTime) {
    EXPECT_DOUBLE_EQ(EncodeTime(6, 0, 0, 0), 0.25);
    EXPECT_DOUBLE_EQ(EncodeTime(18, 0, 0, 0), 0.75);
    int h, n, s, ms;
    DecodeTime(EncodeTime(13, 4, 5, 7), h, n, s, ms);
    EXPECT_EQ(h * 10000000 + n * 100000 + s * 1000 + ms, 130405007);
    const int invalid[][4] = {
        {24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000}, {-1, 0, 0, 0}};
    for (const auto& c : invalid)
        EXPECT_EQ(ErrorOf([&] { EncodeTime(c[0], c[1], c[2], c[3]); }),
                  "EConvertError: Invalid argument to time encode");
}

TEST(DateTime, DecodingEdges) {
    EXPECT_EQ(Iso(-1.25),
              "1899-12-29 06:00:00.000"); // the fraction of a negative value is a magnitude
    EXPECT_EQ(Iso(45356.99999999999),
              "2024-03-06 00:00:00.000"); // rounding to the millisecond carries
    EXPECT_EQ(Iso(-0.5), "1899-12-30 12:00:00.000");
    TDateTimeParts p;
    for (double bad : {std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity(), 1e300, -693594.0, 2958466.0})
        EXPECT_FALSE(TryDecodeDateTime(bad, p)) << bad;
    EXPECT_EQ(ErrorOf([] { DecodeDateTime(1e20); }),
              "EConvertError: '1E20' is not a valid date and time");
    EXPECT_THROW(FormatDateTime("yyyy", std::nan(""), DefaultFormatSettings()), EScriptError);
}

// Expected texts come from the standard Pascal run-time library's FormatDateTime, except
// that other letters are copied as written.
TEST(DateTime, FormatPictures) {
    const TFormatSettings fs = DefaultFormatSettings();
    const double v = EncodeDate(2024, 3, 5) + EncodeTime(13, 4, 5, 7);
    const std::pair<const char*, const char*> cases[] = {
        {"yyyy-mm-dd hh:nn:ss.zzz", "2024-03-05 13:04:05.007"},
        {"d/m/y", "5/3/24"},
        {"h:m", "13:4"},
        {"hh:mm am/pm", "01:04 pm"},
        {"h A/P", "1 P"},
        {"h ampm", "1 PM"},
        {"dddd ddd mmmm mmm", "Tuesday Tue March Mar"},
        {"c", "3/5/2024 1:04:05 PM"},
        {"t", "1:04 PM"},
        {"tt", "1:04:05 PM"},
        {"ddddd", "3/5/2024"},
        {"dddddd", "Tuesday, March 5, 2024"},
        {"z zz zzz", "7 007 007"},
        {"yyy y yyyyy", "2024 24 2024"},
        {"e ee eeee", "24 24 2024"},
        {"\"q'x\"'y\"z'", "q'xy\"z"},
        {"m/d h:n:s", "3/5 13:4:5"},
        {"hh:mm:ss", "13:04:05"},
        {"mm:ss", "03:05"},
        {"h:mm x mm", "13:04 x 03"},
        {"Am/pM", "pM"},
        {"AMPM h", "PM 1"},
        {"mmmmm", "March"},
        {"hhh nnn sss", "13 04 05"},
        {"YYYY.MM.DD", "2024.03.05"},
        {"'unterminated", "unterminated"},
        {"", "3/5/2024 1:04:05 PM"},
    };
    for (auto [pic, text] : cases) EXPECT_EQ(FormatDateTime(pic, v, fs), text) << pic;
    const double midnight = EncodeDate(2024, 3, 5);
    EXPECT_EQ(FormatDateTime("c", midnight, fs), "3/5/2024");
    EXPECT_EQ(FormatDateTime("hh ampm", midnight, fs), "12 AM");
    const double halfPast = EncodeTime(0, 30, 0, 0);
    EXPECT_EQ(FormatDateTime("c", halfPast, fs), "12/30/1899 12:30:00 AM");
    EXPECT_EQ(FormatDateTime("h:nn am/pm", halfPast, fs), "12:30 am");
}

TEST(DateTime, FormatUsesTheSettings) {
    TFormatSettings fs = DefaultFormatSettings();
    fs.DateSeparator = '.';
    fs.TimeSeparator = '-';
    fs.LongMonthNames[2] = "M\xc3\xa4rz";
    fs.ShortDayNames[2] = "Di";
    fs.TimePMString = "nachm.";
    const double v = EncodeDate(2024, 3, 5) + EncodeTime(13, 4, 5, 0);
    EXPECT_EQ(FormatDateTime("d/m/yyyy h:nn ddd mmmm ampm", v, fs),
              "5.3.2024 1-04 Di M\xc3\xa4rz nachm.");
    fs.ShortDateFormat = "c"; // a regional picture naming itself must not recurse forever
    EXPECT_NO_THROW(FormatDateTime("c", v, fs));
}

TEST(DateTime, ToStrForms) {
    const TFormatSettings fs = DefaultFormatSettings();
    const double date = EncodeDate(2024, 3, 5), time = EncodeTime(13, 4, 5, 0);
    EXPECT_EQ(DateToStr(date + time, fs), "3/5/2024");
    EXPECT_EQ(TimeToStr(date + time, fs), "1:04:05 PM");
    EXPECT_EQ(DateTimeToStr(date + time, fs), "3/5/2024 1:04:05 PM");
    EXPECT_EQ(DateTimeToStr(date, fs), "3/5/2024");
    EXPECT_EQ(DateTimeToStr(time, fs), "12/30/1899 1:04:05 PM");
    // The text of a date value: only the time on day 0.
    EXPECT_EQ(VarDateToStr(time, fs), "1:04:05 PM");
    EXPECT_EQ(VarDateToStr(date, fs), "3/5/2024");
    EXPECT_EQ(VarDateToStr(0, fs), "12/30/1899");
    EXPECT_EQ(VarDateToStr(date + time, fs), "3/5/2024 1:04:05 PM");
}

int ThisYear() {
    int y, m, d;
    DecodeDate(NowDateTime(), y, m, d);
    return y;
}

TEST(DateTime, ParseTimes) {
    const TFormatSettings fs = DefaultFormatSettings();
    const std::pair<const char*, const char*> good[] = {
        {"13:04", "1899-12-30 13:04:00.000"},        {"13", "1899-12-30 13:00:00.000"},
        {"1 PM", "1899-12-30 13:00:00.000"},         {"1:05 pm", "1899-12-30 13:05:00.000"},
        {"12:00 AM", "1899-12-30 00:00:00.000"},     {"12:30 PM", "1899-12-30 12:30:00.000"},
        {"13:04:05.123", "1899-12-30 13:04:05.123"}, {"13:04:05.5", "1899-12-30 13:04:05.500"},
        {"13:4:5", "1899-12-30 13:04:05.000"},       {" 13:04 ", "1899-12-30 13:04:00.000"},
        {"1:05PM", "1899-12-30 13:05:00.000"},
    };
    for (auto [text, iso] : good) {
        double v = -1;
        EXPECT_TRUE(TryStrToTime(text, v, fs)) << text;
        EXPECT_EQ(Iso(v), iso) << text;
    }
    for (const char* bad :
         {"25:00", "13:60", "", "x", "13:", "13 PM", "0 AM", "1:2:3:4", "13:04 x"}) {
        double v;
        EXPECT_FALSE(TryStrToTime(bad, v, fs)) << bad;
    }
    EXPECT_EQ(ErrorOf([&] { StrToTime("x", fs); }), "EConvertError: 'x' is not a valid time");
}

TEST(DateTime, ParseDatesInTheRegionalOrder) {
    TFormatSettings fs = DefaultFormatSettings();
    const std::pair<const char*, double> good[] = {
        {"3/5/2024", 45356},  {"3/5/24", 45356},   {" 3/5/2024 ", 45356},
        {"0003/05/2024", -1}, {"2024/3/5", 45356}, {"12/31/9999", 2958465},
    };
    for (auto [text, serial] : good) {
        double v = 0;
        EXPECT_TRUE(TryStrToDate(text, v, fs)) << text;
        if (serial >= 0) {
            EXPECT_EQ(v, serial) << text;
        }
    }
    for (const char* bad :
         {"13/5/2024", "2/30/2024", "3-5-2024", "3/5/2024x", "", "3", "3/", "3/5/"}) {
        double v;
        EXPECT_FALSE(TryStrToDate(bad, v, fs)) << bad;
    }
    double v;
    ASSERT_TRUE(TryStrToDate("3/5", v, fs));
    EXPECT_EQ(v, EncodeDate(ThisYear(), 3, 5));
    fs.TwoDigitYearCenturyWindow = 0; // two digits land in the current century
    ASSERT_TRUE(TryStrToDate("3/5/80", v, fs));
    EXPECT_EQ(v, EncodeDate(ThisYear() / 100 * 100 + 80, 3, 5));

    fs.ShortDateFormat = "dd.mm.yyyy";
    fs.DateSeparator = '.';
    EXPECT_EQ(StrToDate("05.03.2024", fs), 45356);
    fs.ShortDateFormat = "yyyy-mm-dd";
    fs.DateSeparator = '-';
    EXPECT_EQ(StrToDate("2024-3-5", fs), 45356);
    EXPECT_EQ(ErrorOf([&] { StrToDate("soon", fs); }), "EConvertError: 'soon' is not a valid date");
}

TEST(DateTime, ParseDateTimes) {
    const TFormatSettings fs = DefaultFormatSettings();
    const std::pair<const char*, const char*> good[] = {
        {"3/5/2024 13:04", "2024-03-05 13:04:00.000"},
        {"3/5/2024", "2024-03-05 00:00:00.000"},
        {"13:04", "1899-12-30 13:04:00.000"},
        {"3/5/2024 1:04:05 PM", "2024-03-05 13:04:05.000"},
    };
    for (auto [text, iso] : good) EXPECT_EQ(Iso(StrToDateTime(text, fs)), iso) << text;
    EXPECT_EQ(ErrorOf([&] { StrToDateTime("3/5/2024 x", fs); }),
              "EConvertError: '3/5/2024 x' is not a valid date and time");
    // The time of a date before day 0 counts away from zero, as in decoding.
    EXPECT_EQ(StrToDateTime("12/29/1899 6:00", fs), -1.25);

    double v;
    ASSERT_TRUE(TryStrToDateTimeISO("2024-03-05T13:04:05.25", v));
    EXPECT_EQ(Iso(v), "2024-03-05 13:04:05.250");
    ASSERT_TRUE(TryStrToDateTimeISO("2024-03-05", v));
    EXPECT_EQ(v, 45356);
    for (const char* bad :
         {"2024-3-5", "2024-02-30", "2024-03-05T25:00", "2024-03-05T13", "2024-03-05x"})
        EXPECT_FALSE(TryStrToDateTimeISO(bad, v)) << bad;
}

} // namespace
} // namespace pt
