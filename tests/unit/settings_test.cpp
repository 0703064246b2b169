#include <gtest/gtest.h>

#include "platform/hive.h"
#include "shell/cp1252.h"
#include "shell/settings.h"
#include "support/tempdir.h"

#include <sys/stat.h>

using namespace platform;
using settings::EmailFields;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string kKeyLine = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KAVENO_Scandor]\r\n";
const std::string kSubLine = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KAVENO_Scandor\\nameofHdd]\r\n";

// The window definition's texts, which a failed read leaves in place.
EmailFields WindowTexts() {
    return {false, "scandor.user@example.com", "scandor@example.com", "smtp.example.com",
            "my.username", "secret"};
}

struct Hive {
    TempDir dir;
    std::string file = dir / "HKLM.reg";
    hive::FileRegistry reg{file};
    explicit Hive(const std::string& text = "") {
        if (!text.empty()) WriteFile(file, text);
    }
    std::string failure;  // of the last Read
    EmailFields Read(EmailFields f = WindowTexts()) {
        failure = settings::ReadSettings(reg, f);
        return f;
    }
};

}  // namespace

TEST(Scrambling, FlipsTheLowestBitOfEachAnsiByteAndUndoesItself) {
    EXPECT_EQ(settings::ScramblePassword("changeme"), "bi`ofdld");
    EXPECT_EQ(settings::ScramblePassword(settings::DefaultPasswordScrambled), "changeme");
    // ü is 0xFC in Windows-1252 and becomes 0xFD, ý; € (0x80) becomes 0x81, undefined there.
    EXPECT_EQ(settings::ScramblePassword("ü€"), "ý\xC2\x81");
    for (const std::string pw : {"P@ss wörd!", "€‚ƒ„…†‡ˆ‰Š‹ŒŽ''\"\"•–—˜™š›œžŸ", ""})
        EXPECT_EQ(settings::ScramblePassword(settings::ScramblePassword(pw)), pw);
}

TEST(Cp1252, EveryByteSurvivesTheRoundTripAndUnknownCharactersBecomeQuestionMarks) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(cp1252::FromUtf8(cp1252::ToUtf8(all)), all);
    EXPECT_EQ(cp1252::ToUtf8("\x80\x9F\xE4"), "€Ÿä");
    EXPECT_EQ(cp1252::FromUtf8("Łódź ✓"), "?\xF3" "d? ?");
    EXPECT_EQ(cp1252::FromUtf8("bad \xC3"), "bad ?");
}

TEST(ReadSettings, FirstStartCreatesTheKeyWritesOnlyTheFlagAndShowsTheDefaults) {
    Hive h;
    EmailFields f = h.Read({true, "", "", "", "", ""});
    EXPECT_TRUE(f.sendByEmail);  // unchanged: the read failed, 0 is written instead
    EXPECT_EQ(f.email, "scandor.user@example.com");
    EXPECT_EQ(f.emailFrom, "scandor@example.com");
    EXPECT_EQ(f.smtpHost, "smtp.example.com");
    EXPECT_EQ(f.username, "my.username");
    EXPECT_EQ(f.password, "changeme");
    EXPECT_EQ(ReadFile(h.file), kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n" + kKeyLine +
                                    "\"Scandor-sendbyemail\"=dword:00000000\r\n");
}

