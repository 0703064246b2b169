// The Linux SMART controls without a device: the command filter, the SAT blocks
// and the reading of what a translation layer returns.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/linux/linux_platform.h"
#include "platform/linux/sat.h"
#include "smart/smartapi.h"

using namespace platform;
using namespace platform::linuxbe;

namespace {

IDEREGS SmartRegs(uint8_t feature) {
    IDEREGS r{};
    r.bFeaturesReg = feature;
    r.bSectorCountReg = 1;
    r.bSectorNumberReg = 1;
    r.bCylLowReg = 0x4F;
    r.bCylHighReg = 0xC2;
    r.bDriveHeadReg = 0xA0;
    r.bCommandReg = 0xB0;
    return r;
}

// A regular file stands in for a drive: SG_IO on it fails with ENOTTY, so a
// command that reaches the device shows as ENOTTY and a refused one as EINVAL.
class LinuxSmartOnFile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/scandor-smart-XXXXXX";
        int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 1 << 20), 0);
        close(fd);
        path_ = tmpl;
        h_ = p_.CreateFile(path_, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
        ASSERT_NE(h_, InvalidHandle);
    }
    void TearDown() override {
        if (h_ != InvalidHandle) p_.CloseHandle(h_);
        if (!path_.empty()) unlink(path_.c_str());
    }
    // Sends a command block; returns the last error (0 on success) and the driver error.
    std::pair<uint32_t, int> Send(uint32_t code, const IDEREGS& regs, uint32_t bufferSize,
                                  uint8_t drive = 0) {
        SENDCMDINPARAMS in{};
        in.cBufferSize = bufferSize;
        in.irDriveRegs = regs;
        in.bDriveNumber = drive;
        uint8_t out[SmartOutBlockSize] = {};
        bool ok = p_.DeviceIoControl(h_, code, &in, 32, out, 528, nullptr);
        return {ok ? 0u : p_.GetLastError(), out[4]};
    }
    LinuxPlatform p_;
    std::string path_;
    Handle h_ = InvalidHandle;
};

}  // namespace

TEST_F(LinuxSmartOnFile, OnlyTheListedCommandsReachTheDevice) {
    // The five commands of the SMART layer pass the filter (and meet a file).
    EXPECT_EQ(Send(SMART_SEND_DRIVE_COMMAND, SmartRegs(0xD8), 0).first, static_cast<uint32_t>(ENOTTY));
    EXPECT_EQ(Send(SMART_RCV_DRIVE_DATA, SmartRegs(0xD0), 512).first, static_cast<uint32_t>(ENOTTY));
    EXPECT_EQ(Send(SMART_RCV_DRIVE_DATA, SmartRegs(0xD1), 512).first, static_cast<uint32_t>(ENOTTY));
    IDEREGS ident{0, 1, 1, 0, 0, 0xA0, 0xEC, 0};
    EXPECT_EQ(Send(SMART_RCV_DRIVE_DATA, ident, 512).first, static_cast<uint32_t>(ENOTTY));
    ident.bCommandReg = 0xA1;
    EXPECT_EQ(Send(SMART_RCV_DRIVE_DATA, ident, 512).first, static_cast<uint32_t>(ENOTTY));

    const std::pair<uint32_t, int> refused{EINVAL, 3};
    // SMART WRITE LOG, SMART DISABLE, SMART EXECUTE OFF-LINE, SMART SAVE ATTRIBUTES.
    for (uint8_t feature : {0xD6, 0xD9, 0xD4, 0xD3}) {
        EXPECT_EQ(Send(SMART_SEND_DRIVE_COMMAND, SmartRegs(feature), 0), refused) << int(feature);
        EXPECT_EQ(Send(SMART_RCV_DRIVE_DATA, SmartRegs(feature), 512), refused) << int(feature);
    }
    // WRITE SECTORS, SECURITY ERASE UNIT, DOWNLOAD MICROCODE, TRIM, READ SECTORS.
    for (uint8_t command : {0x30, 0xF4, 0x92, 0x06, 0x20}) {
        IDEREGS r{0, 1, 1, 0, 0, 0xA0, command, 0};
        EXPECT_EQ(Send(SMART_RCV_DRIVE_DATA, r, 512), refused) << int(command);
        EXPECT_EQ(Send(SMART_SEND_DRIVE_COMMAND, r, 0), refused) << int(command);
    }
    // Right command, wrong registers: SMART without its signature, a count of 2.
    IDEREGS noSig = SmartRegs(0xD0);
    noSig.bCylHighReg = 0;
    EXPECT_EQ(Send(SMART_RCV_DRIVE_DATA, noSig, 512), refused);
    IDEREGS count2 = SmartRegs(0xD0);
    count2.bSectorCountReg = 2;
    EXPECT_EQ(Send(SMART_RCV_DRIVE_DATA, count2, 512), refused);
    // ENABLE through the data control, READ DATA through the command control.
    EXPECT_EQ(Send(SMART_RCV_DRIVE_DATA, SmartRegs(0xD8), 512), refused);
    EXPECT_EQ(Send(SMART_SEND_DRIVE_COMMAND, SmartRegs(0xD0), 0), refused);
    // A position the device map does not name.
    IDEREGS slave = SmartRegs(0xD0);
    slave.bDriveHeadReg = 0xB0;
    EXPECT_EQ(Send(SMART_RCV_DRIVE_DATA, slave, 512, 1), (std::pair<uint32_t, int>{ENODEV, 10}));
}

