// scandor-cli metrics and check, and what the schedules run: on simulated machines,
// read back through Debian's prometheus-node-exporter and checked by promtool.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "cli/cli_fixture.h"

using clitest::CliResult;
using clitest::Disk;
using clitest::RunCli;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

constexpr int64_t Mib = 1048576;

struct Shell {
    int code = -1;
    std::string out;  // stdout and stderr together
};

// A command of the test's own making (paths of its temporary folders only).
Shell RunShell(const std::string& command) {
    Shell r;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int status = ::pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

bool Have(const std::string& program) { return RunShell("command -v " + program + " >/dev/null").code == 0; }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// One sample of the text format: name, labels (unescaped), value.
struct Series {
    std::string name;
    std::map<std::string, std::string> labels;
    double value = 0;
};

std::vector<Series> ParseExposition(const std::string& text) {
    std::vector<Series> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        Series s;
        size_t i = 0;
        while (i < line.size() && line[i] != '{' && line[i] != ' ') s.name += line[i++];
        if (i < line.size() && line[i] == '{') {
            ++i;
            while (i < line.size() && line[i] != '}') {
                std::string key, value;
                while (line[i] != '=') key += line[i++];
                i += 2;  // ="
                while (line[i] != '"') {
                    if (line[i] == '\\') {
                        ++i;
                        value += line[i] == 'n' ? '\n' : line[i];
                    } else {
                        value += line[i];
                    }
                    ++i;
                }
                ++i;
                if (line[i] == ',') ++i;
                s.labels[key] = value;
            }
            ++i;
        }
        s.value = std::stod(line.substr(i + 1));
        all.push_back(std::move(s));
    }
    return all;
}

// The samples of a name whose labels include the ones given.
std::vector<Series> Find(const std::vector<Series>& all, const std::string& name,
                         const std::map<std::string, std::string>& labels = {}) {
    std::vector<Series> v;
    for (const Series& s : all) {
        if (s.name != name) continue;
        bool match = true;
        for (const auto& [k, val] : labels) {
            auto it = s.labels.find(k);
            match = match && it != s.labels.end() && it->second == val;
        }
        if (match) v.push_back(s);
    }
    return v;
}

// The single value of a series; NaN (failing the caller's comparison) when it is
// missing or given twice.
double Value(const std::vector<Series>& all, const std::string& name, const std::map<std::string, std::string>& labels) {
    const auto v = Find(all, name, labels);
    EXPECT_EQ(v.size(), 1u) << name;
    return v.size() == 1 ? v[0].value : std::nan("");
}

json Attribute(int id, int flags, int current, int worst, int threshold, int64_t raw) {
    return {{"id", id}, {"flags", flags}, {"current", current}, {"worst", worst}, {"threshold", threshold}, {"raw", raw}};
}

json AtaDisk(int n, const json& attributes, const json& wmi) {
    json d = Disk(n, 64 * Mib);
    d["wmi"].update(wmi);
    d["ide"] = {{"positions",
                 {{"0",
                   {{"identify", {{"model", "SIM ATA " + std::to_string(n)}, {"serial", "ATA" + std::to_string(n)},
                                  {"firmware", "FW" + std::to_string(n)}, {"sectors", 131072}, {"word47", 32784}}},
                    {"attributes", attributes}}}}}};
    return d;
}

