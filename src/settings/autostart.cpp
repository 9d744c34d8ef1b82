#include "settings/autostart.h"

#include "core/instance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace zantrel {

namespace {

// A quoted argument of an Exec line: inside double quotes, `"`, `` ` ``, `$` and `\` take a backslash,
// and `%` is doubled so that it is not read as a field code.
QString quotedExecArgument(const QString& text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        else if (c == QLatin1Char('%'))
            out += QLatin1Char('%');
        out += c;
    }
    out += QLatin1Char('"');
    // The file format escapes backslashes once more in every string value.
    out.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    return out;
}

} // namespace

QString AutostartEntryPath() {
    const QString instance = InstanceName();
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/webcam-zantrel%1.desktop")
               .arg(instance.isEmpty() ? QString() : QLatin1Char('@') + instance);
}

QString AutostartProgram(const QString& running) {
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("webcam-zantrel"));
    if (!onPath.isEmpty())
        return onPath;
    const QFileInfo installed(QStringLiteral(ZANTREL_INSTALLED_PROGRAM));
    if (installed.isFile() && installed.isExecutable())
        return installed.filePath();
    return running;
}

QString AutostartEntryText(const QString& executable) {
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Webcam Zantrel\n"
                          "Comment=Publish webcam images on a schedule\n"
                          "Exec=%1 --pictures-folder%2 /BOOT\n"
                          "Icon=org.zantrel.WebcamZantrel\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(quotedExecArgument(executable),
             InstanceName().isEmpty() ? QString() : QStringLiteral(" --instance ") + InstanceName());
}

bool SetAutostart(bool on, const QString& running) {
    const QString path = AutostartEntryPath();
    if (!on)
        return !QFileInfo::exists(path) || QFile::remove(path);
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(AutostartEntryText(AutostartProgram(running)).toUtf8());
    return file.commit();
}

} // namespace zantrel
