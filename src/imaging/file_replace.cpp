#include "imaging/file_replace.h"

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

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

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

// Writes the temporary file completely; false (with nothing to clean up but the file) on any error.
bool writeTemporary(const QByteArray& path, QByteArrayView data, const QByteArray& target) {
    FileDescriptor fd(::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0)
        return false;
    struct stat existing {};
    if (::stat(target.constData(), &existing) == 0 && S_ISREG(existing.st_mode))
        ::fchmod(fd.get(), existing.st_mode & 07777);
    return writeAll(fd.get(), data) && fd.close();
}

} // namespace

bool ReplaceFileContents(const QString& file, QByteArrayView data) {
    if (file.isEmpty())
        return false;
    QFileInfo info(file);
    if (info.isSymLink())
        info = QFileInfo(info.symLinkTarget());
    if (info.isDir())
        return false;

    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    const QString temporaryName = QStringLiteral(".%1.%2.tmp")
                                      .arg(info.fileName())
                                      .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    const QByteArray temporary = QFile::encodeName(info.absoluteDir().filePath(temporaryName));

    if (writeTemporary(temporary, data, target) && ::rename(temporary.constData(), target.constData()) == 0)
        return true;
    ::unlink(temporary.constData());
    return false;
}

} // namespace zantrel
