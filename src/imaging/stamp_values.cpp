#include "imaging/stamp_values.h"

#include "core/unique_fd.h"
#include "imaging/picture_bound.h"
#include "imaging/stamp_template.h"

#include <QFileInfo>
#include <QImageReader>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zantrel {

namespace {

// Values print on one line and no longer than a line could ever be.
QString oneLine(QString text) {
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    text.truncate(200);
    return text.trimmed();
}

} // namespace

StampFileRead ReadStampFile(const QString& path) {
    StampFileRead r;
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty()) {
        r.problem = QStringLiteral("no file named");
        return r;
    }
    const UniqueFd file(::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) {
        r.problem = errno == ELOOP
                        ? QStringLiteral("%1 is a link").arg(path)
                        : QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return r;
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        r.problem = QStringLiteral("%1 is not a regular file").arg(path);
        return r;
    }
    if (st.st_uid != ::geteuid()) {
        r.problem = QStringLiteral("%1 belongs to another user").arg(path);
        return r;
    }
    r.bytes.resize(kStampValueBytes);
    qsizetype got = 0;
    while (got < kStampValueBytes) {
        const ssize_t n = ::read(file.get(), r.bytes.data() + got, std::size_t(kStampValueBytes - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            r.problem = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            r.bytes.clear();
            return r;
        }
        if (n == 0)
            break;
        got += n;
    }
    r.bytes.truncate(got);
    r.modified =
        QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000);
    return r;
}

std::optional<QString> StampValueReader::read(const QString& kind, const QString& argument,
                                              const QDateTime& now, int maxAgeSeconds,
                                              QString& problem) const {
    const bool json = kind != QLatin1String("file") &&
                      (kind == QLatin1String("json") || argument.contains(QLatin1String("#/")));
    const StampValueAddress address = ParseStampValueAddress(argument, json);
    QByteArray bytes;
    QDateTime when;
    if (kind == QLatin1String("url")) {
        const std::optional<FetchedValue> got = fetched_ ? fetched_(address.path) : std::nullopt;
        if (!got || !got->fetched.isValid()) {
            problem = got && !got->problem.isEmpty() ? got->problem : QStringLiteral("not fetched yet");
            return std::nullopt;
        }
        if (!got->problem.isEmpty())
            problem = got->problem; // the last good answer still serves while it is fresh
        bytes = got->body;
        when = got->fetched;
    } else {
        StampFileRead file = ReadStampFile(address.path);
        if (!file.problem.isEmpty()) {
            problem = file.problem;
            return std::nullopt;
        }
        bytes = std::move(file.bytes);
        when = file.modified;
    }
    if (maxAgeSeconds > 0 && when.secsTo(now) > maxAgeSeconds) {
        problem = QStringLiteral("older than %1 s").arg(maxAgeSeconds);
        return std::nullopt;
    }
    problem.clear();
    std::optional<QString> text =
        json ? JsonPointerValue(bytes, address.pointer) : TextLine(bytes, address.line);
    if (!text) {
        problem = json ? QStringLiteral("no JSON value at \"%1\"").arg(address.pointer)
                       : QStringLiteral("no text line %1").arg(address.line);
        return std::nullopt;
    }
    return oneLine(*text);
}

std::optional<QString> StampValueReader::value(const QString& kind, const QString& argument,
                                               const QDateTime& now, int maxAgeSeconds) {
    QString problem;
    std::optional<QString> text = read(kind, argument, now, maxAgeSeconds, problem);
    const QString code = QLatin1Char('{') + kind + QLatin1Char(':') + argument + QLatin1Char('}');
    QString& round = thisRound_[code];
    if (round.isEmpty())
        round = text ? QString() : problem;
    return text;
}

QStringList StampValueReader::takeNews() {
    QStringList news;
    for (const auto& [code, problem] : thisRound_) {
        const auto said = troubled_.find(code);
        if (!problem.isEmpty() && (said == troubled_.end() || said->second != problem)) {
            news << QStringLiteral("Stamp value %1 shows --: %2").arg(code, problem);
            troubled_[code] = problem;
        } else if (problem.isEmpty() && said != troubled_.end()) {
            news << QStringLiteral("Stamp value %1 is back").arg(code);
            troubled_.erase(said);
        }
    }
    thisRound_.clear();
    return news;
}

QImage StampLogo::forFrame(const QString& path, int frameHeight, int percent, QString* problem) {
    const auto refuse = [&](const QString& why) {
        if (problem)
            *problem = why;
        return QImage();
    };
    if (path.trimmed().isEmpty() || frameHeight <= 0 || percent <= 0)
        return {};
    const QFileInfo info(path);
    if (path != path_ || info.lastModified() != modified_ || info.size() != size_) {
        path_ = path;
        modified_ = info.lastModified();
        size_ = info.size();
        decoded_ = scaled_ = QImage();
        scaledHeight_ = 0;
        problem_.clear();
        const std::optional<PictureSize> claimed = PictureFileSize(path);
        if (!claimed) {
            problem_ = QStringLiteral("The logo %1 is not a picture").arg(path);
        } else if (const QString bound =
                       PictureBoundRefusal(*claimed, QStringLiteral("the logo %1").arg(path));
                   !bound.isEmpty()) {
            problem_ = bound;
        } else {
            QImageReader reader(path);
            decoded_ = reader.read().convertToFormat(QImage::Format_ARGB32_Premultiplied);
            if (decoded_.isNull())
                problem_ = QStringLiteral("The logo %1 cannot be read: %2").arg(path, reader.errorString());
        }
    }
    if (decoded_.isNull())
        return refuse(problem_);
    const int height = std::max(1, frameHeight * std::min(percent, 100) / 100);
    if (height != scaledHeight_) {
        scaled_ = decoded_.scaledToHeight(height, Qt::SmoothTransformation);
        scaledHeight_ = height;
    }
    return scaled_;
}

} // namespace zantrel
