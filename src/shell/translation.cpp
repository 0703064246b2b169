#include "shell/translation.h"

#ifdef _WIN32
#include "platform/win32/windows_api.h"
#else
#include <iconv.h>
#endif

#include <algorithm>
#include <stdexcept>

#include "platform/text.h"
#include "shell/cp1252.h"

namespace translation {
namespace {

constexpr std::string_view kSectionNames[SectionCount] = {
    "stCaptions", "stHints", "stDisplayLabels", "stFonts", "stMultiLines", "stDlgsCaptions",
    "stStrings", "stOtherStrings", "stLocales", "stCollections", "stCharSets",
};

bool SameKey(std::string_view a, std::string_view b) { return platform::text::SameIgnoringCase(a, b); }

// 0x19 0x1A inside a value is a stored line break.
std::string Unescape(std::string_view v) {
    std::string out;
    out.reserve(v.size());
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\x19' && i + 1 < v.size() && v[i + 1] == '\x1A') {
            out += "\r\n";
            ++i;
        } else {
            out += v[i];
        }
    }
    return out;
}

const std::string kEmpty;

}  // namespace

std::string_view SectionName(Section s) { return kSectionNames[static_cast<size_t>(s)]; }

const std::string& Entry::Value(int language) const {
    if (language < 1 || static_cast<size_t>(language) > values.size()) return kEmpty;
    return values[static_cast<size_t>(language - 1)];
}

Table Table::Parse(std::string_view bytes, int languages) {
    Table t;
    t.languages_ = languages;
    std::vector<Entry>* current = nullptr;
    while (!bytes.empty()) {
        auto nl = bytes.find('\n');
        std::string_view line = bytes.substr(0, nl);
        bytes = nl == std::string_view::npos ? std::string_view() : bytes.substr(nl + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        auto delim = line.find('\x01');
        if (delim == std::string_view::npos) {
            for (int s = 0; s < SectionCount; ++s)
                if (line == kSectionNames[s]) current = &t.sections_[static_cast<size_t>(s)];
            continue;
        }
        if (!current) continue;
        Entry e;
        e.key = std::string(line.substr(0, delim));
        std::string_view rest = line.substr(delim + 1);
        for (int k = 0; k < languages; ++k) {
            auto end = rest.find('\x01');
            e.values.push_back(Unescape(rest.substr(0, end)));
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        }
        current->push_back(std::move(e));
    }
    return t;
}

const Entry* Table::Find(Section s, std::string_view key) const {
    for (const Entry& e : Entries(s))
        if (SameKey(e.key, key)) return &e;
    return nullptr;
}

const Table& MainFormTable() {
    static const Table table = Table::Parse(MainFormTableBytes());
    return table;
}

int CodePageOfCharSet(std::string_view name) {
    struct CharSet { std::string_view name; int codePage; };
    static constexpr CharSet kCharSets[] = {
        {"ANSI_CHARSET", 1252}, {"DEFAULT_CHARSET", 1252}, {"SYMBOL_CHARSET", 1252},
        {"MAC_CHARSET", 10000}, {"SHIFTJIS_CHARSET", 932}, {"HANGEUL_CHARSET", 949},
        {"JOHAB_CHARSET", 1361}, {"GB2312_CHARSET", 936}, {"CHINESEBIG5_CHARSET", 950},
        {"GREEK_CHARSET", 1253}, {"TURKISH_CHARSET", 1254}, {"VIETNAMESE_CHARSET", 1258},
        {"HEBREW_CHARSET", 1255}, {"ARABIC_CHARSET", 1256}, {"BALTIC_CHARSET", 1257},
        {"RUSSIAN_CHARSET", 1251}, {"THAI_CHARSET", 874}, {"EASTEUROPE_CHARSET", 1250},
        {"OEM_CHARSET", 437},
    };
    for (const auto& c : kCharSets)
        if (SameKey(c.name, name)) return c.codePage;
    return 0;
}

std::string DecodeCodePage(std::string_view bytes, int codePage) {
    if (codePage == 1252 || codePage == 0) return cp1252::ToUtf8(bytes);
#ifdef _WIN32
    // The system's own tables; the Mac and Johab pages have code page numbers there.
    const int inSize = static_cast<int>(std::min<size_t>(bytes.size(), INT32_MAX / 4));
    if (inSize == 0) return {};
    const UINT cp = static_cast<UINT>(codePage);
    const int wide = ::MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, bytes.data(), inSize, nullptr, 0);
    if (wide <= 0) return cp1252::ToUtf8(bytes);
    std::wstring w(static_cast<size_t>(wide), L'\0');
    ::MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, bytes.data(), inSize, w.data(), wide);
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, out.data(), n, nullptr, nullptr);
    return out;
