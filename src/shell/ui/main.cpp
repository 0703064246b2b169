#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "platform/invoker.h"
#include "platform/platform.h"
#include "shell/ui/mainform.h"

int main(int argc, char** argv) {
    // The program reads no arguments: not even Qt's own options reach it, so a
    // parameter string of an autostart entry can never change its behaviour.
    int qtArgc = argc > 0 ? 1 : 0;
    // Run by sudo -E or pkexec, root must not load plugins from the user's folders.
    platform::ForgetUserCodePaths();
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("scandor"));

    std::unique_ptr<platform::Platform> machine;
    try {
        machine = platform::CreatePlatformFromEnvironment();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QString::fromLatin1(TMainForm::ApplicationTitle), QString::fromUtf8(e.what()));
        return 1;
    }
    // One authentication a run, at start; a refusal is said where drives are listed.
    machine->ObtainDriveAccess();
    TMainForm form(*machine);
    form.show();
    return app.exec();
}
