// Prometheus's text exposition format: families of samples, each with its HELP
// and TYPE, samples of one family together, label values escaped.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace exposition {

using Labels = std::vector<std::pair<std::string, std::string>>;

// A label value as the format carries it: backslash, double quote and line feed
// escaped; other control characters and bytes that are not UTF-8 become U+FFFD,
// so nothing a drive reports can end a line or a value early.
std::string EscapeLabelValue(const std::string& value);

// Numbers as the format writes them: integers exactly, others shortest round-trip.
std::string Number(int64_t v);
std::string Number(uint64_t v);
std::string Number(double v);

class Writer {
public:
    // type: "gauge" or "counter". A family is written where it was first declared.
    void Family(const std::string& name, const std::string& type, const std::string& help);
    // A sample of a declared family; an undeclared one throws std::logic_error.
    void Sample(const std::string& name, const Labels& labels, const std::string& value);
    // Every family with at least one sample.
    std::string Text() const;
    // Names of the declared families.
    std::vector<std::string> Names() const;

private:
    struct Entry {
        std::string name, type, help;
        std::vector<std::string> lines;
    };
    std::vector<Entry> families_;
};

}  // namespace exposition
