// The e-mail settings of the "Email Option" page and the per-drive resume
// positions, kept in HKEY_LOCAL_MACHINE\SOFTWARE\KAVENO_Scandor.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "drive/resumeentry.h"

namespace platform { class Registry; }

namespace settings {

inline constexpr const char* KeyPath = "\\SOFTWARE\\KAVENO_Scandor";
inline constexpr const char* ResumeKeyPath = "\\SOFTWARE\\KAVENO_Scandor\\nameofHdd";

// Shown when the stored value is missing or empty; the same texts as the window
// definition gives the edits.
inline constexpr const char* DefaultEmail = "scandor.user@example.com";
inline constexpr const char* DefaultEmailFrom = "scandor@example.com";
inline constexpr const char* DefaultSmtpHost = "smtp.example.com";
inline constexpr const char* DefaultUsername = "my.username";
// The built-in password ("changeme"), held scrambled.
inline constexpr const char* DefaultPasswordScrambled = "bi`ofdld";

// The six fields of the page, UTF-8.
struct EmailFields {
    bool sendByEmail = false;
    std::string email, emailFrom, smtpHost, username, password;
};

// UTF-8 -> ANSI code page -> every byte XOR 0x01 -> UTF-8. Its own inverse for any
// text the code page can hold; other characters become '?' first.
std::string ScramblePassword(const std::string& text);

// Fills the fields in order; the first failing step ends the reading and the
// fields after it keep what they held (the window definition's texts). Returns
// why stored settings could not be read, empty when they were read or when
// nothing is stored yet.
[[nodiscard]] std::string ReadSettings(platform::Registry& registry, EmailFields& fields);

// The text fields, in the order of the page; all are used as ANSI text.
enum class Field { Email, EmailFrom, SmtpHost, Username, Password };
// The first field holding a character Windows-1252 lacks, which would be
// stored or sent as '?'.
std::optional<Field> UnstorableField(const EmailFields& fields);

// Writes the fields; nothing when the key cannot be opened or a field is
// unstorable, the rest skipped after the first failing write. Returns why the
// settings were not saved, empty when they were.
[[nodiscard]] std::string SaveSettings(platform::Registry& registry, const EmailFields& fields);

// One resume entry for the drive list: the list item it copies, and the saved
// sector. The drive list adds the entry before the sector is read, so when that
// read fails the last match comes without a sector and the reading ends there:
// the list keeps that entry without a record.
using ResumeMatch = ResumeEntry;

// At most this many stored entries (HDD1 ..) are read, whatever NoHDDs says.
constexpr int32_t MaxResumeEntries = 256;

// names: the DisplayName of each listed item, in list order (UTF-8). A stored name
// and a listed one match when their ANSI forms are equal byte for byte. stored, when
// given, receives the count the key claims (NoHDDs), so a caller can say when
// entries beyond MaxResumeEntries were left unread.
std::vector<ResumeMatch> ReadResumePositions(platform::Registry& registry,
                                             const std::vector<std::string>& names,
                                             int32_t* stored = nullptr);

// The drive list's source of resume entries: reads them from the registry once per
// fill, and logs a line when more are stored than are read.
std::function<std::vector<ResumeMatch>(const std::vector<std::string>&)> ResumeEntriesFrom(
    platform::Registry& registry, std::function<void(const std::string&)> log);

}  // namespace settings
