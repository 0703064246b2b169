#include "shell/ui/mainform.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <exception>

#include "drive/drivelist.h"
#include "drive/harddrive.h"
#include "drive/hostinfo.h"
#include "drive/usersystem.h"
#include "platform/platform.h"
#include "shell/autostart.h"
#include "shell/settings.h"
#include "shell/ui/dialogs.h"
#include "shell/ui/driveimages.h"
#include "shell/ui/gradientbar.h"
#include "shell/ui/driveitems.h"
#include "shell/ui/infoforms.h"
#include "shell/ui/smartpage.h"
#include "shell/ui/translationapply.h"
#include "shell/ui/windowlook.h"
#include "smart/smarttest.h"
#include "surface/maildelivery.h"
#include "surface/report.h"
#include "surface/surfacerun.h"
#include "shell/ui/blockmapwindow.h"
#include "ui_mainform.h"

TMainForm::TMainForm(platform::Platform& platform, Dialogs* dialogs, QWidget* parent)
    : QMainWindow(parent), platform_(platform), dialogs_(dialogs), ui(std::make_unique<Ui::TMainForm>()) {
    if (!dialogs_) {
        ownDialogs_ = std::make_unique<Dialogs>();
        dialogs_ = ownDialogs_.get();
    }
    // Tahoma is rarely installed outside Windows; its metric-compatible
    // stand-in keeps texts inside the boxes the window definition gives them.
    QFont::insertSubstitution(QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"));
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose, false);
    ui->DrivesListView->setItemDelegate(new windowlook::DriveItemDelegate(ui->DrivesListView));
    windowlook::KeepPagesToTheProgram(ui->ProcessControl);
    windowlook::LayOutSmartPage(ui->TabSheet6, ui->ResInfo, ui->ListView, ui->TntSpeedButton8, ui->TntSpeedButton9);
    windowlook::KeepPagesWhole(ui->ProcessControl);
    windowlook::MenusUseTheBarFont(ui->MainMenu);
    windowlook::AddHoverFrames(this);
    ui->TntSpeedButton6->setIcon(ButtonImage(driveimages::FolderPicture));
    ui->installbutton->setIcon(ButtonImage(driveimages::CheckMarkPicture));
    ui->cancelbutton->setIcon(ButtonImage(driveimages::AbortPicture));

    // The window definition's client area is 604 x 636 below the menu bar.
    ui->TntSplitter1->setSizes({636 - 105, 105});
    ui->TntSplitter1->setStretchFactor(0, 1);
    ui->TntSplitter1->setStretchFactor(1, 0);
    ui->ProcessInfo->setMinimumHeight(40);
    statusPanels_[0] = new QLabel(QStringLiteral("\u00A9 KAVENO Software"), ui->TntStatusBar1);
    statusPanels_[0]->setObjectName("TntStatusBar1Panel0");
    statusPanels_[0]->setFixedWidth(200);
    statusPanels_[1] = new QLabel(QString(), ui->TntStatusBar1);
    statusPanels_[1]->setObjectName("TntStatusBar1Panel1");
    statusPanels_[1]->setFixedWidth(50);
    ui->TntStatusBar1->addWidget(statusPanels_[0]);
    ui->TntStatusBar1->addWidget(statusPanels_[1]);
    resize(604, 636 + ui->MainMenu->sizeHint().height());
    windowlook::CentreOnScreen(this);
    const int columnWidths[] = {140, 40, 120, 40, 40, 40, 40};
    for (int c = 0; c < 7; ++c) ui->ListView->header()->resizeSection(c, columnWidths[c]);
    ui->ListView->header()->setStretchLastSection(false);
    // Column clicks are off, and the columns keep their order, so the bar
    // rectangle's sum of the first two widths always ends where "Visual" begins.
    ui->ListView->header()->setSectionsClickable(false);
    ui->ListView->header()->setSectionsMovable(false);
    smartpage::ShowGridLines(ui->ListView);
    smartpage::WatchBarGeometry(ui->ListView, [this](QTreeWidgetItem* item) {
        ListViewCustomDrawSubItem(ui->ListView, item, smartpage::VisualColumn);
    });

    setWindowIcon(ProgramIcon());
    driveImages_ = DrivesImageList();
    // The tray icon takes the application title as it is before the window
    // renames the program; it stays hidden, only its tooltip is kept current.
    // Qt would append a display name to every other window's caption, so the
    // title is kept here instead.
    inTrayIcon = new QSystemTrayIcon(windowIcon(), this);
    inTrayIcon->setObjectName(QStringLiteral("inTrayIcon"));
    SetTrayHint(QString::fromLatin1(ApplicationTitle));
    connect(inTrayIcon, &QSystemTrayIcon::activated, this, [this] { showNormal(); raise(); activateWindow(); });

    // Comes up with English, as the dispatcher does, so linking applies nothing.
    Translator1 = std::make_unique<translation::TTranslator>(translation::MainFormTable());
    Translator1->Apply = [this](int language) { ApplyTranslation(*this, Translator1->GetTable(), language); };
    Translator1->OnChangeLanguage = [this] { Translator1ChangeLanguage(); };
    Translator1->Link(TranslatorDispatcher1);

    ConnectHandlers();
    FormCreate();

    infoSalvex_ = new TInfoFormSalvex(this, *dialogs_);
    infoScandor_ = new TInfoFormScandor(this, *dialogs_);
}

