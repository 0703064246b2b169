// SMART and SCSI answers of simulated drives (the "ide" and "scsi" sections of a
// drive in the manifest, docs/machine-manifest.md).
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "platform/cp1252.h"
#include "platform/sim/sim_platform.h"
#include "platform/smartcommands.h"

namespace platform::sim {

namespace {

using Sector = std::array<uint8_t, 512>;

[[noreturn]] void Bad(const std::string& what) {
    throw std::runtime_error("machine manifest: " + what);
}

// Hex digits, blanks ignored; at most `max` bytes, the rest left zero.
std::vector<uint8_t> FromHex(const std::string& text, size_t max) {
    std::vector<uint8_t> out;
    int hi = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else if (c == ' ' || c == '\n' || c == '\t' || c == ':') continue;
        else Bad("not a hex digit in \"" + text.substr(0, 32) + "\"");
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<uint8_t>(hi << 4 | v));
            hi = -1;
        }
    }
    if (hi >= 0) Bad("odd number of hex digits");
    if (out.size() > max) Bad("hex block longer than " + std::to_string(max) + " bytes");
    return out;
}

Sector SectorFromHex(const std::string& text) {
    Sector s{};
    auto bytes = FromHex(text, s.size());
    std::copy(bytes.begin(), bytes.end(), s.begin());
    return s;
}

// The records of a sample blob: tag -> payload.
std::map<std::string, std::vector<uint8_t>> ReadSample(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) Bad("cannot read SMART sample " + path);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::map<std::string, std::vector<uint8_t>> records;
    size_t at = 0;
    while (at + 8 <= bytes.size()) {
        std::string tag(reinterpret_cast<const char*>(&bytes[at]), 4);
        uint32_t len = (uint32_t{bytes[at + 4]} << 24) | (uint32_t{bytes[at + 5]} << 16) |
                       (uint32_t{bytes[at + 6]} << 8) | bytes[at + 7];
        at += 8;
        if (len > bytes.size() - at) Bad("truncated record " + tag + " in " + path);
        records[tag].assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                            bytes.begin() + static_cast<std::ptrdiff_t>(at + len));
        at += len;
    }
    return records;
}

// A manifest's text is UTF-8; the drive holds it in the 8-bit code page.
void PutAtaText(Sector& s, size_t offset, size_t length, const std::string& utf8) {
    const std::string text = cp1252::FromUtf8(utf8);
    for (size_t i = 0; i < length; ++i) {
        uint8_t c = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
        s[offset + (i ^ 1)] = c;  // ATA text: the two bytes of every word swapped
    }
}

Sector IdentifyFrom(const Json& j) {
    if (j.contains("hex")) return SectorFromHex(j["hex"].get<std::string>());
    Sector s{};
    PutAtaText(s, 20, 20, j.value("serial", ""));
    PutAtaText(s, 46, 8, j.value("firmware", ""));
    PutAtaText(s, 54, 40, j.value("model", ""));
    uint32_t w47 = j.value("word47", 0u);
    s[94] = static_cast<uint8_t>(w47);
    s[95] = static_cast<uint8_t>(w47 >> 8);
    uint32_t sectors = j.value("sectors", 0u);
    for (int b = 0; b < 4; ++b) s[120 + static_cast<size_t>(b)] = static_cast<uint8_t>(sectors >> (8 * b));
    return s;
}

// Attribute and threshold blocks from a list of entries, or raw hex.
void BlocksFrom(const Json& attrs, const Json* thresholds, Sector& a, Sector& t, bool& haveA,
                bool& haveT) {
    if (attrs.is_object() && attrs.contains("hex")) {
        a = SectorFromHex(attrs["hex"].get<std::string>());
        haveA = true;
    } else if (attrs.is_array()) {
        a = Sector{};
        t = Sector{};
        if (attrs.size() > 30) Bad("more than 30 attributes");
        size_t k = 0;
        for (const Json& e : attrs) {
            size_t o = 2 + 12 * k++;
            uint32_t flags = e.value("flags", 0u);
            uint64_t raw = e.value("raw", uint64_t{0});
            a[o] = static_cast<uint8_t>(e.value("id", 0u));
            a[o + 1] = static_cast<uint8_t>(flags);
            a[o + 2] = static_cast<uint8_t>(flags >> 8);
            a[o + 3] = static_cast<uint8_t>(e.value("current", 0u));
            a[o + 4] = static_cast<uint8_t>(e.value("worst", 0u));
            for (int b = 0; b < 6; ++b) a[o + 5 + static_cast<size_t>(b)] = static_cast<uint8_t>(raw >> (8 * b));
            t[o] = a[o];
            t[o + 1] = static_cast<uint8_t>(e.value("threshold", 0u));
        }
        haveA = haveT = true;
    }
    if (thresholds && thresholds->is_object() && thresholds->contains("hex")) {
        t = SectorFromHex((*thresholds)["hex"].get<std::string>());
        haveT = true;
    } else if (thresholds && thresholds->is_array()) {
        if (thresholds->size() > 30) Bad("more than 30 thresholds");
        t = Sector{};
        size_t k = 0;
        for (const Json& e : *thresholds) {
            size_t o = 2 + 12 * k++;
            t[o] = static_cast<uint8_t>(e.value("id", 0u));
            t[o + 1] = static_cast<uint8_t>(e.value("threshold", 0u));
        }
        haveT = true;
    }
}

