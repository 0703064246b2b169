#include "smart/smartapi.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/cp1252.h"
#include "platform/drivepath.h"
#include "platform/nvmequery.h"
#include "platform/platform.h"

using namespace platform;

const char* const DriverStatusTexts[11] = {
    "No error",
    "Error from IDE controller",
    "Invalid command flag",
    "Invalid command byte",
    "Bad buffer (null, invalid addr..)",
    "Drive number not valid",
    "Invalid IOCTL",
    "Could not lock user\"s buffer",
    "Some IDE Register not valid",
    "Invalid cmd flag set",
    "Cmd issued to device not present although drive number is valid",
};

std::string DriverStatusText(uint8_t driverError) {
    if (driverError <= 10) return DriverStatusTexts[driverError];
    return "Unknown driver error " + std::to_string(driverError);
}

namespace {

bool IsBlank(unsigned char c) { return c <= 0x20; }

std::string TrimBlanks(std::string s) {
    size_t b = 0;
    while (b < s.size() && IsBlank(static_cast<unsigned char>(s[b]))) ++b;
    size_t e = s.size();
    while (e > b && IsBlank(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

// FormatMessage's text for the last error, as the messages quote it.
std::string SystemText(Platform& p, uint32_t code) {
    std::string s = p.SystemErrorText(code);
    if (s.size() > 255) s.resize(255);  // FormatMessage writes into 256 bytes
    while (!s.empty() && (IsBlank(static_cast<unsigned char>(s.back())) || s.back() == '.'))
        s.pop_back();
    return s;
}

std::string Hex4(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFFu);
    return buf;
}

// Closes the handle on every way out.
class DriveHandle {
public:
    DriveHandle(Platform& p, Handle h) : p_(p), h_(h) {}
    ~DriveHandle() {
        if (h_ != InvalidHandle) p_.CloseHandle(h_);
    }
    DriveHandle(const DriveHandle&) = delete;
    DriveHandle& operator=(const DriveHandle&) = delete;
    Handle get() const { return h_; }
    bool valid() const { return h_ != InvalidHandle; }

private:
    Platform& p_;
    Handle h_;
};

Handle OpenPhysicalDrive(Platform& p, int32_t n) {
    return p.CreateFile(PhysicalDrivePath(n), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
}

// Opens the handle the platform's SMART path goes through. False with an empty
// text on a platform without one.
bool OpenSmartHandle(Platform& p, int32_t n, Handle& h, std::string& errorText) {
    h = InvalidHandle;
    const uint32_t id = p.PlatformId();
    if (id == VER_PLATFORM_WIN32_WINDOWS) {
        h = p.CreateFile("\\\\.\\SMARTVSD", 0, 0, CREATE_NEW, 0);
        if (h == InvalidHandle)
            errorText = "Unable to open SMARTVSD: " + SystemText(p, p.GetLastError());
    } else if (id == VER_PLATFORM_WIN32_NT) {
        h = OpenPhysicalDrive(p, n);
        if (h == InvalidHandle)
            errorText = "Unable to open physical drive: " + SystemText(p, p.GetLastError());
    }
    return h != InvalidHandle;
}

using Block = std::vector<uint8_t>;

Block NewBlock() { return Block(SmartOutBlockSize, 0); }

const uint8_t* Data(const Block& b) { return b.data() + sizeof(SENDCMDOUTPARAMS_HEAD); }

DRIVERSTATUS StatusOf(const Block& b) {
    SENDCMDOUTPARAMS_HEAD head;
    std::memcpy(&head, b.data(), sizeof head);
    return head.DriverStatus;
}

enum class Cmd { Enable, Identify, IdentifyPacket, ReadData, ReadThresholds };

// Issues one command of the SMART pass-through. lastError is taken right after the call.
bool SendCommand(Platform& p, Handle h, int pos, Cmd cmd, Block& out, uint32_t& lastError) {
    SENDCMDINPARAMS in;
    std::memset(&in, 0, sizeof in);
    IDEREGS& r = in.irDriveRegs;
    r.bSectorCountReg = 1;
    r.bSectorNumberReg = 1;
    r.bDriveHeadReg = static_cast<uint8_t>(0xA0 | ((pos & 1) << 4));
    in.bDriveNumber = static_cast<uint8_t>(pos);
    uint32_t code = SMART_RCV_DRIVE_DATA;
    uint32_t outSize = 528;
    in.cBufferSize = 512;
    switch (cmd) {
    case Cmd::Enable:
        code = SMART_SEND_DRIVE_COMMAND;
        in.cBufferSize = 0;
        r.bFeaturesReg = 0xD8;
        r.bCylLowReg = 0x4F;
        r.bCylHighReg = 0xC2;
        r.bCommandReg = 0xB0;
        break;
    case Cmd::Identify:
    case Cmd::IdentifyPacket:
        r.bCommandReg = cmd == Cmd::Identify ? 0xEC : 0xA1;
        outSize = 529;
        break;
    case Cmd::ReadData:
    case Cmd::ReadThresholds:
        r.bFeaturesReg = cmd == Cmd::ReadData ? 0xD0 : 0xD1;
        r.bCylLowReg = 0x4F;
        r.bCylHighReg = 0xC2;
        r.bCommandReg = 0xB0;
        break;
    }
    std::fill(out.begin(), out.end(), 0);
    if (cmd == Cmd::Identify || cmd == Cmd::IdentifyPacket) {
        const uint32_t size = 512;
        std::memcpy(out.data(), &size, sizeof size);
    }
    uint32_t returned = 0;
    bool ok = p.DeviceIoControl(h, code, &in, 32, out.data(), outSize, &returned);
    lastError = ok ? 0 : p.GetLastError();
    return ok;
}

bool GetVersion(Platform& p, Handle h, Block& out, uint8_t& deviceMap, uint32_t& lastError) {
    std::fill(out.begin(), out.end(), 0);
    uint32_t returned = 0;
    bool ok = p.DeviceIoControl(h, SMART_GET_VERSION, nullptr, 0, out.data(),
                                sizeof(GETVERSIONOUTPARAMS), &returned);
    lastError = ok ? 0 : p.GetLastError();
    GETVERSIONOUTPARAMS v;
    std::memcpy(&v, out.data(), sizeof v);
    deviceMap = v.bIDEDeviceMap;
    return ok;
}

std::string IdentifyFailedText(Platform& p, const Block& out, uint32_t err) {
    const DRIVERSTATUS st = StatusOf(out);
    return "Identify Command Failed on Drive: " + DriverStatusText(st.bDriverError) +
           " bIDEStatus=" + Hex4(st.bIDEError) + " : " + SystemText(p, err);
}

std::string ReadFailedText(Platform& p, const char* what, int pos, const Block& out,
                           uint32_t err) {
    const DRIVERSTATUS st = StatusOf(out);
    return std::string(what) + std::to_string(pos) + " : " + SystemText(p, err) +
           "; DriverStatus: " + DriverStatusText(st.bDriverError) +
           "; bIDEStatus=" + Hex4(st.bIDEError);
}

int64_t SectorsOf(const uint8_t* id) {
    const uint32_t sectors = static_cast<uint32_t>(id[120]) | (static_cast<uint32_t>(id[121]) << 8) |
                             (static_cast<uint32_t>(id[122]) << 16) |
                             (static_cast<uint32_t>(id[123]) << 24);
    return static_cast<int64_t>(sectors) * 512;
}

// One protocol query; the data part of a checked answer lands in data.
bool QueryNvme(Platform& p, Handle h, uint32_t dataType, uint32_t value, uint32_t subValue,
               std::vector<uint8_t>& data, std::string& errorText, const char* what) {
    const uint32_t length = dataType == NVMeDataTypeIdentify ? NvmeIdentifySize : NvmeHealthLogSize;
    std::vector<uint8_t> buffer = BuildNvmeQuery(dataType, value, subValue, length);
    uint32_t returned = 0;
    if (!p.DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, buffer.data(), static_cast<uint32_t>(buffer.size()),
                           buffer.data(), static_cast<uint32_t>(buffer.size()), &returned)) {
        errorText = std::string("NVMe ") + what + " failed: " + SystemText(p, p.GetLastError());
        return false;
    }
    // The answer says where its data is; it must lie whole inside the buffer.
    STORAGE_PROTOCOL_DATA_DESCRIPTOR head;
    std::memcpy(&head, buffer.data(), sizeof head);
    const STORAGE_PROTOCOL_SPECIFIC_DATA& a = head.ProtocolSpecificData;
    const uint64_t start = 8 + uint64_t{a.ProtocolDataOffset};
    if (head.Version != sizeof head || head.Size != sizeof head || a.ProtocolDataOffset < sizeof a ||
        a.ProtocolDataLength < length || start + length > buffer.size()) {
        errorText = std::string("NVMe ") + what + " failed: malformed answer";
        return false;
    }
    data.assign(buffer.begin() + static_cast<std::ptrdiff_t>(start),
                buffer.begin() + static_cast<std::ptrdiff_t>(start + length));
    return true;
}

bool IdentifyNvme(Platform& p, Handle h, NvmeIdentity& id, std::string& errorText) {
    std::vector<uint8_t> data;
    if (!QueryNvme(p, h, NVMeDataTypeIdentify, NVME_IDENTIFY_CNS_CONTROLLER, 0, data, errorText,
                   "Identify Controller"))
        return false;
    DecodeNvmeIdentifyController(data.data(), data.size(), id);
    // The ASCII fields are 8-bit text to a user, like the ATA strings.
    for (std::string* text : {&id.model, &id.serial, &id.firmware}) *text = DeviceText(*text);
    std::string ignored;
    // Namespace 0: the one the handle stands for.
    if (QueryNvme(p, h, NVMeDataTypeIdentify, NVME_IDENTIFY_CNS_SPECIFIC_NAMESPACE, 0, data, ignored,
                  "Identify Namespace"))
        id.sizeBytes = DecodeNvmeNamespaceSize(data.data(), data.size());
    return true;
}

}  // namespace

std::string DeviceText(const std::string& bytes) { return cp1252::ToUtf8(bytes); }
bool IdentifyNvmeDrive(Platform& p, int32_t driveNumber, std::string& errorText, NvmeIdentity& id) {
    errorText.clear();
    id = NvmeIdentity{};
    // The protocol query needs no write access.
    DriveHandle h(p, p.CreateFile(PhysicalDrivePath(driveNumber), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  OPEN_EXISTING, 0));
    if (!h.valid()) {
        errorText = "Unable to open physical drive: " + SystemText(p, p.GetLastError());
        return false;
    }
    return IdentifyNvme(p, h.get(), id, errorText);
}

bool ReadNvmeHealth(Platform& p, int32_t driveNumber, NvmeIdentity& id, NvmeHealthLog& log,
                    std::string& errorText) {
    errorText.clear();
    id = NvmeIdentity{};
    log = NvmeHealthLog{};
    DriveHandle h(p, p.CreateFile(PhysicalDrivePath(driveNumber), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  OPEN_EXISTING, 0));
    if (!h.valid()) {
        errorText = "Unable to open physical drive: " + SystemText(p, p.GetLastError());
        return false;
    }
    if (!IdentifyNvme(p, h.get(), id, errorText)) return false;
    std::vector<uint8_t> page;
    if (!QueryNvme(p, h.get(), NVMeDataTypeLogPage, NVME_LOG_PAGE_HEALTH_INFO, 0, page, errorText,
                   "SMART / Health Information log"))
        return false;
    log = DecodeNvmeHealthLog(page.data(), page.size());
    return true;
}

std::string SwapAtaString(const uint8_t* bytes, size_t length) {
    std::string s;
    if (!bytes) return s;
    length &= ~static_cast<size_t>(1);
    s.reserve(length);
    for (size_t i = 0; i < length; i += 2) {
        s.push_back(static_cast<char>(bytes[i + 1]));
        s.push_back(static_cast<char>(bytes[i]));
    }
    return TrimBlanks(std::move(s));
}

std::string ExceptionMessageText(std::exception_ptr e) {
    if (!e) return {};
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& ex) {
        return TrimBlanks(ex.what());
    } catch (...) {
        return {};
    }
}

bool IdentifyAtaDrive(Platform& p, int32_t driveNumber, std::string& errorText, std::string& model,
                      std::string& serial, int64_t& sizeBytes) {
    errorText.clear();
    model.clear();
    serial.clear();
    sizeBytes = 0;
    Handle raw;
    if (!OpenSmartHandle(p, driveNumber, raw, errorText)) return false;
    DriveHandle h(p, raw);

    Block out = NewBlock();
    uint8_t map = 0;
    uint32_t err = 0;
    if (!GetVersion(p, h.get(), out, map, err)) {
        errorText = "DFP_GET_VERSION failed: " + SystemText(p, err);
        return false;
    }
    bool last = true;
    for (int pos = 0; pos < 4; ++pos) {
        if (!(map & (1u << pos))) continue;
        const bool atapi = (map & (0x10u << pos)) != 0;
        if (!atapi) {
            last = SendCommand(p, h.get(), pos, Cmd::Enable, out, err);
            if (!last)
                errorText = "SMART Enable Command Failed, Drive: " + std::to_string(pos) + " : " +
                            SystemText(p, err);
        }
        last = SendCommand(p, h.get(), pos, atapi ? Cmd::IdentifyPacket : Cmd::Identify, out, err);
        if (last) {
            const uint8_t* id = Data(out);
            model = DeviceText(SwapAtaString(id + 54, 40));
            serial = DeviceText(SwapAtaString(id + 20, 20));
            sizeBytes = SectorsOf(id);
            break;
        }
        errorText = IdentifyFailedText(p, out, err);
    }
    return last;
}

bool ReadSmartData(Platform& p, int32_t driveNumber, TSmartResult& result, std::string& errorText) {
    bool last = false;
    try {
        ResetSmartResult(result);
        errorText.clear();
        Handle raw;
        if (!OpenSmartHandle(p, driveNumber, raw, errorText)) return false;
        DriveHandle h(p, raw);

        Block ident = NewBlock(), attrs = NewBlock(), thresholds = NewBlock();
        uint8_t map = 0;
        uint32_t err = 0;
        last = GetVersion(p, h.get(), ident, map, err);
        if (!last) {
            errorText = "DFP_GET_VERSION failed: " + SystemText(p, err);
            return false;
        }
        for (int pos = 0; pos < 4; ++pos) {
            if (!(map & (1u << pos))) continue;
            const bool atapi = (map & (0x10u << pos)) != 0;
            if (!atapi) {
                last = SendCommand(p, h.get(), pos, Cmd::Enable, attrs, err);
                if (!last)
                    errorText = "SMART Enable Command Failed, Drive: " + std::to_string(pos) +
                                " : " + SystemText(p, err);
            }
            last = SendCommand(p, h.get(), pos, atapi ? Cmd::IdentifyPacket : Cmd::Identify, ident,
                               err);
            if (!last) {
                errorText = IdentifyFailedText(p, ident, err);
                continue;
            }
            const uint8_t* id = Data(ident);
            result.DeviceIndex = pos;
            result.SizeBytes = SectorsOf(id);
            result.SerialNumber = DeviceText(SwapAtaString(id + 20, 20));
            result.FirmwareRevision = DeviceText(SwapAtaString(id + 46, 8));
            result.ModelNumber = DeviceText(SwapAtaString(id + 54, 40));
            result.IdentifyWord47 = id[94] | (id[95] << 8);

            last = SendCommand(p, h.get(), pos, Cmd::ReadData, attrs, err);
            if (!last) {
                errorText = ReadFailedText(p, "SMART Read Attr Command Failed, Drive: ", pos, attrs, err);
                continue;
            }
            last = SendCommand(p, h.get(), pos, Cmd::ReadThresholds, thresholds, err);
            if (!last) {
                errorText = ReadFailedText(p, "SMART Read Threshold Command Failed, Drive: ", pos,
                                           thresholds, err);
                continue;
            }
            ScanSmartBlocks(Data(attrs), SmartBlockSize, Data(thresholds), SmartBlockSize, result);
            last = true;
            break;
        }
        return last;
    } catch (...) {
        errorText = "SMART Failed - " + ExceptionMessageText(std::current_exception());
        return last;
    }
}

bool ReadScsiSerial(Platform& p, int32_t driveNumber, std::string& errorText, std::string& model,
                    std::string& serial, int64_t& sizeBytes) {
    errorText.clear();
    serial.clear();
    model.clear();
    sizeBytes = 0;
    DriveHandle h(p, OpenPhysicalDrive(p, driveNumber));
    if (!h.valid()) {
        errorText = "Unable to open physical drive: " + SystemText(p, p.GetLastError());
        return false;
    }
    try {
        SCSI_PASS_THROUGH_BLOCK b;
        std::memset(&b, 0, sizeof b);
        b.Spt.Length = sizeof(SCSI_PASS_THROUGH);
        b.Spt.CdbLength = 6;
        b.Spt.SenseInfoLength = 24;
        b.Spt.DataIn = 1;
        b.Spt.DataTransferLength = sizeof b.Data;
        b.Spt.TimeOutValue = 2;
        b.Spt.DataBufferOffset = offsetof(SCSI_PASS_THROUGH_BLOCK, Data);
        b.Spt.SenseInfoOffset = offsetof(SCSI_PASS_THROUGH_BLOCK, Sense);
        const uint8_t cdb[] = {0x12, 0x01, 0x80, 0x00, 0xC0};
        std::memcpy(b.Spt.Cdb, cdb, sizeof cdb);
        uint32_t returned = 0;
        if (!p.DeviceIoControl(h.get(), IOCTL_SCSI_PASS_THROUGH, &b, sizeof(SCSI_PASS_THROUGH), &b,
                               sizeof b, &returned)) {
            errorText = "SCSI_IOCTL Command Failed: " + SystemText(p, p.GetLastError());
            return false;
        }
        if (b.Data[1] == 0x80 && b.Data[3] > 0) {
            // The data buffer holds at most 188 text bytes after the page head.
            const size_t n = std::min<size_t>(b.Data[3], sizeof b.Data - 4);
            serial = DeviceText(TrimBlanks(std::string(reinterpret_cast<const char*>(b.Data + 4), n)));
            return true;
        }
        errorText = "No SCSI Drive Serial Number Returned";
        return false;
    } catch (...) {
        errorText = "Exception Getting SCSI Drive Serial Number";
        return false;
    }
}
