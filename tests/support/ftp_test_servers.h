#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

namespace zantrel {
class FtpClient;
}

namespace zantrel::test {

// A real FTP server on 127.0.0.1 on a free port, serving a fresh temporary folder, stopped with the
// object. root()/readonly exists on every server and refuses uploads.
class FtpServerFixture {
  public:
    virtual ~FtpServerFixture() { stop(); }
    void stop() { process_.close(); } // kills it at once, dropping its connections
    bool isRunning() const { return port_ != 0; }
    QString failure() const { return failure_; }      // why it did not start
    bool unavailable() const { return unavailable_; } // this server cannot run on this machine
    quint16 port() const { return port_; }
    QString user() const { return user_; }
    QString password() const { return password_; }
    QString root() const { return dir_.filePath(QStringLiteral("root")); } // the login directory on disk
    // Where uploads are allowed, relative to the login directory: "" when the login directory is writable.
    QString writableDir() const { return writableDir_; }
    bool login(FtpClient& ftp, bool passive = false) const; // FtpConnect with this server's account
    // The commands the server received so far ("USER cam", "STOR ..."), in order; how many had verb;
    // polling until verb was seen n times.
    QStringList commands() const;
    QString log() const; // the server's whole log
    int count(const QString& verb) const;
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

// pyftpdlib (tests/data/ftp_server.py under /usr/bin/python3): user "cam", password "secret", everything
// writable but readonly/. hangOn names a command the server never answers ("STOR", "CWD"); fault is one
// of the script's --fault choices ("slow", "silent", "no-rename"...).
class PyFtpServer final : public FtpServerFixture {
  public:
    explicit PyFtpServer(const QString& hangOn = {}, const QString& fault = {});
};

// vsftpd, standalone and anonymous only (any password); uploads go to "upload", owned by the system user
// "ftp". Needs root, /usr/sbin/vsftpd and that user. With tls, logins and data must use TLS with a
// self-signed certificate made here; pin() is its public-key pin as openssl computes it; the log names
// the TLS version of each connection. With implicitTls the server listens on port 990 and speaks TLS
// from the first byte. With tls13Only, TLS 1.2 is refused (OpenSSL's own minimum, set for the server).
class VsftpdServer final : public FtpServerFixture {
  public:
    explicit VsftpdServer(bool tls = false, bool implicitTls = false, bool tls13Only = false);
    QString pin() const { return pin_; }

  private:
    QString pin_;
};

// OpenSSH's sshd on a free port of 127.0.0.1 with a host key of its own, taking SFTP logins of the
// current user (user()) with the key in keyFile(); root() is an empty folder, commands() stays empty.
// knownHostsLine() is what ssh-keyscan prints for it. hostKeyType: ssh-keygen's arguments for the host key.
class SshServer final : public FtpServerFixture {
  public:
    explicit SshServer(const QString& hostKeyType = QStringLiteral("-t ed25519"));
    QString keyFile() const { return dir_.filePath(QStringLiteral("client_key")); }
    QString knownHostsLine() const { return knownHosts_; }

  private:
    QString knownHosts_;
};

// A port on 127.0.0.1 where nothing listens (connections are refused).
quint16 closedPort();

// Runs a shell command line to its end; its standard output, or a null array when it failed.
QByteArray sh(const QString& command);

// Starts a test server script under /usr/bin/python3 (args: the script and its options) and waits for
// its "PORT <n>" line; n, or 0 when it did not start.
quint16 startPython(QProcess& process, const QStringList& args);

// Makes a key and a self-signed certificate for 127.0.0.1 in the files given; its public-key pin
// ("sha256//..."), or empty when openssl failed.
QString selfSignedCertificate(const QString& key, const QString& cert);

// Starts program with args and waits until port on 127.0.0.1 takes connections; port, or 0.
quint16 startListening(QProcess& process, const QString& program, const QStringList& args, quint16 port);

} // namespace zantrel::test