struct Position {
    bool atapi = false;
    Sector identify{};
    Sector attributes{};
    Sector thresholds{};
    bool haveIdentify = false, haveAttributes = false, haveThresholds = false;
    const Json* desc = nullptr;
};

// A failure the manifest injects into one command.
struct Injected {
    bool fails = false;
    uint32_t error = EIO;
    uint8_t driverError = 0;
    uint8_t ideError = 0;
};

Injected InjectedFor(const Json* desc, const char* command) {
    Injected f;
    if (!desc || !desc->contains("fail") || !(*desc)["fail"].contains(command)) return f;
    const Json& j = (*desc)["fail"][command];
    f.fails = true;
    f.error = j.value("error", static_cast<uint32_t>(EIO));
    f.driverError = static_cast<uint8_t>(j.value("driverError", 0u));
    f.ideError = static_cast<uint8_t>(j.value("ideError", 0u));
    return f;
}

// The data of one position: what a sample file holds, overridden by the manifest's own.
template <typename ResolveFn>
Position LoadPositionWith(const Json& desc, bool identify, bool blocks, ResolveFn resolve) {
    Position d;
    d.desc = &desc;
    d.atapi = desc.value("atapi", false);
    if (desc.contains("sample")) {
        auto rec = ReadSample(resolve(desc["sample"].get<std::string>()));
        auto take = [&](const char* tag, Sector& s, bool& have) {
            auto it = rec.find(tag);
            if (it == rec.end()) return;
            s = Sector{};
            std::copy_n(it->second.begin(), std::min(it->second.size(), s.size()), s.begin());
            have = true;
        };
        take("IDFY", d.identify, d.haveIdentify);
        take("SMDT", d.attributes, d.haveAttributes);
        take("SMTH", d.thresholds, d.haveThresholds);
    }
    if (identify && desc.contains("identify")) {
        d.identify = IdentifyFrom(desc["identify"]);
        d.haveIdentify = true;
    }
    if (blocks && (desc.contains("attributes") || desc.contains("thresholds"))) {
        static const Json none;
        BlocksFrom(desc.contains("attributes") ? desc["attributes"] : none,
                   desc.contains("thresholds") ? &desc["thresholds"] : nullptr, d.attributes,
                   d.thresholds, d.haveAttributes, d.haveThresholds);
    }
    return d;
}

const Json* IdeOf(const Json& drive) { return drive.contains("ide") ? &drive["ide"] : nullptr; }

void WriteStatus(void* out, uint32_t outSize, uint32_t bufferSize, uint8_t driverError,
                 uint8_t ideError) {
    if (!out || outSize < sizeof(SENDCMDOUTPARAMS_HEAD)) return;
    SENDCMDOUTPARAMS_HEAD head{};
    head.cBufferSize = bufferSize;
    head.DriverStatus.bDriverError = driverError;
    head.DriverStatus.bIDEError = ideError;
    std::memcpy(out, &head, sizeof head);
}

using Command = SmartCommand;

}  // namespace

