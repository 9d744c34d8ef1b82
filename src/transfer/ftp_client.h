#pragma once

#include "core/sinks.h"
#include "core/store.h"
#include "transfer/transfer_limits.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

class QIODevice;

namespace zantrel {

// The program's one FTP connection, on libcurl: connect and log in, change directory, upload one
// file with progress texts in 100-byte steps, disconnect. Every step writes its texts to the status
// sink in a fixed order; nothing throws and nothing opens a message box. Passwords never appear in a text.
//
// The routines run on the publishing job's thread and block it. FtpDisconnect alone may be called from
// any thread at any time: from the window's thread, or while another thread runs a routine, it only
// asks for the stop and returns at once; the running routine ends within a fraction of a second and
// the job's thread closes the connection. Never call the other routines from the user-interface thread:
// they wait on the network. The status sink must not block on the user-interface thread.
class FtpClient {
  public:
    explicit FtpClient(StatusSink& status);
    ~FtpClient();
    FtpClient(const FtpClient&) = delete;
    FtpClient& operator=(const FtpClient&) = delete;

    // Closes a previous connection, then connects and logs in. The address picks the transport
    // ("ftps://", "sftp://", plain FTP otherwise). Plain FTP runs in active mode (EPRT, falling back to
    // PORT) unless passive (EPSV, falling back to PASV); FTPS always in passive mode. Texts: "Connecting... "
    // + address, then "Connected", or "Cannot connect to FTP Server" followed by "Error:" + the reason. An
    // address, user name or password holding a control character is refused without contacting the server.
    bool FtpConnect(const ServerEntry& server);
    bool FtpConnect(const QString& host, int port, const QString& user, const QString& password,
                    bool passive = false);

    // Changes the remote directory on the open connection: relative to the current one, or from the
    // root when it starts with "/". Texts: "Directory changed" or "Can't change directory.". An empty
    // directory changes nothing and writes nothing. After a failure the current directory stays.
    bool FtpSetCurrentDirectory(const QString& directory);

    // Uploads a local file, binary, under remoteName into the current remote directory. Texts:
    // "Transfering:N bytes" as whole 100-byte blocks go out (coalesced to a few a second, the last
    // one always shown), then the total alone, then "File Transfered."; or "Error:" + the reason. A
    // local file that cannot be opened is reported before anything is sent.
    bool FtpUploadFile(const QString& localFile, const QString& remoteName);
    // The same from bytes in memory: what is sent is exactly what the caller holds, whatever happens to
    // files on the disk meanwhile.
    bool uploadBytes(const QByteArray& contents, const QString& remoteName);
    // uploadBytes without the closing "File Transfered.": the file is not yet where it belongs.
    bool sendBytes(const QByteArray& contents, const QString& remoteName);
    // Renames a file of the current remote directory, replacing the target where the server allows.
    // Writes no text; false when the server refused.
    bool renameFile(const QString& from, const QString& to);
    // Deletes a file of the current remote directory. Writes no text.
    bool deleteFile(const QString& name);
    // The same for what a failed or stopped upload left in the server's folder; after a stop, on a
    // short connection of its own (a few seconds at most, given up at the next stop). Writes no text.
    bool deleteLeftover(const ServerEntry& server, const QString& name);

    // Closes the connection (aborting a running routine first) and writes "End Transfering".
    void FtpDisconnect();

    // Writes "Error:" + the text for a libcurl code (and the handle's detail text, when it says more).
    void ShowInternetError(int curlCode, const char* detail = nullptr);

    bool isConnected() const { return connected_.load(); }
    // The libcurl code of the last routine's failure (0 after a success).
    int lastError() const { return lastError_.load(); }
    // Counts the stops asked for from outside the job; waitForStop returns early on the next one.
    unsigned stops() const { return stops_.load(); }
    // Waits up to pause; true when a stop came (stops() no longer equals seenStops).
    bool waitForStop(std::chrono::milliseconds pause, unsigned seenStops);

    // FTPS servers that refused TLS 1.2 (said once: "The server refuses TLS 1.2: using TLS 1.3"); they
    // get TLS 1.3 for the rest of the program's run.
    bool needsTls13(const QString& server) const;
    // Servers that refused renames; they get direct uploads for the rest of the program's run.
    bool renamesRefused(const QString& server) const;
    void markRenamesRefused(const QString& server);

    void setLimits(const TransferLimits& limits);
    TransferLimits limits() const;

    struct Session; // the libcurl handle and what belongs to it

  private:
    class Operation;
    bool beepWanted() const;
    void dropSession();
    std::unique_ptr<Session> openSession(const ServerEntry& server, QString& refusal,
                                         const TransferLimits& lim);
    bool deleteHere(const QString& name);
    void reportConnectFailure(int code, const QString& reason);
    bool runAfterCwd(const QStringList& commands);
    bool transfer(QIODevice& source, const QString& remoteName);
    bool upload(QIODevice& source, const QString& remoteName);

    StatusSink& status_;
    std::mutex operationMutex_; // held by a running routine; guards session_ and directory_
    std::unique_ptr<Session> session_;
    QByteArray directory_; // escaped path of the current remote directory, ends with "/"
    QString folder_;       // the same, as the server names it (for SFTP commands)
    std::atomic<bool> connected_{false};
    std::atomic<bool> abort_{false};
    std::atomic<bool> disconnectPending_{false};
    std::atomic<int> lastError_{0};
    std::atomic<unsigned> stops_{0};
    std::mutex stopMutex_;
    std::condition_variable stopSignal_;
    mutable std::mutex limitsMutex_;
    TransferLimits limits_;
    std::set<QString> noRenames_;
    std::set<QString> tls13_;
};

} // namespace zantrel
