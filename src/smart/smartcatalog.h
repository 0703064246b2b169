// The attribute catalogue, the record of one drive's SMART results and the
// rules that turn an attribute block and a threshold block into rated slots.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int SmartSlotCount = 32;      // places in every slot array
constexpr int SmartEntryCount = 30;     // entries a SMART data block holds
constexpr size_t SmartBlockSize = 512;

// Rating texts of a slot.
inline constexpr const char* SmartStatusNotRated = "-";
inline constexpr const char* SmartStatusOk = "OK";
inline constexpr const char* SmartStatusFailingNow = "Failing Now";
inline constexpr const char* SmartStatusFailedInPast = "Failed In Past";
inline constexpr const char* SmartStatusWarning = "Warning";

// Display name of an attribute ID; "Unknown" outside 1-13 and 183-209.
std::string SmartAttributeNames(int id);

struct TSmartResult {
    int32_t DeviceIndex = -1;
    int64_t SizeBytes = 0;
    std::string SerialNumber;
    std::string FirmwareRevision;
    std::string ModelNumber;
    int32_t IdentifyWord47 = 0;
    int32_t TemperatureCurrent = 0;
    int32_t TemperatureMax = 0;
    int32_t TemperatureMin = 0;
    int32_t PowerOnHours = 0;
    int32_t ReallocatedSectors = 0;
    int32_t PowerCycles = 0;
    int32_t FailedCount = 0;
    int32_t WarningCount = 0;
    int32_t AttributeCount = 0;
    int32_t AttributeId[SmartSlotCount] = {};
    std::string AttributeName[SmartSlotCount];
    bool PreFailure[SmartSlotCount] = {};
    bool EventCount[SmartSlotCount] = {};
    bool ErrorRate[SmartSlotCount] = {};
    int32_t CurrentValue[SmartSlotCount] = {};
    int32_t WorstValue[SmartSlotCount] = {};
    int32_t ThresholdValue[SmartSlotCount] = {};
    int64_t RawValue[SmartSlotCount] = {};
    std::string AttributeStatus[SmartSlotCount];
};

// DeviceIndex -1, every other number, flag and text cleared.
void ResetSmartResult(TSmartResult& r);

// Fills the slots, AttributeCount, the two counts and the special values from
// the data parts of SMART READ DATA and SMART READ ATTRIBUTE THRESHOLDS; the
// identification fields are left alone. Blocks shorter than 512 bytes read as
// if padded with zeros, so no input makes it read outside the buffers.
void ScanSmartBlocks(const uint8_t* attributes, size_t attributesSize, const uint8_t* thresholds,
                     size_t thresholdsSize, TSmartResult& r);

// Rates slot i with the given baseline and updates the counts.
void RateSmartSlot(TSmartResult& r, int i, int normalValue);
