#include "platform/hive.h"
#include "platform/filekind.h"
#include "platform/text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace platform::hive {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kRoot = "HKEY_LOCAL_MACHINE";
constexpr uint32_t REG_BINARY = 3;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Key paths are kept without leading or trailing backslashes.
std::string NormalPath(std::string_view p) {
    while (!p.empty() && p.front() == '\\') p.remove_prefix(1);
    while (!p.empty() && p.back() == '\\') p.remove_suffix(1);
    return std::string(p);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = Lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// UTF-16LE (up to the first null) -> UTF-8, as a REG_SZ is read.
std::string Utf16ToUtf8(std::string_view b) {
    std::string out;
    auto unit = [&](size_t i) -> char32_t {
        return static_cast<unsigned char>(b[i]) | static_cast<unsigned char>(b[i + 1]) << 8;
    };
    for (size_t i = 0; i + 1 < b.size(); i += 2) {
        char32_t cp = unit(i);
        if (cp == 0) break;
        if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < b.size()) {
            char32_t lo = unit(i + 2);
            if (lo >= 0xDC00 && lo < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                i += 2;
            }
        }
        if (cp >= 0xD800 && cp < 0xE000) cp = 0xFFFD;
        text::AppendUtf8(out, cp);
    }
    return out;
}

// UTF-8 -> UTF-16LE with the terminating null; bad sequences become U+FFFD.
std::vector<uint8_t> Utf8ToUtf16(std::string_view s) {
    std::vector<uint8_t> out;
    auto put = [&](char32_t u) {
        out.push_back(static_cast<uint8_t>(u & 0xFF));
        out.push_back(static_cast<uint8_t>(u >> 8));
    };
    for (size_t i = 0; i < s.size();) {
        char32_t cp = text::NextUtf8(s, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    put(0);
    return out;
}

// A quoted .reg string at s[0]; escapes are \\ and \" only. Sets end past the quote.
std::optional<std::string> Quoted(std::string_view s, size_t& end) {
    if (s.empty() || s[0] != '"') return std::nullopt;
    std::string out;
    for (size_t i = 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            end = i + 1;
            return out;
        }
        if (c == '\\') {
            if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) return std::nullopt;
            out += s[++i];
        } else {
            out += c;
        }
    }
    return std::nullopt;
}

std::optional<RegValue> ParseData(std::string_view data) {
    RegValue v;
    if (!data.empty() && data[0] == '"') {
        size_t end = 0;
        auto s = Quoted(data, end);
        if (!s || !Trim(data.substr(end)).empty()) return std::nullopt;
        v.type = REG_SZ;
        v.text = std::move(*s);
        return v;
    }
    if (data.substr(0, 6) == "dword:") {
        auto digits = data.substr(6);
        if (digits.empty() || digits.size() > 8) return std::nullopt;
        uint32_t n = 0;
        for (char c : digits) {
            int d = HexDigit(c);
            if (d < 0) return std::nullopt;
            n = n << 4 | static_cast<uint32_t>(d);
        }
        v.type = REG_DWORD;
        v.dword = n;
        return v;
    }
    uint32_t type;
    std::string_view bytes;
    if (data.substr(0, 4) == "hex:") {
        type = REG_BINARY;
        bytes = data.substr(4);
    } else if (data.substr(0, 4) == "hex(") {
        auto close = data.find("):", 4);
        if (close == std::string_view::npos || close == 4 || close > 12) return std::nullopt;
        type = 0;
        for (char c : data.substr(4, close - 4)) {
            int d = HexDigit(c);
            if (d < 0) return std::nullopt;
            type = type << 4 | static_cast<uint32_t>(d);
        }
        bytes = data.substr(close + 2);
    } else {
        return std::nullopt;
    }
    // Pairs of hex digits separated by commas; continuation lines are already joined.
    std::vector<uint8_t> raw;
    size_t i = 0;
    auto skipBlank = [&] {
        while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\\' ||
                                    bytes[i] == '\r' || bytes[i] == '\n'))
            ++i;
    };
    skipBlank();
    while (i < bytes.size()) {
        if (i + 1 >= bytes.size()) return std::nullopt;
        int hi = HexDigit(bytes[i]), lo = HexDigit(bytes[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        raw.push_back(static_cast<uint8_t>(hi << 4 | lo));
        i += 2;
        skipBlank();
        if (i < bytes.size()) {
            if (bytes[i] != ',') return std::nullopt;
            ++i;
            skipBlank();
        }
    }
    if (type == REG_SZ) {
        v.type = REG_SZ;
        v.text = Utf16ToUtf8(std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()));
    } else if (type == REG_DWORD && raw.size() == 4) {
        v.type = REG_DWORD;
        v.dword = raw[0] | raw[1] << 8 | raw[2] << 16 | static_cast<uint32_t>(raw[3]) << 24;
    } else {
        v.type = type;
    }
    v.raw = std::move(raw);
    return v;
}