TEST(SaveSettings, SaveThenRestartRestoresTheSixFieldsWithThePasswordScrambledOnDisk) {
    Hive h;
    const EmailFields typed{true, "ops@example.net, boss@example.net", "scandor@host.example",
                            "mail.example.net", "Jürgen", "s3cr€t \"pw\""};
    EXPECT_EQ(settings::SaveSettings(h.reg, typed), "");
    hive::FileRegistry fresh(h.file);
    EmailFields f = WindowTexts();
    EXPECT_EQ(settings::ReadSettings(fresh, f), "");
    EXPECT_EQ(f.sendByEmail, typed.sendByEmail);
    EXPECT_EQ(f.email, typed.email);
    EXPECT_EQ(f.emailFrom, typed.emailFrom);
    EXPECT_EQ(f.smtpHost, typed.smtpHost);
    EXPECT_EQ(f.username, typed.username);
    EXPECT_EQ(f.password, typed.password);
    const std::string disk = ReadFile(h.file);
    EXPECT_EQ(disk.find("s3cr"), std::string::npos);
    // s 3 c r € t -> r 2 b s 0x81 u; the quote 0x22 becomes 0x23 '#'.
    EXPECT_NE(disk.find("\"Scandor-x\"=\"r2bs\xC2\x81u!#qv#\"\r\n"), std::string::npos) << disk;
    // The values are written in the order the program saves them.
    const char* order[] = {"Scandor-emailfrom", "Scandor-email\"", "Scandor-smtphost",
                           "Scandor-username", "Scandor-sendbyemail", "Scandor-x"};
    size_t at = 0;
    for (const char* name : order) {
        size_t pos = disk.find(std::string("\"") + name);
        ASSERT_NE(pos, std::string::npos) << name;
        EXPECT_GT(pos, at) << name;
        at = pos;
    }
}

TEST(SaveSettings, AnEmptyPasswordComesBackAsTheDefaultAndEmptyFieldsAsPlaceholders) {
    Hive h;
    EXPECT_EQ(settings::SaveSettings(h.reg, {false, "", "", "", "", ""}), "");
    EmailFields f = h.Read({true, "x", "x", "x", "x", "x"});
    EXPECT_FALSE(f.sendByEmail);
    EXPECT_EQ(f.email, "scandor.user@example.com");
    EXPECT_EQ(f.username, "my.username");
    EXPECT_EQ(f.password, "changeme");
}

TEST(ReadSettings, AValueOfTheWrongTypeStopsTheReadingThere) {
    Hive h(kHeader + kKeyLine +
           "\"Scandor-sendbyemail\"=dword:00000001\r\n"
           "\"Scandor-email\"=\"to@example.org\"\r\n"
           "\"Scandor-emailfrom\"=dword:00000005\r\n"
           "\"Scandor-smtphost\"=\"never.read\"\r\n"
           "\"Scandor-x\"=\"qv\"\r\n");
    const std::string before = ReadFile(h.file);
    EmailFields f = h.Read();
    EXPECT_TRUE(f.sendByEmail);
    EXPECT_EQ(f.email, "to@example.org");
    EXPECT_EQ(f.emailFrom, "scandor@example.com");  // the window's text
    EXPECT_EQ(f.smtpHost, "smtp.example.com");
    EXPECT_EQ(f.password, "secret");
    EXPECT_EQ(ReadFile(h.file), before);  // nothing lost, nothing written
}

TEST(ReadSettings, ANonIntegerFlagIsRewrittenAsZeroAndTheRestIsRead) {
    Hive h(kHeader + kKeyLine + "\"Scandor-sendbyemail\"=\"yes\"\r\n\"Scandor-smtphost\"=\"mx.example.org\"\r\n"
                                "\"Other\"=hex(2):41,00,00,00\r\n");
    EmailFields f = h.Read({true, "", "", "", "", ""});
    EXPECT_TRUE(f.sendByEmail);
    EXPECT_EQ(f.smtpHost, "mx.example.org");
    const std::string disk = ReadFile(h.file);
    EXPECT_NE(disk.find("\"Scandor-sendbyemail\"=dword:00000000\r\n"), std::string::npos);
    EXPECT_NE(disk.find("\"Other\"=hex(2):41,00,00,00\r\n"), std::string::npos);
}

TEST(ReadSettings, AKeyThatCannotBeOpenedLeavesTheWindowTextsAndSavesNothing) {
    for (const std::string& text : {kHeader + kKeyLine + "garbage\r\n", std::string("\x00\x01\x02", 3)}) {
        Hive h(text);
        EmailFields f = h.Read();
        EXPECT_EQ(f.email, WindowTexts().email);
        EXPECT_EQ(f.password, "secret");
        EXPECT_NE(h.failure, "");
        EXPECT_NE(settings::SaveSettings(h.reg, {true, "a", "b", "c", "d", "e"}), "");
        EXPECT_EQ(ReadFile(h.file), text);
    }
}

