// Root acting for the user who ran it through sudo or pkexec: where their
// autostart entries go, what of their environment is trusted.
#include <gtest/gtest.h>

#include <cstdio>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>

#include "platform/desktopentry.h"
#include "platform/invoker.h"
#include "platform/linux/linux_platform.h"
#include "shell/autostart.h"
#include "support/tempdir.h"

using namespace platform;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

constexpr uid_t kUser = 4242;   // no password entry needed: the tests name the home
constexpr gid_t kGroup = 4243;

// Sets variables for one test and puts the old values back.
class Env {
public:
    void Set(const char* name, const char* value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~Env() {
        for (auto& [name, value] : saved_) {
            if (value) ::setenv(name.c_str(), value->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
    }
private:
    std::map<std::string, std::optional<std::string>> saved_;
};

struct Owner {
    uid_t uid;
    gid_t gid;
    mode_t mode;
};

Owner OwnerOf(const std::string& path) {
    struct stat st{};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return {st.st_uid, st.st_gid, st.st_mode & 07777};
}

ShortcutSpec Shortcut() {
    ShortcutSpec s;
    s.target = "/usr/bin/scandor";
    s.arguments = "1 \"/tmp/MyLogFile.log\"";
    return s;
}

// A home folder of the test user, as useradd makes it.
struct Home {
    TempDir dir;
    std::string path = dir.path.string();
    InvokingUser user{kUser, kGroup, path};
    Home() {
        EXPECT_EQ(::chown(path.c_str(), kUser, kGroup), 0);
        EXPECT_EQ(::chmod(path.c_str(), 0755), 0);
    }
    std::string Entry() const { return path + "/.config/autostart/scandor.desktop"; }
};

#define REQUIRE_ROOT() \
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act for another user"

}  // namespace

TEST(AutostartForUser, MissingFoldersAndTheEntryBelongToTheUser) {
    REQUIRE_ROOT();
    Home home;
    ::umask(022);
    ASSERT_TRUE(SaveDesktopEntryFor(home.user, home.Entry(), Shortcut())) << std::strerror(errno);
    for (const std::string& folder : {home.path + "/.config", home.path + "/.config/autostart"}) {
        Owner o = OwnerOf(folder);
        EXPECT_EQ(o.uid, kUser) << folder;
        EXPECT_EQ(o.gid, kGroup) << folder;
        EXPECT_EQ(o.mode, 0700u) << folder;
    }
    Owner entry = OwnerOf(home.Entry());
    EXPECT_EQ(entry.uid, kUser);
    EXPECT_EQ(entry.gid, kGroup);
    EXPECT_EQ(entry.mode, 0644u);
    EXPECT_EQ(ReadFile(home.Entry()), DesktopEntryText(Shortcut()));
    EXPECT_FALSE(std::filesystem::exists(home.Entry() + ".tmp"));
    // A second entry over the first replaces it; folders the user made stay theirs.
    ASSERT_TRUE(SaveDesktopEntryFor(home.user, home.Entry(), Shortcut()));
    EXPECT_EQ(OwnerOf(home.Entry()).uid, kUser);
}

TEST(AutostartForUser, APlantedLinkAsTheTemporaryIsNotFollowed) {
    REQUIRE_ROOT();
    Home home;
    TempDir elsewhere;
    const std::string victim = elsewhere / "passwd";
    WriteFile(victim, "root:x:0:0\n");
    std::filesystem::create_directories(home.path + "/.config/autostart");
    for (const char* f : {"/.config", "/.config/autostart"})
        ASSERT_EQ(::chown((home.path + f).c_str(), kUser, kGroup), 0);
    ASSERT_EQ(::symlink(victim.c_str(), (home.Entry() + ".tmp").c_str()), 0);
    ASSERT_TRUE(SaveDesktopEntryFor(home.user, home.Entry(), Shortcut())) << std::strerror(errno);
    EXPECT_EQ(ReadFile(victim), "root:x:0:0\n");
    EXPECT_EQ(OwnerOf(victim).uid, 0u);
    EXPECT_EQ(ReadFile(home.Entry()), DesktopEntryText(Shortcut()));

    // The same through the plain writer the simulated machine uses.
    ASSERT_EQ(::symlink(victim.c_str(), (home.Entry() + ".tmp").c_str()), 0);
    ASSERT_TRUE(SaveDesktopEntry(home.Entry(), Shortcut()));
    EXPECT_EQ(ReadFile(victim), "root:x:0:0\n");
}

TEST(AutostartForUser, ALinkAsTheEntryItselfIsReplacedNotFollowed) {
    REQUIRE_ROOT();
    Home home;
    TempDir elsewhere;
    const std::string victim = elsewhere / "shadow";
    WriteFile(victim, "secret\n");
    std::filesystem::create_directories(home.path + "/.config/autostart");
    ASSERT_EQ(::symlink(victim.c_str(), home.Entry().c_str()), 0);
    ASSERT_TRUE(SaveDesktopEntryFor(home.user, home.Entry(), Shortcut()));
    EXPECT_EQ(ReadFile(victim), "secret\n");
    EXPECT_FALSE(std::filesystem::is_symlink(home.Entry()));
}

TEST(AutostartForUser, ALinkedFolderOnTheWayIsRefused) {
    REQUIRE_ROOT();
    TempDir elsewhere;  // root's, like /etc
    const std::string target = elsewhere.path.string();
    for (const char* linked : {"/.config", "/.config/autostart"}) {
        Home home;
        if (std::string(linked) == "/.config/autostart") {
            ASSERT_TRUE(std::filesystem::create_directory(home.path + "/.config"));
            ASSERT_EQ(::chown((home.path + "/.config").c_str(), kUser, kGroup), 0);
        }
        ASSERT_EQ(::symlink(target.c_str(), (home.path + linked).c_str()), 0);
        errno = 0;
        EXPECT_FALSE(SaveDesktopEntryFor(home.user, home.Entry(), Shortcut())) << linked;
        EXPECT_TRUE(errno == ELOOP || errno == ENOTDIR) << std::strerror(errno);
        EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path)) << linked;
    }
}

