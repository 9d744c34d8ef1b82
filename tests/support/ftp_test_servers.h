#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace zantrel {
class FtpClient;
}

namespace zantrel::test {

// A real FTP server on 127.0.0.1 on a free port, serving a fresh temporary folder, stopped with the
// object. root()/readonly exists on every server and refuses uploads.
class FtpServerFixture {
  public:
    virtual ~FtpServerFixture();
    bool isRunning() const { return port_ != 0; }
    QString failure() const { return failure_; }      // why it did not start
    bool unavailable() const { return unavailable_; } // this server cannot run on this machine
    quint16 port() const { return port_; }
    QString user() const { return user_; }
    QString password() const { return password_; }
    QString root() const { return dir_.filePath(QStringLiteral("root")); } // the login directory on disk
    // Where uploads are allowed, relative to the login directory: "" when the login directory is writable.
    QString writableDir() const { return writableDir_; }
    // ftp.FtpConnect to this server, with its account.
    bool login(FtpClient& ftp, bool passive = false) const;
    // The commands the server received so far, verb and argument ("USER cam", "STOR ..."), in order.
    QStringList commands() const;
    int count(const QString& verb) const;
    // Polls commands() until verb was seen at least n times.
    bool waitFor(const QString& verb, int n, int timeoutMs = 3000) const;

  protected:
    QTemporaryDir dir_;
    QProcess process_;
    quint16 port_ = 0;
    bool unavailable_ = false;
    QString failure_, user_, password_, writableDir_;
    QRegularExpression logLine_; // its first group is the command in a line of the server's log
};

// Skips the test when the server cannot run here; fails it when the server did not start.
#define VERIFY_FTP_SERVER(server)                                                                            \
    do {                                                                                                     \
        if ((server).unavailable())                                                                          \
            QSKIP(qPrintable((server).failure()));                                                           \
        QVERIFY2((server).isRunning(), qPrintable((server).failure()));                                      \
    } while (false)

enum class PyFtpFault {
    None,
    NoConnectBack,   // agrees to active mode but never opens the data connection
    StallData,       // passive only: stops reading an upload after its first bytes
    NoRename,        // refuses every rename
    NoRenameOver,    // refuses to rename onto an existing file
    DropFirstUpload, // resets the data connection of the first upload after its first bytes
    Slow,            // reads uploads at 32 KB/s
};

// pyftpdlib (Debian's python3-pyftpdlib under /usr/bin/python3): user "cam", password "secret",
// everything writable but readonly/. hangOn names a command the server never answers ("STOR", "CWD").
class PyFtpServer final : public FtpServerFixture {
  public:
    explicit PyFtpServer(const QString& hangOn = {}, PyFtpFault fault = PyFtpFault::None);
};

// vsftpd, standalone and anonymous only (a local account would need a real user on the machine): any
// password. It refuses a writable login directory, so uploads go to "upload", which belongs to the
// system user "ftp". Needs root, /usr/sbin/vsftpd and the user "ftp" (Debian's vsftpd package makes it).
// With tls, logins and data must use TLS, with a self-signed certificate made for the server; pin()
// is its public-key pin as openssl computes it.
class VsftpdServer final : public FtpServerFixture {
  public:
    explicit VsftpdServer(bool tls = false);
    QString pin() const { return pin_; }

  private:
    QString pin_;
};

// OpenSSH's sshd on a free port of 127.0.0.1 with a host key of its own, taking SFTP logins of the
// current user with the key in keyFile(). knownHostsLine() is what ssh-keyscan would print for it.
class SshServer {
  public:
    SshServer();
    ~SshServer();
    bool isRunning() const { return port_ != 0; }
    QString failure() const { return failure_; }
    quint16 port() const { return port_; }
    QString user() const;
    QString keyFile() const { return dir_.filePath(QStringLiteral("client_key")); }
    QString root() const { return dir_.filePath(QStringLiteral("root")); }
    QString knownHostsLine() const { return knownHosts_; }

  private:
    QTemporaryDir dir_;
    QProcess process_;
    quint16 port_ = 0;
    QString failure_, knownHosts_;
};

enum class FtpServerKind { PyFtpdLib, Vsftpd };
std::unique_ptr<FtpServerFixture> makeFtpServer(FtpServerKind kind);

// Accepts TCP connections on 127.0.0.1 (the kernel completes them) and never says a word.
class HungFtpServer {
  public:
    HungFtpServer();
    ~HungFtpServer();
    HungFtpServer(const HungFtpServer&) = delete;
    HungFtpServer& operator=(const HungFtpServer&) = delete;
    quint16 port() const { return port_; }

  private:
    int fd_ = -1;
    quint16 port_ = 0;
};

// A port on 127.0.0.1 where nothing listens (connections are refused).
quint16 closedPort();

} // namespace zantrel::test