// Five drives: healthy ATA with one unreadable and one slow block (0), failing ATA
// whose identity needs escaping (1), NVMe (2), one that cannot be opened (3), one
// without S.M.A.R.T. answers (4).
json FleetDrives() {
    json healthy = AtaDisk(0,
                           json::array({Attribute(5, 51, 100, 100, 36, 0), Attribute(9, 50, 90, 90, 0, 12000),
                                        Attribute(194, 34, 35, 50, 0, 35)}),
                           {{"SerialNumber", "ATA0"}, {"WWN", "0x5000c500deadbeef"},
                            {"ByIdNames", {"ata-SIM_ATA_0_ATA0", "wwn-0x5000c500deadbeef"}}});
    healthy["unreadable"] = {{{"offset", 2 * Mib}, {"length", 1}}};
    healthy["slow"] = {{{"offset", 3 * Mib}, {"length", 1}, {"ms", 700}}};
    json failing = AtaDisk(1, json::array({Attribute(5, 51, 20, 20, 140, 1734), Attribute(194, 34, 40, 50, 0, 41)}),
                           {{"Model", "Sim \"quoted\" \\ disk"}, {"SerialNumber", "S\n1"}});
    json nvme = Disk(2, 64 * Mib, "SCSI");
    nvme["wmi"]["SerialNumber"] = "NV2";
    nvme["nvme"] = {{"model", "SIM NVME"}, {"serial", "NV2"}, {"firmware", "N1"}, {"wctemp", 358}, {"cctemp", 363},
                    {"nsze", 131072}, {"lbaSize", 512},
                    {"health", {{"compositeTemperature", 313}, {"availableSpare", 90}, {"availableSpareThreshold", 10},
                                {"percentageUsed", 7}, {"dataUnitsRead", 1000}, {"dataUnitsWritten", 2000},
                                {"powerOnHours", 100}, {"mediaErrors", 3}, {"controllerBusyTime", 5},
                                {"warningTemperatureTime", 2}, {"temperatureSensors", {310, 0, 320}}}}};
    json unopenable = Disk(3, 64 * Mib);
    unopenable["wmi"]["SerialNumber"] = "GONE3";
    unopenable["failOpen"] = 5;
    json silent = Disk(4, 64 * Mib, "SCSI");
    return json::array({healthy, failing, nvme, unopenable, silent});
}

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return -1;
    }
    ::close(fd);
    return ntohs(a.sin_port);
}

// Debian's node_exporter with the textfile collector alone, on a loopback port;
// stopped by its PID.
class NodeExporter {
public:
    explicit NodeExporter(const std::string& textfileDir) {
        for (int attempt = 0; attempt < 5 && !ready_; ++attempt) {
            port_ = FreePort();
            if (port_ <= 0) continue;
            pid_ = ::fork();
            if (pid_ == 0) {
                const int null = ::open("/dev/null", O_WRONLY);
                ::dup2(null, 1);
                ::dup2(null, 2);
                const std::string listen = "--web.listen-address=127.0.0.1:" + std::to_string(port_);
                const std::string dir = "--collector.textfile.directory=" + textfileDir;
                ::execlp("prometheus-node-exporter", "prometheus-node-exporter", listen.c_str(),
                         "--collector.disable-defaults", "--collector.textfile", dir.c_str(),
                         static_cast<char*>(nullptr));
                ::_exit(127);
            }
            for (int i = 0; i < 100 && !ready_; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                    pid_ = -1;
                    break;
                }
                ready_ = RunShell("curl -sf -o /dev/null " + Url()).code == 0;
            }
            if (!ready_) Stop();
        }
    }
    ~NodeExporter() { Stop(); }
    bool ready() const { return ready_; }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/metrics"; }
    std::vector<Series> Scrape() const {
        const Shell r = RunShell("curl -sf " + Url());
        EXPECT_EQ(r.code, 0) << r.out;
        return ParseExposition(r.out);
    }

private:
    void Stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }
    pid_t pid_ = -1;
    int port_ = 0;
    bool ready_ = false;
};

class MetricsCli : public clitest::CliTest {
protected:
    void SetUp() override {
        for (const char* p : {"prometheus-node-exporter", "promtool", "curl"})
            if (!Have(p)) GTEST_SKIP() << p << " is not installed (setup.sh installs it)";
    }
    std::string Fleet() { return Machine(FleetDrives(), {{"stateFolder", "state"}}); }
};

}  // namespace

