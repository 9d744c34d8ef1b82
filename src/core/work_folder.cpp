#include "core/work_folder.h"

#include <QDir>
#include <QStandardPaths>

namespace zantrel {

QString PicturesWorkFolder() {
    QString pictures = qEnvironmentVariable("XDG_PICTURES_DIR");
    if (pictures.isEmpty() || !QDir::isAbsolutePath(pictures))
        pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty())
        pictures = QDir::homePath() + QStringLiteral("/Pictures");
    return QDir::cleanPath(pictures + QStringLiteral("/Webcam Zantrel"));
}

namespace {

bool enter(const QString& folder, QString& failure) {
    if (!QDir().mkpath(folder)) {
        failure = QStringLiteral("cannot make the folder %1").arg(folder);
        return false;
    }
    if (!QDir::setCurrent(folder)) {
        failure = QStringLiteral("cannot work in the folder %1").arg(folder);
        return false;
    }
    return true;
}

} // namespace

bool EnterPicturesWorkFolder(QString& failure) {
    return enter(PicturesWorkFolder(), failure);
}

bool EnterInstanceWorkFolder(const QString& instance, QString& failure) {
    return enter(QDir::current().absoluteFilePath(instance), failure);
}

} // namespace zantrel
