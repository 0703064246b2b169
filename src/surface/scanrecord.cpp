#include "surface/scanrecord.h"

#include <nlohmann/json.hpp>

std::string ScanRecordJson(const ScanRecord& r) {
    nlohmann::ordered_json times = nlohmann::ordered_json::object();
    for (int c = 0; c < ReadClassCount; ++c) times[ReadClassKey(static_cast<ReadClass>(c))] = r.readTimes[static_cast<size_t>(c)];
    const nlohmann::ordered_json doc = {
        {"version", 1},
        {"id", r.id},
        {"drive", r.driveNumber},
        {"device", r.device},
        {"node", r.node},
        {"startSector", r.startSector},
        {"endSector", r.endSector},
        {"stopSector", r.stopSector},
        {"blocksRead", r.blocksRead},
        {"failedBlocks", r.failedBlocks},
        {"readTimes", times},
        {"start", r.startUnix},
        {"durationSeconds", r.durationSeconds},
        {"completed", r.completed},
        {"aborted", r.aborted},
        {"vanished", r.vanished},
    };
    return doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::optional<ScanRecord> ParseScanRecord(const std::string& text) {
    const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (!j.is_object() || !j.contains("version") || j["version"] != 1) return std::nullopt;
    try {
        ScanRecord r;
        r.id = j.at("id").get<std::string>();
        r.driveNumber = j.at("drive").get<int>();
        r.device = j.at("device").get<std::string>();
        r.node = j.at("node").get<std::string>();
        r.startSector = j.at("startSector").get<int64_t>();
        r.endSector = j.at("endSector").get<int64_t>();
        r.stopSector = j.at("stopSector").get<int64_t>();
        r.blocksRead = j.at("blocksRead").get<int64_t>();
        r.failedBlocks = j.at("failedBlocks").get<int64_t>();
        const nlohmann::json& times = j.at("readTimes");
        for (int c = 0; c < ReadClassCount; ++c)
            r.readTimes[static_cast<size_t>(c)] = times.at(ReadClassKey(static_cast<ReadClass>(c))).get<int64_t>();
        r.startUnix = j.at("start").get<int64_t>();
        r.durationSeconds = j.at("durationSeconds").get<double>();
        r.completed = j.at("completed").get<bool>();
        r.aborted = j.at("aborted").get<bool>();
        r.vanished = j.at("vanished").get<bool>();
        if (r.id.empty() || r.blocksRead < 0 || r.failedBlocks < 0 || r.startUnix < 0 || r.durationSeconds < 0 ||
            !(r.durationSeconds < 1e12))
            return std::nullopt;
        for (int64_t n : r.readTimes)
            if (n < 0) return std::nullopt;
        return r;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}
