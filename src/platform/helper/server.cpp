#include "platform/helper/server.h"

#include <cerrno>
#include <cstring>

#include "platform/linux/scanrecords.h"
#include "platform/records.h"

namespace platform::helper {

namespace {

// Key paths arrive with or without the leading backslash the program writes.
std::string NormalKey(const std::string& path) {
    return !path.empty() && path.front() == '\\' ? path.substr(1) : path;
}

Reply Refused(uint32_t error, std::string why) {
    Reply r;
    r.lastError = error;
    r.message = std::move(why);
    return r;
}

}  // namespace

bool IsDrivePath(const std::string& path) {
    static const std::string physical = "\\\\.\\PhysicalDrive";
    if (path == "\\\\.\\A:" || path == "\\\\.\\B:") return true;
    if (path.compare(0, physical.size(), physical) != 0) return false;
    const std::string digits = path.substr(physical.size());
    if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits[0] == '0')) return false;
    for (char c : digits)
        if (c < '0' || c > '9') return false;
    return true;
}

bool IsAllowedControl(uint32_t code) {
    switch (code) {
    case IOCTL_DISK_GET_PARTITION_INFO:
    case IOCTL_DISK_GET_DRIVE_GEOMETRY:
    case IOCTL_DISK_GET_DRIVE_LAYOUT:
    case SMART_GET_VERSION:
    case SMART_SEND_DRIVE_COMMAND:
    case SMART_RCV_DRIVE_DATA:
    case IOCTL_SCSI_PASS_THROUGH:
    case IOCTL_STORAGE_QUERY_PROPERTY:       // NVMe Identify / Get Log Page; the backend allow-lists those
    case IOCTL_STORAGE_GET_DRIVE_IDENTITY:
        return true;
    default:
        return false;
    }
}

bool IsSettingsValue(const std::string& name) {
    for (const char* n : {"Scandor-sendbyemail", "Scandor-email", "Scandor-emailfrom", "Scandor-smtphost",
                          "Scandor-username", "Scandor-x"})
        if (name == n) return true;
    return false;
}

Server::Server(Platform& machine, DescriptorOf descriptorOf, std::string recordDir)
    : machine_(machine), descriptorOf_(descriptorOf), recordDir_(std::move(recordDir)) {}

Server::~Server() {
    for (auto& [id, h] : handles_) machine_.CloseHandle(h);
}

Reply Server::Answer(const Request& q, int* passFd) {
    if (passFd) *passFd = -1;
    Reply r;
    switch (q.op) {
    case Op::Open: {
        // Drive paths only: an image file or another path is the user's own business
        // and needs no rights.
        if (!IsDrivePath(q.text)) return Refused(EPERM, "not a drive path");
        const platform::Handle h = machine_.CreateFile(q.text, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                       OPEN_EXISTING, 0);
        if (h == InvalidHandle) return Refused(machine_.GetLastError(), "cannot open");
        const uint32_t id = nextHandle_++;
        handles_[id] = h;
        if (passFd) *passFd = descriptorOf_(machine_, h);
        // The node the descriptor reads, for the program's own identity checks and logs.
        DRIVE_IDENTITY identity{};
        uint32_t got = 0;
        if (machine_.DeviceIoControl(h, IOCTL_STORAGE_GET_DRIVE_IDENTITY, nullptr, 0, &identity, sizeof identity,
                                     &got) &&
            got == sizeof identity)
            r.message.assign(identity.DeviceNode, strnlen(identity.DeviceNode, sizeof identity.DeviceNode));
        r.ok = true;
        r.handle = id;
        return r;
    }
    case Op::Ioctl: {
        auto it = handles_.find(q.handle);
        if (it == handles_.end()) return Refused(EBADF, "no such handle");
        if (!IsAllowedControl(q.code)) return Refused(EPERM, "control code not allowed");
        r.data.assign(q.outSize, 0);
        uint32_t returned = 0;
        r.ok = machine_.DeviceIoControl(it->second, q.code, q.data.empty() ? nullptr : q.data.data(),
                                        static_cast<uint32_t>(q.data.size()),
                                        r.data.empty() ? nullptr : r.data.data(), q.outSize, &returned);
        r.lastError = r.ok ? 0 : machine_.GetLastError();
        r.bytesReturned = returned > q.outSize ? q.outSize : returned;
        return r;
    }
    case Op::Close: {
        auto it = handles_.find(q.handle);
        if (it == handles_.end()) return Refused(EBADF, "no such handle");
        r.ok = machine_.CloseHandle(it->second);
        handles_.erase(it);
        return r;
    }
    case Op::KeyExists: {
        const std::string key = NormalKey(q.text);
        if (key != SettingsKey && key != ResumeKey) return Refused(EPERM, "not the program's key");
        r.ok = machine_.GetRegistry().KeyExists(key);
        return r;
    }
    case Op::RegRead: {
        const std::string key = NormalKey(q.text);
        if (key != SettingsKey && key != ResumeKey) return Refused(EPERM, "not the program's key");
        auto k = machine_.GetRegistry().OpenKey(key, false);
        RegValue v;
        if (!k || !k->ReadValue(q.name, v)) return Refused(ENOENT, "no such value");
        r.ok = true;
        r.valueType = v.type;
        r.dword = v.dword;
        if (v.type == REG_SZ) {
            r.data.assign(v.text.begin(), v.text.end());
        } else if (v.type != REG_DWORD) {
            r.data = v.raw;
        }
        if (r.data.size() > MaxIoctlData) return Refused(E2BIG, "value too large");
        return r;
    }
    case Op::RegWrite: {
        // Only the program's own six values; the resume values are never written.
        if (NormalKey(q.text) != SettingsKey || !IsSettingsValue(q.name))
            return Refused(EPERM, "not a value the program stores");
        if (q.valueType != REG_SZ && q.valueType != REG_DWORD) return Refused(EINVAL, "value type not allowed");
        auto k = machine_.GetRegistry().OpenKey(SettingsKey, true);
        if (!k) return Refused(EACCES, "cannot open the key");
        RegValue v;
        v.type = q.valueType;
        v.dword = q.dword;
        if (v.type == REG_SZ) v.text.assign(q.data.begin(), q.data.end());
        r.ok = k->WriteValue(q.name, v);
        if (!r.ok) {
            r.lastError = EIO;
            r.message = machine_.GetRegistry().LastFailure();
        }
        return r;
    }
    case Op::SaveRecord: {
        if (recordDir_.empty()) return Refused(ENOTSUP, "scan records are not kept");
        errno = 0;
        const int error = linuxbe::StoreScanRecordFile(recordDir_, q.text, std::string(q.data.begin(), q.data.end()))
                              ? 0
                              : (errno ? errno : EIO);
        if (error) return Refused(static_cast<uint32_t>(error), "the scan record cannot be stored");
        r.ok = true;
        return r;
    }
    }
    return Refused(EINVAL, "unknown request");
}

void Serve(int socket, Server& server) {
    for (;;) {
        auto frame = RecvFrame(socket);
        if (!frame) return;
        Reply reply;
        int passFd = -1;
        if (auto request = DecodeRequest(frame->data(), frame->size())) {
            reply = server.Answer(*request, &passFd);
        } else {
            reply.lastError = EINVAL;
            reply.message = "malformed request";
        }
        if (!SendFrame(socket, EncodeReply(reply), passFd)) return;
    }
}

}  // namespace platform::helper
