#include "shell/settings.h"

#include "platform/platform.h"
#include "platform/text.h"
#include "shell/cp1252.h"

#include <utility>

namespace settings {
namespace {

using platform::RegValue;

// Creates \SOFTWARE when missing, then opens the program's key, creating it too.
std::unique_ptr<platform::RegistryKey> OpenProgramKey(platform::Registry& registry) {
    if (!registry.KeyExists("\\SOFTWARE")) registry.OpenKey("\\SOFTWARE", true);
    return registry.OpenKey(KeyPath, true);
}

// A missing value reads as empty; a value of another type is a failure.
bool ReadString(platform::RegistryKey& key, const char* name, std::string& out) {
    RegValue v;
    if (!key.ReadValue(name, v)) {
        out.clear();
        return true;
    }
    if (v.type != platform::REG_SZ) return false;
    out = v.text;
    return true;
}

bool ReadInteger(platform::RegistryKey& key, const char* name, int32_t& out) {
    RegValue v;
    if (!key.ReadValue(name, v) || v.type != platform::REG_DWORD) return false;
    out = static_cast<int32_t>(v.dword);
    return true;
}

bool WriteString(platform::RegistryKey& key, const char* name, const std::string& text) {
    RegValue v;
    v.type = platform::REG_SZ;
    v.text = text;
    return key.WriteValue(name, v);
}

bool WriteInteger(platform::RegistryKey& key, const char* name, uint32_t n) {
    RegValue v;
    v.type = platform::REG_DWORD;
    v.dword = n;
    return key.WriteValue(name, v);
}

}  // namespace

std::string ScramblePassword(const std::string& text) {
    std::string bytes = cp1252::FromUtf8(text);
    for (char& c : bytes) c = static_cast<char>(c ^ 0x01);
    return cp1252::ToUtf8(bytes);
}

namespace {

// Why the store failed, in words, when it gave none.
std::string FailureOf(const platform::Registry& registry) {
    std::string why = registry.LastFailure();
    return why.empty() ? std::string("the settings key cannot be opened") : why;
}

}  // namespace

std::string ReadSettings(platform::Registry& registry, EmailFields& fields) {
    auto key = OpenProgramKey(registry);
    if (!key) {
        const std::string why = FailureOf(registry);
        // Nothing stored yet is no failure: the window's texts are the settings.
        if (!registry.KeyExists(KeyPath) && registry.LastFailure().empty()) return {};
        return why;
    }
    int32_t send = 0;
    if (ReadInteger(*key, "Scandor-sendbyemail", send)) {
        fields.sendByEmail = send != 0;
    } else if (!WriteInteger(*key, "Scandor-sendbyemail", 0)) {
        return FailureOf(registry);
    }
    struct Step { const char* name; std::string* field; const char* placeholder; };
    const Step steps[] = {
        {"Scandor-email", &fields.email, DefaultEmail},
        {"Scandor-emailfrom", &fields.emailFrom, DefaultEmailFrom},
        {"Scandor-smtphost", &fields.smtpHost, DefaultSmtpHost},
        {"Scandor-username", &fields.username, DefaultUsername},
    };
    for (const Step& s : steps) {
        std::string text;
        if (!ReadString(*key, s.name, text)) return std::string(s.name) + " is not a text value";
        *s.field = text.empty() ? s.placeholder : text;
    }
    std::string stored;
    if (!ReadString(*key, "Scandor-x", stored)) return "Scandor-x is not a text value";
    if (cp1252::FromUtf8(stored).empty()) stored = DefaultPasswordScrambled;
    fields.password = ScramblePassword(stored);
    return {};
}

std::optional<Field> UnstorableField(const EmailFields& fields) {
    const std::pair<Field, const std::string*> order[] = {
        {Field::Email, &fields.email},       {Field::EmailFrom, &fields.emailFrom},
        {Field::SmtpHost, &fields.smtpHost}, {Field::Username, &fields.username},
        {Field::Password, &fields.password},
    };
    for (const auto& [field, text] : order)
        for (size_t i = 0; i < text->size();)
            if (cp1252::FromCodePoint(platform::text::NextUtf8(*text, i)) < 0) return field;
    return std::nullopt;
}

std::string SaveSettings(platform::Registry& registry, const EmailFields& fields) {
    if (UnstorableField(fields)) return "a field holds characters Windows-1252 lacks";
    auto key = OpenProgramKey(registry);
    if (!key) return FailureOf(registry);
    const bool saved = WriteString(*key, "Scandor-emailfrom", fields.emailFrom) &&
                       WriteString(*key, "Scandor-email", fields.email) &&
                       WriteString(*key, "Scandor-smtphost", fields.smtpHost) &&
                       WriteString(*key, "Scandor-username", fields.username) &&
                       WriteInteger(*key, "Scandor-sendbyemail", fields.sendByEmail ? 1u : 0u) &&
                       WriteString(*key, "Scandor-x", ScramblePassword(fields.password));
    return saved ? std::string() : FailureOf(registry);
}

std::vector<ResumeMatch> ReadResumePositions(platform::Registry& registry,
                                             const std::vector<std::string>& names) {
    std::vector<ResumeMatch> matches;
    auto key = OpenProgramKey(registry);
    if (!key) return matches;
    std::vector<std::string> listed;
    for (const auto& n : names) listed.push_back(cp1252::FromUtf8(n));
    int32_t count = 0;
    RegValue probe;
    if (key->ReadValue("NoHDDs", probe) && !ReadInteger(*key, "NoHDDs", count)) return matches;
    for (int32_t n = 1; n <= count; ++n) {
        auto again = registry.OpenKey(KeyPath, false);
        if (!again) return matches;
        std::string name;
        if (!ReadString(*again, ("HDD" + std::to_string(n)).c_str(), name)) return matches;
        const std::string wanted = cp1252::FromUtf8(name);
        if (wanted.empty()) continue;
        for (size_t i = 0; i < listed.size(); ++i) {
            if (listed[i] != wanted) continue;
            matches.push_back({static_cast<int>(i), std::nullopt});
            auto sub = registry.OpenKey(ResumeKeyPath, false);
            int32_t sector = 0;
            if (!sub || !ReadInteger(*sub, "actualSector", sector)) return matches;
            matches.back().actualSector = sector;
            break;
        }
    }
    return matches;
}

}  // namespace settings
