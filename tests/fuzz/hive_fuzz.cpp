// libFuzzer target: the .reg hive reader and writer. Any text either fails to parse
// or survives a format/parse/format round trip unchanged; a document built from the
// input (any names, any values) formats into text that parses back to it.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"
#include "platform/hive.h"

using namespace platform;
using namespace platform::hive;

namespace {

bool SameValue(const RegValue& a, const RegValue& b) {
    if (a.type != b.type) return false;
    if (a.type == REG_SZ) return a.text == b.text;
    if (a.type == REG_DWORD) return a.dword == b.dword;
    return a.raw == b.raw;
}

void CheckSameDocument(const Document& a, const Document& b) {
    FUZZ_CHECK(a.keys.size() == b.keys.size());
    for (size_t k = 0; k < a.keys.size(); ++k) {
        FUZZ_CHECK(SameName(a.keys[k].path, b.keys[k].path));
        FUZZ_CHECK(a.keys[k].values.size() == b.keys[k].values.size());
        for (size_t v = 0; v < a.keys[k].values.size(); ++v) {
            FUZZ_CHECK(a.keys[k].values[v].name == b.keys[k].values[v].name);
            FUZZ_CHECK(SameValue(a.keys[k].values[v].value, b.keys[k].values[v].value));
        }
    }
}

// Text as the writer would keep it: REG_SZ data becomes UTF-16, so bad UTF-8 may not
// survive; such values are left out of the exact comparison.
bool WellFormed(const std::string& s) { return IsUtf8(s) && s.find('\0') == std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // 1. The text as a hive file.
    if (auto doc = Parse(AsText(data, size))) {
        const std::string text = Format(*doc);
        auto again = Parse(text);
        FUZZ_CHECK(again.has_value());
        CheckSameDocument(*doc, *again);
        FUZZ_CHECK(Format(*again) == text);
    }

    // 2. The input as a document, as the program writes one.
    FuzzedDataProvider in(data, size);
    Document doc;
    while (in.remaining_bytes() > 0 && doc.keys.size() < 8) {
        const std::string path = in.ConsumeRandomLengthString(40);
        bool pathOk = path.find_first_of("\r\n]") == std::string::npos && WellFormed(path) &&
                      path.find("\\\\") == std::string::npos;
        Key& key = doc.AddKey(pathOk ? path : std::string("SOFTWARE\\KAVENO_Scandor"));
        const int values = in.ConsumeIntegralInRange(0, 4);
        for (int i = 0; i < values; ++i) {
            std::string name = in.ConsumeRandomLengthString(24);
            if (name.find_first_of("\r\n") != std::string::npos || !WellFormed(name)) name = "n";
            RegValue v;
            switch (in.ConsumeIntegralInRange(0, 2)) {
            case 0:
                v.type = REG_SZ;
                v.text = in.ConsumeRandomLengthString(64);
                if (!WellFormed(v.text)) v.text.clear();
                break;
            case 1:
                v.type = REG_DWORD;
                v.dword = in.ConsumeIntegral<uint32_t>();
                break;
            default:
                v.type = in.ConsumeIntegralInRange<uint32_t>(0, 0xFFFF);
                if (v.type == REG_SZ || v.type == REG_DWORD) v.type = 3;
                v.raw = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 120));
                break;
            }
            bool replaced = false;
            for (auto& old : key.values) {
                if (SameName(old.name, name)) {
                    old.value = v;
                    replaced = true;
                }
            }
            if (!replaced) key.values.push_back({name, v, {}});
        }
    }
    const std::string text = Format(doc);
    auto back = Parse(text);
    FUZZ_CHECK(back.has_value());
    CheckSameDocument(doc, *back);
    return 0;
}
