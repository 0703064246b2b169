// The only ATA commands the SMART pass-through controls carry. Both backends
// refuse anything else, so no path through them can reach a command that
// writes to the medium.
#pragma once

#include <cstdint>

#include "platform/records.h"

namespace platform {

enum class SmartCommand { None, Enable, Identify, IdentifyPacket, ReadData, ReadThresholds };

// The command a SMART_SEND_DRIVE_COMMAND / SMART_RCV_DRIVE_DATA input stands for,
// with exactly the registers the SMART layer sends; None for anything else.
SmartCommand ClassifySmartCommand(uint32_t code, const SENDCMDINPARAMS& in);

inline bool ReturnsData(SmartCommand c) { return c != SmartCommand::None && c != SmartCommand::Enable; }

}  // namespace platform