void TMainForm::SetTrayHint(const QString& hint) {
    QString cut = hint.left(TrayHintLimit);
    if (cut.size() == TrayHintLimit && cut.back().isHighSurrogate()) cut.chop(1);
    if (cut == trayHint_ && trayHintUpdates_ > 0) return;
    trayHint_ = cut;
    ++trayHintUpdates_;
    // The hint's lines are separated by a carriage return alone.
    inTrayIcon->setToolTip(QString(cut).replace(QChar('\r'), QChar('\n')));
}

TMainForm::~TMainForm() = default;

void TMainForm::FormCreate() {
    userSystem_ = std::make_unique<TUserSystem>(platform_);
    LoadMessageStrings();
    TestMode = 0;
    setWindowTitle(QString::fromLatin1(Caption));
    ReadSettings();
    ShowPage(6);
}

void TMainForm::ConnectHandlers() {
    auto onClick = [this](QAbstractButton* b, void (TMainForm::*handler)()) {
        connect(b, &QAbstractButton::clicked, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
    };
    auto onTrigger = [this](QAction* a, void (TMainForm::*handler)()) {
        connect(a, &QAction::triggered, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
    };
    onClick(ui->SmarttestButton, &TMainForm::SmarttestButtonClick);
    onClick(ui->sectortestbutton, &TMainForm::sectortestbuttonClick);
    onClick(ui->TntBitBtn3, &TMainForm::TntBitBtn3Click);
    onClick(ui->CancelEmailSetting, &TMainForm::CancelEmailSettingClick);
    onClick(ui->TntSpeedButton3, &TMainForm::TntBitBtn1Click);
    onClick(ui->TntSpeedButton5, &TMainForm::TntSpeedButton5Click);
    onClick(ui->TntSpeedButton1, &TMainForm::TntSpeedButton1Click);
    onClick(ui->TntSpeedButton4, &TMainForm::TntSpeedButton4Click);
    onClick(ui->TntSpeedButton2, &TMainForm::TntSpeedButton2Click);
    onClick(ui->TntBitBtn1, &TMainForm::startsmarttestClick);
    onClick(ui->TntBitBtn2, &TMainForm::TntSpeedButton7Click);
    onClick(ui->TntSpeedButton8, &TMainForm::TntSpeedButton5Click);
    onClick(ui->TntSpeedButton9, &TMainForm::TntSpeedButton9Click);
    onClick(ui->installbutton, &TMainForm::installbuttonClick);
    onClick(ui->cancelbutton, &TMainForm::cancelbuttonClick);
    onClick(ui->TntSpeedButton6, &TMainForm::TntSpeedButton6Click);
    onClick(ui->TntBitBtn4, &TMainForm::TntBitBtn4Click);
    // The menu's test items act as if the page's buttons had been clicked.
    onTrigger(ui->SmartTestSubMenu, &TMainForm::SmarttestButtonClick);
    onTrigger(ui->SectorTestMenu, &TMainForm::sectortestbuttonClick);
    onTrigger(ui->eMailSetting1, &TMainForm::eMailSetting1Click);
    onTrigger(ui->CreateAutostartEntries1, &TMainForm::CreateAutostartEntries1Click);
    onTrigger(ui->InfoaboutKAVENOScandor1, &TMainForm::InfoaboutKAVENOScandor1Click);
    onTrigger(ui->InfoaboutKAVENOSalvex1, &TMainForm::InfoaboutKAVENOSalvex1Click);
    connect(ui->DrivesListView, &QListWidget::itemDoubleClicked, this,
            [this] { Guarded([this] { DrivesListViewDblClick(); }); });
}

void TMainForm::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        dialogs_->MessageBox(this, QString::fromUtf8(e.what()), windowTitle(), Dialogs::Error);
    } catch (...) {
        dialogs_->MessageBox(this, QStringLiteral("Unknown error"), windowTitle(), Dialogs::Error);
    }
}

