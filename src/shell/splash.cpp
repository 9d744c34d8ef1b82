#include "shell/splash.h"

#include "core/version.h"
#include "shell/pictures.h"

#include <QGuiApplication>
#include <QPainter>
#include <QRadialGradient>
#include <QScreen>
#include <QTimer>

namespace zantrel {

Splash::Splash(int showMilliseconds, QWidget* parent)
    : QDialog(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      picture_(drawPicture()) {
    setObjectName(QStringLiteral("Splash"));
    setAccessibleName(applicationTitle());
    setFixedSize(300, 302);
    // Only the ellipse shows and takes clicks; outside it they reach the window beneath.
    setMask(QRegion(20, 24, 263, 261, QRegion::Ellipse));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    auto* autoHide = new QTimer(this);
    autoHide->setObjectName(QStringLiteral("AutoHide"));
    autoHide->setSingleShot(true);
    autoHide->setInterval(showMilliseconds);
    connect(autoHide, &QTimer::timeout, this, &QDialog::accept);
    autoHide->start();
}

bool Splash::wanted(const QStringList& args) {
    return !args.contains(QStringLiteral("--once")) &&
           QGuiApplication::platformName() != QLatin1String("offscreen") &&
           QGuiApplication::platformName() != QLatin1String("minimal");
}

Splash* Splash::Show(int showMilliseconds) {
    auto* splash = new Splash(showMilliseconds);
    splash->setAttribute(Qt::WA_DeleteOnClose);
    splash->show();
    return splash;
}

QPixmap Splash::drawPicture() {
    QPixmap pixmap(300, 300);
    pixmap.fill(QColor(16, 32, 56));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient glow(150, 140, 150);
    glow.setColorAt(0, QColor(90, 150, 220));
    glow.setColorAt(1, QColor(16, 32, 56));
    p.setBrush(glow);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRect(20, 24, 263, 261));
    ApplicationIcon().paint(&p, QRect(94, 60, 112, 112));
    p.setPen(Qt::white);
    QFont font(QStringLiteral("Arial"), 16, QFont::Bold);
    p.setFont(font);
    p.drawText(QRect(20, 180, 263, 30), Qt::AlignCenter, QStringLiteral("Webcam Zantrel"));
    font.setPointSize(11);
    font.setBold(false);
    p.setFont(font);
    p.drawText(QRect(20, 210, 263, 24), Qt::AlignCenter, applicationTitle().section(QLatin1Char(' '), -1));
    return pixmap;
}

void Splash::paintEvent(QPaintEvent*) {
    QPainter(this).drawPixmap(0, 0, picture_);
}

} // namespace zantrel
