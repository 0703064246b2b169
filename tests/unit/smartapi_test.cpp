#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "platform/platform.h"
#include "smart/smartapi.h"
#include "support/sim.h"

using namespace platform;

namespace {

// One physical drive with the given "ide" (and optional "scsi") section.
std::unique_ptr<sim::SimPlatform> Drive(const std::string& sections, const std::string& top = "") {
    return testsupport::Machine(R"({)" + top + R"("errors": {"5": "Access is denied.  \r\n", "23": "Data error (cyclic redundancy check)."},
        "drives": [{"path": "\\\\.\\PhysicalDrive0", )" + sections + "}]}");
}

const char* Disk0 = R"("identify": {"model": "QEMU HARDDISK", "serial": "QM00001", "firmware": "2.5+",
                                     "sectors": 2097152, "word47": 32784},
                        "attributes": [{"id": 1, "flags": 1, "current": 100, "worst": 100, "threshold": 6},
                                       {"id": 5, "flags": 51, "current": 100, "worst": 100, "threshold": 36, "raw": 7},
                                       {"id": 194, "flags": 34, "current": 35, "worst": 50, "raw": 35}])";

std::string Ide(const std::string& positions, const std::string& extra = "") {
    return R"("ide": {)" + extra + R"("positions": {)" + positions + "}}";
}

struct Calls {
    std::vector<uint32_t> codes;
    std::vector<SENDCMDINPARAMS> inputs;  // SEND/RCV inputs, in order
};

Calls ControlsOf(const sim::SimPlatform& m) {
    Calls c;
    for (const auto& rec : m.Controls()) {
        c.codes.push_back(rec.code);
        if (rec.code == SMART_SEND_DRIVE_COMMAND || rec.code == SMART_RCV_DRIVE_DATA) {
            EXPECT_EQ(rec.input.size(), 32u);
            SENDCMDINPARAMS in{};
            std::memcpy(&in, rec.input.data(), std::min<size_t>(rec.input.size(), 32));
            c.inputs.push_back(in);
        }
    }
    return c;
}

// features, count, number, cyl low, cyl high, drive/head, command
std::vector<int> Regs(const SENDCMDINPARAMS& in) {
    const IDEREGS& r = in.irDriveRegs;
    return {r.bFeaturesReg, r.bSectorCountReg, r.bSectorNumberReg, r.bCylLowReg,
            r.bCylHighReg,  r.bDriveHeadReg,   r.bCommandReg,      r.bReserved};
}

}  // namespace