#else
    const std::string from = codePage == 10000 ? "MACINTOSH" : codePage == 1361 ? "JOHAB"
                                                              : "CP" + std::to_string(codePage);
    iconv_t cd = ::iconv_open("UTF-8", from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return cp1252::ToUtf8(bytes);
    std::string in(bytes), out(bytes.size() * 4 + 16, '\0');
    char* ip = in.data();
    char* op = out.data();
    size_t il = in.size(), ol = out.size();
    size_t r = ::iconv(cd, &ip, &il, &op, &ol);
    ::iconv_close(cd);
    if (r == static_cast<size_t>(-1)) return cp1252::ToUtf8(bytes);
    out.resize(out.size() - ol);
    return out;
#endif
}

TTranslator::~TTranslator() {
    if (dispatcher_) std::erase(dispatcher_->translators_, this);
}

void TTranslator::Link(TTranslatorDispatcher& dispatcher) {
    if (dispatcher_) std::erase(dispatcher_->translators_, this);
    dispatcher_ = &dispatcher;
    dispatcher.translators_.push_back(this);
    SetActiveLanguage(dispatcher.ActiveLanguage());
}

void TTranslator::SetActiveLanguage(int k) {
    if (k == active_) return;
    active_ = k;
    if (Apply) Apply(k);
    if (OnChangeLanguage) OnChangeLanguage();
}

std::string TTranslator::Lookup(std::string_view key) const {
    const Entry* e = table_.Find(Section::Strings, key);
    if (!e) return {};
    std::string value = e->Value(active_);
    if (value.empty()) value = e->Value(1);
    int codePage = 1252;
    if (const Entry* cs = table_.Find(Section::CharSets, "TMainForm"))
        if (int cp = CodePageOfCharSet(cs->Value(active_))) codePage = cp;
    return DecodeCodePage(value, codePage);
}

TTranslatorDispatcher::~TTranslatorDispatcher() {
    for (TTranslator* t : translators_) t->dispatcher_ = nullptr;
}

void TTranslatorDispatcher::SetActiveLanguage(int k) {
    if (k < 1 || k > languages_)
        throw std::out_of_range(std::to_string(k) + " - is not a valid property value!\n" +
                                "Value must be within [1.." + std::to_string(languages_) + "]!");
    if (k == active_) return;
    active_ = k;
    for (TTranslator* t : std::vector<TTranslator*>(translators_)) t->SetActiveLanguage(k);
}

void LoadMessageStrings(const TTranslator& translator, MessageStrings& out) {
    out.strSTitleERROR = translator.Lookup("strSTitleERROR");
    out.strSBADDisk = translator.Lookup("strSBADDisk");
    out.strSVISTA = translator.Lookup("strSVISTA");
    out.strSVISTATitle = translator.Lookup("strSVISTATitle");
    out.strSNoHardDrives = translator.Lookup("strSNoHardDrives");
    out.strSaddFloppyDrives = translator.Lookup("strSaddFloppyDrives");
    out.strSSearchForFloppyDrives = translator.Lookup("strSSearchForFloppyDrives");
    out.SSearchForHardDrives = translator.Lookup("SSearchForHardDrives");
    out.SAddHardDrives = translator.Lookup("SAddHardDrives");
    out.SInfoSelectDriveandContinue = translator.Lookup("SInfoSelectDriveandContinue");
    out.StrCheckValues = translator.Lookup("StrCheckValues");
}

}  // namespace translation
