#include "platform/smartcommands.h"

namespace platform {

SmartCommand ClassifySmartCommand(uint32_t code, const SENDCMDINPARAMS& in) {
    const IDEREGS& r = in.irDriveRegs;
    const uint8_t dh = static_cast<uint8_t>(0xA0 | ((in.bDriveNumber & 1) << 4));
    if (in.bDriveNumber > 3 || r.bDriveHeadReg != dh || r.bSectorCountReg != 1 ||
        r.bSectorNumberReg != 1)
        return SmartCommand::None;
    const bool smartRegs = r.bCylLowReg == 0x4F && r.bCylHighReg == 0xC2 && r.bCommandReg == 0xB0;
    if (code == SMART_SEND_DRIVE_COMMAND)
        return smartRegs && r.bFeaturesReg == 0xD8 && in.cBufferSize == 0 ? SmartCommand::Enable
                                                                          : SmartCommand::None;
    if (code != SMART_RCV_DRIVE_DATA || in.cBufferSize != 512) return SmartCommand::None;
    if (r.bFeaturesReg == 0 && r.bCylLowReg == 0 && r.bCylHighReg == 0) {
        if (r.bCommandReg == 0xEC) return SmartCommand::Identify;
        if (r.bCommandReg == 0xA1) return SmartCommand::IdentifyPacket;
    }
    if (smartRegs && r.bFeaturesReg == 0xD0) return SmartCommand::ReadData;
    if (smartRegs && r.bFeaturesReg == 0xD1) return SmartCommand::ReadThresholds;
    return SmartCommand::None;
}

}  // namespace platform
