// SMART and SCSI pass-through controls over SG_IO. The descriptor is the read-only
// one CreateFile opened: SG_IO asks for CAP_SYS_RAWIO, not for write access.
#include <fcntl.h>
#include <linux/fs.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/linux_platform.h"
#include "platform/linux/sat.h"
#include "platform/smartcommands.h"

namespace platform::linuxbe {

namespace {

struct SgAnswer {
    int error = 0;          // errno of the ioctl, 0 when it was issued
    uint8_t status = 0;     // SCSI status
    uint8_t sense[32] = {};
    size_t senseLength = 0;
    uint32_t transferred = 0;
    bool transportFailed = false;
};

SgAnswer SgIo(int fd, const uint8_t* cdb, uint8_t cdbLength, void* data, uint32_t dataLength,
              unsigned timeoutMs) {
    SgAnswer a;
    sg_io_hdr_t h{};
    h.interface_id = 'S';
    h.cmdp = const_cast<unsigned char*>(cdb);
    h.cmd_len = cdbLength;
    h.dxfer_direction = dataLength ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    h.dxferp = dataLength ? data : nullptr;
    h.dxfer_len = dataLength;
    h.sbp = a.sense;
    h.mx_sb_len = sizeof a.sense;
    h.timeout = timeoutMs;
    if (::ioctl(fd, SG_IO, &h) < 0) {
        a.error = errno;
        a.transportFailed = true;
        return a;
    }
    a.status = h.status;
    a.senseLength = std::min<size_t>(h.sb_len_wr, sizeof a.sense);
    a.transferred = dataLength - static_cast<uint32_t>(std::clamp(h.resid, 0, static_cast<int>(dataLength)));
    // The host adapter or the driver gave up on the command.
    if (h.host_status != 0 || (h.driver_status & 0x0F) == 0x06) {  // DRIVER_TIMEOUT
        a.error = EIO;
        a.transportFailed = true;
    }
    return a;
}

// Only a direct-access device may see ATA PASS-THROUGH (12): its opcode is BLANK
// on an optical drive.
bool IsDirectAccess(int fd) {
    const uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    uint8_t data[36] = {};
    SgAnswer a = SgIo(fd, inquiry, sizeof inquiry, data, sizeof data, 5000);
    return !a.transportFailed && a.status == 0 && a.transferred >= 1 && (data[0] & 0x1F) == 0x00;
}

struct AtaResult {
    SatOutcome outcome;
    int error = 0;  // errno for anything but Done
};

// One ATA command, ATA PASS-THROUGH (16) first, (12) where a bridge refuses 16.
AtaResult RunAta(int fd, const IDEREGS& regs, uint8_t* data512) {
    const bool dataIn = data512 != nullptr;
    const uint32_t length = dataIn ? 512 : 0;
    AtaResult r;
    uint8_t cdb16[16];
    BuildAtaPassThrough16(regs, dataIn, cdb16);
    SgAnswer a = SgIo(fd, cdb16, 16, data512, length, 20000);
    if (a.transportFailed) {
        r.error = a.error;
        return r;
    }
    r.outcome = JudgeSat(a.status, a.sense, a.senseLength);
    if (r.outcome.kind == SatOutcome::Unsupported) {
        if (!IsDirectAccess(fd)) {
            r.error = EOPNOTSUPP;
            return r;
        }
        uint8_t cdb12[12];
        BuildAtaPassThrough12(regs, dataIn, cdb12);
        if (dataIn) std::memset(data512, 0, 512);
        a = SgIo(fd, cdb12, 12, data512, length, 20000);
        if (a.transportFailed) {
            r.error = a.error;
            return r;
        }
        r.outcome = JudgeSat(a.status, a.sense, a.senseLength);
    }
    switch (r.outcome.kind) {
    case SatOutcome::Done: r.error = 0; break;
    case SatOutcome::AtaError: r.error = EIO; break;
    case SatOutcome::Unsupported: r.error = EOPNOTSUPP; break;
    case SatOutcome::Failed: r.error = EIO; break;
    }
    return r;
}

void PutStatus(void* out, uint32_t bufferSize, uint8_t driverError, uint8_t ideError) {
    SENDCMDOUTPARAMS_HEAD head{};
    head.cBufferSize = bufferSize;
    head.DriverStatus.bDriverError = driverError;
    head.DriverStatus.bIDEError = ideError;
    std::memcpy(out, &head, sizeof head);
}

IDEREGS IdentifyRegs(uint8_t command) {
    IDEREGS r{};
    r.bSectorCountReg = 1;
    r.bSectorNumberReg = 1;
    r.bDriveHeadReg = 0xA0;
    r.bCommandReg = command;
    return r;
}

}  // namespace

bool LinuxPlatform::SmartControl(OpenFile& f, uint32_t code, const void* in, uint32_t inSize,
                                 void* out, uint32_t outSize, uint32_t* bytesReturned) {
    if (code == SMART_GET_VERSION) {
        if (!out || outSize < sizeof(GETVERSIONOUTPARAMS)) {
            lastError_ = EINVAL;
            return false;
        }
        // The device answers ATA at position 0, or the control fails: an empty map
        // would let a device without ATA pass for one with nothing attached.
        uint8_t id[512] = {};
        AtaResult r = RunAta(f.fd, IdentifyRegs(0xEC), id);
        uint8_t map = 0x01;
        if (r.outcome.kind == SatOutcome::AtaError) {
            AtaResult packet = RunAta(f.fd, IdentifyRegs(0xA1), id);
            if (packet.outcome.kind == SatOutcome::Done) {
                r = packet;
                map = 0x11;
            }
        }
        if (r.outcome.kind != SatOutcome::Done) {
            lastError_ = static_cast<uint32_t>(r.error ? r.error : EIO);
            return false;
        }
        GETVERSIONOUTPARAMS v{};
        v.bVersion = 1;
        v.bRevision = 1;
        v.bIDEDeviceMap = map;
        v.fCapabilities = 0x7;  // ATA ID, ATAPI ID, SMART commands
        std::memcpy(out, &v, sizeof v);
        if (bytesReturned) *bytesReturned = sizeof v;
        return true;
    }

    if (code == SMART_SEND_DRIVE_COMMAND || code == SMART_RCV_DRIVE_DATA) {
        if (!out || outSize < sizeof(SENDCMDOUTPARAMS_HEAD)) {
            lastError_ = EINVAL;
            return false;
        }
        if (!in || inSize < 32) {
            PutStatus(out, 0, 4, 0);
            lastError_ = EINVAL;
            return false;
        }
        SENDCMDINPARAMS cmd{};
        std::memcpy(&cmd, in, 32);
        const SmartCommand c = ClassifySmartCommand(code, cmd);
        if (c == SmartCommand::None) {
            PutStatus(out, 0, 3, 0);
            lastError_ = EINVAL;
            return false;
        }
        const bool data = ReturnsData(c);
        if (data && outSize < sizeof(SENDCMDOUTPARAMS_HEAD) + 512) {
            PutStatus(out, 0, 4, 0);
            lastError_ = EINVAL;
            return false;
        }
        if (cmd.bDriveNumber != 0) {  // the map names position 0 only
            PutStatus(out, 0, 10, 0);
            lastError_ = ENODEV;
            return false;
        }
        uint8_t buffer[512] = {};
        AtaResult r = RunAta(f.fd, cmd.irDriveRegs, data ? buffer : nullptr);
        if (r.outcome.kind != SatOutcome::Done) {
            const bool ata = r.outcome.kind == SatOutcome::AtaError;
            PutStatus(out, 0, ata ? 1 : 0, ata ? r.outcome.ataError : 0);
            lastError_ = static_cast<uint32_t>(r.error ? r.error : EIO);
            return false;
        }
        PutStatus(out, data ? 512 : 0, 0, r.outcome.ataError);
        if (data) std::memcpy(static_cast<uint8_t*>(out) + sizeof(SENDCMDOUTPARAMS_HEAD), buffer, 512);
        if (bytesReturned) *bytesReturned = sizeof(SENDCMDOUTPARAMS_HEAD) + (data ? 512 : 0);
        return true;
    }

    // IOCTL_SCSI_PASS_THROUGH: INQUIRY only, the one SCSI command the program sends.
    if (!in || !out || inSize < sizeof(SCSI_PASS_THROUGH) || outSize < sizeof(SCSI_PASS_THROUGH)) {
        lastError_ = EINVAL;
        return false;
    }
    SCSI_PASS_THROUGH spt;
    std::memcpy(&spt, in, sizeof spt);
    const uint32_t head = sizeof spt;
    const bool fits = spt.Length == head && spt.CdbLength >= 6 && spt.CdbLength <= 16 &&
                      spt.DataIn == 1 && spt.DataBufferOffset >= head &&
                      spt.DataBufferOffset <= outSize &&
                      spt.DataTransferLength <= outSize - spt.DataBufferOffset &&
                      (spt.SenseInfoLength == 0 ||
                       (spt.SenseInfoOffset >= head && spt.SenseInfoOffset <= outSize &&
                        spt.SenseInfoLength <= outSize - spt.SenseInfoOffset));
    if (!fits || spt.Cdb[0] != 0x12) {
        lastError_ = EINVAL;
        return false;
    }
    std::vector<uint8_t> data(spt.DataTransferLength);
    SgAnswer a = SgIo(f.fd, spt.Cdb, spt.CdbLength, data.data(), spt.DataTransferLength,
                      std::max<uint32_t>(spt.TimeOutValue, 1) * 1000u);
    if (a.transportFailed) {
        lastError_ = static_cast<uint32_t>(a.error);
        return false;
    }
    auto* o = static_cast<uint8_t*>(out);
    spt.ScsiStatus = a.status;
    spt.DataTransferLength = a.transferred;
    const size_t senseCopy = std::min<size_t>(spt.SenseInfoLength, a.senseLength);
    std::memcpy(o + spt.DataBufferOffset, data.data(), a.transferred);
    if (senseCopy) std::memcpy(o + spt.SenseInfoOffset, a.sense, senseCopy);
    spt.SenseInfoLength = static_cast<uint8_t>(senseCopy);
    std::memcpy(o, &spt, sizeof spt);
    if (bytesReturned) *bytesReturned = spt.DataBufferOffset + a.transferred;
    return true;
}

// The IDENTIFY model of the drive behind a node, or empty when it does not answer
// ATA. Remembered per disk (device number and sequence), since every drive-list
// query asks for every disk's model.
std::string AtaIdentifyModel(const std::string& node) {
    const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat st{};
    uint64_t seq = 0;
    if (::fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode)) {
        ::close(fd);
        return {};
    }
    (void)::ioctl(fd, BLKGETDISKSEQ, &seq);
    const std::string key = std::to_string(st.st_rdev) + ":" + std::to_string(seq);
    static std::mutex lock;
    static std::map<std::string, std::string> known;
    {
        std::lock_guard<std::mutex> g(lock);
        if (auto it = known.find(key); it != known.end()) {
            ::close(fd);
            return it->second;
        }
    }
    uint8_t id[512] = {};
    const AtaResult r = RunAta(fd, IdentifyRegs(0xEC), id);
    ::close(fd);
    std::string model;
    if (r.outcome.kind == SatOutcome::Done) {
        // Words 27-46, two characters per word, high byte first.
        for (size_t i = 54; i < 94; i += 2) {
            model += static_cast<char>(id[i + 1]);
            model += static_cast<char>(id[i]);
        }
        while (!model.empty() && static_cast<unsigned char>(model.back()) <= 0x20) model.pop_back();
        size_t start = 0;
        while (start < model.size() && static_cast<unsigned char>(model[start]) <= 0x20) ++start;
        model.erase(0, start);
        for (char& c : model)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '?';
    }
    std::lock_guard<std::mutex> g(lock);
    known[key] = model;
    return model;
}

}  // namespace platform::linuxbe