void TMainForm::PumpMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TMainForm::ShowPage(int index) {
    QTabWidget* pages = ui->ProcessControl;
    if (index < 0 || index >= PageCount) return;
    // Only this function moves between pages; meanwhile nothing is turned back.
    pages->setProperty(windowlook::ShownPageProperty, QVariant());
    pages->setCurrentIndex(index);
    for (int i = 0; i < PageCount; ++i) {
        pages->setTabVisible(i, false);
        pages->widget(i)->setVisible(false);
    }
    pages->setTabVisible(index, true);
    // Hiding the current tab moves the tab bar elsewhere; put it back.
    pages->setCurrentIndex(index);
    pages->widget(index)->setVisible(true);
    pages->setProperty(windowlook::ShownPageProperty, index);
}

void TMainForm::LogProcessInfo(const QString& text) {
    ui->ProcessInfo->appendPlainText(text);
    PumpMessages();
}

namespace {

settings::EmailFields EmailFieldsOf(const Ui::TMainForm& ui) {
    settings::EmailFields f;
    f.sendByEmail = ui.sendemailceckbox->isChecked();
    f.email = ui.EMailEdit->text().toStdString();
    f.emailFrom = ui.EMailFromEdit->text().toStdString();
    f.smtpHost = ui.HostEdit->text().toStdString();
    f.username = ui.UsernameEdit->text().toStdString();
    f.password = ui.PasswordEdit->text().toStdString();
    return f;
}

}  // namespace

void TMainForm::LoadMessageStrings() { translation::LoadMessageStrings(*Translator1, messages_); }

void TMainForm::Translator1ChangeLanguage() { LoadMessageStrings(); }

void TMainForm::ReadSettings() {
    settings::EmailFields f = EmailFieldsOf(*ui);
    const std::string why = settings::ReadSettings(platform_.GetRegistry(), f);
    if (!why.empty())
        ui->ProcessInfo->appendPlainText(QString::fromStdString("The stored e-mail settings cannot be read: " + why));
    ui->sendemailceckbox->setChecked(f.sendByEmail);
    ui->EMailEdit->setText(QString::fromStdString(f.email));
    ui->EMailFromEdit->setText(QString::fromStdString(f.emailFrom));
    ui->HostEdit->setText(QString::fromStdString(f.smtpHost));
    ui->UsernameEdit->setText(QString::fromStdString(f.username));
    ui->PasswordEdit->setText(QString::fromStdString(f.password));
}

bool TMainForm::SaveSettings() {
    settings::EmailFields f = EmailFieldsOf(*ui);
    // Stored or sent as 8-bit text, such a field would turn into '?' and a
    // password would fail at the server with nothing said.
    if (auto field = settings::UnstorableField(f)) {
        const QLabel* labels[] = {ui->EMailLabel, ui->EMailFromLabel, ui->HostLabel, ui->UsernameLabel,
                                  ui->PasswordLabel};
        QString name = labels[static_cast<int>(*field)]->text().trimmed();
        if (name.endsWith(QLatin1Char(':'))) name.chop(1);
        dialogs_->MessageBox(this,
                             QStringLiteral("\"%1\" holds characters that cannot be stored; only the "
                                            "characters of Windows-1252 can. Nothing was saved.")
                                 .arg(name),
                             QString::fromStdString(messages_.strSTitleERROR), Dialogs::Error);
        return false;
    }
    const std::string why = settings::SaveSettings(platform_.GetRegistry(), f);
    if (!why.empty()) LogProcessInfo(QString::fromStdString("The e-mail settings were not saved: " + why));
    return true;
}

