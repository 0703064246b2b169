#include <gtest/gtest.h>

#include <stdexcept>

#include "shell/translation.h"

using namespace translation;

namespace {

std::vector<std::string> Lines(std::string_view bytes) {
    std::vector<std::string> out;
    while (!bytes.empty()) {
        auto end = bytes.find("\r\n");
        out.emplace_back(bytes.substr(0, end));
        bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 2);
    }
    return out;
}

std::string LookupIn(int language, const char* key) {
    TTranslator t(MainFormTable());
    t.SetActiveLanguage(language);
    return t.Lookup(key);
}

}  // namespace

TEST(TranslationTable, IsStoredInTheExactByteFormat) {
    const std::string_view bytes = MainFormTableBytes();
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    // Every line ends with CR LF: no bare LF, no bare CR.
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "at " << i;
        }
        if (bytes[i] == '\r') {
            ASSERT_TRUE(i + 1 < bytes.size() && bytes[i + 1] == '\n') << "at " << i;
        }
    }
    // The eleven sections in order; every entry has key + two values + the closing delimiter.
    std::vector<std::string> sections;
    int entries = 0;
    for (const auto& line : Lines(bytes)) {
        auto delimiters = std::count(line.begin(), line.end(), '\x01');
        if (delimiters == 0) {
            sections.push_back(line);
            continue;
        }
        ++entries;
        EXPECT_GE(delimiters, 3) << line;
        if (sections.back() != "stFonts" && sections.back() != "stCharSets") {
            EXPECT_EQ(delimiters, 3) << line;
            EXPECT_EQ(line.back(), '\x01') << line;
        }
    }
    EXPECT_EQ(sections, (std::vector<std::string>{"stCaptions", "stHints", "stDisplayLabels", "stFonts",
                                                  "stMultiLines", "stDlgsCaptions", "stStrings", "stOtherStrings",
                                                  "stLocales", "stCollections", "stCharSets"}));
    const Table& t = MainFormTable();
    int parsed = 0;
    for (int s = 0; s < SectionCount; ++s) parsed += static_cast<int>(t.Entries(static_cast<Section>(s)).size());
    EXPECT_EQ(parsed, entries);
    EXPECT_EQ(t.Entries(Section::Strings).size(), 11u);
    EXPECT_EQ(t.Entries(Section::DlgsCaptions).size(), 15u);
    EXPECT_EQ(t.Entries(Section::Fonts).size(), 8u);
    EXPECT_EQ(t.Entries(Section::CharSets).size(), 8u);
    EXPECT_TRUE(t.Entries(Section::DisplayLabels).empty());
    EXPECT_TRUE(t.Entries(Section::Locales).empty());
    for (const auto& e : t.Entries(Section::Hints)) EXPECT_EQ(e.values, (std::vector<std::string>{"", ""})) << e.key;
    // German letters are single Windows-1252 bytes.
    EXPECT_NE(bytes.find("Best\xE4tigen"), std::string_view::npos);
    EXPECT_EQ(bytes.find("\xC3"), std::string_view::npos);
}

TEST(TranslationTable, HoldsTheNotableEntries) {
    const Table& t = MainFormTable();
    auto value = [&](Section s, const char* key, int k) {
        const Entry* e = t.Find(s, key);
        return e ? e->Value(k) : std::string("<missing>");
    };
    EXPECT_EQ(value(Section::Captions, "TMainForm", 2), "KAVENO Scandor 1.0");
    EXPECT_EQ(value(Section::Captions, "Help1", 2), "Help");
    EXPECT_EQ(value(Section::Captions, "TabSheet1", 2), "");
    EXPECT_EQ(value(Section::Captions, "TabSheet1", 1), "1. Select Drive");
    EXPECT_EQ(value(Section::Captions, "TabSheet5", 1), "2.Test");
    EXPECT_EQ(value(Section::Captions, "ools1", 1), "Drives");
    EXPECT_EQ(value(Section::Captions, "SmartTestSubMenu", 1), "Refresh Drive List");
    EXPECT_EQ(value(Section::Fonts, "TMainForm", 1), "Tahoma");
    EXPECT_EQ(value(Section::Fonts, "TMainForm", 2), "Arial");
    EXPECT_EQ(value(Section::Fonts, "Report", 2), "Tahoma");
    EXPECT_EQ(value(Section::Fonts, "TntBitBtn4", 2), "");
    EXPECT_EQ(value(Section::CharSets, "Report", 1), "ANSI_CHARSET");
    EXPECT_EQ(value(Section::CharSets, "TMainForm", 2), "DEFAULT_CHARSET");
    EXPECT_EQ(value(Section::CharSets, "sectortestbutton", 2), "");
    EXPECT_EQ(value(Section::DlgsCaptions, "Yes To All", 1), "A&lle Ja");
    EXPECT_EQ(value(Section::DlgsCaptions, "Confirm", 1), "Best\xE4tigen");
    EXPECT_EQ(value(Section::OtherStrings, "EMailEdit.Text", 1), "scandor.user@example.com");
    EXPECT_EQ(value(Section::OtherStrings, "PasswordEdit.Text", 1), "secret");
    EXPECT_EQ(value(Section::Collections, "TntStatusBar1.Panels[0].Text", 1), "\xA9 KAVENO Software");
    EXPECT_EQ(value(Section::Collections, "ListView.Columns[6].Caption", 1), "Raw Value");
}

