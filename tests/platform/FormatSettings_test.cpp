#include <gtest/gtest.h>

#include "platform/FormatSettings.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace pt {
namespace {

// Sets environment variables for one test and restores them afterwards.
class EnvGuard {
public:
    void Set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvGuard() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second)
                setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                unsetenv(it->first.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(FormatSettings, ConventionalEnglishDefaults) {
    TFormatSettings fs = DefaultFormatSettings();
    EXPECT_EQ(fs.DecimalSeparator, '.');
    EXPECT_EQ(fs.ThousandSeparator, ',');
    EXPECT_EQ(fs.DateSeparator, '/');
    EXPECT_EQ(fs.TimeSeparator, ':');
    EXPECT_EQ(fs.ShortDateFormat, "M/d/yyyy");
    EXPECT_EQ(fs.LongTimeFormat, "h:mm:ss AMPM");
    EXPECT_EQ(fs.LongMonthNames[11], "December");
    EXPECT_EQ(fs.ShortDayNames[0], "Sun");
}

TEST(FormatSettings, CAndPosixLocalesMapToTheDefaults) {
    for (const char* name : {"C", "POSIX", "C.UTF-8", ""}) {
        EnvGuard env;
        env.Set("LC_ALL", name);
        env.Set("LC_TIME", nullptr);
        env.Set("LANG", nullptr);
        TFormatSettings fs = FormatSettingsFromLocale();
        EXPECT_EQ(fs.ShortDateFormat, "M/d/yyyy") << name;
        EXPECT_EQ(fs.DecimalSeparator, '.') << name;
        EXPECT_EQ(fs.TimeAMString, "AM") << name;
    }
}

TEST(FormatSettings, SetReplacesTheProcessRecord) {
    TFormatSettings fs = DefaultFormatSettings();
    fs.DecimalSeparator = ',';
    fs.LongMonthNames[0] = "Januar";
    SetFormatSettings(fs);
    EXPECT_EQ(FormatSettings().DecimalSeparator, ',');
    EXPECT_EQ(FormatSettings().LongMonthNames[0], "Januar");
    SetFormatSettings(DefaultFormatSettings());
    EXPECT_EQ(FormatSettings().DecimalSeparator, '.');
}

} // namespace
} // namespace pt
