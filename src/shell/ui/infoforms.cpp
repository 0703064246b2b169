#include "shell/ui/infoforms.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QScreen>
#include <QUrl>

#include "shell/ui/dialogs.h"

TInfoForm::TInfoForm(QWidget* owner, Dialogs& dialogs, const Layout& layout, QString url,
                     QString linkCaption)
    : QWidget(owner, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      dialogs_(dialogs), url_(std::move(url)) {
    setObjectName(QString::fromLatin1(layout.objectName));
    setWindowTitle(QString::fromLatin1(layout.caption));
    setFixedSize(layout.client);
    setWindowModality(Qt::NonModal);
    setAttribute(Qt::WA_DeleteOnClose, false);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setAutoFillBackground(true);
    setFont(QFont(QStringLiteral("Tahoma"), 8));

    bevel_ = new QFrame(this);
    bevel_->setObjectName(QStringLiteral("TntBevel1"));
    bevel_->setFrameShape(QFrame::Box);
    bevel_->setFrameShadow(QFrame::Sunken);
    bevel_->setGeometry(layout.bevel);

    text_ = new QLabel(this);
    text_->setObjectName(QStringLiteral("TntLabel2"));
    text_->move(layout.text);

    link_ = new QLabel(linkCaption, this);
    link_->setObjectName(QStringLiteral("TntLabel1"));
    link_->setAlignment(Qt::AlignCenter);
    link_->setStyleSheet(QStringLiteral("color: navy; text-decoration: underline;"));
    link_->setCursor(Qt::PointingHandCursor);
    link_->adjustSize();
    link_->move(layout.link);
    link_->installEventFilter(this);
    link_->setProperty("url", url_);
}

void TInfoForm::showEvent(QShowEvent* event) {
    // FormShow: the text is set every time the window is shown.
    text_->setText(Text());
    text_->adjustSize();
    QWidget::showEvent(event);
}

void TInfoForm::ShowOver(QWidget* owner) {
    if (!isVisible()) {
        text_->setText(Text());
        text_->adjustSize();
        QRect frame = owner ? owner->frameGeometry() : screen()->availableGeometry();
        move(frame.center() - QPoint(width() / 2, height() / 2));
        show();
    }
    raise();
    activateWindow();
}

bool TInfoForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == link_ && event->type() == QEvent::MouseButtonRelease) {
        TntLabel1Click();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TInfoForm::TntLabel1Click() { dialogs_.OpenUrl(QUrl(url_)); }

TInfoFormScandor::TInfoFormScandor(QWidget* owner, Dialogs& dialogs)
    : TInfoForm(owner, dialogs,
                {"InfoFormScandor", "Info about KAVENO Scandor", QSize(358, 238), QRect(20, 16, 317, 161),
                 QPoint(38, 23), QPoint(138, 194)},
                QString::fromLatin1(weblinks::Scandor), QString::fromLatin1(weblinks::Maker)) {}

QString TInfoFormScandor::Text() const {
    return QStringLiteral(
        "Free KAVENO Scandor 1.1\n"
        "\n"
        "Checks whether your drives are healthy: the\n"
        "S.M.A.R.T. test rates the drive's own health\n"
        "attributes, the sector surface test reads every\n"
        "sector and reports the blocks it cannot read.\n"
        "\n"
        "Scandor only reads your drives, never writes.\n"
        "Updates and help are on our web site:");
}

TInfoFormSalvex::TInfoFormSalvex(QWidget* owner, Dialogs& dialogs)
    : TInfoForm(owner, dialogs,
                {"InfoFormSalvex", "Info about KAVENO Salvex ", QSize(341, 230), QRect(8, 24, 305, 185),
                 QPoint(38, 46), QPoint(129, 176)},
                QString::fromLatin1(weblinks::Salvex), QString::fromLatin1(weblinks::Maker)) {}

QString TInfoFormSalvex::Text() const {
    return QStringLiteral(
        "KAVENO develops software for recovering\n"
        "lost data, for computer security and\n"
        "encryption, and for pattern recognition,\n"
        "for companies and private users.\n"
        "\n"
        "Do you need a high-end tool for recovering\n"
        "data? Follow the link below to KAVENO Salvex.");
}