TEST(ReadSettings, AHugeValueIsReadWhole) {
    Hive h;
    const std::string huge(1 << 20, 'h');
    EXPECT_EQ(settings::SaveSettings(h.reg, {false, huge, "f@x", "host", "user", "pw"}), "");
    EmailFields f = h.Read();
    EXPECT_EQ(f.email, huge);
    EXPECT_EQ(f.password, "pw");
}

TEST(SettingsFailures, AreSaidWhenStoredSettingsCannotBeReadOrSaved) {
    {
        Hive fresh;  // nothing stored yet is no failure
        fresh.Read();
        EXPECT_EQ(fresh.failure, "");
    }
    {
        Hive unparsable(kHeader + kKeyLine + "\"Scandor-email\"=\"to@example.org\r\n");
        unparsable.Read();
        EXPECT_NE(unparsable.failure.find("is not a registry file this program can read"), std::string::npos)
            << unparsable.failure;
    }
    {
        Hive wrongType(kHeader + kKeyLine + "\"Scandor-sendbyemail\"=dword:00000000\r\n"
                                            "\"Scandor-email\"=dword:00000001\r\n");
        wrongType.Read();
        EXPECT_NE(wrongType.failure.find("Scandor-email"), std::string::npos) << wrongType.failure;
    }
    {
        Hive readOnly(kHeader + kKeyLine + "\"Scandor-sendbyemail\"=dword:00000001\r\n");
        ASSERT_EQ(::chmod(readOnly.file.c_str(), 0444), 0);
        const std::string before = ReadFile(readOnly.file);
        const std::string why = settings::SaveSettings(readOnly.reg, {true, "a", "b", "c", "d", "e"});
        EXPECT_NE(why.find("read-only"), std::string::npos) << why;
        EXPECT_EQ(ReadFile(readOnly.file), before);
    }
    {
        TempDir dir;
        hive::FileRegistry noFolder(dir / "gone/deeper/HKLM.reg");
        EmailFields f = WindowTexts();
        EXPECT_EQ(settings::ReadSettings(noFolder, f), "");  // nothing stored there either
        EXPECT_NE(settings::SaveSettings(noFolder, f).find("cannot be created"), std::string::npos);
    }
}

TEST(SettingsFailures, ARegedit4FileIsReadAndTheNextSaveWritesTodaysFormatWithItsComments) {
    Hive h("REGEDIT4\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KAVENO_Scandor]\r\n"
           "; set up by the administrator\r\n"
           "\"Scandor-sendbyemail\"=dword:00000001\r\n"
           "\"Scandor-smtphost\"=\"mx.example.org\"\r\n"
           "\"Scandor-username\"=\"J\xFCrgen\"\r\n");
    EmailFields f = h.Read();
    EXPECT_EQ(h.failure, "");
    EXPECT_TRUE(f.sendByEmail);
    EXPECT_EQ(f.smtpHost, "mx.example.org");
    EXPECT_EQ(f.username, "Jürgen");
    f.smtpHost = "mail.example.org";
    EXPECT_EQ(settings::SaveSettings(h.reg, f), "");
    const std::string disk = ReadFile(h.file);
    EXPECT_EQ(disk.rfind(kHeader, 0), 0u) << disk;
    EXPECT_NE(disk.find("; set up by the administrator\r\n"), std::string::npos) << disk;
    EXPECT_NE(disk.find("\"Scandor-username\"=\"Jürgen\""), std::string::npos) << disk;
    EXPECT_EQ(h.Read().smtpHost, "mail.example.org");
}