TEST(TranslationLookup, ReturnsTheActiveLanguageWithItsLineBreaks) {
    EXPECT_EQ(LookupIn(English, "strSTitleERROR"), "Error");
    EXPECT_EQ(LookupIn(German, "strSTitleERROR"), "Fehler");
    EXPECT_EQ(LookupIn(English, "strSVISTA"),
              "You need admin rights for this operation!  \r\n\r\n"
              "In Vista or Win 7, you have to run \"KAVENO Scandor\" with admin rights. \r\n\r\n"
              "To do this use the right mouse button and select \"Run as Adminstrator\". \r\n\r\n");
    EXPECT_EQ(LookupIn(German, "strSVISTA"),
              "Sie benötigen auf diesem Computer Administrator-Rechte \r\n\r\n"
              "Falls Sie \"KAVENO Scandor\" unter Vista betreiben müssen Sie\r\n"
              "\"KAVENO Scandor\" mit der rechten Maustaste starten: \r\n"
              "\"Als Administrator starten\"\r\n");
    EXPECT_EQ(LookupIn(German, "SAddHardDrives"), "Füge Festplatte %s zur Liste hinzu.");
    EXPECT_EQ(LookupIn(German, "strSBADDisk"), "Es können keine Daten gelesen werden");
    EXPECT_EQ(LookupIn(German, "SSearchForHardDrives"), "Suche nach Datenträgern ...");
    EXPECT_EQ(LookupIn(English, "strSVISTATitle"), "You don't have enough admin rights for this operation");
    const std::string check = LookupIn(German, "StrCheckValues");
    EXPECT_EQ(check.rfind("Interpretieren Sie notfalls die Werte mit Hilfe der Modellnummer im Internet.\r\nAuf ", 0), 0u);
    EXPECT_EQ(check.substr(check.size() - 32), " finden Sie ebenfalls Hinweise.l");
}

TEST(TranslationLookup, FallsBackToLanguageOneAndYieldsEmptyForUnknownKeys) {
    const std::string table =
        "stStrings\r\nOnlyGerman\x01Nur deutsch \xDF\x01\x01\r\nBoth\x01" "Beide\x01" "Both\x01\r\n"
        "stCharSets\r\nTMainForm\x01" "DEFAULT_CHARSET\x01" "DEFAULT_CHARSET\x01\r\n";
    Table t = Table::Parse(table);
    TTranslator tr(t);
    EXPECT_EQ(tr.Lookup("OnlyGerman"), "Nur deutsch ß");
    EXPECT_EQ(tr.Lookup("onlygerman"), "Nur deutsch ß");  // keys ignore case
    EXPECT_EQ(tr.Lookup("Both"), "Both");
    EXPECT_EQ(tr.Lookup("Nope"), "");
    EXPECT_EQ(tr.Lookup(""), "");
}

TEST(TranslationLookup, DecodesWithTheWindowsCharacterSet) {
    Table t = Table::Parse("stStrings\r\nK\x01\xC4\xE4\x01\x01\r\nstCharSets\r\nTMainForm\x01RUSSIAN_CHARSET\x01"
                           "RUSSIAN_CHARSET\x01\r\n");
    TTranslator tr(t);
    EXPECT_EQ(tr.Lookup("K"), "Дд");
}

