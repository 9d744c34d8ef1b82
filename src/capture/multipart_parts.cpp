#include "capture/multipart_parts.h"

#include <QList>
#include <algorithm>

namespace zantrel {

namespace {

// The longest boundary line and header block a camera may send.
constexpr qsizetype kMaxBoundaryLine = 200;
constexpr qsizetype kMaxHeaders = 8192;

qsizetype skipBlank(const QByteArray& bytes) {
    qsizetype n = 0;
    while (n < bytes.size() && (bytes[n] == '\r' || bytes[n] == '\n' || bytes[n] == ' ' || bytes[n] == '\t'))
        ++n;
    return n;
}

QString megabytes(qsizetype bytes) {
    return QString::number(double(bytes) / (1024 * 1024), 'f', 0);
}

} // namespace

bool MultipartParts::looksLikeMultipart(const QByteArray& start, bool* undecided) {
    const QByteArray rest = start.mid(skipBlank(start));
    *undecided = rest.size() < 3 && start.size() < 64;
    return rest.startsWith("--") && rest.size() >= 3 && rest[2] != '\r' && rest[2] != '\n';
}

bool MultipartParts::take(const char* data, std::size_t size, std::vector<QByteArray>& parts,
                          QString* reason) {
    buffer_.append(data, qsizetype(size));
    for (;;) {
        const qsizetype before = buffer_.size();
        const State state = state_;
        bool ok = true;
        switch (state_) {
        case State::Boundary:
            ok = boundary(reason);
            break;
        case State::Headers:
            ok = headers(reason);
            break;
        case State::Body:
            ok = body(parts, reason);
            break;
        }
        if (!ok)
            return false;
        if (state == state_ && before == buffer_.size())
            return true; // waits for more bytes
    }
}

bool MultipartParts::boundary(QString* reason) {
    buffer_.remove(0, skipBlank(buffer_));
    const qsizetype end = buffer_.indexOf('\n');
    if (end < 0) {
        if (buffer_.size() <= kMaxBoundaryLine)
            return true;
        *reason = QStringLiteral("the camera's stream has no part boundaries");
        return false;
    }
    const QByteArray line = buffer_.left(end).trimmed();
    if (delimiter_.isEmpty()) {
        if (!line.startsWith("--") || line.size() < 3 || line.size() > kMaxBoundaryLine) {
            *reason = QStringLiteral("the camera's stream has no part boundaries");
            return false;
        }
        delimiter_ = line.endsWith("--") ? line.chopped(2) : line;
    }
    buffer_.remove(0, end + 1);
    // Anything between a part and the next boundary is passed over (within a part's bound).
    if (line.startsWith(delimiter_))
        state_ = State::Headers;
    else if (buffer_.size() > kMaxPartBytes) {
        *reason = QStringLiteral("the camera's stream has no part boundaries");
        return false;
    }
    return true;
}

bool MultipartParts::headers(QString* reason) {
    qsizetype end = -1;
    qsizetype from = 0;
    // The headers end at an empty line; a part without headers starts at once.
    for (qsizetype newline; (newline = buffer_.indexOf('\n', from)) >= 0; from = newline + 1) {
        const QByteArray line = buffer_.mid(from, newline - from).trimmed();
        if (line.isEmpty()) {
            end = newline + 1;
            break;
        }
    }
    if (end < 0) {
        if (buffer_.size() <= kMaxHeaders)
            return true;
        *reason = QStringLiteral("the camera sent a part whose headers do not end");
        return false;
    }
    declared_ = -1;
    for (const QByteArray& raw : buffer_.left(end).split('\n')) {
        const qsizetype colon = raw.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = raw.left(colon).trimmed().toLower();
        const QByteArray value = raw.mid(colon + 1).trimmed();
        if (name == "content-length") {
            bool ok = false;
            const qlonglong length = value.toLongLong(&ok);
            if (ok && length > kMaxPartBytes) {
                *reason = QStringLiteral("the camera sent a part of %1 MB: more than the %2 MB limit")
                              .arg(megabytes(qsizetype(std::min<qlonglong>(length, qlonglong(1) << 50))),
                                   megabytes(kMaxPartBytes));
                return false;
            }
            declared_ = ok && length > 0 ? qsizetype(length) : -1;
        } else if (name == "content-type") {
            // Only pictures: what a part says it is must not choose how it is read.
            const QByteArray type = value.toLower();
            if (!type.startsWith("image/jpeg") && !type.startsWith("image/jpg") &&
                !type.startsWith("image/pjpeg")) {
                *reason = QStringLiteral("the camera sends %1 parts, not JPEG pictures")
                              .arg(QString::fromLatin1(type.left(40)));
                return false;
            }
        }
    }
    buffer_.remove(0, end);
    searchFrom_ = 0;
    state_ = State::Body;
    return true;
}

bool MultipartParts::body(std::vector<QByteArray>& parts, QString* reason) {
    qsizetype length = -1;
    // The declared length, where the picture really ends there.
    if (declared_ > 2 && buffer_.size() >= declared_ && buffer_.at(declared_ - 2) == '\xFF' &&
        buffer_.at(declared_ - 1) == '\xD9')
        length = declared_;
    qsizetype next = -1;
    if (length < 0) {
        const QByteArray marker = '\n' + delimiter_;
        next = buffer_.indexOf(marker, searchFrom_);
        if (next >= 0) {
            length = next;
            if (length > 0 && buffer_.at(length - 1) == '\r')
                --length;
        } else {
            searchFrom_ = std::max<qsizetype>(0, buffer_.size() - marker.size());
        }
    }
    if (length < 0) {
        if (buffer_.size() <= kMaxPartBytes)
            return true;
        *reason = QStringLiteral("the camera sent a part larger than the %1 MB limit")
                      .arg(megabytes(kMaxPartBytes));
        return false;
    }
    parts.push_back(buffer_.left(length));
    buffer_.remove(0, next >= 0 ? next + 1 : length);
    state_ = State::Boundary;
    return true;
}

} // namespace zantrel
