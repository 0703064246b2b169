// The window's translation table (8-bit text, sections of key/value lines), the
// look-up of message texts by key, and the dispatcher that holds the active
// language for every translator linked to it.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "shell/messages.h"

namespace translation {

enum class Section {
    Captions, Hints, DisplayLabels, Fonts, MultiLines, DlgsCaptions, Strings, OtherStrings,
    Locales, Collections, CharSets,
};
inline constexpr int SectionCount = 11;
// "stCaptions", ... in the order the main window's table holds them.
std::string_view SectionName(Section s);

inline constexpr int German = 1;
inline constexpr int English = 2;
inline constexpr int LanguageCount = 2;

struct Entry {
    std::string key;
    // values[k - 1] is language k, 8-bit, with stored line breaks turned into CR LF.
    std::vector<std::string> values;
    const std::string& Value(int language) const;
};

class Table {
public:
    Table() = default;
    // Never fails: lines that are no entry are skipped. A value ends at its
    // delimiter or at the end of its line, so a line that lacks its closing
    // delimiter cannot swallow the line after it.
    static Table Parse(std::string_view bytes, int languages = LanguageCount);

    // Keys are compared without regard to case.
    const Entry* Find(Section s, std::string_view key) const;
    const std::vector<Entry>& Entries(Section s) const { return sections_[static_cast<size_t>(s)]; }
    int Languages() const { return languages_; }

private:
    int languages_ = LanguageCount;
    std::array<std::vector<Entry>, SectionCount> sections_;
};

// The main window's table, compiled into the program.
std::string_view MainFormTableBytes();
const Table& MainFormTable();

// The code page a Windows character-set name stands for; "DEFAULT_CHARSET" is the
// system's ANSI code page (1252 here). 0 for a name it does not know.
int CodePageOfCharSet(std::string_view charSetName);
// 8-bit text in a code page -> UTF-8.
std::string DecodeCodePage(std::string_view bytes, int codePage);

class TTranslatorDispatcher;

// One window's translator: its table and active language. Applying a language to
// the window is the window's business (apply); afterwards the change event fires.
class TTranslator {
public:
    explicit TTranslator(const Table& table) : table_(table) {}
    ~TTranslator();
    TTranslator(const TTranslator&) = delete;
    TTranslator& operator=(const TTranslator&) = delete;

    std::function<void(int language)> Apply;
    std::function<void()> OnChangeLanguage;

    // Takes the dispatcher's language; applies it only when it differs from its own.
    void Link(TTranslatorDispatcher& dispatcher);
    int ActiveLanguage() const { return active_; }
    // Applies language k and raises the change event, unless k is already active.
    void SetActiveLanguage(int k);

    // A message text by key (section "stStrings"), UTF-8: the active language's
    // value, else language 1's; empty for an unknown key.
    std::string Lookup(std::string_view key) const;
    const Table& GetTable() const { return table_; }

private:
    friend class TTranslatorDispatcher;
    const Table& table_;
    int active_ = English;
    TTranslatorDispatcher* dispatcher_ = nullptr;
};

class TTranslatorDispatcher {
public:
    explicit TTranslatorDispatcher(int languages = LanguageCount) : languages_(languages) {}
    ~TTranslatorDispatcher();
    int ActiveLanguage() const { return active_; }
    int Languages() const { return languages_; }
    // Throws std::out_of_range with the two-line message for a number outside
    // 1 .. Languages(); the current number changes nothing.
    void SetActiveLanguage(int k);

private:
    friend class TTranslator;
    int languages_;
    int active_ = English;
    std::vector<TTranslator*> translators_;
};

// The eleven message texts, in the order the program loads them.
void LoadMessageStrings(const TTranslator& translator, MessageStrings& out);

}  // namespace translation
