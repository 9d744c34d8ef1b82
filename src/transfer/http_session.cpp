#include "transfer/http_session.h"

#include "core/curl_global.h"
#include "transfer/secure_channel.h"
#include "transfer/server_address.h"

#include <QUrl>
#include <algorithm>
#include <cstring>

namespace zantrel {

namespace {

constexpr qsizetype kBodyKept = 64 * 1024;

// Whether a request URL goes to this machine itself, where nobody else reads what is sent.
bool loopbackUrl(const QByteArray& url) {
    const QString host = QUrl(QString::fromLatin1(url)).host();
    return host == QLatin1String("localhost") || host == QLatin1String("::1") ||
           host.startsWith(QLatin1String("127."));
}

} // namespace

HttpAddress ParseHttpAddress(const QString& address, int port, bool tls, QString& error) {
    HttpAddress out;
    const QString text = address.trimmed();
    if (HasControlCharacter(text)) {
        error = QStringLiteral("The server address holds a control character");
        return out;
    }
    const QUrl url(text);
    if (!url.isValid() || url.host().isEmpty() || url.hasQuery() || url.hasFragment()) {
        error = QStringLiteral("Bad server address %1").arg(ShownAddress(text));
        return out;
    }
    if (!url.userInfo().isEmpty()) {
        error = QStringLiteral("Bad server address %1: write the user name and password in their own "
                               "fields, not in the address")
                    .arg(ShownAddress(text));
        return out;
    }
    const int defaultPort = tls ? 443 : 80;
    const int chosen = url.port() > 0 ? url.port() : (port <= 0 || port == 21 ? defaultPort : port);
    if (chosen > 65535) {
        error = QStringLiteral("Bad server address %1 port %2").arg(ShownAddress(text)).arg(chosen);
        return out;
    }
    out.host = url.host();
    const QByteArray ace = url.host(QUrl::FullyEncoded).toLatin1();
    const QByteArray host = out.host.contains(QLatin1Char(':')) ? '[' + ace + ']' : ace;
    // The default port stays unwritten, as in the Host header and the URLs the server itself makes.
    out.origin = (tls ? QByteArray("https://") : QByteArray("http://")) + host +
                 (chosen == defaultPort ? QByteArray() : ':' + QByteArray::number(chosen));
    out.path = FolderSegments(url.path(QUrl::FullyDecoded));
    return out;
}

QStringList FolderSegments(const QString& folder) {
    return folder.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

bool EncodePath(const QStringList& segments, QByteArray& out, QString& error) {
    out.clear();
    for (const QString& s : segments) {
        if (s == QLatin1String(".") || s == QLatin1String("..") || HasControlCharacter(s)) {
            error = QStringLiteral("The folder or name \"%1\" is refused: no \".\" or \"..\" and no control "
                                   "characters")
                        .arg(OneLine(s));
            return false;
        }
        out += '/' + QUrl::toPercentEncoding(s);
    }
    return true;
}

QByteArray ContentTypeFor(const QString& name) {
    const QString lower = name.toLower();
    if (lower.endsWith(QLatin1String(".jpg")) || lower.endsWith(QLatin1String(".jpeg")))
        return "image/jpeg";
    if (lower.endsWith(QLatin1String(".mp4")))
        return "video/mp4";
    return "application/octet-stream";
}

QString HttpSession::Reply::text() const {
    if (code != CURLE_OK && status == 0)
        return error;
    QString out = QString::number(status);
    if (!reason.isEmpty())
        out += QLatin1Char(' ') + reason;
    if (!location.isEmpty())
        out += QStringLiteral(" (to %1, not followed)").arg(ShownAddress(QString::fromUtf8(location)));
    if (code != CURLE_OK)
        out += QStringLiteral(": ") + error;
    return out;
}

HttpSession::HttpSession(const ServerEntry& entry)
    : handle_(nullptr, &curl_easy_cleanup), user_(entry.login.toUtf8()), password_(entry.password.toUtf8()),
      pinned_(entry.pinnedKey.trimmed().toLatin1()) {}

HttpSession::~HttpSession() = default;

void HttpSession::close() {
    handle_.reset();
}

size_t HttpSession::header(char* data, size_t size, size_t count, void* self) {
    auto& me = *static_cast<HttpSession*>(self);
    const QByteArray line = QByteArray(data, static_cast<qsizetype>(size * count)).trimmed();
    if (line.startsWith("HTTP/")) { // a new answer (after "100 Continue" too): its status line
        const QList<QByteArray> parts = line.split(' ');
        me.reply_.reason = OneLine(QString::fromUtf8(
            line.mid(std::min(line.size(), parts.value(0).size() + parts.value(1).size() + 2))));
        me.reply_.location.clear();
    } else if (line.size() > 9 && qstrnicmp(line.constData(), "location:", 9) == 0) {
        me.reply_.location = line.mid(9).trimmed();
    } else if (line.size() > 17 && qstrnicmp(line.constData(), "www-authenticate:", 17) == 0) {
        const QByteArray scheme = line.mid(17).trimmed().toLower();
        me.digestOffered_ |= scheme.startsWith("digest");
        me.basicOffered_ |= scheme.startsWith("basic");
    }
    return size * count;
}

size_t HttpSession::write(char* data, size_t size, size_t count, void* self) {
    auto& me = *static_cast<HttpSession*>(self);
    auto& body = me.reply_.body;
    const auto n = static_cast<qsizetype>(size * count);
    body.append(data, std::min(n, std::max<qsizetype>(0, kBodyKept - body.size())));
    me.received_ += n;
    if (me.received_ > me.limits_.answerBytes) {
        me.cutOff_ = true;
        return 0; // no further byte is read: the request ends here
    }
    return size * count;
}

size_t HttpSession::read(char* data, size_t size, size_t count, void* self) {
    auto& me = *static_cast<HttpSession*>(self);
    const qsizetype n = std::min(static_cast<qsizetype>(size * count), me.body_->size() - me.sent_);
    std::memcpy(data, me.body_->constData() + me.sent_, static_cast<size_t>(n));
    me.sent_ += n;
    return static_cast<size_t>(n);
}

// libcurl sends a body again after the answer that asked for the login.
int HttpSession::seek(void* self, curl_off_t offset, int origin) {
    auto& me = *static_cast<HttpSession*>(self);
    if (origin != SEEK_SET || !me.body_ || offset < 0 || offset > me.body_->size())
        return CURL_SEEKFUNC_CANTSEEK;
    me.sent_ = static_cast<qsizetype>(offset);
    return CURL_SEEKFUNC_OK;
}

int HttpSession::xferInfo(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t ulnow) {
    auto& me = *static_cast<HttpSession*>(self);
    if (me.stopped_ && me.stopped_())
        return 1;
    // The whole body is told by the target once the server has taken it.
    if (me.body_ && me.progress_ && ulnow != me.shown_ && ulnow > 0 && ulnow < me.body_->size()) {
        me.shown_ = ulnow;
        me.progress_(ulnow);
    }
    return 0;
}

int HttpSession::prereq(void* self, char*, char*, int, int) {
    auto& me = *static_cast<HttpSession*>(self);
    if (!me.saidConnected_ && me.connected_) {
        me.saidConnected_ = true;
        me.connected_();
    }
    return CURL_PREREQFUNC_OK;
}

QString HttpSession::certificatePin(const QByteArray& origin) {
    std::unique_ptr<CURL, void (*)(CURL*)> h(curl_easy_init(), &curl_easy_cleanup);
    if (!h)
        return {};
    const QByteArray url = origin + '/';
    curl_easy_setopt(h.get(), CURLOPT_URL, url.constData());
    AllowOnlyScheme(h.get(), url);
    curl_easy_setopt(h.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h.get(), CURLOPT_CERTINFO, 1L);
    curl_easy_setopt(h.get(), CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(h.get(), CURLOPT_SSL_VERIFYHOST, 0L);
    // A pin nothing matches: the connection ends after the handshake, before a request goes out.
    curl_easy_setopt(h.get(), CURLOPT_PINNEDPUBLICKEY,
                     "sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=");
    curl_easy_setopt(h.get(), CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits_.connect.count()));
    curl_easy_perform(h.get());
    SecureChannel probe({}, {});
    probe.collect(h.get());
    return probe.fingerprint();
}

HttpSession::Reply HttpSession::perform(const QByteArray& method, const QByteArray& url,
                                        const QList<QByteArray>& headers, const QByteArray& body,
                                        bool hasBody) {
    reply_ = {};
    if (!EnsureCurlGlobalInit() || (!handle_ && (handle_.reset(curl_easy_init()), !handle_))) {
        reply_.code = CURLE_FAILED_INIT;
        reply_.error = QStringLiteral("libcurl could not be started");
        return reply_;
    }
    CURL* h = handle_.get();
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    AllowOnlyScheme(h, url);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_USERNAME, user_.constData());
    curl_easy_setopt(h, CURLOPT_PASSWORD, password_.constData());
    const bool basicAllowed = url.startsWith("https:") || loopbackUrl(url);
    if (sigv4_.isEmpty())
        curl_easy_setopt(
            h, CURLOPT_HTTPAUTH,
            static_cast<long>(basicAllowed ? CURLAUTH_BASIC | CURLAUTH_DIGEST : CURLAUTH_DIGEST));
    else
        curl_easy_setopt(h, CURLOPT_AWS_SIGV4, sigv4_.constData());
    if (!pinned_.isEmpty()) { // exactly the stored key, whoever signed it
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(h, CURLOPT_PINNEDPUBLICKEY, pinned_.constData());
    }
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits_.connect.count()));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, limits_.lowSpeed);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME,
                     static_cast<long>(hasBody ? limits_.stall.count() : limits_.reply.count()));
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &HttpSession::header);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &HttpSession::write);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &HttpSession::xferInfo);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &HttpSession::prereq);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, this);
    body_ = hasBody ? &body : nullptr;
    sent_ = 0, shown_ = -1, received_ = 0, cutOff_ = false;
    curl_easy_setopt(h, CURLOPT_UPLOAD, hasBody ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_NOBODY, method == "HEAD" ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST,
                     method == "PUT" || method == "HEAD" ? nullptr : method.constData());
    if (hasBody) {
        curl_easy_setopt(h, CURLOPT_READFUNCTION, &HttpSession::read);
        curl_easy_setopt(h, CURLOPT_READDATA, this);
        curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, &HttpSession::seek);
        curl_easy_setopt(h, CURLOPT_SEEKDATA, this);
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(body.size()));
    }
    // The body goes out at once: waiting for "100 Continue" costs a round trip, or a second with a
    // server that never sends it. Not on a signed request: this libcurl would sign the header it removes.
    curl_slist* lines = nullptr;
    QList<QByteArray> all = headers;
    if (sigv4_.isEmpty())
        all << QByteArray("Expect:");
    for (const QByteArray& line : all)
        if (curl_slist* grown = curl_slist_append(lines, line.constData()))
            lines = grown;
    const std::unique_ptr<curl_slist, void (*)(curl_slist*)> list(lines, &curl_slist_free_all);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, lines);

    digestOffered_ = basicOffered_ = false;
    reply_.code = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &reply_.status);
    reply_.basicOnly = reply_.status == 401 && basicOffered_ && !digestOffered_ && !basicAllowed;
    if (reply_.code != CURLE_OK)
        reply_.error = OneLine(errorBuffer[0] ? QString::fromUtf8(errorBuffer)
                                              : QString::fromUtf8(curl_easy_strerror(reply_.code)));
    if (cutOff_)
        reply_.error = QStringLiteral("The server's answer went on past %1 KB; it was cut off there")
                           .arg(limits_.answerBytes / 1024);
    if (reply_.status < 300 || reply_.status >= 400)
        reply_.location.clear();
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, nullptr);
    body_ = nullptr;
    if (reply_.code != CURLE_OK) // a broken or aborted exchange leaves no connection worth keeping
        close();
    return reply_;
}

} // namespace zantrel
