#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <random>

#include "platform/hive.h"
#include "support/tempdir.h"

using namespace platform;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const char* kKey = "SOFTWARE\\KAVENO_Scandor";

RegValue Sz(const std::string& t) {
    RegValue v;
    v.type = REG_SZ;
    v.text = t;
    return v;
}

RegValue Dword(uint32_t n) {
    RegValue v;
    v.type = REG_DWORD;
    v.dword = n;
    return v;
}

const std::string kSample =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KAVENO_Scandor]\r\n"
    "\"Scandor-email\"=\"a \\\"quoted\\\" \\\\ path\"\r\n"
    "\"NoHDDs\"=dword:0000000a\r\n"
    "\"Blob\"=hex:01,02,ff\r\n"
    "\"Multi\"=hex(7):41,00,00,00,42,00,00,00,00,00,\\\r\n"
    "  00,00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KAVENO_Scandor\\nameofHdd]\r\n"
    "\"actualSector\"=dword:fffffffe\r\n";

}  // namespace

TEST(HiveFormat, ReadsTypedValuesAndKeepsOthersVerbatimWhenRewritten) {
    TempDir dir;
    const std::string file = dir / "HKLM.reg";
    WriteFile(file, kSample);
    hive::FileRegistry reg(file);
    auto key = reg.OpenKey(kKey, false);
    ASSERT_TRUE(key);
    RegValue v;
    ASSERT_TRUE(key->ReadValue("scandor-EMAIL", v));  // names are case-insensitive
    EXPECT_EQ(v.type, REG_SZ);
    EXPECT_EQ(v.text, "a \"quoted\" \\ path");
    ASSERT_TRUE(key->ReadValue("NoHDDs", v));
    EXPECT_EQ(v.type, REG_DWORD);
    EXPECT_EQ(v.dword, 10u);
    ASSERT_TRUE(key->ReadValue("Blob", v));
    EXPECT_EQ(v.type, 3u);
    EXPECT_EQ(v.raw, (std::vector<uint8_t>{1, 2, 0xff}));
    ASSERT_TRUE(key->ReadValue("Multi", v));
    EXPECT_EQ(v.type, 7u);
    EXPECT_EQ(v.raw.size(), 12u);
    EXPECT_FALSE(key->ReadValue("Missing", v));
    auto sub = reg.OpenKey("\\SOFTWARE\\KAVENO_Scandor\\nameofHdd", false);
    ASSERT_TRUE(sub);
    ASSERT_TRUE(sub->ReadValue("actualSector", v));
    EXPECT_EQ(static_cast<int32_t>(v.dword), -2);

    ASSERT_TRUE(key->WriteValue("Scandor-host", Sz("smtp.example.org")));
    const std::string after = ReadFile(file);
    EXPECT_NE(after.find("\"Multi\"=hex(7):41,00,00,00,42,00,00,00,00,00,\\\r\n  00,00\r\n"), std::string::npos);
    EXPECT_NE(after.find("\"Blob\"=hex:01,02,ff\r\n"), std::string::npos);
    EXPECT_NE(after.find("\"Scandor-host\"=\"smtp.example.org\"\r\n"), std::string::npos);
    ASSERT_TRUE(key->ReadValue("NoHDDs", v));
    EXPECT_EQ(v.dword, 10u);
    struct stat st{};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(HiveFormat, ReadsARegistryEditorExportInUtf16) {
    TempDir dir;
    const std::string file = dir / "HKLM.reg";
    std::string utf16 = "\xFF\xFE";
    for (char c : kSample) utf16 += std::string{c, '\0'};
    WriteFile(file, utf16);
    hive::FileRegistry reg(file);
    auto key = reg.OpenKey(kKey, false);
    ASSERT_TRUE(key);
    RegValue v;
    ASSERT_TRUE(key->ReadValue("NoHDDs", v));
    EXPECT_EQ(v.dword, 10u);
    ASSERT_TRUE(key->WriteValue("NoHDDs", Dword(11)));
    ASSERT_TRUE(hive::Parse(ReadFile(file)));
    ASSERT_TRUE(key->ReadValue("Blob", v));
    EXPECT_EQ(v.raw, (std::vector<uint8_t>{1, 2, 0xff}));
}

TEST(HiveFormat, AwkwardStringsRoundTrip) {
    TempDir dir;
    hive::FileRegistry reg(dir / "HKLM.reg");
    auto key = reg.OpenKey(kKey, true);
    ASSERT_TRUE(key);
    const std::string texts[] = {"", "line one\r\nline two", "tab\there", "ünïcödé €", "\"\\\"",
                                 "[HKEY_LOCAL_MACHINE\\fake]", std::string(1 << 20, 'x') + "end"};
    int i = 0;
    for (const auto& t : texts) ASSERT_TRUE(key->WriteValue("v" + std::to_string(i++), Sz(t)));
    i = 0;
    hive::FileRegistry again(dir / "HKLM.reg");
    auto k2 = again.OpenKey(kKey, false);
    ASSERT_TRUE(k2);
    for (const auto& t : texts) {
        RegValue v;
        ASSERT_TRUE(k2->ReadValue("v" + std::to_string(i++), v));
        EXPECT_EQ(v.type, REG_SZ);
        EXPECT_EQ(v.text, t);
    }
}

TEST(HiveFormat, KeyAndFileAreCreatedWhenMissing) {
    TempDir dir;
    const std::string file = dir / "sub/HKLM.reg";
    hive::FileRegistry reg(file);
    EXPECT_FALSE(reg.KeyExists("SOFTWARE"));
    EXPECT_FALSE(reg.OpenKey(kKey, false));
    ASSERT_TRUE(reg.OpenKey(std::string("\\") + kKey, true));
    EXPECT_TRUE(reg.KeyExists("\\SOFTWARE"));
    EXPECT_TRUE(reg.KeyExists("software\\kaveno_scandor"));
    EXPECT_EQ(ReadFile(file),
              "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KAVENO_Scandor]\r\n");
}

TEST(HiveFormat, AFileItCannotParseIsNeverTouched) {
    const std::string broken[] = {
        "not a hive at all\r\n",
        kSample + "garbage line\r\n",
        kSample + "\"x\"=dword:123456789\r\n",          // more than 32 bits
        kSample + "\"x\"=\"unterminated\r\n",
        kSample + "\"x\"=hex:0g\r\n",
        kSample + "\"x\"=-\r\n",                         // deletion lines are not ours
        "Windows Registry Editor Version 5.00\r\n\"x\"=\"value before a key\"\r\n",
        "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\Software]\r\n",
        kSample + "\"x\"=hex:01,\\\r\n",                 // continuation past the end
    };
    for (const auto& text : broken) {
        TempDir dir;
        const std::string file = dir / "HKLM.reg";
        WriteFile(file, text);
        hive::FileRegistry reg(file);
        EXPECT_FALSE(reg.KeyExists(kKey)) << text;
        EXPECT_FALSE(reg.OpenKey(kKey, true)) << text;
        EXPECT_FALSE(reg.Update([](hive::Document&) { return true; })) << text;
        EXPECT_EQ(ReadFile(file), text);
    }
}

TEST(HiveFormat, NamesThatWouldBreakTheFileAreRefused) {
    TempDir dir;
    hive::FileRegistry reg(dir / "HKLM.reg");
    auto key = reg.OpenKey(kKey, true);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->WriteValue("kept", Dword(1)));
    const std::string before = ReadFile(dir / "HKLM.reg");
    EXPECT_FALSE(key->WriteValue("two\r\nlines", Dword(2)));
    EXPECT_FALSE(reg.OpenKey("SOFTWARE\\bad]\r\n[key", true));
    EXPECT_EQ(ReadFile(dir / "HKLM.reg"), before);
    // Names with quotes, backslashes and non-ASCII letters are fine.
    EXPECT_TRUE(key->WriteValue("Wert \"ä\" \\ x", Sz("v")));
    RegValue v;
    EXPECT_TRUE(key->ReadValue("Wert \"ä\" \\ x", v));
}

