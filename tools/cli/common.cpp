#include <iostream>
#include <locale>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "platform/platform.h"
#include "shell/translation.h"
#include "surface/report.h"

namespace cli {

volatile std::sig_atomic_t AbortSignal = 0;

MessageStrings EnglishMessages() {
    translation::TTranslator translator(translation::MainFormTable());
    MessageStrings m;
    translation::LoadMessageStrings(translator, m);
    return m;
}

void PrintLines(const std::vector<std::string>& lines) {
    for (const std::string& l : lines) std::cout << l << '\n';
    std::cout.flush();
}

void PrintJson(const nlohmann::ordered_json& doc) {
    std::cout << doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    std::cout.flush();
}

int Fail(const Options& o, const std::string& command, int code, const std::string& text) {
    std::cerr << "scandor-cli: " << text << '\n';
    if (o.json) PrintJson({{"command", command}, {"error", text}, {"exitCode", code}});
    return code;
}

std::string OpenErrorText(platform::Platform& p, const std::string& path) {
    platform::Handle h = p.CreateFile(path, platform::GENERIC_READ,
                                      platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                                      platform::OPEN_EXISTING, 0);
    if (h != platform::InvalidHandle) {
        p.CloseHandle(h);
        return "the device answers no disk query";
    }
    std::string text = p.SystemErrorText(p.GetLastError());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

std::string GroupSeparator() {
    const char sep = std::use_facet<std::numpunct<char>>(UserLocale()).thousands_sep();
    return std::string(1, sep);
}

}  // namespace cli
