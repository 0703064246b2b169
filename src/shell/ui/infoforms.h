// The two information windows of the Help menu: small, white, non-modal tool
// windows, created hidden at start and shown again and again.
#pragma once

#include <QWidget>

class QFrame;
class QLabel;
class Dialogs;

class TInfoForm : public QWidget {
    Q_OBJECT

public:
    // Shows the window centred over its owner, or brings it up again.
    void ShowOver(QWidget* owner);
    QString WebAddress() const { return url_; }

protected:
    struct Layout {
        const char* objectName;
        const char* caption;
        QSize client;
        QRect bevel;
        QPoint text;
        QPoint link;
    };
    TInfoForm(QWidget* owner, Dialogs& dialogs, const Layout& layout, QString url, QString linkCaption);
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    virtual QString Text() const = 0;

private:
    void TntLabel1Click();

    Dialogs& dialogs_;
    QString url_;
    QFrame* bevel_;
    QLabel* text_;
    QLabel* link_;
};

class TInfoFormScandor : public TInfoForm {
    Q_OBJECT
public:
    TInfoFormScandor(QWidget* owner, Dialogs& dialogs);
protected:
    QString Text() const override;
};

class TInfoFormSalvex : public TInfoForm {
    Q_OBJECT
public:
    TInfoFormSalvex(QWidget* owner, Dialogs& dialogs);
protected:
    QString Text() const override;
};

// The maker's addresses.
namespace weblinks {
constexpr const char* Maker = "http://www.kaveno.de";
constexpr const char* Scandor = "http://www.kaveno.de/scandor";
constexpr const char* Salvex = "http://www.kaveno.de/salvex";
}  // namespace weblinks
