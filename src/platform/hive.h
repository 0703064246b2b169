// HKEY_LOCAL_MACHINE kept in one file in the Windows .reg text format
// ("Windows Registry Editor Version 5.00", UTF-8; "REGEDIT4" files in Windows-1252
// are read too and rewritten in the first form). REG_SZ and REG_DWORD values are
// typed; values of any other type are kept as written, and so are ';' comments. Every change is a locked
// read-modify-write that replaces the file atomically, so a crash leaves the old or
// the new file. A file that cannot be parsed is never rewritten: the registry then
// behaves as if the key could not be opened.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace platform::hive {

struct Value {
    std::string name;         // as written; compared without regard to case
    RegValue value;
    std::string text;         // the text after '=' as read; empty once changed
    std::vector<std::string> comments;  // ';' lines just above it
};

struct Key {
    std::string path;         // below HKEY_LOCAL_MACHINE, e.g. "SOFTWARE\\KAVENO_Scandor"
    std::vector<Value> values;
    std::vector<std::string> comments;  // ';' lines just above its header
};

struct Document {
    std::vector<Key> keys;
    std::vector<std::string> trailingComments;  // after the last value
    Key* FindKey(std::string_view path);
    const Key* FindKey(std::string_view path) const;
    // Adds the key and its missing parents; returns the key.
    Key& AddKey(std::string_view path);
};

// nullopt when the text is not a hive this program can rewrite safely.
std::optional<Document> Parse(std::string_view text);
std::string Format(const Document& doc);

// Case-insensitive comparison of key and value names, as the registry does.
bool SameName(std::string_view a, std::string_view b);

// A Registry over a hive file. The file's folder is created (mode 0700) when missing.
class FileRegistry final : public Registry {
public:
    explicit FileRegistry(std::string path);
    bool KeyExists(const std::string& path) override;
    std::unique_ptr<RegistryKey> OpenKey(const std::string& path, bool create) override;
    std::string LastFailure() const override { return failure_; }

    const std::string& Path() const { return path_; }

    // Loads the file: an empty document when it is missing, nullopt when it cannot
    // be read or parsed.
    std::optional<Document> Load() const;
    // Applies change to the current file under the writer lock and replaces the file.
    // False (and the file untouched) when the file cannot be parsed, locked or written,
    // or is read-only: its owner took the write permission away (root included).
    template <class F>
    bool Update(F&& change) {
        return UpdateImpl([&](Document& d) { return change(d); });
    }

private:
    bool UpdateImpl(const std::function<bool(Document&)>& change);
    // Keeps why for LastFailure(); returns false.
    bool Fail(std::string why) const;
    std::string path_;
    mutable std::string failure_;
    mutable bool refusedLogged_ = false;  // the line about a non-regular file is written once
};

}  // namespace platform::hive
