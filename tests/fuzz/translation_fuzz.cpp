// libFuzzer target: the translation-table reader, the message look-up and the
// code-page decoding. A table written back in its file form reads as the same
// table; every text the look-up gives is UTF-8.
#include "fuzz_check.h"
#include "shell/translation.h"

using namespace translation;

namespace {

std::string StoredValue(const std::string& v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\r' && i + 1 < v.size() && v[i + 1] == '\n') {
            out += "\x19\x1A";
            ++i;
        } else {
            out += v[i];
        }
    }
    return out;
}

std::string Write(const Table& t) {
    std::string out;
    for (int s = 0; s < SectionCount; ++s) {
        out += std::string(SectionName(static_cast<Section>(s))) + "\r\n";
        for (const Entry& e : t.Entries(static_cast<Section>(s))) {
            out += e.key;
            for (const std::string& v : e.values) out += "\x01" + StoredValue(v);
            out += "\r\n";
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int languages = 1 + data[0] % 3;
    const Table t = Table::Parse(AsText(data + 1, size - 1), languages);
    FUZZ_CHECK(t.Languages() == languages);

    const Table back = Table::Parse(Write(t), languages);
    for (int s = 0; s < SectionCount; ++s) {
        const auto& a = t.Entries(static_cast<Section>(s));
        const auto& b = back.Entries(static_cast<Section>(s));
        FUZZ_CHECK(a.size() == b.size());
        for (size_t i = 0; i < a.size(); ++i) {
            FUZZ_CHECK(a[i].key == b[i].key && a[i].values == b[i].values);
            FUZZ_CHECK(a[i].values.size() == static_cast<size_t>(languages));
            FUZZ_CHECK(t.Find(static_cast<Section>(s), a[i].key) != nullptr);
        }
    }

    for (int active = 1; active <= languages; ++active) {
        TTranslatorDispatcher dispatcher(languages);
        dispatcher.SetActiveLanguage(active);
        TTranslator translator(t);
        translator.Link(dispatcher);
        MessageStrings m;
        LoadMessageStrings(translator, m);
        for (const std::string* text : {&m.strSTitleERROR, &m.strSBADDisk, &m.strSVISTA, &m.SAddHardDrives,
                                        &m.StrCheckValues})
            FUZZ_CHECK(IsUtf8(*text));
        for (const Entry& e : t.Entries(Section::Strings)) FUZZ_CHECK(IsUtf8(translator.Lookup(e.key)));
    }
    for (const Entry& e : t.Entries(Section::CharSets)) {
        for (const std::string& v : e.values) {
            const int codePage = CodePageOfCharSet(v);
            if (codePage != 0) FUZZ_CHECK(IsUtf8(DecodeCodePage(e.key, codePage)));
        }
    }
    return 0;
}
