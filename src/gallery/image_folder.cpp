#include "gallery/image_folder.h"

#include "publish/archive_retention.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <strings.h>
#include <sys/stat.h>

namespace zantrel {

namespace {

bool hasPictureExtension(const char* name) {
    const char* dot = std::strrchr(name, '.');
    if (!dot || dot == name)
        return false;
    return !strcasecmp(dot, ".jpg") || !strcasecmp(dot, ".jpeg") || !strcasecmp(dot, ".bmp");
}

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

} // namespace

std::vector<ImageFile> ListImageFolder(const QString& folder, ImageOrder order) {
    std::vector<ImageFile> files;
    const std::unique_ptr<DIR, DirCloser> dir(opendir(QFile::encodeName(folder).constData()));
    if (!dir)
        return files;
    const int fd = dirfd(dir.get());
    while (const dirent* entry = readdir(dir.get())) {
        if (entry->d_type != DT_REG && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
            continue;
        if (!hasPictureExtension(entry->d_name))
            continue;
        struct stat st {};
        if (fstatat(fd, entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode))
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        const std::int64_t nameTime = ArchiveNameTime(name).value_or(0);
        files.push_back({name, std::int64_t(st.st_mtime), std::int64_t(st.st_size), nameTime});
    }
    const bool newestFirst = order == ImageOrder::NewestFirst;
    std::sort(files.begin(), files.end(), [newestFirst](const ImageFile& a, const ImageFile& b) {
        if ((a.nameTime != 0) != (b.nameTime != 0))
            return a.nameTime != 0;
        if (a.nameTime != b.nameTime)
            return newestFirst ? a.nameTime > b.nameTime : a.nameTime < b.nameTime;
        const int c = a.name.compare(b.name, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.name < b.name;
    });
    return files;
}

QString JoinPath(const QString& folder, const QString& name) {
    if (folder.isEmpty() || folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

} // namespace zantrel
