#include "shell/ui/dialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>
#include <QMessageBox>

void Dialogs::MessageBox(QWidget* parent, const QString& text, const QString& caption, Icon icon) {
    QMessageBox::Icon qicon = icon == Error     ? QMessageBox::Critical
                              : icon == Warning ? QMessageBox::Warning
                                                : QMessageBox::Information;
    QMessageBox box(qicon, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

std::optional<QString> Dialogs::BrowseForFolder(QWidget* parent, const QString& title,
                                                const QString& root, const QString& initial) {
    QString dir = QFileDialog::getExistingDirectory(parent, title, initial.isEmpty() ? root : initial,
                                                    QFileDialog::ShowDirsOnly);
    if (dir.isEmpty()) return std::nullopt;
    while (dir.size() > 1 && dir.endsWith('/')) dir.chop(1);
    return dir;
}

void Dialogs::OpenUrl(const QUrl& url) { QDesktopServices::openUrl(url); }