TEST_F(MetricsCli, NodeExporterServesEveryDriveHealthErrorAndLastScan) {
    const std::string m = Fleet();
    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    // A scan of drive 0 first, so its record is there to report.
    CliResult r = RunCli({"surface", "0"}, m);
    ASSERT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(r.err.find("record was not kept"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(dir_ / "state/0x5000c500deadbeef.json"));

    const std::string text = dir_ / "textfile";
    fs::create_directory(text);
    r = RunCli({"metrics", "--textfile", text}, m);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("drive 3: cannot open"), std::string::npos) << r.err;
    // Readable by node_exporter, which does not run as root on Debian.
    EXPECT_EQ(fs::status(text + "/scandor.prom").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(text), {}), std::vector<fs::path>{text + "/scandor.prom"});

    NodeExporter exporter(text);
    ASSERT_TRUE(exporter.ready()) << "prometheus-node-exporter did not answer";
    const std::vector<Series> s = exporter.Scrape();
    EXPECT_EQ(Value(s, "node_textfile_scrape_error", {}), 0);
    EXPECT_EQ(Value(s, "scandor_metrics_success", {}), 1);
    EXPECT_GE(Value(s, "scandor_metrics_duration_seconds", {}), 0);

    // Identities: the WWN, else model and serial exactly as the drive gives them.
    const std::string oddId = "Sim \"quoted\" \\ disk_S\n1";
    EXPECT_EQ(Value(s, "scandor_drive_info",
                    {{"drive", "0"}, {"id", "0x5000c500deadbeef"}, {"model", "SIM ATA 0"}, {"serial", "ATA0"},
                     {"firmware", "FW0"}, {"interface", "IDE"}, {"device", "\\\\.\\PhysicalDrive0"}}),
              1);
    EXPECT_EQ(Value(s, "scandor_drive_info", {{"drive", "1"}, {"id", oddId}}), 1);
    EXPECT_EQ(Value(s, "scandor_drive_info", {{"drive", "2"}, {"id", "SimDisk 2_NV2"}, {"interface", "NVMe"}}), 1);

    // Health, ATA.
    EXPECT_EQ(Value(s, "scandor_smart_healthy", {{"drive", "0"}, {"id", "0x5000c500deadbeef"}}), 1);
    EXPECT_EQ(Value(s, "scandor_smart_healthy", {{"drive", "1"}, {"id", oddId}}), 0);
    EXPECT_EQ(Value(s, "scandor_smart_failed_attributes", {{"drive", "1"}}), 1);
    EXPECT_EQ(Value(s, "scandor_smart_attribute_raw", {{"drive", "1"}, {"attribute", "5"}}), 1734);
    EXPECT_EQ(Value(s, "scandor_smart_attribute_value", {{"drive", "1"}, {"attribute", "5"}}), 20);
    EXPECT_EQ(Value(s, "scandor_smart_attribute_threshold", {{"drive", "1"}, {"attribute", "5"}}), 140);
    EXPECT_EQ(Value(s, "scandor_smart_attribute_worst", {{"drive", "0"}, {"attribute", "194"}}), 50);
    EXPECT_EQ(Value(s, "scandor_temperature_celsius", {{"drive", "0"}}), 35);
    EXPECT_EQ(Value(s, "scandor_power_on_seconds_total", {{"drive", "0"}}), 12000.0 * 3600);

    // Health, NVMe: base units.
    EXPECT_EQ(Value(s, "scandor_smart_healthy", {{"drive", "2"}}), 1);
    EXPECT_EQ(Value(s, "scandor_temperature_celsius", {{"drive", "2"}}), 40);
    EXPECT_EQ(Value(s, "scandor_nvme_available_spare", {{"drive", "2"}}), 90);
    EXPECT_EQ(Value(s, "scandor_nvme_percentage_used", {{"drive", "2"}}), 7);
    EXPECT_EQ(Value(s, "scandor_nvme_data_units_read_bytes_total", {{"drive", "2"}}), 1000.0 * 512000);
    EXPECT_EQ(Value(s, "scandor_nvme_data_units_written_bytes_total", {{"drive", "2"}}), 2000.0 * 512000);
    EXPECT_EQ(Value(s, "scandor_nvme_media_errors_total", {{"drive", "2"}}), 3);
    EXPECT_EQ(Value(s, "scandor_nvme_controller_busy_time_seconds_total", {{"drive", "2"}}), 300);
    EXPECT_EQ(Value(s, "scandor_nvme_warning_temperature_time_seconds_total", {{"drive", "2"}}), 120);
    EXPECT_EQ(Value(s, "scandor_power_on_seconds_total", {{"drive", "2"}}), 360000);
    EXPECT_EQ(Value(s, "scandor_nvme_temperature_sensor_celsius", {{"drive", "2"}, {"sensor", "1"}}), 37);
    EXPECT_EQ(Value(s, "scandor_nvme_temperature_sensor_celsius", {{"drive", "2"}, {"sensor", "3"}}), 47);
    EXPECT_TRUE(Find(s, "scandor_nvme_temperature_sensor_celsius", {{"drive", "2"}, {"sensor", "2"}}).empty());
    EXPECT_TRUE(Find(s, "scandor_smart_attribute_value", {{"drive", "2"}}).empty());

    // Drives without answers: an error, never a health value.
    EXPECT_EQ(Value(s, "scandor_drive_error", {{"drive", "3"}, {"reason", "cannot_open"}, {"id", "SimDisk 3_GONE3"}}), 1);
    EXPECT_EQ(Value(s, "scandor_drive_error", {{"drive", "4"}, {"reason", "no_smart_answer"}}), 1);
    EXPECT_EQ(Find(s, "scandor_drive_error").size(), 2u);
    for (const char* n : {"3", "4"}) {
        EXPECT_TRUE(Find(s, "scandor_smart_healthy", {{"drive", n}}).empty()) << n;
        EXPECT_TRUE(Find(s, "scandor_temperature_celsius", {{"drive", n}}).empty()) << n;
    }

    // The last scan, of drive 0 only.
    const std::map<std::string, std::string> d0 = {{"drive", "0"}, {"id", "0x5000c500deadbeef"}};
    EXPECT_EQ(Value(s, "scandor_surface_failed_blocks", d0), 1);
    EXPECT_EQ(Value(s, "scandor_surface_completed", d0), 1);
    const double started = Value(s, "scandor_surface_last_run_timestamp_seconds", d0);
    EXPECT_GE(started, before);
    EXPECT_LE(started, static_cast<double>(std::time(nullptr)));
    EXPECT_GT(Value(s, "scandor_surface_duration_seconds", d0), 0.7);
    EXPECT_EQ(Value(s, "scandor_surface_blocks", {{"drive", "0"}, {"class", "failed"}}), 1);
    EXPECT_EQ(Value(s, "scandor_surface_blocks", {{"drive", "0"}, {"class", "atLeast500ms"}}), 1);
    EXPECT_EQ(Value(s, "scandor_surface_blocks", {{"drive", "0"}, {"class", "under5ms"}}), 1024 - 2);
    EXPECT_EQ(Find(s, "scandor_surface_blocks", {{"drive", "0"}}).size(), 7u);
    EXPECT_EQ(Find(s, "scandor_surface_completed").size(), 1u);

    // promtool has nothing to say about the file.
    const Shell lint = RunShell("promtool check metrics < " + text + "/scandor.prom");
    EXPECT_EQ(lint.code, 0) << lint.out;
    EXPECT_EQ(lint.out, "");
}

