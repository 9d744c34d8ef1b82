#pragma once

#include "core/sinks.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

namespace zantrel {

// Bounds on every network wait of an FTP connection.
struct FtpLimits {
    std::chrono::milliseconds connect{30000}; // TCP connect, greeting and login
    std::chrono::seconds reply{30};           // any awaited server reply (whole seconds)
    std::chrono::milliseconds accept{30000};  // active mode: the server connecting back
    std::chrono::seconds stall{60};           // a data connection moving no byte (whole seconds)
};

// The program's one FTP connection, on libcurl: connect and log in, change directory, upload one
// file in 100-byte blocks with progress texts, disconnect. Every step writes its texts to the status
// sink in a fixed order; nothing throws and nothing opens a message box.
//
// The routines run on the publishing job's thread and block it. FtpDisconnect alone may be called from
// any thread at any time: called while another routine runs, it aborts that routine within a second,
// then closes the connection. Never call the other routines from the user-interface thread: they wait
// on the network. The status sink must not block on the user-interface thread (queue, don't wait).
class FtpClient {
  public:
    explicit FtpClient(StatusSink& status);
    ~FtpClient();
    FtpClient(const FtpClient&) = delete;
    FtpClient& operator=(const FtpClient&) = delete;

    // Closes a previous connection, then connects and logs in. Active mode (EPRT, falling back to
    // PORT) unless passive (EPSV, falling back to PASV). Texts: "Connecting... " + host, then
    // "Connected", or "Cannot connect to FTP Server" followed by "Error:" + the reason. A user name or
    // password holding a line break is refused without contacting the server.
    bool FtpConnect(const QString& host, int port, const QString& user, const QString& password,
                    bool passive = false);

    // Changes the remote directory on the open connection: relative to the current one, or from the
    // root when it starts with "/". Texts: "Directory changed" or "Can't change directory.". An empty
    // directory changes nothing and writes nothing. After a failure the current directory stays.
    // The path always travels in full: the connection returns to the login directory before each
    // request and changes down from there.
    bool FtpSetCurrentDirectory(const QString& directory);

    // Uploads a local file, binary, under remoteName into the current remote directory. Texts:
    // "Transfering:N bytes" after each 100-byte block (coalesced to a few a second, the last one
    // always shown), then the total alone, then "File Transfered."; or "Error:" + the reason. A local
    // file that cannot be opened is reported before anything is sent: no remote file is created.
    bool FtpUploadFile(const QString& localFile, const QString& remoteName);

    // Closes the connection (aborting a running routine first) and writes "End Transfering".
    void FtpDisconnect();

    // Writes "Error:" + the text for a libcurl code (and the handle's detail text, when it says more).
    void ShowInternetError(int curlCode, const char* detail = nullptr);

    bool isConnected() const { return connected_.load(); }

    void setLimits(const FtpLimits& limits);
    FtpLimits limits() const;

    struct Session; // the libcurl handle and what belongs to it

  private:
    class Operation;
    bool beepWanted() const;
    void dropSession();
    std::unique_ptr<Session> newSession(bool passive);

    StatusSink& status_;
    std::timed_mutex operationMutex_; // held by a running routine; guards session_ and directory_
    std::unique_ptr<Session> session_;
    QString directory_; // escaped path of the current remote directory, ends with "/"
    std::atomic<bool> connected_{false};
    std::atomic<bool> abort_{false};
    std::atomic<bool> disconnectPending_{false};
    mutable std::mutex limitsMutex_;
    FtpLimits limits_;
};

} // namespace zantrel
