// libFuzzer target: what the program reads out of a driver's answers: the IDENTIFY
// block (model, serial, firmware, size), the SMART blocks behind it, the SCSI unit
// serial number page, and the partition, geometry and layout records of the drive
// probe and the drive list. A stand-in machine answers every control with the
// input's next bytes, so each record can hold anything a broken driver could give.
#include <fuzzer/FuzzedDataProvider.h>

#include "drive/drivelist.h"
#include "drive/harddrive.h"
#include "drive/usersystem.h"
#include "fuzz_check.h"
#include "platform/cp1252.h"
#include "platform/platform.h"
#include "smart/smartapi.h"

using namespace platform;

namespace {

class NoKeys final : public Registry {
public:
    bool KeyExists(const std::string&) override { return false; }
    std::unique_ptr<RegistryKey> OpenKey(const std::string&, bool) override { return nullptr; }
};

class AnsweringMachine final : public Platform {
public:
    explicit AnsweringMachine(FuzzedDataProvider& in) : in_(in) {}

    Handle CreateFile(const std::string&, uint32_t, uint32_t, uint32_t, uint32_t) override {
        if (!in_.ConsumeBool()) {
            lastError_ = 2;
            return InvalidHandle;
        }
        ++open_;
        return 7;
    }
    bool DeviceIoControl(Handle h, uint32_t, const void*, uint32_t, void* out, uint32_t outSize,
                         uint32_t* bytesReturned) override {
        FUZZ_CHECK(h == 7);
        if (!in_.ConsumeBool()) {
            lastError_ = in_.ConsumeIntegral<uint8_t>();
            return false;
        }
        const auto bytes = in_.ConsumeBytes<uint8_t>(in_.ConsumeIntegralInRange<uint32_t>(0, outSize));
        if (out) std::copy(bytes.begin(), bytes.end(), static_cast<uint8_t*>(out));
        if (bytesReturned) *bytesReturned = static_cast<uint32_t>(bytes.size());
        return true;
    }
    uint32_t SetFilePointer(Handle, int32_t, int32_t*, uint32_t) override { return INVALID_SET_FILE_POINTER; }
    bool ReadFile(Handle, void*, uint32_t, uint32_t*) override { return false; }
    bool CloseHandle(Handle h) override {
        FUZZ_CHECK(h == 7 && open_ > 0);
        --open_;
        return true;
    }
    uint32_t GetLastError() override { return lastError_; }
    std::string SystemErrorText(uint32_t code) override { return "error " + std::to_string(code) + ".\r\n"; }
    uint32_t GetLogicalDrives() override { return in_.ConsumeIntegral<uint32_t>(); }
    bool GetVolumeInformation(const std::string&, std::string*, std::string*) override { return in_.ConsumeBool(); }
    uint32_t GetTickCount() override { return 0; }
    uint32_t PlatformId() override { return in_.ConsumeIntegralInRange<uint32_t>(0, 3); }
    bool GetComputerName(std::string& name) override { name = "fuzz"; return true; }
    bool GetUserName(std::string& name) override { name = "fuzz"; return true; }
    bool SocketsStartup() override { return false; }
    void SocketsCleanup() override {}
    bool GetHostName(std::string&) override { return false; }
    std::optional<std::vector<std::string>> ResolveIpv4(const std::string&) override { return std::nullopt; }
    Registry& GetRegistry() override { return registry_; }
    WmiQueryResult WmiExecQuery(const std::string&, const std::string&) override { return {}; }
    std::string SpecialFolderPath(int) override { return {}; }
    bool FileExists(const std::string&) override { return false; }
    bool SaveShortcut(const std::string&, const ShortcutSpec&) override { return false; }
    std::string ExecutablePath() override { return "/usr/bin/scandor"; }
    char PathSeparator() override { return '/'; }

    int OpenHandles() const { return open_; }

private:
    FuzzedDataProvider& in_;
    NoKeys registry_;
    uint32_t lastError_ = 0;
    int open_ = 0;
};

// Device texts are code-page bytes shown as UTF-8: the limit counts the bytes.
void CheckText(const std::string& s, size_t limit) {
    FUZZ_CHECK(cp1252::FromUtf8(s).size() <= limit);
    FUZZ_CHECK(cp1252::ToUtf8(cp1252::FromUtf8(s)) == s);
    if (!s.empty())
        FUZZ_CHECK(static_cast<unsigned char>(s.front()) > 0x20 && static_cast<unsigned char>(s.back()) > 0x20);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    AnsweringMachine machine(in);
    const int drive = in.ConsumeIntegralInRange(0, 3);

    std::string error, model, serial;
    int64_t bytes = -1;
    if (IdentifyAtaDrive(machine, drive, error, model, serial, bytes)) {
        CheckText(model, 40);
        CheckText(serial, 20);
        FUZZ_CHECK(bytes >= 0 && bytes % 512 == 0 && bytes <= int64_t{0xFFFFFFFF} * 512);
    }
    FUZZ_CHECK(machine.OpenHandles() == 0);

    TSmartResult r;
    if (ReadSmartData(machine, drive, r, error)) {
        CheckText(r.ModelNumber, 40);
        CheckText(r.SerialNumber, 20);
        CheckText(r.FirmwareRevision, 8);
        FUZZ_CHECK(r.AttributeCount >= 0 && r.AttributeCount <= 30);
        // An empty device map is read as success with nothing in it, as designed.
        FUZZ_CHECK(r.DeviceIndex >= -1 && r.DeviceIndex <= 3);
        if (r.DeviceIndex < 0) FUZZ_CHECK(r.AttributeCount == 0 && r.ModelNumber.empty());
    }
    FUZZ_CHECK(machine.OpenHandles() == 0);

    if (ReadScsiSerial(machine, drive, error, model, serial, bytes)) {
        FUZZ_CHECK(!serial.empty() || error.empty());
        CheckText(serial, 188);
        FUZZ_CHECK(model.empty() && bytes == 0);
    }
    FUZZ_CHECK(machine.OpenHandles() == 0);

    THardDrive probe(machine, "\\\\.\\PhysicalDrive" + std::to_string(drive));
    if (!probe.GeometryValid && !probe.PartitionInfoValid) FUZZ_CHECK(probe.TotalBytes == 0 && probe.TotalSectors == 0);
    FUZZ_CHECK(machine.OpenHandles() == 0);

    TUserSystem user(machine);
    DriveListTexts texts;
    texts.addHardDrive = "Add %s";
    TDriveList list(machine, user, texts, {});
    for (const DriveListEntry& e : in.ConsumeBool() ? list.ListDrivesForSectorTest() : list.ListDrivesForSmartTest()) {
        FUZZ_CHECK(e.record != nullptr);
        FUZZ_CHECK(e.record->DriveNumber >= -1 && e.record->DriveNumber < TDriveList::MaxPhysicalDrives);
    }
    FUZZ_CHECK(machine.OpenHandles() == 0);
    return 0;
}
