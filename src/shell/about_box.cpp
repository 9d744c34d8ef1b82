#include "shell/about_box.h"

#include "core/version.h"
#include "shell/drag_window.h"
#include "shell/pictures.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace zantrel {

QString AboutVersionLine(int major, int minor, int build) {
    return QStringLiteral("Version: %1.%2 Build:%3")
        .arg(major)
        .arg(minor, 2, 10, QLatin1Char('0'))
        .arg(build == 0 ? QString() : QString::number(build));
}

QString frmAbout::creditsText() {
    return QStringLiteral(
        "<center><b>Webcam Zantrel</b><br>"
        "Publishes the picture of your camera<br>on a schedule, stamped and archived.<br><br>"
        "<b>Built with</b><br>"
        "Qt 6 &ndash; The Qt Company,<br>GNU LGPL version 3<br><br>"
        "GStreamer &ndash; the GStreamer team,<br>GNU LGPL version 2.1 or later<br><br>"
        "libjpeg-turbo &ndash; the libjpeg-turbo project<br>and the Independent JPEG Group,<br>"
        "IJG licence, BSD 3-clause and zlib licences<br><br>"
        "libcurl &ndash; Daniel Stenberg and contributors,<br>curl licence (MIT style)<br><br>"
        "<b>Thanks</b><br>to everyone who keeps a camera<br>pointed at something worth seeing.</center>");
}

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(applicationTitle());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(true);
    setFixedSize(512, 330);

    auto* picture1 = new QLabel(this);
    picture1->setObjectName(QStringLiteral("Picture1"));
    picture1->setPixmap(ApplicationIcon().pixmap(96, 96));
    picture1->setGeometry(24, 24, 96, 96);
    auto* picture2 = new QLabel(this);
    picture2->setObjectName(QStringLiteral("Picture2"));
    picture2->setPixmap(TrayIcon(QStringLiteral("now")).pixmap(48, 48));
    picture2->setGeometry(48, 150, 48, 48);

    auto* title = new QLabel(applicationTitle(), this);
    title->setFont(QFont(QStringLiteral("Arial"), 14, QFont::Bold));
    title->setGeometry(150, 16, 340, 28);
    auto* version = new QLabel(AboutVersionLine(kVersionMajor, kVersionMinor, BuildRevision()), this);
    version->setObjectName(QStringLiteral("AppVersion"));
    version->setGeometry(150, 46, 340, 20);

    textFrame_ = new QWidget(this);
    textFrame_->setObjectName(QStringLiteral("TextFrame"));
    textFrame_->setGeometry(150, 74, 340, 200);
    aboutText_ = new QLabel(creditsText(), textFrame_);
    aboutText_->setObjectName(QStringLiteral("AboutText"));
    aboutText_->setTextFormat(Qt::RichText);
    aboutText_->adjustSize();
    // Each opening starts the credits just below the visible part of the frame.
    aboutText_->move((textFrame_->width() - aboutText_->width()) / 2, textFrame_->height());

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Quit_button"));
    ok->setGeometry(400, 290, 90, 28);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("Timer1"));
    timer_->setInterval(30);
    connect(timer_, &QTimer::timeout, this, &frmAbout::scrollCredits);
    timer_->start();

    WindowDrag::attach(this, this, Qt::AllButtons);
}

void frmAbout::scrollCredits() {
    QPoint pos = aboutText_->pos();
    if (pos.y() <= -aboutText_->height())
        pos.setY(textFrame_->height());
    aboutText_->move(pos.x(), pos.y() - 1);
}

} // namespace zantrel