TEST(AutostartForUser, FoldersOfAThirdUserAndPathsOutsideTheHomeAreRefused) {
    REQUIRE_ROOT();
    Home home;
    std::filesystem::create_directories(home.path + "/.config/autostart");
    ASSERT_EQ(::chown((home.path + "/.config").c_str(), kUser + 1, kGroup), 0);
    errno = 0;
    EXPECT_FALSE(SaveDesktopEntryFor(home.user, home.Entry(), Shortcut()));
    EXPECT_EQ(errno, EACCES);
    EXPECT_FALSE(std::filesystem::exists(home.Entry()));

    Home other;
    TempDir outside;
    for (const std::string& path : {outside / "x.desktop", other.path + "/../x.desktop",
                                    other.path + "/./x.desktop", other.path + "x/y.desktop",
                                    other.path + "//x.desktop", other.path + "/"}) {
        errno = 0;
        EXPECT_FALSE(SaveDesktopEntryFor(other.user, path, Shortcut())) << path;
        EXPECT_EQ(errno, EACCES) << path;
    }
    EXPECT_TRUE(std::filesystem::is_empty(outside.path));
}

namespace {

// A real account with a fresh home, removed again afterwards.
struct Account {
    TempDir home;
    std::string name = "scandor" + std::to_string(::getpid());
    std::optional<InvokingUser> user;
    Account() {
        const std::string add = "useradd -M -N -s /usr/sbin/nologin -d '" + home.path.string() + "' " + name +
                                " >/dev/null 2>&1";
        if (std::system(add.c_str()) != 0) return;
        passwd* pw = ::getpwnam(name.c_str());
        if (!pw) return;
        user = InvokingUser{pw->pw_uid, pw->pw_gid, home.path.string()};
        EXPECT_EQ(::chown(home.path.c_str(), pw->pw_uid, pw->pw_gid), 0);
        EXPECT_EQ(::chmod(home.path.c_str(), 0755), 0);
    }
    ~Account() {
        if (user && std::system(("userdel " + name + " >/dev/null 2>&1").c_str()) != 0)
            std::fprintf(stderr, "could not remove the test account %s\n", name.c_str());
    }
};

}  // namespace