void TMainForm::ShowAfterEmailPage() {
    if (ReturnToRunningTest()) return;
    ShowPage(TestMode != 0 ? 0 : 6);
}

bool TMainForm::ReturnToRunningTest() {
    if (!surfaceRunning_) return false;
    ShowPage(2);
    return true;
}

bool TMainForm::RefuseStartWhileTestRuns() {
    if (!ReturnToRunningTest()) return false;
    dialogs_->MessageBox(this,
                         QStringLiteral("A sector test is running. Wait until it ends, or stop it with \"Abort Scandor\", "
                                        "before you start another test."),
                         windowTitle(), Dialogs::Information);
    return true;
}

void TMainForm::SetTestMenusEnabled(bool enabled) {
    for (QAction* a : {ui->SmartTestSubMenu, ui->SectorTestMenu, ui->CreateAutostartEntries1}) a->setEnabled(enabled);
}

void TMainForm::SmarttestButtonClick() {
    if (ReturnToRunningTest()) return;
    TestMode = 1;
    ui->DrivesListView->clear();
    PumpMessages();
    ListDrivesForSmartTest();
    PumpMessages();
    ShowPage(0);
    PumpMessages();
}

void TMainForm::sectortestbuttonClick() {
    if (ReturnToRunningTest()) return;
    TestMode = 2;
    ui->DrivesListView->clear();
    PumpMessages();
    ListDrivesForSectorTest();
    PumpMessages();
    ShowPage(0);
}

DriveRecord TMainForm::SelectedRecord() const {
    QListWidgetItem* item = ui->DrivesListView->currentItem();
    if (!item || !item->isSelected()) return nullptr;
    return RecordOf(item);
}

void TMainForm::DrivesListViewDblClick() {
    // Before anything of the running test's state is touched.
    if (RefuseStartWhileTestRuns()) return;
    DriveRecord record = SelectedRecord();
    if (!record) return;
    if (record->Kind == KindFloppy) {
        StartSector = 0;
        EndSector = record->TotalBytes / 512;
    } else {
        StartSector = record->PartitionInfo.StartingOffset / BytesPerSector;
        EndSector = StartSector + record->PartitionInfo.PartitionLength / 512;
    }
    if (EndSector - StartSector < 1) {
        dialogs_->MessageBox(this, QString::fromStdString(messages_.strSBADDisk),
                             QString::fromStdString(messages_.strSTitleERROR), Dialogs::Error);
        ShowPage(0);
        return;
    }
    if (!StillTheListedDisk(*record)) {
        ListOutOfDate();
        return;
    }
    if (TestMode == 1)
        startsmarttestClick();
    else
        TntBitBtn1Click();
}

bool TMainForm::StillTheListedDisk(const TBigDriveInformation& record) {
    const platform::Handle h = platform_.CreateFile(record.DevicePath, platform::GENERIC_READ,
                                                    platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                                                    platform::OPEN_EXISTING, 0);
    // A drive that cannot be opened reads nothing; the test says why.
    if (h == platform::InvalidHandle) return true;
    const DriveIdentity now = QueryDriveIdentity(platform_, h);
    platform_.CloseHandle(h);
    return record.Identity.SameDisk(now);
}

void TMainForm::ListOutOfDate() {
    dialogs_->MessageBox(this, QString::fromUtf8(ListOutOfDateText), QString::fromStdString(messages_.strSTitleERROR),
                         Dialogs::Error);
    LogProcessInfo(QString::fromUtf8(ListOutOfDateText));
    ShowPage(0);
    ui->DrivesListView->clear();
    PumpMessages();
    if (TestMode == 1)
        ListDrivesForSmartTest();
    else
        ListDrivesForSectorTest();
    PumpMessages();
}