TEST(HiveFormat, AFolderThatCannotHoldTheFileMeansNoKey) {
    TempDir dir;
    WriteFile(dir / "plainfile", "x");
    hive::FileRegistry reg(dir / "plainfile/HKLM.reg");
    EXPECT_FALSE(reg.OpenKey(kKey, true));
    EXPECT_EQ(ReadFile(dir / "plainfile"), "x");
}

TEST(HiveLocking, ASecondWriterWaitsAndGivesUpInsteadOfInterleaving) {
    TempDir dir;
    const std::string file = dir / "HKLM.reg";
    hive::FileRegistry reg(file);
    auto key = reg.OpenKey(kKey, true);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->WriteValue("a", Dword(1)));
    int lock = ::open((file + ".lock").c_str(), O_RDWR);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    EXPECT_FALSE(key->WriteValue("a", Dword(2)));
    ::close(lock);
    RegValue v;
    ASSERT_TRUE(key->ReadValue("a", v));
    EXPECT_EQ(v.dword, 1u);
    EXPECT_TRUE(key->WriteValue("a", Dword(3)));
}

TEST(HiveLocking, TwoProcessesWritingAtOnceLoseNoValue) {
    TempDir dir;
    const std::string file = dir / "HKLM.reg";
    ASSERT_TRUE(hive::FileRegistry(file).OpenKey(kKey, true));
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    const std::string prefix = child == 0 ? "child" : "parent";
    {
        hive::FileRegistry reg(file);
        auto key = reg.OpenKey(kKey, false);
        for (int i = 0; key && i < 40; ++i) key->WriteValue(prefix + std::to_string(i), Dword(static_cast<uint32_t>(i)));
    }
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    auto doc = hive::FileRegistry(file).Load();
    ASSERT_TRUE(doc);
    ASSERT_TRUE(doc->FindKey(kKey));
    EXPECT_EQ(doc->FindKey(kKey)->values.size(), 80u);
}