std::string HexText(uint32_t type, const std::vector<uint8_t>& raw) {
    char buf[16];
    std::string out;
    if (type == REG_BINARY) {
        out = "hex:";
    } else {
        std::snprintf(buf, sizeof buf, "hex(%x):", type);
        out = buf;
    }
    size_t lineLength = out.size() + 2;
    for (size_t i = 0; i < raw.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", raw[i]);
        out += buf;
        lineLength += 2;
        if (i + 1 < raw.size()) {
            out += ',';
            ++lineLength;
            if (lineLength > 76) {
                out += "\\\r\n  ";
                lineLength = 2;
            }
        }
    }
    return out;
}

std::string QuotedText(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + '"';
}

std::string DataText(const RegValue& v) {
    if (v.type == REG_SZ) {
        for (char c : v.text)
            if (static_cast<unsigned char>(c) < 0x20) return HexText(REG_SZ, Utf8ToUtf16(v.text));
        return QuotedText(v.text);
    }
    if (v.type == REG_DWORD) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "dword:%08x", v.dword);
        return buf;
    }
    return HexText(v.type, v.raw);
}

bool ReadAll(int fd, std::string& out) {
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        out.append(buf, static_cast<size_t>(n));
    }
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string Folder(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { if (fd_ >= 0) ::close(fd_); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { int f = fd_; fd_ = -1; return f; }
private:
    int fd_;
};

class FileKey final : public RegistryKey {
public:
    FileKey(FileRegistry& reg, std::string path) : reg_(reg), path_(std::move(path)) {}

    bool ReadValue(const std::string& name, RegValue& out) override {
        auto doc = reg_.Load();
        if (!doc) return false;
        const Key* k = doc->FindKey(path_);
        if (!k) return false;
        // A name written twice counts as the last one, as when the file is imported.
        for (auto it = k->values.rbegin(); it != k->values.rend(); ++it) {
            if (SameName(it->name, name)) {
                out = it->value;
                return true;
            }
        }
        return false;
    }

    bool ReadValues(std::vector<std::pair<std::string, RegValue>>& out) override {
        out.clear();
        auto doc = reg_.Load();
        if (!doc) return false;
        const Key* k = doc->FindKey(path_);
        if (!k) return false;
        for (const auto& v : k->values) out.emplace_back(v.name, v.value);
        return true;
    }

    bool WriteValue(const std::string& name, const RegValue& value) override {
        if (value.type > 0xFFFF) return false;
        return reg_.Update([&](Document& d) {
            Key& k = d.AddKey(path_);
            for (auto& v : k.values) {
                if (SameName(v.name, name)) {
                    v.value = value;
                    v.text.clear();
                    return true;
                }
            }
            k.values.push_back({name, value, {}});
            return true;
        });
    }

private:
    FileRegistry& reg_;
    std::string path_;
};

}  // namespace

bool SameName(std::string_view a, std::string_view b) { return text::SameIgnoringCase(a, b); }

Key* Document::FindKey(std::string_view path) {
    for (auto& k : keys)
        if (SameName(k.path, path)) return &k;
    return nullptr;
}

const Key* Document::FindKey(std::string_view path) const {
    return const_cast<Document*>(this)->FindKey(path);
}

Key& Document::AddKey(std::string_view path) {
    std::string p = NormalPath(path);
    if (Key* k = FindKey(p)) return *k;
    auto slash = p.find_last_of('\\');
    if (slash != std::string::npos) AddKey(std::string_view(p).substr(0, slash));
    keys.push_back({p, {}});
    return keys.back();
}