bool SimPlatform::SmartControl(SimOpenFile& f, uint32_t code, const void* in, uint32_t inSize,
                               void* out, uint32_t outSize, uint32_t* bytesReturned) {
    const Json& drive = *DriveOf(f).desc;

    if (code == IOCTL_SCSI_PASS_THROUGH) {
        if (!in || !out || inSize < sizeof(SCSI_PASS_THROUGH) || outSize < sizeof(SCSI_PASS_THROUGH)) {
            lastError_ = EINVAL;
            return false;
        }
        SCSI_PASS_THROUGH spt;
        std::memcpy(&spt, in, sizeof spt);
        if (spt.Cdb[0] != 0x12 || spt.Cdb[1] != 0x01 || spt.Cdb[2] != 0x80 || spt.DataIn != 1 ||
            spt.DataBufferOffset < sizeof spt || spt.DataBufferOffset > outSize ||
            spt.DataTransferLength > outSize - spt.DataBufferOffset) {
            lastError_ = EINVAL;
            return false;
        }
        if (!drive.contains("scsi")) {
            lastError_ = ENOTTY;
            return false;
        }
        const Json& s = drive["scsi"];
        if (s.contains("fail")) {
            lastError_ = s["fail"].value("error", static_cast<uint32_t>(EIO));
            return false;
        }
        std::vector<uint8_t> page;
        if (s.contains("hex")) {
            page = FromHex(s["hex"].get<std::string>(), 255 + 4);
        } else {
            std::string text = cp1252::FromUtf8(s.value("text", ""));
            page.assign(4, 0);
            page[1] = static_cast<uint8_t>(s.value("page", 0x80u));
            page[3] = static_cast<uint8_t>(s.value("length", static_cast<uint32_t>(text.size())));
            page.insert(page.end(), text.begin(), text.end());
        }
        auto* o = static_cast<uint8_t*>(out);
        if (o != in) std::memmove(o, in, sizeof spt);
        uint32_t n = std::min<uint32_t>(spt.DataTransferLength, static_cast<uint32_t>(page.size()));
        std::memset(o + spt.DataBufferOffset, 0, spt.DataTransferLength);
        std::memcpy(o + spt.DataBufferOffset, page.data(), n);
        spt.DataTransferLength = n;
        spt.ScsiStatus = 0;
        std::memcpy(o, &spt, sizeof spt);
        if (bytesReturned) *bytesReturned = spt.DataBufferOffset + n;
        return true;
    }

    const Json* ide = IdeOf(drive);
    if (!ide) {
        // No SMART pass-through behind this drive, as for a controller without it.
        lastError_ = ENOTTY;
        return false;
    }

    // The positions the manifest lists; their data is only read when a command asks.
    std::array<const Json*, 4> specs{};
    uint8_t map = 0;
    if (ide->contains("positions")) {
        for (const auto& [key, desc] : (*ide)["positions"].items()) {
            int p = key.size() == 1 && key[0] >= '0' && key[0] <= '3' ? key[0] - '0' : -1;
            if (p < 0) Bad("IDE positions are \"0\" to \"3\"");
            specs[static_cast<size_t>(p)] = &desc;
            const bool atapi = desc.value("atapi", false);
            map = static_cast<uint8_t>(map | (1u << p) | (atapi ? 0x10u << p : 0u));
        }
    }
    if (ide->contains("deviceMap")) map = static_cast<uint8_t>((*ide)["deviceMap"].get<uint32_t>());

    if (code == SMART_GET_VERSION) {
        Injected fail = InjectedFor(ide, "getVersion");
        if (fail.fails) {
            lastError_ = fail.error;
            return false;
        }
        if (!out || outSize < sizeof(GETVERSIONOUTPARAMS)) {
            lastError_ = EINVAL;
            return false;
        }
        GETVERSIONOUTPARAMS v{};
        v.bVersion = 1;
        v.bRevision = 1;
        v.bIDEDeviceMap = map;
        v.fCapabilities = 0x7;  // ATA, ATAPI and SMART commands
        std::memcpy(out, &v, sizeof v);
        if (bytesReturned) *bytesReturned = sizeof v;
        return true;
    }

    if (!in || inSize < 32 || !out || outSize < 528) {
        WriteStatus(out, outSize, 0, 4, 0);
        lastError_ = EINVAL;
        return false;
    }
    SENDCMDINPARAMS cmd{};
    std::memcpy(&cmd, in, 32);
    const Command c = ClassifySmartCommand(code, cmd);
    if (c == Command::None) {
        WriteStatus(out, outSize, 0, 3, 0);
        lastError_ = EINVAL;
        return false;
    }
    if (!(map & (1u << cmd.bDriveNumber)) || !specs[cmd.bDriveNumber]) {
        WriteStatus(out, outSize, 0, 10, 0);
        lastError_ = ENODEV;
        return false;
    }
    const Position d = LoadPositionWith(*specs[cmd.bDriveNumber], c == Command::Identify || c == Command::IdentifyPacket,
                                    c == Command::ReadData || c == Command::ReadThresholds,
                                        [this](const std::string& path) { return Resolve(path); });
    static const char* const names[] = {"", "enable", "identify", "identify", "readData",
                                        "readThresholds"};
    Injected fail = InjectedFor(d.desc, names[static_cast<int>(c)]);
    // A command the device does not implement is aborted (ABRT in the error register).
    const bool aborted = (c == Command::Identify && d.atapi) ||
                         (c == Command::IdentifyPacket && !d.atapi) ||
                         (c == Command::Identify && !d.haveIdentify) ||
                         (c == Command::IdentifyPacket && !d.haveIdentify) ||
                         (c == Command::ReadData && !d.haveAttributes) ||
                         (c == Command::ReadThresholds && !d.haveThresholds);
    if (!fail.fails && aborted) fail = {true, EIO, 1, 0x04};
    if (fail.fails) {
        WriteStatus(out, outSize, 0, fail.driverError, fail.ideError);
        lastError_ = fail.error;
        return false;
    }
    if (c == Command::Enable) {
        WriteStatus(out, outSize, 0, 0, 0);
        if (bytesReturned) *bytesReturned = sizeof(SENDCMDOUTPARAMS_HEAD);
        return true;
    }
    const Sector& data = c == Command::ReadData         ? d.attributes
                         : c == Command::ReadThresholds ? d.thresholds
                                                        : d.identify;
    WriteStatus(out, outSize, 512, 0, 0);
    std::memcpy(static_cast<uint8_t*>(out) + sizeof(SENDCMDOUTPARAMS_HEAD), data.data(), data.size());
    if (bytesReturned) *bytesReturned = sizeof(SENDCMDOUTPARAMS_HEAD) + 512;
    return true;
}

}  // namespace platform::sim
