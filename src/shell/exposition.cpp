#include "shell/exposition.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace exposition {

namespace {

// Length of the UTF-8 sequence at s[i], 0 when it is not one.
size_t Utf8Length(const std::string& s, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    size_t n = 0;
    uint32_t cp = 0;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) n = 2, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF) n = 3, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4) n = 4, cp = c & 0x07;
    else return 0;
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    // C1 controls.
    if (cp >= 0x80 && cp <= 0x9F) return 0;
    return n;
}

}  // namespace

std::string EscapeLabelValue(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size();) {
        const char c = value[i];
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) out += "\xEF\xBF\xBD";
        if (c == '\\' || c == '"' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            ++i;
            continue;
        }
        const size_t n = Utf8Length(value, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(value, i, n);
            i += n;
        }
    }
    return out;
}

std::string Number(int64_t v) { return std::to_string(v); }
std::string Number(uint64_t v) { return std::to_string(v); }

std::string Number(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "+Inf" : "-Inf";
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

void Writer::Family(const std::string& name, const std::string& type, const std::string& help) {
    for (const Entry& e : families_)
        if (e.name == name) return;
    families_.push_back({name, type, help, {}});
}

void Writer::Sample(const std::string& name, const Labels& labels, const std::string& value) {
    for (Entry& e : families_) {
        if (e.name != name) continue;
        std::string line = name;
        if (!labels.empty()) {
            line += '{';
            for (size_t i = 0; i < labels.size(); ++i) {
                if (i) line += ',';
                line += labels[i].first + "=\"" + EscapeLabelValue(labels[i].second) + "\"";
            }
            line += '}';
        }
        e.lines.push_back(line + " " + value);
        return;
    }
    throw std::logic_error("metric family " + name + " was not declared");
}

std::string Writer::Text() const {
    std::string out;
    for (const Entry& e : families_) {
        if (e.lines.empty()) continue;
        out += "# HELP " + e.name + " " + e.help + "\n";
        out += "# TYPE " + e.name + " " + e.type + "\n";
        for (const std::string& l : e.lines) out += l + "\n";
    }
    return out;
}

std::vector<std::string> Writer::Names() const {
    std::vector<std::string> names;
    for (const Entry& e : families_) names.push_back(e.name);
    return names;
}

}  // namespace exposition
