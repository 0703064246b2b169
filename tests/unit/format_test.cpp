#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <stdlib.h>
#include <string>

#include "drive/format.h"

TEST(FormatSize, PicksTheUnitByIntegerQuotients) {
    EXPECT_EQ(FormatSize(0, "."), "0.00  bytes ");
    EXPECT_EQ(FormatSize(1023, "."), "1023.00  bytes ");
    EXPECT_EQ(FormatSize(1024, "."), "1.00 KBytes ");
    EXPECT_EQ(FormatSize(1536, "."), "1.50 KBytes ");
    EXPECT_EQ(FormatSize(1474560, "."), "1.41 MBytes ");
    EXPECT_EQ(FormatSize(1048575, "."), "1024.00 KBytes ");
    EXPECT_EQ(FormatSize(1000204886016, "."), "931.51 GBytes ");
    EXPECT_EQ(FormatSize(-5, "."), "-5.00  bytes ");
    EXPECT_EQ(FormatSize(-1048576, "."), "-1048576.00  bytes ");
}

TEST(FormatSize, TerabytesIsTheLargestUnit) {
    const int64_t tib = int64_t{1} << 40;
    EXPECT_EQ(FormatSize(tib, "."), "1.00 TBytes ");
    EXPECT_EQ(FormatSize(tib * 1024, "."), "1024.00 TBytes ");
    EXPECT_EQ(FormatSize(INT64_MAX, "."), "8388608.00 TBytes ");
    // one byte under a unit step rounds up within the smaller unit
    EXPECT_EQ(FormatSize(tib - 1, "."), "1024.00 GBytes ");
}

// "Two decimals, rounded" as people read it: exact halves go away from zero.
TEST(FormatSize, RoundsExactHalvesAwayFromZero) {
    EXPECT_EQ(FormatSize(1152, "."), "1.13 KBytes ");         // 1.125
    EXPECT_EQ(FormatSize(1034, "."), "1.01 KBytes ");         // 1.009765625
    EXPECT_EQ(FormatSize(1050, "."), "1.03 KBytes ");         // 1.025390625
    EXPECT_EQ(FormatSize(1049, "."), "1.02 KBytes ");         // 1.0244140625
    EXPECT_EQ(FormatSize(1048576 / 8 * 13, "."), "1.63 MBytes ");  // 1.625
    EXPECT_EQ(FormatSize(-1152, "."), "-1152.00  bytes ");
    EXPECT_EQ(FormatSize((int64_t{1} << 40) / 8 * 5 + (int64_t{1} << 40), "."), "1.63 TBytes ");  // 1.625
    // a carry out of the hundredths
    EXPECT_EQ(FormatSize(2047, "."), "2.00 KBytes ");
    EXPECT_EQ(FormatSize(INT64_MIN, "."), "-9223372036854775808.00  bytes ");
}

TEST(FormatSize, UsesTheDecimalSeparatorItIsGiven) {
    EXPECT_EQ(FormatSize(1536, ","), "1,50 KBytes ");
    EXPECT_EQ(FormatSize(0, ","), "0,00  bytes ");
}

// The separator comes from the process locale. A German locale is compiled into a
// temporary folder when the system has none installed.
TEST(FormatSize, FollowsTheProcessLocale) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    bool comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && LocaleDecimalSeparator() == ",";
    std::string dir;
    if (!comma) {
        char tmpl[] = "/tmp/scandor-locale-XXXXXX";
        if (::mkdtemp(tmpl)) {
            dir = tmpl;
            std::string cmd = "localedef -i de_DE -f UTF-8 " + dir + "/de_DE.UTF-8 >/dev/null 2>&1";
            if (std::system(cmd.c_str()) == 0) {
                ::setenv("LOCPATH", dir.c_str(), 1);
                comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && LocaleDecimalSeparator() == ",";
                ::unsetenv("LOCPATH");
            }
        }
    }
    if (comma) {
        EXPECT_EQ(FormatSize(1536), "1,50 KBytes ");
    }
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(FormatSize(1536), "1.50 KBytes ");
    std::setlocale(LC_NUMERIC, saved.c_str());
    if (!dir.empty()) std::filesystem::remove_all(dir);
    if (!comma) GTEST_SKIP() << "no German locale installed and localedef could not build one";
}

TEST(FormatDuration, BoundariesAreInclusiveBelow) {
    EXPECT_EQ(FormatDuration(false, 60), "<1 min");
    EXPECT_EQ(FormatDuration(true, 60), "60 sec");
    EXPECT_EQ(FormatDuration(false, 61), "1 min");
    EXPECT_EQ(FormatDuration(true, 61), "1 min 1 sec");
    EXPECT_EQ(FormatDuration(true, 3600), "60 min 0 sec");
    EXPECT_EQ(FormatDuration(false, 3600), "60 min");
    EXPECT_EQ(FormatDuration(false, 3601), "1 h 0 min");
    EXPECT_EQ(FormatDuration(true, 3601), "1 h 0 min 1 sec");
    EXPECT_EQ(FormatDuration(true, 7325), "2 h 2 min 5 sec");
    EXPECT_EQ(FormatDuration(true, 0), "0 sec");
    EXPECT_EQ(FormatDuration(true, -7), "-7 sec");
    EXPECT_EQ(FormatDuration(false, -7), "<1 min");
    EXPECT_EQ(FormatDuration(true, 400000), "111 h 6 min 40 sec");
}
