#include "core/file_replace.h"

#include "core/own_process.h"
#include "core/unique_fd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zantrel {

namespace {

bool writeAll(int fd, QByteArrayView data) {
    const char* next = data.data();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, next, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        next += n;
        left -= n;
    }
    return true;
}

// The process's umask, read without changing it (umask() itself would, for every thread).
mode_t currentUmask() {
    bool ok = false;
    const uint mask = OwnStatusField("Umask").toUInt(&ok, 8);
    return ok ? mode_t(mask & 0777) : mode_t(022);
}

struct Target {
    QString path;          // where the rename goes: the file itself, links resolved
    bool exists = false;   // a regular file is there
    struct stat status {}; // its owner and mode, when it exists
    QString refusal;
};

// Follows the links from `file` to the file they name, as the kernel's protected_symlinks rule would in
// a shared folder: only links that belong to this program's user or to root.
Target resolve(const QString& file) {
    Target t;
    t.path = QFileInfo(file).absoluteFilePath();
    for (int hops = 0; hops < 40; ++hops) {
        const QByteArray name = QFile::encodeName(t.path);
        struct stat st {};
        if (::lstat(name.constData(), &st) != 0)
            return t; // a new file (or a missing folder, which the write then reports)
        if (S_ISREG(st.st_mode)) {
            t.exists = true;
            t.status = st;
            return t;
        }
        if (!S_ISLNK(st.st_mode)) {
            t.refusal = QStringLiteral("%1 is not a regular file; it was left as it is.").arg(t.path);
            return t;
        }
        if (st.st_uid != ::geteuid() && st.st_uid != 0) {
            t.refusal =
                QStringLiteral("%1 is a symbolic link of another user; it was not followed.").arg(t.path);
            return t;
        }
        const QString link = QFile::symLinkTarget(t.path);
        if (link.isEmpty())
            break;
        t.path = QFileInfo(link).absoluteFilePath();
    }
    t.refusal = QStringLiteral("%1: too many symbolic links.").arg(QFileInfo(file).absoluteFilePath());
    return t;
}

} // namespace

void SyncFolderOf(const QString& file) {
    const QByteArray dir = QFile::encodeName(QFileInfo(file).absolutePath());
    UniqueFd fd(::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0)
        ::fsync(fd.get()); // some file systems cannot sync a folder: nothing more to do there
}

bool SyncFileToDisk(const QString& file) {
    UniqueFd fd(::open(QFile::encodeName(file).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    return fd.get() >= 0 && ::fsync(fd.get()) == 0;
}

ReplaceResult ReplaceFileContents(const QString& file, QByteArrayView data) {
    if (file.isEmpty())
        return {};
    const Target target = resolve(file);
    if (!target.refusal.isEmpty())
        return {false, target.refusal};

    const QFileInfo info(target.path);
    const QByteArray finalName = QFile::encodeName(target.path);
    const QString temporaryName = QStringLiteral(".%1.%2.tmp")
                                      .arg(info.fileName())
                                      .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    const QByteArray temporary = QFile::encodeName(info.absoluteDir().filePath(temporaryName));

    UniqueFd fd(::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (fd.get() < 0)
        return {};
    bool ok = writeAll(fd.get(), data);
    // Run as root, a replaced file keeps its owner.
    if (ok && target.exists && ::geteuid() == 0 && target.status.st_uid != 0)
        ok = ::fchown(fd.get(), target.status.st_uid, target.status.st_gid) == 0;
    // Whole by now, it gets its final mode before it takes the name: a reader never meets it owner-only.
    const mode_t mode = target.exists ? (target.status.st_mode & 07777) : (0666 & ~currentUmask());
    ok = ok && ::fchmod(fd.get(), mode) == 0;
    // On the disk before the name points at it: after a power cut the name holds the old picture or
    // the new one, never an empty file.
    ok = ok && ::fdatasync(fd.get()) == 0;
    if (ok && ::rename(temporary.constData(), finalName.constData()) == 0) {
        const bool closed = fd.close();
        SyncFolderOf(target.path); // and the name itself
        return {closed, {}};
    }
    ::unlink(temporary.constData());
    return {};
}

ReplaceResult WriteFileContents(const QString& file, QByteArrayView data) {
    if (file.isEmpty())
        return {};
    const Target target = resolve(file);
    if (!target.refusal.isEmpty())
        return {false, target.refusal};
    // The links are resolved: one planted meanwhile is not followed, nor is a FIFO waited on.
    const QByteArray name = QFile::encodeName(target.path);
    UniqueFd fd(::open(name.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0)
        return {};
    if (!S_ISREG(st.st_mode))
        return {false, QStringLiteral("%1 is not a regular file; it was left as it is.").arg(target.path)};
    const bool ok = ::ftruncate(fd.get(), 0) == 0 && writeAll(fd.get(), data);
    return {fd.close() && ok, {}};
}

} // namespace zantrel
