#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/desktopentry.h"
#include "shell/autostart.h"
#include "support/sim.h"
#include "support/tempdir.h"

using platform::QuoteExecArgument;
using platform::SplitWindowsArguments;

namespace {

// Reads an Exec value back as a desktop launcher does: string escapes first,
// then the quoting rules of the Exec key.
std::vector<std::string> ParseExec(const std::string& value) {
    std::string unescaped;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            char c = value[++i];
            unescaped += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
        } else {
            unescaped += value[i];
        }
    }
    std::vector<std::string> args;
    std::string cur;
    bool quoted = false, any = false;
    for (size_t i = 0; i < unescaped.size(); ++i) {
        char c = unescaped[i];
        if (quoted) {
            if (c == '\\' && i + 1 < unescaped.size()) cur += unescaped[++i];
            else if (c == '"') quoted = false;
            else if (c == '%' && i + 1 < unescaped.size() && unescaped[i + 1] == '%') cur += unescaped[++i];
            else cur += c;
        } else if (c == ' ') {
            if (any) args.push_back(cur);
            cur.clear();
            any = false;
        } else if (c == '"') {
            quoted = any = true;
        } else {
            cur += c;
            any = true;
        }
    }
    if (any) args.push_back(cur);
    return args;
}

std::string ExecLine(const std::string& entry) {
    std::istringstream in(entry);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("Exec=", 0) == 0) return line.substr(5);
    return {};
}

}  // namespace

TEST(AutostartParameters, DriveNumberBlankAndQuotedLogFile) {
    EXPECT_EQ(BuildParameterString(1, "C:\\Logs\\MyLogFile.log"), "1 \"C:\\Logs\\MyLogFile.log\"");
    EXPECT_EQ(BuildParameterString(-1, "/var/log/MyLogFile.log"), "-1 \"/var/log/MyLogFile.log\"");
    EXPECT_EQ(LogFileInFolder("/home/anna/logs", '/'), "/home/anna/logs/MyLogFile.log");
    EXPECT_EQ(LogFileInFolder("/", '/'), "/MyLogFile.log");
    EXPECT_EQ(LogFileInFolder("C:\\Logs", '\\'), "C:\\Logs\\MyLogFile.log");
}

TEST(AutostartParameters, ArgumentsSplitAsAWindowsCommandLine) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitWindowsArguments("1 \"/home/anna/My Logs/MyLogFile.log\""),
              (V{"1", "/home/anna/My Logs/MyLogFile.log"}));
    EXPECT_EQ(SplitWindowsArguments("Parameterstring"), (V{"Parameterstring"}));
    EXPECT_EQ(SplitWindowsArguments("  a\tb  "), (V{"a", "b"}));
    EXPECT_EQ(SplitWindowsArguments("\"C:\\Logs\\\\\" x"), (V{"C:\\Logs\\", "x"}));
    EXPECT_EQ(SplitWindowsArguments("a\\\"b \"\""), (V{"a\"b", ""}));
    EXPECT_EQ(SplitWindowsArguments("\"unclosed quote"), (V{"unclosed quote"}));
    EXPECT_TRUE(SplitWindowsArguments("").empty());
}

TEST(AutostartParameters, ExecQuotingSurvivesEveryAwkwardCharacter) {
    for (std::string arg : {"plain", "with blank", "quote\"inside", "back\\slash", "C:\\Logs\\",
                            "$HOME", "`id`", "100%", "%f", "tab\there", ""}) {
        auto parsed = ParseExec(QuoteExecArgument("/usr/bin/scandor") + " " + QuoteExecArgument(arg));
        ASSERT_EQ(parsed.size(), 2u) << arg;
        EXPECT_EQ(parsed[1], arg);
    }
}

TEST(AutostartEntries, NamesCountUpAndEntriesRunTheProgramWithTheParameters) {
    testsupport::TempDir dir;
    auto m = testsupport::Machine(R"({"startupFolder": "autostart", "executable": "/opt/kaveno/scandor"})",
                                  dir.path.string());
    EXPECT_EQ(GetSpecialFolderPath(*m, platform::CSIDL_STARTUP), dir.path.string() + "/autostart/");
    std::vector<std::string> written;
    for (int i = 0; i < 3; ++i) written.push_back(InstallAutostartEntry(*m, "0 \"/var/log/My Logs/MyLogFile.log\""));
    EXPECT_EQ(written[0], dir.path.string() + "/autostart/scandor.desktop");
    EXPECT_EQ(written[1], dir.path.string() + "/autostart/scandor1.desktop");
    EXPECT_EQ(written[2], dir.path.string() + "/autostart/scandor2.desktop");
    std::string entry = testsupport::ReadFile(written[2]);
    EXPECT_EQ(ParseExec(ExecLine(entry)),
              (std::vector<std::string>{"/opt/kaveno/scandor", "0", "/var/log/My Logs/MyLogFile.log"}));
    EXPECT_NE(entry.find("\nPath=/opt/kaveno/\n"), std::string::npos);
    EXPECT_NE(entry.find("\nIcon=de.kaveno.Scandor\n"), std::string::npos);
}