TEST_F(MetricsCli, AnAttributeListedTwiceGivesOneSeries) {
    json twice = AtaDisk(0, json::array({Attribute(5, 51, 100, 100, 36, 4), Attribute(5, 51, 90, 90, 36, 9),
                                         Attribute(194, 34, 35, 50, 0, 35)}),
                         {{"SerialNumber", "TWICE"}});
    const CliResult r = RunCli({"metrics"}, Machine(json::array({twice})));
    ASSERT_EQ(r.code, 0) << r.err;
    const auto s = ParseExposition(r.out);
    for (const char* name : {"scandor_smart_attribute_value", "scandor_smart_attribute_worst",
                             "scandor_smart_attribute_threshold", "scandor_smart_attribute_raw"})
        EXPECT_EQ(Find(s, name, {{"attribute", "5"}}).size(), 1u) << name;
    EXPECT_EQ(Value(s, "scandor_smart_attribute_raw", {{"attribute", "5"}}), 4);
}

TEST_F(MetricsCli, AMachineWithoutDrivesSaysItFoundNothing) {
    const CliResult empty = RunCli({"metrics"}, Machine(json::array()));
    EXPECT_EQ(empty.code, 3);
    const auto e = ParseExposition(empty.out);
    EXPECT_EQ(Value(e, "scandor_metrics_success", {}), 0);
    EXPECT_EQ(e.size(), 2u);  // success and duration
    std::ofstream(dir_ / "empty.prom") << empty.out;
    const Shell lint = RunShell("promtool check metrics < " + (dir_ / "empty.prom"));
    EXPECT_EQ(lint.code, 0) << lint.out;
    EXPECT_EQ(lint.out, "");
}

