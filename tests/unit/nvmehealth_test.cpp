// The NVMe decoders on whole pages and the rating table, rule by rule.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "smart/nvmehealth.h"
#include "smart/smartcatalog.h"

namespace {

using Page = std::vector<uint8_t>;

void PutLe(Page& p, size_t offset, size_t width, uint64_t v) {
    for (size_t i = 0; i < width && i < 8; ++i) p[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

void Put128(Page& p, size_t offset, Uint128 v) {
    PutLe(p, offset, 8, v.lo);
    PutLe(p, offset + 8, 8, v.hi);
}

// Reserved bytes carry a pattern, so a field read from the wrong place shows.
Page ReservedFilled() {
    Page p(512, 0xA5);
    return p;
}

constexpr uint64_t Max64 = ~uint64_t{0};

// The row of a field; a missing row fails the test and reads as an empty one.
NvmeRow RowAt(const NvmeRating& r, int offset) {
    for (const NvmeRow& row : r.rows)
        if (row.offset == offset) return row;
    ADD_FAILURE() << "no row at offset " << offset;
    return {};
}

NvmeHealthLog Healthy() {
    NvmeHealthLog h;
    h.compositeTemperature = 310;
    h.availableSpare = 100;
    h.availableSpareThreshold = 10;
    return h;
}

NvmeIdentity Thresholds(uint16_t warning, uint16_t critical) {
    NvmeIdentity id;
    id.warningTemperature = warning;
    id.criticalTemperature = critical;
    return id;
}

}  // namespace

TEST(NvmeCounter, DecimalTextAndSaturationAcrossThe64BitBoundary) {
    EXPECT_EQ(DecimalText({0, 0}), "0");
    EXPECT_EQ(DecimalText({Max64, 0}), "18446744073709551615");
    EXPECT_EQ(DecimalText({0, 1}), "18446744073709551616");
    EXPECT_EQ(DecimalText({Max64, Max64}), "340282366920938463463374607431768211455");
    EXPECT_EQ(DecimalText({1000000, 0}), "1000000");
    EXPECT_EQ(Saturated({Max64, 0}), Max64);
    EXPECT_EQ(Saturated({0, 1}), Max64);
    EXPECT_EQ(Saturated({12345, 0}), 12345u);
    EXPECT_EQ(GroupedText({1234567, 0}, "."), "1.234.567");
    EXPECT_EQ(GroupedText({123, 0}, ","), "123");
    EXPECT_EQ(GroupedText({0, 1}, ","), "18,446,744,073,709,551,616");
}

TEST(NvmeHealthLogDecoder, EveryFieldFromItsOffsetInAWholePage) {
    Page p = ReservedFilled();
    p[0] = 0x3F;
    PutLe(p, 1, 2, 0x0136);  // 310 K
    p[3] = 0xFE;
    p[4] = 0xFD;
    p[5] = 0xFF;
    p[6] = 0x01;
    // Ten counters, each above 2^64 with its own pattern.
    for (size_t k = 0; k < 10; ++k) Put128(p, 32 + 16 * k, {0x0102030405060708ull + k, k + 1});
    PutLe(p, 192, 4, 0xFFFFFFFFu);
    PutLe(p, 196, 4, 1);
    const uint16_t sensors[8] = {0, 1, 273, 65535, 300, 0, 2, 0xFFFE};
    for (size_t i = 0; i < 8; ++i) PutLe(p, 200 + 2 * i, 2, sensors[i]);

    const NvmeHealthLog h = DecodeNvmeHealthLog(p.data(), p.size());
    EXPECT_EQ(h.criticalWarning, 0x3F);
    EXPECT_EQ(h.compositeTemperature, 310);
    EXPECT_EQ(h.availableSpare, 0xFE);
    EXPECT_EQ(h.availableSpareThreshold, 0xFD);
    EXPECT_EQ(h.percentageUsed, 0xFF);
    EXPECT_EQ(h.enduranceGroupCriticalWarning, 0x01);
    const Uint128 counters[10] = {h.dataUnitsRead,  h.dataUnitsWritten, h.hostReadCommands, h.hostWriteCommands,
                                  h.controllerBusyTime, h.powerCycles,  h.powerOnHours,     h.unsafeShutdowns,
                                  h.mediaErrors,    h.errorLogEntries};
    for (size_t k = 0; k < 10; ++k) {
        EXPECT_EQ(counters[k].lo, 0x0102030405060708ull + k) << "counter " << k;
        EXPECT_EQ(counters[k].hi, k + 1) << "counter " << k;
    }
    EXPECT_EQ(h.warningTemperatureTime, 0xFFFFFFFFu);
    EXPECT_EQ(h.criticalTemperatureTime, 1u);
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(h.temperatureSensors[i], sensors[i]) << "sensor " << i + 1;
}

TEST(NvmeHealthLogDecoder, TemperaturesAtTheEndsOfTheirRange) {
    Page p(512, 0);
    PutLe(p, 1, 2, 0);
    EXPECT_EQ(KelvinToCelsius(DecodeNvmeHealthLog(p.data(), p.size()).compositeTemperature), -273);
    PutLe(p, 1, 2, 65535);
    EXPECT_EQ(KelvinToCelsius(DecodeNvmeHealthLog(p.data(), p.size()).compositeTemperature), 65262);
    NvmeHealthLog h = Healthy();
    h.compositeTemperature = 65535;
    const NvmeRating r = RateNvmeHealth(h, NvmeIdentity{});
    NvmeRow t = RowAt(r, 1);
    EXPECT_EQ(t.current, 65262);
    EXPECT_EQ(t.barPosition, 255);
    EXPECT_EQ(t.barMaximum, 255);
    h.compositeTemperature = 0;
    t = RowAt(RateNvmeHealth(h, NvmeIdentity{}), 1);
    EXPECT_EQ(t.current, -273);
    EXPECT_EQ(t.barPosition, 0);
}

TEST(NvmeHealthLogDecoder, AShortPageReadsAsZeroPadded) {
    Page p(512, 0);
    p[0] = 4;
    Put128(p, 160, {7, 0});
    const NvmeHealthLog whole = DecodeNvmeHealthLog(p.data(), 170);
    EXPECT_EQ(whole.criticalWarning, 4);
    EXPECT_EQ(whole.mediaErrors.lo, 7u);  // bytes 160-169 are there
    const NvmeHealthLog cut = DecodeNvmeHealthLog(p.data(), 160);
    EXPECT_EQ(cut.mediaErrors, Uint128{});
    EXPECT_EQ(DecodeNvmeHealthLog(nullptr, 512).criticalWarning, 0);
}

TEST(NvmeIdentifyDecoder, TextsThresholdsAndNamespaceSize) {
    Page c(4096, 0);
    const char sn[] = "  S4EWNX0R123456     ";
    const char mn[] = "Samsung SSD 970 EVO Plus 1TB\xE9          ";
    std::memcpy(&c[4], sn, 20);
    std::memcpy(&c[24], mn, 40);
    std::memcpy(&c[64], "2B2QEXM7", 8);
    PutLe(c, 266, 2, 358);
    PutLe(c, 268, 2, 363);
    NvmeIdentity id;
    DecodeNvmeIdentifyController(c.data(), c.size(), id);
    EXPECT_EQ(id.serial, "S4EWNX0R123456");
    EXPECT_EQ(id.model, "Samsung SSD 970 EVO Plus 1TB\xE9");  // 8-bit text, as stored
    EXPECT_EQ(id.firmware, "2B2QEXM7");
    EXPECT_EQ(id.warningTemperature, 358);
    EXPECT_EQ(id.criticalTemperature, 363);

    Page n(4096, 0);
    PutLe(n, 0, 8, 1000);
    n[26] = 2;                 // format 2 is the formatted one
    n[128 + 4 * 0 + 2] = 9;
    n[128 + 4 * 2 + 2] = 12;   // 4096-byte blocks
    EXPECT_EQ(DecodeNvmeNamespaceSize(n.data(), n.size()), 4096000);
    n[26] = 0x20 | 1;          // format 17: the high bits of FLBAS count
    n[128 + 4 * 17 + 2] = 9;
    EXPECT_EQ(DecodeNvmeNamespaceSize(n.data(), n.size()), 512000);
    n[128 + 4 * 17 + 2] = 0;   // no data size: unknown, not 1000 bytes
    EXPECT_EQ(DecodeNvmeNamespaceSize(n.data(), n.size()), 0);
    n[128 + 4 * 17 + 2] = 12;
    PutLe(n, 0, 8, Max64);     // beyond 63 bits
    EXPECT_EQ(DecodeNvmeNamespaceSize(n.data(), n.size()), 0);
    EXPECT_EQ(DecodeNvmeNamespaceSize(n.data(), 20), 0);
}

TEST(NvmeRating, CriticalWarningFailsAndNamesItsBits) {
    NvmeHealthLog h = Healthy();
    NvmeRating r = RateNvmeHealth(h, NvmeIdentity{});
    EXPECT_EQ(RowAt(r, 0).state, SmartStatusOk);
    EXPECT_EQ(RowAt(r, 0).caption, "Critical Warning");
    const char* names[] = {"spare below threshold", "temperature", "reliability degraded", "read-only",
                           "volatile backup failed", "persistent memory read-only"};
    for (int b = 0; b < 6; ++b) {
        h.criticalWarning = static_cast<uint8_t>(1u << b);
        r = RateNvmeHealth(h, NvmeIdentity{});
        EXPECT_EQ(RowAt(r, 0).state, SmartStatusFailingNow) << b;
        EXPECT_EQ(RowAt(r, 0).caption, std::string("Critical Warning: ") + names[b]);
        EXPECT_EQ(r.failedCount, 1);
    }
    h.criticalWarning = 0x05;
    EXPECT_EQ(RowAt(RateNvmeHealth(h, NvmeIdentity{}), 0).caption,
              "Critical Warning: spare below threshold, reliability degraded");
}

TEST(NvmeRating, AvailableSpareAgainstItsThreshold) {
    struct Case { int spare, threshold; const char* state; };
    const Case cases[] = {
        {9, 10, SmartStatusFailingNow}, {10, 10, SmartStatusWarning}, {54, 10, SmartStatusWarning},
        {55, 10, SmartStatusOk},        {100, 10, SmartStatusOk},     {0, 1, SmartStatusFailingNow},
        {99, 100, SmartStatusFailingNow}, {100, 100, SmartStatusOk},
        {0, 0, SmartStatusNotRated},    {50, 101, SmartStatusNotRated}, {255, 255, SmartStatusNotRated},
    };
    for (const Case& c : cases) {
        NvmeHealthLog h = Healthy();
        h.availableSpare = static_cast<uint8_t>(c.spare);
        h.availableSpareThreshold = static_cast<uint8_t>(c.threshold);
        const NvmeRating r = RateNvmeHealth(h, NvmeIdentity{});
        const NvmeRow row = RowAt(r, 3);
        EXPECT_EQ(row.state, c.state) << c.spare << " of " << c.threshold;
        EXPECT_EQ(row.threshold, c.threshold);
        EXPECT_TRUE(row.hasThreshold);
        EXPECT_EQ(row.barPosition, std::min(c.spare, 100));
        EXPECT_EQ(RowAt(r, 4).state, SmartStatusNotRated);  // the threshold's own row
    }
}

TEST(NvmeRating, PercentageUsedWarnsFromNinetyAndItsBarShowsWhatRemains) {
    using C = std::tuple<int, const char*, int>;
    for (auto [used, state, bar] : {C{0, SmartStatusOk, 100}, C{89, SmartStatusOk, 11}, C{90, SmartStatusWarning, 10},
                                    C{100, SmartStatusWarning, 0}, C{255, SmartStatusWarning, 0}}) {
        NvmeHealthLog h = Healthy();
        h.percentageUsed = static_cast<uint8_t>(used);
        const NvmeRating r = RateNvmeHealth(h, NvmeIdentity{});
        EXPECT_EQ(RowAt(r, 5).state, state) << used;
        EXPECT_EQ(RowAt(r, 5).barPosition, bar) << used;
        EXPECT_EQ(r.warningCount, state == SmartStatusWarning ? 1 : 0);
        EXPECT_EQ(r.failedCount, 0);
    }
}

TEST(NvmeRating, MediaErrorsWarnEvenWhenOnlyTheHighHalfIsSet) {
    NvmeHealthLog h = Healthy();
    EXPECT_EQ(RowAt(RateNvmeHealth(h, NvmeIdentity{}), 160).state, SmartStatusOk);
    h.mediaErrors = {1, 0};
    EXPECT_EQ(RowAt(RateNvmeHealth(h, NvmeIdentity{}), 160).state, SmartStatusWarning);
    h.mediaErrors = {0, 1};
    const NvmeRow row = RowAt(RateNvmeHealth(h, NvmeIdentity{}), 160);
    EXPECT_EQ(row.state, SmartStatusWarning);
    EXPECT_EQ(row.raw, (Uint128{0, 1}));
    EXPECT_EQ(row.current, INT64_MAX);
    EXPECT_EQ(row.currentText, "18446744073709551616");
    EXPECT_FALSE(row.celsius);
}

TEST(NvmeRating, CompositeTemperatureAgainstWctempAndCctemp) {
    struct Case { uint16_t t, warning, critical; const char* state; };
    const Case cases[] = {
        {342, 343, 358, SmartStatusOk},        {343, 343, 358, SmartStatusWarning},
        {357, 343, 358, SmartStatusWarning},   {358, 343, 358, SmartStatusFailingNow},
        {400, 0, 0, SmartStatusNotRated},      {350, 343, 0, SmartStatusWarning},
        {360, 0, 358, SmartStatusFailingNow},  {340, 0, 358, SmartStatusOk},
    };
    for (const Case& c : cases) {
        NvmeHealthLog h = Healthy();
        h.compositeTemperature = c.t;
        const NvmeRating r = RateNvmeHealth(h, Thresholds(c.warning, c.critical));
        const NvmeRow row = RowAt(r, 1);
        EXPECT_EQ(row.state, c.state) << c.t << " " << c.warning << " " << c.critical;
        EXPECT_EQ(row.hasThreshold, c.warning != 0);
        if (c.warning) {
            EXPECT_EQ(row.threshold, c.warning - 273);
        }
        EXPECT_EQ(row.current, c.t - 273);
        EXPECT_TRUE(row.temperature);
    }
}

TEST(NvmeRating, OneRowPerFieldInPageOrderAndOnlyReportedSensors) {
    NvmeHealthLog h = Healthy();
    h.temperatureSensors[1] = 300;
    h.temperatureSensors[7] = 65535;
    h.powerOnHours = {Max64, 3};
    const NvmeRating r = RateNvmeHealth(h, NvmeIdentity{});
    const int offsets[] = {0, 1, 3, 4, 5, 6, 32, 48, 64, 80, 96, 112, 128, 144, 160, 176, 192, 196, 202, 214};
    ASSERT_EQ(r.rows.size(), std::size(offsets));
    for (size_t i = 0; i < r.rows.size(); ++i) EXPECT_EQ(r.rows[i].offset, offsets[i]);
    EXPECT_EQ(r.rows[18].caption, "Temperature Sensor 2");
    EXPECT_EQ(r.rows[18].current, 27);
    EXPECT_EQ(r.rows[19].caption, "Temperature Sensor 8");
    EXPECT_EQ(r.rows[19].current, 65262);
    EXPECT_EQ(DecimalText(RowAt(r, 128).raw), "73786976294838206463");
    // Only the three rated bars.
    int bars = 0;
    for (const NvmeRow& row : r.rows) bars += row.bar;
    EXPECT_EQ(bars, 3);
    EXPECT_EQ(r.failedCount, 0);
    EXPECT_EQ(r.warningCount, 0);
}
