#include "publish/archive_retention.h"

#include "core/setting_keys.h"
#include "core/store.h"

#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTime>
#include <QtDebug>
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace zantrel {

namespace {

// Copies added by others (a restore from backup) are noticed at the latest after this long.
constexpr std::chrono::hours kRescanAfter{24};
constexpr std::int64_t kBytesPerMb = 1024 * 1024;

std::int64_t timeKey(const QDateTime& moment) {
    const QDate d = moment.date();
    const QTime t = moment.time();
    return ((((std::int64_t(d.year()) * 100 + d.month()) * 100 + d.day()) * 100 + t.hour()) * 100 +
            t.minute()) *
               100 +
           t.second();
}

} // namespace

std::optional<std::int64_t> ArchiveNameTime(const QString& fileName) {
    if (fileName.size() != 18 || !fileName.endsWith(QLatin1String(".JPG")))
        return std::nullopt;
    for (int i = 0; i < 14; ++i) {
        if (fileName[i] < QLatin1Char('0') || fileName[i] > QLatin1Char('9'))
            return std::nullopt;
    }
    const auto number = [&fileName](int from, int length) {
        int value = 0;
        for (int i = from; i < from + length; ++i)
            value = value * 10 + (fileName[i].unicode() - '0');
        return value;
    };
    // Digit arithmetic, no time zone work: the gallery reads many thousands of names this way.
    const int year = number(4, 4), month = number(2, 2), day = number(0, 2);
    const int hour = number(8, 2), minute = number(10, 2), second = number(12, 2);
    if (!QDate::isValid(year, month, day) || !QTime::isValid(hour, minute, second))
        return std::nullopt;
    return ((((std::int64_t(year) * 100 + month) * 100 + day) * 100 + hour) * 100 + minute) * 100 + second;
}

std::optional<std::int64_t> RetainedFileTime(const QString& fileName) {
    if (fileName.size() == 12 && fileName.endsWith(QLatin1String(".mp4")))
        return ArchiveNameTime(fileName.left(8) + QStringLiteral("235959.JPG"));
    return ArchiveNameTime(fileName);
}

ArchiveRetention::ArchiveRetention(Lister lister, FreeSpace freeSpace)
    : lister_(std::move(lister)), freeSpace_(std::move(freeSpace)) {}

std::optional<std::int64_t> ArchiveRetention::freeBytes(const QString& folder) {
    struct statvfs fs {};
    if (::statvfs(QFile::encodeName(folder).constData(), &fs) != 0)
        return std::nullopt;
    return std::int64_t(fs.f_bavail) * std::int64_t(fs.f_frsize);
}

std::vector<ArchiveRetention::Entry> ArchiveRetention::listFolder(const QString& folder) {
    std::vector<Entry> out;
    QDirIterator it(folder, QDir::Files | QDir::NoSymLinks);
    while (it.hasNext()) {
        it.next();
        // Only archive copies are worth the lookup; only this user's own files are the archive's.
        if (!RetainedFileTime(it.fileName()))
            continue;
        if (const auto own = ownFile(folder, it.fileName()))
            out.push_back({it.fileName(), own->size});
    }
    return out;
}

std::optional<ArchiveRetention::OwnFile> ArchiveRetention::ownFile(const QString& folder,
                                                                   const QString& name) {
    struct stat st {};
    // The name itself, never what a link points to.
    if (::fstatat(AT_FDCWD, QFile::encodeName(QDir(folder).filePath(name)).constData(), &st,
                  AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
        return std::nullopt;
    // A file with other names as well frees nothing when this one goes.
    return OwnFile{std::int64_t(st.st_size), st.st_nlink == 1 ? std::int64_t(st.st_blocks) * 512 : 0};
}

void ArchiveRetention::scan(const QString& folder) {
    folder_ = folder;
    copies_.clear();
    totalBytes_ = 0;
    for (const Entry& entry : lister_(folder)) {
        if (const auto time = RetainedFileTime(entry.name))
            note(*time, entry.name, entry.size);
    }
    scannedAt_ = std::chrono::steady_clock::now();
    rescanNeeded_ = false;
}

void ArchiveRetention::note(std::int64_t time, const QString& name, std::int64_t size) {
    auto [it, added] = copies_.try_emplace({time, name}, 0);
    totalBytes_ += size - it->second;
    it->second = size;
}

void ArchiveRetention::forget(Copies::iterator copy) {
    totalBytes_ -= copy->second;
    copies_.erase(copy);
}

void ArchiveRetention::follow(const QString& folder) {
    if (folder != folder_ || rescanNeeded_ || std::chrono::steady_clock::now() - scannedAt_ > kRescanAfter)
        scan(folder);
}

std::vector<QString> ArchiveRetention::deleteOldest(const QString& keep,
                                                    const std::function<bool(std::int64_t)>& tooMuch) {
    const QDir dir(folder_);
    std::vector<QString> deleted;
    int attempts = 0;
    for (auto it = copies_.begin();
         it != copies_.end() && attempts < kMaxDeletions && tooMuch(it->first.first);) {
        // The newest copy stays, whatever the limits say.
        if (it->first.second == keep || std::next(it) == copies_.end()) {
            ++it;
            continue;
        }
        ++attempts;
        const QString name = it->first.second;
        QFile file(dir.filePath(name));
        if (!ownFile(folder_, name)) {
            // Replaced meanwhile by a link, a folder or another user's file: not the archive's to delete.
            rescanNeeded_ = true;
        } else if (file.remove())
            deleted.push_back(name);
        else if (file.exists())
            qWarning().noquote() << "Cannot delete the old archive copy" << file.fileName() << ":"
                                 << file.errorString();
        else
            rescanNeeded_ = true; // removed by someone else: what else changed is unknown
        const auto next = std::next(it);
        forget(it);
        it = next;
    }
    return deleted;
}

std::vector<QString> ArchiveRetention::afterCopy(const QString& path, const Limits& limits,
                                                 const QDateTime& now) {
    std::lock_guard lock(mutex_);
    const QFileInfo written(path);
    const auto writtenTime = RetainedFileTime(written.fileName());
    if (!writtenTime)
        return {};
    if (limits.keepDays <= 0 && limits.keepBytes <= 0 && limits.keepFreeBytes <= 0) {
        // Nothing is followed while no limit is set: the folder is read afresh when one is.
        rescanNeeded_ = true;
        return {};
    }
    const QString folder = QDir::cleanPath(written.absolutePath());
    follow(folder);
    note(*writtenTime, written.fileName(), written.size());

    const std::int64_t oldestKept = timeKey(now.addDays(-limits.keepDays));
    // The floor deletes copies only when deleting them can reach it.
    std::optional<bool> floorReachable;
    const auto overLimit = [&](std::int64_t time) {
        if ((limits.keepDays > 0 && time < oldestKept) ||
            (limits.keepBytes > 0 && totalBytes_ > limits.keepBytes))
            return true;
        if (limits.keepFreeBytes <= 0)
            return false;
        const auto free = freeSpace_(folder_);
        if (!free || *free >= limits.keepFreeBytes)
            return false;
        if (!floorReachable)
            floorReachable = *free + freeableBytes(written.fileName()) >= limits.keepFreeBytes;
        return *floorReachable;
    };
    return deleteOldest(written.fileName(), overLimit);
}

std::int64_t ArchiveRetention::freeableBytes(const QString& keep) const {
    std::int64_t bytes = 0;
    int counted = 0;
    for (auto it = copies_.begin(); it != copies_.end() && counted < kMaxDeletions; ++it) {
        if (it->first.second == keep || std::next(it) == copies_.end())
            continue;
        ++counted;
        if (const auto own = ownFile(folder_, it->first.second))
            bytes += own->freed;
    }
    return bytes;
}

ArchiveRetention::Room ArchiveRetention::roomFor(const QString& path, std::int64_t size,
                                                 std::int64_t keepFreeBytes) {
    if (keepFreeBytes <= 0)
        return {};
    std::lock_guard lock(mutex_);
    const QString folder = QDir::cleanPath(QFileInfo(path).absolutePath());
    // A file system that cannot be asked (no such folder) leaves the write to fail on its own.
    const auto before = freeSpace_(folder);
    if (!before)
        return {};
    follow(folder);
    // The copy takes whole blocks: one more page is counted for what its last block wastes.
    const std::int64_t needed = keepFreeBytes + size + 4096;
    if (*before >= needed)
        return {};
    const auto tooLittle = [&](std::int64_t) {
        const auto free = freeSpace_(folder_);
        return free && *free < needed;
    };
    const std::int64_t freeable = freeableBytes({});
    Room room;
    if (*before + freeable < needed) {
        // Even the oldest copies' deletion would not make room: they stay.
        room.fits = false;
        room.why = QStringLiteral("%1 MB free, %2 MB wanted; deleting the %3 MB of older copies would not "
                                  "make room, so none was deleted")
                       .arg(*before / kBytesPerMb)
                       .arg((needed + kBytesPerMb - 1) / kBytesPerMb)
                       .arg(freeable / kBytesPerMb);
        return room;
    }
    room.deleted = int(deleteOldest({}, tooLittle).size());
    room.fits = !tooLittle(0);
    if (!room.fits)
        room.why = QStringLiteral("%1 MB free after deleting %2 older copies, %3 MB wanted")
                       .arg(freeSpace_(folder_).value_or(0) / kBytesPerMb)
                       .arg(room.deleted)
                       .arg((needed + kBytesPerMb - 1) / kBytesPerMb);
    return room;
}

namespace {

ArchiveRetention& programRetention() {
    static ArchiveRetention retention;
    return retention;
}

} // namespace

void KeepArchiveWithinLimits(const QString& archivePath, const QDateTime& now) {
    ArchiveRetention::Limits limits;
    limits.keepDays = std::max(0, ReadInt32(keys::ImageKeepDays));
    limits.keepBytes = std::max(0, ReadInt32(keys::ImageKeepMb)) * kBytesPerMb;
    limits.keepFreeBytes = std::max(0, ReadInt32(keys::ImageKeepFreeMb)) * kBytesPerMb;
    programRetention().afterCopy(archivePath, limits, now);
}

bool MakeRoomForArchiveCopy(const QString& archivePath, std::int64_t size, QString* why) {
    const ArchiveRetention::Room room = programRetention().roomFor(
        archivePath, size, std::max(0, ReadInt32(keys::ImageKeepFreeMb)) * kBytesPerMb);
    if (why)
        *why = room.why;
    return room.fits;
}

} // namespace zantrel