void TMainForm::eMailSetting1Click() { ShowPage(1); }

void TMainForm::TntBitBtn3Click() {
    if (!SaveSettings()) return;
    ShowAfterEmailPage();
}

void TMainForm::CancelEmailSettingClick() { ShowAfterEmailPage(); }

void TMainForm::TntBitBtn1Click() {
    // The run state is one set per window, and the run pumps events, so a start
    // reached from a nested handler would read through the same reader.
    if (RefuseStartWhileTestRuns()) return;
    ui->EmailEditcopy->setEnabled(true);
    ui->EmailEditcopy->setChecked(ui->sendemailceckbox->isChecked());
    ui->EmailEditcopy->setEnabled(false);
    ShowPage(2);
    ErrorCount = 0;
    ui->sectorErrors->setText(QStringLiteral("0"));
    ui->StartSectorLabel->setText(QString::number(StartSector));
    ui->EndSectorLabel->setText(QString::number(EndSector));
    AbortRequested = false;
    // A copy of the shared record: a refill of the list during the run cannot free it.
    DriveRecord record = SelectedRecord();
    if (!record) return;
    // The run reports from its own copy: handlers nested in its pumping may set
    // the window's range or refill the list.
    const TBigDriveInformation drive = *record;
    const int64_t runStart = StartSector, runEnd = EndSector;

    surfaceRunning_ = true;
    SetTestMenusEnabled(false);
    struct Reset {
        TMainForm& form;
        ~Reset() {
            form.surfaceRunning_ = false;
            form.SetTestMenusEnabled(true);
        }
    } reset{*this};
    SurfaceRunCallbacks cb;
    cb.pump = [this] { PumpMessages(); };
    cb.log = [this](const std::string& line) { LogProcessInfo(QString::fromStdString(line)); };
    cb.blockFailed = [this](int64_t n, int64_t) {
        ErrorCount = n;
        ui->sectorErrors->setText(QString::number(n));
    };
    cb.progress = [this](int p) { ui->Progress->setValue(p); };
    cb.trayHint = [this](const std::string& hint) { SetTrayHint(QString::fromStdString(hint)); };
    // The labels are only assigned when their text changes, so they do not flicker.
    cb.remainingTime = [this](const std::string& t) {
        QString text = QString::fromStdString(t);
        if (ui->RemainingTimeLabel->text() != text) ui->RemainingTimeLabel->setText(text);
    };
    cb.usedTime = [this](const std::string& t) {
        QString text = QString::fromStdString(t);
        if (ui->UsedTimeLabel->text() != text) ui->UsedTimeLabel->setText(text);
    };
    cb.abortRequested = [this] { return AbortRequested; };
    if (!blockMap_) blockMap_ = new TBlockMapWindow(this);
    blockMap_->Begin(QString::fromStdString(drive.DisplayName), runEnd);
    cb.readMode = [this](const std::string& how) { LogProcessInfo(QString::fromStdString("Reading: " + how)); };
    cb.blockTimed = [this](int64_t sector, ReadClass c, uint32_t us) { blockMap_->Block(sector, c, us); };
    TSurfaceRun run(platform_, std::move(cb));
    SurfaceRunResult result = run.Run(drive.DevicePath, drive.DisplayName, runEnd, &drive.Identity);
    blockMap_->Finish();
    if (result.wrongDisk) {
        blockMap_->hide();
        surfaceRunning_ = false;
        SetTestMenusEnabled(true);
        ListOutOfDate();
        return;
    }
    if (!result.opened) {
        blockMap_->hide();
        // Nothing was read and no report follows; say why instead of leaving the
        // page standing still.
        LogProcessInfo(QString::fromStdString("Cannot open " + drive.DevicePath + ": " + result.openError));
        return;
    }
    if (!result.recordError.empty())
        LogProcessInfo(QString::fromStdString("The scan record was not kept: " + result.recordError));
    WriteSurfaceReport(drive, runStart, runEnd, result);
    ShowPage(3);
    PumpMessages();
    // Also after an abort, and also when the window was closed during the run.
    if (ui->sendemailceckbox->isChecked()) SendReport();
}

