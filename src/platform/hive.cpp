#include "platform/hive.h"
#include "platform/filekind.h"
#include "platform/text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace platform::hive {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kAnsiHeader = "REGEDIT4";
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

// Windows-1252, the ANSI code page REGEDIT4 files are written in; its five
// undefined bytes stand for the C1 controls of the same number.
char32_t AnsiCodePoint(unsigned char b) {
    static constexpr char16_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    };
    return b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b;
}

std::string AnsiToUtf8(std::string_view s) {
    std::string out;
    for (char c : s) text::AppendUtf8(out, AnsiCodePoint(static_cast<unsigned char>(c)));
    return out;
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
            k.values.push_back({name, value, {}, {}});
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
    keys.push_back({p, {}, {}});
    return keys.back();
}

namespace {

// A REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ written as hex in a REGEDIT4 file holds
// ANSI bytes; the document keeps them as a 5.00 file would, in UTF-16LE.
void AnsiHexToUnicode(Value& v) {
    const uint32_t type = v.value.type;
    if (v.value.raw.empty() || (type != REG_SZ && type != 2 && type != 7)) return;
    std::vector<uint8_t> wide;
    for (uint8_t b : v.value.raw) {
        char32_t cp = AnsiCodePoint(b);
        wide.push_back(static_cast<uint8_t>(cp & 0xFF));
        wide.push_back(static_cast<uint8_t>(cp >> 8));
    }
    if (type == REG_SZ)
        v.value.text = Utf16ToUtf8(std::string_view(reinterpret_cast<const char*>(wide.data()), wide.size()));
    v.value.raw = std::move(wide);
    v.text.clear();
}

std::optional<Document> ParseLines(std::string_view text, bool ansi) {
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
    if (i == lines.size() || Trim(lines[i]) != (ansi ? kAnsiHeader : kHeader)) return std::nullopt;
    Key* current = nullptr;
    std::vector<std::string> comments;
    for (++i; i < lines.size(); ++i) {
        std::string_view line = Trim(lines[i]);
        if (line.empty()) continue;
        if (line[0] == ';') {
            comments.emplace_back(line);
            continue;
        }
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
            current->comments.insert(current->comments.end(), comments.begin(), comments.end());
            comments.clear();
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
        Value value{name, std::move(*v), data, std::move(comments)};
        comments.clear();
        if (ansi && value.text.substr(0, 3) == "hex") AnsiHexToUnicode(value);
        bool replaced = false;
        for (auto& old : current->values) {
            if (SameName(old.name, name)) {
                value.comments.insert(value.comments.begin(), old.comments.begin(), old.comments.end());
                old = value;
                replaced = true;
            }
        }
        if (!replaced) current->values.push_back(std::move(value));
    }
    doc.trailingComments = std::move(comments);
    return doc;
}

}  // namespace

