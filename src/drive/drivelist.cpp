#include "drive/drivelist.h"

#include "drive/format.h"
#include "drive/harddrive.h"
#include "drive/usersystem.h"
#include "platform/platform.h"
#include "smart/smartapi.h"
#include "smart/wmiquery.h"

namespace {

// The message texts carry one "%s" for the name; nothing else in them is a
// format, so a stray "%" from a translation cannot misformat anything.
std::string FormatName(const std::string& text, const std::string& name) {
    std::string out = text;
    if (auto at = out.find("%s"); at != std::string::npos) out.replace(at, 2, name);
    return out;
}

std::shared_ptr<TBigDriveInformation> RecordFromProbe(const THardDrive& probe) {
    auto r = std::make_shared<TBigDriveInformation>();
    r->PartitionInfo = probe.PartitionInfo;
    r->Geometry = probe.Geometry;
    r->Layout = probe.Layout;
    r->PartitionIndex = 0;
    r->ResumeSector = r->Layout.PartitionEntry[r->PartitionIndex].StartingOffset / 512;
    return r;
}

}  // namespace

TDriveList::TDriveList(platform::Platform& platform, TUserSystem& userSystem, DriveListTexts texts,
                       DriveListCallbacks callbacks)
    : platform_(platform), userSystem_(userSystem), texts_(std::move(texts)), cb_(std::move(callbacks)) {}

std::vector<DriveListEntry> TDriveList::ListDrivesForSectorTest() { return Fill(false); }

std::vector<DriveListEntry> TDriveList::ListDrivesForSmartTest() { return Fill(true); }

std::string TDriveList::InterfaceTypeQuery(int driveNumber) { return wmiquery::InterfaceTypeQuery(driveNumber); }

void TDriveList::Add(std::vector<DriveListEntry>& entries, DriveListEntry entry) {
    entries.push_back(std::move(entry));
    if (cb_.add) cb_.add(entries.back());
    if (cb_.pump) cb_.pump();
}

std::vector<DriveListEntry> TDriveList::Fill(bool smart) {
    std::vector<DriveListEntry> entries;
    auto log = [this](const std::string& s) { if (cb_.log) cb_.log(s); };
    int counted = 0;
    // Without the right to read drives none can be listed: the box says why.
    if (const std::string refused = platform_.ObtainDriveAccess(); !refused.empty()) {
        log(refused);
        if (cb_.informationBox) cb_.informationBox(refused, texts_.nothingListedCaption);
        if (cb_.pump) cb_.pump();
        return entries;
    }
    const uint32_t mask = platform_.GetLogicalDrives();

    log(texts_.searchFloppyDrives);
    if (!smart && (mask & 3u) != 0) {
        for (int bit = 0; bit < 2; ++bit) {
            if ((mask & (1u << bit)) == 0) continue;
            const char letter = static_cast<char>('A' + bit);
            const std::string root = std::string(1, letter) + ":\\";
            const std::string path = std::string("\\\\.\\") + letter + ":";
            if (!userSystem_.IsVolumeReadable(root)) continue;
            THardDrive probe(platform_, path);
            if (!probe.GeometryValid) continue;
            ++counted;
            DriveListEntry e;
            e.caption = root + " " + FormatSize(probe.TotalBytes);
            e.imageIndex = ImageFloppy;
            e.record = RecordFromProbe(probe);
            e.record->DisplayName = root;
            e.record->DevicePath = path;
            e.record->DriveNumber = -1;
            e.record->Kind = KindFloppy;
            e.record->TotalBytes = probe.TotalBytes;
            e.record->Identity = probe.Identity;
            const std::string caption = e.caption;
            Add(entries, std::move(e));
            log(FormatName(texts_.addFloppyDrive, caption));
        }
    }

    log(texts_.searchHardDrives);
    if (mask <= 3u) {
        log(texts_.noHardDrives);
        return entries;
    }

    for (int n = 0; n < MaxPhysicalDrives; ++n) {
        if (smart) {
            std::string error, model, serial;
            int64_t size = 0;
            NvmeIdentity nvme;
            if (!IdentifyAtaDrive(platform_, n, error, model, serial, size) &&
                !IdentifyNvmeDrive(platform_, n, error, nvme))
                continue;
        }
        const std::string path = "\\\\.\\PhysicalDrive" + std::to_string(n);
        THardDrive probe(platform_, path);
        if (!probe.GeometryValid || probe.PartitionInfo.PartitionLength == 0) continue;
        ++counted;
        std::string interfaceType;
        const int32_t found = wmiquery::WmiGetProperty(platform_, InterfaceTypeQuery(n), "InterfaceType", interfaceType);
        DriveListEntry e;
        e.imageIndex = found == 1 && interfaceType == "USB" ? ImageUsbDrive : ImageInternalDisk;
        e.caption = wmiquery::GetDriveModel(platform_, n) + " " + FormatSize(probe.PartitionInfo.PartitionLength);
        e.record = RecordFromProbe(probe);
        e.record->DisplayName = e.caption;
        e.record->DevicePath = path;
        e.record->DriveNumber = n;
        e.record->Kind = KindPhysical;
        e.record->TotalBytes = 0;
        e.record->Identity = probe.Identity;
        Add(entries, std::move(e));
        log(FormatName(texts_.addHardDrive, wmiquery::GetDriveModel(platform_, n)));
    }

    AddResumeItems(entries);
    if (counted == 0 && cb_.informationBox) cb_.informationBox(texts_.nothingListed, texts_.nothingListedCaption);
    if (cb_.pump) cb_.pump();
    log(texts_.selectDriveAndContinue);
    return entries;
}

void TDriveList::AddResumeItems(std::vector<DriveListEntry>& entries) {
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.record ? e.record->DisplayName : std::string());
    if (!cb_.resumeEntries) return;
    for (const auto& match : cb_.resumeEntries(names)) {
        if (match.item < 0 || static_cast<size_t>(match.item) >= entries.size()) break;
        DriveListEntry resume;
        resume.imageIndex = ImageResume;
        if (match.actualSector && entries[static_cast<size_t>(match.item)].record) {
            resume.record = std::make_shared<TBigDriveInformation>(*entries[static_cast<size_t>(match.item)].record);
            resume.record->ResumeSector = *match.actualSector;
        }
        Add(entries, std::move(resume));
    }
}
