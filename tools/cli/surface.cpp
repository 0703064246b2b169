#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "drives.h"
#include "drive/bigdriveinfo.h"
#include "drive/format.h"
#include "drive/harddrive.h"
#include "drive/hostinfo.h"
#include "platform/drivepath.h"
#include "platform/filekind.h"
#include "platform/platform.h"
#include "shell/settings.h"
#include "smart/wmiquery.h"
#include "surface/maildelivery.h"
#include "surface/report.h"
#include "surface/sectorreader.h"
#include "surface/surfacerun.h"

namespace cli {

namespace {

struct SurfaceTarget {
    std::string path;
    std::string displayName;
    char kind = KindPhysical;
    int driveNumber = -1;
    int64_t startSector = 0;
    int64_t endSector = 0;
    DriveIdentity identity;   // the disk probed; the run reads only this one
};

const char* KindName(char kind) { return kind == KindFloppy ? "floppy" : "physical"; }

// "\\.\PhysicalDrive3" typed out names drive 3, as the number would.
bool PhysicalDrivePath(const std::string& t, int& number) {
    auto n = platform::PhysicalDriveNumber(t);
    if (!n || *n > MaxDriveNumber) return false;
    number = *n;
    return true;
}

// The progress line on stderr: rewritten in place with \r, at most ten times a
// second. The run reports a percentage once per block, in block order from sector
// 0, so counting those calls gives the sector of the block just read.
class Progress {
public:
    Progress(platform::Platform& p, int64_t endSector, bool shown)
        : platform_(p), endSector_(endSector), shown_(shown) {}

    void Start() { startTick_ = platform_.GetTickCount(); }

    // The block starting at BlockSector() was read; percent is the run's figure.
    void Block(int percent) {
        percent_ = percent;
        sector_ = blocks_ * SectorsPerRead;
        ++blocks_;
        Draw(false);
    }
    void Remaining(const std::string& text) { remaining_ = text; }

    void Note(const std::string& line) {
        Clear();
        std::cerr << Printable(line) << '\n';
        Draw(true);
    }

    void Finish() {
        if (!drawn_) return;
        Draw(true);
        std::cerr << '\n';
        drawn_ = false;
    }

private:
    void Clear() {
        if (!drawn_) return;
        std::cerr << '\r' << std::string(width_, ' ') << '\r';
    }

    void Draw(bool force) {
        if (!shown_ || blocks_ == 0) return;
        const auto now = std::chrono::steady_clock::now();
        if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
        lastDraw_ = now;
        const uint32_t elapsed = platform_.GetTickCount() - startTick_;
        char speed[32] = "- MB/s";
        if (elapsed > 0) {
            const double bytes = static_cast<double>(blocks_) * SectorsPerRead * 512.0;
            std::snprintf(speed, sizeof speed, "%.2f MB/s", bytes / 1048576.0 / (elapsed / 1000.0));
        }
        std::string text = std::to_string(percent_) + "%  sector " + std::to_string(sector_) + " of " +
                           std::to_string(endSector_) + "  " + speed + "  remaining " +
                           (remaining_.empty() ? "-" : remaining_);
        const size_t shownWidth = text.size();
        if (text.size() < width_) text.append(width_ - text.size(), ' ');
        width_ = std::max(width_, shownWidth);
        std::cerr << '\r' << text << std::flush;
        drawn_ = true;
    }

    platform::Platform& platform_;
    int64_t endSector_;
    bool shown_;
    uint32_t startTick_ = 0;
    int64_t blocks_ = 0;
    int64_t sector_ = 0;
    int percent_ = 0;
    std::string remaining_;
    size_t width_ = 0;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

// The drive, floppy or file a target names, probed, with its range as the drive
// list's double click computes it. 0, or the exit code with the error text.
int ResolveTarget(platform::Platform& p, const Options& o, const MessageStrings& messages,
                  SurfaceTarget& t, std::string& error) {
    int number = -1;
    if (const char letter = FloppyLetter(o.target)) {
        t.path = std::string("\\\\.\\") + letter + ":";
        t.displayName = std::string(1, letter) + ":\\";
        t.kind = KindFloppy;
    } else if (const std::string byId = "/dev/disk/by-id/";
               o.target.compare(0, byId.size(), byId) == 0 &&
               (number = DriveNumberOfByIdName(p, o.target.substr(byId.size()))) >= 0) {
        // A name that stays with the disk, as a schedule names it; the run and its
        // record then belong to the physical drive like a drive number's.
        t.driveNumber = number;
        t.path = platform::PhysicalDrivePath(number);
    } else if (o.driveNumber >= 0 || PhysicalDrivePath(o.target, number)) {
        t.driveNumber = o.driveNumber >= 0 ? o.driveNumber : number;
        t.path = "\\\\.\\PhysicalDrive" + std::to_string(t.driveNumber);
    } else if (o.target.empty()) {
        error = "no device given";
        return ExitUsage;
    } else {
        t.path = o.target;
        // The Linux backend opens absolute paths only.
        if (t.path[0] != '/' && t.path[0] != '\\') t.path = std::filesystem::absolute(t.path).string();
        // Named here; the backend refuses it too, on the descriptor it opens.
        struct stat st{};
        if (t.path[0] == '/' && ::stat(t.path.c_str(), &st) == 0 && !S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode)) {
            error = platform::PrintablePath(t.path) + " is " + platform::FileKindText(st.st_mode) +
                    ", not a block device or an image file";
            return ExitUnreadable;
        }
    }