// A writer killed at any point leaves the old or the new file.
TEST(HiveCrashSafety, AKilledWriterLeavesAWholeFile) {
    TempDir dir;
    const std::string file = dir / "HKLM.reg";
    const std::string big(64 * 1024, 'p');
    {
        hive::FileRegistry reg(file);
        auto key = reg.OpenKey(kKey, true);
        ASSERT_TRUE(key);
        ASSERT_TRUE(key->WriteValue("pad", Sz(big)));
        ASSERT_TRUE(key->WriteValue("counter", Dword(0)));
    }
    std::mt19937 rng(12345);
    uint32_t lastSeen = 0;
    for (int round = 0; round < 25; ++round) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            hive::FileRegistry reg(file);
            auto key = reg.OpenKey(kKey, false);
            if (!key) ::_exit(2);
            for (uint32_t n = lastSeen + 1;; ++n) {
                key->WriteValue("pad", Sz(big + std::to_string(n)));
                key->WriteValue("counter", Dword(n));
            }
        }
        ::usleep(std::uniform_int_distribution<int>(2000, 30000)(rng));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        auto doc = hive::Parse(ReadFile(file));
        ASSERT_TRUE(doc) << "round " << round;
        const hive::Key* k = doc->FindKey(kKey);
        ASSERT_TRUE(k);
        uint32_t counter = 0;
        std::string pad;
        for (const auto& v : k->values) {
            if (v.name == "counter") counter = v.value.dword;
            if (v.name == "pad") pad = v.value.text;
        }
        EXPECT_GE(counter, lastSeen);
        ASSERT_GE(pad.size(), big.size());
        EXPECT_EQ(pad.substr(0, big.size()), big);
        // Each save replaces the whole file: the pad belongs to the counter beside it.
        const std::string suffix = pad.substr(big.size());
        if (!(counter == 0 && suffix.empty())) {
            EXPECT_TRUE(suffix == std::to_string(counter) || suffix == std::to_string(counter + 1))
                << counter << " beside " << suffix;
        }
        lastSeen = counter;
    }
    EXPECT_GT(lastSeen, 0u);
    // The next writer clears what a killed one left behind.
    hive::FileRegistry reg(file);
    ASSERT_TRUE(reg.OpenKey(kKey, false)->WriteValue("counter", Dword(0)));
    EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));
}

TEST(HiveFormat, CommentLinesSurviveRewrites) {
    TempDir dir;
    const std::string file = dir / "HKLM.reg";
    WriteFile(file,
              "Windows Registry Editor Version 5.00\r\n"
              "\r\n"
              "; written by hand on the 3rd\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KAVENO_Scandor]\r\n"
              "  ; the relay of the office\r\n"
              "\"Scandor-smtphost\"=\"mx.example.org\"\r\n"
              "\"NoHDDs\"=dword:00000001\r\n"
              "; the end\r\n");
    hive::FileRegistry reg(file);
    auto key = reg.OpenKey(kKey, true);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->WriteValue("Scandor-smtphost", Sz("mail.example.org")));
    ASSERT_TRUE(key->WriteValue("Added", Dword(2)));
    EXPECT_EQ(ReadFile(file),
              "Windows Registry Editor Version 5.00\r\n"
              "\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n"  // the parent the file lacked comes first
              "\r\n"
              "; written by hand on the 3rd\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KAVENO_Scandor]\r\n"
              "; the relay of the office\r\n"
              "\"Scandor-smtphost\"=\"mail.example.org\"\r\n"
              "\"NoHDDs\"=dword:00000001\r\n"
              "\"Added\"=dword:00000002\r\n"
              "\r\n"
              "; the end\r\n");
}

