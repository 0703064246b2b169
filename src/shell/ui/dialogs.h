// Every modal dialog of the window goes through here, so a test can answer it.
#pragma once

#include <QString>
#include <optional>

class QUrl;
class QWidget;

class Dialogs {
public:
    enum Icon { Information, Error, Warning };
    virtual ~Dialogs() = default;
    virtual void MessageBox(QWidget* parent, const QString& text, const QString& caption, Icon icon);
    // The chosen folder without a trailing separator (except a root), or nothing.
    virtual std::optional<QString> BrowseForFolder(QWidget* parent, const QString& title,
                                                   const QString& root, const QString& initial);
    // Opens a web page with the user's default handler.
    virtual void OpenUrl(const QUrl& url);
};