namespace {

// Sets an environment variable for one scope, restoring it afterwards.
struct EnvVar {
    std::string name;
    std::optional<std::string> old;
    EnvVar(std::string n, const char* value) : name(std::move(n)) {
        if (const char* v = std::getenv(name.c_str())) old = v;
        if (value) ::setenv(name.c_str(), value, 1);
        else ::unsetenv(name.c_str());
    }
    ~EnvVar() {
        if (old) ::setenv(name.c_str(), old->c_str(), 1);
        else ::unsetenv(name.c_str());
    }
};

void Touch(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    testsupport::WriteFile(path, "png");
}

}  // namespace

TEST(AutostartEntries, IconIsTheThemedNameOnceInstalledElseTheBuildTreeFile) {
    testsupport::TempDir dir;
    const std::string data = dir / "share", build = dir / "build";
    auto m = testsupport::Machine(R"({"startupFolder": "autostart", "executable": ")" + build + R"(/scandor"})",
                                  dir.path.string());
    // Nothing installed, no icon beside the executable: the name all the same.
    EXPECT_EQ(AutostartIcon(*m, {data}), "de.kaveno.Scandor");
    const std::string file = build + "/icons/hicolor/256x256/apps/de.kaveno.Scandor.png";
    Touch(file);
    EXPECT_EQ(AutostartIcon(*m, {data}), file);
    Touch(data + "/icons/hicolor/48x48/apps/de.kaveno.Scandor.png");
    EXPECT_EQ(AutostartIcon(*m, {dir / "empty", data}), "de.kaveno.Scandor");
    std::filesystem::remove_all(data);
    Touch(data + "/icons/hicolor/scalable/apps/de.kaveno.Scandor.svg");
    EXPECT_EQ(AutostartIcon(*m, {data}), "de.kaveno.Scandor");
    // Another theme or another name is not this icon.
    std::filesystem::remove_all(data);
    Touch(data + "/icons/Adwaita/48x48/apps/de.kaveno.Scandor.png");
    Touch(data + "/icons/hicolor/48x48/apps/scandor.png");
    EXPECT_EQ(AutostartIcon(*m, {data}), file);

    // The entry written takes its Icon= from the folders of the environment.
    {
        EnvVar home("XDG_DATA_HOME", (dir / "nohome").c_str()), dirs("XDG_DATA_DIRS", data.c_str());
        const std::string entry = testsupport::ReadFile(InstallAutostartEntry(*m, "0 \"x\""));
        EXPECT_NE(entry.find("\nIcon=" + file + "\n"), std::string::npos) << entry;
        Touch(data + "/icons/hicolor/64x64/apps/de.kaveno.Scandor.png");
        const std::string themed = testsupport::ReadFile(InstallAutostartEntry(*m, "0 \"x\""));
        EXPECT_NE(themed.find("\nIcon=de.kaveno.Scandor\n"), std::string::npos) << themed;
    }
    // The build tree keeps the icon beside its executables.
    EXPECT_TRUE(std::filesystem::exists(SCANDOR_BINARY_DIR "/icons/hicolor/256x256/apps/de.kaveno.Scandor.png"));
    EXPECT_TRUE(std::filesystem::exists(SCANDOR_BINARY_DIR "/icons/hicolor/scalable/apps/de.kaveno.Scandor.svg"));
}

TEST(AutostartEntries, IconFoldersFollowTheBaseDirectoryRules) {
    {
        EnvVar home("XDG_DATA_HOME", "/data/home"), dirs("XDG_DATA_DIRS", "/a:relative::/b/");
        EXPECT_EQ(IconDataFolders(), (std::vector<std::string>{"/data/home", "/a", "/b/"}));
    }
    {
        EnvVar home("XDG_DATA_HOME", "relative"), user("HOME", "/home/u"), dirs("XDG_DATA_DIRS", nullptr);
        EXPECT_EQ(IconDataFolders(),
                  (std::vector<std::string>{"/home/u/.local/share", "/usr/local/share", "/usr/share"}));
    }
    {
        EnvVar home("XDG_DATA_HOME", nullptr), user("HOME", nullptr), dirs("XDG_DATA_DIRS", "");
        EXPECT_EQ(IconDataFolders(), (std::vector<std::string>{"/usr/local/share", "/usr/share"}));
    }
}

TEST(AutostartEntries, NameKeepsTheStemOfAnExecutableWithAnExtension) {
    testsupport::TempDir dir;
    auto m = testsupport::Machine(R"({"startupFolder": ".", "executable": "/opt/app.exe"})", dir.path.string());
    EXPECT_EQ(FreeShortcutPath(*m, dir.path.string() + "/", "/opt/app.exe"), dir.path.string() + "/app.desktop");
    std::ofstream(dir.path.string() + "/app.desktop") << "";
    EXPECT_EQ(FreeShortcutPath(*m, dir.path.string() + "/", "/opt/app.exe"), dir.path.string() + "/app1.desktop");
}

TEST(AutostartEntries, UnresolvedStartupFolderGivesTheBareName) {
    auto m = testsupport::Machine(R"({"executable": "/opt/kaveno/scandor"})");
    EXPECT_EQ(GetSpecialFolderPath(*m, platform::CSIDL_STARTUP), "");
    EXPECT_EQ(FreeShortcutPath(*m, "", "/opt/kaveno/scandor"), "scandor.desktop");
}