TEST_F(MetricsCli, ARunKilledBeforeItsRenameLeavesTheOldFileWhole) {
    if (!Have("strace")) GTEST_SKIP() << "strace is not installed (setup.sh installs it)";
    const std::string text = dir_ / "textfile";
    fs::create_directory(text);
    const std::string first = Machine(FleetDrives());
    ASSERT_EQ(RunCli({"metrics", "--textfile", text}, first).code, 0);
    const std::string old = ReadFile(text + "/scandor.prom");
    ASSERT_NE(old.find("scandor_drive_info{drive=\"4\""), std::string::npos);

    // Another machine, so the new file would differ; SIGKILL arrives as it renames.
    json one = FleetDrives();
    const std::string second = Machine(json::array({one[0]}));
    const Shell killed = RunShell("SCANDOR_MACHINE=" + second +
                                  " strace -f -qq -o /dev/null -e trace=rename,renameat,renameat2"
                                  " -e inject=rename,renameat,renameat2:signal=SIGKILL " SCANDOR_CLI
                                  " metrics --textfile " + text);
    EXPECT_EQ(killed.code, 128 + SIGKILL) << killed.out;
    EXPECT_EQ(ReadFile(text + "/scandor.prom"), old);
    // The new text was whole in its temporary, which node_exporter never reads.
    std::vector<std::string> temps;
    for (const auto& e : fs::directory_iterator(text))
        if (e.path().filename() != "scandor.prom") temps.push_back(e.path().filename());
    ASSERT_EQ(temps.size(), 1u);
    EXPECT_EQ(temps[0].rfind(".scandor.prom.", 0), 0u) << temps[0];
    EXPECT_NE(temps[0].substr(temps[0].size() - 5), ".prom");
    EXPECT_EQ(ReadFile(text + "/" + temps[0]).find("scandor_drive_info{drive=\"4\""), std::string::npos);
    EXPECT_NE(ReadFile(text + "/" + temps[0]).find("scandor_metrics_success 1"), std::string::npos);

    NodeExporter exporter(text);
    ASSERT_TRUE(exporter.ready());
    const auto s = exporter.Scrape();
    EXPECT_EQ(Value(s, "node_textfile_scrape_error", {}), 0);
    EXPECT_EQ(Find(s, "scandor_drive_info").size(), 5u);

    // The next run replaces it.
    ASSERT_EQ(RunCli({"metrics", "--textfile", text}, second).code, 0);
    const std::string now = ReadFile(text + "/scandor.prom");
    EXPECT_EQ(now.find("scandor_drive_info{drive=\"4\""), std::string::npos);
    EXPECT_NE(now.find("scandor_drive_info{drive=\"0\""), std::string::npos);
}

TEST_F(MetricsCli, TheTextfileFolderMustBeThereAndNoLinkInItRedirectsTheWrite) {
    const std::string m = Machine(json::array({FleetDrives()[0]}));
    CliResult r = RunCli({"metrics", "--textfile", dir_ / "missing"}, m);
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("scandor.prom cannot be written"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "missing"));

    const std::string text = dir_ / "textfile";
    fs::create_directory(text);
    std::ofstream(dir_ / "victim") << "precious";
    fs::create_symlink(dir_ / "victim", text + "/scandor.prom");
    r = RunCli({"metrics", "--textfile", text}, m);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadFile(dir_ / "victim"), "precious");
    EXPECT_FALSE(fs::is_symlink(text + "/scandor.prom"));

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"metrics", "--textfile"}, {"metrics", "0"}, {"metrics", "--json"},
          {"list", "--textfile", "x"}, {"check", "1"}, {"smart", "0", "--email-on-problem"},
          {"surface", "0", "--email", "--email-on-problem"}}) {
        EXPECT_EQ(RunCli(bad, m).code, 2) << bad[0] << " " << bad[1];
    }
}

