// The SMART layer against dumps of real drives (../shared/smart-samples).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "smart/smartapi.h"
#include "support/sim.h"

namespace fs = std::filesystem;

namespace {

const fs::path SampleDir = fs::path(SCANDOR_SHARED_DIR) / "smart-samples";

std::vector<fs::path> Samples() {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(SampleDir, ec))
        if (e.path().extension() == ".blob") out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

std::map<std::string, std::vector<uint8_t>> Records(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::map<std::string, std::vector<uint8_t>> r;
    for (size_t at = 0; at + 8 <= b.size();) {
        std::string tag(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + 4));
        size_t n = size_t{b[at + 4]} << 24 | size_t{b[at + 5]} << 16 | size_t{b[at + 6]} << 8 | b[at + 7];
        r[tag].assign(b.begin() + static_cast<long>(at + 8), b.begin() + static_cast<long>(at + 8 + n));
        at += 8 + n;
    }
    return r;
}

// An ATA text field read the slow way: character i of the text is byte i^1.
std::string AtaText(const std::vector<uint8_t>& id, size_t from, size_t len) {
    std::string s;
    for (size_t i = 0; i < len; ++i) s += static_cast<char>(id[from + (i ^ 1)]);
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!s.empty() && blank(s.back())) s.pop_back();
    while (!s.empty() && blank(s.front())) s.erase(s.begin());
    return s;
}

struct SampleRun {
    bool ok = false;
    std::string error;
    TSmartResult result;
    std::map<std::string, std::vector<uint8_t>> records;
};

SampleRun ReadSample(const fs::path& p) {
    auto m = testsupport::Machine(R"({"drives": [{"path": "\\\\.\\PhysicalDrive0",
        "ide": {"positions": {"0": {"sample": ")" + p.string() + R"("}}}}]})");
    SampleRun run;
    run.ok = ReadSmartData(*m, 0, run.result, run.error);
    run.records = Records(p);
    return run;
}

#define REQUIRE_SAMPLES()                                                                  \
    if (Samples().empty()) GTEST_SKIP() << "no SMART samples in " << SampleDir.string() \
                                        << " (the shared folder is not beside the checkout)"

}  // namespace

TEST(SmartSamples, EverySlotAndIdentificationFieldIsWhatTheBytesSay) {
    REQUIRE_SAMPLES();
    for (const auto& p : Samples()) {
        SCOPED_TRACE(p.filename().string());
        SampleRun run = ReadSample(p);
        ASSERT_TRUE(run.ok) << run.error;
        const TSmartResult& r = run.result;
        const auto& id = run.records.at("IDFY");
        const auto& a = run.records.at("SMDT");
        const auto& t = run.records.at("SMTH");
        EXPECT_EQ(r.ModelNumber, AtaText(id, 54, 40));
        EXPECT_EQ(r.SerialNumber, AtaText(id, 20, 20));
        EXPECT_EQ(r.FirmwareRevision, AtaText(id, 46, 8));
        EXPECT_FALSE(r.ModelNumber.empty());
        EXPECT_EQ(r.IdentifyWord47, id[94] | id[95] << 8);
        EXPECT_EQ(r.SizeBytes, int64_t{512} * (id[120] | id[121] << 8 | id[122] << 16 | int64_t{id[123]} << 24));

        int n = 0;
        int32_t realloc = 0, hours = 0, cycles = 0, tCur = 0, tMin = 0, tMax = 0;
        while (n < 30 && a[2 + 12 * n] != 0) {
            const size_t o = 2 + 12 * static_cast<size_t>(n);
            EXPECT_EQ(r.AttributeId[n], a[o]);
            EXPECT_EQ(r.AttributeName[n], SmartAttributeNames(a[o]));
            EXPECT_EQ(r.PreFailure[n], (a[o + 1] & 1) != 0);
            EXPECT_EQ(r.ErrorRate[n], (a[o + 1] & 8) != 0);
            EXPECT_EQ(r.EventCount[n], (a[o + 1] & 16) != 0);
            EXPECT_EQ(r.CurrentValue[n], a[o + 3]);
            EXPECT_EQ(r.WorstValue[n], a[o + 4]);
            EXPECT_EQ(r.ThresholdValue[n], t[o + 1]);
            int64_t raw = 0;
            for (int b = 0; b < 6; ++b) raw += int64_t{a[o + 5 + b]} << (8 * b);
            EXPECT_EQ(r.RawValue[n], raw) << "slot " << n;
            if (raw > 0 && raw < 2147483647) {
                if (a[o] == 5) realloc = static_cast<int32_t>(raw);
                if (a[o] == 9) hours = static_cast<int32_t>(raw / 60 + 1);
                if (a[o] == 12) cycles = static_cast<int32_t>(raw);
            }
            if (a[o] == 194) {
                tCur = a[o + 5];
                tMin = a[o + 7];
                tMax = a[o + 5] == a[o + 3] ? a[o + 4] : a[o + 9];
            }
            ++n;
        }
        EXPECT_EQ(r.AttributeCount, n);
        EXPECT_EQ(r.ReallocatedSectors, realloc);
        EXPECT_EQ(r.PowerOnHours, hours);
        EXPECT_EQ(r.PowerCycles, cycles);
        EXPECT_EQ(r.TemperatureCurrent, tCur);
        EXPECT_EQ(r.TemperatureMin, tMin);
        EXPECT_EQ(r.TemperatureMax, tMax);
    }
}

