#include "imaging/picture_file.h"

#include "core/unique_fd.h"
#include "imaging/picture_bound.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace zantrel {

namespace {

// No JPEG or BMP of an allowed size needs more than four bytes a pixel.
std::int64_t largestPictureFile() {
    return MaxPicturePixels() * 4 + (1 << 20);
}

} // namespace

namespace {

// Opens path for reading when it is a regular file of this user reached without a link; fd -1 and
// problem set otherwise.
UniqueFd openOwn(const QString& path, struct stat& st, QString& problem) {
    const QString shown = QDir::toNativeSeparators(path);
    // O_NONBLOCK: a FIFO planted under a picture's name must not hold the reader up.
    UniqueFd fd(::open(QFile::encodeName(path).constData(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        problem = errno == ELOOP ? QStringLiteral("%1 is a link, not a picture file").arg(shown)
                                 : QStringLiteral("%1 cannot be opened").arg(shown);
    else if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        problem = QStringLiteral("%1 is not a regular file").arg(shown);
    else if (st.st_uid != ::geteuid())
        problem = QStringLiteral("%1 belongs to another user").arg(shown);
    else
        return fd;
    return UniqueFd(-1);
}

} // namespace

PictureFileBytes ReadOwnPictureFile(const QString& path) {
    PictureFileBytes result;
    struct stat st {};
    const UniqueFd fd = openOwn(path, st, result.problem);
    if (fd.get() < 0)
        return result;
    if (st.st_size > largestPictureFile()) {
        result.problem = QStringLiteral("%1 is larger (%2 MB) than any picture within the %3-megapixel limit")
                             .arg(QDir::toNativeSeparators(path))
                             .arg(st.st_size >> 20)
                             .arg(QString::number(double(MaxPicturePixels()) / 1e6, 'g', 4));
        return result;
    }
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + filled, size_t(bytes.size() - filled));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // shortened while read: what is there is judged by the decoder
        filled += n;
    }
    bytes.truncate(filled);
    result.bytes = std::move(bytes);
    return result;
}

std::optional<PictureSize> OwnPictureFileSize(const QString& path) {
    struct stat st {};
    QString problem;
    UniqueFd fd = openOwn(path, st, problem);
    QFile file;
    if (fd.get() < 0 || !file.open(fd.release(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return std::nullopt;
    const QSize size = QImageReader(&file).size();
    if (!size.isValid() || size.isEmpty())
        return std::nullopt;
    return PictureSize{size.width(), size.height()};
}

QString PictureBytesRefusal(const QByteArray& bytes, const QString& name) {
    std::optional<PictureSize> size =
        JpegHeaderSize(reinterpret_cast<const unsigned char*>(bytes.constData()), std::size_t(bytes.size()));
    if (!size) {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        const QSize claimed = QImageReader(&buffer).size();
        if (claimed.isValid() && !claimed.isEmpty())
            size = PictureSize{claimed.width(), claimed.height()};
    }
    if (!size)
        return {};
    return PictureBoundRefusal(*size, QStringLiteral("%1 holds").arg(QFileInfo(name).fileName()));
}

} // namespace zantrel
