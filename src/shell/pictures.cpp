#include "shell/pictures.h"

#include <QFile>
#include <map>

// The pictures are compiled into the program's library, whose resources are registered on first use.
static void initPictureResources() {
    Q_INIT_RESOURCE(resources);
}

namespace zantrel {

namespace {

// Standard freedesktop names for the pictures that have one.
const std::map<QString, QString>& themeNames() {
    static const std::map<QString, QString> names{
        {QStringLiteral("device"), QStringLiteral("camera-web")},
        {QStringLiteral("internet"), QStringLiteral("applications-internet")},
        {QStringLiteral("server"), QStringLiteral("network-server")},
        {QStringLiteral("preferences"), QStringLiteral("preferences-system")},
        {QStringLiteral("time"), QStringLiteral("appointment-soon")},
        {QStringLiteral("close"), QStringLiteral("window-close")},
        {QStringLiteral("run"), QStringLiteral("media-playback-start")},
        {QStringLiteral("stop"), QStringLiteral("media-playback-stop")},
        {QStringLiteral("about"), QStringLiteral("help-about")},
        {QStringLiteral("call"), QStringLiteral("call-start")},
    };
    return names;
}

QIcon ownPicture(const QString& file) {
    static const bool registered = (initPictureResources(), true);
    Q_UNUSED(registered);
    const QString path = QStringLiteral(":/icons/") + file + QStringLiteral(".svg");
    return QFile::exists(path) ? QIcon(path) : QIcon();
}

} // namespace

QIcon IconBank(const QString& key) {
    if (!IconBankKeys().contains(key))
        return {};
    const QIcon own = ownPicture(key);
    const auto theme = themeNames().find(key);
    return theme == themeNames().end() ? own : QIcon::fromTheme(theme->second, own);
}

QIcon Bank16x16(const QString& key) {
    if (!Bank16x16Keys().contains(key))
        return {};
    // Drawn for the caption row's small size; theme icons of this size are rarely legible.
    return ownPicture(QStringLiteral("caption-") + key);
}

QIcon TrayIcon(const QString& key) {
    return TrayIconKeys().contains(key) ? ownPicture(QStringLiteral("tray-") + key) : QIcon();
}

QIcon ApplicationIcon() {
    ownPicture(QString());
    return QIcon(QStringLiteral(":/webcam-zantrel.svg"));
}

QStringList IconBankKeys() {
    return {QStringLiteral("device"),      QStringLiteral("internet"), QStringLiteral("server"),
            QStringLiteral("preferences"), QStringLiteral("effects"),  QStringLiteral("time"),
            QStringLiteral("close"),       QStringLiteral("run"),      QStringLiteral("stop"),
            QStringLiteral("now"),         QStringLiteral("about"),    QStringLiteral("gallery"),
            QStringLiteral("settings"),    QStringLiteral("call")};
}

QStringList Bank16x16Keys() {
    return {QStringLiteral("close"), QStringLiteral("minimize"), QStringLiteral("notontop"),
            QStringLiteral("ontop")};
}

QStringList TrayIconKeys() {
    return {QStringLiteral("mastericon"), QStringLiteral("now")};
}

} // namespace zantrel