TEST_F(MetricsCli, CheckRatesEveryDriveAndMailsTheFailingReportsOnly) {
    const std::string hive = dir_ / "HKLM.reg";
    std::ofstream(hive) << "Windows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KAVENO_Scandor]\r\n"
                           "\"Scandor-email\"=\"ops@example.org\"\r\n"
                           "\"Scandor-smtphost\"=\"127.0.0.1\"\r\n";
    const std::string m = Machine(FleetDrives(), {{"registry", hive}});
    CliResult r = RunCli({"check"}, m);
    EXPECT_EQ(r.code, 1) << r.err;
    const auto lines = r.Lines();
    ASSERT_GE(lines.size(), 6u) << r.out;
    EXPECT_EQ(lines[0], "0\tPASSED\t0x5000c500deadbeef\tSIM ATA 0");
    // The line feed in the serial number cannot forge a line.
    EXPECT_EQ(lines[1], "1\tFAILED\tSim \"quoted\" \\ disk_S\\n1\tSIM ATA 1");
    EXPECT_EQ(lines[2], "2\tPASSED\tSimDisk 2_NV2\tSIM NVME");
    EXPECT_EQ(lines[3], "3\tERROR\tSimDisk 3_GONE3\tSimDisk 3");
    EXPECT_EQ(lines[4], "4\tERROR\t-\tSimDisk 4");
    EXPECT_EQ(lines[5], "");
    EXPECT_EQ(lines[6], "Drive Test Report");
    EXPECT_NE(r.out.find("IDE Model: SIM ATA 1"), std::string::npos);
    EXPECT_EQ(r.out.find("IDE Model: SIM ATA 0"), std::string::npos);
    EXPECT_EQ(r.out.find("Sending email"), std::string::npos);

    r = RunCli({"check", "--email"}, m);
    EXPECT_EQ(r.code, 1);
    size_t sends = 0;
    for (const std::string& l : r.Lines()) sends += l == "Sending email";
    EXPECT_EQ(sends, 1u) << r.out;

    // Only healthy drives: 0; one that cannot be asked: 3.
    json d = FleetDrives();
    EXPECT_EQ(RunCli({"check"}, Machine(json::array({d[0], d[2]}))).code, 0);
    EXPECT_EQ(RunCli({"check"}, Machine(json::array({d[0], d[1], d[2], d[3]}))).code, 1);
    d[1] = d[4];
    d[1]["path"] = "\\\\.\\PhysicalDrive1";
    EXPECT_EQ(RunCli({"check"}, Machine(json::array({d[0], d[1]}))).code, 3);
    EXPECT_EQ(RunCli({"check"}, Machine(json::array())).code, 3);
}

TEST_F(MetricsCli, AScheduledScanFindsItsDriveByIdNameAndMailsOnlyWhenSomethingIsWrong) {
    const std::string hive = dir_ / "HKLM.reg";
    std::ofstream(hive) << "Windows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KAVENO_Scandor]\r\n"
                           "\"Scandor-email\"=\"ops@example.org\"\r\n"
                           "\"Scandor-smtphost\"=\"127.0.0.1\"\r\n";
    json d = FleetDrives();
    json clean = Disk(0, 4 * Mib);
    clean["wmi"]["ByIdNames"] = {"nvme-CLEAN_1"};
    clean["wmi"]["SerialNumber"] = "C1";
    json slow = Disk(1, 4 * Mib);
    slow["wmi"]["ByIdNames"] = {"ata-SLOW_2"};
    slow["wmi"]["SerialNumber"] = "S2";
    slow["slow"] = {{{"offset", Mib}, {"length", 1}, {"ms", 500}}};
    json broken = d[0];
    broken["path"] = "\\\\.\\PhysicalDrive2";
    const std::string m = Machine(json::array({clean, slow, broken}), {{"registry", hive}, {"stateFolder", "state"}});

    CliResult r = RunCli({"--json", "surface", "/dev/disk/by-id/ata-SLOW_2", "--email-on-problem"}, m);
    EXPECT_EQ(r.code, 0) << r.err;
    json j = Parse(r);
    EXPECT_EQ(j["device"]["number"], 1);
    EXPECT_EQ(j["device"]["path"], "\\\\.\\PhysicalDrive1");
    EXPECT_EQ(j["readTimes"]["atLeast500ms"], 1);
    ASSERT_TRUE(j.contains("email")) << r.out;  // one block took 500 ms: mailed
    EXPECT_EQ(j["email"]["log"][0], "Sending email");
    EXPECT_TRUE(fs::exists(dir_ / "state/SimDisk_1_S2.json"));

    r = RunCli({"surface", "/dev/disk/by-id/nvme-CLEAN_1", "--email-on-problem"}, m);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.find("Sending email"), std::string::npos) << r.out;
    EXPECT_TRUE(fs::exists(dir_ / "state/SimDisk_0_C1.json"));

    r = RunCli({"surface", "/dev/disk/by-id/wwn-0x5000c500deadbeef", "--email-on-problem"}, m);
    EXPECT_EQ(r.code, 1) << r.err;  // a failed block: mailed
    EXPECT_NE(r.out.find("Sending email"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("Device node: /dev/simdisk3"), std::string::npos) << r.err;

    // A name no drive carries reads nothing.
    r = RunCli({"surface", "/dev/disk/by-id/ata-NOBODY"}, m);
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("cannot open /dev/disk/by-id/ata-NOBODY"), std::string::npos) << r.err;
}

