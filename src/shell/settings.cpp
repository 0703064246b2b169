#include "shell/settings.h"

#include <algorithm>

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
                                             const std::vector<std::string>& names, int32_t* stored) {
    std::vector<ResumeMatch> matches;
    if (stored) *stored = 0;
    auto key = OpenProgramKey(registry);
    if (!key) return matches;
    std::vector<std::string> listed;
    for (const auto& n : names) listed.push_back(cp1252::FromUtf8(n));
    // The key is read once; a backend that cannot list its values is asked per name.
    std::vector<std::pair<std::string, RegValue>> values;
    const bool snapshot = key->ReadValues(values);
    auto lookup = [&](const std::string& name, RegValue& out) {
        if (!snapshot) return key->ReadValue(name, out);
        for (auto it = values.rbegin(); it != values.rend(); ++it) {
            if (platform::text::SameIgnoringCase(it->first, name)) {
                out = it->second;
                return true;
            }
        }
        return false;
    };
    int32_t count = 0;
    RegValue v;
    if (lookup("NoHDDs", v)) {
        if (v.type != platform::REG_DWORD) return matches;
        count = static_cast<int32_t>(v.dword);
    }
    if (stored) *stored = count;
    // The stored count is not trusted: a huge or negative one must not loop on.
    const int32_t limit = std::min(count, MaxResumeEntries);
    std::optional<int32_t> sector;
    bool sectorRead = false;
    for (int32_t n = 1; n <= limit; ++n) {
        RegValue entry;
        std::string name;
        if (lookup("HDD" + std::to_string(n), entry)) {
            if (entry.type != platform::REG_SZ) return matches;
            name = entry.text;
        }
        const std::string wanted = cp1252::FromUtf8(name);
        if (wanted.empty()) continue;
        for (size_t i = 0; i < listed.size(); ++i) {
            if (listed[i] != wanted) continue;
            matches.push_back({static_cast<int>(i), std::nullopt});
            if (!sectorRead) {
                sectorRead = true;
                int32_t value = 0;
                auto sub = registry.OpenKey(ResumeKeyPath, false);
                if (sub && ReadInteger(*sub, "actualSector", value)) sector = value;
            }
            if (!sector) return matches;
            matches.back().actualSector = *sector;
            break;
        }
    }
    return matches;
}

std::function<std::vector<ResumeMatch>(const std::vector<std::string>&)> ResumeEntriesFrom(
    platform::Registry& registry, std::function<void(const std::string&)> log) {
    return [&registry, log = std::move(log)](const std::vector<std::string>& names) {
        int32_t stored = 0;
        auto matches = ReadResumePositions(registry, names, &stored);
        if (stored > MaxResumeEntries && log)
            log(std::to_string(stored) + " resume entries are stored; only the first " +
                std::to_string(MaxResumeEntries) + " are read.");
        return matches;
    };
}

}  // namespace settings
