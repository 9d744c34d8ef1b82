#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

struct MHD_Connection;
struct MHD_Daemon;
struct MHD_Response;

namespace zantrel {

class LiveViewState;
class MjpegFeed;
struct PublishedImage;

// How the live view server listens and whom it lets in.
struct HttpServerConfig {
    QHostAddress bind{QHostAddress::LocalHost};
    quint16 port = 8080; // 0: any free port
    int streamClients = 8;
    QString user;
    QString password;
    QByteArray certPem; // both set: HTTPS only
    QByteArray keyPem;
    bool tls = false; // asked for: a certificate or key file is set
    friend bool operator==(const HttpServerConfig&, const HttpServerConfig&) = default;
    bool loginRequired() const { return !user.isEmpty() || !password.isEmpty(); }
};

// The live view's HTTP server (libmicrohttpd, one thread polling every connection without blocking, so
// a slow client only ever holds up itself): `/`, `/current.jpg`, `/live.mjpg` and `/status.json`, GET
// and HEAD only. A stream client waiting for the next frame and a wrong password waiting for its
// refusal are set aside until then. Serves from state and feed, which must outlive it.
class LiveHttpServer {
  public:
    LiveHttpServer(LiveViewState& state, MjpegFeed& feed);
    ~LiveHttpServer(); // stops

    // Starts listening; false with the reason in error when the address cannot be used.
    bool start(const HttpServerConfig& config, QString* error = nullptr);
    // Closes every connection; they end at once.
    void stop();
    quint16 port() const { return port_; }

    // How long a client that gave a wrong password waits for its refusal.
    static constexpr int kWrongPasswordDelayMs = 1000;
    // Connections beyond the stream clients (pages, pictures, refused clients) before new ones are dropped.
    static constexpr int kOtherConnections = 256;
    // A connection that neither sends nor takes anything for this long is closed.
    static constexpr int kIdleTimeoutS = 10;

    // Handles one request: called by the library on its thread; request is the library's slot for it.
    int answer(MHD_Connection* connection, const char* url, const char* method, void** request);

  private:
    int answerImage(MHD_Connection* connection);
    int answerStream(MHD_Connection* connection);
    bool loggedIn(MHD_Connection* connection, bool* offered) const;
    // Sets the connection aside for the wrong password's delay.
    void holdBack(MHD_Connection* connection);
    void releaseHeldBack(); // the refusals' thread

    LiveViewState& state_;
    MjpegFeed& feed_;
    HttpServerConfig config_;
    MHD_Daemon* daemon_ = nullptr;
    quint16 port_ = 0;
    // The current image's response, made once and queued to every client until the image changes.
    std::mutex imageMutex_;
    std::shared_ptr<const PublishedImage> imageServed_;
    MHD_Response* imageResponse_ = nullptr;
    // Connections set aside by a wrong password, with the time each is answered, oldest first.
    std::mutex heldMutex_;
    std::condition_variable heldChanged_;
    std::deque<std::pair<std::chrono::steady_clock::time_point, MHD_Connection*>> held_;
    bool stopping_ = false;
    std::thread refusals_;
};

// Equal contents, compared in time that does not depend on where they differ.
bool SameSecret(const QByteArray& a, const QByteArray& b);

} // namespace zantrel
