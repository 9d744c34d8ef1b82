#include "liveview/http_server.h"

#include "liveview/live_page.h"
#include "liveview/live_state.h"
#include "liveview/mjpeg_feed.h"

#include <QCryptographicHash>
#include <QLocale>
#include <arpa/inet.h>
#include <cstring>
#include <microhttpd.h>
#include <netinet/in.h>

namespace zantrel {

namespace {

constexpr const char* kRealm = "Webcam Zantrel";

// The path exactly as the client sent it: routes are compared raw, and an encoded NUL or dot never
// turns into something else behind the check.
size_t keepEscaped(void*, MHD_Connection*, char* s) {
    return std::strlen(s);
}

MHD_Result accessHandler(void* cls, MHD_Connection* connection, const char* url, const char* method,
                         const char*, const char*, size_t*, void** request) {
    // The first call only announces the request: a response queued then closes the connection.
    static int seen;
    if (!*request) {
        *request = &seen;
        return MHD_YES;
    }
    return static_cast<MHD_Result>(
        static_cast<LiveHttpServer*>(cls)->answer(connection, url, method, request));
}

MHD_Result queueText(MHD_Connection* connection, unsigned int code, const QByteArray& text,
                     const char* type = "text/plain; charset=utf-8") {
    MHD_Response* r = MHD_create_response_from_buffer(
        static_cast<size_t>(text.size()), const_cast<char*>(text.constData()), MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
    if (code == MHD_HTTP_METHOD_NOT_ALLOWED)
        MHD_add_response_header(r, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    if (code == MHD_HTTP_SERVICE_UNAVAILABLE) {
        MHD_add_response_header(r, MHD_HTTP_HEADER_RETRY_AFTER, "5");
        MHD_add_response_header(r, MHD_HTTP_HEADER_CONNECTION, "close"); // its place is free at once
    }
    const MHD_Result result = MHD_queue_response(connection, code, r);
    MHD_destroy_response(r);
    return result;
}

QByteArray httpDate(const QDateTime& t) {
    return QLocale::c().toString(t.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'")).toLatin1();
}

bool etagMatches(const char* ifNoneMatch, const QByteArray& etag) {
    if (!ifNoneMatch)
        return false;
    for (QByteArray candidate : QByteArray(ifNoneMatch).split(',')) {
        candidate = candidate.trimmed();
        if (candidate.startsWith("W/"))
            candidate = candidate.mid(2);
        if (candidate == "*" || candidate == etag)
            return true;
    }
    return false;
}

void releaseImage(void* cls) {
    delete static_cast<std::shared_ptr<const PublishedImage>*>(cls);
}

// One stream client: the part it is sending and how far it got.
struct StreamReader {
    MjpegFeed& feed;
    MHD_Connection* connection;
    std::shared_ptr<const QByteArray> part;
    qsizetype sent = 0;
    std::uint64_t seen = 0;
};

ssize_t readStream(void* cls, uint64_t, char* buf, size_t max) {
    auto& reader = *static_cast<StreamReader*>(cls);
    if (!reader.part || reader.sent == reader.part->size()) {
        reader.part = reader.feed.next(reader.seen);
        reader.sent = 0;
        if (!reader.part) {
            if (reader.feed.closing())
                return MHD_CONTENT_READER_END_OF_STREAM;
            // Nothing new yet: the connection rests until the next frame; the encoder never waits for it.
            MHD_Connection* connection = reader.connection;
            MHD_suspend_connection(connection);
            reader.feed.await(reader.seen, [connection] { MHD_resume_connection(connection); });
            return 0;
        }
    }
    const auto n = std::min<qsizetype>(static_cast<qsizetype>(max), reader.part->size() - reader.sent);
    std::memcpy(buf, reader.part->constData() + reader.sent, static_cast<size_t>(n));
    reader.sent += n;
    return n;
}

void endStream(void* cls) {
    std::unique_ptr<StreamReader> reader(static_cast<StreamReader*>(cls));
    reader->feed.leave();
}

} // namespace

bool SameSecret(const QByteArray& a, const QByteArray& b) {
    // Digests of equal length, so neither the length nor the first difference shows in the time taken.
    const QByteArray x = QCryptographicHash::hash(a, QCryptographicHash::Sha256);
    const QByteArray y = QCryptographicHash::hash(b, QCryptographicHash::Sha256);
    unsigned char differ = 0;
    for (qsizetype i = 0; i < x.size(); ++i)
        differ |= static_cast<unsigned char>(x[i] ^ y[i]);
    return differ == 0;
}

LiveHttpServer::LiveHttpServer(LiveViewState& state, MjpegFeed& feed) : state_(state), feed_(feed) {}

LiveHttpServer::~LiveHttpServer() {
    stop();
}

bool LiveHttpServer::start(const HttpServerConfig& config, QString* error) {
    stop();
    config_ = config;
    sockaddr_storage address{};
    unsigned int flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME;
    if (config.bind.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(config.port);
        const Q_IPV6ADDR ip = config.bind.toIPv6Address();
        std::memcpy(&in6->sin6_addr, ip.c, sizeof ip.c);
        flags |= MHD_USE_IPv6;
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(config.port);
        in4->sin_addr.s_addr = htonl(config.bind.toIPv4Address());
    }
    const bool tls = config.tls;
    if (tls && (config.certPem.isEmpty() || config.keyPem.isEmpty())) {
        // Never plain HTTP in place of the HTTPS asked for: the login would travel in clear.
        if (error)
            *error = QStringLiteral("The live view cannot read its certificate or key file");
        return false;
    }
    if (tls)
        flags |= MHD_USE_TLS;
    const unsigned int connections = static_cast<unsigned int>(config.streamClients + kOtherConnections);
    MHD_OptionItem options[] = {
        {MHD_OPTION_SOCK_ADDR, 0, &address},
        {MHD_OPTION_CONNECTION_LIMIT, connections, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeoutS, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, 64 * 1024, nullptr},
        {MHD_OPTION_UNESCAPE_CALLBACK, reinterpret_cast<intptr_t>(&keepEscaped), nullptr},
        {tls ? MHD_OPTION_HTTPS_MEM_KEY : MHD_OPTION_END, 0, const_cast<char*>(config_.keyPem.constData())},
        {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(config_.certPem.constData())},
        {MHD_OPTION_END, 0, nullptr},
    };
    feed_.open();
    daemon_ = MHD_start_daemon(flags, config.port, nullptr, nullptr, &accessHandler, this, MHD_OPTION_ARRAY,
                               options, MHD_OPTION_END);
    if (!daemon_) {
        if (error)
            *error = QStringLiteral("The live view cannot listen on %1 port %2")
                         .arg(config.bind.toString())
                         .arg(config.port);
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    port_ = info ? info->port : config.port;
    stopping_ = false;
    refusals_ = std::thread([this] { releaseHeldBack(); });
    return true;
}

void LiveHttpServer::stop() {
    if (!daemon_)
        return;
    // Every connection set aside comes back, so that the library can close it.
    feed_.close(); // waiting stream clients end now
    {
        std::lock_guard lock(heldMutex_);
        stopping_ = true;
    }
    heldChanged_.notify_one();
    refusals_.join(); // delayed refusals are answered now
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
    std::lock_guard lock(imageMutex_);
    if (imageResponse_)
        MHD_destroy_response(imageResponse_);
    imageResponse_ = nullptr;
    imageServed_.reset();
}

bool LiveHttpServer::loggedIn(MHD_Connection* connection, bool* offered) const {
    char* password = nullptr;
    char* user = MHD_basic_auth_get_username_password(connection, &password);
    *offered = user != nullptr;
    const bool ok = user && password &&
                    SameSecret(user, config_.user.toUtf8()) & SameSecret(password, config_.password.toUtf8());
    MHD_free(user);
    MHD_free(password);
    return ok;
}

void LiveHttpServer::holdBack(MHD_Connection* connection) {
    MHD_suspend_connection(connection);
    {
        std::lock_guard lock(heldMutex_);
        if (!stopping_) {
            held_.emplace_back(std::chrono::steady_clock::now() +
                                   std::chrono::milliseconds(kWrongPasswordDelayMs),
                               connection);
            heldChanged_.notify_one();
            return;
        }
    }
    MHD_resume_connection(connection); // stopping: refused at once
}

void LiveHttpServer::releaseHeldBack() {
    std::unique_lock lock(heldMutex_);
    while (!stopping_ || !held_.empty()) {
        if (held_.empty()) {
            heldChanged_.wait(lock);
            continue;
        }
        const auto [due, connection] = held_.front();
        if (!stopping_ && std::chrono::steady_clock::now() < due) {
            heldChanged_.wait_until(lock, due);
            continue;
        }
        held_.pop_front();
        lock.unlock();
        MHD_resume_connection(connection);
        lock.lock();
    }
}

int LiveHttpServer::answer(MHD_Connection* connection, const char* url, const char* method, void** request) {
    const QByteArray path(url);
    if (config_.loginRequired()) {
        bool offered = false;
        if (!loggedIn(connection, &offered)) {
            // A wrong password is answered after a while; the library calls again for it then.
            static int heldBack;
            if (offered && *request != &heldBack) {
                *request = &heldBack;
                holdBack(connection);
                return MHD_YES;
            }
            static const QByteArray text = "Login required\n";
            MHD_Response* r =
                MHD_create_response_from_buffer(static_cast<size_t>(text.size()),
                                                const_cast<char*>(text.constData()), MHD_RESPMEM_PERSISTENT);
            const MHD_Result result = MHD_queue_basic_auth_fail_response(connection, kRealm, r);
            MHD_destroy_response(r);
            return result;
        }
    }
    if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
        return queueText(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET and HEAD are answered\n");
    if (path.contains("..") || path.toLower().contains("%00") || !path.startsWith('/'))
        return queueText(connection, MHD_HTTP_BAD_REQUEST, "Bad path\n");
    if (path == "/current.jpg")
        return answerImage(connection);
    if (path == "/live.mjpg")
        return answerStream(connection);
    if (path == "/status.json")
        return queueText(connection, MHD_HTTP_OK, state_.statusJson(), "application/json");
    if (path == "/" || path == "/index.html")
        return queueText(connection, MHD_HTTP_OK, LivePageHtml(), "text/html; charset=utf-8");
    return queueText(connection, MHD_HTTP_NOT_FOUND, "Not found\n");
}

int LiveHttpServer::answerImage(MHD_Connection* connection) {
    const std::shared_ptr<const PublishedImage> image = state_.image();
    if (!image)
        return queueText(connection, MHD_HTTP_NOT_FOUND, "No image has been published yet\n");
    const char* ifNoneMatch =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_IF_NONE_MATCH);
    if (etagMatches(ifNoneMatch, image->etag)) {
        MHD_Response* r = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
        MHD_add_response_header(r, MHD_HTTP_HEADER_ETAG, image->etag.constData());
        MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
        const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_NOT_MODIFIED, r);
        MHD_destroy_response(r);
        return result;
    }
    std::lock_guard lock(imageMutex_);
    if (imageServed_ != image) {
        if (imageResponse_)
            MHD_destroy_response(imageResponse_); // connections still sending it hold their own reference
        // The response keeps the image alive until the library has sent it to its last client.
        auto* keep = new std::shared_ptr<const PublishedImage>(image);
        imageResponse_ = MHD_create_response_from_buffer_with_free_callback_cls(
            static_cast<size_t>(image->jpeg.size()), const_cast<char*>(image->jpeg.constData()),
            &releaseImage, keep);
        MHD_add_response_header(imageResponse_, MHD_HTTP_HEADER_CONTENT_TYPE, "image/jpeg");
        MHD_add_response_header(imageResponse_, MHD_HTTP_HEADER_LAST_MODIFIED,
                                httpDate(image->time).constData());
        MHD_add_response_header(imageResponse_, MHD_HTTP_HEADER_ETAG, image->etag.constData());
        MHD_add_response_header(imageResponse_, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
        imageServed_ = image;
    }
    return MHD_queue_response(connection, MHD_HTTP_OK, imageResponse_);
}

int LiveHttpServer::answerStream(MHD_Connection* connection) {
    if (!feed_.join(config_.streamClients))
        return queueText(connection, MHD_HTTP_SERVICE_UNAVAILABLE,
                         "Too many live viewers, try again later\n");
    auto reader = std::make_unique<StreamReader>(StreamReader{feed_, connection, {}, 0, 0});
    MHD_Response* r =
        MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 32 * 1024, &readStream, reader.get(), &endStream);
    if (!r) {
        feed_.leave();
        return MHD_NO;
    }
    reader.release(); // endStream owns it now
    MHD_add_response_header(
        r, MHD_HTTP_HEADER_CONTENT_TYPE,
        (QByteArray("multipart/x-mixed-replace; boundary=") + MjpegFeed::kBoundary).constData());
    MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
    const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, r);
    MHD_destroy_response(r);
    return result;
}

} // namespace zantrel