    THardDrive probe(p, t.path);
    if (!probe.PartitionInfoValid && !probe.GeometryValid) {
        error = "cannot open " + t.path + ": " + OpenErrorText(p, t.path);
        return ExitUnreadable;
    }
    t.identity = probe.Identity;
    if (t.kind == KindFloppy) {
        t.startSector = 0;
        t.endSector = probe.TotalBytes / 512;
    } else {
        t.startSector = probe.PartitionInfo.StartingOffset / BytesPerSector;
        t.endSector = t.startSector + probe.PartitionInfo.PartitionLength / 512;
        const std::string label = t.driveNumber >= 0 ? wmiquery::GetDriveModel(p, t.driveNumber) : t.path;
        t.displayName = label + " " + FormatSize(probe.PartitionInfo.PartitionLength);
    }
    if (t.endSector - t.startSector < 1) {
        error = t.path + ": " + messages.strSBADDisk;
        return ExitUnreadable;
    }
    return 0;
}

// After the report: how the drive was read, the blocks by read time, and the
// first slow blocks.
constexpr size_t SlowBlocksShown = 20;

std::vector<std::string> ReadTimeLines(const SurfaceRunResult& result) {
    std::vector<std::string> lines;
    lines.push_back("Reads: " + result.readMode);
    const TReadTimes& t = result.readTimes;
    for (int c = 0; c < ReadClassCount; ++c) {
        const auto rc = static_cast<ReadClass>(c);
        lines.push_back(std::string(rc == ReadFailed ? "Blocks " : "Blocks read in ") + ReadClassLabel(rc) + ": " +
                        std::to_string(t.Counts()[rc]));
    }
    const auto& slow = t.Slow();
    for (size_t i = 0; i < slow.size() && i < SlowBlocksShown; ++i)
        lines.push_back("Slow block @: " + std::to_string(slow[i].sector) + " " + std::to_string(slow[i].ms) + " ms");
    if (slow.size() > SlowBlocksShown)
        lines.push_back("Slow blocks not shown: " + std::to_string(slow.size() - SlowBlocksShown) +
                        (t.SlowTruncated() ? " and more" : ""));
    return lines;
}

nlohmann::ordered_json ReadTimesJson(const TReadTimes& t) {
    nlohmann::ordered_json j = nlohmann::ordered_json::object();
    for (int c = 0; c < ReadClassCount; ++c) j[ReadClassKey(static_cast<ReadClass>(c))] = t.Counts()[static_cast<size_t>(c)];
    return j;
}

nlohmann::ordered_json SlowBlocksJson(const TReadTimes& t) {
    nlohmann::ordered_json j = nlohmann::ordered_json::array();
    for (const SlowBlock& b : t.Slow()) j.push_back({{"sector", b.sector}, {"ms", b.ms}});
    return j;
}

}  // namespace

std::vector<std::string> SendByEmail(platform::Platform& p, const std::vector<std::string>& report) {
    // The window definition's texts, which a reading that stops early leaves in place.
    settings::EmailFields f;
    f.email = settings::DefaultEmail;
    f.emailFrom = settings::DefaultEmailFrom;
    f.smtpHost = settings::DefaultSmtpHost;
    f.username = settings::DefaultUsername;
    f.password = "secret";
    if (const std::string why = settings::ReadSettings(p.GetRegistry(), f); !why.empty())
        std::cerr << "scandor-cli: the stored e-mail settings cannot be read: " << why << '\n';
    MailFields mail;
    mail.host = f.smtpHost;
    mail.userName = f.username;
    mail.password = f.password;
    mail.from = f.emailFrom;
    mail.recipients = f.email;
    std::vector<std::string> lines;
    SmtpMailSender sender;
    // A signal during delivery abandons it at once, however long the server would take.
    SmtpSettings base;
    base.cancelled = [] { return AbortSignal != 0; };
    SetSignalPhase(SignalPhase::Delivery);
    SendReportByEmail(mail, report, [&lines](const std::string& l) { lines.push_back(l); }, sender, 25, base);
    SetSignalPhase(SignalPhase::Exit);
    return lines;
}

int SurfaceCommand(platform::Platform& p, const Options& o) {
    const MessageStrings messages = EnglishMessages();
    SurfaceTarget t;
    std::string error;
    if (int code = ResolveTarget(p, o, messages, t, error)) return Fail(o, "surface", code, error);

    Progress progress(p, t.endSector, ::isatty(STDERR_FILENO) == 1);
    std::vector<int64_t> errorSectors;
    SurfaceRunCallbacks cb;
    cb.log = [&progress](const std::string& line) { progress.Note(line); };
    cb.blockFailed = [&](int64_t, int64_t sector) { errorSectors.push_back(sector); };
    cb.progress = [&progress](int percent) { progress.Block(percent); };
    cb.remainingTime = [&progress](const std::string& text) { progress.Remaining(text); };
    cb.abortRequested = [] { return AbortSignal != 0; };
    TSurfaceRun run(p, std::move(cb));
    if (o.queueDepth > 0) run.QueueDepth = static_cast<uint32_t>(o.queueDepth);
    progress.Start();
    SetSignalPhase(SignalPhase::Scan);
    const SurfaceRunResult result = run.Run(t.path, t.displayName, t.endSector, &t.identity);
    SetSignalPhase(SignalPhase::Exit);
    progress.Finish();
    if (result.wrongDisk)
        return Fail(o, "surface", ExitUnreadable,
                    t.path + " leads to another disk than the one probed (drives were added or removed); "
                             "nothing was read");
    if (!result.opened)
        return Fail(o, "surface", ExitUnreadable, "cannot open " + t.path + ": " + OpenErrorText(p, t.path));

    const SurfaceReportInput in = SurfaceReportOfRun(p, t.path, t.displayName, t.startSector, t.endSector,
                                                     result.CurrentSector, result.ErrorCount);
    const std::vector<std::string> report = BuildSurfaceReport(in);

    // The aborted block was read too, and the one that found the drive gone.
    const int64_t blocksRead = result.CurrentSector / SectorsPerRead + (result.aborted || result.vanished ? 1 : 0);
    int code = ExitHealthy;
    if (result.vanished)
        code = ExitProblems;  // a drive that went is a problem found, whatever was read before
    else if (blocksRead > 0 && result.ErrorCount >= blocksRead)
        code = ExitUnreadable;
    else if (result.ErrorCount > 0)
        code = ExitProblems;
    else if (result.aborted)
        code = ExitInterrupted;

    // Which node the number led to, on stderr, so stdout keeps the report alone.
    std::cerr << "Device node: " << platform::PrintablePath(result.node) << std::endl;
    if (!result.recordError.empty())
        std::cerr << "scandor-cli: the scan record was not kept: " << Printable(result.recordError) << std::endl;
    if (!o.json) PrintLines(report);
    std::vector<std::string> mailLines;
    const bool problem = result.ErrorCount > 0 || result.vanished || result.readTimes.Counts()[AtLeast500ms] > 0;
    if (o.email || (o.emailOnProblem && problem)) {
        mailLines = SendByEmail(p, report);
        if (!o.json) PrintLines(mailLines);
    }
    if (!o.json) PrintLines(ReadTimeLines(result));
    if (o.json) {
        nlohmann::ordered_json doc = {
            {"command", "surface"},
            {"device", {{"path", t.path},
                        {"node", result.node},
                        {"name", t.displayName},
                        {"kind", KindName(t.kind)},
                        {"number", t.driveNumber >= 0 ? nlohmann::ordered_json(t.driveNumber) : nlohmann::ordered_json()}}},
            {"startSector", t.startSector},
            {"endSector", t.endSector},
            {"stopSector", result.CurrentSector},
            {"blocksRead", blocksRead},
            {"errorCount", result.ErrorCount},
            {"errorSectors", errorSectors},
            {"aborted", result.aborted},
            {"readMode", result.readMode},
            {"readTimes", ReadTimesJson(result.readTimes)},
            {"slowBlocks", SlowBlocksJson(result.readTimes)},
            {"slowBlocksTruncated", result.readTimes.SlowTruncated()},
            {"vanished", result.vanished},
            {"dateTime", in.dateTime},
            {"computer", in.computerName},
            {"user", in.userName},
            {"ip", in.ipAddress},
            {"report", report},
            {"exitCode", code},
        };
        if (o.email || (o.emailOnProblem && problem))
            doc["email"] = {{"sent", !mailLines.empty() && mailLines.back() == "Email send."}, {"log", mailLines}};
        PrintJson(doc);
    }
    return code;
}

}  // namespace cli