TEST(SettingsFailures, FieldsWindows1252CannotHoldAreRefusedAndNothingChanges) {
    Hive h;
    const EmailFields stored{true, "a@example.org", "b@example.org", "mx.example.org", "Jürgen", "€uro‚ÿ"};
    ASSERT_EQ(settings::SaveSettings(h.reg, stored), "");
    EXPECT_FALSE(settings::UnstorableField(stored));
    const std::string before = ReadFile(h.file);
    struct Case { EmailFields fields; settings::Field field; };
    auto with = [&](std::string EmailFields::*member, const char* text) {
        EmailFields f = stored;
        f.*member = text;
        return f;
    };
    const Case cases[] = {
        {with(&EmailFields::password, "пароль"), settings::Field::Password},
        {with(&EmailFields::password, "passð"), settings::Field::Password},
        {with(&EmailFields::username, "Łukasz"), settings::Field::Username},
        {with(&EmailFields::email, "ops@bücher.example, 李@example.cn"), settings::Field::Email},
        {with(&EmailFields::emailFrom, "scandor@例え.jp"), settings::Field::EmailFrom},
        {with(&EmailFields::smtpHost, "smtp.münchen.deâ"), settings::Field::SmtpHost},
    };
    for (const Case& c : cases) {
        auto field = settings::UnstorableField(c.fields);
        ASSERT_TRUE(field) << c.fields.password;
        EXPECT_EQ(*field, c.field);
        EXPECT_NE(settings::SaveSettings(h.reg, c.fields), "");
        EXPECT_EQ(ReadFile(h.file), before);
    }
    EmailFields f = h.Read();
    EXPECT_EQ(f.password, stored.password);
}

namespace {

std::vector<std::pair<int, std::optional<int64_t>>> Resume(Hive& h, const std::vector<std::string>& names) {
    std::vector<std::pair<int, std::optional<int64_t>>> out;
    for (const auto& m : settings::ReadResumePositions(h.reg, names)) out.emplace_back(m.item, m.actualSector);
    return out;
}

const std::vector<std::string> kListed = {"A:\\", " WDC WD5000 (465.8 GB)", "Ünïcode disk", "spare"};

}  // namespace

TEST(ResumeRead, NoCountOrZeroMeansNoEntries) {
    Hive none;
    EXPECT_TRUE(Resume(none, kListed).empty());
    Hive zero(kHeader + kKeyLine + "\"NoHDDs\"=dword:00000000\r\n\"HDD1\"=\"spare\"\r\n" + kSubLine +
              "\"actualSector\"=dword:00000001\r\n");
    EXPECT_TRUE(Resume(zero, kListed).empty());
    Hive negative(kHeader + kKeyLine + "\"NoHDDs\"=dword:ffffffff\r\n\"HDD1\"=\"spare\"\r\n");
    EXPECT_TRUE(Resume(negative, kListed).empty());
}

TEST(ResumeRead, MatchesTheFirstListedNameInOrderAndSignExtendsTheSector) {
    Hive h(kHeader + kKeyLine +
           "\"NoHDDs\"=dword:00000004\r\n"
           "\"HDD1\"=\"Ünïcode disk\"\r\n"
           "\"HDD2\"=\"no such drive\"\r\n"
           "\"HDD3\"=\" WDC WD5000 (465.8 GB)\"\r\n" +
           kSubLine + "\"actualSector\"=dword:fffffff6\r\n");
    // HDD4 is missing: it reads as empty and matches nothing.
    auto names = kListed;
    names.push_back("Ünïcode disk");
    EXPECT_EQ(Resume(h, names), (std::vector<std::pair<int, std::optional<int64_t>>>{{2, -10}, {1, -10}}));
}

TEST(ResumeRead, AFailingReadEndsTheScanAndKeepsWhatWasFound) {
    // The entry is added before its sector is read: without "actualSector" it stays,
    // without a sector, and the scan ends.
    Hive noSector(kHeader + kKeyLine + "\"NoHDDs\"=dword:00000002\r\n\"HDD1\"=\"spare\"\r\n\"HDD2\"=\"A:\\\\\"\r\n" +
                  kSubLine);
    EXPECT_EQ(Resume(noSector, kListed), (std::vector<std::pair<int, std::optional<int64_t>>>{{3, std::nullopt}}));
    Hive noSubkey(kHeader + kKeyLine + "\"NoHDDs\"=dword:00000001\r\n\"HDD1\"=\"spare\"\r\n");
    EXPECT_EQ(Resume(noSubkey, kListed).size(), 1u);
    Hive textCount(kHeader + kKeyLine + "\"NoHDDs\"=\"2\"\r\n\"HDD1\"=\"spare\"\r\n" + kSubLine +
                   "\"actualSector\"=dword:00000007\r\n");
    EXPECT_TRUE(Resume(textCount, kListed).empty());
    Hive badName(kHeader + kKeyLine + "\"NoHDDs\"=dword:00000003\r\n\"HDD1\"=\"spare\"\r\n\"HDD2\"=dword:00000001\r\n"
                 "\"HDD3\"=\"A:\\\\\"\r\n" + kSubLine + "\"actualSector\"=dword:00000007\r\n");
    EXPECT_EQ(Resume(badName, kListed), (std::vector<std::pair<int, std::optional<int64_t>>>{{3, 7}}));
    Hive textSector(kHeader + kKeyLine + "\"NoHDDs\"=dword:00000001\r\n\"HDD1\"=\"spare\"\r\n" + kSubLine +
                    "\"actualSector\"=\"7\"\r\n");
    EXPECT_EQ(Resume(textSector, kListed), (std::vector<std::pair<int, std::optional<int64_t>>>{{3, std::nullopt}}));
}