TEST_F(LinuxSmartOnFile, ShortBuffersAreRefusedBeforeAnythingIsSent) {
    SENDCMDINPARAMS in{};
    in.cBufferSize = 512;
    in.irDriveRegs = SmartRegs(0xD0);
    uint8_t out[SmartOutBlockSize] = {};
    EXPECT_FALSE(p_.DeviceIoControl(h_, SMART_RCV_DRIVE_DATA, &in, 32, out, 100, nullptr));
    EXPECT_EQ(p_.GetLastError(), static_cast<uint32_t>(EINVAL));
    EXPECT_EQ(out[4], 4);
    EXPECT_FALSE(p_.DeviceIoControl(h_, SMART_RCV_DRIVE_DATA, &in, 12, out, 528, nullptr));
    EXPECT_FALSE(p_.DeviceIoControl(h_, SMART_GET_VERSION, nullptr, 0, out, 8, nullptr));
    EXPECT_EQ(p_.GetLastError(), static_cast<uint32_t>(EINVAL));
}

TEST_F(LinuxSmartOnFile, ScsiPassThroughCarriesInquiryOnly) {
    SCSI_PASS_THROUGH_BLOCK b{};
    b.Spt.Length = 44;
    b.Spt.CdbLength = 10;
    b.Spt.DataIn = 1;
    b.Spt.DataTransferLength = 192;
    b.Spt.DataBufferOffset = 76;
    b.Spt.SenseInfoOffset = 44;
    b.Spt.SenseInfoLength = 24;
    b.Spt.TimeOutValue = 2;
    b.Spt.Cdb[0] = 0x2A;  // WRITE (10)
    EXPECT_FALSE(p_.DeviceIoControl(h_, IOCTL_SCSI_PASS_THROUGH, &b, 44, &b, sizeof b, nullptr));
    EXPECT_EQ(p_.GetLastError(), static_cast<uint32_t>(EINVAL));
    b.Spt.Cdb[0] = 0x12;
    b.Spt.CdbLength = 6;
    b.Spt.DataTransferLength = 300;  // past the end of the output
    EXPECT_FALSE(p_.DeviceIoControl(h_, IOCTL_SCSI_PASS_THROUGH, &b, 44, &b, sizeof b, nullptr));
    EXPECT_EQ(p_.GetLastError(), static_cast<uint32_t>(EINVAL));
    b.Spt.DataTransferLength = 192;
    EXPECT_FALSE(p_.DeviceIoControl(h_, IOCTL_SCSI_PASS_THROUGH, &b, 44, &b, sizeof b, nullptr));
    EXPECT_EQ(p_.GetLastError(), static_cast<uint32_t>(ENOTTY));
}

