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
#include <sys/stat.h>
#include <cstdio>

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
    EXPECT_EQ(w.Log(), "");  // nothing stored, nothing unreadable
    w.Click("TntBitBtn3");  // saves nothing, and says so
    EXPECT_TRUE(w.dialogs.boxes.empty());
    EXPECT_EQ(w.Log(), "The e-mail settings were not saved: the settings key cannot be opened");
}

TEST(EmailSettingsWindow, UnreadableOrUnwritableSettingsAreSaidInOneLine) {
    TempDir dir;
    const std::string hive = dir / "HKLM.reg";
    const std::string broken = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\nnonsense\r\n";
    testsupport::WriteFile(hive, broken);
    {
        Window w(Manifest(dir));
        EXPECT_EQ(Text(w, "EMailEdit"), "scandor.user@example.com");
        EXPECT_EQ(w.Log(), QString::fromStdString("The stored e-mail settings cannot be read: " + hive +
                                                  " is not a registry file this program can read"));
        w.Trigger("eMailSetting1");
        w.Click("TntBitBtn3");
        EXPECT_EQ(w.Log().count(QStringLiteral("\n")), 1);
        EXPECT_TRUE(w.Log().endsWith(QString::fromStdString("The e-mail settings were not saved: " + hive +
                                                            " is not a registry file this program can read")))
            << w.Log().toStdString();
        EXPECT_EQ(ReadFile(hive), broken);
    }
    std::remove(hive.c_str());
    {
        Window w(Manifest(dir));
        ASSERT_EQ(w.Log(), "");
        ASSERT_EQ(::chmod(hive.c_str(), 0444), 0);
        const std::string before = ReadFile(hive);
        w.Trigger("eMailSetting1");
        w.Find<QLineEdit>("HostEdit")->setText("mail.example.org");
        w.Click("TntBitBtn3");
        EXPECT_EQ(w.Log(), QString::fromStdString("The e-mail settings were not saved: " + hive + " is read-only"));
        EXPECT_EQ(ReadFile(hive), before);
    }
}

TEST(EmailSettingsWindow, APasswordWindows1252CannotHoldIsRefusedNamingTheField) {
    TempDir dir;
    {
        Window w(Manifest(dir));
        w.Trigger("eMailSetting1");
        w.Find<QLineEdit>("PasswordEdit")->setText("pässwörd");
        w.Click("TntBitBtn3");
    }
    const std::string saved = ReadFile(dir / "HKLM.reg");
    Window w(Manifest(dir));
    w.Trigger("eMailSetting1");
    w.Find<QLineEdit>("HostEdit")->setText("mail.example.org");
    w.Find<QLineEdit>("PasswordEdit")->setText(QStringLiteral("пароль"));
    w.Click("TntBitBtn3");
    ASSERT_EQ(w.dialogs.boxes.size(), 1u);
    EXPECT_TRUE(w.dialogs.boxes[0].text.startsWith(QStringLiteral("\"Password\" holds characters that cannot be stored")))
        << w.dialogs.boxes[0].text.toStdString();
    EXPECT_EQ(w.dialogs.boxes[0].icon, testsupport::ScriptedDialogs::Error);
    EXPECT_EQ(w.CurrentPage(), 1);  // still on the page, to mend the field
    EXPECT_EQ(ReadFile(dir / "HKLM.reg"), saved);
    w.Find<QLineEdit>("PasswordEdit")->setText(QStringLiteral("pässwörd"));
    w.Find<QLineEdit>("UsernameEdit")->setText(QStringLiteral("Łukasz"));
    w.Click("TntBitBtn3");
    ASSERT_EQ(w.dialogs.boxes.size(), 2u);
    EXPECT_TRUE(w.dialogs.boxes[1].text.startsWith(QStringLiteral("\"User name\"")));
    EXPECT_EQ(ReadFile(dir / "HKLM.reg"), saved);
    w.Find<QLineEdit>("UsernameEdit")->setText(QStringLiteral("Lukasz"));
    w.Click("TntBitBtn3");
    EXPECT_EQ(w.dialogs.boxes.size(), 2u);
    EXPECT_EQ(w.CurrentPage(), 6);
    EXPECT_NE(ReadFile(dir / "HKLM.reg").find("mail.example.org"), std::string::npos);
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