namespace {

// Counts every reading of the hive file that goes through the registry.
class CountingRegistry final : public Registry {
public:
    explicit CountingRegistry(Registry& inner) : inner_(inner) {}
    bool KeyExists(const std::string& path) override {
        ++readings;
        return inner_.KeyExists(path);
    }
    std::unique_ptr<RegistryKey> OpenKey(const std::string& path, bool create) override {
        ++readings;
        auto k = inner_.OpenKey(path, create);
        if (!k) return nullptr;
        return std::make_unique<Key>(std::move(k), readings);
    }
    int readings = 0;

private:
    class Key final : public RegistryKey {
    public:
        Key(std::unique_ptr<RegistryKey> k, int& readings) : k_(std::move(k)), readings_(readings) {}
        bool ReadValue(const std::string& name, RegValue& out) override {
            ++readings_;
            return k_->ReadValue(name, out);
        }
        bool ReadValues(std::vector<std::pair<std::string, RegValue>>& out) override {
            ++readings_;
            return k_->ReadValues(out);
        }
        bool WriteValue(const std::string& name, const RegValue& value) override { return k_->WriteValue(name, value); }

    private:
        std::unique_ptr<RegistryKey> k_;
        int& readings_;
    };
    Registry& inner_;
};

std::string ResumeHive(uint32_t count, int stored) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", count);
    std::string text = kHeader + kKeyLine + "\"NoHDDs\"=dword:" + hex + "\r\n";
    for (int n = 1; n <= stored; ++n) text += "\"HDD" + std::to_string(n) + "\"=\"spare\"\r\n";
    return text + kSubLine + "\"actualSector\"=dword:00000007\r\n";
}

}  // namespace

TEST(ResumeRead, TheLargestCountEndsAfterTheLimitAndSaysMoreAreStored) {
    // 0x7fffffff once overflowed the loop counter and never ended.
    Hive h(ResumeHive(0x7fffffffu, 3));
    int32_t stored = 0;
    const auto matches = settings::ReadResumePositions(h.reg, kListed, &stored);
    EXPECT_EQ(stored, 0x7fffffff);
    EXPECT_EQ(matches.size(), 3u);
    std::vector<std::string> log;
    auto reader = settings::ResumeEntriesFrom(h.reg, [&](const std::string& l) { log.push_back(l); });
    EXPECT_EQ(reader(kListed).size(), 3u);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "2147483647 resume entries are stored; only the first 256 are read.");
}

TEST(ResumeRead, AtMost256EntriesAreReadAndTheHiveIsReadAConstantNumberOfTimes) {
    Hive big(ResumeHive(300, 300));
    CountingRegistry counted(big.reg);
    const auto matches = settings::ReadResumePositions(counted, kListed);
    EXPECT_EQ(matches.size(), static_cast<size_t>(settings::MaxResumeEntries));
    // Reading per entry made this grow with the count (three readings each).
    EXPECT_LE(counted.readings, 6);
    Hive small(ResumeHive(2, 2));
    CountingRegistry countedSmall(small.reg);
    EXPECT_EQ(settings::ReadResumePositions(countedSmall, kListed).size(), 2u);
    EXPECT_EQ(countedSmall.readings, counted.readings);
    std::vector<std::string> log;
    settings::ResumeEntriesFrom(small.reg, [&](const std::string& l) { log.push_back(l); })(kListed);
    EXPECT_TRUE(log.empty()) << "no line while every stored entry is read";
}
