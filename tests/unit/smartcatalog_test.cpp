#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>

#include "smart/smartcatalog.h"

namespace {

using Block = std::array<uint8_t, 512>;

struct Entry {
    int id;
    unsigned flags;
    int current;
    int worst;
    int threshold;
    uint64_t raw = 0;
};

constexpr unsigned PreFail = 0x01;

// The two blocks for a list of entries, thresholds paired by position.
struct Blocks {
    Block attrs{};
    Block thresholds{};
    explicit Blocks(std::initializer_list<Entry> entries) {
        size_t k = 0;
        for (const Entry& e : entries) {
            size_t o = 2 + 12 * k++;
            attrs[o] = static_cast<uint8_t>(e.id);
            attrs[o + 1] = static_cast<uint8_t>(e.flags);
            attrs[o + 2] = static_cast<uint8_t>(e.flags >> 8);
            attrs[o + 3] = static_cast<uint8_t>(e.current);
            attrs[o + 4] = static_cast<uint8_t>(e.worst);
            for (int b = 0; b < 6; ++b) attrs[o + 5 + b] = static_cast<uint8_t>(e.raw >> (8 * b));
            thresholds[o] = static_cast<uint8_t>(e.id);
            thresholds[o + 1] = static_cast<uint8_t>(e.threshold);
        }
    }
    TSmartResult Scan() const {
        TSmartResult r;
        ResetSmartResult(r);
        ScanSmartBlocks(attrs.data(), attrs.size(), thresholds.data(), thresholds.size(), r);
        return r;
    }
};

std::string RateOne(int current, int worst, int threshold, int id = 1, uint64_t raw = 0) {
    return Blocks({{id, PreFail, current, worst, threshold, raw}}).Scan().AttributeStatus[0];
}

}  // namespace

TEST(SmartCatalogue, NamesTheKnownIdsAndNothingElse) {
    EXPECT_EQ(SmartAttributeNames(1), "Read Error Rate");
    EXPECT_EQ(SmartAttributeNames(13), "Soft Read Error Rate");
    EXPECT_EQ(SmartAttributeNames(183), "SATA Downshift Error Count");
    EXPECT_EQ(SmartAttributeNames(190), "Airflow Temperatur");
    EXPECT_EQ(SmartAttributeNames(194), "Temperature Celcius");
    EXPECT_EQ(SmartAttributeNames(202), "Data Address Mark errors");
    EXPECT_EQ(SmartAttributeNames(209), "Offline Seek Perf");
    for (int id : {0, 14, 182, 210, 255, -1, 1000}) EXPECT_EQ(SmartAttributeNames(id), "Unknown") << id;
}

TEST(SmartResult, ResetClearsEverythingAndSetsNoDevice) {
    TSmartResult r;
    r.DeviceIndex = 2;
    r.ModelNumber = "x";
    r.AttributeCount = 5;
    r.AttributeStatus[31] = "OK";
    r.RawValue[31] = 7;
    r.PreFailure[3] = true;
    ResetSmartResult(r);
    EXPECT_EQ(r.DeviceIndex, -1);
    EXPECT_TRUE(r.ModelNumber.empty());
    EXPECT_EQ(r.AttributeCount, 0);
    EXPECT_TRUE(r.AttributeStatus[31].empty());
    EXPECT_EQ(r.RawValue[31], 0);
    EXPECT_FALSE(r.PreFailure[3]);
}

// Threshold 51, baseline 100: warning limit 75.
TEST(SmartRating, WorkedExamples) {
    EXPECT_EQ(RateOne(100, 99, 51), "OK");
    EXPECT_EQ(RateOne(74, 74, 51), "Warning");
    EXPECT_EQ(RateOne(75, 75, 51), "OK");
    EXPECT_EQ(RateOne(50, 50, 51), "Failing Now");
    EXPECT_EQ(RateOne(80, 50, 51), "Failed In Past");
    EXPECT_EQ(RateOne(100, 100, 36, 5, 501), "Warning");
    EXPECT_EQ(RateOne(100, 100, 36, 5, 500), "OK");
    // The raw rule belongs to attribute 5 alone.
    EXPECT_EQ(RateOne(100, 100, 36, 9, 501), "OK");
}