TEST(HiveFormat, Regedit4FilesAreReadInTheAnsiCodePageAndRewrittenAsVersion5) {
    TempDir dir;
    const std::string file = dir / "HKLM.reg";
    // Jürgen and € in Windows-1252; hex(2) holds ANSI bytes in this format.
    WriteFile(file,
              "REGEDIT4\r\n"
              "\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KAVENO_Scandor]\r\n"
              "; Gr\xFC\xDF" "e\r\n"
              "\"Scandor-username\"=\"J\xFCrgen \x80\"\r\n"
              "\"Path\"=hex(2):25,54,4d,50,25,00\r\n"
              "\"NoHDDs\"=dword:00000003\r\n");
    hive::FileRegistry reg(file);
    auto key = reg.OpenKey(kKey, false);
    ASSERT_TRUE(key) << reg.LastFailure();
    RegValue v;
    ASSERT_TRUE(key->ReadValue("Scandor-username", v));
    EXPECT_EQ(v.text, "Jürgen €");
    ASSERT_TRUE(key->ReadValue("NoHDDs", v));
    EXPECT_EQ(v.dword, 3u);
    ASSERT_TRUE(key->WriteValue("NoHDDs", Dword(4)));
    const std::string disk = ReadFile(file);
    EXPECT_EQ(disk.rfind("Windows Registry Editor Version 5.00\r\n", 0), 0u) << disk;
    EXPECT_NE(disk.find("; Grüße\r\n\"Scandor-username\"=\"Jürgen €\"\r\n"), std::string::npos) << disk;
    EXPECT_NE(disk.find("\"Path\"=hex(2):25,00,54,00,4d,00,50,00,25,00,00,00\r\n"), std::string::npos) << disk;
    EXPECT_NE(disk.find("\"NoHDDs\"=dword:00000004\r\n"), std::string::npos);
    // What was written reads back the same.
    hive::FileRegistry again(file);
    ASSERT_TRUE(again.OpenKey(kKey, false)->ReadValue("Scandor-username", v));
    EXPECT_EQ(v.text, "Jürgen €");
}

TEST(HiveFormat, AHiveItsOwnerMadeReadOnlyIsNotRewrittenEvenByRoot) {
    TempDir dir;
    const std::string file = dir / "HKLM.reg";
    hive::FileRegistry reg(file);
    auto key = reg.OpenKey(kKey, true);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->WriteValue("a", Dword(1)));
    const std::string before = ReadFile(file);
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    EXPECT_FALSE(key->WriteValue("a", Dword(2)));  // a key opened before
    EXPECT_NE(reg.LastFailure().find("read-only"), std::string::npos) << reg.LastFailure();
    EXPECT_FALSE(reg.OpenKey(kKey, false));
    EXPECT_FALSE(reg.OpenKey("SOFTWARE\\Other", true));
    EXPECT_EQ(ReadFile(file), before);
    struct stat st{};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    // Reading still works.
    EXPECT_TRUE(reg.KeyExists(kKey));
}

TEST(HiveFormat, EveryFailureIsSaidInWords) {
    TempDir dir;
    WriteFile(dir / "bad.reg", "REGEDIT5\r\n");
    hive::FileRegistry bad(dir / "bad.reg");
    EXPECT_FALSE(bad.OpenKey(kKey, true));
    EXPECT_NE(bad.LastFailure().find("is not a registry file this program can read"), std::string::npos)
        << bad.LastFailure();
    hive::FileRegistry noFolder(dir / "missing/deeper/HKLM.reg");
    EXPECT_FALSE(noFolder.OpenKey(kKey, true));
    EXPECT_NE(noFolder.LastFailure().find("cannot be created"), std::string::npos) << noFolder.LastFailure();
    // A missing key is no failure, and a success clears the last one.
    hive::FileRegistry fine(dir / "fine.reg");
    EXPECT_FALSE(fine.OpenKey(kKey, false));
    EXPECT_EQ(fine.LastFailure(), "");
    ASSERT_TRUE(fine.OpenKey(kKey, true));
    EXPECT_EQ(fine.LastFailure(), "");
}

// A FIFO in the hive's place once held start-up in open() for good: it is no
// file, so the key cannot be opened, and one line says why.
TEST(HiveFormat, AFifoInTheHivesPlaceIsUnreadableAtOnceWithALogLine) {
    TempDir dir;
    const std::string file = dir / "HKLM.reg";
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    const std::string err = dir / "stderr.txt";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 2);
        hive::FileRegistry reg(file);
        const bool opened = reg.OpenKey(kKey, true) != nullptr;
        const bool loaded = reg.Load().has_value();
        ::_exit(opened || loaded ? 1 : 0);
    }
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 100 && done == 0; ++i) {
        done = ::waitpid(child, &status, WNOHANG);
        if (done == 0) ::usleep(50000);
    }
    if (done == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        FAIL() << "reading the settings hung on the FIFO";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a FIFO was read as a hive";
    const std::string log = ReadFile(err);
    EXPECT_EQ(log, "scandor: the settings file " + file + " is a FIFO, not a regular file; it is not read\n");
    struct stat st{};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO was replaced";
}
