#include <cctype>
#include <iostream>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "drive/drivelist.h"
#include "drive/usersystem.h"
#include "platform/platform.h"
#include "shell/settings.h"
#include "smart/wmiquery.h"

namespace cli {

int ListCommand(platform::Platform& p, const Options& o) {
    const MessageStrings messages = EnglishMessages();
    TUserSystem userSystem(p);
    // The fill's progress lines only matter when it finds nothing: then they and the
    // box's text say why.
    std::vector<std::string> notes;
    std::string box;
    DriveListCallbacks cb;
    cb.log = [&](const std::string& line) {
        if (line != messages.SInfoSelectDriveandContinue) notes.push_back(line);
    };
    cb.informationBox = [&](const std::string& text, const std::string& caption) {
        box = caption + ": ";
        for (char c : text)
            if (c != '\r') box += c;
        while (!box.empty() && std::isspace(static_cast<unsigned char>(box.back()))) box.pop_back();
        notes.push_back(box);
    };
    cb.resumeEntries = settings::ResumeEntriesFrom(p.GetRegistry(), cb.log);
    TDriveList list(p, userSystem, DriveListTextsOf(messages), std::move(cb));
    const std::vector<DriveListEntry> entries = o.smartList ? list.ListDrivesForSmartTest() : list.ListDrivesForSectorTest();

    nlohmann::ordered_json drives = nlohmann::ordered_json::array();
    std::vector<std::string> lines;
    for (const DriveListEntry& e : entries) {
        // A resume entry repeats a listed drive with a saved position the tests never use.
        if (e.imageIndex == ImageResume || !e.record) continue;
        const TBigDriveInformation& r = *e.record;
        const bool floppy = r.Kind == KindFloppy;
        const std::string argument = floppy ? r.DevicePath.substr(4) : std::to_string(r.DriveNumber);
        std::string interfaceType;
        bool known = false;
        if (!floppy)
            known = wmiquery::WmiGetProperty(p, TDriveList::InterfaceTypeQuery(r.DriveNumber), "InterfaceType",
                                             interfaceType) == 1 &&
                    !interfaceType.empty();
        // Escaped field by field: a TAB or line end in a name must not forge a field or a line.
        lines.push_back(Printable(argument) + "\t" + Printable(r.DevicePath) + "\t" + Printable(e.caption) + "\t" +
                        (known ? Printable(interfaceType) : "-"));
        drives.push_back({
            {"argument", argument},
            {"number", floppy ? nlohmann::ordered_json() : nlohmann::ordered_json(r.DriveNumber)},
            {"path", r.DevicePath},
            {"caption", e.caption},
            {"kind", floppy ? "floppy" : "physical"},
            {"interfaceType", known ? nlohmann::ordered_json(interfaceType) : nlohmann::ordered_json()},
            {"usb", e.imageIndex == ImageUsbDrive},
            {"sizeBytes", floppy ? r.TotalBytes : r.PartitionInfo.PartitionLength},
        });
    }

    const int code = lines.empty() ? ExitUnreadable : ExitHealthy;
    if (lines.empty())
        for (const std::string& n : notes) std::cerr << Printable(n) << '\n';
    if (o.json) {
        nlohmann::ordered_json doc = {
            {"command", "list"},
            {"test", o.smartList ? "smart" : "surface"},
            {"drives", drives},
            {"exitCode", code},
        };
        if (lines.empty()) doc["error"] = !box.empty() ? box : notes.empty() ? "no drive listed" : notes.back();
        PrintJson(doc);
    } else {
        for (const std::string& l : lines) std::cout << l << '\n';
        std::cout.flush();
    }
    return code;
}

}  // namespace cli
