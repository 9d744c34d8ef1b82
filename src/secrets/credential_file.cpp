#include "secrets/credential_file.h"

#include "core/unique_fd.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zantrel {

namespace {

SecretLookup refused(const QString& name, const QString& why) {
    return {{}, QStringLiteral("the credential %1 %2").arg(name, why)};
}

} // namespace

bool IsCredentialReference(const QString& stored) {
    return stored.startsWith(kCredentialPrefix);
}

SecretLookup ReadCredential(const QString& stored) {
    const QString name = stored.mid(kCredentialPrefix.size());
    const QString shown = name.left(64);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(QLatin1Char('/')) || name.contains(QChar(0)) || name.size() > 255)
        return refused(shown, QStringLiteral("is not a plain file name"));
    const QByteArray folder = qgetenv("CREDENTIALS_DIRECTORY");
    if (folder.isEmpty())
        return refused(shown, QStringLiteral("cannot be read: CREDENTIALS_DIRECTORY is not set (the program "
                                             "was not started by systemd with LoadCredential=)"));
    const QByteArray path = folder + '/' + QFile::encodeName(name);
    // O_NOFOLLOW: a link is refused, not followed to whatever it points at.
    const UniqueFd file{::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK)};
    if (file.get() < 0)
        return refused(
            shown,
            errno == ELOOP
                ? QStringLiteral("is a link; a link is not read")
                : QStringLiteral("cannot be read: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return refused(shown, QStringLiteral("is not a plain file"));
    if (info.st_uid != ::geteuid())
        return refused(shown, QStringLiteral("belongs to another user"));
    if (info.st_size == 0)
        return refused(shown, QStringLiteral("is empty"));
    if (info.st_size > kMaxCredentialBytes)
        return refused(shown, QStringLiteral("is larger than 64 KB"));
    QByteArray bytes(qsizetype(info.st_size), '\0');
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(file.get(), bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    bytes.truncate(got);
    if (bytes.endsWith('\n'))
        bytes.chop(bytes.endsWith("\r\n") ? 2 : 1);
    if (bytes.isEmpty())
        return refused(shown, QStringLiteral("is empty"));
    return {QString::fromUtf8(bytes), {}};
}

} // namespace zantrel
