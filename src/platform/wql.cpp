#include "platform/wql.h"

#include "platform/text.h"

#include <cctype>

namespace platform::wql {
namespace {

class Scanner {
public:
    explicit Scanner(std::string_view s) : s_(s) {}
    void Blank() {
        while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
    }
    bool AtEnd() { Blank(); return i_ == s_.size(); }
    bool Symbol(char c) {
        Blank();
        if (i_ < s_.size() && s_[i_] == c) { ++i_; return true; }
        return false;
    }
    std::optional<std::string> Identifier() {
        Blank();
        size_t start = i_;
        auto ok = [&](size_t k, bool first) {
            auto c = static_cast<unsigned char>(s_[k]);
            return c == '_' || std::isalpha(c) || (!first && std::isdigit(c));
        };
        if (i_ >= s_.size() || !ok(i_, true)) return std::nullopt;
        while (i_ < s_.size() && ok(i_, false)) ++i_;
        return std::string(s_.substr(start, i_ - start));
    }
    bool Keyword(std::string_view word) {
        size_t save = i_;
        auto id = Identifier();
        if (id && id->size() == word.size()) {
            bool same = true;
            for (size_t k = 0; k < word.size(); ++k)
                same = same && std::toupper(static_cast<unsigned char>((*id)[k])) == word[k];
            if (same) return true;
        }
        i_ = save;
        return false;
    }
    std::optional<std::string> Literal() {
        Blank();
        if (i_ >= s_.size() || (s_[i_] != '"' && s_[i_] != '\'')) return std::nullopt;
        const char quote = s_[i_++];
        std::string out;
        while (i_ < s_.size()) {
            char c = s_[i_++];
            if (c == quote) return out;
            if (c == '\\') {
                if (i_ >= s_.size()) return std::nullopt;
                c = s_[i_++];
            }
            out += c;
        }
        return std::nullopt;
    }

private:
    std::string_view s_;
    size_t i_ = 0;
};

}  // namespace

std::optional<WqlQuery> ParseWql(std::string_view text) {
    Scanner sc(text);
    WqlQuery q;
    if (!sc.Keyword("SELECT")) return std::nullopt;
    if (sc.Symbol('*')) {
        q.allProperties = true;
    } else {
        do {
            auto id = sc.Identifier();
            if (!id) return std::nullopt;
            q.properties.push_back(*id);
        } while (sc.Symbol(','));
    }
    if (!sc.Keyword("FROM")) return std::nullopt;
    auto cls = sc.Identifier();
    if (!cls) return std::nullopt;
    q.className = *cls;
    if (sc.Keyword("WHERE")) {
        auto prop = sc.Identifier();
        if (!prop || !sc.Symbol('=')) return std::nullopt;
        auto value = sc.Literal();
        if (!value) return std::nullopt;
        q.whereProperty = *prop;
        q.whereValue = *value;
    }
    if (!sc.AtEnd()) return std::nullopt;
    return q;
}

bool SameText(std::string_view a, std::string_view b) { return text::SameIgnoringCase(a, b); }

namespace {

const WmiProperty* FindProperty(const WmiObject& o, std::string_view name) {
    for (const auto& p : o.properties)
        if (SameText(p.name, name)) return &p;
    return nullptr;
}

WmiQueryResult Failed(const char* error) {
    WmiQueryResult r;
    r.error = error;
    return r;
}

}  // namespace

WmiQueryResult Answer(const std::string& nameSpace, const std::string& wql,
                      std::vector<WmiObject> objects, const WmiObject* schema) {
    if (!SameText(nameSpace, "root\\CIMV2")) return Failed("Invalid namespace");
    auto q = ParseWql(wql);
    if (!q) return Failed("Invalid query");
    if (!SameText(q->className, "Win32_DiskDrive")) return Failed("Invalid class");
    if (schema) {
        for (const auto& p : q->properties)
            if (!FindProperty(*schema, p)) return Failed("Invalid query");
        if (q->whereProperty) {
            const WmiProperty* p = FindProperty(*schema, *q->whereProperty);
            if (!p || p->cimType != CIM_STRING) return Failed("Invalid query");
        }
    }
    WmiQueryResult r;
    for (WmiObject& o : objects) {
        if (q->whereProperty) {
            const WmiProperty* p = FindProperty(o, *q->whereProperty);
            if (!p || p->value.kind != WmiValue::Text || p->value.isArray || p->value.texts.empty() ||
                !SameText(p->value.texts[0], q->whereValue))
                continue;
        }
        if (!q->allProperties) {
            WmiObject picked;
            for (const auto& wanted : q->properties)
                if (const WmiProperty* p = FindProperty(o, wanted)) picked.properties.push_back(*p);
            o = std::move(picked);
        }
        r.objects.push_back(std::move(o));
    }
    r.ok = true;
    return r;
}

}  // namespace platform::wql
