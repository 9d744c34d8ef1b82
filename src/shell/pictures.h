#pragma once

#include <QIcon>
#include <QStringList>

namespace zantrel {

// The program's pictures by the keys its windows use: the desktop's icon theme where a standard icon
// fits, the program's own drawings otherwise (and on a desktop without a theme).
// Toolbar pictures (24 x 22): "device", "internet", "server", "preferences", "effects", "time", "close",
// "run", "stop", "now", "about", "gallery", "settings", "call".
QIcon IconBank(const QString& key);
// Caption row pictures (12 x 10): "close", "minimize", "notontop", "ontop".
QIcon Bank16x16(const QString& key);
// Notification area pictures (32 x 32): "mastericon" (idle, and the window's icon) and "now".
QIcon TrayIcon(const QString& key);
// The program's own icon, as installed for the desktop.
QIcon ApplicationIcon();

QStringList IconBankKeys();
QStringList Bank16x16Keys();
QStringList TrayIconKeys();

} // namespace zantrel
