#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <stdexcept>

#include "support/tempdir.h"
#include "window.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::Window;

namespace {

std::string Manifest(const TempDir& dir) { return R"({"registry": ")" + (dir / "HKLM.reg") + R"("})"; }

QString Text(const Window& w, const char* edit) { return w.Find<QLineEdit>(edit)->text(); }

}  // namespace

TEST(EmailSettingsWindow, FirstStartShowsTheDefaultsAndWritesOnlyTheFlag) {
    TempDir dir;
    Window w(Manifest(dir));
    EXPECT_FALSE(w.Find<QCheckBox>("sendemailceckbox")->isChecked());
    EXPECT_EQ(Text(w, "EMailEdit"), "scandor.user@example.com");
    EXPECT_EQ(Text(w, "EMailFromEdit"), "scandor@example.com");
    EXPECT_EQ(Text(w, "HostEdit"), "smtp.example.com");
    EXPECT_EQ(Text(w, "UsernameEdit"), "my.username");
    EXPECT_EQ(Text(w, "PasswordEdit"), "changeme");
    const std::string disk = ReadFile(dir / "HKLM.reg");
    EXPECT_NE(disk.find("\"Scandor-sendbyemail\"=dword:00000000"), std::string::npos);
    EXPECT_EQ(disk.find("Scandor-email"), std::string::npos);
}

TEST(EmailSettingsWindow, SaveThenRestartRestoresTheSixFieldsAndCancelWritesNothing) {
    TempDir dir;
    {
        Window w(Manifest(dir));
        w.Trigger("eMailSetting1");
        w.Find<QCheckBox>("sendemailceckbox")->setChecked(true);
        w.Find<QLineEdit>("EMailEdit")->setText("admin@example.org");
        w.Find<QLineEdit>("EMailFromEdit")->setText("scandor@pc.example.org");
        w.Find<QLineEdit>("HostEdit")->setText("mail.example.org");
        w.Find<QLineEdit>("UsernameEdit")->setText("Jörg");
        w.Find<QLineEdit>("PasswordEdit")->setText("pässwörd");
        w.Click("TntBitBtn3");
        EXPECT_EQ(w.CurrentPage(), 6);
        const std::string saved = ReadFile(dir / "HKLM.reg");
        // ä ö (0xE4 0xF6) become 0xE5 0xF7, å and ÷.
        EXPECT_NE(saved.find("\"Scandor-x\"=\"q\xC3\xA5rr\x76\xC3\xB7se\"\r\n"), std::string::npos) << saved;
        w.Find<QLineEdit>("HostEdit")->setText("typed.but.cancelled");
        w.Click("CancelEmailSetting");
        EXPECT_EQ(ReadFile(dir / "HKLM.reg"), saved);
    }
    Window again(Manifest(dir));
    EXPECT_TRUE(again.Find<QCheckBox>("sendemailceckbox")->isChecked());
    EXPECT_EQ(Text(again, "EMailEdit"), "admin@example.org");
    EXPECT_EQ(Text(again, "EMailFromEdit"), "scandor@pc.example.org");
    EXPECT_EQ(Text(again, "HostEdit"), "mail.example.org");
    EXPECT_EQ(Text(again, "UsernameEdit"), "Jörg");
    EXPECT_EQ(Text(again, "PasswordEdit"), "pässwörd");
}

TEST(EmailSettingsWindow, WithoutAKeyTheWindowKeepsItsOwnTexts) {
    Window w;  // no registry in the manifest: the key cannot be opened
    EXPECT_EQ(Text(w, "PasswordEdit"), "secret");
    EXPECT_EQ(Text(w, "EMailEdit"), "scandor.user@example.com");
    w.Click("TntBitBtn3");  // saves nothing, fails silently
    EXPECT_TRUE(w.dialogs.boxes.empty());
}

