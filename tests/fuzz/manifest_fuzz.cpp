// libFuzzer target: the machine-manifest reader, and the simulated machine a
// manifest describes as the drive list, the S.M.A.R.T. test and the sector reads
// use it. A manifest is refused with an exception or loads; whatever it holds, the
// machine answers without a crash or a hang. File names in the manifest are
// pointed at files of a scratch folder, so nothing outside it is opened.
#include <nlohmann/json.hpp>

#include "drive/drivelist.h"
#include "drive/usersystem.h"
#include "platform/sim/sim_platform.h"
#include "scratch_dir.h"
#include "smart/smartapi.h"
#include "smart/wmiquery.h"

using namespace platform;
using Json = nlohmann::json;

namespace {

void PointFilesAtScratch(Json& j, int depth = 0) {
    if (depth > 64) return;
    if (j.is_object()) {
        for (auto& [key, value] : j.items()) {
            if (key == "image" || key == "sample" || key == "registry" || key == "startupFolder") {
                value = key == "image" ? "disk.img" : key == "sample" ? "drive.blob" : "hive.reg";
                if (key == "startupFolder") value = "startup";
            } else {
                PointFilesAtScratch(value, depth + 1);
            }
        }
    } else if (j.is_array()) {
        for (auto& e : j) PointFilesAtScratch(e, depth + 1);
    }
}

void Setup() {
    static const bool done = [] {
        std::string disk(8192, '\0');
        for (size_t i = 0; i < disk.size(); ++i) disk[i] = static_cast<char>(i * 7);
        WriteScratchFile("disk.img", disk);
        // One IDENTIFY record, then an attribute block with one entry.
        std::string blob = std::string("IDFY") + std::string("\0\0\x02\0", 4) + std::string(512, ' ');
        blob += std::string("SMDT") + std::string("\0\0\x02\0", 4) + std::string("\x10\0\x05\x33\0\x64\x64", 7) +
                std::string(505, '\0');
        WriteScratchFile("drive.blob", blob);
        WriteScratchFile("hive.reg",
                         "Windows Registry Editor Version 5.00\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KAVENO_Scandor]\r\n\"NoHDDs\"=dword:00000002\r\n");
        return true;
    }();
    (void)done;
}

void Exercise(sim::SimPlatform& machine) {
    TUserSystem user(machine);
    TDriveList list(machine, user, DriveListTexts{}, {});
    std::vector<DriveListEntry> entries = list.ListDrivesForSectorTest();
    for (auto& e : list.ListDrivesForSmartTest()) entries.push_back(std::move(e));
    for (const DriveListEntry& e : entries) {
        if (!e.record) continue;
        const int n = e.record->DriveNumber;
        if (n >= 0) {
            TSmartResult r;
            std::string error, model, serial;
            int64_t bytes = 0;
            ReadSmartData(machine, n, r, error);
            ReadScsiSerial(machine, n, error, model, serial, bytes);
            (void)wmiquery::GetDriveModel(machine, n);
        }
        const Handle h = machine.CreateFile(e.record->DevicePath, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
        if (h == InvalidHandle) continue;
        std::vector<uint8_t> buffer(65536);
        for (int64_t sector : {int64_t{0}, e.record->ResumeSector, e.record->TotalBytes / 512 - 1}) {
            int32_t high = static_cast<int32_t>(static_cast<uint64_t>(sector * 512) >> 32);
            if (machine.SetFilePointer(h, static_cast<int32_t>(sector * 512), &high, FILE_BEGIN) ==
                INVALID_SET_FILE_POINTER)
                continue;
            uint32_t read = 0;
            if (machine.ReadFile(h, buffer.data(), static_cast<uint32_t>(buffer.size()), &read))
                FUZZ_CHECK(read <= buffer.size());
        }
        machine.CloseHandle(h);
    }
    FUZZ_CHECK(machine.OpenHandleCount() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Setup();
    const std::string text(AsText(data, size));
    try {
        (void)sim::SimPlatform::FromJsonText(text, ScratchDir());
    } catch (const std::runtime_error&) {
        return 0;
    }
    Json j = Json::parse(text, nullptr, true, true);
    PointFilesAtScratch(j);
    try {
        sim::SimPlatform machine(j, ScratchDir());
        Exercise(machine);
    } catch (const std::exception&) {
        // A manifest of the wrong shape is refused when the part is used.
    }
    return 0;
}
