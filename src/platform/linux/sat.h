// ATA commands through the SCSI/ATA Translation (SAT) of SG_IO: the CDBs of
// ATA PASS-THROUGH (16) and (12) and the reading of the ATA status they return.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/records.h"

namespace platform::linuxbe {

// ATA PASS-THROUGH for a non-data command (the status is asked back) or a
// 512-byte PIO data-in command.
void BuildAtaPassThrough16(const IDEREGS& regs, bool dataIn, uint8_t cdb[16]);
void BuildAtaPassThrough12(const IDEREGS& regs, bool dataIn, uint8_t cdb[12]);

// What a pass-through command came back with.
struct SatOutcome {
    enum Kind {
        Done,         // the device completed the command
        AtaError,     // the device reported ERR (or aborted the command)
        Unsupported,  // the translation layer does not know this CDB
        Failed,       // any other failure of the transport
    } kind = Failed;
    uint8_t ataStatus = 0;
    uint8_t ataError = 0;
};

// Judges a command from its SCSI status and sense data.
SatOutcome JudgeSat(uint8_t scsiStatus, const uint8_t* sense, size_t senseLength);

}  // namespace platform::linuxbe
