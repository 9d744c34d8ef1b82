#include "liveview/http_server.h"

#include "liveview/live_page.h"
#include "liveview/live_state.h"
#include "liveview/mjpeg_feed.h"
#include "liveview/tls_files.h"

#include <QLocale>
#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <microhttpd.h>
#include <netinet/in.h>
#include <vector>

namespace zantrel {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kRealm = "Webcam Zantrel";
// Prometheus' text exposition format.
constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// The path exactly as the client sent it: routes are compared raw, and an encoded NUL or dot never
// turns into something else behind the check.
size_t keepEscaped(void*, MHD_Connection*, char* s) {
    return std::strlen(s);
}

MHD_Result queueText(MHD_Connection* connection, unsigned int code, const QByteArray& text,
                     const char* type = "text/plain; charset=utf-8");

// A request that announces a body: none is read, whatever it holds.
bool hasBody(MHD_Connection* connection) {
    const char* length =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    return (length && QByteArray(length).trimmed() != "0") ||
           MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING);
}

MHD_Result accessHandler(void* cls, MHD_Connection* connection, const char* url, const char* method,
                         const char*, const char*, size_t* uploadSize, void** request) {
    auto* server = static_cast<LiveHttpServer*>(cls);
    // The first call announces the request once its headers are in; a response queued now is sent
    // without the body being read, and the connection closes after it.
    static int seen;
    if (!*request) {
        *request = &seen;
        server->clients().requestBegins(connection);
        if (hasBody(connection))
            return queueText(connection, MHD_HTTP_CONTENT_TOO_LARGE, "Requests with a body are not taken\n");
        return MHD_YES;
    }
    if (*uploadSize != 0)
        return MHD_NO; // cannot happen: a body was refused above
    return static_cast<MHD_Result>(server->answer(connection, url, method, request));
}

void noteConnection(void* cls, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode code) {
    ClientGuard& clients = static_cast<LiveHttpServer*>(cls)->clients();
    if (code != MHD_CONNECTION_NOTIFY_STARTED) {
        clients.closed(connection);
        return;
    }
    const MHD_ConnectionInfo* address =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    const MHD_ConnectionInfo* fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    clients.opened(connection, address ? address->client_addr : nullptr, fd ? fd->connect_fd : -1);
}

void noteRequestDone(void* cls, MHD_Connection* connection, void**, MHD_RequestTerminationCode) {
    static_cast<LiveHttpServer*>(cls)->clients().requestEnds(connection);
}

QByteArray clientOf(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    return ClientKey(info ? info->client_addr : nullptr);
}

MHD_Result queueLoginRequired(MHD_Connection* connection) {
    static const QByteArray text = "Login required\n";
    MHD_Response* r = MHD_create_response_from_buffer(
        static_cast<size_t>(text.size()), const_cast<char*>(text.constData()), MHD_RESPMEM_PERSISTENT);
    const MHD_Result result = MHD_queue_basic_auth_fail_response(connection, kRealm, r);
    MHD_destroy_response(r);
    return result;
}

MHD_Result queueText(MHD_Connection* connection, unsigned int code, const QByteArray& text,
                     const char* type) {
    MHD_Response* r = MHD_create_response_from_buffer(
        static_cast<size_t>(text.size()), const_cast<char*>(text.constData()), MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
    if (code == MHD_HTTP_METHOD_NOT_ALLOWED)
        MHD_add_response_header(r, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    if (code == MHD_HTTP_SERVICE_UNAVAILABLE || code == MHD_HTTP_CONTENT_TOO_LARGE) {
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
    StreamReader(MjpegFeed& f, ClientGuard& g, MHD_Connection* c) : feed(f), clients(g), connection(c) {}
    MjpegFeed& feed;
    ClientGuard& clients;
    MHD_Connection* connection;
    std::shared_ptr<const QByteArray> part;
    qsizetype sent = 0;
    std::uint64_t seen = 0;
    bool resting = false;           // the library's thread
    std::atomic<bool> gone = false; // found gone while resting
};

ssize_t readStream(void* cls, uint64_t, char* buf, size_t max) {
    auto& reader = *static_cast<StreamReader*>(cls);
    if (reader.resting) {
        reader.resting = false;
        reader.clients.awake(reader.connection);
    }
    if (reader.gone)
        return MHD_CONTENT_READER_END_WITH_ERROR;
    if (!reader.part || reader.sent == reader.part->size()) {
        reader.part = reader.feed.next(reader.seen);
        reader.sent = 0;
        if (!reader.part) {
            if (reader.feed.closing())
                return MHD_CONTENT_READER_END_OF_STREAM;
            // Nothing new yet: the connection rests until the next frame; the encoder never waits for it.
            // Resting, it is not watched by the library: the guard looks for the client having gone.
            MHD_Connection* connection = reader.connection;
            MHD_suspend_connection(connection);
            const std::uint64_t wait =
                reader.feed.await(reader.seen, [connection] { MHD_resume_connection(connection); });
            if (wait) {
                reader.resting = true;
                reader.clients.resting(connection, [r = &reader, wait] {
                    if (!r->feed.cancel(wait))
                        return false;
                    r->gone = true;
                    return true;
                });
            }
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
    if (tls && (!config.tlsProblem.isEmpty() || config.certPem.isEmpty() || config.keyPem.isEmpty())) {
        // Never plain HTTP in place of the HTTPS asked for: the login would travel in clear.
        if (error)
            *error = !config.tlsProblem.isEmpty()
                         ? config.tlsProblem
                         : QStringLiteral("The live view cannot read its certificate or key file");
        return false;
    }
    if (tls)
        flags |= MHD_USE_TLS;
    hosts_ = HostNames(config.hostNames);
    const unsigned int connections = static_cast<unsigned int>(config.streamClients + kOtherConnections);
    std::vector<MHD_OptionItem> options{
        {MHD_OPTION_SOCK_ADDR, 0, &address},
        {MHD_OPTION_CONNECTION_LIMIT, connections, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeoutS, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, 64 * 1024, nullptr},
        {MHD_OPTION_UNESCAPE_CALLBACK, reinterpret_cast<intptr_t>(&keepEscaped), nullptr},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&noteConnection), this},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&noteRequestDone), this},
    };
    if (tls) {
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(config_.keyPem.constData())});
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(config_.certPem.constData())});
        options.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(kLiveViewTlsPriorities)});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    feed_.open();
    daemon_ = MHD_start_daemon(flags, config.port, nullptr, nullptr, &accessHandler, this, MHD_OPTION_ARRAY,
                               options.data(), MHD_OPTION_END);
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
    warden_ = std::thread([this] { ward(); });
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
    warden_.join(); // delayed logins are looked at now
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
    std::lock_guard lock(imageMutex_);
    if (imageResponse_)
        MHD_destroy_response(imageResponse_);
    imageResponse_ = nullptr;
    imageServed_.reset();
}

