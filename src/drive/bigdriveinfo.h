// The record each entry of the drive list carries: what the probe learned, copied.
#pragma once

#include <cstdint>
#include <string>

#include "drive/driveidentity.h"
#include "platform/records.h"

struct TBigDriveInformation {
    std::string DisplayName;     // floppy: its root path; physical drive: the list caption
    std::string DevicePath;      // the path the tests open
    std::string Reserved1;       // always empty
    std::u16string Reserved2;    // always empty
    int32_t DriveNumber = 0;     // physical drive number; -1 for a floppy
    char Kind = '`';             // 'p' floppy volume, '`' physical drive
    uint8_t PartitionIndex = 0;  // layout entry whose start gives ResumeSector
    // The records are packed; aligned here, their 64-bit fields can be read and
    // bound to references like any other.
    alignas(8) platform::PARTITION_INFORMATION PartitionInfo{};
    alignas(8) platform::DISK_GEOMETRY Geometry{};
    alignas(8) platform::DRIVE_LAYOUT_INFORMATION Layout{};
    int64_t TotalBytes = 0;      // floppy: the probe's size; physical drive: 0
    int64_t ResumeSector = 0;
    DriveIdentity Identity;      // the disk the probe read; a test opens only this disk
};

constexpr char KindFloppy = 'p';
constexpr char KindPhysical = '`';