TEST(SmartSamples, RatingInvariantsHoldForEveryDrive) {
    REQUIRE_SAMPLES();
    for (const auto& p : Samples()) {
        SCOPED_TRACE(p.filename().string());
        SampleRun run = ReadSample(p);
        ASSERT_TRUE(run.ok) << run.error;
        const TSmartResult& r = run.result;
        int failed = 0, warned = 0, failingNow = 0;
        for (int i = 0; i < r.AttributeCount; ++i) {
            const std::string& s = r.AttributeStatus[i];
            if (!r.PreFailure[i] || r.ThresholdValue[i] == 0) {
                EXPECT_EQ(s, "-") << "slot " << i;
            } else {
                EXPECT_NE(s, "-") << "slot " << i;
            }
            failed += s == "Failing Now" || s == "Failed In Past";
            failingNow += s == "Failing Now";
            warned += s == "Warning";
        }
        for (int i = r.AttributeCount; i < SmartSlotCount; ++i) EXPECT_EQ(r.AttributeId[i], 0);
        EXPECT_EQ(r.FailedCount, failed);
        EXPECT_EQ(r.WarningCount, warned);
        // The drive's own verdict: an attribute at or below its threshold now.
        auto st = run.records.find("SMST");
        if (st != run.records.end()) {
            const bool healthy = st->second[0] | st->second[1] | st->second[2] | st->second[3];
            EXPECT_EQ(failingNow == 0, healthy);
        }
    }
}

// Seagate ST320410A, rated by hand (baseline 100 throughout: attribute 3 is at 100):
//  1 pre-failure, 83/70 thr 25, limit 25+37=62 -> OK; 3 thr 0 -> "-"; 4 advisory -> "-";
//  5 100/100 thr 36, limit 68, raw 5 -> OK; 7 89/60 thr 30, limit 65 -> OK;
//  10 pre-failure 100/96 thr 97: worst at or below -> Failed In Past; the rest advisory.
TEST(SmartSamples, SeagateWithAnAttributeFailedInThePast) {
    const fs::path p = SampleDir / "ST320410A--3.39.blob";
    if (!fs::exists(p)) GTEST_SKIP() << "sample " << p.string() << " not present";
    SampleRun run = ReadSample(p);
    ASSERT_TRUE(run.ok) << run.error;
    const TSmartResult& r = run.result;
    EXPECT_EQ(r.ModelNumber, "ST320410A");
    EXPECT_EQ(r.SerialNumber, "5FB3QF34");
    EXPECT_EQ(r.FirmwareRevision, "3.39");
    ASSERT_EQ(r.AttributeCount, 15);
    const char* expected[15] = {"OK", "-", "-", "OK", "OK", "-", "Failed In Past", "-",
                                "-",  "-", "-", "-",  "-",  "-", "-"};
    for (int i = 0; i < 15; ++i) EXPECT_EQ(r.AttributeStatus[i], expected[i]) << "slot " << i;
    EXPECT_EQ(r.FailedCount, 1);
    EXPECT_EQ(r.WarningCount, 0);
    EXPECT_EQ(r.ReallocatedSectors, 5);
    EXPECT_EQ(r.PowerOnHours, 30387 / 60 + 1);  // 507
    EXPECT_EQ(r.PowerCycles, 1755);
    // 194: raw byte 0 is 40, equal to the current value: the maximum is the worst value.
    EXPECT_EQ(r.TemperatureCurrent, 40);
    EXPECT_EQ(r.TemperatureMax, 61);
    EXPECT_EQ(r.TemperatureMin, 0);
}

// Maxtor 96147H8, the dump where the drive reports itself failing, rated by hand:
//  1 advisory; 3 187/183 thr 63, baseline still 100, limit 81 -> OK;
//  4 at 252 raises the baseline to 253; 5 226 thr 63, limit 63+95=158, raw 69 -> OK;
//  6 253 thr 100, limit 176 -> OK; 8 253/239 thr 187, limit 220 -> OK;
//  10 212 thr 223 -> Failing Now; 11 253/252 thr 223, limit 238 -> OK;
//  203 253/252 thr 180, limit 216 -> OK; everything else advisory.
TEST(SmartSamples, MaxtorFailingNow) {
    const fs::path p = SampleDir / "Maxtor_96147H8--BAC51KJ0--2.blob";
    if (!fs::exists(p)) GTEST_SKIP() << "sample " << p.string() << " not present";
    SampleRun run = ReadSample(p);
    ASSERT_TRUE(run.ok) << run.error;
    const TSmartResult& r = run.result;
    EXPECT_EQ(r.ModelNumber, "Maxtor 96147H8");
    ASSERT_EQ(r.AttributeCount, 30);
    std::vector<std::string> expected(30, "-");
    expected[1] = "OK";   // 3
    expected[3] = "OK";   // 5
    expected[4] = "OK";   // 6
    expected[6] = "OK";   // 8
    expected[8] = "Failing Now";  // 10
    expected[9] = "OK";   // 11
    expected[18] = "OK";  // 203
    for (int i = 0; i < 30; ++i) EXPECT_EQ(r.AttributeStatus[i], expected[static_cast<size_t>(i)]) << "slot " << i;
    EXPECT_EQ(r.FailedCount, 1);
    EXPECT_EQ(r.WarningCount, 0);
    EXPECT_EQ(r.ReallocatedSectors, 69);
    EXPECT_EQ(r.PowerOnHours, 135764 / 60 + 1);
    EXPECT_EQ(r.PowerCycles, 1810);
    EXPECT_EQ(r.TemperatureCurrent, 0);
}