// A value that has reached its threshold has failed, now or in the past.
TEST(SmartRating, ValueEqualToThresholdHasFailed) {
    EXPECT_EQ(RateOne(51, 51, 51), "Failing Now");
    EXPECT_EQ(RateOne(80, 51, 51), "Failed In Past");
    EXPECT_EQ(RateOne(52, 52, 51), "Warning");
    auto r = Blocks({{1, PreFail, 51, 51, 51}, {7, PreFail, 90, 30, 30}, {8, PreFail, 70, 70, 51}}).Scan();
    EXPECT_EQ(r.FailedCount, 2);
    EXPECT_EQ(r.WarningCount, 1);
}

TEST(SmartRating, OnlyPreFailureSlotsWithAThresholdAreRated) {
    auto r = Blocks({{1, 0x02, 10, 10, 51},          // advisory, below threshold
                     {7, PreFail, 10, 10, 0},        // threshold 0
                     {8, 0x10 | 0x08, 10, 10, 51}})  // event count and error rate, advisory
                 .Scan();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(r.AttributeStatus[i], "-") << i;
    EXPECT_EQ(r.FailedCount + r.WarningCount, 0);
    EXPECT_TRUE(r.EventCount[2]);
    EXPECT_TRUE(r.ErrorRate[2]);
    EXPECT_FALSE(r.PreFailure[2]);
}

TEST(SmartRating, SpinUpAbove230RaisesTheBaselineFromThatSlotOn) {
    // Before attribute 3 the baseline is 100: limit 21 + 39 = 60, 200 is OK, 59 warns.
    // Attribute 3 at 253 with threshold 21: limit 21 + 116 = 137, OK.
    // After it the baseline is 253: attribute 7 at 130 with threshold 21 warns.
    auto r = Blocks({{1, PreFail, 59, 59, 21},
                     {3, PreFail, 253, 253, 21},
                     {7, PreFail, 130, 130, 21},
                     {8, PreFail, 140, 140, 21}})
                 .Scan();
    EXPECT_EQ(r.AttributeStatus[0], "Warning");
    EXPECT_EQ(r.AttributeStatus[1], "OK");
    EXPECT_EQ(r.AttributeStatus[2], "Warning");
    EXPECT_EQ(r.AttributeStatus[3], "OK");
    // Attribute 4 raises it too, 230 itself does not.
    EXPECT_EQ(Blocks({{4, 0, 231, 231, 0}, {7, PreFail, 130, 130, 21}}).Scan().AttributeStatus[1], "Warning");
    EXPECT_EQ(Blocks({{4, 0, 230, 230, 0}, {7, PreFail, 130, 130, 21}}).Scan().AttributeStatus[1], "OK");
    // The slot that raises it is rated with 253: limit 21 + 116 = 137.
    EXPECT_EQ(RateOne(231, 231, 21, 3), "OK");
    EXPECT_EQ(Blocks({{3, PreFail, 231, 100, 21}}).Scan().AttributeStatus[0], "OK");
}

TEST(SmartRating, ThresholdAboveBaselineNeverWarns) {
    // Threshold 140 above 100: the limit falls below the threshold.
    EXPECT_EQ(RateOne(141, 141, 140), "OK");
    EXPECT_EQ(RateOne(140, 141, 140), "Failing Now");
    EXPECT_EQ(RateOne(255, 255, 255), "Failing Now");
}

