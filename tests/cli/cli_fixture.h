// A simulated machine per test, written into a temporary folder, and the CLI's JSON.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/cli_process.h"
#include "linux/devices.h"

namespace clitest {

using nlohmann::json;

// A physical drive with a model and an interface type.
inline json Disk(int n, int64_t size, const std::string& interfaceType = "IDE") {
    return {{"path", "\\\\.\\PhysicalDrive" + std::to_string(n)},
            {"size", size},
            {"wmi", {{"Model", "SimDisk " + std::to_string(n)}, {"InterfaceType", interfaceType}}}};
}

class CliTest : public ::testing::Test {
protected:
    // A machine with the drives given, plus the facts the report prints.
    std::string Machine(const json& drives, const json& extra = json::object()) {
        json m = {{"computerName", "BOX"},
                  {"userName", "ann"},
                  {"hostAddresses", {"10.0.0.5"}},
                  {"clock", {{"start", 1000}, {"msPerRead", 1}}},
                  {"drives", drives}};
        m.update(extra);
        const std::string path = dir_ / ("machine" + std::to_string(++count_) + ".json");
        std::ofstream(path) << m.dump(2);
        return path;
    }
    static json Parse(const CliResult& r) {
        json j = json::parse(r.out, nullptr, false);
        EXPECT_FALSE(j.is_discarded()) << r.out;
        return j;
    }

    devtest::TempDir dir_;
    int count_ = 0;
};

}  // namespace clitest
