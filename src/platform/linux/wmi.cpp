// Win32_DiskDrive queries answered from sysfs and the udev database.
#include <libudev.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/linux/devicemap.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/wmi.h"
#include "platform/wql.h"

namespace platform::linuxbe {
namespace {

namespace fs = std::filesystem;

std::string Trimmed(std::string s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    size_t start = 0;
    while (start < s.size() && std::isspace(static_cast<unsigned char>(s[start]))) ++start;
    return s.substr(start);
}

std::string ReadText(const fs::path& p) {
    std::ifstream in(p);
    std::string s;
    if (in) std::getline(in, s, '\0');
    return Trimmed(s);
}

uint64_t ReadNumber(const fs::path& p, uint64_t fallback) {
    std::string s = ReadText(p);
    if (s.empty()) return fallback;
    try {
        return std::stoull(s);
    } catch (const std::exception&) {
        return fallback;
    }
}

// udev properties of a block device; empty without a udev database.
struct UdevFacts {
    std::string bus, serial, model, wwn;
    std::vector<std::string> byId;   // names under /dev/disk/by-id, sorted
};

UdevFacts Udev(const std::string& name) {
    UdevFacts f;
    std::unique_ptr<udev, decltype(&udev_unref)> u(udev_new(), udev_unref);
    if (!u) return f;
    std::unique_ptr<udev_device, decltype(&udev_device_unref)> d(
        udev_device_new_from_subsystem_sysname(u.get(), "block", name.c_str()), udev_device_unref);
    if (!d) return f;
    auto prop = [&](const char* key) {
        const char* v = udev_device_get_property_value(d.get(), key);
        return v ? std::string(v) : std::string();
    };
    f.bus = prop("ID_BUS");
    f.serial = prop("ID_SERIAL_SHORT");
    f.model = Trimmed(DecodeUdevEscapes(prop("ID_MODEL_ENC")));
    f.wwn = prop("ID_WWN_WITH_EXTENSION");
    if (f.wwn.empty()) f.wwn = prop("ID_WWN");
    const std::string byIdPrefix = "/dev/disk/by-id/";
    for (udev_list_entry* e = udev_device_get_devlinks_list_entry(d.get()); e; e = udev_list_entry_get_next(e)) {
        const std::string link = udev_list_entry_get_name(e);
        if (link.compare(0, byIdPrefix.size(), byIdPrefix) == 0 && link.size() > byIdPrefix.size())
            f.byId.push_back(link.substr(byIdPrefix.size()));
    }
    std::sort(f.byId.begin(), f.byId.end());
    return f;
}

WmiProperty Text(const char* name, const std::string& value) {
    WmiProperty p{name, CIM_STRING, {}};
    if (!value.empty()) {
        p.value.kind = WmiValue::Text;
        p.value.texts = {value};
    }
    return p;
}

WmiProperty TextArray(const char* name, const std::vector<std::string>& values) {
    WmiProperty p{name, CIM_STRING, {}};
    p.value.kind = WmiValue::Text;
    p.value.isArray = true;
    p.value.texts = values;
    return p;
}

WmiProperty Unsigned(const char* name, int32_t cim, uint64_t value) {
    WmiProperty p{name, cim, {}};
    p.value.kind = WmiValue::UInt;
    p.value.uints = {value};
    return p;
}

WmiObject DiskDrive(const fs::path& sysBlock, const std::string& name, uint32_t index, bool real) {
    const fs::path dev = sysBlock / name;
    const UdevFacts udevFacts = real ? Udev(name) : UdevFacts{};
    std::error_code ec;
    const std::string where = fs::weakly_canonical(dev, ec).string();
    const bool loop = name.rfind("loop", 0) == 0;
    const bool removable = ReadNumber(dev / "removable", 0) != 0;

    std::string interface;
    const std::string& bus = udevFacts.bus;
    if (bus == "ata") interface = "IDE";
    else if (bus == "usb") interface = "USB";
    else if (bus == "ieee1394") interface = "1394";
    else if (bus == "scsi") interface = "SCSI";
    else if (where.find("/usb") != std::string::npos) interface = "USB";
    else if (where.find("/firewire") != std::string::npos) interface = "1394";
    else if (where.find("/ata") != std::string::npos || name.rfind("hd", 0) == 0) interface = "IDE";
    else interface = "SCSI";  // as Windows reports SCSI, SAS, NVMe, virtio and virtual disks

    std::string model;
    if (loop) {
        model = "Virtual Disk " + ReadText(dev / "loop" / "backing_file");
    } else {
        // sysfs holds the 16-byte SCSI INQUIRY field, which cuts ATA models short:
        // the drive's own answer first, then udev's full text.
        if (real && (name.rfind("sd", 0) == 0 || name.rfind("hd", 0) == 0)) model = AtaIdentifyModel("/dev/" + name);
        if (model.empty()) model = udevFacts.model;
        if (model.empty()) model = ReadText(dev / "device" / "model");
        if (model.empty()) model = ReadText(dev / "device" / "name");  // MMC/SD cards
        // Paravirtual disks have no model of their own; name them as their drivers do.
        if (model.empty() && name.rfind("vd", 0) == 0) model = "VirtIO Disk Device";
        if (model.empty() && name.rfind("xvd", 0) == 0) model = "Xen Virtual Disk";
        if (interface == "USB") {
            std::string vendor = ReadText(dev / "device" / "vendor");
            model = Trimmed((vendor.empty() ? "" : vendor + " ") + model) + " USB Device";
        }
    }

    std::string serial = udevFacts.serial;
    if (serial.empty()) serial = ReadText(dev / "device" / "serial");

    const uint64_t sectorSize = ReadNumber(dev / "queue" / "logical_block_size", 512);
    const uint64_t bytes = ReadNumber(dev / "size", 0) * 512;
    // Size counts whole cylinders of the conventional 255 x 63 geometry, as the
    // Windows provider derives it from the drive geometry.
    const uint64_t cylinderBytes = 255ull * 63 * (sectorSize ? sectorSize : 512);
    const uint64_t size = bytes / cylinderBytes * cylinderBytes;

    WmiProperty caps{"Capabilities", CIM_UINT16, {}};
    caps.value.kind = WmiValue::UInt;
    caps.value.isArray = true;
    caps.value.uints = {3};                                          // random access
    if (ReadNumber(dev / "ro", 0) == 0) caps.value.uints.push_back(4);  // supports writing
    if (removable) caps.value.uints.push_back(7);                    // removable media

    WmiObject o;
    o.properties = {
        Text("Name", "\\\\.\\PHYSICALDRIVE" + std::to_string(index)),
        Text("Model", model),
        Text("InterfaceType", interface),
        Text("SerialNumber", serial),
        Unsigned("Size", CIM_UINT64, size),
        Unsigned("Index", CIM_UINT32, index),
        Text("MediaType", removable ? "Removable Media"
                          : interface == "USB" ? "External hard disk media"
                                               : "Fixed hard disk media"),
        caps,
        // Not Win32_DiskDrive's: the names that stay with the disk when numbers move.
        Text("WWN", udevFacts.wwn),
        TextArray("ByIdNames", udevFacts.byId),
    };
    return o;
}

}  // namespace

std::string DecodeUdevEscapes(const std::string& text) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && hex(text[i + 2]) >= 0 &&
            hex(text[i + 3]) >= 0) {
            const int byte = hex(text[i + 2]) * 16 + hex(text[i + 3]);
            // A control character has no place in a model name.
            out += byte < 0x20 || byte == 0x7f ? '?' : static_cast<char>(byte);
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<WmiObject> DiskDriveObjects(const std::string& sysBlock) {
    std::vector<WmiObject> out;
    const bool real = fs::path(sysBlock) == fs::path("/sys/block");
    uint32_t index = 0;
    for (const std::string& name : WholeDisks(sysBlock)) out.push_back(DiskDrive(sysBlock, name, index++, real));
    return out;
}

WmiQueryResult AnswerWql(const std::string& nameSpace, const std::string& wql,
                         const std::string& sysBlock) {
    const WmiObject schema = DiskDrive(sysBlock, "none", 0, false);
    return wql::Answer(nameSpace, wql, DiskDriveObjects(sysBlock), &schema);
}

WmiQueryResult LinuxPlatform::WmiExecQuery(const std::string& nameSpace, const std::string& wql) {
    return AnswerWql(nameSpace, wql);
}

}  // namespace platform::linuxbe