TEST(SmartScan, StopsAtTheFirstEmptyEntry) {
    auto none = Blocks({{0, PreFail, 10, 10, 51}, {5, PreFail, 10, 10, 51, 9}}).Scan();
    EXPECT_EQ(none.AttributeCount, 0);
    EXPECT_EQ(none.FailedCount + none.WarningCount, 0);
    EXPECT_EQ(none.ReallocatedSectors, 0);

    auto mid = Blocks({{1, 0, 100, 100, 0}, {0, 0, 0, 0, 0}, {5, PreFail, 10, 10, 51, 9}}).Scan();
    EXPECT_EQ(mid.AttributeCount, 1);
    EXPECT_EQ(mid.ReallocatedSectors, 0);
    EXPECT_EQ(mid.FailedCount, 0);
}

TEST(SmartScan, ReadsEveryFieldOfAnEntry) {
    auto r = Blocks({{14, 0x1B, 0xFE, 0x81, 0xC8, 0xA1B2C3D4E5F6ull}, {210, 0, 1, 2, 3}}).Scan();
    ASSERT_EQ(r.AttributeCount, 2);
    EXPECT_EQ(r.AttributeId[0], 14);
    EXPECT_EQ(r.AttributeName[0], "Unknown");
    EXPECT_EQ(r.AttributeName[1], "Unknown");
    EXPECT_TRUE(r.PreFailure[0]);
    EXPECT_TRUE(r.ErrorRate[0]);
    EXPECT_TRUE(r.EventCount[0]);
    EXPECT_EQ(r.CurrentValue[0], 254);
    EXPECT_EQ(r.WorstValue[0], 129);
    EXPECT_EQ(r.ThresholdValue[0], 200);
    EXPECT_EQ(r.RawValue[0], 0xA1B2C3D4E5F6ll);
}

TEST(SmartScan, FillsAllThirtySlotsOfAFullBlock) {
    Blocks b({});
    for (int k = 0; k < 30; ++k) {
        b.attrs[2 + 12 * k] = static_cast<uint8_t>(k + 1);
        b.attrs[2 + 12 * k + 3] = 100;
    }
    // Bytes past the thirtieth entry are not attributes.
    b.attrs[362] = 9;
    auto r = b.Scan();
    EXPECT_EQ(r.AttributeCount, 30);
    EXPECT_EQ(r.AttributeId[29], 30);
    EXPECT_EQ(r.AttributeId[30], 0);
}

TEST(SmartScan, PairsThresholdsByPositionNotById) {
    Blocks b({{1, PreFail, 60, 60, 0}, {7, PreFail, 60, 60, 0}});
    // The threshold block lists 7 first, then 1.
    b.thresholds[2] = 7;
    b.thresholds[3] = 61;
    b.thresholds[14] = 1;
    b.thresholds[15] = 10;
    auto r = b.Scan();
    EXPECT_EQ(r.ThresholdValue[0], 61);
    EXPECT_EQ(r.AttributeStatus[0], "Failing Now");
    EXPECT_EQ(r.ThresholdValue[1], 10);
    EXPECT_EQ(r.AttributeStatus[1], "OK");
}

TEST(SmartScan, SpecialValuesOnlyForRawInsideThePositiveInt32Range) {
    auto r = Blocks({{9, 0, 100, 100, 0, 59}, {12, 0, 100, 100, 0, 2147483646}}).Scan();
    EXPECT_EQ(r.PowerOnHours, 1);
    EXPECT_EQ(r.PowerCycles, 2147483646);
    EXPECT_EQ(Blocks({{9, 0, 100, 100, 0, 0}}).Scan().PowerOnHours, 0);
    EXPECT_EQ(Blocks({{9, 0, 100, 100, 0, 60}}).Scan().PowerOnHours, 2);
    EXPECT_EQ(Blocks({{12, 0, 100, 100, 0, 2147483647}}).Scan().PowerCycles, 0);

    auto big = Blocks({{5, PreFail, 100, 100, 36, 2147483647}}).Scan();
    EXPECT_EQ(big.ReallocatedSectors, 0);
    EXPECT_EQ(big.RawValue[0], 2147483647);
    EXPECT_EQ(big.AttributeStatus[0], "Warning");
    EXPECT_EQ(Blocks({{5, PreFail, 100, 100, 36, 3}}).Scan().ReallocatedSectors, 3);
}

