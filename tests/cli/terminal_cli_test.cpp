// What scandor-cli's text mode writes to a terminal: names from outside escaped, sizes
// in the user's decimal separator, and what a signal does outside the scan.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "cli/cli_fixture.h"

using clitest::CliProcess;
using clitest::CliResult;
using clitest::Disk;
using clitest::RunCli;
using nlohmann::json;

namespace {

constexpr int64_t Mib = 1048576;

using TerminalCli = clitest::CliTest;

bool HasControlByte(const std::string& text, bool allowLineEnds) {
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (allowLineEnds && b == '\n') continue;
        if (b < 0x20 || b == 0x7F) return true;
    }
    return false;
}

// A drive model with a TAB, a line end, a title-setting ESC sequence and a C1 CSI: a
// name an unprivileged user can give a loop device's backing file.
const std::string EvilModel = "Evil\tDisk\n1\t\\\\.\\PhysicalDrive9\tForged \x1b]0;owned\x07\xc2\x9b" "2J";
const std::string EvilShown = "Evil\\tDisk\\n1\\t\\\\.\\PhysicalDrive9\\tForged \\x1b]0;owned\\x07\\u009b2J";

TEST_F(TerminalCli, NamesFromOutsideAreEscapedInEveryTextLine) {
    json disk = Disk(0, 4 * Mib);
    disk["wmi"]["Model"] = EvilModel;
    const std::string m = Machine(json::array({disk}));

    CliResult list = RunCli({"list"}, m);
    EXPECT_EQ(list.code, 0) << list.err;
    ASSERT_EQ(list.Lines().size(), 1u) << list.out;
    EXPECT_EQ(list.Lines()[0], "0\t\\\\.\\PhysicalDrive0\t" + EvilShown + " 4.00 MBytes \tIDE");
    EXPECT_EQ(list.out.find('\x1b'), std::string::npos);

    // The reports keep TAB (their tables use it as a column break); it forges no line.
    CliResult surface = RunCli({"surface", "0"}, m);
    EXPECT_EQ(surface.code, 0) << surface.err;
    const auto lines = surface.Lines();
    ASSERT_EQ(lines.size(), 19u + 8u) << surface.out;
    std::string shownInReport = EvilShown;
    for (size_t at; (at = shownInReport.find("\\t")) != std::string::npos;) shownInReport.replace(at, 2, "\t");
    EXPECT_NE(surface.out.find(shownInReport), std::string::npos) << surface.out;
    std::string withoutTabs = surface.out;
    std::erase(withoutTabs, '\t');
    EXPECT_FALSE(HasControlByte(withoutTabs, true)) << surface.out;

    // JSON escapes by itself and keeps the name as it is.
    CliResult j = RunCli({"--json", "list"}, m);
    EXPECT_EQ(Parse(j)["drives"][0]["caption"].get<std::string>().substr(0, 12), "Evil\tDisk\n1\t");
}

TEST_F(TerminalCli, ErrorLinesEscapeTypedPathsAndArguments) {
    const std::string m = Machine(json::array({Disk(0, 4 * Mib)}));
    // ... and a byte that is no UTF-8, which a terminal may take for a C1 control.
    CliResult missing = RunCli({"surface", "/nonexistent/\x1b[31mred\nline\x9b"}, m);
    EXPECT_EQ(missing.code, 3);
    EXPECT_FALSE(HasControlByte(missing.err, true)) << missing.err;
    EXPECT_NE(missing.err.find("/nonexistent/\\x1b[31mred\\nline\\x9b"), std::string::npos) << missing.err;

    CliResult usage = RunCli({"--\x1b[2J"}, m);
    EXPECT_EQ(usage.code, 2);
    EXPECT_FALSE(HasControlByte(usage.err, true)) << usage.err;
    EXPECT_NE(usage.err.find("unknown option '--\\x1b[2J'"), std::string::npos) << usage.err;
}

// A German locale for the child, compiled into a folder of its own (LOCPATH) when the
// system has none installed.
class GermanLocale {
public:
    GermanLocale() {
        char tmpl[] = "/tmp/scandor-cli-locale-XXXXXX";
        if (!::mkdtemp(tmpl)) return;
        dir_ = tmpl;
        const std::string cmd = "localedef -i de_DE -f UTF-8 " + dir_ + "/de_DE.UTF-8 >/dev/null 2>&1";
        ok_ = std::system(cmd.c_str()) == 0;
    }
    ~GermanLocale() {
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
    bool ok() const { return ok_; }
    std::vector<std::string> Env() const { return {"LOCPATH=" + dir_, "LC_ALL=de_DE.UTF-8"}; }

private:
    std::string dir_;
    bool ok_ = false;
};

TEST_F(TerminalCli, TextSizesUseTheUsersDecimalSeparatorAndJsonKeepsThePoint) {
    GermanLocale de;
    if (!de.ok()) GTEST_SKIP() << "localedef could not build de_DE.UTF-8";
    const std::string m = Machine(json::array({Disk(0, 1152 * 1024)}));

    CliResult list = RunCli({"list"}, m, de.Env());
    EXPECT_EQ(list.code, 0) << list.err;
    ASSERT_EQ(list.Lines().size(), 1u) << list.out;
    EXPECT_EQ(list.Lines()[0], "0\t\\\\.\\PhysicalDrive0\tSimDisk 0 1,13 MBytes \tIDE");

    CliResult surface = RunCli({"surface", "0"}, m, de.Env());
    ASSERT_EQ(surface.Lines().size(), 19u + 8u) << surface.out;
    EXPECT_NE(surface.out.find("SimDisk 0 1,13 MBytes "), std::string::npos) << surface.out;

    CliResult j = RunCli({"--json", "list"}, m, de.Env());
    EXPECT_EQ(Parse(j)["drives"][0]["caption"], "SimDisk 0 1.13 MBytes ");
    CliResult js = RunCli({"--json", "surface", "0"}, m, de.Env());
    EXPECT_EQ(Parse(js)["device"]["name"], "SimDisk 0 1.13 MBytes ");

    // Without a locale of the user's, the point.
    CliResult c = RunCli({"list"}, m);
    EXPECT_NE(c.out.find("SimDisk 0 1.13 MBytes "), std::string::npos) << c.out;
}

// Outside the scan there is nothing to stop early: the first signal ends the program
// with 130 at once, even while it waits on a file that never delivers (here the
// SMART sample of a drive is a FIFO nobody writes to).
TEST_F(TerminalCli, ASignalWhileWaitingOutsideTheScanExitsWith130) {
    const std::string fifo = dir_ / "sample.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    json disk = Disk(0, 4 * Mib);
    disk["ide"] = {{"positions", {{"0", {{"sample", fifo}}}}}};
    const std::string m = Machine(json::array({disk}));
    for (int sig : {SIGTERM, SIGINT}) {
        CliProcess p({"smart", "0"}, m);
        ASSERT_TRUE(p.started());
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        ASSERT_TRUE(p.Running()) << "the command did not wait on the FIFO";
        const auto sent = std::chrono::steady_clock::now();
        p.Signal(sig);
        CliResult r = p.Finish(10000);
        EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(1));
        EXPECT_EQ(r.code, 130) << "signal " << sig << ": " << r.err;
        EXPECT_NE(r.err.find("scandor-cli: interrupted\n"), std::string::npos) << r.err;
    }
}

}  // namespace
