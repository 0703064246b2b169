// The main window: eight wizard pages, the test mode and the handlers of every
// user action. Long work runs inside a handler and keeps the window alive by
// pumping events; nested handlers only set AbortRequested.
#pragma once

#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <memory>

#include "drive/bigdriveinfo.h"
#include "shell/messages.h"
#include "shell/translation.h"
#include "surface/surfacerun.h"

namespace platform { class Platform; }
namespace Ui { class TMainForm; }
class Dialogs;
class TUserSystem;
class QLabel;
class MailSender;
class QTreeWidget;
class QTreeWidgetItem;
class QSystemTrayIcon;
class TInfoFormSalvex;
class TInfoFormScandor;
class TBlockMapWindow;

class TMainForm : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int PageCount = 8;
    static constexpr const char* Caption = "Free KAVENO Scandor 1.1";
    // The application title the program starts with.
    static constexpr const char* ApplicationTitle = "KAVENO Scandor";
    static constexpr const char* ListOutOfDateText =
        "The drive list is out of date: the drive you picked is no longer the disk that was "
        "listed. The list has been filled again; please pick the drive again.";

    // dialogs: the modal-dialog seam; nullptr means the real dialogs.
    explicit TMainForm(platform::Platform& platform, Dialogs* dialogs = nullptr,
                       QWidget* parent = nullptr);
    ~TMainForm() override;

    void ShowPage(int index);
    void LogProcessInfo(const QString& text);
    void LoadMessageStrings();

    platform::Platform& GetPlatform() { return platform_; }
    Dialogs& GetDialogs() { return *dialogs_; }
    TUserSystem& UserSystem() { return *userSystem_; }
    const MessageStrings& Messages() const { return messages_; }
    TInfoFormScandor* InfoFormScandor() const { return infoScandor_; }
    TInfoFormSalvex* InfoFormSalvex() const { return infoSalvex_; }

    // The tray icon's tooltip, cut to what the notification area holds; an
    // unchanged text is not sent again.
    static constexpr int TrayHintLimit = 127;
    void SetTrayHint(const QString& hint);
    QString TrayHint() const { return trayHint_; }
    int TrayHintUpdates() const { return trayHintUpdates_; }
    // The e-mail client; tests put a stand-in here. nullptr means the real one.
    void SetMailSender(MailSender* sender) { mailSender_ = sender; }
    translation::TTranslatorDispatcher& TranslatorDispatcher() { return TranslatorDispatcher1; }
    translation::TTranslator& Translator() { return *Translator1; }

    uint8_t TestMode = 0;        // 0 none chosen, 1 S.M.A.R.T. test, 2 sector test
    bool AbortRequested = false;
    int64_t StartSector = 0;
    int64_t EndSector = 0;
    int64_t ErrorCount = 0;
    // True while a surface test runs; a second start is refused meanwhile.
    bool SurfaceTestRunning() const { return surfaceRunning_; }
    // True once the S.M.A.R.T. page's list is complete; only then do bars follow it.
    bool SmartValuesShown = false;
    // Keeps a row's bar over its "Visual" cell while the list is drawn, scrolled or resized.
    void ListViewCustomDrawSubItem(QTreeWidget* sender, QTreeWidgetItem* item, int subItem);
    // The block map of the last surface test; nullptr before the first.
    TBlockMapWindow* BlockMap() const { return blockMap_; }

public slots:
    void SmarttestButtonClick();
    void sectortestbuttonClick();
    void DrivesListViewDblClick();
    void eMailSetting1Click();
    void TntBitBtn3Click();
    void CancelEmailSettingClick();
    void TntBitBtn1Click();
    void TntSpeedButton1Click();
    void TntSpeedButton4Click();
    void TntSpeedButton2Click();
    void startsmarttestClick();
    void TntSpeedButton7Click();
    void TntSpeedButton5Click();
    void TntSpeedButton9Click();
    void CreateAutostartEntries1Click();
    void installbuttonClick();
    void cancelbuttonClick();
    void InfoaboutKAVENOScandor1Click();
    void InfoaboutKAVENOSalvex1Click();
    void TntSpeedButton6Click();
    void TntBitBtn4Click();
    void Translator1ChangeLanguage();

protected:
    void closeEvent(QCloseEvent* event) override;
    void TntFormClose();

private:
    void FormCreate();
    void ConnectHandlers();
    // Runs a handler; an error it does not catch is shown, and the program goes on.
    void Guarded(const std::function<void()>& handler);
    void PumpMessages();
    void ReadSettings();
    // False when the fields were refused and the page should stay open.
    bool SaveSettings();
    void ShowAfterEmailPage();
    void ListDrivesForSectorTest();
    void ListDrivesForSmartTest();
    void FillDriveList(bool smart);
    void WriteSurfaceReport(const TBigDriveInformation& record, int64_t startSector, int64_t endSector,
                            const SurfaceRunResult& result);
    // While a sector test runs: shows its page and returns true.
    bool ReturnToRunningTest();
    // The same, saying why a second test cannot start.
    bool RefuseStartWhileTestRuns();
    // The menu items that would leave a running test or start another one.
    void SetTestMenusEnabled(bool enabled);
    void SendReport();
    // The record's path still leads to the disk the fill probed (or to nothing
    // that opens, which the test itself reports).
    bool StillTheListedDisk(const TBigDriveInformation& record);
    // Says the list no longer matches the machine and fills it again.
    void ListOutOfDate();
    // The record of the selected drive-list item, or nullptr.
    std::shared_ptr<TBigDriveInformation> SelectedRecord() const;

    platform::Platform& platform_;
    std::unique_ptr<Dialogs> ownDialogs_;
    Dialogs* dialogs_;
    std::unique_ptr<Ui::TMainForm> ui;
    std::unique_ptr<TUserSystem> userSystem_;
    MessageStrings messages_;
    // The dispatcher outlives the translator linked to it.
    translation::TTranslatorDispatcher TranslatorDispatcher1;
    std::unique_ptr<translation::TTranslator> Translator1;
    QLabel* statusPanels_[2] = {nullptr, nullptr};
    QSystemTrayIcon* inTrayIcon = nullptr;
    QString trayHint_;
    int trayHintUpdates_ = 0;
    TInfoFormSalvex* infoSalvex_ = nullptr;
    TInfoFormScandor* infoScandor_ = nullptr;
    bool surfaceRunning_ = false;
    TBlockMapWindow* blockMap_ = nullptr;
    QList<QIcon> driveImages_;
    MailSender* mailSender_ = nullptr;
};
