// Runs inside the QEMU guest: the SMART layer through the real Linux platform,
// on \\.\PhysicalDrive0, printed one fact per line for the host test to read.
#include <cstdio>
#include <string>

#include "platform/linux/linux_platform.h"
#include "smart/smartapi.h"
#include "smart/wmiquery.h"

int main(int argc, char** argv) {
    const int drive = argc > 1 ? std::stoi(argv[1]) : 0;
    platform::linuxbe::LinuxPlatform p;

    std::string err, model, serial;
    int64_t size = 0;
    bool ok = IdentifyAtaDrive(p, drive, err, model, serial, size);
    std::printf("IDENTIFY|%d|%s|%s|%lld|%s\n", ok ? 1 : 0, model.c_str(), serial.c_str(),
                static_cast<long long>(size), err.c_str());

    TSmartResult r;
    ok = ReadSmartData(p, drive, r, err);
    std::printf("SMART|%d|%d|%s|%s|%s|%lld|%d|%d|%d|%s\n", ok ? 1 : 0, r.DeviceIndex,
                r.ModelNumber.c_str(), r.SerialNumber.c_str(), r.FirmwareRevision.c_str(),
                static_cast<long long>(r.SizeBytes), r.AttributeCount, r.FailedCount,
                r.WarningCount, err.c_str());
    for (int i = 0; i < r.AttributeCount; ++i)
        std::printf("ATTR|%d|%d|%d|%d|%d|%lld|%s\n", r.AttributeId[i], r.PreFailure[i] ? 1 : 0,
                    r.CurrentValue[i], r.WorstValue[i], r.ThresholdValue[i],
                    static_cast<long long>(r.RawValue[i]), r.AttributeStatus[i].c_str());

    ok = ReadScsiSerial(p, drive, err, model, serial, size);
    std::printf("SCSI|%d|%s|%s\n", ok ? 1 : 0, serial.c_str(), err.c_str());
    // Win32_DiskDrive.Model, as both drive lists caption the drive.
    std::printf("WMI|%s\n", wmiquery::GetDriveModel(p, drive).c_str());
    std::printf("PROBE-END\n");
    std::fflush(stdout);
    return 0;
}
