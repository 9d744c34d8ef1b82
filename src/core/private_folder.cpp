#include "core/private_folder.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <sys/stat.h>
#include <unistd.h>

namespace zantrel {

bool MakePrivateFolder(const QString& folder) {
    QStringList missing;
    for (QFileInfo f(folder); !f.exists() && !f.isRoot(); f = QFileInfo(f.absolutePath()))
        missing.prepend(f.absoluteFilePath());
    for (const QString& path : missing) {
        const QByteArray name = QFile::encodeName(path);
        if (::mkdir(name.constData(), 0700) == 0)
            ::chmod(name.constData(), 0700); // mkdir left out what the umask holds, never more
    }
    const QByteArray name = QFile::encodeName(folder);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    return (st.st_mode & 077) == 0 || ::chmod(name.constData(), 0700) == 0;
}

} // namespace zantrel
