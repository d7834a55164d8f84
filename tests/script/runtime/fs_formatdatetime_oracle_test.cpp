// FormatDateTime against the standard Pascal run-time library under the same format settings
// (see oracle/README.md); the rows where this system deliberately differs are listed with their
// reasons and checked against our value.
#include <gtest/gtest.h>

#include "script/runtime/fs_datetime.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace pt {
namespace {

const char* const kFormatError = "<EConvertError>";

struct DateCase {
    const char* fmt;
    double value;
    const char* expected;
};

const std::vector<DateCase>& OracleDateCases() {
    static const std::vector<DateCase> cases = {
#include "oracle/formatdatetime_cases.inc"
    };
    return cases;
}

// (picture, run-time library result) -> our result.
const std::map<std::pair<std::string, std::string>, std::string>& DateDifferences() {
    static const std::map<std::pair<std::string, std::string>, std::string> d = {
        // Characters that are no directive are copied as written (that library upper-cases them).
        {{"xyz", "X240"}, "x240"},
        // A time that rounds up to the next midnight moves the whole date, day name included
        // (that library names the day before: 2024-07-05 was a Friday).
        {{"ddd", "Thu"}, "Fri"},
        {{"dddd", "Thursday"}, "Friday"},
        {{"dddddd", "Thursday, July 5, 2024"}, "Friday, July 5, 2024"},
    };
    return d;
}

TEST(FormatDateTime, MatchesRunTimeLibrary) {
    TFormatSettings fs;
    fs.DecimalSeparator = '.';
    fs.ThousandSeparator = ',';
    fs.DateSeparator = '/';
    fs.TimeSeparator = ':';
    fs.ShortDateFormat = "M/d/yyyy";
    fs.LongDateFormat = "dddd, MMMM d, yyyy";
    fs.ShortTimeFormat = "h:mm AMPM";
    fs.LongTimeFormat = "h:mm:ss AMPM";
    fs.TimeAMString = "AM";
    fs.TimePMString = "PM";
    const auto& diffs = DateDifferences();
    ASSERT_GE(OracleDateCases().size(), 100u);
    int index = 0;
    for (const DateCase& c : OracleDateCases()) {
        std::string expected = c.expected;
        auto it = diffs.find({c.fmt, c.expected});
        if (it != diffs.end()) expected = it->second;
        std::string got;
        try {
            got = FormatDateTime(c.fmt, c.value, fs);
        } catch (const std::exception&) {
            got = kFormatError;
        }
        EXPECT_EQ(got, expected) << "row " << index << ": " << c.fmt << " " << c.value;
        ++index;
    }
}

} // namespace
} // namespace pt