TEST(MetricsSchedules, SystemdVerifiesTheUnitsWithoutAWord) {
    if (::system("command -v systemd-analyze >/dev/null 2>&1") != 0) GTEST_SKIP() << "no systemd-analyze";
    const std::string units = SCANDOR_BINARY_DIR "/systemd";
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(units)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names, (std::vector<std::string>{"scandor-check.service", "scandor-check.timer",
                                               "scandor-metrics.service", "scandor-metrics.timer",
                                               "scandor-scan@.service", "scandor-scan@.timer"}));
    // The manual page is only there once installed; everything else is checked,
    // and a value systemd would ignore is a complaint, though the exit code stays 0.
    std::string cmd = "systemd-analyze verify --man=no";
    for (const std::string& n : names) cmd += " " + units + "/" + n;
    const Shell r = RunShell(cmd);
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out, "");
    for (const std::string& n : names) {
        const std::string unit = ReadFile(units + "/" + n);
        // Installed disabled: nothing but the timers name an install target.
        EXPECT_EQ(unit.find("[Install]") != std::string::npos, n.ends_with(".timer")) << n;
        if (!n.ends_with(".service")) continue;
        EXPECT_NE(unit.find("ExecStart=" SCANDOR_CLI " "), std::string::npos) << n;
        for (const char* hardening : {"ProtectSystem=strict", "ProtectHome=yes", "NoNewPrivileges=yes", "PrivateTmp=yes"})
            EXPECT_NE(unit.find(hardening), std::string::npos) << n << ": " << hardening;
    }
}

TEST(MetricsDashboard, TheGrafanaExampleParsesAndQueriesOnlyMetricsTheProgramWrites) {
    const json dash = json::parse(ReadFile(SCANDOR_SOURCE_DIR "/resources/grafana/scandor-dashboard.json"), nullptr, false);
    ASSERT_TRUE(dash.is_object());
    // Every name the program can write: a machine with each kind of drive and a scan.
    devtest::TempDir dir;
    json m = {{"stateFolder", "state"}, {"drives", FleetDrives()}};
    std::ofstream(dir / "m.json") << m.dump();
    ASSERT_EQ(RunCli({"surface", "0"}, dir / "m.json").code, 1);
    const CliResult r = RunCli({"metrics"}, dir / "m.json");
    std::set<std::string> written;
    for (const Series& s : ParseExposition(r.out)) written.insert(s.name);

    std::set<std::string> queried;
    std::vector<const json*> pending{&dash};
    const std::regex name("scandor_[a-z0-9_]+");
    while (!pending.empty()) {
        const json* j = pending.back();
        pending.pop_back();
        if (j->is_object() || j->is_array()) {
            for (const auto& e : *j) pending.push_back(&e);
        } else if (j->is_string()) {
            const std::string t = j->get<std::string>();
            for (auto it = std::sregex_iterator(t.begin(), t.end(), name); it != std::sregex_iterator(); ++it)
                queried.insert(it->str());
        }
    }
    for (const char* needed : {"scandor_smart_healthy", "scandor_temperature_celsius",
                               "scandor_nvme_media_errors_total", "scandor_smart_attribute_raw",
                               "scandor_surface_last_run_timestamp_seconds"})
        EXPECT_TRUE(queried.count(needed)) << needed << " is not on the dashboard";
    for (const std::string& q : queried) EXPECT_TRUE(written.count(q)) << q << " is never written";
}
