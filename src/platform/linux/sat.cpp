#include "platform/linux/sat.h"

#include <cstring>

namespace platform::linuxbe {

namespace {

constexpr uint8_t ProtocolNonData = 3;
constexpr uint8_t ProtocolPioIn = 4;
// off_line 0, ck_cond 1: the status registers come back in the sense data.
constexpr uint8_t FlagsNonData = 0x20;
// t_dir in, byt_blok blocks, t_length in the sector count field.
constexpr uint8_t FlagsPioIn = 0x0E;

}  // namespace

void BuildAtaPassThrough16(const IDEREGS& r, bool dataIn, uint8_t cdb[16]) {
    std::memset(cdb, 0, 16);
    cdb[0] = 0x85;
    cdb[1] = static_cast<uint8_t>((dataIn ? ProtocolPioIn : ProtocolNonData) << 1);
    cdb[2] = dataIn ? FlagsPioIn : FlagsNonData;
    cdb[4] = r.bFeaturesReg;
    cdb[6] = r.bSectorCountReg;
    cdb[8] = r.bSectorNumberReg;
    cdb[10] = r.bCylLowReg;
    cdb[12] = r.bCylHighReg;
    cdb[13] = r.bDriveHeadReg;
    cdb[14] = r.bCommandReg;
}

void BuildAtaPassThrough12(const IDEREGS& r, bool dataIn, uint8_t cdb[12]) {
    std::memset(cdb, 0, 12);
    cdb[0] = 0xA1;
    cdb[1] = static_cast<uint8_t>((dataIn ? ProtocolPioIn : ProtocolNonData) << 1);
    cdb[2] = dataIn ? FlagsPioIn : FlagsNonData;
    cdb[3] = r.bFeaturesReg;
    cdb[4] = r.bSectorCountReg;
    cdb[5] = r.bSectorNumberReg;
    cdb[6] = r.bCylLowReg;
    cdb[7] = r.bCylHighReg;
    cdb[8] = r.bDriveHeadReg;
    cdb[9] = r.bCommandReg;
}

SatOutcome JudgeSat(uint8_t scsiStatus, const uint8_t* sense, size_t len) {
    SatOutcome o;
    if (scsiStatus == 0) {
        o.kind = SatOutcome::Done;
        o.ataStatus = 0x50;  // DRDY, DSC: nothing came back, nothing went wrong
        return o;
    }
    if (scsiStatus != 0x02 || !sense || len < 8) return o;  // not CHECK CONDITION: transport

    const uint8_t code = sense[0] & 0x7F;
    uint8_t key = 0, asc = 0;
    bool haveAta = false;
    if (code == 0x72 || code == 0x73) {
        key = sense[1] & 0x0F;
        asc = sense[2];
        // Descriptors follow the 8-byte head; 0x09 is the ATA status return.
        size_t end = 8 + static_cast<size_t>(sense[7]);
        if (end > len) end = len;
        for (size_t d = 8; d + 2 <= end;) {
            const size_t dlen = 2 + static_cast<size_t>(sense[d + 1]);
            if (sense[d] == 0x09 && dlen >= 14 && d + 14 <= end) {
                o.ataError = sense[d + 3];
                o.ataStatus = sense[d + 13];
                haveAta = true;
                break;
            }
            d += dlen;
        }
    } else if (code == 0x70 || code == 0x71) {
        if (len < 14) return o;
        key = sense[2] & 0x0F;
        asc = sense[12];
        // SAT puts error and status into the information field.
        if (asc == 0x00 && sense[13] == 0x1D) {
            o.ataError = sense[3];
            o.ataStatus = sense[4];
            haveAta = true;
        }
    } else {
        return o;
    }

    if (haveAta) {
        o.kind = (o.ataStatus & 0x21) ? SatOutcome::AtaError : SatOutcome::Done;  // ERR or DF
        return o;
    }
    if (key == 0x05 && (asc == 0x20 || asc == 0x24)) {
        o.kind = SatOutcome::Unsupported;  // invalid opcode / field in CDB
    } else if (key == 0x0B) {
        o.kind = SatOutcome::AtaError;  // aborted without a status: ABRT
        o.ataStatus = 0x51;
        o.ataError = 0x04;
    } else if (key == 0x00 || key == 0x01) {
        o.kind = SatOutcome::Done;
        o.ataStatus = 0x50;
    }
    return o;
}

}  // namespace platform::linuxbe
