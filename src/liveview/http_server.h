#pragma once

#include "liveview/client_guard.h"
#include "liveview/host_names.h"
#include "liveview/login_guard.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <chrono>
#include <condition_variable>
#include <map>
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
    bool tls = false;      // asked for: a certificate or key file is set
    QString tlsProblem;    // why the certificate and key cannot be used; empty when they can
    QStringList hostNames; // besides this machine's own, the Host names answered without a login
    friend bool operator==(const HttpServerConfig&, const HttpServerConfig&) = default;
    bool loginRequired() const { return !user.isEmpty() || !password.isEmpty(); }
    // Reachable from beyond this machine with no login asked.
    bool openToNetwork() const { return !bind.isLoopback() && !loginRequired(); }
};

// The live view's HTTP server (libmicrohttpd, one thread polling every connection without blocking, so
// a slow client only ever holds up itself): `/`, `/current.jpg`, `/live.mjpg`, `/status.json` and
// `/metrics` (when the state has metrics), GET and HEAD only, no request bodies. A stream client waiting for
// the next frame and a login waiting out a client's pause after wrong passwords are set aside until then.
// Slow and idle clients are held to the limits of ClientGuard; without a login only the machine's own Host
// names are answered (HostNames). A warden thread wakes what was set aside, cuts late requests and repeats
// the newest frame during a pause of the camera. Serves from state and feed, which must outlive it.
class LiveHttpServer {
  public:
    LiveHttpServer(LiveViewState& state, MjpegFeed& feed);
    ~LiveHttpServer(); // stops

    // Starts listening; false with the reason in error when the address cannot be used.
    bool start(const HttpServerConfig& config, QString* error = nullptr);
    // Closes every connection; they end at once.
    void stop();
    quint16 port() const { return port_; }

    // Connections beyond the stream clients (pages, pictures, refused clients) before new ones are dropped.
    static constexpr int kOtherConnections = 256;
    // A connection that neither sends nor takes anything for this long is closed.
    static constexpr int kIdleTimeoutS = 10;
    // While the camera sends nothing, stream clients get the newest frame again this often.
    static constexpr std::chrono::seconds kFrameRepeat{3};
    // How often the warden looks for late requests and stream clients that went away.
    static constexpr std::chrono::milliseconds kSweepInterval{500};

    // Handles one request: called by the library on its thread; request is the library's slot for it.
    int answer(MHD_Connection* connection, const char* url, const char* method, void** request);
    ClientGuard& clients() { return clients_; }

  private:
    int answerImage(MHD_Connection* connection);
    int answerStream(MHD_Connection* connection);
    // Whether the request may go on; when not, its answer is queued or it is set aside for later.
    bool loginPasses(MHD_Connection* connection, void** request, int* result);
    // Sets the connection aside until due; false when stopping.
    bool holdBack(MHD_Connection* connection, std::chrono::steady_clock::time_point due);
    void ward(); // the warden's thread

    LiveViewState& state_;
    MjpegFeed& feed_;
    HttpServerConfig config_;
    MHD_Daemon* daemon_ = nullptr;
    quint16 port_ = 0;
    ClientGuard clients_;
    LoginGuard logins_;
    HostNames hosts_;
    // The current image's response, made once and queued to every client until the image changes.
    std::mutex imageMutex_;
    std::shared_ptr<const PublishedImage> imageServed_;
    MHD_Response* imageResponse_ = nullptr;
    // Connections set aside for a login's pause, by the time each goes on.
    std::mutex heldMutex_;
    std::condition_variable heldChanged_;
    std::multimap<std::chrono::steady_clock::time_point, MHD_Connection*> held_;
    bool stopping_ = false;
    std::thread warden_;
};

} // namespace zantrel