bool LiveHttpServer::loginPasses(MHD_Connection* connection, void** request, int* result) {
    static int refused;
    *result = MHD_YES;
    if (*request == &refused) {
        *result = queueLoginRequired(connection);
        return false;
    }
    const std::optional<BasicLogin> login = ParseBasicLogin(
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION));
    if (!login) {
        *result = queueLoginRequired(connection);
        return false;
    }
    const QByteArray client = clientOf(connection);
    const auto now = Clock::now();
    if (const auto until = logins_.pausedUntil(client); until > now) {
        if (!holdBack(connection, until)) // looked at when this client's pause is over
            *result = queueLoginRequired(connection);
        return false;
    }
    // Both compared whole, whichever differs.
    const bool right = login->readable & SameSecret(login->user, config_.user.toUtf8()) &
                       SameSecret(login->password, config_.password.toUtf8());
    if (right) {
        logins_.succeeded(client);
        return true;
    }
    // Refused at the end of the pause the failure starts; the library calls again for it then.
    *request = &refused;
    if (!holdBack(connection, logins_.failed(client, now)))
        *result = queueLoginRequired(connection);
    return false;
}

bool LiveHttpServer::holdBack(MHD_Connection* connection, Clock::time_point due) {
    std::lock_guard lock(heldMutex_);
    if (stopping_)
        return false;
    MHD_suspend_connection(connection);
    held_.emplace(due, connection);
    heldChanged_.notify_one();
    return true;
}

void LiveHttpServer::ward() {
    std::unique_lock lock(heldMutex_);
    auto sweepDue = Clock::now();
    while (!stopping_ || !held_.empty()) {
        const auto now = Clock::now();
        if (!held_.empty() && (stopping_ || held_.begin()->first <= now)) {
            MHD_Connection* connection = held_.begin()->second;
            held_.erase(held_.begin());
            lock.unlock();
            MHD_resume_connection(connection);
            lock.lock();
            continue;
        }
        if (stopping_)
            continue; // the loop ends
        if (now >= sweepDue) {
            sweepDue = now + kSweepInterval;
            lock.unlock();
            for (MHD_Connection* gone : clients_.sweep(now))
                MHD_resume_connection(gone); // its stream ends at once
            feed_.repeat(kFrameRepeat);
            lock.lock();
            continue;
        }
        heldChanged_.wait_until(lock, held_.empty() ? sweepDue : std::min(sweepDue, held_.begin()->first));
    }
}

int LiveHttpServer::answer(MHD_Connection* connection, const char* url, const char* method, void** request) {
    const QByteArray path(url);
    if (!config_.loginRequired() &&
        !hosts_.allowed(MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST)))
        return queueText(connection, MHD_HTTP_FORBIDDEN,
                         "This live view answers only to its own names and addresses (HTTP/HOSTS lists "
                         "more)\n");
    if (int result = MHD_YES; config_.loginRequired() && !loginPasses(connection, request, &result))
        return result;
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
    if (path == "/metrics") {
        if (const std::optional<QByteArray> metrics = state_.metricsText())
            return queueText(connection, MHD_HTTP_OK, *metrics, kMetricsContentType);
    }
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
    auto reader = std::make_unique<StreamReader>(feed_, clients_, connection);
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