TEST_F(LinuxSmartOnFile, ADeviceWithoutAtaFailsTheVersionQueryWithErrnosText) {
    // An image file has no ATA behind it: never an empty map that would pass.
    uint8_t out[24] = {};
    EXPECT_FALSE(p_.DeviceIoControl(h_, SMART_GET_VERSION, nullptr, 0, out, 24, nullptr));
    EXPECT_EQ(p_.GetLastError(), static_cast<uint32_t>(ENOTTY));
}

TEST(SatBlocks, AtaPassThroughCdbs) {
    uint8_t c16[16];
    BuildAtaPassThrough16(SmartRegs(0xD0), true, c16);
    const uint8_t want16[16] = {0x85, 0x08, 0x0E, 0, 0xD0, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0};
    EXPECT_EQ(std::memcmp(c16, want16, 16), 0);
    BuildAtaPassThrough16(SmartRegs(0xD8), false, c16);
    EXPECT_EQ(c16[1], 0x06);  // non-data
    EXPECT_EQ(c16[2], 0x20);  // status asked back
    EXPECT_EQ(c16[4], 0xD8);
    uint8_t c12[12];
    BuildAtaPassThrough12(SmartRegs(0xD1), true, c12);
    const uint8_t want12[12] = {0xA1, 0x08, 0x0E, 0xD1, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0, 0};
    EXPECT_EQ(std::memcmp(c12, want12, 12), 0);
}

TEST(SatBlocks, JudgesWhatComesBack) {
    EXPECT_EQ(JudgeSat(0, nullptr, 0).kind, SatOutcome::Done);
    // Descriptor sense with the ATA status return: ABRT in error, ERR in status.
    uint8_t desc[22] = {0x72, 0x0B, 0x00, 0x00, 0, 0, 0, 14, 0x09, 12, 0, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x51};
    SatOutcome o = JudgeSat(2, desc, sizeof desc);
    EXPECT_EQ(o.kind, SatOutcome::AtaError);
    EXPECT_EQ(o.ataError, 0x04);
    EXPECT_EQ(o.ataStatus, 0x51);
    desc[21] = 0x50;  // the same without ERR: the ck_cond answer of a good command
    EXPECT_EQ(JudgeSat(2, desc, sizeof desc).kind, SatOutcome::Done);
    // Fixed-format sense: information field carries error and status.
    uint8_t fixed[18] = {0x70, 0, 0x01, 0x04, 0x51, 0, 0, 10, 0, 0, 0, 0, 0x00, 0x1D};
    o = JudgeSat(2, fixed, sizeof fixed);
    EXPECT_EQ(o.kind, SatOutcome::AtaError);
    EXPECT_EQ(o.ataError, 0x04);
    // INVALID COMMAND OPERATION CODE: the bridge does not translate this CDB.
    uint8_t illegal[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00};
    EXPECT_EQ(JudgeSat(2, illegal, sizeof illegal).kind, SatOutcome::Unsupported);
    // BUSY, or CHECK CONDITION with sense too short to read: a transport failure.
    EXPECT_EQ(JudgeSat(8, nullptr, 0).kind, SatOutcome::Failed);
    EXPECT_EQ(JudgeSat(2, fixed, 5).kind, SatOutcome::Failed);
    // A descriptor length running past the sense is not followed.
    uint8_t runaway[10] = {0x72, 0x0B, 0, 0, 0, 0, 0, 200, 0x09, 250};
    o = JudgeSat(2, runaway, sizeof runaway);
    EXPECT_EQ(o.kind, SatOutcome::AtaError);
    EXPECT_EQ(o.ataError, 0x04);
}

TEST(LinuxSmart, AMissingDriveGivesTheOpenText) {
    LinuxPlatform p;
    std::string err, model, serial;
    int64_t size = 0;
    EXPECT_FALSE(IdentifyAtaDrive(p, 999, err, model, serial, size));
    EXPECT_EQ(err.rfind("Unable to open physical drive: ", 0), 0u) << err;
    EXPECT_GT(err.size(), 31u);
}