std::optional<Document> Parse(std::string_view text) {
    // Registry Editor itself exports UTF-16LE with a byte-order mark.
    if (text.substr(0, 2) == "\xFF\xFE") {
        const std::string utf8 = Utf16ToUtf8(text.substr(2));
        return Parse(utf8);
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    // Lines without their CR.
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        auto nl = text.find('\n');
        auto line = text.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }
    Document doc;
    size_t i = 0;
    while (i < lines.size() && Trim(lines[i]).empty()) ++i;
    if (i == lines.size() || Trim(lines[i]) != kHeader) return std::nullopt;
    Key* current = nullptr;
    for (++i; i < lines.size(); ++i) {
        std::string_view line = Trim(lines[i]);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            if (line.back() != ']') return std::nullopt;
            auto full = line.substr(1, line.size() - 2);
            if (full.size() < kRoot.size() || !SameName(full.substr(0, kRoot.size()), kRoot))
                return std::nullopt;
            auto rest = full.substr(kRoot.size());
            if (!rest.empty() && rest[0] != '\\') return std::nullopt;
            std::string path = NormalPath(rest);
            if (path.find("\\\\") != std::string::npos) return std::nullopt;
            current = &doc.AddKey(path);
            continue;
        }
        if (!current) return std::nullopt;
        std::string name;
        size_t eq;
        if (line[0] == '@') {
            eq = 1;
        } else {
            auto n = Quoted(line, eq);
            if (!n) return std::nullopt;
            name = std::move(*n);
        }
        eq = line.find_first_not_of(" \t", eq);
        if (eq == std::string_view::npos || line[eq] != '=') return std::nullopt;
        std::string data(Trim(line.substr(eq + 1)));
        // hex values continue on the next line after a trailing backslash.
        while (!data.empty() && data.back() == '\\' && data.substr(0, 3) == "hex") {
            if (++i == lines.size()) return std::nullopt;
            data += "\r\n";
            data += lines[i];
            while (!data.empty() && (data.back() == ' ' || data.back() == '\t')) data.pop_back();
        }
        auto v = ParseData(data);
        if (!v) return std::nullopt;
        Value value{name, std::move(*v), data};
        bool replaced = false;
        for (auto& old : current->values) {
            if (SameName(old.name, name)) {
                old = value;
                replaced = true;
            }
        }
        if (!replaced) current->values.push_back(std::move(value));
    }
    return doc;
}

std::string Format(const Document& doc) {
    std::string out(kHeader);
    out += "\r\n";
    for (const Key& k : doc.keys) {
        out += "\r\n[";
        out += kRoot;
        if (!k.path.empty()) out += "\\" + k.path;
        out += "]\r\n";
        for (const Value& v : k.values) {
            out += v.name.empty() ? std::string("@") : QuotedText(v.name);
            out += '=';
            out += v.text.empty() ? DataText(v.value) : v.text;
            out += "\r\n";
        }
    }
    return out;
}

FileRegistry::FileRegistry(std::string path) : path_(std::move(path)) {}

std::optional<Document> FileRegistry::Load() const {
    // Non-blocking: a FIFO put in the hive's place must not hold start-up.
    Fd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        if (errno == ENOENT) return Document{};
        return std::nullopt;
    }
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0) return std::nullopt;
    if (!S_ISREG(st.st_mode)) {
        if (!refusedLogged_)
            std::fprintf(stderr, "scandor: the settings file %s is %s, not a regular file; it is not read\n",
                         PrintablePath(path_).c_str(), FileKindText(st.st_mode).c_str());
        refusedLogged_ = true;
        return std::nullopt;
    }
    std::string text;
    if (!ReadAll(fd.get(), text)) return std::nullopt;
    return Parse(text);
}

bool FileRegistry::UpdateImpl(const std::function<bool(Document&)>& change) {
    const std::string folder = Folder(path_);
    struct stat st{};
    if (::stat(folder.c_str(), &st) != 0) {
        if (errno != ENOENT || ::mkdir(folder.c_str(), 0700) != 0) return false;
    }
    Fd lock(::open((path_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (lock.get() < 0) return false;
    // A second writer waits its turn; one that never lets go makes this save fail
    // instead of hanging the window.
    for (int tries = 0; ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0; ++tries) {
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (tries == 200) return false;
        timespec pause{0, 10'000'000};
        ::nanosleep(&pause, nullptr);
    }
    auto doc = Load();
    if (!doc || !change(*doc)) return false;
    const std::string text = Format(*doc);
    // Whatever went in (a name with a line break, say), what goes out must read back.
    if (!Parse(text)) return false;
    // Writers hold the lock, so a temporary file left over is a dead writer's.
    const std::string temp = path_ + ".tmp";
    ::unlink(temp.c_str());
    Fd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (out.get() < 0) return false;
    bool ok = ::fchmod(out.get(), 0600) == 0 && WriteAll(out.get(), text) && ::fsync(out.get()) == 0;
    ok = (::close(out.release()) == 0) && ok;
    if (!ok || ::rename(temp.c_str(), path_.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return true;
}

bool FileRegistry::KeyExists(const std::string& path) {
    auto doc = Load();
    return doc && doc->FindKey(NormalPath(path)) != nullptr;
}

std::unique_ptr<RegistryKey> FileRegistry::OpenKey(const std::string& path, bool create) {
    const std::string key = NormalPath(path);
    auto doc = Load();
    if (!doc) return nullptr;
    // The key is opened with full access: a file this process cannot replace is
    // as good as a key it may not open.
    if (::access(path_.c_str(), F_OK) == 0 && ::access(path_.c_str(), W_OK) != 0) return nullptr;
    if (!doc->FindKey(key)) {
        if (!create) return nullptr;
        if (!Update([&](Document& d) { d.AddKey(key); return true; })) return nullptr;
    }
    return std::make_unique<FileKey>(*this, key);
}

}  // namespace platform::hive