TEST(SmartScan, TemperatureFromRawBytesOrWorstValue) {
    // Raw bytes, least significant first: 35, 0, 20, 0, 48, 0.
    const uint64_t raw = 35 | (20ull << 16) | (48ull << 32);
    auto r = Blocks({{194, 0x22, 100, 90, 0, raw}}).Scan();
    EXPECT_EQ(r.TemperatureCurrent, 35);
    EXPECT_EQ(r.TemperatureMin, 20);
    EXPECT_EQ(r.TemperatureMax, 48);
    auto same = Blocks({{194, 0x22, 35, 61, 0, raw}}).Scan();
    EXPECT_EQ(same.TemperatureCurrent, 35);
    EXPECT_EQ(same.TemperatureMax, 61);
    // Independent of the raw-value range of the other special values.
    auto high = Blocks({{194, 0x22, 100, 90, 0, raw | (0xFFull << 40)}}).Scan();
    EXPECT_EQ(high.TemperatureCurrent, 35);
    EXPECT_EQ(high.TemperatureMax, 48);
}

TEST(SmartScan, ShortOrMissingBlocksReadAsZeros) {
    Blocks b({{1, PreFail, 40, 40, 51}, {7, PreFail, 40, 40, 51}});
    TSmartResult r;
    // The second entry lies beyond a 14-byte attribute block.
    ScanSmartBlocks(b.attrs.data(), 14, b.thresholds.data(), b.thresholds.size(), r);
    EXPECT_EQ(r.AttributeCount, 1);
    EXPECT_EQ(r.AttributeStatus[0], "Failing Now");
    // Without thresholds nothing is rated.
    ScanSmartBlocks(b.attrs.data(), b.attrs.size(), nullptr, 0, r);
    EXPECT_EQ(r.AttributeCount, 2);
    EXPECT_EQ(r.FailedCount, 0);
    EXPECT_EQ(r.AttributeStatus[1], "-");
    ScanSmartBlocks(nullptr, 0, nullptr, 0, r);
    EXPECT_EQ(r.AttributeCount, 0);
}

TEST(SmartScan, RandomBlocksKeepTheInvariants) {
    std::mt19937 rng(4242);
    for (int round = 0; round < 2000; ++round) {
        Block a{}, t{};
        for (auto& x : a) x = static_cast<uint8_t>(rng());
        for (auto& x : t) x = static_cast<uint8_t>(rng());
        TSmartResult r;
        ResetSmartResult(r);
        ScanSmartBlocks(a.data(), a.size(), t.data(), t.size(), r);
        ASSERT_GE(r.AttributeCount, 0);
        ASSERT_LE(r.AttributeCount, 30);
        int failed = 0, warned = 0;
        for (int i = 0; i < r.AttributeCount; ++i) {
            const std::string& s = r.AttributeStatus[i];
            ASSERT_NE(r.AttributeId[i], 0);
            ASSERT_GE(r.RawValue[i], 0);
            ASSERT_LT(r.RawValue[i], int64_t{1} << 48);
            if (!r.PreFailure[i] || r.ThresholdValue[i] == 0) {
                ASSERT_EQ(s, "-");
            }
            failed += s == "Failing Now" || s == "Failed In Past";
            warned += s == "Warning";
            ASSERT_TRUE(s == "-" || s == "OK" || s == "Warning" || s == "Failing Now" ||
                        s == "Failed In Past");
        }
        ASSERT_EQ(r.FailedCount, failed);
        ASSERT_EQ(r.WarningCount, warned);
        ASSERT_GE(r.PowerOnHours, 0);
    }
}