TEST(AutostartForUser, InstalledUnderSudoTheEntryIsTheInvokingUsersAndFollowsNoLink) {
    REQUIRE_ROOT();
    Account account;
    if (!account.user) GTEST_SKIP() << "useradd could not create a test account";
    const std::string home = account.home.path.string();
    TempDir rootConfig, elsewhere;
    const std::string victim = elsewhere / "sudoers";
    WriteFile(victim, "root ALL=(ALL) ALL\n");
    Env env;
    env.Set("PKEXEC_UID", nullptr);
    env.Set("SUDO_UID", std::to_string(account.user->uid).c_str());
    env.Set("HOME", rootConfig.path.c_str());             // as sudo may leave it
    env.Set("XDG_CONFIG_HOME", rootConfig.path.c_str());  // outside their home: not theirs
    linuxbe::LinuxPlatform machine(rootConfig / "HKLM.reg");
    const std::string folder = home + "/.config/autostart/";
    EXPECT_EQ(GetSpecialFolderPath(machine, CSIDL_STARTUP), folder);

    const std::string first = InstallAutostartEntry(machine, "1 \"/tmp/MyLogFile.log\"");
    ASSERT_EQ(first.rfind(folder, 0), 0u) << first;
    EXPECT_EQ(OwnerOf(first).uid, account.user->uid);
    EXPECT_EQ(OwnerOf(home + "/.config").uid, account.user->uid);
    EXPECT_EQ(OwnerOf(folder).uid, account.user->uid);
    EXPECT_NE(ReadFile(first).find("MyLogFile.log"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(rootConfig.path / "autostart"));

    // The user plants a link where the next entry's temporary will go.
    const std::string second = FreeShortcutPath(machine, folder, machine.ExecutablePath());
    ASSERT_EQ(::symlink(victim.c_str(), (second + ".tmp").c_str()), 0);
    EXPECT_EQ(InstallAutostartEntry(machine, "2 \"/tmp/MyLogFile.log\""), second);
    EXPECT_EQ(ReadFile(victim), "root ALL=(ALL) ALL\n");
    EXPECT_EQ(OwnerOf(second).uid, account.user->uid);
}

TEST(InvokingUser, PkexecThenSudoThenTheRealUserWithTheHomeOfThePasswordFile) {
    REQUIRE_ROOT();
    passwd* daemon = ::getpwnam("daemon");
    passwd* nobody = ::getpwnam("nobody");
    if (!daemon || !nobody) GTEST_SKIP() << "needs the daemon and nobody accounts";
    const uid_t daemonUid = daemon->pw_uid, nobodyUid = nobody->pw_uid;
    const std::string daemonHome = daemon->pw_dir;
    Env env;
    env.Set("HOME", "/root");
    env.Set("PKEXEC_UID", nullptr);
    env.Set("SUDO_UID", std::to_string(daemonUid).c_str());
    auto u = FindInvokingUser();
    ASSERT_TRUE(u);
    EXPECT_EQ(u->uid, daemonUid);
    EXPECT_EQ(u->home, daemonHome);  // not $HOME
    env.Set("PKEXEC_UID", std::to_string(nobodyUid).c_str());
    u = FindInvokingUser();
    ASSERT_TRUE(u);
    EXPECT_EQ(u->uid, nobodyUid);
    EXPECT_TRUE(ActingForAnotherUser());
    for (const char* junk : {"", "12x", "-1", "99999999999999999999"}) {
        env.Set("PKEXEC_UID", junk);
        env.Set("SUDO_UID", junk);
        u = FindInvokingUser();
        ASSERT_TRUE(u) << junk;
        EXPECT_EQ(u->uid, ::getuid()) << junk;
    }
    env.Set("PKEXEC_UID", nullptr);
    env.Set("SUDO_UID", nullptr);
    EXPECT_FALSE(ActingForAnotherUser());
}

TEST(InvokingUser, XdgConfigHomeCountsOnlyInsideTheHome) {
    const InvokingUser anna{1000, 1000, "/home/anna"};
    EXPECT_EQ(AutostartFolderOf(anna, nullptr), "/home/anna/.config/autostart");
    EXPECT_EQ(AutostartFolderOf(anna, "/home/anna/cfg"), "/home/anna/cfg/autostart");
    EXPECT_EQ(AutostartFolderOf(anna, "/home/anna//cfg/"), "/home/anna/cfg/autostart");
    for (const char* outside : {"/etc", "/home/annabel/cfg", "/home/anna", "/home/anna/../bob",
                                "/home/anna/./cfg/..", "cfg", ""})
        EXPECT_EQ(AutostartFolderOf(anna, outside), "/home/anna/.config/autostart") << outside;
}

TEST(InvokingUser, RootForAUserTrustsOnlyARootOwnedManifest) {
    REQUIRE_ROOT();
    TempDir dir;  // root's, mode 0700, in the sticky /tmp
    const std::string manifest = dir / "machine.json";
    WriteFile(manifest, "{}");
    Env env;
    env.Set("SCANDOR_MACHINE", manifest.c_str());
    env.Set("PKEXEC_UID", nullptr);
    env.Set("SUDO_UID", "4242");
    EXPECT_NO_THROW(CreatePlatformFromEnvironment());

    auto refused = [&] {
        try {
            CreatePlatformFromEnvironment();
        } catch (const std::runtime_error& e) {
            return std::string(e.what()).find("needs no rights: run the program without sudo") !=
                   std::string::npos;
        }
        return false;
    };
    ASSERT_EQ(::chown(manifest.c_str(), kUser, kGroup), 0);
    EXPECT_TRUE(refused()) << "the user's file";
    ASSERT_EQ(::chown(manifest.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(manifest.c_str(), 0666), 0);
    EXPECT_TRUE(refused()) << "a file anyone may write";
    ASSERT_EQ(::chmod(manifest.c_str(), 0644), 0);
    ASSERT_EQ(::chown(dir.path.c_str(), kUser, kGroup), 0);
    EXPECT_TRUE(refused()) << "root's file in the user's folder, which they may swap";
    ASSERT_EQ(::chown(dir.path.c_str(), 0, 0), 0);
    TempDir userDir;
    ASSERT_EQ(::chown(userDir.path.c_str(), kUser, kGroup), 0);
    const std::string userLink = userDir / "machine.json";
    ASSERT_EQ(::symlink(manifest.c_str(), userLink.c_str()), 0);
    env.Set("SCANDOR_MACHINE", userLink.c_str());
    EXPECT_NO_THROW(CreatePlatformFromEnvironment()) << "a link to root's manifest leads to it";
    env.Set("SCANDOR_MACHINE", (dir / "missing.json").c_str());
    EXPECT_TRUE(refused());

    // Root alone (tests, CI) and users without sudo use any manifest.
    ASSERT_EQ(::chown(manifest.c_str(), kUser, kGroup), 0);
    env.Set("SCANDOR_MACHINE", manifest.c_str());
    env.Set("SUDO_UID", nullptr);
    EXPECT_NO_THROW(CreatePlatformFromEnvironment());
}

TEST(InvokingUser, RootForAUserDropsTheVariablesThatLoadCode) {
    Env env;
    const char* names[] = {"QT_PLUGIN_PATH", "QT_QPA_PLATFORM_PLUGIN_PATH", "QML2_IMPORT_PATH", "GTK_PATH",
                           "GTK_MODULES", "GIO_EXTRA_MODULES"};
    for (const char* n : names) env.Set(n, "/home/mallory/plugins");
    env.Set("PKEXEC_UID", nullptr);
    env.Set("SUDO_UID", nullptr);
    ForgetUserCodePaths();
    for (const char* n : names) EXPECT_NE(std::getenv(n), nullptr) << n << " is kept when nobody else is served";
    if (::geteuid() != 0) GTEST_SKIP() << "needs root for the rest";
    env.Set("SUDO_UID", "4242");
    env.Set("QT_QPA_PLATFORM", "offscreen");
    ForgetUserCodePaths();
    for (const char* n : names) EXPECT_EQ(std::getenv(n), nullptr) << n;
    EXPECT_STREQ(std::getenv("QT_QPA_PLATFORM"), "offscreen");
}
