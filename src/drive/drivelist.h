// The two fills of the drive list: floppy volumes and physical drives for the
// sector test, drives that answer ATA IDENTIFY or NVMe Identify for the S.M.A.R.T.
// test. The fill reports through callbacks, so the window, a test or a command
// line can show its progress and its entries.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drive/bigdriveinfo.h"
#include "drive/resumeentry.h"

namespace platform { class Platform; }
class TUserSystem;

// Pictures of the drive list, by index.
enum DriveImage : int {
    ImageInternalDisk = 0,
    ImageUsbDrive = 3,
    ImageFloppy = 6,
    ImageResume = 7,
};

struct DriveListEntry {
    std::string caption;                          // UTF-8
    int imageIndex = ImageInternalDisk;
    // Shared with every list that shows the entry; nullptr for a resume entry
    // whose saved sector could not be read.
    std::shared_ptr<TBigDriveInformation> record;
};

// The texts the fill logs and shows, in the caller's language. Each "%s" stands
// for the drive's name.
struct DriveListTexts {
    std::string searchFloppyDrives, addFloppyDrive, searchHardDrives, noHardDrives, addHardDrive;
    std::string selectDriveAndContinue;
    std::string nothingListed, nothingListedCaption;  // the box when no drive was found
};

struct DriveListCallbacks {
    std::function<void(const std::string&)> log;   // one line of the log, then a pump
    std::function<void()> pump;                    // process pending events
    std::function<void(const DriveListEntry&)> add;
    // The box shown when the fill listed no drive: text, caption.
    std::function<void(const std::string&, const std::string&)> informationBox;
    // The saved resume entries for the items listed so far (their DisplayNames, in
    // list order); none when unset.
    std::function<std::vector<ResumeEntry>(const std::vector<std::string>&)> resumeEntries;
};

class TDriveList {
public:
    static constexpr int MaxPhysicalDrives = 25;

    TDriveList(platform::Platform& platform, TUserSystem& userSystem, DriveListTexts texts,
               DriveListCallbacks callbacks);

    // Each returns the entries it added, in list order.
    std::vector<DriveListEntry> ListDrivesForSectorTest();
    std::vector<DriveListEntry> ListDrivesForSmartTest();

    // "SELECT * FROM Win32_DiskDrive WHERE Name =\"\\\\\\\\.\\\\PHYSICALDRIVEn\""
    static std::string InterfaceTypeQuery(int driveNumber);

private:
    std::vector<DriveListEntry> Fill(bool smart);
    void Add(std::vector<DriveListEntry>& entries, DriveListEntry entry);
    void AddResumeItems(std::vector<DriveListEntry>& entries);

    platform::Platform& platform_;
    TUserSystem& userSystem_;
    DriveListTexts texts_;
    DriveListCallbacks cb_;
};