void TMainForm::WriteSurfaceReport(const TBigDriveInformation& record, int64_t startSector, int64_t endSector,
                                   const SurfaceRunResult& result) {
    QStringList lines;
    for (const auto& line : BuildSurfaceReport(SurfaceReportOfRun(platform_, record.DevicePath, record.DisplayName,
                                                                  startSector, endSector, result.CurrentSector,
                                                                  result.ErrorCount)))
        lines << QString::fromStdString(line);
    ui->Report->setPlainText(lines.join('\n'));
}

void TMainForm::SendReport() {
    MailFields fields;
    fields.host = ui->HostEdit->text().toStdString();
    fields.userName = ui->UsernameEdit->text().toStdString();
    fields.password = ui->PasswordEdit->text().toStdString();
    fields.from = ui->EMailFromEdit->text().toStdString();
    fields.recipients = ui->EMailEdit->text().toStdString();
    std::vector<std::string> lines;
    for (const QString& line : ui->Report->toPlainText().split('\n')) lines.push_back(line.toStdString());
    SmtpMailSender smtp;
    MailSender& sender = mailSender_ ? *mailSender_ : smtp;
    // The delivery blocks the window; its lines go straight into the log.
    SendReportByEmail(fields, lines,
                      [this](const std::string& line) { ui->ProcessInfo->appendPlainText(QString::fromStdString(line)); },
                      sender);
}

void TMainForm::TntSpeedButton1Click() { AbortRequested = true; }

void TMainForm::TntSpeedButton4Click() {
    if (blockMap_) blockMap_->hide();  // the map goes with its run's report
    ShowPage(6);
}

void TMainForm::TntSpeedButton2Click() { close(); }

void TMainForm::startsmarttestClick() {
    if (RefuseStartWhileTestRuns()) return;
    SmartValuesShown = false;
    DriveRecord record = SelectedRecord();
    if (!record) {
        ShowPage(0);
        return;
    }
    ShowPage(5);
    smartpage::ClearRows(ui->ListView);
    // Raw values are grouped as the user's locale groups numbers.
    const SmartTestOutcome outcome = RunSmartTest(platform_, record->DriveNumber, StartSector, EndSector,
                                                  QLocale().groupSeparator().toStdString(), &record->Identity);
    if (outcome.wrongDisk) {
        ListOutOfDate();
        return;
    }
    ui->ResInfo->setText(QString::fromStdString(outcome.resInfo));
    // What failed is said first; a long line must not scroll it out of sight.
    ui->ResInfo->setCursorPosition(0);
    if (!outcome.tableShown) return;
    smartpage::FillRows(ui->ListView, outcome);
    // A new line of the log, without pumping: the run lets no other handler in.
    ui->ProcessInfo->appendPlainText(QString::fromStdString(messages_.StrCheckValues));
    SmartValuesShown = true;
}

void TMainForm::ListViewCustomDrawSubItem(QTreeWidget* sender, QTreeWidgetItem* item, int) {
    if (!SmartValuesShown || !sender || !item) return;
    if (TGradientBar* bar = smartpage::BarOf(item)) {
        const QRect r = smartpage::BarRect(sender, item);
        if (bar->geometry() != r) bar->setGeometry(r);
    }
}

void TMainForm::TntSpeedButton7Click() { ShowPage(1); }

void TMainForm::TntSpeedButton5Click() {
    ShowPage(0);
    ui->DrivesListView->clear();
    PumpMessages();
    ListDrivesForSmartTest();
    PumpMessages();
}

void TMainForm::TntSpeedButton9Click() {
    if (ui->ListView->topLevelItemCount() == 0) return;
    const std::vector<std::string> lines =
        smartpage::ReportFromList(ui->ListView, ui->ResInfo->text(), ReportDateTime(), ComputerNameForReport(platform_),
                                  UserNameForReport(platform_), GetLocalIpAddress(platform_));
    QPlainTextEdit* memo = ui->Report;
    memo->clear();
    smartpage::SetTabStops(memo, {100, 140, 180, 220, 260, 300, 340});
    QStringList text;
    for (const std::string& line : lines) text << QString::fromStdString(line);
    memo->setPlainText(text.join(QChar('\n')));
    ShowPage(3);
}

