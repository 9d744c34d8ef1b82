#include "transfer/folder_target.h"

#include "core/file_replace.h"
#include "transfer/server_address.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zantrel {

QString FolderTarget::folder(QString& error) const {
    const QUrl url(entry_.address.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || HasControlCharacter(entry_.address) ||
        !(url.host().isEmpty() || url.host() == QLatin1String("localhost")) || url.path().isEmpty()) {
        error = QStringLiteral("Bad folder address %1: write it as file:///path/to/folder")
                    .arg(ShownAddress(entry_.address));
        return {};
    }
    QString path = url.toLocalFile();
    for (const QString& part : entry_.directory.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("..") || HasControlCharacter(part)) {
            error = QStringLiteral("The folder %1 is not below %2").arg(ShownAddress(entry_.directory), path);
            return {};
        }
        path += QLatin1Char('/') + part;
        // A link in a shared folder may be another user's, planted to send the pictures elsewhere.
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode) &&
            st.st_uid != ::geteuid() && st.st_uid != 0) {
            error = QStringLiteral("%1 is a symbolic link of another user; it was not followed.").arg(path);
            return {};
        }
    }
    const QFileInfo info(path);
    if (!info.isDir()) {
        error = info.exists() ? QStringLiteral("%1 is no folder").arg(path)
                              : QStringLiteral("%1 does not exist: make the folder first").arg(path);
        return {};
    }
    return QDir::cleanPath(info.absoluteFilePath());
}

ServerUploadResult FolderTarget::deliver(const QByteArray& bytes, const QString& remoteName,
                                         const std::function<bool()>& cancelled) {
    ServerUploadResult result;
    const unsigned seenStops = stops();
    status_.setStatus(QStringLiteral("Connecting... ") + ShownAddress(entry_.address));
    QString error;
    const QString dir = folder(error);
    result.folderChanged = !dir.isEmpty();
    if (error.isEmpty() && (remoteName.isEmpty() || remoteName.contains(QLatin1Char('/')) ||
                            remoteName == QLatin1String("..") || HasControlCharacter(remoteName)))
        error = QStringLiteral("Bad file name %1").arg(ShownAddress(remoteName));
    if (error.isEmpty()) {
        status_.setStatus(QStringLiteral("Connected"));
        if (stops() != seenStops || (cancelled && cancelled()))
            error = QStringLiteral("Stopped");
    }
    if (error.isEmpty()) {
        const QString file = dir + QLatin1Char('/') + remoteName;
        errno = 0;
        const ReplaceResult written =
            entry_.atomic ? ReplaceFileContents(file, bytes) : WriteFileContents(file, bytes);
        result.uploaded = written.replaced;
        if (written.replaced) {
            status_.setStatus(QStringLiteral("Transfering:%1 bytes").arg(bytes.size()));
            status_.setStatus(QStringLiteral("File Transfered."));
        } else {
            error = !written.refusal.isEmpty() ? written.refusal
                                               : QStringLiteral("Cannot write %1: %2")
                                                     .arg(file, QString::fromLocal8Bit(std::strerror(errno)));
        }
    }
    if (!error.isEmpty())
        status_.setStatus(QStringLiteral("Error:") + error);
    status_.setStatus(QStringLiteral("End Transfering"));
    return result;
}

ServerCheckResult FolderTarget::check() {
    ServerCheckResult result;
    const QString dir = folder(result.message);
    if (dir.isEmpty())
        return result;
    // Writable is what counts: a file of our own, made and removed at once.
    const QByteArray probe = QFile::encodeName(dir + QStringLiteral("/.zantrel-check-%1").arg(::getpid()));
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        result.message = QStringLiteral("Cannot write in folder %1: %2")
                             .arg(dir, QString::fromLocal8Bit(std::strerror(errno)));
        return result;
    }
    ::close(fd);
    ::unlink(probe.constData());
    result.ok = true;
    result.message = QStringLiteral("Folder %1 is writable").arg(dir);
    return result;
}

} // namespace zantrel