TEST(WindowLanguage, EnglishIsActiveAndNothingIsAppliedAtStart) {
    Window w;
    EXPECT_EQ(w.form->TranslatorDispatcher().ActiveLanguage(), 2);
    EXPECT_EQ(w.form->Translator().ActiveLanguage(), 2);
    EXPECT_EQ(w.Pages()->tabText(0), "Select Drive");
    EXPECT_EQ(w.form->windowTitle(), "Free KAVENO Scandor 1.1");
    EXPECT_EQ(w.form->Messages().strSTitleERROR, "Error");
    EXPECT_EQ(w.form->Messages().strSVISTATitle, "You don't have enough admin rights for this operation");
}

TEST(WindowLanguage, GermanIsAppliedByComponentAndPropertyName) {
    Window w;
    w.Find<QLineEdit>("EMailEdit")->setText("typed@example.org");
    w.form->TranslatorDispatcher().SetActiveLanguage(1);
    EXPECT_EQ(w.Pages()->tabText(0), "1. Select Drive");
    EXPECT_EQ(w.Pages()->tabText(4), "2.Test");
    EXPECT_EQ(w.Find<QMenu>("ools1")->title(), "Drives");
    EXPECT_EQ(w.Find<QAction>("SmartTestSubMenu")->text(), "Refresh Drive List");
    EXPECT_EQ(w.Find<QPushButton>("TntBitBtn3")->text(), "Save");
    EXPECT_EQ(w.form->windowTitle(), "KAVENO Scandor 1.0");
    EXPECT_EQ(w.form->font().family(), "Tahoma");
    EXPECT_EQ(w.Find<QPlainTextEdit>("Report")->font().family(), "Arial");
    EXPECT_EQ(w.Find<QPlainTextEdit>("Report")->property("fontCharSet").toString(), "ANSI_CHARSET");
    EXPECT_EQ(w.Find<QPushButton>("sectortestbutton")->font().family(), "Arial");
    EXPECT_EQ(w.Find<QLabel>("TntStatusBar1Panel0")->text(), QString::fromUtf8("\u00A9 KAVENO Software"));
    EXPECT_EQ(w.Find<QTreeWidget>("ListView")->headerItem()->text(6), "Raw Value");
    EXPECT_EQ(w.Find<QLineEdit>("EMailEdit")->text(), "scandor.user@example.com");  // stOtherStrings
    EXPECT_EQ(w.form->Messages().strSTitleERROR, "Fehler");
    EXPECT_EQ(w.form->Messages().SSearchForHardDrives, "Suche nach Datenträgern ...");

    // Back to English: the empty values leave the German captions as they are.
    w.Find<QPushButton>("sectortestbutton")->setText("changed");
    w.form->TranslatorDispatcher().SetActiveLanguage(2);
    EXPECT_EQ(w.Pages()->tabText(0), "1. Select Drive");
    EXPECT_EQ(w.Find<QPushButton>("sectortestbutton")->text(), "changed");
    EXPECT_EQ(w.Find<QMenu>("Help1")->title(), "Help");
    EXPECT_EQ(w.form->font().family(), "Arial");
    EXPECT_EQ(w.Find<QPlainTextEdit>("Report")->font().family(), "Tahoma");
    EXPECT_EQ(w.Find<QPushButton>("sectortestbutton")->font().family(), "Arial");
    EXPECT_EQ(w.form->Messages().strSTitleERROR, "Error");
}

TEST(WindowLanguage, TheCurrentNumberChangesNothingAndABadOneIsRefused) {
    Window w;
    w.Find<QMenu>("Help1")->setTitle("untouched");
    w.form->TranslatorDispatcher().SetActiveLanguage(2);
    EXPECT_EQ(w.Find<QMenu>("Help1")->title(), "untouched");
    EXPECT_THROW(w.form->TranslatorDispatcher().SetActiveLanguage(3), std::out_of_range);
    EXPECT_EQ(w.Find<QMenu>("Help1")->title(), "untouched");
    EXPECT_EQ(w.form->Translator().ActiveLanguage(), 2);
}