std::optional<Document> Parse(std::string_view text) {
    // Registry Editor itself exports UTF-16LE with a byte-order mark.
    if (text.substr(0, 2) == "\xFF\xFE") {
        const std::string utf8 = Utf16ToUtf8(text.substr(2));
        return Parse(utf8);
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    // The older format is in the ANSI code page throughout.
    auto first = text.find_first_not_of(" \t\r\n");
    if (first != std::string_view::npos && text.substr(first, kAnsiHeader.size()) == kAnsiHeader)
        return ParseLines(AnsiToUtf8(text), true);
    return ParseLines(text, false);
}

std::string Format(const Document& doc) {
    std::string out(kHeader);
    out += "\r\n";
    auto comments = [&out](const std::vector<std::string>& lines) {
        for (const std::string& c : lines) out += c + "\r\n";
    };
    for (const Key& k : doc.keys) {
        out += "\r\n";
        comments(k.comments);
        out += "[";
        out += kRoot;
        if (!k.path.empty()) out += "\\" + k.path;
        out += "]\r\n";
        for (const Value& v : k.values) {
            comments(v.comments);
            out += v.name.empty() ? std::string("@") : QuotedText(v.name);
            out += '=';
            out += v.text.empty() ? DataText(v.value) : v.text;
            out += "\r\n";
        }
    }
    if (!doc.trailingComments.empty()) out += "\r\n";
    comments(doc.trailingComments);
    return out;
}

FileRegistry::FileRegistry(std::string path) : path_(std::move(path)) {}

bool FileRegistry::Fail(std::string why) const {
    failure_ = std::move(why);
    return false;
}

std::optional<Document> FileRegistry::Load() const {
    failure_.clear();
    // Non-blocking: a FIFO put in the hive's place must not hold start-up.
    Fd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        if (errno == ENOENT) return Document{};
        Fail(path_ + " cannot be read: " + std::strerror(errno));
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
    if (!ReadAll(fd.get(), text)) {
        Fail(path_ + " cannot be read: " + std::strerror(errno));
        return std::nullopt;
    }
    auto doc = Parse(text);
    if (!doc) Fail(path_ + " is not a registry file this program can read");
    return doc;
}

namespace {

// Empty when the hive may be replaced, else why not. Root may write any file, so
// a hive its owner made read-only is checked by its mode, as the read-only
// attribute holds even for an administrator.
std::string WhyNotWritable(const std::string& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? std::string() : path + ": " + std::strerror(errno);
    if ((st.st_mode & S_IWUSR) == 0) return path + " is read-only";
    if (::access(path.c_str(), W_OK) != 0) return path + " cannot be written: " + std::strerror(errno);
    return {};
}

}  // namespace

bool FileRegistry::UpdateImpl(const std::function<bool(Document&)>& change) {
    const std::string folder = Folder(path_);
    struct stat st{};
    if (::stat(folder.c_str(), &st) != 0) {
        if (errno != ENOENT || ::mkdir(folder.c_str(), 0700) != 0)
            return Fail(folder + " cannot be created: " + std::strerror(errno));
    }
    Fd lock(::open((path_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (lock.get() < 0) return Fail(path_ + ".lock cannot be opened: " + std::strerror(errno));
    // A second writer waits its turn; one that never lets go makes this save fail
    // instead of hanging the window.
    for (int tries = 0; ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0; ++tries) {
        if (errno != EWOULDBLOCK && errno != EINTR) return Fail(path_ + " cannot be locked: " + std::strerror(errno));
        if (tries == 200) return Fail(path_ + " is kept locked by another program");
        timespec pause{0, 10'000'000};
        ::nanosleep(&pause, nullptr);
    }
    auto doc = Load();
    if (!doc) return false;
    if (std::string why = WhyNotWritable(path_); !why.empty()) return Fail(why);
    if (!change(*doc)) return Fail("a value cannot be stored in " + path_);
    const std::string text = Format(*doc);
    // Whatever went in (a name with a line break, say), what goes out must read back.
    if (!Parse(text)) return Fail("a value cannot be stored in " + path_);
    // Writers hold the lock, so a temporary file left over is a dead writer's.
    const std::string temp = path_ + ".tmp";
    ::unlink(temp.c_str());
    Fd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (out.get() < 0) return Fail(path_ + " cannot be written: " + std::strerror(errno));
    bool ok = ::fchmod(out.get(), 0600) == 0 && WriteAll(out.get(), text) && ::fsync(out.get()) == 0;
    ok = (::close(out.release()) == 0) && ok;
    if (!ok || ::rename(temp.c_str(), path_.c_str()) != 0) {
        const int e = errno;
        ::unlink(temp.c_str());
        return Fail(path_ + " cannot be written: " + std::strerror(e));
    }
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    failure_.clear();
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
    if (std::string why = WhyNotWritable(path_); !why.empty()) {
        Fail(why);
        return nullptr;
    }
    if (!doc->FindKey(key)) {
        if (!create) return nullptr;
        if (!Update([&](Document& d) { d.AddKey(key); return true; })) return nullptr;
    }
    return std::make_unique<FileKey>(*this, key);
}

}  // namespace platform::hive
