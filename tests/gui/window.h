// A main window on a simulated machine, with dialogs answered by the test.
#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <memory>
#include <string>
#include <vector>

#include "drive/harddrive.h"
#include "platform/platform.h"
#include "shell/ui/dialogs.h"
#include "shell/ui/mainform.h"
#include "support/sim.h"

namespace testsupport {

// The disk behind a drive path now, as the list fill records it.
inline DriveIdentity IdentityOf(platform::Platform& p, const std::string& path) {
    const platform::Handle h = p.CreateFile(path, platform::GENERIC_READ, platform::FILE_SHARE_READ,
                                            platform::OPEN_EXISTING, 0);
    if (h == platform::InvalidHandle) return {};
    const DriveIdentity id = QueryDriveIdentity(p, h);
    p.CloseHandle(h);
    return id;
}

class ScriptedDialogs : public Dialogs {
public:
    struct Box { QString text, caption; Icon icon; };
    std::vector<Box> boxes;
    std::optional<QString> nextFolder;
    std::vector<QString> folderTitles;

    void MessageBox(QWidget*, const QString& text, const QString& caption, Icon icon) override {
        boxes.push_back({text, caption, icon});
    }
    std::optional<QString> BrowseForFolder(QWidget*, const QString& title, const QString&,
                                           const QString&) override {
        folderTitles.push_back(title);
        return nextFolder;
    }
};

struct Window {
    std::unique_ptr<platform::sim::SimPlatform> machine;
    ScriptedDialogs dialogs;
    std::unique_ptr<TMainForm> form;

    explicit Window(const std::string& manifest = "{}", const std::string& dir = ".")
        : machine(Machine(manifest, dir)), form(std::make_unique<TMainForm>(*machine, &dialogs)) {}

    template <class T = QWidget>
    T* Find(const char* name) const {
        return form->findChild<T*>(QString::fromLatin1(name));
    }
    QTabWidget* Pages() const { return Find<QTabWidget>("ProcessControl"); }
    void Click(const char* button) const { Find<QAbstractButton>(button)->click(); }
    void Trigger(const char* action) const { Find<QAction>(action)->trigger(); }
    int CurrentPage() const { return Pages()->currentIndex(); }
    int VisibleTabs() const {
        int n = 0;
        for (int i = 0; i < Pages()->count(); ++i) n += Pages()->isTabVisible(i) ? 1 : 0;
        return n;
    }
    QString Log() const { return Find<QPlainTextEdit>("ProcessInfo")->toPlainText(); }
};

}  // namespace testsupport
