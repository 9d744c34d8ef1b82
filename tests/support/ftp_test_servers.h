#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace zantrel::test {

// A real FTP server on 127.0.0.1 on a free port, serving a fresh temporary folder, stopped by the
// destructor. Check isRunning() (or QVERIFY2(server.isRunning(), server.failure())) after making one.
class FtpServerFixture {
  public:
    virtual ~FtpServerFixture() = default;
    bool isRunning() const { return port_ != 0; }
    QString failure() const { return failure_; } // why it did not start
    quint16 port() const { return port_; }
    virtual QString user() const = 0;
    virtual QString password() const = 0;
    // The login directory on disk.
    virtual QString root() const = 0;
    // A remote directory (relative to the login directory) where uploads are allowed: "" when the
    // login directory itself is writable.
    virtual QString writableDir() const = 0;
    // A remote directory that exists and refuses uploads.
    QString readOnlyDir() const { return QStringLiteral("readonly"); }
    // The commands the server received so far, verb and argument ("USER cam", "STOR ..."), in order.
    virtual QStringList commands() const = 0;
    int count(const QString& verb) const;
    // Polls commands() until verb was seen at least n times.
    bool waitFor(const QString& verb, int n, int timeoutMs = 3000) const;

  protected:
    quint16 port_ = 0;
    QString failure_;
};

// pyftpdlib (Debian's python3-pyftpdlib under /usr/bin/python3). User "cam", password "secret",
// home = root(), writable, except root()/readonly.
// Misbehaviours for limit tests:
enum class PyFtpFault {
    None,
    NoConnectBack, // agrees to active mode but never opens the data connection
    StallData,     // stops reading an upload after its first bytes
};

// pyftpdlib; hangOn names a command the server never answers ("STOR", "CWD", ...).
class PyFtpServer final : public FtpServerFixture {
  public:
    explicit PyFtpServer(const QString& hangOn = {}, PyFtpFault fault = PyFtpFault::None);
    ~PyFtpServer() override;
    QString user() const override { return QStringLiteral("cam"); }
    QString password() const override { return QStringLiteral("secret"); }
    QString root() const override { return dir_.filePath(QStringLiteral("home")); }
    QString writableDir() const override { return {}; }
    QStringList commands() const override;

  private:
    QTemporaryDir dir_;
    QProcess process_;
};

// vsftpd, standalone, anonymous only (a local account would need a real user on the machine):
// user "anonymous", any password. vsftpd refuses a writable login directory, so root() belongs to
// root and uploads go to "upload", which belongs to the system user "ftp". Needs root privileges,
// /usr/sbin/vsftpd and the user "ftp" (Debian's vsftpd package makes it): see available().
class VsftpdServer final : public FtpServerFixture {
  public:
    // Empty when a server can be started here, otherwise the reason.
    static QString unavailableReason();
    VsftpdServer();
    ~VsftpdServer() override;
    QString user() const override { return QStringLiteral("anonymous"); }
    QString password() const override { return QStringLiteral("cam@example.com"); }
    QString root() const override { return dir_.filePath(QStringLiteral("root")); }
    QString writableDir() const override { return QStringLiteral("upload"); }
    QStringList commands() const override;

  private:
    QTemporaryDir dir_;
    QProcess process_;
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