TEST(SwapAtaString, SwapsEveryWordAndTrimsBlanksAndNuls) {
    const uint8_t abcd[] = {'b', 'a', 'd', 'c', ' ', ' '};
    EXPECT_EQ(SwapAtaString(abcd, sizeof abcd), "abcd");
    const uint8_t hard[] = {'a', 'H', 'd', 'r', ' ', ' ', ' ', ' '};
    EXPECT_EQ(SwapAtaString(hard, sizeof hard), "Hard");
    const uint8_t blanks[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    EXPECT_EQ(SwapAtaString(blanks, sizeof blanks), "");
    const uint8_t nuls[8] = {};
    EXPECT_EQ(SwapAtaString(nuls, sizeof nuls), "");
    // Leading NUL and control bytes go, inner blanks stay.
    const uint8_t inner[] = {'A', 0, 'B', ' ', 'C', 0x1F, '\t', 0};
    EXPECT_EQ(SwapAtaString(inner, sizeof inner), std::string("A B\x1F") + "C");
    EXPECT_EQ(SwapAtaString(nullptr, 4), "");
    // An odd trailing byte has no partner and is not read.
    const uint8_t odd[] = {'b', 'a', 'X'};
    EXPECT_EQ(SwapAtaString(odd, 3), "ab");
}

TEST(ExceptionMessageText, TrimsTheMessageOrGivesNothing) {
    std::exception_ptr e;
    try {
        throw std::runtime_error(" \t device gone \r\n");
    } catch (...) {
        e = std::current_exception();
    }
    EXPECT_EQ(ExceptionMessageText(e), "device gone");
    try {
        throw 42;
    } catch (...) {
        e = std::current_exception();
    }
    EXPECT_EQ(ExceptionMessageText(e), "");
    EXPECT_EQ(ExceptionMessageText(nullptr), "");
}

TEST(DriverStatusTexts, CoverZeroToTenAndNameUnknownValues) {
    EXPECT_STREQ(DriverStatusTexts[0], "No error");
    EXPECT_STREQ(DriverStatusTexts[4], "Bad buffer (null, invalid addr..)");
    EXPECT_STREQ(DriverStatusTexts[7], "Could not lock user\"s buffer");
    EXPECT_STREQ(DriverStatusTexts[10], "Cmd issued to device not present although drive number is valid");
    EXPECT_EQ(DriverStatusText(10), DriverStatusTexts[10]);
    EXPECT_EQ(DriverStatusText(11), "Unknown driver error 11");
    EXPECT_EQ(DriverStatusText(255), "Unknown driver error 255");
}

TEST(IdentifyAtaDrive, ReadsModelSerialAndCapacityWithTheExactCommands) {
    auto m = Drive(Ide(std::string(R"("0": {)") + Disk0 + "}"));
    std::string err = "stale", model = "x", serial = "y";
    int64_t size = -1;
    ASSERT_TRUE(IdentifyAtaDrive(*m, 0, err, model, serial, size)) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(model, "QEMU HARDDISK");
    EXPECT_EQ(serial, "QM00001");
    EXPECT_EQ(size, 2097152LL * 512);
    EXPECT_EQ(m->OpenHandleCount(), 0u);

    ASSERT_EQ(m->Opens().size(), 1u);
    EXPECT_EQ(m->Opens()[0].path, "\\\\.\\PhysicalDrive0");
    EXPECT_EQ(m->Opens()[0].share, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_EQ(m->Opens()[0].creation, OPEN_EXISTING);

    Calls c = ControlsOf(*m);
    ASSERT_EQ(c.codes, (std::vector<uint32_t>{SMART_GET_VERSION, SMART_SEND_DRIVE_COMMAND, SMART_RCV_DRIVE_DATA}));
    ASSERT_EQ(c.inputs.size(), 2u);
    EXPECT_EQ(uint32_t{c.inputs[0].cBufferSize}, 0u);
    EXPECT_EQ(Regs(c.inputs[0]), (std::vector<int>{0xD8, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0}));
    EXPECT_EQ(uint32_t{c.inputs[1].cBufferSize}, 512u);
    EXPECT_EQ(Regs(c.inputs[1]), (std::vector<int>{0, 1, 1, 0, 0, 0xA0, 0xEC, 0}));
    EXPECT_EQ(c.inputs[1].bDriveNumber, 0);
}

TEST(IdentifyAtaDrive, TextsOfIdentifyWithoutPadding) {
    // A model that fills all 40 bytes and a serial that fills all 20.
    auto m = Drive(Ide(R"("0": {"identify": {"model": "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd",
                                              "serial": "S1234567890123456789", "sectors": 4294967295}})"));
    std::string err, model, serial;
    int64_t size = 0;
    ASSERT_TRUE(IdentifyAtaDrive(*m, 0, err, model, serial, size));
    EXPECT_EQ(model, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd");
    EXPECT_EQ(serial, "S1234567890123456789");
    EXPECT_EQ(size, 4294967295LL * 512);  // computed in 64 bits
}

TEST(IdentifyAtaDrive, FailuresCarryTheirTexts) {
    std::string err, model, serial;
    int64_t size = 0;

    auto noVersion = Drive(R"("ide": {"fail": {"getVersion": {"error": 5}}})");
    EXPECT_FALSE(IdentifyAtaDrive(*noVersion, 0, err, model, serial, size));
    EXPECT_EQ(err, "DFP_GET_VERSION failed: Access is denied");
    EXPECT_EQ(noVersion->OpenHandleCount(), 0u);

    auto noIdent = Drive(Ide(std::string(R"("0": {"fail": {"identify": {"error": 23, "driverError": 1, "ideError": 4}}, )") + Disk0 + "}"));
    EXPECT_FALSE(IdentifyAtaDrive(*noIdent, 0, err, model, serial, size));
    EXPECT_EQ(err, "Identify Command Failed on Drive: Error from IDE controller bIDEStatus=0004 : "
                   "Data error (cyclic redundancy check)");
    EXPECT_EQ(model, "");
    EXPECT_EQ(noIdent->OpenHandleCount(), 0u);

    auto odd = Drive(Ide(R"("0": {"fail": {"identify": {"error": 23, "driverError": 200, "ideError": 171}}})"));
    EXPECT_FALSE(IdentifyAtaDrive(*odd, 0, err, model, serial, size));
    EXPECT_EQ(err, "Identify Command Failed on Drive: Unknown driver error 200 bIDEStatus=00AB : "
                   "Data error (cyclic redundancy check)");

    auto absent = Drive(Ide(""));
    EXPECT_FALSE(IdentifyAtaDrive(*absent, 3, err, model, serial, size));
    EXPECT_EQ(err.rfind("Unable to open physical drive: ", 0), 0u) << err;
    EXPECT_GT(err.size(), std::string("Unable to open physical drive: ").size());
}

TEST(IdentifyAtaDrive, EmptyDeviceMapIsTrueWithNothing) {
    auto m = Drive(Ide(std::string(R"("0": {)") + Disk0 + "}", R"("deviceMap": 0, )"));
    std::string err, model = "m", serial = "s";
    int64_t size = 5;
    EXPECT_TRUE(IdentifyAtaDrive(*m, 0, err, model, serial, size));
    EXPECT_EQ(model + serial + err, "");
    EXPECT_EQ(size, 0);
    EXPECT_EQ(ControlsOf(*m).codes.size(), 1u);
}

TEST(IdentifyAtaDrive, OpensThePathOfThePlatform) {
    std::string err, model, serial;
    int64_t size = 0;
    // The simulated machine has no SMARTVSD driver to create.
    auto w9x = testsupport::Machine(R"({"platformId": 1, "errors": {"2": "The system cannot find the file specified.\r\n"}})");
    EXPECT_FALSE(IdentifyAtaDrive(*w9x, 7, err, model, serial, size));
    ASSERT_EQ(w9x->Opens().size(), 1u);
    EXPECT_EQ(w9x->Opens()[0].path, "\\\\.\\SMARTVSD");
    EXPECT_EQ(w9x->Opens()[0].access, 0u);
    EXPECT_EQ(w9x->Opens()[0].share, 0u);
    EXPECT_EQ(w9x->Opens()[0].creation, CREATE_NEW);
    EXPECT_EQ(err.rfind("Unable to open SMARTVSD: ", 0), 0u) << err;

    auto other = testsupport::Machine(R"({"platformId": 3})");
    model = "x";
    EXPECT_FALSE(IdentifyAtaDrive(*other, 0, err, model, serial, size));
    EXPECT_EQ(err, "");
    EXPECT_EQ(model, "");
    EXPECT_TRUE(other->Opens().empty());
}

TEST(IdentifyAtaDrive, ExceptionPassesThroughAfterTheHandleIsClosed) {
    // A manifest the simulated driver cannot use throws from inside the control.
    auto m = Drive(Ide(R"("0": {"identify": {"hex": "zz"}})"));
    std::string err, model, serial;
    int64_t size = 0;
    EXPECT_THROW(IdentifyAtaDrive(*m, 0, err, model, serial, size), std::runtime_error);
    EXPECT_EQ(m->OpenHandleCount(), 0u);
}

TEST(ReadSmartData, FullResultFromOneDrive) {
    auto m = Drive(Ide(std::string(R"("0": {)") + Disk0 + "}"));
    TSmartResult r;
    std::string err = "old";
    ASSERT_TRUE(ReadSmartData(*m, 0, r, err)) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(r.DeviceIndex, 0);
    EXPECT_EQ(r.ModelNumber, "QEMU HARDDISK");
    EXPECT_EQ(r.SerialNumber, "QM00001");
    EXPECT_EQ(r.FirmwareRevision, "2.5+");
    EXPECT_EQ(r.IdentifyWord47, 32784);
    EXPECT_EQ(r.SizeBytes, 2097152LL * 512);
    ASSERT_EQ(r.AttributeCount, 3);
    EXPECT_EQ(r.AttributeName[1], "Reallocated Sector Count");
    EXPECT_EQ(r.ThresholdValue[1], 36);
    EXPECT_EQ(r.ReallocatedSectors, 7);
    EXPECT_EQ(r.TemperatureCurrent, 35);
    EXPECT_EQ(r.TemperatureMax, 50);
    EXPECT_EQ(r.AttributeStatus[0], "OK");
    EXPECT_EQ(m->OpenHandleCount(), 0u);

    Calls c = ControlsOf(*m);
    ASSERT_EQ(c.inputs.size(), 4u);
    EXPECT_EQ(Regs(c.inputs[2]), (std::vector<int>{0xD0, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0}));
    EXPECT_EQ(Regs(c.inputs[3]), (std::vector<int>{0xD1, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0}));
    EXPECT_EQ(uint32_t{c.inputs[2].cBufferSize}, 512u);
}

TEST(ReadSmartData, RejectedEnableStillGivesAFullResult) {
    auto m = Drive(Ide(std::string(R"("0": {"fail": {"enable": {"error": 5}}, )") + Disk0 + "}"));
    TSmartResult r;
    std::string err;
    EXPECT_TRUE(ReadSmartData(*m, 0, r, err));
    EXPECT_EQ(err, "SMART Enable Command Failed, Drive: 0 : Access is denied");
    EXPECT_EQ(r.AttributeCount, 3);
}

TEST(ReadSmartData, AtapiPositionIsIdentifiedAsPacketDeviceWithoutEnable) {
    auto m = Drive(Ide(R"("0": {"atapi": true, "identify": {"model": "CDROM"}, "attributes": [{"id": 9, "raw": 120}]})"));
    TSmartResult r;
    std::string err;
    EXPECT_TRUE(ReadSmartData(*m, 0, r, err)) << err;
    EXPECT_EQ(r.ModelNumber, "CDROM");
    EXPECT_EQ(r.PowerOnHours, 3);
    Calls c = ControlsOf(*m);
    ASSERT_EQ(c.codes, (std::vector<uint32_t>{SMART_GET_VERSION, SMART_RCV_DRIVE_DATA, SMART_RCV_DRIVE_DATA, SMART_RCV_DRIVE_DATA}));
    EXPECT_EQ(c.inputs[0].irDriveRegs.bCommandReg, 0xA1);
}

TEST(ReadSmartData, FallsThroughToTheNextPosition) {
    auto m = Drive(Ide(std::string(R"("0": {"fail": {"identify": {"error": 23, "driverError": 1, "ideError": 4}}},
                                      "1": {)") + Disk0 + "}"));
    TSmartResult r;
    std::string err;
    EXPECT_TRUE(ReadSmartData(*m, 0, r, err));
    EXPECT_EQ(r.DeviceIndex, 1);
    EXPECT_EQ(r.AttributeCount, 3);
    // The failure of position 0 stays in the text.
    EXPECT_EQ(err.rfind("Identify Command Failed on Drive: ", 0), 0u) << err;
    Calls c = ControlsOf(*m);
    EXPECT_EQ(c.inputs.back().irDriveRegs.bDriveHeadReg, 0xB0);
}

TEST(ReadSmartData, ReadFailuresNameTheDriverStatus) {
    TSmartResult r;
    std::string err;
    auto attr = Drive(Ide(std::string(R"("0": {"fail": {"readData": {"error": 23, "driverError": 1, "ideError": 4}}, )") + Disk0 + "}"));
    EXPECT_FALSE(ReadSmartData(*attr, 0, r, err));
    EXPECT_EQ(err, "SMART Read Attr Command Failed, Drive: 0 : Data error (cyclic redundancy check); "
                   "DriverStatus: Error from IDE controller; bIDEStatus=0004");
    EXPECT_EQ(r.DeviceIndex, 0);  // identified before the read failed
    EXPECT_EQ(r.AttributeCount, 0);

    auto thr = Drive(Ide(std::string(R"("2": {"fail": {"readThresholds": {"error": 5, "driverError": 11, "ideError": 255}}, )") + Disk0 + "}"));
    EXPECT_FALSE(ReadSmartData(*thr, 0, r, err));
    EXPECT_EQ(err, "SMART Read Threshold Command Failed, Drive: 2 : Access is denied; "
                   "DriverStatus: Unknown driver error 11; bIDEStatus=00FF");
    EXPECT_EQ(thr->OpenHandleCount(), 0u);
}

TEST(ReadSmartData, EmptyMapAndFailedVersion) {
    TSmartResult r;
    std::string err;
    auto none = Drive(Ide("", R"("deviceMap": 0, )"));
    EXPECT_TRUE(ReadSmartData(*none, 0, r, err));
    EXPECT_EQ(r.AttributeCount, 0);
    EXPECT_EQ(r.DeviceIndex, -1);

    auto fail = Drive(R"("ide": {"fail": {"getVersion": {"error": 5}}})");
    r.ModelNumber = "stale";
    EXPECT_FALSE(ReadSmartData(*fail, 0, r, err));
    EXPECT_EQ(err, "DFP_GET_VERSION failed: Access is denied");
    EXPECT_EQ(r.ModelNumber, "");

    auto noSmart = Drive(R"("size": 1024)");  // no pass-through at all
    EXPECT_FALSE(ReadSmartData(*noSmart, 0, r, err));
    EXPECT_EQ(err.rfind("DFP_GET_VERSION failed: ", 0), 0u);
}

TEST(ReadSmartData, AnExceptionEndsTheRunWithItsMessage) {
    auto m = Drive(Ide(R"("0": {"identify": {"model": "M"}, "attributes": {"hex": "0g"}})"));
    TSmartResult r;
    std::string err;
    // Version and enable succeeded before the exception.
    EXPECT_TRUE(ReadSmartData(*m, 0, r, err));
    EXPECT_EQ(err.rfind("SMART Failed - machine manifest: ", 0), 0u) << err;
    EXPECT_EQ(m->OpenHandleCount(), 0u);
}

TEST(ReadScsiSerial, ReadsTheUnitSerialNumberPage) {
    auto m = Drive(R"("scsi": {"text": "  WD-123456  "})");
    std::string err, model = "keep?", serial;
    int64_t size = 9;
    ASSERT_TRUE(ReadScsiSerial(*m, 0, err, model, serial, size)) << err;
    EXPECT_EQ(serial, "WD-123456");
    EXPECT_EQ(model, "");
    EXPECT_EQ(size, 0);
    EXPECT_EQ(m->OpenHandleCount(), 0u);
    ASSERT_EQ(m->Controls().size(), 1u);
    const auto& in = m->Controls()[0].input;
    ASSERT_EQ(in.size(), 44u);
    SCSI_PASS_THROUGH spt{};
    std::memcpy(&spt, in.data(), sizeof spt);
    EXPECT_EQ(uint32_t{spt.Length}, 44);
    EXPECT_EQ(spt.CdbLength, 6);
    EXPECT_EQ(spt.SenseInfoLength, 24);
    EXPECT_EQ(spt.DataIn, 1);
    EXPECT_EQ(uint32_t{spt.DataTransferLength}, 192u);
    EXPECT_EQ(uint32_t{spt.TimeOutValue}, 2u);
    EXPECT_EQ(uint32_t{spt.DataBufferOffset}, 76u);
    EXPECT_EQ(uint32_t{spt.SenseInfoOffset}, 44u);
    const uint8_t cdb[16] = {0x12, 0x01, 0x80, 0x00, 0xC0};
    EXPECT_EQ(std::memcmp(spt.Cdb, cdb, 16), 0);
}

TEST(ReadScsiSerial, RejectsWrongPagesAndFailures) {
    std::string err, model, serial;
    int64_t size = 0;
    auto wrongPage = Drive(R"("scsi": {"page": 131, "text": "X"})");
    EXPECT_FALSE(ReadScsiSerial(*wrongPage, 0, err, model, serial, size));
    EXPECT_EQ(err, "No SCSI Drive Serial Number Returned");
    auto empty = Drive(R"("scsi": {"length": 0, "text": "X"})");
    EXPECT_FALSE(ReadScsiSerial(*empty, 0, err, model, serial, size));
    EXPECT_EQ(err, "No SCSI Drive Serial Number Returned");
    auto failing = Drive(R"("scsi": {"fail": {"error": 5}})");
    EXPECT_FALSE(ReadScsiSerial(*failing, 0, err, model, serial, size));
    EXPECT_EQ(err, "SCSI_IOCTL Command Failed: Access is denied");
    EXPECT_EQ(failing->OpenHandleCount(), 0u);
}

TEST(ReadScsiSerial, PageLengthBeyondTheBufferGivesAtMost188Bytes) {
    std::string text(250, 'S');
    text[187] = 'E';
    auto m = Drive(R"("scsi": {"length": 250, "text": ")" + text + R"("})");
    std::string err, model, serial;
    int64_t size = 0;
    ASSERT_TRUE(ReadScsiSerial(*m, 0, err, model, serial, size));
    EXPECT_EQ(serial.size(), 188u);
    EXPECT_EQ(serial.back(), 'E');
}

TEST(ReadSmartData, ShortBlocksEndTheScanWhereTheDataEnds) {
    // One entry's worth of attribute bytes, the rest of the answer zero; a
    // threshold block that lists nothing.
    auto m = Drive(Ide(R"("0": {"identify": {"model": "M"},
                                "attributes": {"hex": "1000 05 3300 0a 0a 0100000000 00 00"},
                                "thresholds": {"hex": "1000"}})"));
    TSmartResult r;
    std::string err;
    ASSERT_TRUE(ReadSmartData(*m, 0, r, err)) << err;
    ASSERT_EQ(r.AttributeCount, 1);
    EXPECT_EQ(r.AttributeId[0], 5);
    EXPECT_EQ(r.CurrentValue[0], 10);
    EXPECT_EQ(r.ThresholdValue[0], 0);
    EXPECT_EQ(r.AttributeStatus[0], "-");  // no threshold, not rated
    EXPECT_EQ(r.ReallocatedSectors, 1);
}
