#include "shell/tray_icon.h"

#include "core/instance.h"
#include "core/version.h"

#include <QMenu>
#include <QWidget>

namespace zantrel {

QString MakeTrayTip(const QString& state) {
    return InstanceTitle() + QLatin1Char(',') + state;
}

QString CutTrayTip(const QString& text) {
    return text.left(63);
}

SysTray::SysTray(QObject* parent) : QObject(parent), menu_(std::make_unique<QMenu>()) {
    menu_->setObjectName(QStringLiteral("frmMenu"));
    QAction* about = menu_->addAction(QStringLiteral("About..."));
    menu_->addSeparator();
    QAction* exit = menu_->addAction(QStringLiteral("Exit"));
    connect(about, &QAction::triggered, this, &SysTray::aboutRequested);
    connect(exit, &QAction::triggered, this, &SysTray::exitRequested);
}

SysTray::~SysTray() {
    RemoveTrayIcon();
}

void SysTray::AddTrayIcon(QWidget* window) {
    window_ = window;
    icon_ = std::make_unique<QSystemTrayIcon>(window->windowIcon());
    icon_->setContextMenu(menu_.get());
    connect(icon_.get(), &QSystemTrayIcon::activated, this, &SysTray::activated);
    icon_->show();
}

void SysTray::RemoveTrayIcon() {
    if (!icon_)
        return;
    icon_->hide();
    icon_.reset();
}

namespace {
std::optional<bool> availableForTesting;
}

bool SysTray::available() {
    return availableForTesting.value_or(QSystemTrayIcon::isSystemTrayAvailable());
}

void SysTray::setAvailableForTesting(std::optional<bool> available) {
    availableForTesting = available;
}

bool SysTray::present() const {
    return icon_ && available();
}

void SysTray::SetTrayTip(const QString& text) {
    tip_ = CutTrayTip(text);
    if (icon_)
        icon_->setToolTip(tip_);
}

void SysTray::SetTrayIcon(const QIcon& picture) {
    if (icon_ && !picture.isNull())
        icon_->setIcon(picture);
}

void SysTray::activated(QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Trigger || !window_)
        return;
    if (window_->isMinimized())
        window_->showNormal();
    else
        window_->show();
    window_->raise();
    window_->activateWindow();
    SetTrayTip(MakeTrayTip(QStringLiteral("Ready")));
}

} // namespace zantrel