TEST(TranslationTable, ALineWithoutItsClosingDelimiterDoesNotSwallowTheNext) {
    Table t = Table::Parse("stStrings\r\nA\x01" "eins\x01one\r\nB\x01zwei\x01two\x01\r\nC\x01" "drei\r\n"
                           "stCaptions\r\nTMainForm\x01X\x01Y\x01 trailing third value\x01\r\n");
    ASSERT_EQ(t.Entries(Section::Strings).size(), 3u);
    EXPECT_EQ(t.Find(Section::Strings, "A")->Value(2), "one");
    EXPECT_EQ(t.Find(Section::Strings, "B")->Value(1), "zwei");
    EXPECT_EQ(t.Find(Section::Strings, "C")->Value(1), "drei");
    EXPECT_EQ(t.Find(Section::Strings, "C")->Value(2), "");
    EXPECT_EQ(t.Find(Section::Captions, "TMainForm")->Value(2), "Y");
    // Nonsense before the first section, and a truncated break pair, do no harm.
    Table odd = Table::Parse("junk\x01line\r\nstStrings\r\nK\x01\x19\x01\x1A\x01\r\n");
    EXPECT_EQ(odd.Entries(Section::Strings).size(), 1u);
    EXPECT_EQ(odd.Find(Section::Strings, "K")->Value(1), "\x19");
}

TEST(TranslationDispatcher, RefusesNumbersOutOfRangeWithTheTwoLineError) {
    TTranslatorDispatcher d;
    for (int k : {0, 3, -1}) {
        try {
            d.SetActiveLanguage(k);
            ADD_FAILURE() << k << " accepted";
        } catch (const std::out_of_range& e) {
            EXPECT_EQ(std::string(e.what()), std::to_string(k) + " - is not a valid property value!\n"
                                                                  "Value must be within [1..2]!");
        }
    }
    EXPECT_EQ(d.ActiveLanguage(), English);
}

TEST(TranslationDispatcher, StartsEnglishAppliesNothingAndPassesChangesOn) {
    TTranslatorDispatcher d;
    TTranslator t(MainFormTable());
    std::vector<int> applied;
    int events = 0;
    MessageStrings m;
    t.Apply = [&](int k) { applied.push_back(k); };
    t.OnChangeLanguage = [&] {
        ++events;
        LoadMessageStrings(t, m);
    };
    t.Link(d);
    EXPECT_TRUE(applied.empty());
    EXPECT_EQ(events, 0);
    d.SetActiveLanguage(English);
    EXPECT_TRUE(applied.empty());
    d.SetActiveLanguage(German);
    EXPECT_EQ(applied, std::vector<int>{German});
    EXPECT_EQ(events, 1);
    EXPECT_EQ(m.strSTitleERROR, "Fehler");
    EXPECT_EQ(m.SInfoSelectDriveandContinue, "INFO: Starten sie durch Doppelklick mit der Maus die Tests.");
    d.SetActiveLanguage(German);
    EXPECT_EQ(events, 1);
    d.SetActiveLanguage(English);
    EXPECT_EQ(events, 2);
    EXPECT_EQ(m.strSaddFloppyDrives, "Adding floppy drive %s to list");
    EXPECT_EQ(m.StrCheckValues.rfind("Interpret values by searching the internet using the model number.\r\n"
                                     "You can find some hints too at ", 0), 0u);
    // A translator linked later takes the dispatcher's language and applies it.
    d.SetActiveLanguage(German);
    TTranslator late(MainFormTable());
    int lateApplied = 0;
    late.Apply = [&](int) { ++lateApplied; };
    late.Link(d);
    EXPECT_EQ(late.ActiveLanguage(), German);
    EXPECT_EQ(lateApplied, 1);
}

TEST(TranslationDispatcher, LoadMessageStringsFillsAllElevenKeys) {
    TTranslator t(MainFormTable());
    MessageStrings m;
    LoadMessageStrings(t, m);
    for (const std::string* s : {&m.strSTitleERROR, &m.strSBADDisk, &m.strSVISTA, &m.strSVISTATitle, &m.strSNoHardDrives,
                                 &m.strSaddFloppyDrives, &m.strSSearchForFloppyDrives, &m.SSearchForHardDrives,
                                 &m.SAddHardDrives, &m.SInfoSelectDriveandContinue, &m.StrCheckValues})
        EXPECT_FALSE(s->empty());
    EXPECT_EQ(m.strSBADDisk, "There are no readable data");
    EXPECT_EQ(m.strSNoHardDrives, "No hard drives found. Please check.");
    EXPECT_EQ(m.strSSearchForFloppyDrives, "Searching for floppy drives...");
    EXPECT_EQ(m.SSearchForHardDrives, "Search media device ...");
    EXPECT_EQ(m.SAddHardDrives, "Adding hard drive %s to list.");
}