void TMainForm::FillDriveList(bool smart) {
    DriveListCallbacks cb;
    cb.log = [this](const std::string& line) { LogProcessInfo(QString::fromStdString(line)); };
    cb.pump = [this] { PumpMessages(); };
    cb.add = [this](const DriveListEntry& entry) {
        auto* item = new QListWidgetItem(QString::fromStdString(entry.caption), ui->DrivesListView);
        if (entry.imageIndex >= 0 && entry.imageIndex < driveImages_.size())
            item->setIcon(driveImages_[entry.imageIndex]);
        if (entry.record) AttachRecord(item, entry.record);
        // The whole caption, and which device it is.
        QString tip = QString::fromStdString(entry.caption);
        if (entry.record) tip += QChar('\n') + QString::fromStdString(entry.record->DevicePath);
        item->setToolTip(tip);
    };
    cb.informationBox = [this](const std::string& text, const std::string& caption) {
        dialogs_->MessageBox(this, QString::fromStdString(text), QString::fromStdString(caption),
                             Dialogs::Information);
    };
    cb.resumeEntries = settings::ResumeEntriesFrom(platform_.GetRegistry(), cb.log);
    TDriveList list(platform_, *userSystem_, DriveListTextsOf(messages_), std::move(cb));
    if (smart)
        list.ListDrivesForSmartTest();
    else
        list.ListDrivesForSectorTest();
}

void TMainForm::ListDrivesForSectorTest() { FillDriveList(false); }

void TMainForm::ListDrivesForSmartTest() { FillDriveList(true); }

void TMainForm::CreateAutostartEntries1Click() {
    if (ReturnToRunningTest()) return;
    ShowPage(7);
    ui->SelectParameterList->clear();
    if (ui->DrivesListView->count() == 0) {
        TestMode = 1;
        ui->DrivesListView->clear();
        PumpMessages();
        ListDrivesForSmartTest();
        PumpMessages();
    }
    for (int i = 0; i < ui->DrivesListView->count(); ++i) {
        QListWidgetItem* source = ui->DrivesListView->item(i);
        auto* item = new QTreeWidgetItem(ui->SelectParameterList, QStringList{source->text()});
        AttachRecord(item, RecordOf(source));
    }
    // With an empty list nothing is selected and the page stays usable.
    if (QTreeWidgetItem* first = ui->SelectParameterList->topLevelItem(0))
        ui->SelectParameterList->setCurrentItem(first);
}

void TMainForm::TntSpeedButton6Click() {
    const QString root(QChar::fromLatin1(platform_.PathSeparator()));
    auto folder = dialogs_->BrowseForFolder(this, QStringLiteral("Select log file directory"), root, QString());
    if (!folder || folder->isEmpty()) return;
    ui->TntEdit1->setText(QString::fromStdString(LogFileInFolder(folder->toStdString(), platform_.PathSeparator())));
}

void TMainForm::TntBitBtn4Click() {
    QTreeWidgetItem* item = ui->SelectParameterList->currentItem();
    if (!item || !item->isSelected()) return;
    DriveRecord record = RecordOf(item);
    if (!record) return;
    ui->TntEdit2->setText(QString::fromStdString(
        BuildParameterString(record->DriveNumber, ui->TntEdit1->text().toStdString())));
}

void TMainForm::installbuttonClick() {
    InstallAutostartEntry(platform_, ui->TntEdit2->text().toStdString());
    if (!ReturnToRunningTest()) ShowPage(6);
}

void TMainForm::cancelbuttonClick() {
    if (!ReturnToRunningTest()) ShowPage(6);
}

void TMainForm::InfoaboutKAVENOScandor1Click() { infoScandor_->ShowOver(this); }

void TMainForm::InfoaboutKAVENOSalvex1Click() { infoSalvex_->ShowOver(this); }

void TMainForm::TntFormClose() { AbortRequested = true; }

void TMainForm::closeEvent(QCloseEvent* event) {
    TntFormClose();
    event->accept();
}
