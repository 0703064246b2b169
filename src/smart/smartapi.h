// ATA/SMART device access through the disk driver's SMART pass-through controls,
// and the SCSI serial number of drives that do not answer ATA.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "smart/nvmehealth.h"
#include "smart/smartcatalog.h"

namespace platform { class Platform; }

// Texts for DRIVERSTATUS.bDriverError 0-10.
extern const char* const DriverStatusTexts[11];
// DriverStatusTexts for 0-10; a value the driver should never report names itself.
std::string DriverStatusText(uint8_t driverError);

// Model, serial and capacity of the first ATA device the drive's device map names.
bool IdentifyAtaDrive(platform::Platform& p, int32_t driveNumber, std::string& errorText,
                      std::string& model, std::string& serial, int64_t& sizeBytes);

// Identification plus the attribute and threshold blocks, parsed and rated.
bool ReadSmartData(platform::Platform& p, int32_t driveNumber, TSmartResult& result,
                   std::string& errorText);

// The unit serial number page of a drive that does not answer ATA. The model is
// only cleared and the size only set to 0, so it can stand in for IdentifyAtaDrive.
bool ReadScsiSerial(platform::Platform& p, int32_t driveNumber, std::string& errorText,
                    std::string& model, std::string& serial, int64_t& sizeBytes);

// A text a drive returned (IDENTIFY, SCSI pages): 8-bit code-page bytes, as UTF-8.
std::string DeviceText(const std::string& bytes);
// Identify Controller of an NVMe drive through the protocol query, with the
// capacity of its namespace (left 0 when Identify Namespace fails).
bool IdentifyNvmeDrive(platform::Platform& p, int32_t driveNumber, std::string& errorText, NvmeIdentity& id);

// Identification plus the SMART / Health Information log page.
bool ReadNvmeHealth(platform::Platform& p, int32_t driveNumber, NvmeIdentity& id, NvmeHealthLog& log,
                    std::string& errorText);

// An IDENTIFY text field: bytes of every word swapped, 0x00-0x20 trimmed at both ends.
// An odd last byte has no partner and is dropped.
std::string SwapAtaString(const uint8_t* bytes, size_t length);

// The message of a caught exception, trimmed of 0x00-0x20 at both ends; empty for
// anything thrown that is not a std::exception.
std::string ExceptionMessageText(std::exception_ptr e);
