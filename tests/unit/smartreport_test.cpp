#include <gtest/gtest.h>

#include <climits>

#include "smart/smartreport.h"

TEST(IntToStrGrouped, GroupsThreeDigitsFromTheRight) {
    EXPECT_EQ(IntToStrGrouped(1234567, ","), "1,234,567");
    EXPECT_EQ(IntToStrGrouped(123, ","), "123");
    EXPECT_EQ(IntToStrGrouped(1000, ","), "1,000");
    EXPECT_EQ(IntToStrGrouped(100000, "."), "100.000");
    EXPECT_EQ(IntToStrGrouped(0, ","), "0");
    EXPECT_EQ(IntToStrGrouped(-1234, ","), "-1,234");
    EXPECT_EQ(IntToStrGrouped(-999, ","), "-999");
    EXPECT_EQ(IntToStrGrouped(INT_MIN, ","), "-2,147,483,648");
    EXPECT_EQ(IntToStrGrouped(INT_MAX, "\u00a0"), "2\u00a0147\u00a0483\u00a0647");
    EXPECT_EQ(IntToStrGrouped(1234567, ""), "1234567");
}

TEST(SmartReport, LinesInOrderWithTheAttributeColumnsWithoutTheBar) {
    SmartReportInput in;
    in.resInfo = "IDE Model: X, Serial: Y, Size = 1.00 GBytes ";
    in.dateTime = "08.12.2026 17:00:00";
    in.computer = "PC";
    in.user = "anna";
    in.ip = "192.0.2.1";
    in.summary[0] = "Temp 0\u00b0C";
    in.summary[1] = "Realloc Sec 0";
    in.summary[2] = "SMART Test Passed";
    const char* cols[] = {"Name", "State", "Visual", "Current", "Worst", "Threshold", "Raw Value"};
    for (int i = 0; i < 7; ++i) in.columns[i] = cols[i];
    in.attributes = {{"Read Error Rate", "OK", "100", "99", "51", "1,234"}, {"14", "-", "1", "2", "0", "0"}};
    in.webAddress = "http://www.kaveno.de";
    auto lines = BuildSmartReport(in);
    ASSERT_EQ(lines.size(), 18u + 2u + 3u);
    EXPECT_EQ(lines[0], "Drive Test Report");
    EXPECT_EQ(lines[1], in.resInfo);
    EXPECT_EQ(lines[3], std::string(17, '-'));
    EXPECT_EQ(lines[4], "Computer: PC");
    EXPECT_EQ(lines[6], "IP: 192.0.2.1");
    EXPECT_EQ(lines[8], "** SMART Values **");
    EXPECT_EQ(lines[10], "Temp 0\u00b0C");
    EXPECT_EQ(lines[12], "SMART Test Passed");
    EXPECT_EQ(lines[14], "");
    EXPECT_EQ(lines[15], "Name\tState\tCurrent\tWorst\tThreshold\tRaw Value\t");
    EXPECT_EQ(lines[17], std::string(76, '_'));
    EXPECT_EQ(lines[18], "Read Error Rate \tOK\t100\t99\t51\t1,234");
    EXPECT_EQ(lines[19], "14 \t-\t1\t2\t0\t0");
    EXPECT_EQ(lines[20], "");
    EXPECT_EQ(lines[21], "This report was generate with \"KAVENO Scandor\"");
    EXPECT_EQ(lines[22], "http://www.kaveno.de");
}
